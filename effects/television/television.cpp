#include "effects/television/television.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "effects/television/screen_sampler.h"
#include "host/host_color.h"
#include "image/pixel_ops.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Television::SetDefaults(void* block) const {
  TelevisionBlock& b = *static_cast<TelevisionBlock*>(block);
  b = {};
  b.filterId = kTelevisionEffect;
  b.verticalShift = 0.0;
  b.scanlineStrength = 50.0;
  b.scanlineThickness = {0.2, kUnitCentimeters};
  b.curvature = 50.0;
  b.staticAmount = 20.0;
  b.ghostStrength = 30.0;
  b.ghostOffset = 20.0;
  b.breakup = 20.0;
  b.monochromeScreen = false;
  b.monochromeColor = Color::RGB(0, 255, 0);
  b.backgroundColor = Color::RGB(0, 0, 0);
  b.randomSeed = 1;
}

namespace {

constexpr uint32_t kMonochromeColorKey = ps::FourCC("TEsc");
constexpr uint32_t kBackgroundColorKey = ps::FourCC("FlCl");

}  // namespace

int32_t Television::BuildParameters(ParameterList& list, void* block) {
  TelevisionBlock& b = *static_cast<TelevisionBlock*>(block);
  int32_t err = AddSlider(list, "Scanline Strength", ps::FourCC("TEss"), &b.scanlineStrength);
  if (err == 0) {
    auto p = MakeParameter<LengthSliderParameter>("Scanline Thickness", ps::FourCC("TEth"), &b.scanlineThickness);
    p->minimum = 1.0;
    p->maximum = 100.0;
    p->SetTrackSplit(0.8, 10.0);
    err = list.AddParameter(std::move(p));
  }
  if (err == 0) err = AddSlider(list, "Vertical Shift", ps::FourCC("TEvs"), &b.verticalShift);
  if (err == 0) err = AddSlider(list, "Curvature", ps::FourCC("TEcu"), &b.curvature);
  if (err == 0) err = AddSlider(list, "Static", ps::FourCC("TEst"), &b.staticAmount);
  if (err == 0) err = AddSlider(list, "Ghost Strength", ps::FourCC("TEgs"), &b.ghostStrength);
  if (err == 0) err = AddSlider(list, "Ghost Offset", ps::FourCC("TEgo"), &b.ghostOffset);
  if (err == 0) err = AddSlider(list, "Breakup", ps::FourCC("TEbr"), &b.breakup);
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Monochrome Screen", ps::FourCC("TEec"), &b.monochromeScreen);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Monochrome Screen Color", kMonochromeColorKey, &b.monochromeColor);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Background Color", kBackgroundColorKey, &b.backgroundColor);
  if (err == 0)
    err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

int32_t Television::UpdateParameterStates(ParameterList& list, const void* block) {
  const TelevisionBlock& b = *static_cast<const TelevisionBlock*>(block);
  const bool transparent = HostImageHasTransparency();
  for (auto& p : list) {
    if (p->HasKey(kMonochromeColorKey)) p->Enable(b.monochromeScreen);
    else if (p->HasKey(kBackgroundColorKey)) p->Enable(!transparent);
    else p->Enable(true);
  }
  return 0;
}

void Television::InputAreaForTile(const Rect&, Rect& neededInput, Rect&, const void*, double) const {
  // The roll, the breakup and the ghost move pixels across the whole area.
  neededInput = {0, 0, 1000000, 1000000};
}

// --- render ------------------------------------------------------------------

