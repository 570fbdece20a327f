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

void DistanceTransform::Init(int32_t& err, const ByteMask& input, double maxDistance_, Rect area_, double,
                             double) {
  ready = false;
  front = freeList = nullptr;
  pool.clear();
  poolCapacity = 0;

  const int32_t m = std::max(0, int32_t(std::ceil(maxDistance_)));
  const Rect near = area_.Inflate(m, m).Intersect(input.bounds);
  const Rect region = Join(near.IsEmpty() ? Rect{} : near, area_);
  if ((err = map.Allocate(region, map.kFormat)) != 0) return;
  for (int32_t y = region.top; y < region.bottom; ++y) std::fill_n(map.Row(y), region.Width(), &emptyMarker);

  if ((err = mask.Allocate(near.IsEmpty() ? Rect{} : near.Inflate(1, 1), mask.kFormat)) != 0) return;
  mask.Fill(0);
  const Rect overlap = mask.bounds.Intersect(input.bounds);
  for (int32_t y = overlap.top; y < overlap.bottom; ++y)
    std::memcpy(mask.Address(overlap.left, y), input.Address(overlap.left, y), size_t(overlap.Width()));

  if ((err = AddElements(std::max<int64_t>(10, PixelCount(region) / 100))) != 0) return;
  maxDistance = maxDistance_;
  area = area_;
  ready = true;
}

int32_t DistanceTransform::AddElements(int64_t count) {
  if (count <= 0) return kErrOutOfMemory;
  auto block = std::unique_ptr<Marching_Pixel[]>(new (std::nothrow) Marching_Pixel[size_t(count)]);
  if (!block) return kErrOutOfMemory;
  try {
    pool.push_back(nullptr);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  for (int64_t i = count - 1; i >= 0; --i) {
    block[size_t(i)].next = freeList;
    freeList = &block[size_t(i)];
  }
  pool.back() = std::move(block);
  poolCapacity += int32_t(count);
  return 0;
}

inline int32_t DistanceTransform::Offer(int32_t x, int32_t y, PointD origin, int32_t direction, bool inside) {
  const Rect& b = map.bounds;
  if (uint32_t(x - b.left) >= uint32_t(b.Width()) || uint32_t(y - b.top) >= uint32_t(b.Height())) return 0;
  Marching_Pixel** slot = map.Address(x, y);
  Marching_Pixel* e = *slot;
  if (e == &doneMarker) return 0;
  const double dx = x - origin.x, dy = y - origin.y;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance > maxDistance) return 0;
  if (e == &emptyMarker) {
    // The pool doubles, up to one element per pixel of the region.
    if (freeList == nullptr)
      if (int32_t err = AddElements(std::min<int64_t>(poolCapacity, PixelCount(b) - poolCapacity))) return err;
    e = freeList;
    freeList = e->next;
    *e = {inside, {x, y}, origin, distance, direction, false, front};
    front = e;
    *slot = e;
  } else if (distance < e->distance) {
    e->origin = origin;
    e->distance = distance;
    e->direction = direction;
  }
  return 0;
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
  for (it.Begin(map.bounds.Inflate(1, 1).Intersect(mask.bounds), progress, from, to); it.More(); it.Advance()) {
    const ContourIterator::Cell& c = it.Current();
    const PointD o = ContourPoint(c);
    const int32_t x = c.position.x, y = c.position.y;
    int32_t err = Offer(x, y, o, 7, c.inside[0]);
    if (err == 0) err = Offer(x + 1, y, o, 1, c.inside[1]);
    if (err == 0) err = Offer(x, y + 1, o, 5, c.inside[2]);
    if (err == 0) err = Offer(x + 1, y + 1, o, 3, c.inside[3]);
    if (err != 0) return err;
  }
  return 0;
}

int32_t DistanceTransform::Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to) {
  for (double level = 1.0; front != nullptr; level += 1.0) {
    ReportProgress(progress, from, to, maxDistance > 0.0 ? std::clamp((level - 1.0) / maxDistance, 0.0, 1.0) : 1.0);
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;

    // Accept, in front order, every element nearer than the level.
    Marching_Pixel* accepted = nullptr;
    Marching_Pixel** acceptedTail = &accepted;
    for (Marching_Pixel** link = &front; *link != nullptr;) {
      Marching_Pixel* e = *link;
      if (e->distance >= level) {
        link = &e->next;
        continue;
      }
      *link = e->next;
      e->accepted = true;
      *map.Address(e->position.x, e->position.y) = &doneMarker;
      if (area.Contains(e->position)) Reached(e->position, e->origin, e->inside ? -e->distance : e->distance);
      *acceptedTail = e;
      acceptedTail = &e->next;
    }
    *acceptedTail = nullptr;

    for (Marching_Pixel* e = accepted; e != nullptr; e = e->next)
      for (const Step& s : kSteps[e->direction])
        if (int32_t err = Offer(e->position.x + s.dx, e->position.y + s.dy, e->origin, s.direction, e->inside))
          return err;

    if (accepted != nullptr) {
      *acceptedTail = freeList;
      freeList = accepted;
    }
  }
  return 0;
}

int32_t DistanceTransform::FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress, double from,
                                         double to) {
  const Rect& copy = mask.bounds;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
    Marching_Pixel* const* entry = map.Address(area.left, y);
    const bool maskRow = y >= copy.top && y < copy.bottom;
    for (int32_t x = area.left; x < area.right; ++x, ++entry) {
      if (*entry != &emptyMarker) continue;
      const bool inside = maskRow && x >= copy.left && x < copy.right && *mask.Address(x, y) > 127;
      if (inside) UnreachedInside({x, y});
      else UnreachedOutside({x, y});
    }
    ReportProgress(progress, from, to, double(y - area.top + 1) / area.Height());
  }
  return 0;
}

}  // namespace kv
