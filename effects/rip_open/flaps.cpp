#include "effects/rip_open/flaps.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "host/host_color.h"
#include "effects/rip_open/tear_points.h"
#include "image/blur.h"
#include "image/lighting.h"
#include "image/noise.h"
#include "image/pixel_ops.h"

namespace kv {

namespace {

constexpr uint16_t kNoFlap = 0xffff;
constexpr int32_t kBlock = 32;           // pixels share their nearest tear points' candidates per block
constexpr double kShadowOpacity = 0.6;
constexpr double kSteepest = 30.0;       // the roll's slope where it stands upright
constexpr double kLight = 0.75;          // the light's share: the rest reaches the roll's far side too

// One flap in the coordinates of its tear point: u runs along the axis into
// the selection. The paper up to `fold` stays; the rest rolls back over a
// cylinder of `radius` lying at the fold, and what is left after half a turn
// lies flat on top, back up.
struct Flap {
  PointD tear;
  PointD axis{0.0, 1.0};
  double length = 0.0;
  double fold = 0.0;
  double radius = 1.0;
  double sumX = 0.0, sumY = 0.0, count = 0.0;

  double U(int32_t x, int32_t y) const { return (x - tear.x) * axis.x + (y - tear.y) * axis.y; }
};

// Which flap each selected pixel belongs to, and how opaque its paper is:
// thin where two flaps meet, so the tear between them shows.
struct Cells {
  Rect r;
  std::vector<uint16_t> flap;
  std::vector<uint8_t> weight;

