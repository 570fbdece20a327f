#include "effects/rirazi_vevora_didura/cloud.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "host/host_color.h"
#include "image/lanes.h"
#include "image/noise.h"
#include "image/pixel_ops.h"
#include "image/vector_kernels.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Cloud::SetDefaults(void* block) const {
  CloudBlock& b = *static_cast<CloudBlock*>(block);
  b = {};
  b.filterId = kCloudEffect;
  b.puffSize = {1.3779, kUnitInches};
  b.coverage = 30.0;
  b.edgeSharpness = 50.0;
  b.baseColor = Color::RGB(210, 210, 210);
  b.edgeColor = Color::RGB(255, 255, 255);
  b.cloudMode = kCloudWispy;
  b.randomSeed = 1;
  b.drawSky = true;
  b.zenithColor = Color::RGB(0, 108, 250);
  b.horizonColor = Color::RGB(130, 170, 200);
  b.haze = 55.0;
  b.skyGradient = 56.0;
  b.seamlessTile = false;
  b.perspective = true;
  b.viewElevation = 4.0;
  b.fieldOfView = 45.0;
  b.cloudHeight = 30.0;
}

namespace {

constexpr uint32_t kPerspectiveKey = ps::FourCC("CLpe");
constexpr uint32_t kElevationKey = ps::FourCC("CLel");
constexpr uint32_t kFieldOfViewKey = ps::FourCC("CLfv");
constexpr uint32_t kHeightKey = ps::FourCC("CLhe");
constexpr uint32_t kZenithKey = ps::FourCC("CLzc");
constexpr uint32_t kHorizonKey = ps::FourCC("CLhc");
constexpr uint32_t kHazeKey = ps::FourCC("CLhp");
constexpr uint32_t kGradientKey = ps::FourCC("CLgp");

constexpr int32_t kCameraPage = 1;

}  // namespace

int32_t Cloud::BuildParameters(ParameterList& list, void* block) {
  CloudBlock& b = *static_cast<CloudBlock*>(block);
  if (int32_t err = list.AddPage("Camera and Sky")) return err;

  auto puff = MakeParameter<LengthSliderParameter>("Puff Size", ps::FourCC("PUsi"), &b.puffSize);
  puff->minimum = 10.0;
  puff->maximum = 999.0;
  puff->SetTrackSplit(0.8, 200.0);
  int32_t err = list.AddParameter(std::move(puff));
  if (err == 0) err = AddSlider(list, "Coverage", ps::FourCC("COve"), &b.coverage);
  if (err == 0) err = AddSlider(list, "Edge Sharpness", ps::FourCC("EDsh"), &b.edgeSharpness);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Base Color", ps::FourCC("BAcl"), &b.baseColor);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Edge Color", ps::FourCC("SHcl"), &b.edgeColor);
  if (err == 0) {
    auto mode = MakeParameter<ListboxParameter>("Cloud Mode", ps::FourCC("CLmo"), &b.cloudMode);
    mode->enumType = ps::FourCC("CLty");
    mode->AddItem(kCloudFluffy, ps::FourCC("CLfb"), "Fluffy");
    mode->AddItem(kCloudWispy, ps::FourCC("CLvl"), "Wispy");
    mode->AddItem(kCloudPuffy, ps::FourCC("CLtu"), "Puffy");
    err = list.AddParameter(std::move(mode));
  }
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  if (err == 0) {
    auto tile = MakeParameter<CheckboxParameter>("Seamless Tile", ps::FourCC("TIle"), &b.seamlessTile, kCameraPage);
    tile->text.help = "Cloud Seamless Tile Help";
    err = list.AddParameter(std::move(tile));
  }
  if (err == 0)
    err = AddParameter<CheckboxParameter>(list, "Perspective", kPerspectiveKey, &b.perspective, kCameraPage);
  if (err == 0) err = AddSlider(list, "View Elevation", kElevationKey, &b.viewElevation, 0.0, 90.0, kCameraPage);
  if (err == 0) err = AddSlider(list, "Field of View", kFieldOfViewKey, &b.fieldOfView, 5.0, 90.0, kCameraPage);
  if (err == 0) err = AddSlider(list, "Cloud Height", kHeightKey, &b.cloudHeight, 1.0, 100.0, kCameraPage);
  if (err == 0)
    err = AddParameter<CheckboxParameter>(list, "Draw Sky Background", ps::FourCC("CLsk"), &b.drawSky, kCameraPage);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Zenith Color", kZenithKey, &b.zenithColor, kCameraPage);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Horizon Color", kHorizonKey, &b.horizonColor, kCameraPage);
  if (err == 0) err = AddSlider(list, "Haze", kHazeKey, &b.haze, 0.0, 100.0, kCameraPage);
  if (err == 0) err = AddSlider(list, "Sky Gradient", kGradientKey, &b.skyGradient, 0.0, 100.0, kCameraPage);
  return err;
}

