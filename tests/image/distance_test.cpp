#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

#include "image/bevel.h"
#include "image/contour.h"
#include "image/distance.h"
#include "image/random.h"

namespace kv {
namespace {

// --- masks and the brute-force reference ------------------------------------

ByteMask MakeMask(const Rect& r, uint8_t fill = 0) {
  int32_t err = 0;
  ByteMask m(err, r);
  EXPECT_EQ(err, 0);
  m.Fill(fill);
  return m;
}

// Mask value with everything outside the raster reading 0.
int Value(const ByteMask& m, int32_t x, int32_t y) { return m.bounds.Contains(x, y) ? m(x, y) : 0; }
bool In(const ByteMask& m, int32_t x, int32_t y) { return Value(m, x, y) > 127; }

// Where the level 127.5 crosses the segment from value a at t = 0 to b at t = 1.
double Cross(int a, int b) { return (127.5 - a) / double(b - a); }

// Every contour point, window by window, over the raster grown by one.
std::vector<PointD> ReferenceContour(const ByteMask& m) {
  std::vector<PointD> points;
  const Rect& r = m.bounds;
  for (int32_t y = r.top - 1; y < r.bottom; ++y)
    for (int32_t x = r.left - 1; x < r.right; ++x) {
      const int v[4] = {Value(m, x, y), Value(m, x + 1, y), Value(m, x, y + 1), Value(m, x + 1, y + 1)};
      std::vector<PointD> c;
      if ((v[0] > 127) != (v[1] > 127)) c.push_back({x + Cross(v[0], v[1]), double(y)});
      if ((v[2] > 127) != (v[3] > 127)) c.push_back({x + Cross(v[2], v[3]), y + 1.0});
      if ((v[0] > 127) != (v[2] > 127)) c.push_back({double(x), y + Cross(v[0], v[2])});
      if ((v[1] > 127) != (v[3] > 127)) c.push_back({x + 1.0, y + Cross(v[1], v[3])});
      if (c.empty()) continue;
      PointD mean;
      for (const PointD& p : c) mean = {mean.x + p.x / c.size(), mean.y + p.y / c.size()};
      points.push_back(mean);
    }
  return points;
}

double Nearest(const std::vector<PointD>& contour, Point p) {
  double best = 1e30;
  for (const PointD& o : contour) best = std::min(best, std::hypot(p.x - o.x, p.y - o.y));
  return best;
}

// Random blobs with soft edges, plus speckle, so that contours cross windows
// at every fraction and small islands and holes appear.
ByteMask RandomMask(int seed, const Rect& r) {
  RandomNumberGenerator rng(seed);
  ByteMask m = MakeMask(r);
  struct Blob { double x, y, radius; bool hole; };
  std::vector<Blob> blobs;
  for (int i = 0; i < 6; ++i)
    blobs.push_back({r.left + rng.Uniform(r.Width()), r.top + rng.Uniform(r.Height()), 2.0 + rng.Uniform(9.0),
                     rng.Chance(0.3)});
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = r.left; x < r.right; ++x) {
      double v = 0.0;
      for (const Blob& b : blobs) {
        const double edge = std::clamp(b.radius - std::hypot(x - b.x, y - b.y), -1.0, 1.0);
        v = b.hole ? std::min(v, 0.5 - 0.5 * edge) : std::max(v, 0.5 + 0.5 * edge);
      }
      if (rng.Chance(0.02)) v = 1.0 - v;
      m(x, y) = uint8_t(v * 255.0);
    }
  return m;
}

// --- a transform that records every hook call ---------------------------------

enum Kind { kNone, kReached, kInside, kOutside };

struct ReachedCall {
  Point position;
  PointD origin;
  double distance;
};

struct Record {
  Kind kind = kNone;
  int calls = 0;
  double distance = 0.0;
  PointD origin;
};

class RecordingTransform final : public DistanceTransform {
 public:
  explicit RecordingTransform(const Rect& r) : bounds(r), records(size_t(r.Width()) * r.Height()) {}

