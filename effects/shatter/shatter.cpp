#include "effects/shatter/shatter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "effects/shatter/glass_scene.h"
#include "parameters/parameters.h"
#include "g3d/opengl_library.h"
#include "host/host_calls.h"
#include "host/run_record.h"
#include "image/blur.h"
#include "platform/format.h"
#include "platform/string_table.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Explode::SetDefaults(void* block) const {
  ShatterBlock& b = *static_cast<ShatterBlock*>(block);
  b = {};
  b.filterId = kShatterEffect;
  b.unused8 = 10.0;
  b.pieceSize = {0.4, kUnitInches};
  b.unused32 = 0.0;
  b.thickness = 10.0;
  b.unused48 = 50.0;
  b.time = 25.0;
  b.tumble = 30.0;
  b.unused72 = 2.0;
  b.shadowOpacity = 80.0;
  b.shadowBlurWidth = {0.08, kUnitInches};
  b.unusedFlags[0] = b.unusedFlags[1] = false;
  b.passes = 4.0;
  b.randomSeed = 1;
  b.insideFill = {kFillTransparent, Color::RGB(255, 255, 255)};
  b.increaseContrast = 80.0;
  b.lightDirection = 135.0;
  b.highlightBrightness = 100.0;
  b.highlightSize = 20.0;
}

int32_t Explode::BuildParameters(ParameterList& list, void* block) {
  ShatterBlock& b = *static_cast<ShatterBlock*>(block);
  if (int32_t err = list.AddPage("Lighting")) return err;
  auto pieceSize = MakeParameter<LengthSliderParameter>("Piece Size", ps::FourCC("SHps"), &b.pieceSize);
  pieceSize->minimum = 5.0;
  pieceSize->maximum = 500.0;
  pieceSize->SetTrackSplit(0.8, 80.0);
  int32_t err = list.AddParameter(std::move(pieceSize));
  if (err == 0) err = AddSlider(list, "Thickness", ps::FourCC("LIth"), &b.thickness);
  if (err == 0) err = AddSlider(list, "Tumble", ps::FourCC("SHtu"), &b.tumble);
  if (err == 0) err = AddSlider(list, "Time", ps::FourCC("SHti"), &b.time);
  if (err == 0) err = AddSlider(list, "Shadow Opacity", ps::FourCC("Opct"), &b.shadowOpacity);
  if (err == 0) {
    auto blur = MakeParameter<LengthSliderParameter>("Shadow Blur Width", ps::FourCC("blur"), &b.shadowBlurWidth);
    blur->minimum = 3.0;
    blur->maximum = 100.0;
    blur->SetTrackSplit(0.8, 30.0);
    err = list.AddParameter(std::move(blur));
  }
  if (err == 0) err = list.AddParameter(MakeLayerFill("Inside Fill", &b.insideFill));
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  if (err == 0) err = AddSlider(list, "Increase Contrast", ps::FourCC("Cntr"), &b.increaseContrast, 0.0, 100.0, 1);
  if (err == 0) err = AddParameter<DirectionParameter>(list, "Light Direction", ps::FourCC("Drct"), &b.lightDirection, 1);
  if (err == 0) err = AddSlider(list, "Highlight Brightness", ps::FourCC("HIbr"), &b.highlightBrightness, 0.0, 100.0, 1);
  if (err == 0) err = AddSlider(list, "Highlight Size", ps::FourCC("HIsh"), &b.highlightSize, 0.0, 100.0, 1);
  return err;
}

Rect Explode::InputAreaFor(const Rect& area, const void*, double) const { return WholeImage(area); }

void Explode::InputAreaForTile(const Rect&, Rect& neededInput, Rect&, const void*, double) const {
  // Pieces fly anywhere, and every one carries its part of the image.
  neededInput = {0, 0, 1000000, 1000000};
}

// --- render ------------------------------------------------------------------

