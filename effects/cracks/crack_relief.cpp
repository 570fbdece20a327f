#include "effects/cracks/crack_relief.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "host/host_color.h"
#include "framework/render_selection.h"
#include "image/bevel.h"
#include "image/lighting.h"
#include "image/noise.h"

namespace kv {

namespace {

constexpr int32_t kStripRows = 64;  // the relief is built strip by strip, so its scratch stays small
// The cracks' walls have a faint sheen where they face the light.
constexpr double kHighlightBrightness = 30.0, kHighlightSharpness = 50.0;

// Doubles over a rectangle, row after row.
struct Field {
  Rect r;
  std::vector<double> v;

  void Cover(const Rect& area, double fill) {
    r = area;
    v.assign(size_t(area.Width()) * size_t(area.Height()), fill);
  }
  double& operator()(int32_t x, int32_t y) { return v[size_t(y - r.top) * size_t(r.Width()) + size_t(x - r.left)]; }
  double operator()(int32_t x, int32_t y) const {
    return v[size_t(y - r.top) * size_t(r.Width()) + size_t(x - r.left)];
  }
  // Bilinear; equal corners give their value exactly.
  double At(double x, double y) const {
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int32_t x0 = int32_t(fx0), y0 = int32_t(fy0);
    const double fx = x - fx0, fy = y - fy0;
    const double* p = &v[size_t(y0 - r.top) * size_t(r.Width()) + size_t(x0 - r.left)];
    const double* q = p + r.Width();
    const double top = p[0] + (p[1] - p[0]) * fx, bottom = q[0] + (q[1] - q[0]) * fx;
    return top + (bottom - top) * fy;
  }
};

// Distance from the selection's edge into it, in full-size pixels, kept
// where `out` reaches.
class CracksPrecisionBevel final : public Precision_Bevel {
 public:
  CracksPrecisionBevel(Field& out, double scale) : out_(out), scale_(scale) {}
  void Reached(Point p, PointD, double d) override { Store(p, d * scale_); }
  void UnreachedInside(Point p) override { Store(p, maxDistance * scale_); }
  void UnreachedOutside(Point p) override { Store(p, 0.0); }

