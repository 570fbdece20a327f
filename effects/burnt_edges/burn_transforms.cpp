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

void CreateEdgeTransform::Reached(Point p, PointD, double signedDistance) {
  // Negative inside: the kept shape is the selection moved by the offset and
  // eaten into where the noise is high.
  const double t = (noise_.Value(p) + 0.5) * width_ + (signedDistance - offset_);
  output_(p.x, p.y) = t <= 0.0 ? 255 : 0;
}

CreateBurnTransform::CreateBurnTransform(const NoiseField& noise, ByteMask& burnMask, ByteImage& burnImage,
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
    uint8_t* px = burnImage_.Address(p.x, p.y);
    std::copy_n(s_.burnColor.values, burnImage_.pixelStep, px);
    MoveToward(px, s_.edgeColor.values, k1, burnImage_.format);
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