namespace {

// Remainder in [0, b); no displacement when there is no room for one.
double Wrap(double a, double b) {
  if (!(b > 0.0)) return 0.0;
  double r = std::fmod(a, b);
  if (a < 0.0 && r != 0.0) r += b;
  return r;
}

// Wrap for the usual case of a within one period of [0, b), without the
// division: the same result, as a - b and a + b are exact there.
double WrapNear(double a, double b) {
  if (a >= 0.0 && a < b) return a;
  if (a < 0.0 && a > -b) return a + b;
  if (a >= b && a < 2.0 * b) return a - b;
  return Wrap(a, b);
}

// floor(v) clamped to 0..255; for v >= 0 the floor is the truncation, which
// needs no call into the maths library.
int32_t GhostStep(double v) { return v > 0.0 ? int32_t(std::min(v, 255.0)) : 0; }

double ThicknessInPixels(const RenderContext& c, const TelevisionBlock& b) {
  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  return std::max(LengthToPixels(b.scanlineThickness, resolution), 0.0);
}

// Noise cells of zero size would divide by zero; such a block is not clamped.
double NoiseCell(double thickness) { return std::max(thickness, 1.0); }

// Hue, saturation and value of an RGB colour in 0..1; hue in [0, 1).
void RgbToHsv(double r, double g, double b, double& h, double& s, double& v) {
  const double hi = std::max({r, g, b}), lo = std::min({r, g, b}), d = hi - lo;
  v = hi;
  s = hi > 0.0 ? d / hi : 0.0;
  if (d <= 0.0) {
    h = 0.0;
    return;
  }
  if (hi == r) h = (g - b) / d;
  else if (hi == g) h = (b - r) / d + 2.0;
  else h = (r - g) / d + 4.0;
  h /= 6.0;
  if (h < 0.0) h += 1.0;
}

void HsvToRgb(double h, double s, double v, double& r, double& g, double& b) {
  const double h6 = h * 6.0, sector = double(int32_t(h6)), f = h6 - sector;  // h6 >= 0
  const double p = v * (1.0 - s), q = v * (1.0 - s * f), t = v * (1.0 - s * (1.0 - f));
  switch (int32_t(sector) % 6) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
}

// Values derived from the block and the render scale. Lengths are in the
// render's pixels.
struct Settings {
  double G, S, K, D, T, V, Nh, Nb;
  double thickness;  // full-size pixels
  bool breakup, monochrome;
};

Settings Derive(const RenderContext& c, const TelevisionBlock& b) {
  Settings s{};
  s.G = b.ghostStrength * 0.01;
  s.S = b.scanlineStrength * 0.6 * 0.01;
  s.K = b.curvature * 0.3 * 0.01;
  s.D = 0.3 * c.sourceBounds->right * b.ghostOffset * 0.01;
  s.thickness = ThicknessInPixels(c, b);
  s.T = s.thickness / c.scale;
  s.V = b.verticalShift * 0.01;
  s.Nh = 0.025 * b.staticAmount * 0.01;
  s.Nb = 0.4 * b.staticAmount * 0.01;
  s.breakup = b.breakup > 0.0;
  s.monochrome = b.monochromeScreen;
  return s;
}

}  // namespace

int32_t Television::PrepareRender(RenderContext& c) {
  const TelevisionBlock& b = *static_cast<const TelevisionBlock*>(c.block);
  // Cells and amplitude are divided by the scale, and the field divides its
  // cells by the scale again.
  const double cell = NoiseCell(ThicknessInPixels(c, b)) / c.scale;
  const double amplitude = c.sourceArea->Width() / c.scale * 0.1 * b.breakup * 0.01;
  int32_t err = 0;
  breakupNoise.Init(err, {cell, cell}, amplitude, b.randomSeed, c.scale, false, 0, 0);
  return err;
}

int32_t Television::Render(RenderContext& c) {
  return ForPixelLayout(c.output->format, [&]<int32_t N, bool Alpha>() { return RenderAs<N, Alpha>(c); }, kErrGeneral);
}

