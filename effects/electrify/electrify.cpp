#include "effects/electrify/electrify.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "effects/lightning/arc_parameters.h"
#include "framework/render_selection.h"
#include "host/host_calls.h"
#include "host/working_area.h"
#include "image/pixel_ops.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Electrify::SetDefaults(void* block) const {
  ElectrifyBlock& b = *static_cast<ElectrifyBlock*>(block);
  b = {};
  b.filterId = kElectrifyEffect;
  b.arcSpacing = {0.35, kUnitInches};
  b.arcLength = {1.0, kUnitInches};
  b.arcThickness = 40.0;
  b.reserved1 = 3.0;
  b.glowWidth = 25.0;
  b.glowOpacity = 50.0;
  b.radiateFromCenter = true;
  b.jaggedness = 60.0;
  b.reserved2 = 40.0;
  b.branching = 60.0;
  b.branchSpread = 60.0;
  b.randomSeed = 7724;
  b.glowFromObject = 1;
  b.innerColor = Color::RGB(255, 255, 255);
  b.outerColor = Color::RGB(0, 0, 255);
}

namespace {

int32_t AddLength(ParameterList& list, const char* label, uint32_t key, Length* value, double maximum,
                  double splitValue) {
  auto p = MakeParameter<LengthSliderParameter>(label, key, value);
  p->minimum = 10.0;
  p->maximum = maximum;
  p->SetTrackSplit(0.8, splitValue);
  return list.AddParameter(std::move(p));
}

}  // namespace

int32_t Electrify::BuildParameters(ParameterList& list, void* block) {
  ElectrifyBlock& b = *static_cast<ElectrifyBlock*>(block);
  if (int32_t err = list.AddPage("Glow")) return err;
  int32_t err = AddLength(list, "Arc Spacing", ps::FourCC("LIas"), &b.arcSpacing, 600.0, 100.0);
  if (err == 0) err = AddLength(list, "Arc Length", ps::FourCC("LIal"), &b.arcLength, 2000.0, 300.0);
  if (err == 0) err = AddArcShape(list, &b.arcThickness, &b.jaggedness, &b.branching, &b.branchSpread);
  if (err == 0)
    err = AddParameter<CheckboxParameter>(list, "Radiate From Center", ps::FourCC("LIrf"), &b.radiateFromCenter);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  if (err == 0) err = AddArcGlow(list, &b.glowWidth, &b.glowOpacity, &b.innerColor, &b.outerColor);
  return err;
}

namespace {

// Sizes in full-size pixels.
struct Sizes {
  double length, spacing, coreRadius, glowRadius;
  int32_t margin;  // how far arcs and glow reach beyond the area
};

Sizes SizesOf(const ElectrifyBlock& b, const ps::FilterRecord* host) {
  const double resolution = host != nullptr ? ResolutionFromFixed(host->imageHRes) : 72.0;
  Sizes s{};
  s.length = LengthToPixels(b.arcLength, resolution);
  s.spacing = LengthToPixels(b.arcSpacing, resolution);
  s.coreRadius = std::max(2.0, s.length * b.arcThickness / 100.0 * 0.1);
  s.glowRadius = 0.2 * b.glowWidth * s.coreRadius;
  s.margin = int32_t(std::ceil(s.coreRadius * 0.2 * b.glowWidth + s.length));
  return s;
}

int32_t ScaledMargin(const void* block, double scale) {
  const Sizes s = SizesOf(*static_cast<const ElectrifyBlock*>(block), Session().record);
  return int32_t(std::ceil(s.margin / scale));
}

// The mask with its outside: 0 beyond its rectangle, and beyond the image the
// nearest pixel of the image, so that an object cut by the image's border has
// no edge there.
class EdgeMask {
 public:
  EdgeMask(const ByteMask& mask, const Rect& image) : mask_(mask), image_(image) {}

  uint8_t At(int32_t x, int32_t y) const {
    x = std::clamp(x, image_.left, image_.right - 1);
    y = std::clamp(y, image_.top, image_.bottom - 1);
    return mask_.bounds.Contains(x, y) ? *mask_.Address(x, y) : 0;
  }
  // Selected (>= 128) or not, over [x0, x1) of row y.
  void Inside(int32_t y, int32_t x0, int32_t x1, std::vector<uint8_t>& out) const {
    for (int32_t x = x0; x < x1; ++x) out[size_t(x - x0)] = At(x, y) >= 128;
  }

 private:
  const ByteMask& mask_;
  Rect image_;
};

}  // namespace

