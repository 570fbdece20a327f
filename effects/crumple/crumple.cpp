#include "effects/crumple/crumple.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "effects/crumple/crumple_light.h"
#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "framework/render_selection.h"
#include "parameters/parameters.h"
#include "image/lighting.h"
#include "image/noise_cells.h"
#include "image/pixel_ops.h"

namespace kv {

namespace {
constexpr uint32_t kDistortKey = ps::FourCC("CUdi");
constexpr uint32_t kBackgroundKey = ps::FourCC("FlCl");
}  // namespace

// --- parameter block and list ------------------------------------------------

void Crumple::SetDefaults(void* block) const {
  CrumpleBlock& b = *static_cast<CrumpleBlock*>(block);
  b = {};
  b.filterId = kCrumpleEffect;
  b.crumpleSize = {2.87, kUnitMillimeters};
  b.crumpleForce = 50.0;
  b.distortImage = true;
  b.seamlessTile = false;
  b.backgroundColor = Color::RGB(255, 255, 255);
  b.randomSeed = 8139;
  b.lighting = {19.469, 51.196, 60.524, 58.103, Color::RGB(255, 255, 255)};
  b.lightBoost = 50.0;
}

int32_t Crumple::BuildParameters(ParameterList& list, void* block) {
  CrumpleBlock& b = *static_cast<CrumpleBlock*>(block);
  auto size = MakeParameter<LengthSliderParameter>("Crumple Size", ps::FourCC("CUcs"), &b.crumpleSize);
  size->minimum = 5.0;
  size->maximum = 250.0;
  size->SetTrackSplit(0.8, 50.0);
  int32_t err = list.AddParameter(std::move(size));
  if (err == 0) err = AddSlider(list, "Crumple Force", ps::FourCC("CUro"), &b.crumpleForce, 1.0, 100.0);
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Distort Image", kDistortKey, &b.distortImage);
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Seamless Tile", ps::FourCC("TIle"), &b.seamlessTile);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Background Color", kBackgroundKey, &b.backgroundColor);
  if (err == 0) {
    auto light = std::make_unique<LightingParameter>();
    light->text = {"Lighting", "Lighting tool help"};
    light->directionKey = ps::FourCC("Drct");
    light->inclinationKey = ps::FourCC("INcl");
    light->brightnessKey = ps::FourCC("Brgh");
    light->sharpnessKey = ps::FourCC("Shrp");
    light->highlightKey = ps::FourCC("Clr ");
    light->SetMinimumInclination(45.0);
    light->value = &b.lighting;
    err = list.AddParameter(std::move(light));
  }
  if (err == 0) err = AddSlider(list, "Light Boost", ps::FourCC("CUlb"), &b.lightBoost);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

int32_t Crumple::UpdateParameterStates(ParameterList& list, const void* block) {
  const CrumpleBlock& b = *static_cast<const CrumpleBlock*>(block);
  const bool transparent = HostImageHasTransparency();
  for (auto& p : list) {
    if (p->HasKey(kDistortKey)) p->Enable(!b.seamlessTile);
    else if (p->HasKey(kBackgroundKey)) p->Enable(!transparent && b.distortImage);
    else p->Enable(true);
  }
  return 0;
}

Rect Crumple::InputAreaFor(const Rect& area, const void*, double) const { return WholeImage(area); }

void Crumple::TileInputArea(const Rect&, const Rect& area, const void* block, double scale, Rect& neededInput,
                            Rect&) const {
  // The picture is pulled in from anywhere between the tile and the centre.
  neededInput = InputAreaFor(area, block, scale);
}

// --- render ------------------------------------------------------------------

namespace {

// The paper's relief in render pixels, a row at a time over a fixed span of
// columns. The field is sampled at full-size positions, so the preview shows
// the creases of the final render.
class Relief {
 public:
  Relief(const CellField& field, double K, double step, int32_t left, int32_t right)
      : field_(field), K_(K), step_(step), left_(left), width_(right - left),
        first_(size_t(width_)), second_(size_t(width_)) {}

  int32_t Left() const { return left_; }
  int32_t Width() const { return width_; }

  // h over the span at row y; h[0] is column Left().
  void Row(int32_t y, double* h) {
    field_.ValueRow(y * step_, left_ * step_, step_, width_, first_.data(), second_.data(), cache_);
    for (int32_t i = 0; i < width_; ++i) h[i] = (first_[size_t(i)] - second_[size_t(i)]) * K_;
  }

 private:
  const CellField& field_;
  double K_, step_;
  int32_t left_, width_;
  std::vector<double> first_, second_;
  CellField::PointCache cache_;
};

// Three consecutive rows of the relief, y - 1, y and y + 1.
struct RowWindow {
  std::vector<double> rows[3];
  double* above;
  double* here;
  double* below;

