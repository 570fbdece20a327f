#include "effects/flag/flag.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#include "host/host_color.h"
#include "host/working_area.h"
#include "image/noise.h"
#include "image/pixel_ops.h"
#include "image/random.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Flag::SetDefaults(void* block) const {
  FlagBlock& b = *static_cast<FlagBlock*>(block);
  b = FlagBlock{};
  b.filterId = kFlagEffect;
  b.simplifiedMode = true;
  b.shrink = 40.0;
  b.keptLength = {1.0, kUnitInches};
  const double keptA[] = {8.0, 0.0, 50.0, 40.0, 10.0}, keptB[] = {50.0, 75.0, 20.0}, keptC[] = {40.0, 20.0};
  std::copy(std::begin(keptA), std::end(keptA), b.keptA);
  std::copy(std::begin(keptB), std::end(keptB), b.keptB);
  std::copy(std::begin(keptC), std::end(keptC), b.keptC);
  b.windStrength = 50.0;
  b.windDirection = 0.0;
  b.movement = 10.0;
  b.keptFlags[0] = true;
  b.keptD = 2.0;
  b.randomSeed = 1;
  b.backgroundColor = Color::RGB(0, 0, 0);
  b.keptFill = {kFillTransparent, Color::RGB(255, 255, 255)};
  b.attachments.attached[kAttachLeft] = true;
  b.increaseContrast = 50.0;
  b.lightDirection = 135.0;
}

namespace {

constexpr uint32_t kShrinkKey = ps::FourCC("FLsh");
constexpr uint32_t kWindDirectionKey = ps::FourCC("FLwd");
constexpr uint32_t kMovementKey = ps::FourCC("FLmo");
constexpr uint32_t kAttachmentsKey = ps::FourCC("FLco");
constexpr uint32_t kBackgroundColorKey = ps::FourCC("FlCl");

}  // namespace

int32_t Flag::BuildParameters(ParameterList& list, void* block) {
  FlagBlock& b = *static_cast<FlagBlock*>(block);
  int32_t err = AddParameter<CheckboxParameter>(list, "Simplified Mode", ps::FourCC("FLsi"), &b.simplifiedMode);
  if (err == 0) err = AddSlider(list, "Shrink", kShrinkKey, &b.shrink);
  if (err == 0) err = AddSlider(list, "Wind Strength", ps::FourCC("srgh"), &b.windStrength);
  if (err == 0) err = AddParameter<DirectionParameter>(list, "Wind Direction", kWindDirectionKey, &b.windDirection);
  if (err == 0) err = AddSlider(list, "Movement", kMovementKey, &b.movement);
  if (err == 0)
    err = AddParameter<FlagConnectionsParameter>(list, "Keep original image", kAttachmentsKey, &b.attachments);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Background Color", kBackgroundColorKey, &b.backgroundColor);
  if (err == 0) err = AddSlider(list, "Increase Contrast", ps::FourCC("Cntr"), &b.increaseContrast);
  if (err == 0) {
    auto light = MakeParameter<DirectionParameter>("Light Direction", ps::FourCC("LghD"), &b.lightDirection);
    light->text.help = "Direction help";
    err = list.AddParameter(std::move(light));
  }
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

int32_t Flag::UpdateParameterStates(ParameterList& list, const void* block) {
  const bool simplified = static_cast<const FlagBlock*>(block)->simplifiedMode;
  const bool transparent = HostImageHasTransparency();
  for (auto& p : list) {
    if (p->HasKey(kBackgroundColorKey)) p->Enable(!transparent);
    else if (p->HasKey(kShrinkKey)) p->Enable(simplified);
    else if (p->HasKey(kWindDirectionKey) || p->HasKey(kMovementKey) || p->HasKey(kAttachmentsKey))
      p->Enable(!simplified);
    else p->Enable(true);
  }
  return 0;
}

// The cloth waves inside its own area and leaves the rest of the image be.
Rect Flag::InputAreaFor(const Rect& area, const void*, double) const { return area; }

// --- the cache ------------------------------------------------------------------

std::unique_ptr<uint8_t[]> Flag::NewParameterCache() const {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[sizeof(FlagBlock)]);
}

void Flag::StoreParameterCache(const void* block, void* cache) const {
  std::memcpy(cache, block, sizeof(FlagBlock));
}

