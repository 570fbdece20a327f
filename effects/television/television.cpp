#include "effects/television/television.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "effects/television/screen_sampler.h"
#include "host/host_color.h"
#include "image/lanes.h"
#include "image/pixel_ops.h"
#include "image/vector_kernels.h"
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

double ThicknessInPixels(const RenderContext& c, const TelevisionBlock& b) {
  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  return std::max(LengthToPixels(b.scanlineThickness, resolution), 0.0);
}

// Noise cells of zero size would divide by zero; such a block is not clamped.
double NoiseCell(double thickness) { return std::max(thickness, 1.0); }

// Whether a lies within one period of [0, b), where a - b and a + b are
// exact and Wrap needs no division.
bool Near(double a, double b) { return a > -b && a < 2.0 * b; }

// Wrap lane by lane; `near` says every lane is.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D WrapNear(typename Wide<Lanes>::D a, double b, bool near) {
  if (!near) {
    for (int l = 0; l < Lanes; ++l) a[l] = Wrap(a[l], b);
    return a;
  }
  return a < 0.0 ? a + b : (a >= b ? a - b : a);
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

// The two passes a row at a time, over lanes of pixels, compiled for each
// vector path.
template <int32_t N, bool Alpha>
struct Tube {
  using Sampler = ScreenSampler<N, Alpha>;
  static constexpr int32_t colors = Alpha ? N - 1 : N;
  enum class Static { kNone, kRgb, kChannel };

  // Pass 1: a row of the screen.
  struct Line {
    const Settings& s;
    const typename Sampler::Row& row;
    const BytePixel& mono;
    int32_t left, width;  // the area's
    double j, scan;       // the row's breakup and scanline brightness
    bool inBand;
    Static noise;
    int32_t noiseChannel;
    const double *nv, *nh;
    uint8_t* out;
  };

  template <int Lanes>
  [[gnu::always_inline]] static void Draw(const Line& ln) {
    using D = typename Wide<Lanes>::D;
    const Settings& s = ln.s;
    const double left = ln.left, span = ln.width - 1;
    // The wrapped positions grow along the row, so its ends tell whether
    // every pixel's lies near.
    const double last = ln.left + ln.width - 1;
    const bool breakNear = Near(left + ln.j - left, span) && Near(last + ln.j - left, span);
    const bool ghostNear = Near(left - s.D - left, span) && Near(last - s.D - left, span);
    for (int32_t i = 0; i < ln.width; i += Lanes) {
      // A short last group repeats its last pixel.
      int32_t at[Lanes];
      D x;
      for (int l = 0; l < Lanes; ++l) {
        at[l] = std::min(i + l, ln.width - 1);
        x[l] = ln.left + at[l];
      }
      if (s.breakup) x = left + WrapNear<Lanes>(x + ln.j - left, span, breakNear);
      D p[N];
      ln.row.template SampleLanes<Lanes>(x, p);
      if (!ln.inBand) {  // the gap between frames stays black
        if (s.G > 0.0) {
          D q[N];
          ln.row.template SampleLanes<Lanes>(left + WrapNear<Lanes>(x - s.D - left, span, ghostNear), q);
          // Lightens by floor(...) clamped to 0..255, in a byte.
          for (int32_t k = 0; k < colors; ++k) {
            const D sum = p[k] + ToBytes<Lanes>((q[k] - p[k]) * s.G * 0.5 + 0.5);
            p[k] = sum >= 256.0 ? sum - 256.0 : sum;
          }
        }
        for (int32_t k = 0; k < colors; ++k) p[k] = ToBytes<Lanes>(p[k] * ln.scan + 0.5);
        D nv = {}, nh = {};
        for (int l = 0; l < Lanes && ln.noise != Static::kNone; ++l) {
          nv[l] = ln.nv[at[l]];
          if (ln.noise == Static::kRgb) nh[l] = ln.nh[at[l]];
        }
        if (ln.noise == Static::kRgb) {
          if constexpr (colors >= 3) AddRgbStatic<Lanes>(s, nh, nv, p);
        } else if (ln.noise == Static::kChannel) {
          D& c = p[ln.noiseChannel];
          c = ToBytes<Lanes>(c + nv * s.Nb * 255.0 + 0.5);
        }
      }
      const int32_t count = std::min(Lanes, ln.width - i);
      uint8_t* out = ln.out + size_t(i) * N;
      StorePixels<Lanes, N>(p, count, out);
      if (s.monochrome && !ln.inBand) {
        BytePixel px(ln.mono.format);
        for (int l = 0; l < count; ++l) {
          px.values = out + l * N;
          const int32_t y = Luminance(px);
          for (int32_t k = 0; k < colors; ++k) px[k] = ToByte(ln.mono[k] * y / 255.0 + 0.5);
        }
      }
    }
  }

