// The pieces drawn through the rendering library, one window of the image at
// a time: the shadows they throw on the image plane, and the lit, textured
// pieces summed over jittered passes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/shatter/pieces.h"
#include "g3d/rendering_library.h"
#include "image/image.h"
#include "image/progress.h"

namespace kv::shatter {

// Scene units against render pixels: the plane position of a render pixel
// is ((x * scale - cx) / unit, (cy - y * scale) / unit).
struct Frame {
  double unit = 1.0;  // full-size pixels per scene unit
  double cx = 0.0, cy = 0.0;
  double scale = 1.0;  // full-size pixels per render pixel

  double RenderX(double sx) const { return (cx + sx * unit) / scale; }
  double RenderY(double sy) const { return (cy - sy * unit) / scale; }
};

struct GlassLook {
  double azimuth = 0.0, elevation = 0.0;  // radians, of the light
  double highlight = 0.0;                 // 0..1
  double shininess = 0.0;
  bool firstChannelLit = false;  // Lab: light changes the lightness alone
  int32_t passes = 1;
  bool shadows = false;
  double shadowElevation = 0.0;  // radians: the light the shadows are cast by
  double shadowLift = 1.0;       // height above the plane at which a shadow is whole
};

class GlassScene {
 public:
  // Slabs in drawing order, farthest first. The texture's texel (0, 0) lies
  // on render pixel `textureOrigin`; `supersampling` is the library's.
  GlassScene(g3d::RenderingLibrary& library, const Frame& frame, const std::vector<Slab>& slabs, const GlassLook& look,
             Point textureOrigin, Size textureSize, int32_t supersampling);

  // Sets the library's state, light and textures up. `texture` holds the
  // area's pixels premultiplied by their coverage, which is in its alpha;
  // `coverage` the coverage alone in every channel, at any size; `opaque`
  // when the coverage is whole everywhere.
  void Prepare(g3d::RLResult& r, std::shared_ptr<const ByteImage> texture, std::shared_ptr<const ByteImage> coverage,
               bool opaque);

  // The shadows at half the render's resolution, as coverage 0..255: pixel
  // (x, y) of `window` and `shadows` is the block of render pixels from
  // (2x, 2y) to (2x + 1, 2y + 1). The window is the result image's size.
  void DrawHalfShadows(g3d::RLResult& r, const Rect& window, const ByteImage& result, ByteMask& shadows);
  // The pieces over `window`, premultiplied RGBA, summed over the passes.
  void DrawPieces(g3d::RLResult& r, const Rect& window, const ByteImage& result, std::vector<uint16_t>& sums,
                  Abort_Tester* abort);

 private:
  struct Piece {
    std::vector<g3d::Vertex> front, back, sides, shadow;
    Rect reach, shadowReach;  // render pixels they may cover
    float shadowAlpha = 1.0f;
    bool glints = false;  // a highlight shows somewhere on it
  };
  bool Glints(const std::vector<g3d::Vertex>& vertices) const;
  // The surface over `area` (render pixels), `density` surface pixels to a
  // render pixel.
  void Camera(g3d::RLResult& r, const Rect& area, double density, double jitterX, double jitterY);
  Rect Reach(const std::vector<g3d::Vertex>& vertices) const;

  g3d::RenderingLibrary& lib_;
  Frame frame_;
  GlassLook look_;
  std::vector<Piece> pieces_;
  g3d::Texture texture_, coverage_;
  int32_t supersampling_;
  bool opaque_ = false;
  g3d::RLLight light_;
  g3d::RLMaterial glass_, glint_, shade_;
};

// The scene's camera: at this distance from the image plane, on its centre.
inline constexpr double kEyeDistance = 6.0;

}  // namespace kv::shatter