  void Reached(Point p, PointD origin, double d) override {
    Put(p, kReached, d, origin);
    sequence.push_back({p, origin, d});
  }
  void UnreachedInside(Point p) override { Put(p, kInside, 0.0, {}); }
  void UnreachedOutside(Point p) override { Put(p, kOutside, 0.0, {}); }

  Record& At(int32_t x, int32_t y) { return records[size_t(y - bounds.top) * bounds.Width() + (x - bounds.left)]; }
  int32_t Run(const ByteMask& mask, double maxDistance, Abort_Tester* abort = nullptr) {
    int32_t err = -1;
    Init(err, mask, maxDistance, bounds, 0.0, 1.0);
    if (err == 0) DistanceTransform::Run(err, abort, nullptr, 0.0, 1.0);
    return err;
  }

  Rect bounds;
  std::vector<Record> records;
  std::vector<ReachedCall> sequence;
  bool outsideArea = false;

 private:
  void Put(Point p, Kind k, double d, PointD o) {
    if (!bounds.Contains(p)) {
      outsideArea = true;
      return;
    }
    Record& r = At(p.x, p.y);
    r.kind = k;
    ++r.calls;
    r.distance = d;
    r.origin = o;
  }
};

// The bevel's hooks, recorded the same way; distances come unsigned.
class RecordingBevel final : public Precision_Bevel {
 public:
  explicit RecordingBevel(const Rect& r) : recorder(r) {}
  void Reached(Point p, PointD origin, double d) override { recorder.Reached(p, origin, d); }
  void UnreachedInside(Point p) override { recorder.UnreachedInside(p); }
  void UnreachedOutside(Point p) override { recorder.UnreachedOutside(p); }
  int32_t Run(const ByteMask& mask, double maxDistance, bool into) {
    int32_t err = -1;
    Init(err, mask, maxDistance, recorder.bounds, into, 0.0, 1.0);
    if (err == 0) Precision_Bevel::Run(err, nullptr, nullptr, 0.0, 1.0);
    return err;
  }
  Record& At(int32_t x, int32_t y) { return recorder.At(x, y); }

