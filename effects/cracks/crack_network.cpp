#include "effects/cracks/crack_network.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace kv {

namespace {

constexpr double kPersistence = 0.7;  // the pull back to a crack's first direction
constexpr double kBranchJitter = std::numbers::pi / 8.0;
constexpr double kTurnJitter = 1.0;  // radians either way per step

PointD Midpoint(const CrackSegment& s) {
  return {s.start.x + s.direction.x * s.step * 0.5, s.start.y + s.direction.y * s.step * 0.5};
}

// How far along `s` (0 at its start) it first meets the piece a-b, past its
// very start: pieces that only touch where `s` begins do not stop it.
double Meets(const CrackSegment& s, PointD a, PointD b, double best) {
  const PointD d{s.direction.x * s.step, s.direction.y * s.step}, e{b.x - a.x, b.y - a.y};
  const double denominator = d.x * e.y - d.y * e.x;
  if (std::fabs(denominator) < 1e-12) return best;
  const PointD w{a.x - s.start.x, a.y - s.start.y};
  const double t = (w.x * e.y - w.y * e.x) / denominator, u = (w.x * d.y - w.y * d.x) / denominator;
  if (t <= 1e-9 || t > 1.0 || u < 0.0 || u > 1.0) return best;
  return std::min(best, t * s.step);
}

}  // namespace

CrackNetwork::CrackNetwork(const ByteMask& selection, const CrackGrowth& growth)
    : selection_(selection), growth_(growth), rng_(growth.seed),
      branchLimit_(1.0 - std::pow(0.625, 0.02 * 10.0)), taper_(0.25 * growth.length),
      limit_(std::max<size_t>(100000, size_t(std::max(0, selection.Width())) * size_t(std::max(0, selection.Height())) / 25)) {
  // Segments reach a little past the selection before they are dropped.
  const Rect& b = selection.bounds;
  const int32_t cell = int32_t(kStep);
  grid_ = {FloorDiv(b.left, cell) - 3, FloorDiv(b.top, cell) - 3, FloorDiv(b.right, cell) + 4,
           FloorDiv(b.bottom, cell) + 4};
}

