// Typed rasters addressed in absolute host-image coordinates. Errors come back
// through an out-parameter: -108 when memory runs out, never an exception.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "image/geometry.h"

namespace kv {

constexpr int32_t kErrOutOfMemory = -108;
constexpr int32_t kErrGeneral = -1;
constexpr int32_t kErrAborted = 1;

// Colour spaces as the host's colour services number them.
enum ColorMode : int32_t { kModeRGB = 0, kModeHSB = 1, kModeCMYK = 2, kModeLab = 3, kModeGrey = 4, kModeUnset = 666 };

// Host image mode (1 grey, 3 RGB, 4 CMYK, 8 duotone, 9 Lab) to colour space, and back.
int32_t ColorModeFromHostMode(int32_t hostMode);
int32_t HostModeFromColorMode(int32_t mode);

struct PixelFormat {
  int32_t mode = kModeUnset;
  int32_t colorChannels = 1;
  bool hasAlpha = false;
  int32_t channelCount = 1;

  static constexpr PixelFormat Of(int32_t mode, int32_t colorChannels, bool hasAlpha) {
    return {mode, colorChannels, hasAlpha, colorChannels + (hasAlpha ? 1 : 0)};
  }
  // The colour space, with anything outside 0..4 read back as unset.
  constexpr int32_t Space() const { return mode >= 0 && mode <= 4 ? mode : int32_t(kModeUnset); }
  friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

// A pixel value, or a view onto one pixel of a raster.
template <class T>
struct Pixel {
  PixelFormat format;
  T inlineValues[5] = {};
  T* values = inlineValues;

  Pixel() = default;
  explicit Pixel(const PixelFormat& f) : format(f) {}
  Pixel(const Pixel& o) : format(o.format) { CopyFrom(o); }
  Pixel& operator=(const Pixel& o) {
    if (this != &o) {
      format = o.format;
      CopyFrom(o);
    }
    return *this;
  }
  bool OwnsValues() const { return values == inlineValues; }
  T& operator[](int c) { return values[c]; }
  const T& operator[](int c) const { return values[c]; }
  T Alpha() const { return values[format.colorChannels]; }

 private:
  void CopyFrom(const Pixel& o) {
    if (o.OwnsValues()) {
      std::memcpy(inlineValues, o.inlineValues, sizeof inlineValues);
      values = inlineValues;
    } else {
      values = o.values;
    }
  }
};

// Rows of a raster as host transfer and the blur see them.
struct RowBuffer {
  Rect bounds;
  int32_t channels = 1;
  int32_t bytesPerChannel = 1;
  std::vector<uint8_t*> rowOffsets;  // first byte of each row

  uint8_t* Row(int32_t y) const { return rowOffsets[size_t(y - bounds.top)]; }
  int32_t RowBytes() const { return bounds.Width() * channels * bytesPerChannel; }
  // Attaches memory laid out row after row, `strideBytes` apart.
  int32_t Attach(const Rect& r, uint8_t* base, int32_t strideBytes);
};

template <class T>
class Image {
 public:
  PixelFormat format;
  Rect bounds;
  T* data = nullptr;
  bool ownsData = false;
  int32_t pixelStep = 1;
  int32_t rowStride = 0;
  Pixel<T> scratch;
  std::unique_ptr<RowBuffer> rowView;

  Image() = default;

  // Allocating: contents uninitialised; err = -108 and the raster stays empty
  // when memory runs out.
  Image(int32_t& err, const Rect& r, const PixelFormat& f = {}) { err = Allocate(r, f); }

  // Wrapping memory owned elsewhere; padding is in bytes at each row's end.
  Image(const Rect& r, T* memory, int paddingBytes, const PixelFormat& f = {})
      : format(f), bounds(r), data(memory), pixelStep(f.channelCount),
        rowStride(r.Width() * f.channelCount + paddingBytes / int(sizeof(T))), scratch(f) {}

  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Image(Image&& o) noexcept { *this = std::move(o); }
  Image& operator=(Image&& o) noexcept {
    if (this != &o) {
      Release();
      format = o.format;
      bounds = o.bounds;
      data = std::exchange(o.data, nullptr);
      ownsData = std::exchange(o.ownsData, false);
      pixelStep = o.pixelStep;
      rowStride = o.rowStride;
      scratch = Pixel<T>(format);
      rowView = std::move(o.rowView);
    }
    return *this;
  }
  ~Image() { Release(); }