  RecordingTransform recorder;
};

// Runs the transform over `area` and compares every pixel with the brute
// force; returns the largest excess of a reported distance over the exact one.
double CheckAgainstReference(const ByteMask& mask, const Rect& area, double maxDistance) {
  RecordingTransform t(area);
  EXPECT_EQ(t.Run(mask, maxDistance), 0);
  EXPECT_FALSE(t.outsideArea);
  const std::vector<PointD> contour = ReferenceContour(mask);
  double worst = 0.0;
  for (int32_t y = area.top; y < area.bottom; ++y)
    for (int32_t x = area.left; x < area.right; ++x) {
      const Record& r = t.At(x, y);
      EXPECT_EQ(r.calls, 1) << x << "," << y;
      const double exact = Nearest(contour, {x, y});
      const bool inside = In(mask, x, y);
      if (r.kind == kReached) {
        EXPECT_EQ(r.distance < 0.0, inside) << x << "," << y;
        EXPECT_LE(std::fabs(r.distance), maxDistance);
        // Every distance is measured to a real contour point.
        EXPECT_GE(std::fabs(r.distance), exact - 1e-9) << x << "," << y;
        EXPECT_NEAR(std::fabs(r.distance), std::hypot(x - r.origin.x, y - r.origin.y), 1e-9);
        worst = std::max(worst, std::fabs(r.distance) - exact);
      } else {
        // Pixels within reach of the contour must be reached, unless the
        // excess carries them just past the limit.
        EXPECT_GT(exact, maxDistance - 0.25) << x << "," << y;
        EXPECT_EQ(r.kind, inside ? kInside : kOutside) << x << "," << y;
      }
    }
  return worst;
}

// --- contour cells --------------------------------------------------------------

TEST(ContourIterator, VisitsExactlyTheMixedWindowsInRowOrder) {
  const Rect r{3, -2, 23, 14};
  const ByteMask m = RandomMask(7, r);
  for (const Rect area : {r, Rect{6, 1, 15, 9}}) {
    // The walk reaches one further out only on the raster's own left and top edges.
    const int32_t left = area.left == r.left ? area.left - 1 : area.left;
    const int32_t top = area.top == r.top ? area.top - 1 : area.top;
    std::vector<Point> expected;
    for (int32_t y = top; y < area.bottom; ++y)
      for (int32_t x = left; x < area.right; ++x) {
        const bool a = In(m, x, y);
        if (a != In(m, x + 1, y) || a != In(m, x, y + 1) || a != In(m, x + 1, y + 1)) expected.push_back({x, y});
      }
    ContourIterator it(m);
    std::vector<Point> seen;
    for (it.Begin(area, nullptr, 0.0, 1.0); it.More(); it.Advance()) {
      const ContourIterator::Cell& c = it.Current();
      seen.push_back(c.position);
      const int32_t x = c.position.x, y = c.position.y;
      const int v[4] = {Value(m, x, y), Value(m, x + 1, y), Value(m, x, y + 1), Value(m, x + 1, y + 1)};
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(c.value[k], v[k]);
        EXPECT_EQ(c.inside[k], v[k] > 127);
      }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(expected.empty());
  }
}

TEST(ContourIterator, UniformMasksHaveContoursOnlyAtTheRasterEdge) {
  const Rect r{0, 0, 37, 5};  // wider than the eight-window skip, not a multiple of it
  const ByteMask empty = MakeMask(r, 0);
  ContourIterator it(empty);
  it.Begin(nullptr, 0.0, 1.0);
  EXPECT_FALSE(it.More());

  const ByteMask full = MakeMask(r, 255);
  ContourIterator ring(full);
  int count = 0;
  for (ring.Begin(nullptr, 0.0, 1.0); ring.More(); ring.Advance()) {
    const Point p = ring.Current().position;
    EXPECT_TRUE(p.x == -1 || p.y == -1 || p.x == r.right - 1 || p.y == r.bottom - 1);
    ++count;
  }
  EXPECT_EQ(count, 2 * (r.Width() + 1) + 2 * (r.Height() + 1) - 4);

  // An empty area at the corner is not grown into a row of border windows.
  ring.Begin(Rect{0, 0, 0, 5}, nullptr, 0.0, 1.0);
  EXPECT_FALSE(ring.More());
}

// Follows the contour from window to window through the crossings of the
// windows' edges, with the inside always on the same hand. Returns the
// closed loops' signed areas (shoelace over the crossing points).
std::vector<double> TraceLoops(const ByteMask& m) {
  // An edge of the grid: the segment from corner (x, y) going right (h) or down.
  struct Edge {
    int32_t x, y;
    bool h;
    bool operator<(const Edge& o) const { return std::tie(x, y, h) < std::tie(o.x, o.y, o.h); }
  };
  // Per visited window, clockwise on screen: top, right, bottom, left. The
  // contour leaves a window where the clockwise walk goes from inside to outside.
  std::map<Edge, Point> enterWindow;         // crossing edge -> window it enters
  std::map<std::pair<int32_t, int32_t>, std::vector<Edge>> leaving;
  ContourIterator it(m);
  for (it.Begin(nullptr, 0.0, 1.0); it.More(); it.Advance()) {
    const Point p = it.Current().position;
    const bool* in = it.Current().inside;
    const bool corner[4] = {in[0], in[1], in[3], in[2]};  // clockwise: TL, TR, BR, BL
    const Edge edges[4] = {{p.x, p.y, true}, {p.x + 1, p.y, false}, {p.x, p.y + 1, true}, {p.x, p.y, false}};
    for (int k = 0; k < 4; ++k) {
      if (corner[k] == corner[(k + 1) % 4]) continue;
      if (corner[k]) leaving[{p.x, p.y}].push_back(edges[k]);
      else EXPECT_TRUE(enterWindow.emplace(edges[k], p).second);
    }
  }
  const auto crossing = [&](const Edge& e) {
    if (e.h) return PointD{e.x + Cross(Value(m, e.x, e.y), Value(m, e.x + 1, e.y)), double(e.y)};
    return PointD{double(e.x), e.y + Cross(Value(m, e.x, e.y), Value(m, e.x, e.y + 1))};
  };
  std::vector<double> areas;
  std::map<Edge, bool> used;
  for (const auto& [window, exits] : leaving)
    for (const Edge& start : exits) {
      if (used[start]) continue;
      double area = 0.0;
      Edge e = start;
      for (int steps = 0; steps < 100000; ++steps) {
        used[e] = true;
        const auto next = enterWindow.find(e);
        if (next == enterWindow.end()) {
          ADD_FAILURE() << "contour leaves through an edge no window continues";
          return areas;
        }
        const std::vector<Edge>& out = leaving[{next->second.x, next->second.y}];
        EXPECT_EQ(out.size(), 1u) << "saddle windows are not expected in these shapes";
        const PointD a = crossing(e), b = crossing(out[0]);
        area += 0.5 * (a.x * b.y - b.x * a.y);
        e = out[0];
        if (e.x == start.x && e.y == start.y && e.h == start.h) break;
      }
      areas.push_back(area);
    }
  return areas;
}

TEST(ContourIterator, ContoursCloseAndKeepTheirOrientation) {
  const Rect r{0, 0, 60, 40};
  ByteMask m = MakeMask(r);
  // Two discs, a ring with a hole, and a disc cut off by the right edge.
  const auto disc = [&](double cx, double cy, double outer, double inner) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        const double d = std::hypot(x - cx, y - cy);
        const double v = std::clamp(outer - d + 0.5, 0.0, 1.0) * std::clamp(d - inner + 0.5, 0.0, 1.0);
        m(x, y) = std::max(m(x, y), uint8_t(v * 255.0));
      }
  };
  disc(8.3, 8.7, 5.2, -1.0);
  disc(20.6, 30.1, 6.8, -1.0);
  disc(32.2, 12.4, 9.5, 4.1);
  disc(58.0, 28.0, 7.5, -1.0);
  std::vector<double> areas = TraceLoops(m);
  ASSERT_EQ(areas.size(), 5u);
  // The whole raster selected: one loop around the raster's border, turning
  // the way every outer boundary turns.
  const ByteMask full = MakeMask(r, 255);
  const std::vector<double> border = TraceLoops(full);
  ASSERT_EQ(border.size(), 1u);
  EXPECT_NEAR(std::fabs(border[0]), double(r.Width()) * r.Height(), 2.0 * (r.Width() + r.Height()));
  const double outward = border[0] > 0.0 ? 1.0 : -1.0;

  // Outer boundaries turn that way, the hole the other, each enclosing about
  // the area of its circle.
  std::sort(areas.begin(), areas.end(), [&](double a, double b) { return a * outward < b * outward; });
  EXPECT_NEAR(areas[0] * outward, -3.14159 * 4.1 * 4.1, 6.0);
  for (size_t i = 1; i < areas.size(); ++i) EXPECT_GT(areas[i] * outward, 50.0);
}