template <int32_t N, bool Alpha>
int32_t Television::RenderAs(RenderContext& c) {
  const TelevisionBlock& b = *static_cast<const TelevisionBlock*>(c.block);
  const Settings s = Derive(c, b);
  const Rect A = *c.sourceArea;
  const int32_t L = A.left, T0 = A.top, R = A.right, B = A.bottom, W = A.Width(), H = A.Height();
  const PixelFormat& f = c.output->format;
  constexpr int32_t colors = Alpha ? N - 1 : N, step = N;

  int32_t err = 0;
  ByteImage screen(err, A, f);
  if (err != 0) return err;

  const BytePixel mono = HostColorPixel(b.monochromeColor, f, 255);
  const BytePixel black = HostColorPixel(Color{kSpaceGray, {0, 0, 0, 0}}, f, 255);
  const BytePixel background = HostColorPixel(b.backgroundColor, f, f.hasAlpha ? 0 : 255);

  const int32_t band = int32_t(std::floor(0.1 * H + 0.5));
  const int32_t E = H + band, P = std::max(E - 2, 0);

  const double cell = NoiseCell(s.thickness) / c.scale;
  staticNoise.Init(err, {2.0 * cell, cell}, 1.0, b.randomSeed, c.scale, false, 0, 0);
  if (err != 0) return err;

  const int32_t mode = f.Space();
  const bool rgbStatic = mode == kModeRGB && colors >= 3;
  const bool channelStatic = mode == kModeCMYK || mode == kModeGrey;
  const int32_t staticChannel = mode == kModeCMYK ? 3 : 0;
  std::vector<double> nv(rgbStatic || channelStatic ? size_t(W) : 0), nh(rgbStatic ? size_t(W) : 0);

  using Sampler = ScreenSampler<N, Alpha>;
  const Sampler source(*c.input, A, black);
  typename Sampler::Row row(source);
  BytePixel p(f), q(f);

  // Pass 1: the picture as the tube draws it, over the whole area.
  for (int32_t y = T0; y < B; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    const double j = s.breakup ? breakupNoise.Value(PointD{0.0, y / (1.0 + s.T)}) : 0.0;
    const double sy = s.V != 0.0 ? T0 + Wrap((y - T0) + P * s.V, E - 1) : double(y);
    const bool inBand = sy >= B;
    const double scan =
        s.T == 0.0 ? 1.0 : (1.0 - 0.64 * s.S) + s.S * std::fabs(std::sin((sy - T0) * 1.570796327 / s.T));
    if (rgbStatic) staticNoise.VectorRow(y, L, 1.0, W, nv.data(), nh.data());
    else if (channelStatic) staticNoise.ValueRow(y, L, 1.0, W, nv.data());

    row.Load(sy);
    uint8_t* out = screen.Row(y);
    for (int32_t x = L; x < R; ++x, out += step) {
      p.values = out;
      const double sx = s.breakup ? L + WrapNear(x + j - L, W - 1) : double(x);
      row.Sample(sx, p.values);
      if (inBand) continue;  // the gap between frames stays black

      if (s.G > 0.0) {
        row.Sample(L + WrapNear(sx - s.D - L, W - 1), q.values);
        for (int32_t k = 0; k < colors; ++k)
          p[k] = uint8_t(p[k] + GhostStep((q[k] - p[k]) * s.G * 0.5 + 0.5));
      }
      for (int32_t k = 0; k < colors; ++k) p[k] = ToByte(p[k] * scan + 0.5);

      const size_t i = size_t(x - L);
      if (rgbStatic) {
        double h, sat, v, r, g, bl;
        RgbToHsv(p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, h, sat, v);
        h = WrapNear(h + nh[i] * s.Nh, 1.0);
        v = std::clamp(v + nv[i] * s.Nb, 0.0, 1.0);
        HsvToRgb(h, sat, v, r, g, bl);
        p[0] = uint8_t(255.0 * std::clamp(r, 0.0, 1.0));
        p[1] = uint8_t(255.0 * std::clamp(g, 0.0, 1.0));
        p[2] = uint8_t(255.0 * std::clamp(bl, 0.0, 1.0));
      } else if (channelStatic) {
        p[staticChannel] = ToByte(p[staticChannel] + nv[i] * s.Nb * 255.0 + 0.5);
      }
      if (s.monochrome) {
        const int32_t l = Luminance(p);
        for (int32_t k = 0; k < colors; ++k) p[k] = ToByte(mono[k] * l / 255.0 + 0.5);
      }
    }
    ReportProgress(c.progress, 0.0, 0.7, double(y - T0 + 1) / H);
  }

  // Pass 2: the bulge of the glass, then the selection.
  const Rect tile = *c.tile;
  const double cx0 = L + 0.5 * (W - 1), cy0 = T0 + 0.5 * (H - 1);
  const double hw = 0.5 * (W - 1), hh = 0.5 * (H - 1);
  // A screen one pixel wide or high does not bulge along that side.
  const auto across = [](double d, double half) { return half > 0.0 ? d / half : 0.0; };
  const Sampler glass(screen, A, background);
  std::vector<uint8_t> rowPixels(size_t(tile.Width()) * step);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    uint8_t* px = rowPixels.data();
    const double dy = y - cy0, stretchX = 1.0 + s.K * across(dy, hh) * across(dy, hh);
    for (int32_t x = tile.left; x < tile.right; ++x, px += step) {
      p.values = px;
      if (s.K > 0.0) {
        const double dx = x - cx0;
        std::fill_n(px, step, uint8_t(255));
        glass.Sample(cx0 + dx * stretchX, cy0 + dy * (1.0 + s.K * across(dx, hw) * across(dx, hw)), px);
      } else {
        std::copy_n(A.Contains(x, y) ? screen.Address(x, y) : background.values, step, px);
      }
    }
    uint8_t* out = c.output->Address(tile.left, y);
    if (c.hasTransparency) std::copy(rowPixels.begin(), rowPixels.end(), out);
    else BlendRowByMask(c.mask->Address(tile.left, y), out, rowPixels.data(), out, tile.Width(), f);
    ReportProgress(c.progress, 0.7, 1.0, double(y - tile.top + 1) / tile.Height());
  }
  return 0;
}

}  // namespace kv