namespace {

using namespace shatter;

constexpr int32_t kSupersampling = 2;
// The surface is cut into windows of at most this many surface pixels, and
// no side longer than the renderer's limit.
constexpr int64_t kWindowBudget = int64_t(8) << 20;
constexpr int32_t kMaxSurfaceSide = 16384;
// How far behind the image plane the blast comes from, as a share of the
// area's diagonal: pieces near its centre fly at the viewer, the others
// outwards as well.
constexpr double kBlastDepth = 1.5;

void SayOpenGLMissing(const g3d::OpenGLRenderingLibrary& lib) {
  RunRecord* run = Session().run;
  if (run == nullptr) return;
  const std::string text = FormatText(strings::Text("Error - Failed Loading OpenGL"), lib.MissingPackage());
  const size_t n = std::min(text.size(), sizeof run->errorText - 1);
  std::memcpy(run->errorText, text.data(), n);
  run->errorText[n] = '\0';
}

// The selection at render pixels, from the mask that covers the whole area.
class AreaCoverage {
 public:
  explicit AreaCoverage(const RenderContext& c) : scale_(c.scale) {
    if (c.areaRecord != nullptr && c.scale == 1.0) mask_ = &c.areaRecord->mask;
    else if (c.maskSource == c.mask) mask_ = c.mask, scale_ = 1.0;
    else mask_ = c.maskSource;
  }
  // Pixels left .. right - 1 of row y.
  void Row(int32_t y, int32_t left, int32_t right, uint8_t* out) const {
    if (mask_ == nullptr) return void(std::fill(out, out + (right - left), uint8_t(255)));
    const Rect& m = mask_->bounds;
    const int32_t Y = scale_ == 1.0 ? y : int32_t(std::floor(y * scale_));
    if (Y < m.top || Y >= m.bottom) return void(std::fill(out, out + (right - left), uint8_t(0)));
    const uint8_t* row = mask_->Row(Y);
    for (int32_t x = left; x < right; ++x) {
      const int32_t X = scale_ == 1.0 ? x : int32_t(std::floor(x * scale_));
      *out++ = X >= m.left && X < m.right ? row[X - m.left] : uint8_t(0);
    }
  }