bool Flag::ParameterCacheMatches(const void* cache, const void* block) const {
  const FlagBlock& a = *static_cast<const FlagBlock*>(cache);
  const FlagBlock& b = *static_cast<const FlagBlock*>(block);
  // The values the simplified mode sets aside change nothing while it is on.
  const bool simplified = b.simplifiedMode;
  return a.simplifiedMode == b.simplifiedMode && a.windStrength == b.windStrength && a.randomSeed == b.randomSeed &&
         a.backgroundColor == b.backgroundColor && a.increaseContrast == b.increaseContrast &&
         a.lightDirection == b.lightDirection &&
         (simplified ? a.shrink == b.shrink
                     : a.windDirection == b.windDirection && a.movement == b.movement &&
                           a.attachments == b.attachments);
}

// --- render ------------------------------------------------------------------

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int32_t kRestart = 64;

// How far the cloth is displaced per pixel of height: fixed in the
// simplified mode, growing with the root of `movement` otherwise. Much
// beyond 0.3 the steepest waves would fold the cloth over itself.
constexpr double kSimplifiedDisplacement = 0.25;
constexpr double kMostDisplacement = 0.3;
// The waves are steep; lit at their full slope the cloth's far sides would
// go black.
constexpr double kShadingSlope = 0.35;

// The height field of the cloth: two waves travelling along the wind and a
// noise term, calmed near the attached sides and corners.
class Cloth {
 public:
  Cloth(int32_t& err, const FlagBlock& b, const Rect& area) : area_(area) {
    const bool simplified = b.simplifiedMode;
    const double W = area.Width(), H = std::max(area.Height(), 1), m = std::max(std::min(W, H), 1.0);
    const double w = std::sqrt(std::clamp(b.windStrength, 0.0, 100.0) / 100.0);
    RandomNumberGenerator random(b.randomSeed);
    d0_ = 0.5 * m;
    lambda1_ = (1.6 - w) * H;
    a1_ = 0.3 * w * lambda1_;
    phi1_ = random.Uniform(kTwoPi);
    lambda2_ = (1.0 - 0.85 * w) * H;
    a2_ = 0.3 * w * lambda2_;
    phi2_ = random.Uniform(kTwoPi);
    k_ = 1.5 * w / H;
    const double theta = (simplified ? 0.0 : b.windDirection) * std::numbers::pi / 180.0;
    u_ = {std::cos(-theta), std::sin(-theta)};
    v_ = {-u_.y, u_.x};
    centre_ = {area.left + 0.5 * (W - 1.0), area.top + 0.5 * (H - 1.0)};
    noise_.Init(err, {3.0 * lambda2_, 3.0 * lambda2_}, 2.0 * a2_, b.randomSeed, 1.0, false, 0, 0);

    // The simplified mode waves the whole picture freely.
    if (!simplified) attached_ = b.attachments;
    const bool* at = attached_.attached;
    const auto cornerFree = [&](int32_t corner, int32_t side1, int32_t side2) {
      return at[corner] && !at[side1] && !at[side2];
    };
    corners_[0] = cornerFree(kAttachTopLeft, kAttachTop, kAttachLeft);
    corners_[1] = cornerFree(kAttachTopRight, kAttachTop, kAttachRight);
    corners_[2] = cornerFree(kAttachBottomLeft, kAttachBottom, kAttachLeft);
    corners_[3] = cornerFree(kAttachBottomRight, kAttachBottom, kAttachRight);
  }

  PointD Centre() const { return centre_; }
  // Across the wind: the way the cloth's waves displace it.
  PointD Across() const { return v_; }

