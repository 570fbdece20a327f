#include "image/distance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "image/contour.h"

namespace kv {

namespace {

// The three neighbours an element moving in each direction passes its origin
// to: (dx, dy, their direction). The front keeps going the way it came, so
// each pixel is reached from the side facing its contour point.
struct Step {
  int8_t dx, dy, direction;
};
constexpr Step kSteps[8][3] = {
    {{0, -1, 0}, {1, -1, 1}, {-1, -1, 7}},  // north
    {{0, -1, 0}, {1, -1, 1}, {1, 0, 2}},    // north-east
    {{1, -1, 1}, {1, 0, 2}, {1, 1, 3}},     // east
    {{1, 0, 2}, {1, 1, 3}, {0, 1, 4}},      // south-east
    {{1, 1, 3}, {0, 1, 4}, {-1, 1, 5}},     // south
    {{0, 1, 4}, {-1, 1, 5}, {-1, 0, 6}},    // south-west
    {{-1, 1, 5}, {-1, 0, 6}, {-1, -1, 7}},  // west
    {{0, -1, 0}, {-1, 0, 6}, {-1, -1, 7}},  // north-west
};

Rect Join(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

int64_t PixelCount(const Rect& r) { return r.IsEmpty() ? 0 : int64_t(r.Width()) * r.Height(); }

// The mean of the points where the level 127.5 crosses the window's edges.
PointD ContourPoint(const ContourIterator::Cell& c) {
  const double x = c.position.x, y = c.position.y;
  const double a = c.value[0], b = c.value[1], cl = c.value[2], d = c.value[3];
  double sx = 0.0, sy = 0.0;
  int n = 0;
  if (c.inside[0] != c.inside[1]) sx += x + (127.5 - a) / (b - a), sy += y, ++n;
  if (c.inside[2] != c.inside[3]) sx += x + (127.5 - cl) / (d - cl), sy += y + 1.0, ++n;
  if (c.inside[0] != c.inside[2]) sx += x, sy += y + (127.5 - a) / (cl - a), ++n;
  if (c.inside[1] != c.inside[3]) sx += x + 1.0, sy += y + (127.5 - b) / (d - b), ++n;
  return {sx / n, sy / n};
}

}  // namespace

int32_t DistanceTransform::PixelMap::Allocate(const Rect& region) {
  bounds_ = region;
  tilesPerRow_ = region.IsEmpty() ? 0 : size_t(region.Width() + 3) / 4;
  const size_t tileRows = region.IsEmpty() ? 0 : size_t(region.Height() + 3) / 4;
  try {
    entries_.assign(tilesPerRow_ * tileRows * 16, emptyMarker);
  } catch (const std::bad_alloc&) {
    entries_ = {};
    bounds_ = {};
    return kErrOutOfMemory;
  }
  return 0;
}

void DistanceTransform::Init(int32_t& err, const ByteMask& input, double maxDistance_, Rect area_, double,
                             double) {
  ready = false;
  live = 0;

  const int32_t m = std::max(0, int32_t(std::ceil(maxDistance_)));
  const Rect near = area_.Inflate(m, m).Intersect(input.bounds);
  const Rect region = Join(near.IsEmpty() ? Rect{} : near, area_);
  if ((err = map.Allocate(region)) != 0) return;

  if ((err = mask.Allocate(near.IsEmpty() ? Rect{} : near.Inflate(1, 1), mask.kFormat)) != 0) return;
  mask.Fill(0);
  const Rect overlap = mask.bounds.Intersect(input.bounds);
  for (int32_t y = overlap.top; y < overlap.bottom; ++y)
    std::memcpy(mask.Address(overlap.left, y), input.Address(overlap.left, y), size_t(overlap.Width()));

  // Room for about a hundredth of the region to begin with; each generation
  // grows on demand.
  try {
    for (std::vector<Marching_Pixel>& generation : front) {
      generation.clear();
      generation.reserve(size_t(std::max<int64_t>(16, PixelCount(region) / 300)));
    }
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
    return;
  }
  maxDistance = maxDistance_;
  area = area_;
  ready = true;
}

inline void DistanceTransform::Offer(int32_t x, int32_t y, PointD origin, int32_t direction, bool inside,
                                     int32_t generation) {
  const Rect& b = map.Bounds();
  if (uint32_t(x - b.left) >= uint32_t(b.Width()) || uint32_t(y - b.top) >= uint32_t(b.Height())) return;
  uint32_t& slot = map(x, y);
  if (slot == doneMarker) return;
  const double dx = x - origin.x, dy = y - origin.y;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance > maxDistance) return;
  if (slot == emptyMarker) {
    std::vector<Marching_Pixel>& g = front[generation];
    if (g.size() >= kIndexMask) throw std::bad_alloc();
    slot = (uint32_t(generation) << kGenerationShift) | uint32_t(g.size());
    g.push_back({origin, distance, {x, y}, direction, inside, false});
    ++live;
    return;
  }
  Marching_Pixel& e = front[slot >> kGenerationShift][slot & kIndexMask];
  if (distance < e.distance) {
    e.origin = origin;
    e.distance = distance;
    e.direction = direction;
  }
}

void DistanceTransform::Run(int32_t& err, Abort_Tester* abort, ProgressUpdateSink* progress, double progressFrom,
                            double progressTo) {
  if (!ready) {
    err = kErrGeneral;
    return;
  }
  const double span = progressTo - progressFrom;
  const double seeded = progressFrom + 0.3 * span, propagated = progressFrom + 0.6 * span;
  try {
    err = Seed(progress, progressFrom, seeded);
    if (err == 0) err = Propagate(abort, progress, seeded, propagated);
    if (err == 0) err = FillUnreached(abort, progress, propagated, progressTo);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
}

int32_t DistanceTransform::Seed(ProgressUpdateSink* progress, double from, double to) {
  ContourIterator it(mask);
  for (it.Begin(map.Bounds().Inflate(1, 1).Intersect(mask.bounds), progress, from, to); it.More(); it.Advance()) {
    const ContourIterator::Cell& c = it.Current();
    const PointD o = ContourPoint(c);
    const int32_t x = c.position.x, y = c.position.y;
    Offer(x, y, o, 7, c.inside[0], 0);
    Offer(x + 1, y, o, 1, c.inside[1], 0);
    Offer(x, y + 1, o, 5, c.inside[2], 0);
    Offer(x + 1, y + 1, o, 3, c.inside[3], 0);
  }
  return 0;
}

int32_t DistanceTransform::Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  std::vector<uint32_t> accepted;  // map entries of this level's accepted elements, in order
  for (int64_t level = 1; live > 0; ++level) {
    const double L = double(level);
    ReportProgress(progress, from, to, maxDistance > 0.0 ? std::clamp((L - 1.0) / maxDistance, 0.0, 1.0) : 1.0);
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;

    // Accept every live element nearer than the level: only the two
    // previous levels' generations can hold any.
    accepted.clear();
    for (const int64_t created : {level - 1, level - 2}) {
      if (created < 0) continue;
      const int32_t generation = int32_t(created % 3);
      std::vector<Marching_Pixel>& g = front[generation];
      for (size_t i = g.size(); i-- > 0;) {
        Marching_Pixel& e = g[i];
        if (e.accepted || e.distance >= L) continue;
        e.accepted = true;
        --live;
        map(e.position.x, e.position.y) = doneMarker;
        if (area.Contains(e.position)) Reached(e.position, e.origin, e.inside ? -e.distance : e.distance);
        accepted.push_back((uint32_t(generation) << kGenerationShift) | uint32_t(i));
      }
    }

    // The generation three levels back has all been accepted: its room takes
    // this level's new elements.
    const int32_t generation = int32_t(level % 3);
    front[generation].clear();
    for (const uint32_t handle : accepted) {
      const Marching_Pixel& e = front[handle >> kGenerationShift][handle & kIndexMask];
      for (const Step& s : kSteps[e.direction])
        Offer(e.position.x + s.dx, e.position.y + s.dy, e.origin, s.direction, e.inside, generation);
    }
  }
  return 0;
}

int32_t DistanceTransform::FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress, double from,
                                         double to) {
  const Rect& copy = mask.bounds;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
    const bool maskRow = y >= copy.top && y < copy.bottom;
    for (int32_t x = area.left; x < area.right; ++x) {
      if (map(x, y) != emptyMarker) continue;
      const bool inside = maskRow && x >= copy.left && x < copy.right && *mask.Address(x, y) > 127;
      if (inside) UnreachedInside({x, y});
      else UnreachedOutside({x, y});
    }
    ReportProgress(progress, from, to, double(y - area.top + 1) / area.Height());
  }
  return 0;
}

}  // namespace kv