// --- distances --------------------------------------------------------------------

TEST(DistanceTransform, StraightEdgeMeasuresToTheWindowCentres) {
  const Rect r{0, 0, 30, 40};
  ByteMask m = MakeMask(r);
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = 11; x < r.right; ++x) m(x, y) = 255;
  RecordingTransform t(r);
  ASSERT_EQ(t.Run(m, 5.0), 0);
  for (int32_t y = 10; y < 30; ++y) {
    EXPECT_DOUBLE_EQ(t.At(11, y).distance, -std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(t.At(10, y).distance, std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(t.At(14, y).distance, -std::hypot(3.5, 0.5));
    EXPECT_DOUBLE_EQ(t.At(14, y).origin.x, 10.5);
    EXPECT_EQ(t.At(16, y).kind, kInside);  // sqrt(5.5^2 + 0.5^2) > 5
    EXPECT_EQ(t.At(5, y).kind, kOutside);
  }

  RecordingTransform shorter(r);
  ASSERT_EQ(shorter.Run(m, 3.2), 0);
  EXPECT_EQ(shorter.At(13, 20).kind, kReached);  // sqrt(2.5^2 + 0.5^2) = 2.55
  EXPECT_EQ(shorter.At(14, 20).kind, kInside);   // 3.54
  EXPECT_EQ(shorter.At(8, 20).kind, kReached);
  EXPECT_EQ(shorter.At(7, 20).kind, kOutside);
}

TEST(DistanceTransform, RandomMasksAgreeWithTheExactDistance) {
  // Front propagation measures each pixel to a contour point handed on by
  // its neighbours, which need not be the nearest one; the excess stays
  // small. Largest excess seen over these masks: printed below.
  double worst = 0.0;
  for (int seed = 1; seed <= 12; ++seed) {
    const Rect r{-7, 5, 41, 43};
    const ByteMask m = RandomMask(seed, r);
    worst = std::max(worst, CheckAgainstReference(m, r, seed % 2 ? 6.5 : 40.0));
  }
  std::printf("largest excess over the exact distance: %.4f pixels\n", worst);
  EXPECT_LT(worst, 0.25);
}

// The front as a list of elements that takes new ones at its head; each
// level accepts, then spreads, in list order. Where two contour points are
// equally far from a pixel, the first offer keeps it, so this order decides
// which origin and direction a pixel carries on. `area` must hold the mask's
// bounds, so that the working region is the area itself.
std::vector<ReachedCall> ReferenceFront(const ByteMask& m, const Rect& area, double maxDistance) {
  struct Element {
    bool inside;
    Point position;
    PointD origin;
    double distance;
    int direction;
    bool accepted;
    int next;
  };
  constexpr int kEmpty = -1, kDone = -2;
  std::vector<Element> pool;
  std::vector<int> map(size_t(area.Width()) * area.Height(), kEmpty);
  int head = -1;
  const auto offer = [&](int32_t x, int32_t y, PointD o, int direction, bool inside) {
    if (!area.Contains(x, y)) return;
    int& entry = map[size_t(y - area.top) * area.Width() + (x - area.left)];
    const double distance = std::sqrt((x - o.x) * (x - o.x) + (y - o.y) * (y - o.y));
    if (entry == kDone || distance > maxDistance) return;
    if (entry == kEmpty) {
      pool.push_back({inside, {x, y}, o, distance, direction, false, head});
      head = entry = int(pool.size()) - 1;
    } else if (distance < pool[size_t(entry)].distance) {
      Element& e = pool[size_t(entry)];
      e.origin = o, e.distance = distance, e.direction = direction;
    }
  };
  for (int32_t y = m.bounds.top - 1; y < m.bounds.bottom; ++y)
    for (int32_t x = m.bounds.left - 1; x < m.bounds.right; ++x) {
      const int v[4] = {Value(m, x, y), Value(m, x + 1, y), Value(m, x, y + 1), Value(m, x + 1, y + 1)};
      const bool in[4] = {v[0] > 127, v[1] > 127, v[2] > 127, v[3] > 127};
      if (in[0] == in[1] && in[0] == in[2] && in[0] == in[3]) continue;
      double sx = 0.0, sy = 0.0;
      int n = 0;
      if (in[0] != in[1]) sx += x + Cross(v[0], v[1]), sy += y, ++n;
      if (in[2] != in[3]) sx += x + Cross(v[2], v[3]), sy += y + 1.0, ++n;
      if (in[0] != in[2]) sx += x, sy += y + Cross(v[0], v[2]), ++n;
      if (in[1] != in[3]) sx += x + 1.0, sy += y + Cross(v[1], v[3]), ++n;
      const PointD o{sx / n, sy / n};
      offer(x, y, o, 7, in[0]);
      offer(x + 1, y, o, 1, in[1]);
      offer(x, y + 1, o, 5, in[2]);
      offer(x + 1, y + 1, o, 3, in[3]);
    }
  // Compass steps; a front moving in direction d offers d - 1, d and d + 1,
  // in ascending order of their numbers.
  constexpr int kDx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, kDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  std::vector<ReachedCall> calls;
  for (double level = 1.0; head != -1; level += 1.0) {
    std::vector<int> accepted;
    for (int i = head; i != -1; i = pool[size_t(i)].next) {
      Element& e = pool[size_t(i)];
      if (e.distance >= level) continue;
      e.accepted = true;
      map[size_t(e.position.y - area.top) * area.Width() + (e.position.x - area.left)] = kDone;
      calls.push_back({e.position, e.origin, e.inside ? -e.distance : e.distance});
      accepted.push_back(i);
    }
    for (const int i : accepted) {
      const Element e = pool[size_t(i)];
      int next[3] = {(e.direction + 7) % 8, e.direction, (e.direction + 1) % 8};
      std::sort(next, next + 3);
      for (const int d : next) offer(e.position.x + kDx[d], e.position.y + kDy[d], e.origin, d, e.inside);
    }
    for (int* link = &head; *link != -1;) {
      if (pool[size_t(*link)].accepted) *link = pool[size_t(*link)].next;
      else link = &pool[size_t(*link)].next;
    }
  }
  return calls;
}

TEST(DistanceTransform, SettlesEqualDistancesInTheOrderOfAListFront) {
  const Rect r{-3, 2, 37, 33};
  ByteMask box = MakeMask(r);
  for (int32_t y = 8; y < 25; ++y)
    for (int32_t x = 4; x < 29; ++x) box(x, y) = 255;
  const ByteMask random = RandomMask(11, r);
  for (const auto& [mask, maxDistance] : {std::pair<const ByteMask*, double>{&box, 9.0}, {&random, 14.5}})
    for (const Rect area : {r, r.Inflate(4, 3)}) {
      RecordingTransform t(area);
      ASSERT_EQ(t.Run(*mask, maxDistance), 0);
      const std::vector<ReachedCall> expected = ReferenceFront(*mask, area, maxDistance);
      ASSERT_EQ(t.sequence.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) {
        const ReachedCall &a = t.sequence[i], &b = expected[i];
        ASSERT_TRUE(a.position == b.position && a.origin.x == b.origin.x && a.origin.y == b.origin.y &&
                    a.distance == b.distance)
            << "call " << i << " at " << b.position.x << "," << b.position.y;
      }
    }
}

TEST(DistanceTransform, BorderActsAsContourAndAreaMayReachPastTheMask) {
  const Rect r{0, 0, 24, 18};
  // Fully selected: the raster's edge is the contour, inside by half a pixel.
  EXPECT_LT(CheckAgainstReference(MakeMask(r, 255), r, 30.0), 0.25);
  RecordingTransform full(r);
  ASSERT_EQ(full.Run(MakeMask(r, 255), 3.0), 0);
  EXPECT_DOUBLE_EQ(full.At(0, 9).distance, -std::sqrt(0.5));
  EXPECT_EQ(full.At(12, 9).kind, kInside);

  // A selection touching two edges, with the area reaching five pixels past
  // the raster: outside the raster everything is unselected.
  ByteMask m = MakeMask(r);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 9; x < 24; ++x) m(x, y) = y < 9 ? 255 : 140;
  const Rect wide = r.Inflate(5, 5);
  EXPECT_LT(CheckAgainstReference(m, wide, 4.0), 0.25);
  RecordingTransform t(wide);
  ASSERT_EQ(t.Run(m, 4.0), 0);
  EXPECT_GT(t.At(26, 3).distance, 0.0);
  EXPECT_EQ(t.At(-4, -4).kind, kOutside);
}

