// Finds the cells of a byte mask that its contour (the level 127.5) passes
// through: 2 x 2 windows whose elements do not all lie on the same side.
#pragma once

#include <cstdint>
#include <vector>

#include "image/iterators.h"

namespace kv {

// Walks the windows' top-left corners over an area in row order and stops
// only on mixed windows. Where the area's left or top edge is the raster's,
// the walk starts one column or row further out, so that windows hanging over
// the raster's edge are seen too; elements outside the raster read as 0.
// Each row pair is copied into zero-padded buffers, so the walk never reads
// outside the raster and skips uniform stretches eight windows at a time.
class ContourIterator final : public IteratorInterface {
 public:
  static constexpr uint8_t kThreshold = 127;  // inside: value > kThreshold

  struct Cell {
    Point position;           // the window's top-left element
    uint8_t value[4] = {};    // top-left, top-right, bottom-left, bottom-right
    bool inside[4] = {};
  };

  explicit ContourIterator(const ByteMask& raster) : raster_(raster) {}

  void Begin(ProgressUpdateSink* sink, double from, double to) override { Begin(raster_.bounds, sink, from, to); }
  void Begin(Rect area, ProgressUpdateSink* sink, double from, double to) override;
  // The next mixed window after the current one.
  void Advance() override;
  bool More() const override { return y_ < area_.bottom; }
  bool AtLineStart() const override { return x_ == area_.left; }
  // Moves on from the current window, inclusive, to the first mixed one.
  void NextContourCell();

  const Cell& Current() const { return cell_; }
  int32_t X() const { return x_; }
  int32_t Y() const { return y_; }

 private:
  // Buffer index of column x.
  int32_t Index(int32_t x) const { return x - raster_.bounds.left + 1; }
  void LoadRow(int32_t y, std::vector<uint8_t>& row) const;

  const ByteMask& raster_;
  Rect area_;
  int32_t x_ = 0, y_ = 0;
  std::vector<uint8_t> top_, bottom_;  // rows y and y + 1 with a zero either side
  Cell cell_;
  ProgressUpdateSink* sink_ = nullptr;
  double from_ = 0.0, to_ = 1.0;
};

}  // namespace kv