  // Heights at (x0 + i * dx, y) for i in [0, count), in cloth coordinates.
  // Along a row both waves are exponentials of polynomials in i, stepped by
  // multiplication and set afresh every kRestart samples.
  void Row(double y, double x0, double dx, int32_t count, double* out) {
    scratchX_.resize(size_t(count));
    scratchY_.resize(size_t(count));
    noiseRow_.resize(size_t(count));
    const double ry = y - centre_.y, rx0 = x0 - centre_.x;
    const double s0 = rx0 * u_.x + ry * u_.y, t0 = rx0 * v_.x + ry * v_.y, ds = dx * u_.x, dt = dx * v_.x;
    // The noise is read in the wind's frame, so it streams with the waves;
    // along the wind that frame's rows are the image's.
    if (dt == 0.0) {
      noise_.ValueRow(centre_.y + t0, centre_.x + s0, ds, count, noiseRow_.data());
    } else {
      for (int32_t i = 0; i < count; ++i) {
        scratchX_[size_t(i)] = centre_.x + s0 + i * ds;
        scratchY_[size_t(i)] = centre_.y + t0 + i * dt;
      }
      noise_.ValuesAt(scratchX_.data(), scratchY_.data(), count, noiseRow_.data());
    }

    const double rowDamping = Damping(y);
    const double w1 = kTwoPi / lambda1_, w2 = kTwoPi / lambda2_, e2 = -1.0 / (4.0 * lambda2_);
    std::complex<double> first, firstStep, second, secondStep, secondStepStep;
    for (int32_t i = 0; i < count; ++i) {
      if (i % kRestart == 0) {
        // Wave 1: a1 cos(w1 s + phi1). Wave 2: a2 exp(e2 q) sin(w2 (q + s) + phi2)
        // with q = k t^2, the imaginary part of exp(P(i)) for a quadratic P.
        const double s = s0 + i * ds, t = t0 + i * dt;
        first = std::polar(1.0, w1 * s + phi1_);
        firstStep = std::polar(1.0, w1 * ds);
        const std::complex<double> quadratic(e2 * k_ * dt * dt, w2 * k_ * dt * dt);
        const std::complex<double> linear(e2 * k_ * 2.0 * t * dt, w2 * (k_ * 2.0 * t * dt + ds));
        second = std::exp(std::complex<double>(e2 * k_ * t * t, w2 * (k_ * t * t + s) + phi2_));
        secondStep = std::exp(linear + quadratic);
        secondStepStep = std::exp(2.0 * quadratic);
      }
      const double wave = a1_ * first.real() + a2_ * second.imag();
      out[i] = rowDamping * columnDamping_[size_t(i)] * CornerDamping(x0 + i * dx, y) * (wave + noiseRow_[size_t(i)]);
      first *= firstStep;
      second *= secondStep;
      secondStep *= secondStepStep;
    }
  }

  // The columns' share of the calm, for rows of `count` samples from x0 by dx.
  void SetColumns(double x0, double dx, int32_t count) {
    columnDamping_.resize(size_t(count));
    for (int32_t i = 0; i < count; ++i) columnDamping_[size_t(i)] = ColumnDamping(x0 + i * dx);
  }

 private:
  // 1 - exp(-e / d0) for a side at distance e; nothing beyond the side.
  double Calm(double e) const { return 1.0 - std::exp(-std::max(e, 0.0) / d0_); }
  double Damping(double y) const {
    double d = 1.0;
    if (attached_.attached[kAttachTop]) d *= Calm(y - area_.top);
    if (attached_.attached[kAttachBottom]) d *= Calm((area_.bottom - 1) - y);
    return d;
  }
  double ColumnDamping(double x) const {
    double d = 1.0;
    if (attached_.attached[kAttachLeft]) d *= Calm(x - area_.left);
    if (attached_.attached[kAttachRight]) d *= Calm((area_.right - 1) - x);
    return d;
  }
  double CornerDamping(double x, double y) const {
    double d = 1.0;
    const double left = area_.left, top = area_.top, right = area_.right - 1, bottom = area_.bottom - 1;
    if (corners_[0]) d *= Calm(std::hypot(x - left, y - top));
    if (corners_[1]) d *= Calm(std::hypot(x - right, y - top));
    if (corners_[2]) d *= Calm(std::hypot(x - left, y - bottom));
    if (corners_[3]) d *= Calm(std::hypot(x - right, y - bottom));
    return d;
  }

  Rect area_;
  double d0_, lambda1_, a1_, phi1_, lambda2_, a2_, phi2_, k_;
  PointD u_, v_, centre_;
  NoiseField noise_;
  FlagConnections attached_;
  bool corners_[4] = {};
  std::vector<double> columnDamping_;
  std::vector<double> scratchX_, scratchY_, noiseRow_;
};

}  // namespace