  // Static in hue and value: through hue, saturation and value and back.
  template <int Lanes>
  [[gnu::always_inline]] static void AddRgbStatic(const Settings& s, typename Wide<Lanes>::D nh,
                                                  typename Wide<Lanes>::D nv, typename Wide<Lanes>::D* p) {
    using D = typename Wide<Lanes>::D;
    const D zero = {}, one = zero + 1.0;
    const D r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
    D hi = r < g ? g : r, lo = g < r ? g : r;
    hi = hi < b ? b : hi;
    lo = b < lo ? b : lo;
    const D d = hi - lo;
    const D sat = hi > zero ? d / (hi > zero ? hi : one) : zero;
    // Hue in [0, 1): 0 for greys.
    // Conditions stay inside the selects: masks kept apart are built lane
    // by lane.
    const D turn = (hi == r ? g - b : (hi == g ? b - r : r - g)) / (d <= zero ? one : d);
    D h = hi == r ? turn : (hi == g ? turn + 2.0 : turn + 4.0);
    h = d <= zero ? zero : h / 6.0;
    h = h < zero ? h + 1.0 : h;

    // The static moves the hue by less than a turn.
    const D moved = h + nh * s.Nh;
    h = WrapNear<Lanes>(moved, 1.0, true);
    D v = hi + nv * s.Nb;
    v = v < zero ? zero : (one < v ? one : v);

    const D h6 = h * 6.0;  // in [0, 6]
    const D whole = __builtin_convertvector(__builtin_convertvector(h6, typename Wide<Lanes>::I), D);
    const D f = h6 - whole;
    const D sector = whole >= 6.0 ? whole - 6.0 : whole;
    const D lo6 = v * (1.0 - sat), fall = v * (1.0 - sat * f), rise = v * (1.0 - sat * (1.0 - f));
    const D rgb[3] = {
        sector == 0.0 ? v : (sector == 5.0 ? v : (sector == 1.0 ? fall : (sector == 4.0 ? rise : lo6))),
        sector == 1.0 ? v : (sector == 2.0 ? v : (sector == 0.0 ? rise : (sector == 3.0 ? fall : lo6))),
        sector == 3.0 ? v : (sector == 4.0 ? v : (sector == 2.0 ? rise : (sector == 5.0 ? fall : lo6)))};
    for (int k = 0; k < 3; ++k) {
      const D c = rgb[k] < zero ? zero : (one < rgb[k] ? one : rgb[k]);
      p[k] = ToBytes<Lanes>(255.0 * c);
    }
  }

  static void DrawBaseline(const Line& ln) { Draw<2>(ln); }
  KV_FOR_AVX2 static void DrawAvx2(const Line& ln) { Draw<4>(ln); }
  KV_FOR_AVX512 static void DrawAvx512(const Line& ln) { Draw<8>(ln); }
  static void DrawRow(const Line& ln) {
    switch (CurrentVectorPath()) {
      case VectorPath::kAvx512: return DrawAvx512(ln);
      case VectorPath::kAvx2: return DrawAvx2(ln);
      default: return DrawBaseline(ln);
    }
  }

  // Pass 2: a row of the bulging glass, into `out`.
  struct Bulge {
    const Sampler& glass;
    double cx0, cy0, dy, stretchX;
    const double* stretchY;  // per column of the tile
    int32_t left, width;     // the tile's
    uint8_t* out;
  };