int32_t PlaceArcs(ArcNetwork& network, const ByteMask& mask, const Rect& R, const Rect& image,
                  const ArcPlacement& how, Abort_Tester* abort) {
  if (R.IsEmpty() || image.IsEmpty()) return 0;
  const EdgeMask m(mask, image);
  const int32_t cell = std::max(1, int32_t(std::ceil(how.cellSize)));
  const PointD centre{R.left + 0.5 * (R.Width() - 1), R.top + 0.5 * (R.Height() - 1)};
  const Rect grid{R.left / cell, R.top / cell, R.right / cell + 1, R.bottom / cell + 1};
  const int32_t x0 = grid.left * cell, x1 = grid.right * cell;

  // Edge pixels lie on the mask or next to its right or bottom side, and
  // arcs start on the image only; cells beyond hold none and draw nothing.
  const Rect& M = mask.bounds;
  Rect S = Rect{M.left, M.top, M.right + 1, M.bottom + 1}.Intersect(image).Intersect(
      {x0, grid.top * cell, x1, grid.bottom * cell});
  if (S.IsEmpty()) S = {};

  RandomNumberGenerator g(SeedValue(how.seed));
  std::vector<std::vector<Point>> edges(size_t(grid.Width()));
  std::vector<uint8_t> above(size_t(S.Width() + 1)), here(above.size());
  for (int32_t cy = grid.top; cy < grid.bottom; ++cy) {
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
    for (auto& e : edges) e.clear();
    const int32_t y0 = std::max(cy * cell, S.top), y1 = std::min((cy + 1) * cell, S.bottom);
    if (y0 < y1) m.Inside(y0 - 1, S.left - 1, S.right, above);
    for (int32_t y = y0; y < y1; ++y) {
      m.Inside(y, S.left - 1, S.right, here);
      for (int32_t x = S.left; x < S.right; ++x) {
        const size_t i = size_t(x - S.left + 1);
        if (here[i] != above[i] || here[i] != here[i - 1]) edges[size_t((x - x0) / cell)].push_back({x, y});
      }
      std::swap(above, here);
    }
    for (const std::vector<Point>& e : edges) {
      if (e.empty()) continue;
      const Point p = e[size_t(g.Below(int32_t(e.size())))];
      const double gx = double(m.At(p.x + 1, p.y)) - m.At(p.x - 1, p.y);
      const double gy = double(m.At(p.x, p.y + 1)) - m.At(p.x, p.y - 1);
      const double gradient = std::hypot(gx, gy);
      PointD direction = gradient < 1e-10 ? PointD{-1.0, 0.0} : PointD{-gx / gradient, -gy / gradient};
      if (how.radiateFromCenter) {
        const double vx = p.x - centre.x, vy = p.y - centre.y, distance = std::hypot(vx, vy);
        const PointD v = distance < 1e-10 ? PointD{0.0, 0.0} : PointD{vx / distance, vy / distance};
        if (direction.x * v.x + direction.y * v.y <= 0.0) continue;
        direction = v;
      }
      const double f = g.Uniform(0.7, 1.3);
      network.AddBranch({p.x - 0.5, p.y - 0.5, how.startRadius * f, false}, direction, how.length * f,
                        how.seed + p.x + int64_t(R.Width()) * p.y, 0);
    }
  }
  return 0;
}

Rect Electrify::InputAreaFor(const Rect& area, const void* block, double scale) const {
  const int32_t margin = ScaledMargin(block, scale);
  return area.Inflate(margin, margin);
}

void Electrify::InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                                 double scale) const {
  const int32_t margin = ScaledMargin(block, scale);
  neededInput = tile;
  neededExtra = tile.Inflate(margin, margin);
}

// --- render ------------------------------------------------------------------

int32_t Electrify::Render(RenderContext& c) {
  const ElectrifyBlock& b = *static_cast<const ElectrifyBlock*>(c.block);
  const Sizes s = SizesOf(b, c.host);
  // The working area's mask is the whole selection at full size: arcs and
  // the outline's glow then come out the same whatever the tiles, and a
  // preview of part of the image glows as that part of the whole does.
  // Without one, the mask the render was handed is taken as the whole.
  const WorkingArea* area = c.areaRecord;
  const ByteMask* placing = &FullSizeSelection(c);
  // What the final render draws in one piece: the area and the arcs' reach
  // on the image, as the mask is delivered for it.
  const Rect drawn =
      area != nullptr ? area->rect.Inflate(s.margin, s.margin).Intersect(*c.imageBounds) : placing->bounds;

  const ByteMask* glowing = placing;
  ByteMask reduced;
  if (b.glowFromObject && c.scale != 1.0) {
    if (int32_t err = MaskAtScale(*placing, c.scale, RectAtScale(drawn, c.scale), reduced)) return err;
    glowing = &reduced;
  }

  ArcNetwork network(*c.imageBounds, b.branching, b.branchSpread, b.jaggedness, 3.0);
  ReportProgress(c.progress, 0.0, 1.0, 0.1);
  const ArcPlacement how{s.coreRadius * 0.5, s.length, s.spacing, b.randomSeed, b.radiateFromCenter};
  if (int32_t err = PlaceArcs(network, *placing, drawn, *c.imageBounds, how, c.abortTester)) return err;

  ArcLook look;
  look.glowOpacity = b.glowOpacity / 100.0;
  look.glowRadius = s.glowRadius;
  look.coreRadius = s.coreRadius;
  look.inner = b.innerColor;
  look.outer = b.outerColor;
  look.useMask = b.glowFromObject;
  return RenderArcs(network, *c.output, drawn, c.scale, look, glowing, c.abortTester, c.progress, 0.1, 1.0);
}

}  // namespace kv