  size_t Index(int32_t x, int32_t y) const { return size_t(y - r.top) * size_t(r.Width()) + size_t(x - r.left); }
  // The paper of flap f at q, 0..1, bilinear between pixel centres.
  double Paper(uint16_t f, PointD q) const {
    const double x0 = std::floor(q.x), y0 = std::floor(q.y), fx = q.x - x0, fy = q.y - y0;
    const int32_t x = int32_t(x0), y = int32_t(y0);
    auto at = [&](int32_t u, int32_t v) -> double {
      if (!r.Contains(u, v)) return 0.0;
      const size_t i = Index(u, v);
      return flap[i] == f ? weight[i] : 0.0;
    };
    const double top = at(x, y) + (at(x + 1, y) - at(x, y)) * fx;
    const double bottom = at(x, y + 1) + (at(x + 1, y + 1) - at(x, y + 1)) * fx;
    return (top + (bottom - top) * fy) / 255.0;
  }
};

// Paper lifted off the ground, seen from above at one pixel: where it comes
// from along the axis, which side shows, and its slope along the axis.
struct Sheet {
  double u;
  bool back;
  double slope;
};

// The lifted sheets over position u of a flap, bottom first; their slopes
// only when asked, as the shadow needs none.
int32_t Sheets(const Flap& f, double u, Sheet* out, bool slopes = true) {
  int32_t n = 0;
  if (u >= f.fold && u <= f.fold + f.radius) {
    const double lower = std::asin(std::min(1.0, (u - f.fold) / f.radius));
    const double upper = std::numbers::pi - lower;
    out[n++] = {f.fold + f.radius * lower, false, slopes ? std::min(std::tan(lower), kSteepest) : 0.0};
    out[n++] = {f.fold + f.radius * upper, true, slopes ? std::max(std::tan(upper), -kSteepest) : 0.0};
  }
  if (u <= f.fold) {
    const double from = f.fold + std::numbers::pi * f.radius + (f.fold - u);
    if (from <= f.length + 1.0) out[n++] = {from, true, 0.0};
  }
  return n;
}

// Assigns every selected pixel to its nearest tear point, block by block,
// each block trying only the tear points that can be nearest or second
// nearest anywhere in it.
int32_t AssignCells(const ByteMask& selection, const std::vector<Point>& tears, const FBMField* wander,
                    std::vector<Flap>& flaps, Cells& cells, Abort_Tester* abort) {
  const Rect& r = cells.r;
  std::vector<uint16_t> near;
  std::vector<double> noise(kBlock);
  // Beyond this difference of distances the weight is 255 and the wander is
  // not sampled: the noise lies within its amplitude.
  const double farApart = 2.5 * ((wander != nullptr ? wander->amplitude : 0.0) + 1.0);
  for (int32_t top = r.top; top < r.bottom; top += kBlock) {
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
    for (int32_t left = r.left; left < r.right; left += kBlock) {
      const Rect b = Rect{left, top, left + kBlock, top + kBlock}.Intersect(r);
      // The second smallest farthest distance bounds every pixel's second nearest.
      double best = 1e300, second = 1e300;
      for (size_t i = 0; i < tears.size(); ++i) {
        const double dx = std::max(std::abs(tears[i].x - b.left), std::abs(tears[i].x - (b.right - 1)));
        const double dy = std::max(std::abs(tears[i].y - b.top), std::abs(tears[i].y - (b.bottom - 1)));
        const double d = dx * dx + dy * dy;
        second = std::min(second, std::max(best, d));
        best = std::min(best, d);
      }
      near.clear();
      for (size_t i = 0; i < tears.size(); ++i) {
        const double dx = std::max({0, b.left - tears[i].x, tears[i].x - (b.right - 1)});
        const double dy = std::max({0, b.top - tears[i].y, tears[i].y - (b.bottom - 1)});
        if (dx * dx + dy * dy <= second) near.push_back(uint16_t(i));
      }
      for (int32_t y = b.top; y < b.bottom; ++y) {
        bool noisy = false;
        const uint8_t* m = selection.Address(b.left, y);
        for (int32_t x = b.left; x < b.right; ++x) {
          const size_t at = cells.Index(x, y);
          if (m[x - b.left] <= 127) continue;
          double d1 = 1e300, d2 = 1e300;
          uint16_t nearest = kNoFlap, other = kNoFlap;
          for (const uint16_t i : near) {
            const double dx = x - tears[i].x, dy = y - tears[i].y, d = dx * dx + dy * dy;
            if (d < d1) d2 = d1, other = nearest, d1 = d, nearest = i;
            else if (d < d2) d2 = d, other = i;
          }
          Flap& f = flaps[nearest];
          f.sumX += x, f.sumY += y, f.count += 1.0;
          cells.flap[at] = nearest;
          // How far the pixel lies from the tear line: the difference of the
          // distances over how fast it grows there.
          d1 = std::sqrt(d1), d2 = std::sqrt(d2);
          // The growth below is at most 2, so a pixel this far from the line
          // is opaque paper whatever the wander: most pixels stop here.
          if (d2 - d1 >= farApart) {
            cells.weight[at] = 255;
            continue;
          }
          const double ux = d1 > 0.0 ? (x - tears[nearest].x) / d1 : 0.0, uy = d1 > 0.0 ? (y - tears[nearest].y) / d1 : 0.0;
          const double vx = (x - tears[other].x) / d2, vy = (y - tears[other].y) / d2;
          const double apart = (d2 - d1) / std::max(0.05, std::hypot(ux - vx, uy - vy));
          if (wander != nullptr && !noisy && apart < wander->amplitude + 1.0) {
            wander->ValueRow(y, b.left, 1.0, b.Width(), noise.data());
            noisy = true;
          }
          const double g = noisy ? apart + noise[size_t(x - b.left)] : apart;
          // A hairline of the fill shows between neighbouring flaps.
          cells.weight[at] = uint8_t(std::clamp(2.0 * g - 0.5, 0.0, 1.0) * 255.0 + 0.5);
        }
      }
    }
  }
  return 0;
}

// What every pixel's composite needs.
struct Paint {
  const ByteImage& source;
  const Cells& cells;
  const std::vector<Flap>& flaps;
  const FlapLook& look;
  PixelFormat paper;  // the source's colours with an alpha
  BytePixel fill, underside, black;
  double shadowColour[4], highlight[4];
  ShadingLight light;
  double ambient;  // keeps a flat sheet's colours
};

// The sheet's colour as paper, lit, with its opacity.
void SheetPixel(const Paint& z, const Flap& f, uint16_t id, int32_t x, int32_t y, double u, const Sheet& s,
                BytePixel& out) {
  const PointD q{x + (s.u - u) * f.axis.x, y + (s.u - u) * f.axis.y};
  const double a = z.cells.Paper(id, q);
  BytePixel colour(z.source.format);
  if (s.back && !z.look.sameUnderside) colour = z.underside;
  else SampleBilinear(z.source, z.source.bounds, q, z.underside, colour);
  const int32_t n = z.paper.colorChannels;
  const PointD g{s.slope * f.axis.x, s.slope * f.axis.y};
  double v[4];
  for (int32_t c = 0; c < n; ++c) v[c] = colour[c];
  ApplyShadeTerms(v, n, ShadeTerms(g, g.x * g.x + g.y * g.y, z.ambient, kLight, z.light), z.shadowColour,
                  z.highlight);
  for (int32_t c = 0; c < n; ++c) out[c] = uint8_t(std::clamp(v[c] + 0.5, 0.0, 255.0));
  const double own = z.source.format.hasAlpha && !(s.back && !z.look.sameUnderside) ? colour[n] : 255.0;
  out[n] = uint8_t(a * own + 0.5);
}

// The lifted paper's opacity at a pixel, for the shadow.
double Lifted(const Paint& z, int32_t x, int32_t y) {
  const uint16_t id = z.cells.flap[z.cells.Index(x, y)];
  if (id == kNoFlap) return 0.0;
  const Flap& f = z.flaps[id];
  const double u = f.U(x, y);
  Sheet sheets[3];
  const int32_t n = Sheets(f, u, sheets, false);
  double a = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double t = sheets[i].u - u;
    a = std::max(a, z.cells.Paper(id, {x + t * f.axis.x, y + t * f.axis.y}));
  }
  return a;
}

// The torn area's new pixel at (x, y): the fill, the flap's paper still in
// place, the shadow, and the lifted sheets. False where nothing changes.
bool Compose(const Paint& z, int32_t x, int32_t y, uint8_t shade, BytePixel& out) {
  const uint16_t id = z.cells.flap[z.cells.Index(x, y)];
  const Flap* f = id == kNoFlap ? nullptr : &z.flaps[id];
  const double u = f != nullptr ? f->U(x, y) : 0.0;
  Sheet sheets[3];
  const int32_t n = f != nullptr ? Sheets(*f, u, sheets) : 0;
  // The selection's soft rim, too faint to tear, stays as it was.
  const bool inPlace = f == nullptr || u <= f->fold;
  const uint8_t weight = f != nullptr ? z.cells.weight[z.cells.Index(x, y)] : 255;
  if (inPlace && weight == 255 && n == 0 && shade == 0) return false;

  const BytePixel original = z.source.At(x, y);
  out = z.look.fill.mode == kFillKeepOriginal ? original : z.fill;
  BytePixel layer(z.paper);
  if (inPlace && weight > 0) {
    std::copy_n(original.values, z.paper.colorChannels, layer.values);
    const double own = z.source.format.hasAlpha ? original.Alpha() : 255.0;
    layer[z.paper.colorChannels] = uint8_t(own * weight / 255.0 + 0.5);
    CompositeOver(out, layer, out);
  }
  if (shade > 0) {
    layer = z.black;
    layer[z.paper.colorChannels] = uint8_t(shade * kShadowOpacity + 0.5);
    CompositeOver(out, layer, out);
  }
  for (int32_t i = 0; i < n; ++i) {
    SheetPixel(z, *f, id, x, y, u, sheets[i], layer);
    if (layer.Alpha() > 0) CompositeOver(out, layer, out);
  }
  return true;
}

}  // namespace