TEST(DistanceTransform, MasksWithoutContourReachNothing) {
  const Rect r{0, 0, 20, 20};
  RecordingTransform empty(r);
  ASSERT_EQ(empty.Run(MakeMask(r, 0), 50.0), 0);
  for (const Record& rec : empty.records) EXPECT_EQ(rec.kind, kOutside);

  // Selected everywhere around an inner area that the border is too far from.
  const Rect inner{8, 8, 12, 12};
  RecordingTransform deep(inner);
  ASSERT_EQ(deep.Run(MakeMask(r, 255), 2.0), 0);
  for (const Record& rec : deep.records) {
    EXPECT_EQ(rec.kind, kInside);
    EXPECT_EQ(rec.calls, 1);
  }
}

TEST(Precision_Bevel, StraightEdgeOnEitherSide) {
  // Column 10 unselected, 11 selected: the contour runs down x = 10.5.
  const Rect r{0, 0, 30, 40};
  ByteMask m = MakeMask(r);
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = 11; x < r.right; ++x) m(x, y) = 255;
  RecordingBevel in(r), out(r);
  ASSERT_EQ(in.Run(m, 5.0, true), 0);
  ASSERT_EQ(out.Run(m, 5.0, false), 0);
  for (int32_t y = 10; y < 30; ++y) {
    EXPECT_DOUBLE_EQ(in.At(11, y).distance, std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(in.At(14, y).distance, std::hypot(3.5, 0.5));
    EXPECT_EQ(in.At(16, y).kind, kInside);
    EXPECT_EQ(in.At(10, y).kind, kOutside);
    EXPECT_DOUBLE_EQ(out.At(10, y).distance, std::sqrt(0.5));
    EXPECT_DOUBLE_EQ(out.At(7, y).distance, std::hypot(3.5, 0.5));
    EXPECT_EQ(out.At(11, y).kind, kInside);
    EXPECT_EQ(out.At(4, y).kind, kOutside);
  }
}

