// The front propagation behind the distance transform and the precision
// bevel: Euclidean distances from the sub-pixel contour of a byte mask (the
// level 127.5), up to a maximum distance, by a front grown level by level
// from the contour. Each user brings its own front element and decides which
// pixels the front may enter and how a reached pixel is reported.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "image/contour.h"
#include "image/image.h"
#include "image/progress.h"

namespace kv {

// Per pixel of the working region, in 4 x 4 tiles of one cache line each:
// the front walks rings, and whichever way a ring runs its next level then
// falls mostly in lines just touched. Row-major, a ring's upright stretches
// took a line per pixel and the map's misses most of the transform's time.
// An entry is a marker, or the front element's generation and index.
class FrontMap {
 public:
  static constexpr uint32_t emptyMarker = 0xffffffffu, doneMarker = 0xfffffffeu;
  static constexpr int32_t kGenerationShift = 30;
  static constexpr uint32_t kIndexMask = (1u << kGenerationShift) - 1;

  int32_t Allocate(const Rect& region);  // every entry emptyMarker; 0 or -108
  const Rect& Bounds() const { return bounds_; }
  bool Holds(int32_t x, int32_t y) const {
    return uint32_t(x - bounds_.left) < uint32_t(bounds_.Width()) && uint32_t(y - bounds_.top) < uint32_t(bounds_.Height());
  }
  uint32_t& operator()(int32_t x, int32_t y) { return entries_[Index(x, y)]; }
  const uint32_t& operator()(int32_t x, int32_t y) const { return entries_[Index(x, y)]; }

 private:
  size_t Index(int32_t x, int32_t y) const {
    const uint32_t u = uint32_t(x - bounds_.left), v = uint32_t(y - bounds_.top);
    return (size_t(v >> 2) * tilesPerRow_ + (u >> 2)) << 4 | (v & 3) << 2 | (u & 3);
  }

  Rect bounds_;
  size_t tilesPerRow_ = 0;
  std::vector<uint32_t> entries_;
};

// The mean of the points where the level 127.5 crosses the window's edges.
PointD ContourPoint(const ContourIterator::Cell& c);

// Derived supplies, called from here without a virtual call each:
//   bool Seeds(bool side)         whether a contour window offers its pixels on that side;
//   bool Admits(int32_t x, y)     whether the front may enter an empty pixel;
//   void Accept(const Element&)   a pixel of the area reached, at its final distance;
//   UnreachedInside / UnreachedOutside (Point) for the area's pixels never reached.
// Element has the fields origin, distance, position, direction and accepted,
// and `inside` when it carries the side.
template <class Derived, class Element>
class MarchingFront {
 public:
  MarchingFront() = default;
  MarchingFront(const MarchingFront&) = delete;
  MarchingFront& operator=(const MarchingFront&) = delete;

 protected:
  ~MarchingFront() = default;

  // Copies what it needs of `input`: the map covers the area and what of
  // the area grown by the distance lies on the input, the mask copy the
  // latter and one pixel more (reading 0). err: 0 or -108.
  void Prepare(int32_t& err, const ByteMask& input, double maxDistance_, const Rect& area_);
  // Seeds from the contour windows whose top-left corners lie in `scan`,
  // then grows the front. err: 0, 1 stopped by the abort tester, -108, or
  // -1 before a successful Prepare. Progress: 30 % finding the contour, 30 %
  // the front, 40 % the unreached.
  void March(int32_t& err, const Rect& scan, Abort_Tester* abort, ProgressUpdateSink* progress, double from,
             double to);
  // The mask copy's value at (x, y) is on the selected side; beyond the
  // copy nothing is selected.
  bool Selected(int32_t x, int32_t y) const { return mask.bounds.Contains(x, y) && mask(x, y) > 127; }

  double maxDistance = 0.0;
  bool ready = false;
  Rect area;
  ByteMask mask;
  FrontMap map;
  // The front, by the level whose offers created each element (the seeds
  // count as level 0). An element created at level k lies nearer than
  // k + sqrt 2 and is accepted by level k + 2, so three generations in turn
  // hold the whole front. Walking the newest first, each backwards, visits
  // the elements in the order of a list that takes new ones at its head,
  // while memory is read in sequence.
  std::vector<Element> front[3];
  int64_t live = 0;  // elements created and not yet accepted

