#include "effects/stain/stain.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "framework/render_selection.h"
#include "parameters/parameters.h"
#include "image/bevel.h"
#include "image/noise.h"
#include "image/pixel_ops.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Stain::SetDefaults(void* block) const {
  StainBlock& b = *static_cast<StainBlock*>(block);
  b = {};
  b.filterId = kStainEffect;
  b.ringStain = false;
  b.edgeWidth = {0.5, kUnitCentimeters};
  b.roughness = 15.0;
  b.internalOpacity = 20.0;
  b.overallOpacity = 90.0;
  b.stainColor = Color::RGB(100, 75, 50);
  b.randomSeed = 1;
}

int32_t Stain::BuildParameters(ParameterList& list, void* block) {
  StainBlock& b = *static_cast<StainBlock*>(block);
  int32_t err = AddParameter<CheckboxParameter>(list, "Ring Stain", ps::FourCC("STri"), &b.ringStain);
  if (err == 0) {
    auto width = MakeParameter<LengthSliderParameter>("Edge Width", ps::FourCC("STwi"), &b.edgeWidth);
    width->minimum = 3.0;
    width->maximum = 999.0;
    width->SetTrackSplit(0.8, 80.0);
    err = list.AddParameter(std::move(width));
  }
  if (err == 0) err = AddSlider(list, "Stain Roughness", ps::FourCC("STir"), &b.roughness);
  if (err == 0) err = AddSlider(list, "Internal Opacity", ps::FourCC("STio"), &b.internalOpacity);
  if (err == 0) err = AddSlider(list, "Overall Opacity", ps::FourCC("SToo"), &b.overallOpacity, 1.0, 100.0);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Stain Color", ps::FourCC("STco"), &b.stainColor);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

// --- render ------------------------------------------------------------------

namespace {

constexpr int32_t kStripRows = 128;  // the bevel runs strip by strip, so its scratch stays small

// Opacity of a pixel before the body's mottling, and the factor of its soft
// outer pixel; opacity below 0 leaves the pixel alone.
struct Opacity {
  double a = -1.0;
  double soft = 1.0;
};

// The stain's geometry over one strip: the bevel's distance from the
// selection's edge becomes an opacity per pixel.
class StainPrecisionBevelBase : public Precision_Bevel {
 public:
  struct Shape {
    double R, I, E;  // roughness and internal opacity 0..1, edge width in render pixels
    const TurbulenceField* edgeA;
    const TurbulenceField* edgeB;
  };
  StainPrecisionBevelBase(const Shape& shape, std::vector<Opacity>& strip) : shape_(shape), strip_(strip) {}

  // The strip the hooks write: `area` after Init.
  Opacity& At(Point p) { return strip_[size_t(p.y - area.top) * area.Width() + (p.x - area.left)]; }

 protected:
  // The edge's raggedness at p, 0..1.
  double Edge(Point p) const {
    if (shape_.R <= 0.0) return 0.0;
    const double v = std::clamp(shape_.edgeA->Value(p) + shape_.edgeB->Value(p), 0.0, 1.0);
    return v * v;
  }

  Shape shape_;
  std::vector<Opacity>& strip_;
};

// The filled stain: an opaque, ragged rim fading to the internal opacity.
class StainPrecisionBevel final : public StainPrecisionBevelBase {
 public:
  using StainPrecisionBevelBase::StainPrecisionBevelBase;
  void Reached(Point p, PointD, double d) override {
    const double v = Edge(p), t = d / shape_.E;
    const double d2 = d - shape_.E * v * (1.0 - std::clamp(t, 0.0, 1.0));
    if (d2 < 0.0) return;  // the rim's bays
    const double u = v + 1.0 - t;
    At(p) = {shape_.I + (1.0 - shape_.I) * u * u * u * u, d2 <= 1.0 ? d2 : 1.0};
  }
  void UnreachedInside(Point p) override { At(p).a = shape_.I; }
  void UnreachedOutside(Point) override {}
};

// A ragged ring along the edge, darkest at both its borders.
class RingStainPrecisionBevel final : public StainPrecisionBevelBase {
 public:
  using StainPrecisionBevelBase::StainPrecisionBevelBase;
  void Reached(Point p, PointD, double d) override {
    const double t = d / shape_.E, e = 1.0 / shape_.E;
    const double A = Edge(p) + 1.0 - t, B = Edge({p.x + 30000, p.y + 30000}) + t;
    double a;
    if (A > 1.0 || B > 1.0) a = 0.0;
    else if (A > 1.0 - e) a = (1.0 - A) / e;
    else if (B > 1.0 - e) a = (1.0 - B) / e;
    else a = shape_.I + (1.0 - shape_.I) * std::max(A * A * A * A, B * B * B * B);
    At(p).a = a;
  }
  void UnreachedInside(Point) override {}
  void UnreachedOutside(Point) override {}
};

}  // namespace

int32_t Stain::Render(RenderContext& c) {
  const StainBlock& b = *static_cast<const StainBlock*>(c.block);
  ByteImage& out = *c.output;
  const PixelFormat& f = out.format;
  const Rect tile = out.bounds.Intersect(*c.tile);
  if (tile.IsEmpty()) return 0;

  // The stain's opacity sits after its colours, alpha or not.
  const PixelFormat stainFormat = PixelFormat::Of(f.mode, f.colorChannels, true);
  const BytePixel colour = HostColorPixel(b.stainColor, f, 255);

  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  StainPrecisionBevelBase::Shape shape{};
  shape.R = std::clamp(b.roughness / 100.0, 0.0, 1.0);
  shape.I = std::clamp(b.internalOpacity / 100.0, 0.0, 1.0);
  const double O = std::clamp(b.overallOpacity / 100.0, 0.0, 1.0);
  shape.E = std::max(LengthToPixels(b.edgeWidth, resolution), 1.0) / c.scale * (b.ringStain ? 1.0 : 1.5);

  int32_t err = 0;
  TurbulenceField edgeA, edgeB;
  FBMField body;
  edgeA.Init(err, {shape.E, shape.E}, 0.5 * shape.R, b.randomSeed, 0.75 * shape.R, 1.0, false, 0, 0);
  if (err == 0)
    edgeB.Init(err, {2.0 * shape.E, 2.0 * shape.E}, 0.5 * shape.R, b.randomSeed + 1, 0.3 * shape.R, 1.0, false, 0, 0);
  const double m = std::max(1, std::min(c.sourceArea->Width(), c.sourceArea->Height()));
  if (err == 0)
    body.Init(err, {m / 4.0, m / 4.0}, 0.25 * (1.0 - shape.I), b.randomSeed + 2, 0.5, 1.0, false, 0, 0);
  if (err != 0) return err;
  shape.edgeA = &edgeA;
  shape.edgeB = &edgeB;

  // The selection at the render's scale, as far as the bevel looks.
  const int32_t reach = int32_t(std::ceil(shape.E)) + 2;
  ByteMask scaled;
  const ByteMask& selection = SelectionAtScale(c, tile.Inflate(reach, reach), scaled, err);
  if (err != 0) return err;

  try {
    std::vector<Opacity> strip;
    std::vector<double> mottle(size_t(tile.Width()));
    std::vector<uint8_t> source(size_t(tile.Width()) * stainFormat.channelCount);
    for (int32_t i = 0; i < tile.Width(); ++i)
      std::copy_n(colour.values, stainFormat.colorChannels, &source[size_t(i) * stainFormat.channelCount]);
    const int32_t opacity = stainFormat.colorChannels;

    for (int32_t top = tile.top; top < tile.bottom; top += kStripRows) {
      const Rect rows{tile.left, top, tile.right, std::min(tile.bottom, top + kStripRows)};
      strip.assign(size_t(rows.Width()) * rows.Height(), Opacity{});
      const double from = double(top - tile.top) / tile.Height(), to = double(rows.bottom - tile.top) / tile.Height();
      std::unique_ptr<StainPrecisionBevelBase> bevel;
      if (b.ringStain) bevel = std::make_unique<RingStainPrecisionBevel>(shape, strip);
      else bevel = std::make_unique<StainPrecisionBevel>(shape, strip);
      bevel->Init(err, selection, shape.E, rows, true, 0.0, 0.0);
      if (err == 0) bevel->Run(err, c.abortTester, c.progress, from, from + 0.8 * (to - from));
      if (err != 0) return err;

      for (int32_t y = rows.top; y < rows.bottom; ++y) {
        if (c.ShouldAbort()) return kErrAborted;
        // Only the stretch between the row's first and last stained pixels.
        const Opacity* o = &strip[size_t(y - rows.top) * rows.Width()];
        int32_t first = 0, last = rows.Width();
        while (first < last && o[first].a < 0.0) ++first;
        while (last > first && o[last - 1].a < 0.0) --last;
        if (first == last) continue;
        body.ValueRow(y, rows.left + first, 1.0, last - first, mottle.data());
        for (int32_t i = first; i < last; ++i) {
          double a = 0.0;
          if (o[i].a >= 0.0) {
            a = std::clamp(o[i].a * (mottle[size_t(i - first)] + 1.0), 0.0, 1.0) * o[i].soft;
            a = std::clamp(a * O, 0.0, 1.0);
          }
          source[size_t(i) * stainFormat.channelCount + opacity] = uint8_t(255.0 * a);
        }
        uint8_t* px = out.Address(rows.left + first, y);
        CompositeRowOver(px, &source[size_t(first) * stainFormat.channelCount], stainFormat, px, f, last - first);
      }
      ReportProgress(c.progress, 0.0, 1.0, to);
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