TEST(Precision_Bevel, ReachesOnlyItsOwnSideAndMeasuresTrueDistances) {
  double worst = 0.0;
  for (int seed = 1; seed <= 6; ++seed) {
    const Rect r{-5, 3, 39, 41};
    const ByteMask m = RandomMask(seed, r);
    const std::vector<PointD> contour = ReferenceContour(m);
    for (const bool into : {true, false}) {
      // An area past the raster: the bevel measures there too, unselected.
      const Rect area = into ? r : r.Inflate(3, 2);
      RecordingBevel t(area);
      ASSERT_EQ(t.Run(m, 7.5, into), 0);
      for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x) {
          const Record& rec = t.At(x, y);
          ASSERT_EQ(rec.calls, 1) << x << "," << y;
          if (rec.kind != kReached) {
            EXPECT_EQ(rec.kind, In(m, x, y) ? kInside : kOutside);
            continue;
          }
          ASSERT_EQ(In(m, x, y), into) << x << "," << y;
          EXPECT_NEAR(rec.distance, std::hypot(x - rec.origin.x, y - rec.origin.y), 1e-9);
          EXPECT_LE(rec.distance, 7.5);
          const double exact = Nearest(contour, {x, y});
          EXPECT_GE(rec.distance, exact - 1e-9);
          worst = std::max(worst, rec.distance - exact);
        }
    }
  }
  EXPECT_LT(worst, 0.25);
}