 private:
  const ByteMask* mask_ = nullptr;
  double scale_;
};

// The area's pixels for the pieces, premultiplied by their coverage, one
// texel of the edge repeated around them and padded to powers of two; and
// the coverage alone at half that size for the highlights.
struct Textures {
  std::shared_ptr<ByteImage> image, coverage;
  Point origin;
  Size size;
  bool opaque = true;  // every pixel of the area wholly covered
};

int32_t MakeTextures(const RenderContext& c, const Rect& region, Textures& t) {
  const ByteImage& in = *c.input;
  const PixelFormat& f = in.format;
  const int32_t w = std::bit_ceil(uint32_t(region.Width() + 2)), h = std::bit_ceil(uint32_t(region.Height() + 2));
  t.origin = {region.left - 1, region.top - 1};
  t.size = {w, h};
  int32_t err = 0;
  t.image = std::make_shared<ByteImage>(err, Rect{0, 0, w, h}, PixelFormat::Of(kModeRGB, 3, true));
  if (err != 0) return err;
  const AreaCoverage coverage(c);
  std::vector<uint8_t> mask(size_t(region.Width()));
  const int32_t n = f.colorChannels, step = f.channelCount, width = region.Width();
  uint8_t all = 255;
  for (int32_t j = 0; j < h; ++j) {
    uint8_t* out = t.image->Row(j);
    if (j > region.Height() + 1) {
      std::fill_n(out, size_t(w) * 4, uint8_t(0));
      continue;
    }
    const int32_t y = std::clamp(t.origin.y + j, region.top, region.bottom - 1);
    coverage.Row(y, region.left, region.right, mask.data());
    const uint8_t* px = in.Address(region.left, y);
    uint8_t* texel = out + 4;
    for (int32_t x = 0; x < width; ++x, px += step, texel += 4) {
      int32_t a = mask[size_t(x)];
      if (f.hasAlpha) a = a * px[n] / 255;
      for (int32_t k = 0; k < 3; ++k) texel[k] = uint8_t((px[n == 1 ? 0 : k] * a + 127) / 255);
      texel[3] = uint8_t(a);
      all &= uint8_t(a);
    }
    // The edge texels repeated, then the padding.
    std::copy_n(out + 4, 4, out);
    std::copy_n(out + size_t(width) * 4, 4, out + size_t(width + 1) * 4);
    std::fill(out + size_t(width + 2) * 4, out + size_t(w) * 4, uint8_t(0));
  }
  t.opaque = all == 255;
  t.coverage = std::make_shared<ByteImage>(err, Rect{0, 0, std::max(w / 2, 1), std::max(h / 2, 1)},
                                           PixelFormat::Of(kModeRGB, 3, false));
  if (err != 0) return err;
  for (int32_t j = 0; j < t.coverage->Height(); ++j) {
    const uint8_t* a = t.image->Row(std::min(2 * j, h - 1)) + 3;
    const uint8_t* b = t.image->Row(std::min(2 * j + 1, h - 1)) + 3;
    uint8_t* out = t.coverage->Row(j);
    for (int32_t i = 0; i < t.coverage->Width(); ++i, out += 3) {
      const int32_t x0 = std::min(2 * i, w - 1) * 4, x1 = std::min(2 * i + 1, w - 1) * 4;
      out[0] = out[1] = out[2] = uint8_t((a[x0] + a[x1] + b[x0] + b[x1] + 2) / 4);
    }
  }
  return 0;
}

// Where the pieces are at the moment shown, farthest from the eye first.
std::vector<Slab> BreakArea(const ShatterBlock& b, const Frame& frame, const Rect& area, double imagePixels,
                            double resolution) {
  auto plane = [&](double x, double y) { return Point2{(x - frame.cx) / frame.unit, (frame.cy - y) / frame.unit}; };
  const Polygon outline = {plane(area.left, area.bottom), plane(area.right, area.bottom), plane(area.right, area.top),
                           plane(area.left, area.top)};
  const double p = LengthToPixels(b.pieceSize, resolution);
  const double threshold = std::max(0.001, p * p / std::max(imagePixels, 1.0));
  RandomNumberGenerator rng(b.randomSeed);
  const std::vector<Polygon> pieces = CutPieces(outline, threshold, std::numbers::pi / 2.0, rng);

  const double diagonal = std::hypot(area.Width(), area.Height()) / frame.unit;
  const Point2 centre = plane((area.left + area.right) / 2.0, (area.top + area.bottom) / 2.0);
  const std::vector<Flight> flights = Flights(pieces, b.time / 100.0, b.tumble / 100.0, diagonal,
                                              {centre.x, centre.y, -kBlastDepth * diagonal}, rng);
  const double depth = 0.05 * b.thickness / 100.0 * diagonal;
  std::vector<Slab> slabs;
  slabs.reserve(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) slabs.push_back(PlaceSlab(pieces[i], flights[i], depth));
  auto distance = [](const Slab& s) {
    return s.centre.x * s.centre.x + s.centre.y * s.centre.y + (kEyeDistance - s.centre.z) * (kEyeDistance - s.centre.z);
  };
  std::stable_sort(slabs.begin(), slabs.end(), [&](const Slab& a, const Slab& b) { return distance(a) > distance(b); });
  return slabs;
}

// What the image shows under the pieces: the original outside the
// selection, the inside fill within it, darkened by the shadows; then the
// pieces over it. Premultiplied arithmetic, so that a transparent layer
// takes the shadows and the pieces' soft edges as coverage.
struct Compositor {
  PixelFormat format;
  uint32_t fillMode = kFillKeepOriginal;
  float fill[4] = {};
  float black[4] = {};
  float shadowOpacity = 0.0f;
  float passes = 1.0f;