 private:
  Derived& Self() { return static_cast<Derived&>(*this); }
  int32_t Seed(const Rect& scan, ProgressUpdateSink* progress, double from, double to);
  int32_t Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  int32_t FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  void Offer(int32_t x, int32_t y, PointD origin, int32_t direction, bool inside, int32_t generation);
  const Element& Handled(uint32_t handle) const {
    return front[handle >> FrontMap::kGenerationShift][handle & FrontMap::kIndexMask];
  }
  // Start loading the map entries `e` will offer to, or the elements they
  // name, ahead of the offers.
  void FetchEntries(const Element& e) const;
  void FetchElements(const Element& e) const;
};

// --- implementation ---------------------------------------------------------------

namespace front_detail {

// The three neighbours an element moving in each direction passes its origin
// to: (dx, dy, their direction). The front keeps going the way it came, so
// each pixel is reached from the side facing its contour point.
struct Step {
  int8_t dx, dy, direction;
};
inline constexpr Step kSteps[8][3] = {
    {{0, -1, 0}, {1, -1, 1}, {-1, -1, 7}},  // north
    {{0, -1, 0}, {1, -1, 1}, {1, 0, 2}},    // north-east
    {{1, -1, 1}, {1, 0, 2}, {1, 1, 3}},     // east
    {{1, 0, 2}, {1, 1, 3}, {0, 1, 4}},      // south-east
    {{1, 1, 3}, {0, 1, 4}, {-1, 1, 5}},     // south
    {{0, 1, 4}, {-1, 1, 5}, {-1, 0, 6}},    // south-west
    {{-1, 1, 5}, {-1, 0, 6}, {-1, -1, 7}},  // west
    {{0, -1, 0}, {-1, 0, 6}, {-1, -1, 7}},  // north-west
};

inline Rect Join(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace front_detail

template <class Derived, class Element>
inline void MarchingFront<Derived, Element>::FetchEntries(const Element& e) const {
  for (const front_detail::Step& s : front_detail::kSteps[e.direction])
    if (map.Holds(e.position.x + s.dx, e.position.y + s.dy))
      __builtin_prefetch(&map(e.position.x + s.dx, e.position.y + s.dy), 1);
}

template <class Derived, class Element>
inline void MarchingFront<Derived, Element>::FetchElements(const Element& e) const {
  for (const front_detail::Step& s : front_detail::kSteps[e.direction]) {
    if (!map.Holds(e.position.x + s.dx, e.position.y + s.dy)) continue;
    const uint32_t slot = map(e.position.x + s.dx, e.position.y + s.dy);
    if (slot >= FrontMap::doneMarker) continue;
    // An entry read this early may name an element not yet made.
    const std::vector<Element>& g = front[slot >> FrontMap::kGenerationShift];
    if ((slot & FrontMap::kIndexMask) < g.size()) __builtin_prefetch(&g[slot & FrontMap::kIndexMask], 1);
  }
}

template <class Derived, class Element>
void MarchingFront<Derived, Element>::Prepare(int32_t& err, const ByteMask& input, double maxDistance_,
                                              const Rect& area_) {
  ready = false;
  live = 0;
  const int32_t m = std::max(0, int32_t(std::ceil(maxDistance_)));
  const Rect near = area_.Inflate(m, m).Intersect(input.bounds);
  const Rect region = front_detail::Join(near.IsEmpty() ? Rect{} : near, area_);
  if ((err = map.Allocate(region)) != 0) return;

  if ((err = mask.Allocate(near.IsEmpty() ? Rect{} : near.Inflate(1, 1), mask.kFormat)) != 0) return;
  mask.Fill(0);
  const Rect overlap = mask.bounds.Intersect(input.bounds);
  for (int32_t y = overlap.top; y < overlap.bottom; ++y)
    std::memcpy(mask.Address(overlap.left, y), input.Address(overlap.left, y), size_t(overlap.Width()));

  // Room for a fraction of the region to begin with; each generation grows
  // on demand.
  try {
    for (std::vector<Element>& generation : front) {
      generation.clear();
      generation.reserve(size_t(std::max<int64_t>(16, region.Area() / 300)));
    }
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
    return;
  }
  maxDistance = maxDistance_;
  area = area_;
  ready = true;
}

template <class Derived, class Element>
inline void MarchingFront<Derived, Element>::Offer(int32_t x, int32_t y, PointD origin, int32_t direction,
                                                   [[maybe_unused]] bool inside, int32_t generation) {
  if (!map.Holds(x, y)) return;
  uint32_t& slot = map(x, y);
  if (slot == FrontMap::doneMarker) return;
  const double dx = x - origin.x, dy = y - origin.y;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance > maxDistance) return;
  if (slot == FrontMap::emptyMarker) {
    if (!Self().Admits(x, y)) return;
    std::vector<Element>& g = front[generation];
    if (g.size() >= FrontMap::kIndexMask) throw std::bad_alloc();
    slot = (uint32_t(generation) << FrontMap::kGenerationShift) | uint32_t(g.size());
    Element& e = g.emplace_back();
    e.origin = origin;
    e.distance = distance;
    e.position = {x, y};
    e.direction = direction;
    if constexpr (requires { e.inside; }) e.inside = inside;
    e.accepted = false;
    ++live;
    return;
  }
  Element& e = front[slot >> FrontMap::kGenerationShift][slot & FrontMap::kIndexMask];
  if (distance < e.distance) {
    e.origin = origin;
    e.distance = distance;
    e.direction = direction;
  }
}

template <class Derived, class Element>
void MarchingFront<Derived, Element>::March(int32_t& err, const Rect& scan, Abort_Tester* abort,
                                            ProgressUpdateSink* progress, double from, double to) {
  if (!ready) {
    err = kErrGeneral;
    return;
  }
  const double span = to - from;
  const double seeded = from + 0.3 * span, propagated = from + 0.6 * span;
  try {
    err = Seed(scan, progress, from, seeded);
    if (err == 0) err = Propagate(abort, progress, seeded, propagated);
    if (err == 0) err = FillUnreached(abort, progress, propagated, to);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
}

template <class Derived, class Element>
int32_t MarchingFront<Derived, Element>::Seed(const Rect& scan, ProgressUpdateSink* progress, double from,
                                              double to) {
  ContourIterator it(mask);
  for (it.Begin(scan, progress, from, to); it.More(); it.Advance()) {
    const ContourIterator::Cell& c = it.Current();
    const PointD o = ContourPoint(c);
    const int32_t x = c.position.x, y = c.position.y;
    if (Self().Seeds(c.inside[0])) Offer(x, y, o, 7, c.inside[0], 0);
    if (Self().Seeds(c.inside[1])) Offer(x + 1, y, o, 1, c.inside[1], 0);
    if (Self().Seeds(c.inside[2])) Offer(x, y + 1, o, 5, c.inside[2], 0);
    if (Self().Seeds(c.inside[3])) Offer(x + 1, y + 1, o, 3, c.inside[3], 0);
  }
  return 0;
}

template <class Derived, class Element>
int32_t MarchingFront<Derived, Element>::Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from,
                                                   double to) {
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
      std::vector<Element>& g = front[generation];
      for (size_t i = g.size(); i-- > 0;) {
        Element& e = g[i];
        if (e.accepted || e.distance >= L) continue;
        e.accepted = true;
        --live;
        map(e.position.x, e.position.y) = FrontMap::doneMarker;
        if (area.Contains(e.position)) Self().Accept(e);
        accepted.push_back((uint32_t(generation) << FrontMap::kGenerationShift) | uint32_t(i));
      }
    }