TEST(DistanceTransform, AbortAndMisuseAreReported) {
  struct Always final : Abort_Tester {
    bool ShouldAbort() override { return true; }
  } always;
  const Rect r{0, 0, 16, 16};
  RecordingTransform t(r);
  EXPECT_EQ(t.Run(RandomMask(3, r), 10.0, &always), kErrAborted);

  RecordingTransform never(r);
  int32_t err = 0;
  never.DistanceTransform::Run(err, nullptr, nullptr, 0.0, 1.0);
  EXPECT_EQ(err, kErrGeneral);
  RecordingBevel bevel(r);
  bevel.Precision_Bevel::Run(err, nullptr, nullptr, 0.0, 1.0);
  EXPECT_EQ(err, kErrGeneral);
}

TEST(DistanceTransform, ProgressCoversTheRangeInOrder) {
  struct Sink final : ProgressUpdateSink {
    std::vector<double> values;
    void Update(double f) override { values.push_back(f); }
  } sink;
  const Rect r{0, 0, 30, 30};
  RecordingTransform t(r);
  int32_t err = -1;
  const ByteMask m = RandomMask(5, r);
  t.Init(err, m, 8.0, r, 0.0, 0.0);
  ASSERT_EQ(err, 0);
  t.DistanceTransform::Run(err, nullptr, &sink, 0.2, 0.7);
  ASSERT_EQ(err, 0);
  ASSERT_FALSE(sink.values.empty());
  EXPECT_TRUE(std::is_sorted(sink.values.begin(), sink.values.end()));
  EXPECT_GE(sink.values.front(), 0.2);
  EXPECT_DOUBLE_EQ(sink.values.back(), 0.7);
}

}  // namespace
}  // namespace kv