  void Row(const uint8_t* src, const uint8_t* mask, const uint8_t* shadow, const uint16_t* sums, uint8_t* out,
           int32_t count) const {
    const int32_t n = format.colorChannels, step = format.channelCount;
    const bool alpha = format.hasAlpha;
    const float toUnit = 1.0f / (255.0f * passes);
    for (int32_t x = 0; x < count; ++x, src += step, out += step, sums += 4) {
      const float m = mask[x] / 255.0f;
      float colour[4], a = alpha ? src[n] / 255.0f : 1.0f;
      for (int32_t k = 0; k < n; ++k) colour[k] = src[k];
      if (fillMode == kFillWithColor) {
        for (int32_t k = 0; k < n; ++k) colour[k] += (fill[k] - colour[k]) * m;
        a += (1.0f - a) * m;
      } else if (fillMode == kFillTransparent) {
        a *= 1.0f - m;
      }
      const float s = shadow != nullptr ? shadowOpacity * shadow[x] / 255.0f : 0.0f;
      const float pieceAlpha = sums[3] * toUnit;
      const float below = 1.0f - pieceAlpha;
      const float a1 = s + a * (1.0f - s);
      const float a2 = pieceAlpha + a1 * below;
      for (int32_t k = 0; k < n; ++k) {
        const float behind = black[k] * s + colour[k] * a * (1.0f - s);
        const float piece = sums[n == 1 ? 0 : k] * toUnit * 255.0f;
        const float premultiplied = piece + behind * below;
        const float v = alpha ? (a2 > 0.0f ? premultiplied / a2 : 0.0f) : premultiplied;
        out[k] = uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
      }
      if (alpha) out[n] = uint8_t(std::clamp(a2 * 255.0f + 0.5f, 0.0f, 255.0f));
    }
  }
};

// Fills `out` from the half-resolution shadows, each pixel weighing the
// four nearest blocks by their distance from its centre (3/4 and 1/4 on
// each axis); blocks beyond the edge repeat the last.
void UpsampleShadows(const ByteMask& half, ByteMask& out) {
  const Rect& h = half.bounds;
  const Rect& o = out.bounds;
  // The two columns of blocks nearest to each pixel's centre: the nearer first.
  auto nearer = [](int32_t x) { return FloorDiv(x, 2); };
  auto farther = [](int32_t x) { return x % 2 == 0 ? FloorDiv(x, 2) - 1 : FloorDiv(x, 2) + 1; };
  auto clampX = [&](int32_t i) { return std::clamp(i, h.left, h.right - 1); };
  auto clampY = [&](int32_t j) { return std::clamp(j, h.top, h.bottom - 1); };
  const int32_t from = clampX(farther(o.left) < nearer(o.left) ? farther(o.left) : nearer(o.left));
  const int32_t to = clampX(nearer(o.right - 1) + 1) + 1;
  std::vector<uint16_t> column(size_t(std::max(to - from, 0)));
  for (int32_t y = o.top; y < o.bottom; ++y) {
    const uint8_t* a = half.Address(from, clampY(nearer(y)));
    const uint8_t* b = half.Address(from, clampY(farther(y)));
    for (size_t i = 0; i < column.size(); ++i) column[i] = uint16_t(3 * a[i] + b[i]);
    uint8_t* row = out.Row(y);
    for (int32_t x = o.left; x < o.right; ++x) {
      const int32_t near = clampX(nearer(x)) - from, far = clampX(farther(x)) - from;
      row[x - o.left] = uint8_t((3 * column[size_t(near)] + column[size_t(far)] + 8) >> 4);
    }
  }
}

}  // namespace