  // Rows are readable a vector of the widest path past their end.
  explicit RowWindow(int32_t width) {
    for (auto& r : rows) r.resize(size_t(width) + 8);
    above = rows[0].data(), here = rows[1].data(), below = rows[2].data();
  }
  void Load(Relief& relief, int32_t y) {
    relief.Row(y - 1, above);
    relief.Row(y, here);
    relief.Row(y + 1, below);
  }
  void Down(Relief& relief, int32_t y) {  // to row y from y - 1
    std::swap(above, here);
    std::swap(here, below);
    relief.Row(y + 1, below);
  }
  void Up(Relief& relief, int32_t y) {  // to row y from y + 1
    std::swap(below, here);
    std::swap(here, above);
    relief.Row(y - 1, above);
  }
};

}  // namespace

int32_t Crumple::Render(RenderContext& c) {
  const CrumpleBlock& b = *static_cast<const CrumpleBlock*>(c.block);
  ByteImage& out = *c.output;
  const Rect& area = *c.sourceArea;
  const Rect A = area.Intersect(*c.tile).Intersect(out.bounds);
  if (A.IsEmpty()) return 0;
  const PixelFormat& f = out.format;
  const double s = c.scale;
  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  const Rect& image = *c.imageBounds;

  // Lengths at full size; the relief's height is divided by the scale, so
  // the preview's slopes, light and pull are the final render's.
  const bool seamless = b.seamlessTile;
  const double cell = std::max(LengthToPixels(b.crumpleSize, resolution), 1.0) * 4.5;
  const double pp = seamless ? 1.0 : 72.0 / resolution;
  int32_t err = 0;
  CellField field;
  field.Init(err, {cell * pp, cell * pp}, b.randomSeed, seamless ? 2 : 3, seamless, image.Width(), image.Height());
  if (err != 0) return err;
  const double force = 0.4 * std::clamp(b.crumpleForce, 1.0, 100.0) * 0.01;
  double K = force * cell;
  if (seamless) {
    // As deep as the cells that fit the period are wide.
    const int32_t n = std::max(2, int32_t(std::floor(image.Width() / cell + 0.5)));
    K = force * double(image.Width() / n);
  }
  K = (K + 5.0) / s;

  CrumpleLook z{};
  z.input = c.input;
  z.selection = &FullSizeSelection(c);
  z.area = area;
  z.scale = s;
  z.K = K;
  z.boost = std::clamp(b.lightBoost, 0.0, 100.0);
  z.distort = b.distortImage && !seamless;
  z.transparency = c.hasTransparency;
  z.light = LightFromSettings(b.lighting.direction, b.lighting.inclination, b.lighting.brightness,
                              b.lighting.sharpness);
  z.background = HostColorPixel(b.backgroundColor, f, 0);
  const BytePixel black = HostColorPixel(Color::RGB(0, 0, 0), f, 255);
  const BytePixel highlight = HostColorPixel(b.lighting.highlight, f, 255);
  for (int32_t i = 0; i < 4; ++i) z.shadow[i] = black[i], z.highlight[i] = highlight[i];

  // The sheet is pulled in towards the area's centre, so the positions of
  // any tile are summed from there.
  const int32_t cx = int32_t(area.left + 0.5 * (area.Width() - 1));
  const int32_t cy = int32_t(area.top + 0.5 * (area.Height() - 1));
  const int32_t right = z.distort ? std::max(A.right, cx + 1) + 1 : A.right + 1;
  try {
    Relief relief(field, K, s * pp, area.left - 1, right);
    const int32_t left0 = relief.Left();
    RowWindow w(relief.Width());
    std::vector<double> xs(size_t(A.Width())), ys(size_t(A.Width()));
    CrumpleRowScratch scratch(A.Width(), f.channelCount);
    std::vector<double> stretches(size_t(relief.Width()) + 8);
    int32_t done = 0;
    auto light = [&](int32_t y) -> int32_t {
      if (c.ShouldAbort()) return kErrAborted;
      if (z.distort) CrumpleRowPositions(w.here, left0, cx, A, xs.data(), stretches.data());
      if (LightCrumpleRow(z, w.above, w.here, w.below, left0, y, A, xs.data(), ys.data(), out, *c.mask, scratch) != 0)
        return kErrGeneral;
      ReportProgress(c.progress, 0.0, 1.0, double(++done) / A.Height());
      return 0;
    };
    // The vertical positions, summed down and up from the centre row.
    auto stretch = [&](double sign) {
      CrumpleStretches(w.above + (A.left - left0), w.below + (A.left - left0), A.Width(), stretches.data());
      for (int32_t x = A.left; x < A.right; ++x) ys[size_t(x - A.left)] += sign * stretches[size_t(x - A.left)];
    };

    if (!z.distort) {
      w.Load(relief, A.top);
      for (int32_t y = A.top; y < A.bottom; ++y) {
        if (y > A.top) w.Down(relief, y);
        if ((err = light(y)) != 0) return err;
      }
      return 0;
    }
    if (A.bottom > cy) {
      std::fill(ys.begin(), ys.end(), cy - 1.0);
      w.Load(relief, cy);
      for (int32_t y = cy; y < A.bottom; ++y) {
        if (y > cy) w.Down(relief, y);
        if (c.ShouldAbort()) return kErrAborted;
        stretch(1.0);
        if (y >= A.top && (err = light(y)) != 0) return err;
      }
    }
    if (A.top < cy) {
      std::fill(ys.begin(), ys.end(), double(cy));
      w.Load(relief, cy - 1);
      for (int32_t y = cy - 1; y >= A.top; --y) {
        if (y < cy - 1) w.Up(relief, y);
        if (c.ShouldAbort()) return kErrAborted;
        stretch(-1.0);
        if (y < A.bottom && (err = light(y)) != 0) return err;
      }
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
