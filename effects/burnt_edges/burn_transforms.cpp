#include "effects/burnt_edges/burn_transforms.h"

#include <algorithm>
#include <cmath>

namespace kv {

void MoveToward(uint8_t* o, const uint8_t* b, double weight, const PixelFormat& format) {
  const int32_t colors = format.colorChannels;
  if (!format.hasAlpha) {
    for (int32_t c = 0; c < colors; ++c) o[c] = uint8_t(o[c] + int32_t((b[c] - o[c]) * weight));
    return;
  }
  const double bAlpha = b[colors], oAlpha = o[colors];
  const double total = bAlpha * weight + oAlpha * (1.0 - weight);
  if (total == 0.0) {
    o[colors] = 0;
    return;
  }
  const double w = bAlpha * weight / total;
  for (int32_t c = 0; c < colors; ++c) o[c] = uint8_t(o[c] + int32_t((b[c] - o[c]) * w));
  o[colors] = uint8_t(o[colors] + int32_t((bAlpha - oAlpha) * weight));
}

BandImage::BandImage(const Rect& bounds, const BytePixel& background)
    : bounds_(bounds),
      columns_((std::max(bounds.Width(), 0) + kTile - 1) / kTile),
      rows_((std::max(bounds.Height(), 0) + kTile - 1) / kTile),
      background_(background),
      tiles_(size_t(columns_) * size_t(rows_)) {}

uint8_t* BandImage::At(int32_t x, int32_t y) {
  const int32_t u = x - bounds_.left, v = y - bounds_.top, step = background_.format.channelCount;
  std::unique_ptr<uint8_t[]>& tile = tiles_[size_t(v / kTile) * size_t(columns_) + size_t(u / kTile)];
  if (!tile) {
    tile.reset(new uint8_t[size_t(kTile * kTile * step)]);
    for (int32_t i = 0; i < kTile * kTile; ++i) std::copy_n(background_.values, step, tile.get() + i * step);
  }
  return tile.get() + ((v % kTile) * kTile + u % kTile) * step;
}

Rect BandImage::TilesAcross(int32_t top, int32_t bottom) const {
  const int32_t first = std::max(0, (top - bounds_.top) / kTile);
  const int32_t last = std::min(rows_, (std::max(bottom, bounds_.top) - bounds_.top + kTile - 1) / kTile);
  int32_t left = columns_, right = 0;
  for (int32_t r = first; r < last; ++r)
    for (int32_t c = 0; c < columns_; ++c)
      if (tiles_[size_t(r) * size_t(columns_) + size_t(c)]) left = std::min(left, c), right = std::max(right, c + 1);
  if (left >= right) return {};
  return {bounds_.left + left * kTile, top, std::min(bounds_.right, bounds_.left + right * kTile), bottom};
}

void BandImage::CopyInto(ByteImage& into) const {
  const int32_t step = background_.format.channelCount;
  const Rect& r = into.bounds;
  const int32_t left = std::max(r.left, bounds_.left), right = std::min(r.right, bounds_.right);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint8_t* row = into.Row(y);
    for (int32_t x = r.left; x < r.right; ++x) std::copy_n(background_.values, step, row + size_t(x - r.left) * step);
    if (y < bounds_.top || y >= bounds_.bottom) continue;
    const int32_t v = y - bounds_.top;
    for (int32_t x = left; x < right;) {
      const int32_t u = x - bounds_.left, end = std::min(right, x + kTile - u % kTile);
      if (const uint8_t* tile = tiles_[size_t(v / kTile) * size_t(columns_) + size_t(u / kTile)].get())
        std::copy_n(tile + ((v % kTile) * kTile + u % kTile) * step, size_t(end - x) * step,
                    row + size_t(x - r.left) * step);
      x = end;
    }
  }
}

void CreateEdgeTransform::Reached(Point p, PointD, double signedDistance) {
  // Negative inside: the kept shape is the selection moved by the offset and
  // eaten into where the noise is high.
  const double t = (noise_.Value(p) + 0.5) * width_ + (signedDistance - offset_);
  output_(p.x, p.y) = t <= 0.0 ? 255 : 0;
}

CreateBurnTransform::CreateBurnTransform(const NoiseField& noise, ByteMask& burnMask, BandImage& burnImage,
                                         ByteImage& output, const Settings& settings)
    : noise_(noise), burnMask_(burnMask), burnImage_(burnImage), output_(output), s_(settings) {
  const double band = s_.end - s_.start;
  colorSigma2_ = (0.08 * band) * (0.08 * band);
  alphaSigma2_ = (0.25 * band) * (0.25 * band);
}

void CreateBurnTransform::Reached(Point p, PointD, double signedDistance) {
  const double b = s_.start, e = s_.end;
  // d grows into the side that keeps its pixels; the noise stretches the band.
  double d = s_.burnInside ? signedDistance : -signedDistance;
  if (d != b) d = b + (d - b) * (kSpread / (kSpread + noise_.Value(p)) + 0.5);
  uint8_t& m = burnMask_(p.x, p.y);
  if (d < b) {
    m = 0;
    Fill(p);
    return;
  }
  if (d == b || d >= e) {
    m = 0;
  } else {
    const double g = -(d - b) * (d - b);
    const double k1 = 0.75 * std::exp(g / (2.0 * colorSigma2_));
    const double k2 = std::exp(g / (2.0 * alphaSigma2_));
    uint8_t* px = burnImage_.At(p.x, p.y);
    std::copy_n(s_.burnColor.values, burnImage_.Format().channelCount, px);
    MoveToward(px, s_.edgeColor.values, k1, burnImage_.Format());
    m = uint8_t(std::clamp(k2, 0.0, 1.0) * 255.0);
  }
  // The one-pixel soft rim of the burnt-away area.
  if (b < d && d < b + 1.0) {
    m = uint8_t((d - b) * 255.0);
    Fill(p);
  }
}

void CreateBurnTransform::UnreachedInside(Point p) {
  burnMask_(p.x, p.y) = 0;
  if (s_.burnInside) Fill(p);
}

void CreateBurnTransform::UnreachedOutside(Point p) {
  burnMask_(p.x, p.y) = 0;
  if (!s_.burnInside) Fill(p);
}

}  // namespace kv
