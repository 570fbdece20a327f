#include "effects/shatter/glass_scene.h"

#include <algorithm>
#include <cmath>

namespace kv::shatter {

namespace {

constexpr double kNear = 0.5, kFar = 1000.0;
// The glass's own light where the light does not reach it.
constexpr float kAmbient = 0.35f;

double Halton(int32_t index, int32_t base) {
  double result = 0.0, f = 1.0;
  for (int32_t i = index; i > 0; i /= base) {
    f /= base;
    result += f * (i % base);
  }
  return result;
}

bool Overlaps(const Rect& a, const Rect& b) { return !a.Intersect(b).IsEmpty(); }

}  // namespace

GlassScene::GlassScene(g3d::RenderingLibrary& library, const Frame& frame, const std::vector<Slab>& slabs,
                       const GlassLook& look, Point textureOrigin, Size textureSize, int32_t supersampling)
    : lib_(library), frame_(frame), look_(look), supersampling_(supersampling) {
  auto at = [&](const Vec& p, const Vec& n, const Point2& source) {
    const double s = (frame_.RenderX(source.x) - textureOrigin.x) / textureSize.width;
    const double t = (frame_.RenderY(source.y) - textureOrigin.y) / textureSize.height;
    return g3d::Vertex(float(p.x), float(p.y), float(p.z), float(n.x), float(n.y), float(n.z), float(s), float(t));
  };
  // Shadows fall along the light onto the image plane.
  const Vec toLight{std::cos(look.shadowElevation) * std::cos(look.azimuth),
                    std::cos(look.shadowElevation) * std::sin(look.azimuth), std::sin(look.shadowElevation)};
  pieces_.reserve(slabs.size());
  for (const Slab& slab : slabs) {
    Piece p;
    const size_t n = slab.front.size();
    const Vec& up = slab.frontNormal;
    const Vec down{-up.x, -up.y, -up.z};
    double turn = 0.0;  // twice the shadow's signed area
    for (size_t i = 0; i < n; ++i) {
      p.front.push_back(at(slab.front[i], up, slab.source[i]));
      p.back.push_back(at(slab.back[n - 1 - i], down, slab.source[n - 1 - i]));
      const Vec& q = slab.front[i];
      const double drop = q.z / std::max(toLight.z, 0.05);
      p.shadow.push_back(at({q.x - drop * toLight.x, q.y - drop * toLight.y, 0.0}, {0.0, 0.0, 1.0}, slab.source[i]));
      if (i > 0) turn += double(p.shadow[i - 1].x) * p.shadow[i].y - double(p.shadow[i].x) * p.shadow[i - 1].y;
    }
    if (n > 0) turn += double(p.shadow[n - 1].x) * p.shadow[0].y - double(p.shadow[0].x) * p.shadow[n - 1].y;
    // A piece turned over throws its shadow clockwise: facing the eye again,
    // it needs neither two-sided light nor a second material.
    if (turn < 0.0) std::reverse(p.shadow.begin(), p.shadow.end());
    // Each side anticlockwise as seen from outside.
    for (size_t i = 0; i < n; ++i) {
      const size_t j = (i + 1) % n;
      const Vec& out = slab.sideNormals[i];
      p.sides.push_back(at(slab.back[i], out, slab.source[i]));
      p.sides.push_back(at(slab.back[j], out, slab.source[j]));
      p.sides.push_back(at(slab.front[j], out, slab.source[j]));
      p.sides.push_back(at(slab.front[i], out, slab.source[i]));
    }
    p.glints = look.highlight > 0.0 && (Glints(p.front) || Glints(p.back) || Glints(p.sides));
    p.reach = Reach(p.sides);
    p.shadowReach = Reach(p.shadow);
    // Glass lying on the plane throws no shadow; it darkens as it rises.
    p.shadowAlpha = float(std::clamp(slab.centre.z / look.shadowLift, 0.0, 1.0));
    pieces_.push_back(std::move(p));
  }
}

// Whether OpenGL's specular term, as the highlight pass lights it, reaches a
// visible level at any vertex; most pieces face away from any reflection.
bool GlassScene::Glints(const std::vector<g3d::Vertex>& vertices) const {
  const double cosEl = std::cos(look_.elevation);
  const Vec light{cosEl * std::cos(look_.azimuth), cosEl * std::sin(look_.azimuth), std::sin(look_.elevation)};
  for (const g3d::Vertex& v : vertices) {
    const Vec n{v.nx, v.ny, v.nz};
    if (n.x * light.x + n.y * light.y + n.z * light.z <= 0.0) continue;
    const double toEye = std::sqrt(v.x * v.x + v.y * v.y + (kEyeDistance - v.z) * (kEyeDistance - v.z));
    const Vec h{-v.x / toEye + light.x, -v.y / toEye + light.y, (kEyeDistance - v.z) / toEye + light.z};
    const double length = std::sqrt(h.x * h.x + h.y * h.y + h.z * h.z);
    const double cosine = (n.x * h.x + n.y * h.y + n.z * h.z) / std::max(length, 1e-12);
    if (cosine > 0.0 && look_.highlight * std::pow(cosine, look_.shininess) * 255.0 >= 0.5) return true;
  }
  return false;
}

Rect GlassScene::Reach(const std::vector<g3d::Vertex>& vertices) const {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (const g3d::Vertex& v : vertices) {
    // Near the camera or behind it: anything can be covered.
    if (kEyeDistance - v.z < 2.0 * kNear) return {-1000000000, -1000000000, 1000000000, 1000000000};
    const double f = kEyeDistance / (kEyeDistance - v.z);
    const double x = frame_.RenderX(v.x * f), y = frame_.RenderY(v.y * f);
    x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  }
  if (vertices.empty()) return {};
  auto clampInt = [](double v) { return int32_t(std::clamp(v, -1e9, 1e9)); };
  return {clampInt(std::floor(x0)) - 2, clampInt(std::floor(y0)) - 2, clampInt(std::ceil(x1)) + 2,
          clampInt(std::ceil(y1)) + 2};
}

void GlassScene::Prepare(g3d::RLResult& r, std::shared_ptr<const ByteImage> texture,
                         std::shared_ptr<const ByteImage> coverage, bool opaque) {
  opaque_ = opaque;
  lib_.SetDefaultState(r);
  // Pieces are drawn farthest first, so no depth buffer is needed.
  if (r.Succeeded()) lib_.SetTwoSided(r, false);
  if (r.Succeeded()) lib_.SetDepthTest(r, false, false);
  if (r.Succeeded()) lib_.SetClearColor(r, 0.0f, 0.0f, 0.0f, 0.0f);
  // The library keeps its own copy of a texture: ours can go at once.
  texture_ = g3d::Texture(std::move(texture));
  if (r.Succeeded()) lib_.CreateTexture(r, texture_);
  texture_.image.reset();
  if (r.Succeeded()) lib_.BindTexture(r, texture_);
  if (r.Succeeded()) lib_.EnableTexturing(r);
  const bool anyGlint = std::any_of(pieces_.begin(), pieces_.end(), [](const Piece& p) { return p.glints; });
  if (r.Succeeded() && anyGlint) {
    coverage_ = g3d::Texture(std::move(coverage));
    lib_.CreateTexture(r, coverage_);
    coverage_.image.reset();
  }
  if (!r.Succeeded()) return;

  // A face turned to the viewer shows the image as it was (its light just
  // above 1, which clamps); one turned towards the light cannot get brighter,
  // one turned away darkens, the more so the lower the light.
  const double sinEl = std::max(std::sin(look_.elevation), 0.05);
  const float diffuse = float((1.0 - kAmbient) / sinEl * 1.004);
  const bool lab = look_.firstChannelLit;
  light_.kind = g3d::kDirectionalLight;
  light_.direction = {float(std::cos(look_.elevation) * std::cos(look_.azimuth)),
                      float(std::cos(look_.elevation) * std::sin(look_.azimuth)), float(std::sin(look_.elevation))};
  light_.color = {diffuse, lab ? 0.0f : diffuse, lab ? 0.0f : diffuse, 1.0f};
  lib_.AddLight(r, light_);
  if (r.Succeeded()) lib_.SetLight(r, light_);

  // The other channels of Lab keep their values: ambient alone, at 1.
  const float ambient = kAmbient / g3d::kDefaultAmbient, whole = 1.0f / g3d::kDefaultAmbient;
  glass_.ambient = {ambient, lab ? whole : ambient, lab ? whole : ambient, 1.0f};
  glass_.diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  glass_.specular = {0.0f, 0.0f, 0.0f, 1.0f};
  // Highlights add to what is below: no alpha, so the blend keeps it all.
  const float glint = float(look_.highlight) / diffuse;
  glint_.ambient = {0.0f, 0.0f, 0.0f, 0.0f};
  glint_.diffuse = {0.0f, 0.0f, 0.0f, 0.0f};
  glint_.specular = {glint, lab ? 0.0f : glint, lab ? 0.0f : glint, 0.0f};
  glint_.shininess = float(look_.shininess);
  shade_.ambient = {0.0f, 0.0f, 0.0f, 1.0f};
  shade_.diffuse = {0.0f, 0.0f, 0.0f, 1.0f};
  shade_.specular = {0.0f, 0.0f, 0.0f, 1.0f};
}

void GlassScene::Camera(g3d::RLResult& r, const Rect& a, double density, double jitterX, double jitterY) {
  // The area's share of the image plane, seen from the eye on the image's
  // centre: a frustum of the area's height, shifted onto it.
  const double height = a.Height() * frame_.scale / frame_.unit;
  const double fov = 2.0 * std::atan(height / 2.0 / kEyeDistance);
  const double cx = ((a.left + a.right) / 2.0 * frame_.scale - frame_.cx) / frame_.unit;
  const double cy = (frame_.cy - (a.top + a.bottom) / 2.0 * frame_.scale) / frame_.unit;
  const double surfacePixels = frame_.unit / frame_.scale * density;  // per scene unit
  lib_.SetJitteredPerspective(r, kNear, kFar, fov, -cx * surfacePixels + jitterX, -cy * surfacePixels + jitterY);
  if (r.Succeeded()) lib_.LookAt(r, {0.0, 0.0, kEyeDistance}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
}

void GlassScene::DrawHalfShadows(g3d::RLResult& r, const Rect& window, const ByteImage& result, ByteMask& shadows) {
  const Rect area{2 * window.left, 2 * window.top, 2 * window.right, 2 * window.bottom};
  Camera(r, area, supersampling_ / 2.0, 0.0, 0.0);
  if (!r.Succeeded()) return;
  lib_.Clear(r);
  // Where every piece is whole, its outline is its shadow: no texture to read.
  if (opaque_) lib_.DisableTexturing(r);
  else lib_.BindTexture(r, texture_);
  for (const Piece& p : pieces_) {
    if (p.shadowAlpha <= 0.0f || !Overlaps(p.shadowReach, area)) continue;
    shade_.diffuse[3] = p.shadowAlpha;
    lib_.SetMaterial(r, shade_);
    lib_.DrawPolygon(r, p.shadow);
  }
  lib_.EnableTexturing(r);
  lib_.ReadImage(r);
  if (!r.Succeeded()) return;
  const Rect common = window.Intersect(shadows.bounds);
  for (int32_t y = common.top; y < common.bottom; ++y) {
    const uint8_t* in = result.Row(y - window.top) + size_t(common.left - window.left) * 4 + 3;
    uint8_t* out = shadows.Address(common.left, y);
    for (int32_t x = 0; x < common.Width(); ++x, in += 4) out[x] = *in;
  }
}

void GlassScene::DrawPieces(g3d::RLResult& r, const Rect& window, const ByteImage& result,
                            std::vector<uint16_t>& sums, Abort_Tester* abort) {
  sums.assign(size_t(window.Width()) * size_t(window.Height()) * 4, 0);
  for (int32_t pass = 0; pass < look_.passes; ++pass) {
    if (abort != nullptr && abort->ShouldAbort()) return r.Fail(kErrAborted);
    // Offsets within a surface pixel, spread evenly over the passes.
    const double jx = look_.passes > 1 ? Halton(pass + 1, 2) - 0.5 : 0.0;
    const double jy = look_.passes > 1 ? Halton(pass + 1, 3) - 0.5 : 0.0;
    Camera(r, window, supersampling_, jx, jy);
    if (!r.Succeeded()) return;
    lib_.SetDepthTest(r, true, true);  // or the clear leaves the depths
    lib_.Clear(r);
    for (const Piece& p : pieces_) {
      if (!Overlaps(p.reach, window)) continue;
      // Drawn farthest first, the pieces still need the depth test where
      // they touch: at rest, a piece's sides lie behind its neighbours.
      lib_.SetDepthTest(r, true, true);
      lib_.BindTexture(r, texture_);
      lib_.SetMaterial(r, glass_);
      lib_.DrawPolygon(r, p.front);
      lib_.DrawPolygon(r, p.back);
      lib_.DrawQuads(r, p.sides);
      if (p.glints) {
        // Over the faces just drawn, which the depth test would refuse.
        lib_.SetDepthTest(r, false, false);
        lib_.BindTexture(r, coverage_);
        lib_.SetMaterial(r, glint_);
        lib_.DrawPolygon(r, p.front);
        lib_.DrawPolygon(r, p.back);
        lib_.DrawQuads(r, p.sides);
      }
    }
    lib_.SetDepthTest(r, false, false);
    lib_.ReadImage(r);
    if (!r.Succeeded()) return;
    uint16_t* sum = sums.data();
    for (int32_t y = 0; y < window.Height(); ++y) {
      const uint8_t* in = result.Row(y);
      for (int32_t i = 0; i < window.Width() * 4; ++i) *sum++ += in[i];
    }
  }
}

}  // namespace kv::shatter
