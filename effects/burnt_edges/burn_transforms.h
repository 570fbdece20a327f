// The two distance measurements behind Burnt Edges: one erodes the selection
// into the burn mask, the other paints the scorched band and the fill along
// the eroded edge.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/distance.h"
#include "image/noise.h"
#include "image/pixel_ops.h"

namespace kv {

// Moves `o` toward `b` by `weight` (0..1), the colours weighted by the alphas
// when the format has one. Truncates like the rest of the effect.
void MoveToward(uint8_t* o, const uint8_t* b, double weight, const PixelFormat& format);

// The burn image: the band's colours over black. Only the tiles the band
// passes through are kept, so it costs next to nothing beside the picture.
class BandImage {
 public:
  BandImage(const Rect& bounds, const BytePixel& background);

  // The pixel at (x, y) inside the bounds, its tile made (black) on first
  // use. Throws std::bad_alloc when memory runs out.
  uint8_t* At(int32_t x, int32_t y);
  const PixelFormat& Format() const { return background_.format; }
  // The columns of the tiles kept in rows [top, bottom); empty without any.
  Rect TilesAcross(int32_t top, int32_t bottom) const;
  // Copies the image over `into`'s bounds, black where nothing is kept.
  void CopyInto(ByteImage& into) const;

 private:
  static constexpr int32_t kTile = 64;
  Rect bounds_;
  int32_t columns_, rows_;
  BytePixel background_;
  std::vector<std::unique_ptr<uint8_t[]>> tiles_;
};

// Writes 255 into `output` where the eroded selection keeps the pixel, else 0.
class CreateEdgeTransform final : public DistanceTransform {
 public:
  // offset: how far the edge moves outward before the noise eats into it,
  // by up to `width` pixels.
  CreateEdgeTransform(const FBMField& noise, ByteMask& output, double offset, double width)
      : noise_(noise), output_(output), offset_(offset), width_(width) {}

  void Reached(Point p, PointD origin, double signedDistance) override;
  void UnreachedInside(Point p) override { output_(p.x, p.y) = 255; }
  void UnreachedOutside(Point p) override { output_(p.x, p.y) = 0; }

 private:
  const FBMField& noise_;
  ByteMask& output_;
  double offset_, width_;
};

// Measures from the burn mask's edge: pixels burnt away get the fill, the
// band from `start` to `end` pixels into the kept side gets the burn colour
// darkening toward the edge and an opacity falling off away from it.
class CreateBurnTransform final : public DistanceTransform {
 public:
  struct Settings {
    double start = 0.0, end = 0.0;  // b and e, in render pixels
    bool burnInside = false;
    bool writeFill = true;  // false when the original image is kept
    BytePixel edgeColor, burnColor, fillPixel;
  };
  CreateBurnTransform(const NoiseField& noise, ByteMask& burnMask, BandImage& burnImage, ByteImage& output,
                      const Settings& settings);

  void Reached(Point p, PointD origin, double signedDistance) override;
  void UnreachedInside(Point p) override;
  void UnreachedOutside(Point p) override;

 private:
  void Fill(Point p) {
    if (s_.writeFill) std::copy_n(s_.fillPixel.values, output_.pixelStep, output_.Address(p.x, p.y));
  }

  const NoiseField& noise_;
  ByteMask& burnMask_;
  BandImage& burnImage_;
  ByteImage& output_;
  Settings s_;
  static constexpr double kSpread = 0.5;  // how far the noise stretches or squeezes the band
  double colorSigma2_, alphaSigma2_;
};

}  // namespace kv