    // The generation three levels back has all been accepted: its room takes
    // this level's new elements.
    const int32_t generation = int32_t(level % 3);
    front[generation].clear();
    // Each offer waits on the map's entry, then on the element it names,
    // both scattered over more than the caches hold: fetch the entries some
    // elements ahead and the elements they name half as far.
    constexpr size_t kEntriesAhead = 16, kElementsAhead = 8;
    for (size_t i = 0; i < accepted.size(); ++i) {
      if (i + kEntriesAhead < accepted.size()) FetchEntries(Handled(accepted[i + kEntriesAhead]));
      if (i + kElementsAhead < accepted.size()) FetchElements(Handled(accepted[i + kElementsAhead]));
      const Element& e = Handled(accepted[i]);
      bool inside = false;
      if constexpr (requires { e.inside; }) inside = e.inside;
      for (const front_detail::Step& s : front_detail::kSteps[e.direction])
        Offer(e.position.x + s.dx, e.position.y + s.dy, e.origin, s.direction, inside, generation);
    }
  }
  return 0;
}

template <class Derived, class Element>
int32_t MarchingFront<Derived, Element>::FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress,
                                                       double from, double to) {
  for (int32_t y = area.top; y < area.bottom; ++y) {
    if (abort != nullptr && abort->ShouldAbort()) return kErrAborted;
    for (int32_t x = area.left; x < area.right; ++x) {
      if (map(x, y) != FrontMap::emptyMarker) continue;
      if (Selected(x, y)) Self().UnreachedInside({x, y});
      else Self().UnreachedOutside({x, y});
    }
    ReportProgress(progress, from, to, double(y - area.top + 1) / area.Height());
  }
  return 0;
}

}  // namespace kv
