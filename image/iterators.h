// Walks over rasters in row or column order, stepping raw pointers by fixed
// increments and feeding a progress sink once per line. The concrete classes
// are final, so loops over them compile to plain pointer arithmetic.
#pragma once

#include <type_traits>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

class IteratorInterface {
 public:
  virtual ~IteratorInterface() = default;
  virtual void Begin(ProgressUpdateSink* sink, double progressFrom, double progressTo) = 0;
  virtual void Begin(Rect area, ProgressUpdateSink* sink, double progressFrom, double progressTo) = 0;
  virtual void Advance() = 0;
  virtual bool More() const = 0;
  virtual bool AtLineStart() const = 0;
};
using ConstIteratorInterface = IteratorInterface;
using RectIteratorInterface = IteratorInterface;

enum class Order { kRows, kColumns };

namespace detail {

// The shared walk: x, y, the pixel count and the line-end progress report.
template <Order order>
class Walk {
 public:
  int32_t X() const { return x_; }
  int32_t Y() const { return y_; }
  bool MoreImpl() const { return more_; }
  bool AtLineStartImpl() const { return order == Order::kRows ? x_ == area_.left : y_ == area_.top; }

 protected:
  void Start(const Rect& area, ProgressUpdateSink* sink, double from, double to) {
    area_ = area;
    sink_ = sink;
    from_ = from;
    to_ = to;
    done_ = 0;
    total_ = uint64_t(area.Area());
    x_ = area.left;
    y_ = area.top;
    more_ = !area.IsEmpty();
  }
  // Returns true when the step ended a line.
  bool Step() {
    ++done_;
    bool lineEnd;
    if constexpr (order == Order::kRows) {
      lineEnd = ++x_ >= area_.right;
      if (lineEnd) {
        x_ = area_.left;
        more_ = ++y_ < area_.bottom;
      }
    } else {
      lineEnd = ++y_ >= area_.bottom;
      if (lineEnd) {
        y_ = area_.top;
        more_ = ++x_ < area_.right;
      }
    }
    if (lineEnd && sink_ != nullptr) sink_->Update(from_ + (to_ - from_) * double(done_) / double(total_));
    return lineEnd;
  }

  Rect area_;
  int32_t x_ = 0, y_ = 0;
  bool more_ = false;

 private:
  ProgressUpdateSink* sink_ = nullptr;
  double from_ = 0, to_ = 1;
  uint64_t done_ = 0, total_ = 0;
};

}  // namespace detail

// Iterator over a raster. `Current()` is a pixel view for multi-channel
// rasters and an element pointer for single-channel ones.
template <class Raster, Order order, bool isConst>
class RasterIterator final : public IteratorInterface, public detail::Walk<order> {
  using T = std::remove_pointer_t<decltype(std::declval<Raster>().data)>;
  static constexpr bool kSingle = std::is_same_v<Raster, SingleChannelImage<T>>;
  using Elem = std::conditional_t<isConst, const T, T>;

 public:
  explicit RasterIterator(const Raster& raster) : raster_(raster), pixel_(raster.format) {}

  void Begin(ProgressUpdateSink* sink, double from, double to) override { Begin(raster_.bounds, sink, from, to); }
  void Begin(Rect area, ProgressUpdateSink* sink, double from, double to) override {
    this->Start(area, sink, from, to);
    ptr_ = this->more_ ? raster_.Address(area.left, area.top) : nullptr;
    if constexpr (order == Order::kRows) {
      step_ = raster_.pixelStep;
      lineAdvance_ = ptrdiff_t(raster_.rowStride) - ptrdiff_t(area.Width()) * raster_.pixelStep;
    } else {
      step_ = raster_.rowStride;
      lineAdvance_ = ptrdiff_t(raster_.pixelStep) - ptrdiff_t(area.Height()) * raster_.rowStride;
    }
    pixel_.values = const_cast<T*>(ptr_);
  }
  void Advance() override {
    ptr_ += step_;
    if (this->Step()) ptr_ += lineAdvance_;
    pixel_.values = const_cast<T*>(ptr_);
  }
  bool More() const override { return this->MoreImpl(); }
  bool AtLineStart() const override { return this->AtLineStartImpl(); }

  Elem* Ptr() const { return ptr_; }
  decltype(auto) Current() {
    if constexpr (kSingle) return ptr_;
    else return static_cast<std::conditional_t<isConst, const Pixel<T>&, Pixel<T>&>>(pixel_);
  }

 private:
  const Raster& raster_;
  Elem* ptr_ = nullptr;
  ptrdiff_t step_ = 0, lineAdvance_ = 0;
  Pixel<T> pixel_;
};

template <class Raster>
using LeftToRightTopToBottomIterator = RasterIterator<Raster, Order::kRows, false>;
template <class Raster>
using LeftToRightTopToBottomConstIterator = RasterIterator<Raster, Order::kRows, true>;
template <class Raster>
using TopToBottomLeftToRightIterator = RasterIterator<Raster, Order::kColumns, false>;

// Row-order walk that also holds the 3x3 neighbourhood. The iterated area must
// stay one pixel inside the raster: the ring around it is read unchecked.
template <class T>
class WindowIterator final : public IteratorInterface, public detail::Walk<Order::kRows> {
 public:
  explicit WindowIterator(const SingleChannelImage<T>& raster) : raster_(raster) {}

  void Begin(ProgressUpdateSink* sink, double from, double to) override { Begin(raster_.bounds, sink, from, to); }
  void Begin(Rect area, ProgressUpdateSink* sink, double from, double to) override {
    Start(area, sink, from, to);
    if (more_) Load();
  }
  void Advance() override {
    if (Step()) {
      if (more_) Load();
      return;
    }
    for (int r = 0; r < 3; ++r) {
      window_[r * 3] = window_[r * 3 + 1];
      window_[r * 3 + 1] = window_[r * 3 + 2];
      window_[r * 3 + 2] = *raster_.Address(x_ + 1, y_ - 1 + r);
    }
  }
  bool More() const override { return MoreImpl(); }
  bool AtLineStart() const override { return AtLineStartImpl(); }

  T* Current() const { return raster_.Address(x_, y_); }
  T Neighbour(int dx, int dy) const { return window_[(dy + 1) * 3 + dx + 1]; }

 private:
  void Load() {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) window_[r * 3 + c] = *raster_.Address(x_ - 1 + c, y_ - 1 + r);
  }
  const SingleChannelImage<T>& raster_;
  T window_[9] = {};
};

// The same row-order walk over the coordinates of a rectangle alone.
class RectIteratorLeftToRightTopToBottom final : public IteratorInterface, public detail::Walk<Order::kRows> {
 public:
  RectIteratorLeftToRightTopToBottom() = default;
  void Begin(ProgressUpdateSink* sink, double from, double to) override { Begin(area_, sink, from, to); }
  void Begin(Rect area, ProgressUpdateSink* sink, double from, double to) override { Start(area, sink, from, to); }
  void Advance() override { Step(); }
  bool More() const override { return MoreImpl(); }
  bool AtLineStart() const override { return AtLineStartImpl(); }
};

}  // namespace kv