int32_t Cloud::UpdateParameterStates(ParameterList& list, const void* block) {
  const CloudBlock& b = *static_cast<const CloudBlock*>(block);
  const bool camera = b.perspective && !b.seamlessTile;
  for (auto& p : list) {
    if (p->HasKey(kElevationKey) || p->HasKey(kFieldOfViewKey) || p->HasKey(kHeightKey)) p->Enable(camera);
    else if (p->HasKey(kPerspectiveKey)) p->Enable(!b.seamlessTile);
    else if (p->HasKey(kZenithKey)) p->Enable(b.drawSky);
    else if (p->HasKey(kHorizonKey) || p->HasKey(kHazeKey) || p->HasKey(kGradientKey)) p->Enable(b.drawSky && camera);
    else p->Enable(true);
  }
  return 0;
}

void Cloud::TileInputArea(const Rect& tile, const Rect&, const void*, double, Rect& neededInput,
                          Rect& neededExtra) const {
  neededInput = tile;
  neededExtra = tile;
}

// --- render ------------------------------------------------------------------

namespace {

constexpr double kDegree = 0.017453292522222223;
constexpr double kHorizon = 1.570796327;
constexpr double kTwoOverPi = 0.6366197722844561;

// Noise rows start at multiples of this many pixels, so that a pixel's sample
// position does not depend on where its tile begins.
constexpr int32_t kSpan = 256;

int32_t SpanStart(int32_t x) { return x - ((x % kSpan) + kSpan) % kSpan; }

// Where the field is sampled. In the camera mode the field lies on the cloud
// plane and is measured in points; otherwise it is the picture itself.
struct View {
  bool camera = false;
  double scale = 1.0, pointsPerPixel = 1.0;
  double height = 0.0, tilt = 0.0, halfWidth = 0.0, halfHeight = 0.0, focal = 1.0;

  double U(int32_t x) const {
    return camera ? halfWidth + (x * scale * pointsPerPixel - halfWidth) * height / focal : double(x);
  }
  double StepU() const { return camera ? scale * pointsPerPixel * height / focal : 1.0; }

  // The row's v on the plane and its view angle; false beyond the horizon.
  bool Row(int32_t y, double& v, double& phi) const {
    if (!camera) {
      v = y;
      phi = 0.0;
      return true;
    }
    phi = std::atan((y * scale * pointsPerPixel - halfHeight) / focal) + tilt;
    if (phi > kHorizon || phi < -kHorizon) return false;
    v = std::tan(phi) * height;
    return true;
  }
};

// Cloud density 0..1 along rows of the field, in the block's character.
class Density {
 public:
  int32_t Init(const CloudBlock& b, double puff, double fieldScale, double warp, int32_t periodX, int32_t periodY) {
    mode_ = b.cloudMode;
    warp_ = warp;
    if (mode_ == kCloudPuffy) {
      // Turbulence, initialised as turbulence: its own initialisation takes
      // the fractal field's arguments and alone sets the turbulence's extra
      // weight and the offset its values are lowered by.
      auto t = std::unique_ptr<TurbulenceField>(new (std::nothrow) TurbulenceField);
      if (!t) return kErrOutOfMemory;
      int32_t err = 0;
      t->Init(err, {puff, puff}, 1.0, b.randomSeed, 0.5, fieldScale, b.seamlessTile, periodX, periodY);
      field_ = std::move(t);
      return err;
    }
    field_.reset(new (std::nothrow) FBMField);
    if (!field_) return kErrOutOfMemory;
    int32_t err = 0;
    field_->Init(err, {puff, puff}, 1.0, b.randomSeed, 0.5, fieldScale, b.seamlessTile, periodX, periodY);
    if (err == 0 && mode_ == kCloudWispy) {
      wa_.resize(kSpan);
      wb_.resize(kSpan);
    }
    return err;
  }

  // d[i] = density at (u0 + i * du, v) for i < n <= kSpan.
  void Row(double v, double u0, double du, int32_t n, double* d) {
    if (mode_ == kCloudWispy) {
      // The field displaced by two samples of itself taken further along.
      const double r = warp_, w = 0.3 * r;
      field_->ValueRow(v + 0.5 * r, u0 + 0.5 * r, du, n, wa_.data());
      field_->ValueRow(v + r, u0 + r, du, n, wb_.data());
      for (int32_t i = 0; i < n; ++i) {
        wa_[size_t(i)] = u0 + i * du + w * wa_[size_t(i)];
        wb_[size_t(i)] = v + w * wb_[size_t(i)];
      }
      field_->ValuesAt(wa_.data(), wb_.data(), n, d);
    } else {
      field_->ValueRow(v, u0, du, n, d);
    }
    if (mode_ == kCloudPuffy)
      for (int32_t i = 0; i < n; ++i) d[i] = std::clamp(d[i], 0.0, 1.0);
    else
      for (int32_t i = 0; i < n; ++i) d[i] = std::clamp(0.5 + 0.5 * d[i], 0.0, 1.0);
  }