int32_t CrackNetwork::Build(Abort_Tester* abort) {
  try {
    buckets_.assign(size_t(grid_.Width()) * size_t(grid_.Height()), {});
    Seed();
    while (next_ < segments_.size()) {
      if ((next_ & 1023) == 0 && abort != nullptr && abort->ShouldAbort()) return kErrAborted;
      Grow(int32_t(next_++));
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

void CrackNetwork::Seed() {
  const Rect& b = selection_.bounds;
  if (b.IsEmpty()) return;
  const int32_t c = std::max(1, int32_t(std::floor(growth_.spacing + 0.5)));
  // Edge pixels lie on the selection or just right of it or below it.
  const int32_t firstColumn = FloorDiv(b.left, c), columns = FloorDiv(b.right, c) - firstColumn + 1;
  std::vector<std::vector<Point>> cells(static_cast<size_t>(columns));
  for (int32_t cellTop = FloorDiv(b.top, c) * c; cellTop <= b.bottom; cellTop += c) {
    for (auto& cell : cells) cell.clear();
    for (int32_t y = std::max(cellTop, b.top); y < std::min(cellTop + c, b.bottom + 1); ++y) {
      const uint8_t* row = y < b.bottom ? selection_.Row(y) : nullptr;
      const uint8_t* above = y > b.top ? selection_.Row(y - 1) : nullptr;
      bool left = false;
      for (int32_t x = b.left; x <= b.right; ++x) {
        const int32_t i = x - b.left;
        const bool in = x < b.right && row != nullptr && row[i] > 127;
        const bool up = x < b.right && above != nullptr && above[i] > 127;
        if (in != up || in != left) cells[size_t(FloorDiv(x, c) - firstColumn)].push_back({x, y});
        left = in;
      }
    }
    for (const auto& cell : cells) {
      if (cell.empty()) continue;
      const Point p = cell[size_t(rng_.Below(int32_t(cell.size())))];
      CrackSegment root;
      root.direction = Normalised({double(At(p.x + 1, p.y)) - At(p.x - 1, p.y), double(At(p.x, p.y + 1)) - At(p.x, p.y - 1)});
      root.preferred = root.direction;
      root.start = {double(p.x), double(p.y)};
      root.step = kStep;
      root.width = std::max(growth_.width, 1.0);
      root.remaining = growth_.length * rng_.Uniform(0.2, 1.0);
      root.nearEdge = true;
      AddSegment(root);
    }
  }
}

void CrackNetwork::Grow(int32_t index) {
  const CrackSegment s = segments_[size_t(index)];
  const double w = growth_.width;
  widest_ = std::max(widest_, s.width);
  const double tapered = s.remaining < taper_ ? 0.01 * w + 0.99 * w * s.remaining / taper_ : s.width;
  if (s.remaining <= s.step) {
    segments_[size_t(index)].step = s.remaining;  // the tip
    return;
  }
  const double r = s.remaining - s.step;
  double chance = std::min(0.1 * branchLimit_ + s.branchChance, branchLimit_);

  if (rng_.Chance(s.branchChance)) {
    chance = 0.0;
    const double side = rng_.Chance(0.5) ? 1.570796327 : -1.570796327;
    CrackSegment branch;
    branch.direction = Rotate(s.direction, side + rng_.Uniform(-kBranchJitter, kBranchJitter));
    branch.preferred = branch.direction;
    branch.start = s.End();
    branch.step = s.step;
    branch.width = tapered;
    branch.remaining = r * rng_.Uniform(0.2, 1.2);
    branch.parent = index;
    AddSegment(branch);
  }

  CrackSegment next;
  const PointD turned = Rotate(s.direction, rng_.Uniform(-kTurnJitter, kTurnJitter));
  next.direction = Normalised({turned.x + kPersistence * s.preferred.x, turned.y + kPersistence * s.preferred.y});
  next.preferred = s.preferred;
  next.start = s.End();
  next.step = s.step;
  next.width = tapered;
  next.remaining = r;
  next.parent = index;
  next.nearEdge = s.nearEdge && growth_.length - r < 3.0 * w;
  next.branchChance = chance;
  if (Selected(next.start) || Selected(next.End())) {
    AddSegment(next);
    return;
  }
  // Out of the selection: the crack's last three widths run out through the edge.
  double run = 0.0;
  for (int32_t n = index; n >= 0; n = segments_[size_t(n)].parent) {
    segments_[size_t(n)].nearEdge = true;
    run += segments_[size_t(n)].step;
    if (run >= 3.0 * w) break;
  }
}

std::vector<int32_t>& CrackNetwork::Bucket(int32_t x, int32_t y) {
  x = std::clamp(x, grid_.left, grid_.right - 1);
  y = std::clamp(y, grid_.top, grid_.bottom - 1);
  return buckets_[size_t(y - grid_.top) * size_t(grid_.Width()) + size_t(x - grid_.left)];
}

void CrackNetwork::AddSegment(CrackSegment s) {
  if (segments_.size() >= limit_) return;
  if (s.parent >= 0) {
    // Any piece that crosses this one has its midpoint within a step of it.
    const PointD m = Midpoint(s);
    const auto cell = [](double v) { return int32_t(std::floor(v / kStep)); };
    double best = s.step;
    for (int32_t y = cell(m.y - s.step); y <= cell(m.y + s.step); ++y)
      for (int32_t x = cell(m.x - s.step); x <= cell(m.x + s.step); ++x)
        for (const int32_t n : Bucket(x, y)) {
          const PointD o = keys_[size_t(n)];
          if (n == s.parent || std::fabs(o.x - m.x) > s.step || std::fabs(o.y - m.y) > s.step) continue;
          const CrackSegment& other = segments_[size_t(n)];
          best = Meets(s, other.start, other.End(), best);
        }
    if (best < s.step) s.step = s.remaining = best;
  }
  const PointD key = Midpoint(s);
  Bucket(int32_t(std::floor(key.x / kStep)), int32_t(std::floor(key.y / kStep))).push_back(int32_t(segments_.size()));
  keys_.push_back(key);
  segments_.push_back(s);
}

bool CrackNetwork::Selected(PointD p) const {
  const double fx0 = std::floor(p.x), fy0 = std::floor(p.y);
  if (!(std::fabs(fx0) < 1e9 && std::fabs(fy0) < 1e9)) return false;
  const int32_t x = int32_t(fx0), y = int32_t(fy0);
  const double fx = p.x - fx0, fy = p.y - fy0;
  const double top = At(x, y) + (At(x + 1, y) - At(x, y)) * fx;
  const double bottom = At(x, y + 1) + (At(x + 1, y + 1) - At(x, y + 1)) * fx;
  return top + (bottom - top) * fy >= 127.5;
}

}  // namespace kv