 private:
  void Store(Point p, double d) {
    if (out_.r.Contains(p)) out_(p.x, p.y) = d;
  }
  Field& out_;
  double scale_;
};

// The squared distance from p to the segment's piece.
double SquaredDistanceToPiece(PointD p, const CrackSegment& s) {
  const double wx = p.x - s.start.x, wy = p.y - s.start.y;
  const double t = std::clamp(wx * s.direction.x + wy * s.direction.y, 0.0, s.step);
  const double dx = wx - s.direction.x * t, dy = wy - s.direction.y * t;
  return dx * dx + dy * dy;
}

// What the strips share.
struct Relief {
  RenderContext& c;
  const CrackNetwork& network;
  double s, top;             // render scale; the uncracked surface's height 4 D
  ShadingLight light;
  double march;              // the light's horizontal step per unit of its path, in render pixels
  int32_t shadowReach;       // render pixels a shadow may be cast across
  FBMField wander;           // displaces where the relief is read, render pixels
  int32_t wanderReach;
  std::vector<Rect> boxes;   // per segment: the render pixels its groove may carve
  double shadow[4], highlight[4];
};

// The widest a segment's groove gets, as a half width in full-size pixels.
double HalfWidthLimit(const CrackSegment& seg) { return 0.5 * seg.width * (seg.nearEdge ? 3.0 : 1.0); }

// Measures the edge distance over each cluster of `need` (rectangles in
// render pixels) into `e`, which covers them all.
int32_t EdgeDistances(const Relief& z, std::vector<Rect>& need, Field& e) {
  const double maxDistance = (3.0 + z.network.EdgeLength()) / z.s;
  const int32_t m = int32_t(std::ceil(maxDistance));
  // Rectangles that lie near each other are measured together; a margin of
  // one reach more keeps the front's paths to every pixel needed inside the
  // bevel's work, whatever the strip.
  std::sort(need.begin(), need.end(), [](const Rect& a, const Rect& b) { return a.left < b.left; });
  for (size_t i = 0; i < need.size();) {
    Rect cluster = need[i];
    for (++i; i < need.size() && need[i].left <= cluster.right + 2 * m; ++i)
      cluster = {cluster.left, std::min(cluster.top, need[i].top), std::max(cluster.right, need[i].right),
                 std::max(cluster.bottom, need[i].bottom)};
    const Rect area = cluster.Inflate(m, m);
    int32_t err = 0;
    ByteMask scaled;
    const ByteMask& selection = SelectionAtScale(z.c, area.Inflate(m + 1, m + 1), scaled, err);
    if (err != 0) return err;
    CracksPrecisionBevel bevel(e, z.s);
    bevel.Init(err, selection, maxDistance, area, true, 0.0, 0.0);
    if (err == 0) bevel.Run(err, z.c.abortTester, nullptr, 0.0, 1.0);
    if (err != 0) return err;
  }
  return 0;
}

// Carves the grooves of `segments` into height and shade over their rectangle.
void Carve(const Relief& z, const std::vector<int32_t>& segments, const Field& e, Field& height, Field& shade) {
  const double E = z.network.EdgeLength(), M = z.network.MinimumDrawnWidth();
  for (const int32_t k : segments) {
    const CrackSegment& seg = z.network.Segments()[size_t(k)];
    const Rect box = z.boxes[size_t(k)].Intersect(height.r);
    const double reach = HalfWidthLimit(seg);
    for (int32_t y = box.top; y < box.bottom; ++y)
      for (int32_t x = box.left; x < box.right; ++x) {
        const double q2 = SquaredDistanceToPiece({x * z.s, y * z.s}, seg);
        if (q2 >= reach * reach) continue;
        const double q = std::sqrt(q2);
        double g = seg.width, f = 0.0;
        if (seg.nearEdge) {
          const double d = e(x, y);
          if (d < E) g = 3.0 * seg.width + (seg.width - 3.0 * seg.width) * std::sqrt(d / E);
          if (d < M) f = 1.5 * seg.width * (1.0 - std::sqrt(d / M));
        }
        const double h = 0.5 * g, hf = 0.5 * f;
        if (q >= h) continue;
        double& sh = shade(x, y);
        if (q < hf - 1.0) sh = 0.0;
        else if (q < hf) sh = std::min(sh, 1.0 + q - hf);
        const double t = q / h;
        const double k = t < 0.5 ? 1.0 - 2.0 * t * t : 2.0 * (1.0 - t) * (1.0 - t);
        double& ht = height(x, y);
        ht = std::min(ht, (1.0 - k) * z.top);
      }
  }
}

// Reads the carved relief where the wander field moves each pixel, over the
// rectangle of `height` and `shade`; pixels no groove reaches keep the surface.
void Wander(const Relief& z, const std::vector<int32_t>& segments, const Field& carvedHeight,
            const Field& carvedShade, Field& height, Field& shade, std::vector<double>& dx, std::vector<double>& dy) {
  const Rect& F = height.r;
  std::vector<uint8_t> active(size_t(F.Width()) * size_t(F.Height()), 0);
  for (const int32_t k : segments) {
    const Rect r = z.boxes[size_t(k)].Inflate(z.wanderReach - 1, z.wanderReach - 1).Intersect(F);
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::fill_n(&active[size_t(y - F.top) * size_t(F.Width()) + size_t(r.left - F.left)], r.Width(), uint8_t(1));
  }
  dx.resize(size_t(F.Width()));
  dy.resize(size_t(F.Width()));
  for (int32_t y = F.top; y < F.bottom; ++y) {
    const uint8_t* a = &active[size_t(y - F.top) * size_t(F.Width())];
    for (int32_t i = 0; i < F.Width();) {
      if (a[i] == 0) {
        ++i;
        continue;
      }
      int32_t j = i;
      while (j < F.Width() && a[j] != 0) ++j;
      z.wander.VectorRow(y, F.left + i, 1.0, j - i, dx.data(), dy.data());
      for (int32_t n = 0; n < j - i; ++n) {
        const double px = F.left + i + n + dx[size_t(n)], py = y + dy[size_t(n)];
        height(F.left + i + n, y) = carvedHeight.At(px, py);
        shade(F.left + i + n, y) = carvedShade.At(px, py);
      }
      i = j;
    }
  }
}

// Lights the rows of `rows` from the relief.
int32_t Light(const Relief& z, const Rect& rows, const Field& height, const Field& shade) {
  ByteImage& out = *z.c.output;
  const PixelFormat& f = out.format;
  const int32_t colours = f.colorChannels;
  const double top = z.top;
  for (int32_t y = rows.top; y < rows.bottom; ++y) {
    if (z.c.ShouldAbort()) return kErrAborted;
    const uint8_t* mask = z.c.mask->Address(rows.left, y);
    uint8_t* px = out.Address(rows.left, y);
    for (int32_t x = rows.left; x < rows.right; ++x, ++mask, px += f.channelCount) {
      const double h = height(x, y), sh = shade(x, y);
      if (h == top && sh == 1.0) continue;  // the surface, unchanged
      if (h < top) {
        bool shadowed = false;
        for (int32_t i = 1;; ++i) {
          const double level = h + i * z.light.L.z;
          if (level > top) break;
          if (height.At(x + i * z.light.L.x * z.march, y + i * z.light.L.y * z.march) >= level) {
            shadowed = true;
            break;
          }
        }
        if (shadowed) {
          for (int32_t c = 0; c < colours; ++c) px[c] = uint8_t(px[c] + (int32_t(z.shadow[c]) - px[c]) * *mask / 255);
        } else {
          const PointD g{(height(x + 1, y) - height(x - 1, y)) * 0.5 / z.s,
                         (height(x, y + 1) - height(x, y - 1)) * 0.5 / z.s};
          const double g2 = g.x * g.x + g.y * g.y;
          const double ambient = 1.0 - 0.2 * (1.0 - std::clamp(h / top, 0.0, 1.0));
          double k = *mask / 255.0;
          if (h > 0.9 * top) k *= (top - h) / (0.1 * top);
          double v[4];
          for (int32_t c = 0; c < colours; ++c) v[c] = px[c];
          ApplyShadeTerms(v, colours, ShadeTerms(g, g2, ambient, k, z.light), z.shadow, z.highlight);
          for (int32_t c = 0; c < colours; ++c) px[c] = uint8_t(std::clamp(v[c] + 0.5, 0.0, 255.0));
        }
      }
      if (f.hasAlpha && sh != 1.0) {
        uint8_t& alpha = px[colours];
        const int32_t a = int32_t(std::clamp(alpha * sh + 0.5, 0.0, 255.0));
        alpha = z.c.hasTransparency ? uint8_t(a) : uint8_t(alpha + *mask * (a - alpha) / 255);
      }
    }
  }
  return 0;
}

}  // namespace

int32_t RenderRelief(RenderContext& c, const CrackNetwork& network, const ReliefLook& look, double from, double to) {
  ByteImage& out = *c.output;
  const Rect tile = out.bounds.Intersect(*c.tile);
  if (tile.IsEmpty()) return 0;
  const double D = std::clamp(look.depth, 0.01, 1.0);
  Relief z{c, network, c.scale, 4.0 * D, {}, 0.0, 0, {}, 0, {}, {}, {}};
  z.light = LightFromSettings(std::clamp(look.direction, 0.0, 360.0), std::clamp(90.0 - 60.0 * D, 0.0, 90.0),
                              kHighlightBrightness, kHighlightSharpness);
  z.march = 1.0 / z.s;
  const double flat = std::hypot(z.light.L.x, z.light.L.y);
  z.shadowReach = z.light.L.z > 0.0 ? int32_t(std::ceil(z.top / z.light.L.z * flat * z.march)) + 1 : 0;

  // Full-size lengths are divided by the scale where they are drawn, so the
  // preview shows the same wander as the final render.
  const double w = std::max(network.CrackWidth(), 0.01);
  const double amplitude = (0.2 + 0.8 * std::clamp(look.roughness, 0.0, 1.0)) * network.WidestWidth() / z.s;
  int32_t err = 0;
  z.wander.Init(err, {w / z.s, w / z.s}, amplitude, look.seed, 0.5, 1.0, false, 0, 0);
  if (err != 0) return err;
  z.wanderReach = int32_t(std::ceil(amplitude)) + 2;

  const BytePixel black = HostColorPixel(Color::RGB(0, 0, 0), out.format, 255);
  const BytePixel white = HostColorPixel(Color::RGB(255, 255, 255), out.format, 255);
  for (int32_t i = 0; i < 4; ++i) z.shadow[i] = black[i], z.highlight[i] = white[i];

  try {
    const std::vector<CrackSegment>& segments = network.Segments();
    z.boxes.reserve(segments.size());
    for (const CrackSegment& seg : segments) {
      const double r = HalfWidthLimit(seg) + 1.0;
      const PointD a = seg.start, b = seg.End();
      z.boxes.push_back({int32_t(std::floor((std::min(a.x, b.x) - r) / z.s)) - 1,
                         int32_t(std::floor((std::min(a.y, b.y) - r) / z.s)) - 1,
                         int32_t(std::ceil((std::max(a.x, b.x) + r) / z.s)) + 2,
                         int32_t(std::ceil((std::max(a.y, b.y) + r) / z.s)) + 2});
    }

    Field e, carvedHeight, carvedShade, height, shade;
    std::vector<int32_t> near;
    std::vector<Rect> edges;  // where segments near the selection's edge carve
    std::vector<double> dx, dy;
    for (int32_t top = tile.top; top < tile.bottom; top += kStripRows) {
      const Rect rows{tile.left, top, tile.right, std::min(tile.bottom, top + kStripRows)};
      ReportProgress(c.progress, from, to, double(top - tile.top) / tile.Height());
      if (c.ShouldAbort()) return kErrAborted;
      // The relief the rows' light reads, and the carving that relief reads.
      const Rect F = rows.Inflate(z.shadowReach + 1, z.shadowReach + 1);
      const Rect C = F.Inflate(z.wanderReach, z.wanderReach);
      near.clear();
      edges.clear();
      for (size_t k = 0; k < segments.size(); ++k) {
        const Rect box = z.boxes[k].Intersect(C);
        if (box.IsEmpty()) continue;
        near.push_back(int32_t(k));
        if (segments[k].nearEdge) edges.push_back(box);
      }
      if (near.empty()) continue;
      if (!edges.empty()) {
        e.Cover(C, 0.0);
        if ((err = EdgeDistances(z, edges, e)) != 0) return err;
      }
      carvedHeight.Cover(C, z.top);
      carvedShade.Cover(C, 1.0);
      Carve(z, near, e, carvedHeight, carvedShade);
      height.Cover(F, z.top);
      shade.Cover(F, 1.0);
      Wander(z, near, carvedHeight, carvedShade, height, shade, dx, dy);
      if ((err = Light(z, rows, height, shade)) != 0) return err;
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  ReportProgress(c.progress, from, to, 1.0);
  return 0;
}

}  // namespace kv