 private:
  std::unique_ptr<FBMField> field_;
  int32_t mode_ = kCloudFluffy;
  double warp_ = 0.0;
  std::vector<double> wa_, wb_;
};

// The clouds' colours and opacity curve.
struct Paint {
  double base[4] = {}, edge[4] = {};
  double contrast = 1.0, offset = 0.0;
};

// Clouds of densities d laid over `count` pixels of `under` (`underStep`
// bytes apart; 0 for one pixel under all, the sky) into `out`.
struct Layer {
  const Paint& paint;
  const double* d;
  int32_t count;
  double haze;
  const uint8_t* under;
  int32_t underStep;
  uint8_t* out;
};
using CompositeFn = void (*)(const Layer&);

// The compositing a vector of pixels at a time, compiled for each layout and
// vector path.
template <int32_t N, bool Alpha>
struct Composite {
  static constexpr int32_t colors = Alpha ? N - 1 : N;

  template <int W>
  [[gnu::always_inline]] static void Run(const Layer& r) {
    using D = typename Wide<W>::D;
    const Paint& p = r.paint;
    const D zero = {}, one = Splat<W>(1.0);
    for (int32_t i = 0; i < r.count; i += W) {
      const int32_t n = std::min(W, r.count - i);
      D di;
      for (int l = 0; l < W; ++l) di[l] = r.d[i + std::min(l, n - 1)];
      D o[N], px[N];
      LoadPixels<W, N>(r.under + ptrdiff_t(i) * r.underStep, r.underStep, n, o);
      const D level = di * p.contrast + p.offset;
      const D a = (level < zero ? zero : (one < level ? one : level)) * r.haze;
      if constexpr (!Alpha) {
        for (int32_t k = 0; k < colors; ++k)
          px[k] = ToBytes<W>(o[k] * (1.0 - a) + (p.base[k] * di + p.edge[k] * (1.0 - di)) * a + 0.5);
      } else {
        const D below = o[colors] / 255.0 * (1.0 - a), total = a + below;
        // Where nothing is left to see the pixel stays as it was.
        const D divisor = total <= zero ? one : total;
        for (int32_t k = 0; k < colors; ++k) {
          const D v = ToBytes<W>((o[k] * below + (p.base[k] * di + p.edge[k] * (1.0 - di)) * a) / divisor + 0.5);
          px[k] = total <= zero ? o[k] : v;
        }
        const D opacity = __builtin_convertvector(
            __builtin_convertvector((one < total ? one : total) * 255.0, typename Wide<W>::I), D);
        px[colors] = total <= zero ? o[colors] : opacity;
      }
      StorePixels<W, N>(px, n, r.out + ptrdiff_t(i) * N);
    }
  }
  static void Baseline(const Layer& r) { Run<2>(r); }
  KV_FOR_AVX2 static void Avx2(const Layer& r) { Run<4>(r); }
  KV_FOR_AVX512 static void Avx512(const Layer& r) { Run<8>(r); }
  static CompositeFn ForPath() {
    switch (CurrentVectorPath()) {
      case VectorPath::kAvx512: return Avx512;
      case VectorPath::kAvx2: return Avx2;
      default: return Baseline;
    }
  }
};

// The sky at view angle phi: the zenith colour moved toward the horizon colour.
void SkyPixel(const CloudBlock& b, double phi, const BytePixel& zenith, const BytePixel& horizon, uint8_t* out) {
  double g = 0.0;
  if (b.skyGradient > 0.0 && b.perspective) {
    const double s = std::min(std::fabs(phi * kTwoOverPi), 1.0);
    g = std::pow(0.94, (1.0 - s) * 100.0 / (b.skyGradient / 8.0));
  }
  const PixelFormat& f = zenith.format;
  const int32_t colors = f.colorChannels;
  if (!f.hasAlpha) {
    for (int32_t k = 0; k < colors; ++k) out[k] = uint8_t(zenith[k] + std::trunc((horizon[k] - zenith[k]) * g));
    return;
  }
  // Both colours are opaque (their bytes start at 255), so d > 0.
  const double az = zenith.Alpha(), ah = horizon.Alpha(), d = az * (1.0 - g) + ah * g;
  for (int32_t k = 0; k < colors; ++k)
    out[k] = uint8_t(zenith[k] + std::trunc((horizon[k] - zenith[k]) * ah * g / d));
  out[colors] = uint8_t(az + std::trunc((ah - az) * g));
}

double HazeFactor(const CloudBlock& b, double phi) {
  if (!(b.haze > 0.0) || !b.perspective) return 1.0;
  const double t = std::clamp(std::fabs(phi * kTwoOverPi), 0.0, 1.0);
  return 1.0 - std::pow(0.9, (1.0 - t) * 100.0 / (b.haze / 32.0));
}

}  // namespace

