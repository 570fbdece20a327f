#include "image/contour.h"

#include <algorithm>
#include <cstring>

namespace kv {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

void ContourIterator::Begin(Rect area, ProgressUpdateSink* sink, double from, double to) {
  const Rect& r = raster_.bounds;
  // An empty area yields nothing, even on the raster's edge, where growing it
  // would give it a column or row.
  const bool empty = area.IsEmpty();
  if (area.left == r.left) --area.left;
  if (area.top == r.top) --area.top;
  area_ = area;
  sink_ = sink;
  from_ = from;
  to_ = to;
  x_ = area.left;
  y_ = empty ? area.bottom : area.top;
  if (!More()) return;
  top_.assign(size_t(r.Width()) + 2, 0);
  bottom_.assign(top_.size(), 0);
  LoadRow(y_, top_);
  LoadRow(y_ + 1, bottom_);
  NextContourCell();
}

void ContourIterator::Advance() {
  ++x_;
  NextContourCell();
}

void ContourIterator::LoadRow(int32_t y, std::vector<uint8_t>& row) const {
  const Rect& r = raster_.bounds;
  if (y < r.top || y >= r.bottom) {
    std::fill(row.begin(), row.end(), uint8_t(0));
    return;
  }
  std::memcpy(row.data() + 1, raster_.Row(y), size_t(r.Width()));
}

void ContourIterator::NextContourCell() {
  while (y_ < area_.bottom) {
    const uint8_t* a = top_.data();
    const uint8_t* b = bottom_.data();
    const int32_t end = Index(area_.right);
    for (int32_t i = Index(x_); i < end;) {
      // Eight windows read columns i .. i + 8 of both rows.
      if (i + 8 <= end) {
        const uint64_t a0 = Load8(a + i), a1 = Load8(a + i + 1), b0 = Load8(b + i), b1 = Load8(b + i + 1);
        if (((a0 | a1 | b0 | b1) & kHighBits) == 0 || ((a0 & a1 & b0 & b1) & kHighBits) == kHighBits) {
          i += 8;
          continue;
        }
      }
      if (((a[i] ^ a[i + 1]) | (a[i] ^ b[i]) | (a[i] ^ b[i + 1])) & 0x80) {
        x_ = i - 1 + raster_.bounds.left;
        cell_.position = {x_, y_};
        const uint8_t v[4] = {a[i], a[i + 1], b[i], b[i + 1]};
        for (int k = 0; k < 4; ++k) {
          cell_.value[k] = v[k];
          cell_.inside[k] = v[k] > kThreshold;
        }
        return;
      }
      ++i;
    }
    ++y_;
    x_ = area_.left;
    if (sink_ != nullptr)
      sink_->Update(from_ + (to_ - from_) * double(y_ - area_.top) / double(area_.Height()));
    if (y_ < area_.bottom) {
      std::swap(top_, bottom_);
      LoadRow(y_ + 1, bottom_);
    }
  }
}

}  // namespace kv