int32_t Flag::RenderEntireImage(RenderContext& c) {
  try {
    return ForPixelLayout(c.output->format, [&]<int32_t N, bool Alpha>() { return RenderAs<N, Alpha>(c); }, kErrGeneral);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

template <int32_t N, bool Alpha>
int32_t Flag::RenderAs(RenderContext& c) {
  constexpr int32_t colors = Alpha ? N - 1 : N;
  const FlagBlock& b = *static_cast<const FlagBlock*>(c.block);
  const Rect area = *c.sourceArea;
  const Rect tile = c.tile->Intersect(area);
  if (tile.IsEmpty() || area.Width() < 1 || area.Height() < 1) return 0;
  const PixelFormat& format = c.output->format;
  const ByteImage& source = *c.input;

  int32_t err = 0;
  Cloth cloth(err, b, area);
  if (err != 0) return err;

  // Output pixel p shows the cloth at q = centre + (p - centre) / scale,
  // displaced across the wind by its height.
  const double scale = b.simplifiedMode ? 1.0 - std::clamp(b.shrink, 0.0, 100.0) / 200.0 : 1.0;
  const double displacement =
      b.simplifiedMode ? kSimplifiedDisplacement : kMostDisplacement * std::sqrt(std::clamp(b.movement, 0.0, 100.0) / 100.0);
  const PointD centre = cloth.Centre(), across = cloth.Across();

  // The light from the shared set-up at 60 degrees; the contrast steepens
  // the shading around that of flat cloth.
  const double az = std::clamp(b.lightDirection, 0.0, 360.0) * std::numbers::pi / 180.0;
  const double el = std::numbers::pi / 3.0;
  const double lx = std::cos(az) * std::cos(el), ly = -std::sin(az) * std::cos(el), lz = std::sin(el);
  const double gain = 0.5 + 1.5 * std::clamp(b.increaseContrast, 0.0, 100.0) / 100.0;
  const BytePixel black = HostColorPixel(Color::RGB(0, 0, 0), format, 255);
  const BytePixel white = HostColorPixel(Color::RGB(255, 255, 255), format, 255);
  // On a layer the cloth leaves transparency behind.
  const BytePixel background = HostColorPixel(b.backgroundColor, format, 255);

  const int32_t width = tile.Width();
  const PixelFormat clothFormat = PixelFormat::Of(format.mode, colors, true);
  std::vector<double> xs(size_t(width) + 2), heights(3 * (size_t(width) + 2));
  const size_t n = size_t(width);
  std::vector<double> sampleX(n), sampleY(n), covers(n), shades(n);
  // Slopes per pixel of cloth, as the light sees them.
  const double slopeScale = 0.5 * kShadingSlope * scale;
  std::vector<uint8_t> clothRow(size_t(width) * (colors + 1)), backRow(size_t(width) * N), row(size_t(width) * N);
  for (int32_t i = 0; i < width; ++i) {
    if constexpr (Alpha) std::fill_n(&backRow[size_t(i) * N], N, uint8_t(0));
    else std::copy_n(background.values, N, &backRow[size_t(i) * N]);
  }
  // Heights one pixel around the tile, for the slopes.
  const double x0 = centre.x + (tile.left - 1 - centre.x) / scale, dx = 1.0 / scale;
  for (int32_t i = 0; i < width + 2; ++i) xs[size_t(i)] = x0 + i * dx;
  cloth.SetColumns(x0, dx, width + 2);
  const auto heightRow = [&](int32_t y) {
    return &heights[size_t((y - tile.top + 1) % 3) * (size_t(width) + 2)];
  };
  const auto computeRow = [&](int32_t y) { cloth.Row(centre.y + (y - centre.y) / scale, x0, dx, width + 2, heightRow(y)); };
  computeRow(tile.top - 1);
  computeRow(tile.top);

  // The selection shows the flag through its mask, which the run's working
  // area holds whole; a layer's cloth carries its own transparency.
  const ByteMask* selection = c.areaRecord != nullptr ? &c.areaRecord->mask : c.mask;
  if (c.hasTransparency || selection == nullptr || !selection->bounds.Contains(tile)) selection = nullptr;

  const double left = area.left, top = area.top, right = area.right - 1, bottom = area.bottom - 1;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    computeRow(y + 1);
    const double* up = heightRow(y - 1) + 1;
    const double* here = heightRow(y) + 1;
    const double* down = heightRow(y + 1) + 1;
    const double qy = centre.y + (y - centre.y) / scale;
    // Where each pixel samples the cloth, how much of it covers the pixel and
    // how it is lit: a pass of plain arithmetic the compiler may vectorise.
    for (int32_t i = 0; i < width; ++i) {
      const double h = here[i];
      const double gx = slopeScale * (here[i + 1] - here[i - 1]), gy = slopeScale * (down[i] - up[i]);
      const double sx = xs[size_t(i) + 1] - displacement * h * across.x, sy = qy - displacement * h * across.y;
      sampleX[size_t(i)] = sx;
      sampleY[size_t(i)] = sy;
      // The cloth ends half a pixel beyond its outer pixels' centres.
      covers[size_t(i)] = std::clamp(std::min(sx - left, right - sx) + 1.0, 0.0, 1.0) *
                          std::clamp(std::min(sy - top, bottom - sy) + 1.0, 0.0, 1.0);
      // Lit as a surface of normal (-gx, -gy, 1), relative to flat cloth.
      const double lit = std::max(-gx * lx - gy * ly + lz, 0.0) / (lz * std::sqrt(1.0 + gx * gx + gy * gy));
      shades[size_t(i)] = std::clamp(1.0 + (lit - 1.0) * gain, 0.0, 2.0);
    }
    uint8_t* cl = clothRow.data();
    for (int32_t i = 0; i < width; ++i, cl += colors + 1) {
      const double sx = sampleX[size_t(i)], sy = sampleY[size_t(i)], cover = covers[size_t(i)];
      if (cover <= 0.0) {
        cl[colors] = 0;
        continue;
      }
      // Bilinear, kept inside the cloth.
      const double cx = std::clamp(sx, left, right), cy = std::clamp(sy, top, bottom);
      const int32_t x0 = std::min(int32_t(cx), area.right - 2 < area.left ? area.left : area.right - 2);
      const int32_t y0 = std::min(int32_t(cy), area.bottom - 2 < area.top ? area.top : area.bottom - 2);
      const int32_t x1 = std::min(x0 + 1, area.right - 1), y1 = std::min(y0 + 1, area.bottom - 1);
      const double fx = cx - x0, fy = cy - y0;
      const uint8_t* p00 = source.Address(x0, y0);
      const uint8_t* p10 = source.Address(x1, y0);
      const uint8_t* p01 = source.Address(x0, y1);
      const uint8_t* p11 = source.Address(x1, y1);
      const double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
      double v[N];
      double alpha = 255.0;
      constexpr int32_t a = N - 1;
      if (!Alpha || (p00[a] & p10[a] & p01[a] & p11[a]) == 255) {
        for (int32_t k = 0; k < colors; ++k) v[k] = w00 * p00[k] + w10 * p10[k] + w01 * p01[k] + w11 * p11[k];
      } else {
        // Colours weighted by their alphas.
        const double a00 = w00 * p00[a], a10 = w10 * p10[a], a01 = w01 * p01[a], a11 = w11 * p11[a];
        alpha = a00 + a10 + a01 + a11;
        const double inverse = alpha > 0.0 ? 1.0 / alpha : 0.0;
        for (int32_t k = 0; k < colors; ++k)
          v[k] = (a00 * p00[k] + a10 * p10[k] + a01 * p01[k] + a11 * p11[k]) * inverse;
      }

      const double shade = shades[size_t(i)];
      const uint8_t* toward = shade < 1.0 ? black.values : white.values;
      const double w = shade < 1.0 ? 1.0 - shade : std::min(shade - 1.0, 1.0);
      for (int32_t k = 0; k < colors; ++k) cl[k] = ToByte(v[k] + (toward[k] - v[k]) * w + 0.5);
      cl[colors] = ToByte(alpha * cover + 0.5);
    }

    uint8_t* out = c.output->Address(tile.left, y);
    CompositeRowOver(row.data(), clothRow.data(), clothFormat, backRow.data(), format, width);
    if (selection != nullptr) BlendRowByMask(selection->Address(tile.left, y), out, row.data(), out, width, format);
    else std::copy(row.begin(), row.end(), out);
    ReportProgress(c.progress, 0.0, 1.0, double(y - tile.top + 1) / tile.Height());
  }
  return 0;
}

}  // namespace kv