  template <int Lanes>
  [[gnu::always_inline]] static void Curve(const Bulge& g) {
    for (int32_t i = 0; i < g.width; i += Lanes) {
      double xs[Lanes], ys[Lanes];
      for (int l = 0; l < Lanes; ++l) {
        const int32_t at = std::min(i + l, g.width - 1);
        xs[l] = g.cx0 + (g.left + at - g.cx0) * g.stretchX;
        ys[l] = g.cy0 + g.dy * g.stretchY[at];
      }
      typename Wide<Lanes>::D p[N];
      g.glass.template SampleLanes<Lanes>(xs, ys, p);
      StorePixels<Lanes, N>(p, std::min(Lanes, g.width - i), g.out + size_t(i) * N);
    }
  }

  static void CurveBaseline(const Bulge& g) { Curve<2>(g); }
  KV_FOR_AVX2 static void CurveAvx2(const Bulge& g) { Curve<4>(g); }
  KV_FOR_AVX512 static void CurveAvx512(const Bulge& g) { Curve<8>(g); }
  static void CurveRow(const Bulge& g) {
    switch (CurrentVectorPath()) {
      case VectorPath::kAvx512: return CurveAvx512(g);
      case VectorPath::kAvx2: return CurveAvx2(g);
      default: return CurveBaseline(g);
    }
  }
};

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
  const int32_t L = A.left, T0 = A.top, B = A.bottom, W = A.Width(), H = A.Height();
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

  using Passes = Tube<N, Alpha>;
  using Static = typename Passes::Static;
  const int32_t mode = f.Space();
  const Static noise = mode == kModeRGB && colors >= 3                ? Static::kRgb
                       : mode == kModeCMYK || mode == kModeGrey ? Static::kChannel
                                                                      : Static::kNone;
  const int32_t staticChannel = mode == kModeCMYK ? 3 : 0;
  std::vector<double> nv(noise != Static::kNone ? size_t(W) : 0), nh(noise == Static::kRgb ? size_t(W) : 0);

  using Sampler = ScreenSampler<N, Alpha>;
  const Sampler source(*c.input, A, black);
  typename Sampler::Row row(source);

  // Pass 1: the picture as the tube draws it, over the whole area.
  for (int32_t y = T0; y < B; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    const double j = s.breakup ? breakupNoise.Value(PointD{0.0, y / (1.0 + s.T)}) : 0.0;
    const double sy = s.V != 0.0 ? T0 + Wrap((y - T0) + P * s.V, E - 1) : double(y);
    const double scan =
        s.T == 0.0 ? 1.0 : (1.0 - 0.64 * s.S) + s.S * std::fabs(std::sin((sy - T0) * 1.570796327 / s.T));
    if (noise == Static::kRgb) staticNoise.VectorRow(y, L, 1.0, W, nv.data(), nh.data());
    else if (noise == Static::kChannel) staticNoise.ValueRow(y, L, 1.0, W, nv.data());

    row.Load(sy);
    Passes::DrawRow({s, row, mono, L, W, j, scan, sy >= B, noise, staticChannel, nv.data(), nh.data(), screen.Row(y)});
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
  // The vertical stretch of each column.
  std::vector<double> stretchY(s.K > 0.0 ? size_t(tile.Width()) : 0);
  for (size_t i = 0; i < stretchY.size(); ++i) {
    const double dx = tile.left + int32_t(i) - cx0;
    stretchY[i] = 1.0 + s.K * across(dx, hw) * across(dx, hw);
  }
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    const double dy = y - cy0, stretchX = 1.0 + s.K * across(dy, hh) * across(dy, hh);
    if (s.K > 0.0) {
      Passes::CurveRow({glass, cx0, cy0, dy, stretchX, stretchY.data(), tile.left, tile.Width(), rowPixels.data()});
    } else {
      uint8_t* px = rowPixels.data();
      for (int32_t x = tile.left; x < tile.right; ++x, px += step)
        std::copy_n(A.Contains(x, y) ? screen.Address(x, y) : background.values, step, px);
    }
    uint8_t* out = c.output->Address(tile.left, y);
    if (c.hasTransparency) std::copy(rowPixels.begin(), rowPixels.end(), out);
    else BlendRowByMask(c.mask->Address(tile.left, y), out, rowPixels.data(), out, tile.Width(), f);
    ReportProgress(c.progress, 0.7, 1.0, double(y - tile.top + 1) / tile.Height());
  }
  return 0;
}

}  // namespace kv