int32_t Explode::Render(RenderContext& c) {
  const ShatterBlock& b = *static_cast<const ShatterBlock*>(c.block);
  ByteImage& out = *c.output;
  const PixelFormat& f = out.format;
  if (f.colorChannels != 1 && f.colorChannels != 3) return kErrGeneral;

  GlassLook look;
  constexpr double kDegrees = std::numbers::pi / 180.0;
  look.azimuth = std::clamp(b.lightDirection, 0.0, 360.0) * kDegrees;
  look.elevation = std::clamp(50.0 - 0.3 * b.increaseContrast, 0.0, 90.0) * kDegrees;
  look.highlight = std::clamp(b.highlightBrightness, 0.0, 100.0) / 100.0;
  const double size = std::clamp(b.highlightSize, 0.0, 100.0) / 100.0;
  look.shininess = 1.0 + 127.0 * (1.0 - size) * (1.0 - size);
  look.firstChannelLit = f.mode == kModeLab;
  // No control sets the passes, so a block of another version may hold anything there.
  look.passes = int32_t(ClampNumber(b.passes, 1.0, 64.0) + 0.5);
  const float shadowOpacity = float(int32_t(std::clamp(b.shadowOpacity, 0.0, 100.0) + 0.5)) / 100.0f;
  look.shadows = shadowOpacity > 0.0f;
  // Shadows fall no longer than a light at 60 degrees throws them: from
  // lower, they land so far from the pieces that they read as stains.
  look.shadowElevation = std::max(look.elevation, std::numbers::pi / 3.0);

  g3d::OpenGLRenderingLibrary lib;
  g3d::RLResult r;
  lib.Initialize(r, 0);
  if (!r.Succeeded()) {
    SayOpenGLMissing(lib);
    return kErrGeneral;
  }
  lib.SetSupersampling(r, kSupersampling);
  ReportProgress(c.progress, 0.0, 1.0, 0.05);
  if (c.ShouldAbort()) return kErrAborted;

  const Rect& image = *c.imageBounds;
  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  const Frame frame{image.Height() / 2.0, (image.left + image.right) / 2.0, (image.top + image.bottom) / 2.0, c.scale};
  std::vector<Slab> slabs = BreakArea(b, frame, *c.area, double(image.Width()) * image.Height(), resolution);
  look.shadowLift = 0.05 * std::hypot(c.area->Width(), c.area->Height()) / frame.unit;

  const Rect region = c.sourceArea->Intersect(c.input->bounds);
  const Rect tile = c.tile->Intersect(*c.sourceBounds).Intersect(c.input->bounds);
  if (region.IsEmpty() || tile.IsEmpty()) return 0;
  Textures textures;
  if (int32_t err = MakeTextures(c, region, textures)) return err;

  // Windows over the tile, with room around each for the shadows' blur.
  const double blurRadius = look.shadows ? LengthToPixels(b.shadowBlurWidth, resolution) / c.scale : 0.0;
  const int32_t margin = blurRadius > 0.0 ? int32_t(BlurKernel(blurRadius).size()) + 1 : 1;
  const int32_t coreWidth = std::max(16, std::min(tile.Width(), kMaxSurfaceSide / kSupersampling - 2 * margin));
  const int64_t rows = kWindowBudget / (int64_t(kSupersampling) * kSupersampling * (coreWidth + 2 * margin));
  const int32_t coreHeight = int32_t(std::clamp<int64_t>(rows - 2 * margin, 16, tile.Height()));
  const Size window{coreWidth + 2 * margin, std::min(coreHeight + 2 * margin, kMaxSurfaceSide / kSupersampling)};

  ByteImage* result = nullptr;
  lib.CreateSurface(r, window.width, window.height, result);
  if (!r.Succeeded()) return kErrGeneral;
  if (result->Channels() != 4) return kErrGeneral;
  GlassScene scene(lib, frame, slabs, look, textures.origin, textures.size, kSupersampling);
  slabs = {};
  scene.Prepare(r, std::move(textures.image), std::move(textures.coverage), textures.opaque);
  if (!r.Succeeded()) return kErrGeneral;
  ReportProgress(c.progress, 0.0, 1.0, 0.1);

  Compositor compositor;
  compositor.format = f;
  compositor.fillMode = b.insideFill.mode;
  if (compositor.fillMode == kFillTransparent && !f.hasAlpha) compositor.fillMode = kFillWithColor;
  if (compositor.fillMode != kFillTransparent && compositor.fillMode != kFillKeepOriginal)
    compositor.fillMode = kFillWithColor;
  const BytePixel fill = HostColorPixel(b.insideFill.color, f, 255);
  for (int32_t k = 0; k < f.colorChannels; ++k) compositor.fill[k] = fill[k];
  if (f.mode == kModeLab) compositor.black[1] = compositor.black[2] = 128.0f;
  compositor.shadowOpacity = shadowOpacity;
  compositor.passes = float(look.passes);

  // The shadows of the whole tile first, at half the resolution: they are
  // blurred by more than a pixel anyway, and so cost a quarter of the
  // drawing. Their blocks lie on even positions, whatever the tile.
  ByteMask halfShadows;
  int32_t err = 0;
  if (look.shadows) {
    const Rect half = ReducedRect(tile.Inflate(margin + 1, margin + 1), 2);
    if ((err = halfShadows.Allocate(half, ByteMask::kFormat)) != 0) return err;
    for (int32_t top = half.top; top < half.bottom; top += window.height)
      for (int32_t left = half.left; left < half.right; left += window.width) {
        if (c.ShouldAbort()) return kErrAborted;
        scene.DrawHalfShadows(r, {left, top, left + window.width, top + window.height}, *result, halfShadows);
        if (!r.Succeeded()) return kErrGeneral;
      }
  }

  const int32_t columns = (tile.Width() + coreWidth - 1) / coreWidth;
  const int32_t bands = (tile.Height() + coreHeight - 1) / coreHeight;
  // One window's buffers, used by every window in turn.
  std::vector<uint16_t> sums;
  std::vector<uint8_t> shadowBytes(look.shadows ? size_t(window.width) * size_t(window.height) : 0);
  for (int32_t band = 0; band < bands; ++band) {
    for (int32_t column = 0; column < columns; ++column) {
      if (c.ShouldAbort()) return kErrAborted;
      const Rect core = Rect{tile.left + column * coreWidth, tile.top + band * coreHeight, 0, 0};
      const Rect area{core.left - margin, core.top - margin, core.left - margin + window.width,
                      core.top - margin + window.height};
      ByteMask shadows(area, shadowBytes.data(), 0);
      if (look.shadows) {
        UpsampleShadows(halfShadows, shadows);
        RowBuffer* buffer = nullptr;
        if ((err = shadows.RowView(buffer)) != 0) return err;
        Blur(err, *buffer, blurRadius, c.abortTester, false, nullptr, nullptr, 0.0, 1.0);
        if (err != 0) return err;
      }
      scene.DrawPieces(r, area, *result, sums, c.abortTester);
      if (!r.Succeeded()) return r.code == kErrAborted ? kErrAborted : kErrGeneral;

      const Rect done = area.Inflate(-margin, -margin).Intersect(tile);
      for (int32_t y = done.top; y < done.bottom; ++y) {
        const size_t offset = (size_t(y - area.top) * size_t(area.Width()) + size_t(done.left - area.left)) * 4;
        compositor.Row(c.input->Address(done.left, y), c.mask->Address(done.left, y),
                       look.shadows ? shadows.Address(done.left, y) : nullptr, sums.data() + offset,
                       out.Address(done.left, y), done.Width());
      }
      ReportProgress(c.progress, 0.1, 1.0, double(band * columns + column + 1) / double(bands * columns));
    }
  }
  return 0;
}

}  // namespace kv