int32_t Cloud::Render(RenderContext& c) {
  const CloudBlock& b = *static_cast<const CloudBlock*>(c.block);
  const Rect tile = *c.tile;
  if (tile.IsEmpty()) return 0;
  const PixelFormat& f = c.output->format;

  CompositeFn composite = nullptr;
  const auto pick = [&]<int32_t N, bool Alpha>() {
    composite = Composite<N, Alpha>::ForPath();
    return 0;
  };
  if (ForPixelLayout(f, pick, kErrGeneral) != 0) return kErrGeneral;
  const int32_t step = f.channelCount;

  Paint paint;
  paint.contrast = 100.0 / (101.0 - 0.6 * b.edgeSharpness);
  paint.offset = 0.5 - paint.contrast * (0.95 - 0.01 * b.coverage);
  const BytePixel base = HostColorPixel(b.baseColor, f, 255), edge = HostColorPixel(b.edgeColor, f, 255);
  for (int32_t k = 0; k < std::min(f.colorChannels, 4); ++k) {
    paint.base[k] = base[k];
    paint.edge[k] = edge[k];
  }
  const BytePixel zenith = HostColorPixel(b.zenithColor, f, 255), horizon = HostColorPixel(b.horizonColor, f, 255);

  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  View view;
  view.camera = b.perspective && !b.seamlessTile;
  view.scale = c.scale;
  view.pointsPerPixel = 72.0 / resolution;
  // A block from elsewhere may hold a size the slider would not allow.
  const double puffPixels = std::max(LengthToPixels(b.puffSize, resolution), 1.0);
  // The warp is divided by the scale in both views, though on the camera's
  // plane, which is the same at every zoom, that shrinks it in previews.
  double puff = puffPixels, fieldScale = c.scale;
  const double warp = puffPixels / c.scale * view.pointsPerPixel;
  if (view.camera) {
    puff *= view.pointsPerPixel;
    fieldScale = 1.0;
    const Rect& image = *c.imageBounds;
    view.height = 10.0 * b.cloudHeight;
    view.tilt = (90.0 - (b.viewElevation + b.fieldOfView / 2.0)) * kDegree;
    view.halfHeight = 0.5 * image.Height() * view.pointsPerPixel;
    view.halfWidth = 0.5 * image.Width() * view.pointsPerPixel;
    view.focal = view.halfHeight / std::tan(b.fieldOfView / 2.0 * kDegree);
  }
  const int32_t periodX = int32_t(c.sourceArea->Width() * c.scale), periodY = int32_t(c.sourceArea->Height() * c.scale);

  Density density;
  std::vector<double> d;
  BytePixel sky(f);
  try {
    if (int32_t err = density.Init(b, puff, fieldScale, warp, periodX, periodY)) return err;
    d.resize(kSpan);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }

  // Rows rather than columns: the field and the sky are row forms, and the
  // pixels come out the same in either order.
  const double du = view.StepU();
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    double v, phi;
    if (view.Row(y, v, phi)) {
      const double haze = HazeFactor(b, phi);
      if (b.drawSky) SkyPixel(b, phi, zenith, horizon, sky.values);
      // The sky, or the picture, under the clouds.
      const uint8_t* under = b.drawSky ? sky.values : c.input->Address(tile.left, y);
      const int32_t underStep = b.drawSky ? 0 : step;
      uint8_t* out = c.output->Address(tile.left, y);
      for (int32_t x0 = SpanStart(tile.left); x0 < tile.right; x0 += kSpan) {
        const int32_t from = std::max(x0, tile.left), to = std::min(x0 + kSpan, tile.right);
        density.Row(v, view.U(x0), du, to - x0, d.data());
        composite({paint, d.data() + (from - x0), to - from, haze, under + (from - tile.left) * underStep, underStep,
                   out + (from - tile.left) * step});
      }
    }
    ReportProgress(c.progress, 0.0, 1.0, double(y - tile.top + 1) / tile.Height());
  }
  return 0;
}

}  // namespace kv