int32_t DrawFlaps(const ByteImage& source, ByteImage& result, const ByteMask& selection,
                  const std::vector<Point>& tears, const FlapLook& look, RandomNumberGenerator& rng,
                  Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  const Rect r = selection.bounds.Intersect(result.bounds);
  if (r.IsEmpty() || tears.size() < 2) return 0;
  int32_t err = 0;
  FBMField wander;
  // Fine fibres on broad wobbles, as wide as the tear lines wander.
  const double cell = std::max(4.0, 4.0 * look.roughness);
  wander.Init(err, {cell, cell}, look.roughness, rng.Next(), 0.6, 1.0, false, 0, 0);
  if (err != 0) return err;

  try {
    std::vector<Flap> flaps(tears.size());
    for (size_t i = 0; i < tears.size(); ++i) flaps[i].tear = {double(tears[i].x), double(tears[i].y)};
    Cells cells{r, std::vector<uint16_t>(size_t(r.Width()) * size_t(r.Height()), kNoFlap),
                std::vector<uint8_t>(size_t(r.Width()) * size_t(r.Height()), 0)};
    if ((err = AssignCells(selection, tears, look.roughness > 0.0 ? &wander : nullptr, flaps, cells, abort)) != 0)
      return err;
    ReportProgress(progress, from, to, 0.25);

    // Each flap points from its tear point to the middle of its part, and
    // is as long as that part reaches along this axis.
    for (Flap& f : flaps) {
      if (f.count == 0.0) continue;
      const double dx = f.sumX / f.count - f.tear.x, dy = f.sumY / f.count - f.tear.y, d = std::hypot(dx, dy);
      if (d > 1e-6) f.axis = {dx / d, dy / d};
    }
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const uint16_t id = cells.flap[cells.Index(x, y)];
        if (id != kNoFlap) flaps[id].length = std::max(flaps[id].length, flaps[id].U(x, y));
      }
    for (Flap& f : flaps) {
      const double amount = std::clamp(look.amount * rng.Uniform(1.0 - 0.5 * look.variation, 1.0 + 0.5 * look.variation),
                                        0.01, 1.0);
      const double rolled = amount * f.length;
      f.fold = f.length - rolled;
      // Whatever has turned over lies within the flap's own part.
      f.radius = std::max({1.5, 0.22 * rolled, (rolled - f.fold) / std::numbers::pi});
    }

    const PixelFormat& format = result.format;
    Paint z{source, cells, flaps, look, PixelFormat::Of(format.mode, format.colorChannels, true), {}, {}, {}, {}, {},
            {}, 1.0};
    const uint32_t mode = look.fill.mode == kFillTransparent && !format.hasAlpha ? kFillWithColor : look.fill.mode;
    z.fill = HostColorPixel(look.fill.color, format, mode == kFillTransparent ? 0 : 255);
    z.underside = HostColorPixel(look.underside, format, 255);
    z.black = HostColorPixel(Color::RGB(0, 0, 0), z.paper, 255);
    const BytePixel white = HostColorPixel(Color::RGB(255, 255, 255), format, 255);
    for (int32_t i = 0; i < 4; ++i) z.shadowColour[i] = z.black[i], z.highlight[i] = white[i];
    z.light = LightFromSettings(135.0, 50.0, 30.0, 50.0);
    // A flat sheet keeps its colours: the ambient term undoes the diffuse one.
    const double diffuse = kLight * (1.0 - z.light.L.z);
    z.ambient = 1.0 - (1.0 - 1.0 / (1.0 - diffuse)) / kLight;

    // The shadow: the lifted paper's opacity, moved away from the light and blurred.
    ByteMask shadow;
    const int32_t offset = int32_t(std::lround(0.5 * look.shadowWidth));
    if (look.shadowWidth > 0.0) {
      const int32_t margin = int32_t(std::ceil(look.shadowWidth)) + 2 + offset;
      if ((err = shadow.Allocate(r.Inflate(margin, margin), ByteMask::kFormat)) != 0) return err;
      shadow.Fill(0);
      for (int32_t y = r.top; y < r.bottom; ++y) {
        if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
        for (int32_t x = r.left; x < r.right; ++x) {
          const double a = Lifted(z, x, y);
          uint8_t& s = shadow(x + offset, y + offset);
          s = std::max(s, uint8_t(a * 255.0 + 0.5));
        }
        ReportProgress(progress, from, to, 0.25 + 0.3 * (y - r.top + 1) / r.Height());
      }
      RowBuffer* rows = nullptr;
      if ((err = shadow.RowView(rows)) != 0) return err;
      Blur(err, *rows, look.shadowWidth, abort, false, nullptr, nullptr, 0.0, 1.0);
      if (err != 0) return err;
    }

    BytePixel fresh(format);
    for (int32_t y = r.top; y < r.bottom; ++y) {
      if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
      const uint8_t* m = selection.Address(r.left, y);
      for (int32_t x = r.left; x < r.right; ++x) {
        if (m[x - r.left] == 0) continue;
        const uint8_t shade = shadow.IsEmpty() ? 0 : shadow(x, y);
        if (!Compose(z, x, y, shade, fresh)) continue;
        BytePixel target = result.At(x, y);
        BlendByMask(m[x - r.left], source.At(x, y), fresh, target);
      }
      ReportProgress(progress, from, to, 0.6 + 0.4 * (y - r.top + 1) / r.Height());
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