  [[nodiscard]] int32_t Allocate(const Rect& r, const PixelFormat& f) {
    Release();
    format = f;
    scratch = Pixel<T>(f);
    pixelStep = f.channelCount;
    const size_t count = size_t(std::max(r.Width(), 0)) * size_t(std::max(r.Height(), 0)) * size_t(f.channelCount);
    T* memory = count ? new (std::nothrow) T[count] : nullptr;
    if (count && memory == nullptr) {
      bounds = {};
      rowStride = 0;
      return kErrOutOfMemory;
    }
    bounds = r;
    data = memory;
    ownsData = true;
    rowStride = r.Width() * f.channelCount;
    return 0;
  }

  bool IsEmpty() const { return data == nullptr || bounds.IsEmpty(); }
  int32_t Width() const { return bounds.Width(); }
  int32_t Height() const { return bounds.Height(); }
  int32_t Channels() const { return format.channelCount; }

  T* Address(int32_t x, int32_t y) const {
    return data + ptrdiff_t(y - bounds.top) * rowStride + ptrdiff_t(x - bounds.left) * pixelStep;
  }
  T* Row(int32_t y) const { return Address(bounds.left, y); }

  // A pixel view onto (x, y); no bounds check.
  Pixel<T> At(int32_t x, int32_t y) const {
    Pixel<T> p(format);
    p.values = Address(x, y);
    return p;
  }

  void Fill(T value) {
    for (int32_t y = bounds.top; y < bounds.bottom; ++y) std::fill_n(Row(y), size_t(Width()) * pixelStep, value);
  }

  // Copies the pixels of `src` over the common rectangle; formats must agree.
  void CopyFrom(const Image& src) {
    const Rect common = bounds.Intersect(src.bounds);
    if (common.IsEmpty()) return;
    for (int32_t y = common.top; y < common.bottom; ++y)
      std::memcpy(Address(common.left, y), src.Address(common.left, y),
                  size_t(common.Width()) * size_t(pixelStep) * sizeof(T));
  }

  // The row table over this raster's own memory, built on first use.
  int32_t RowView(RowBuffer*& out) {
    if (!rowView) {
      auto view = std::unique_ptr<RowBuffer>(new (std::nothrow) RowBuffer);
      if (!view) return kErrOutOfMemory;
      view->channels = format.channelCount;
      view->bytesPerChannel = int32_t(sizeof(T));
      if (int32_t err = view->Attach(bounds, reinterpret_cast<uint8_t*>(data), rowStride * int32_t(sizeof(T))))
        return err;
      rowView = std::move(view);
    }
    out = rowView.get();
    return 0;
  }

 protected:
  void Release() {
    if (ownsData) delete[] data;
    data = nullptr;
    ownsData = false;
    rowView.reset();
  }
};

// One channel, with the address lookup as its one virtual operation. Final,
// so calls through the concrete type are resolved at compile time.
template <class T>
class SingleChannelImage final : public Image<T> {
 public:
  static constexpr PixelFormat kFormat = {kModeUnset, 1, false, 1};

  SingleChannelImage() = default;
  SingleChannelImage(int32_t& err, const Rect& r) { err = this->Allocate(r, kFormat); }
  SingleChannelImage(const Rect& r, T* memory, int paddingBytes) : Image<T>(r, memory, paddingBytes, kFormat) {}
  SingleChannelImage(SingleChannelImage&&) noexcept = default;
  SingleChannelImage& operator=(SingleChannelImage&&) noexcept = default;

  virtual T* PixelAddress(Point p) const {
    return this->data + ptrdiff_t(p.y - this->bounds.top) * this->rowStride + (p.x - this->bounds.left);
  }
  T& operator()(int32_t x, int32_t y) const { return *this->Address(x, y); }
};

using ByteImage = Image<unsigned char>;
using ByteMask = SingleChannelImage<unsigned char>;

}  // namespace kv
