// The arc network: every random draw follows from the seeds handed in, so the
// same seeds grow the same arcs whatever is drawn and wherever.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "effects/lightning/arc_engine.h"

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int32_t kDeepestLevel = 4;

// A branch's angle off its parent's heading, to either side.
double SpreadAngle(RandomNumberGenerator& h, double spreadMin, double spreadMax) {
  const double a = h.Uniform(spreadMin, spreadMax);
  return h.Chance(0.5) ? -a : a;
}

}  // namespace

BranchSchedule::BranchSchedule(double branching, int64_t seed)
    : first(std::clamp(1.0 - 10.0 * branching / 100.0, 0.0, 1.0)),
      interval(1.2 - 0.9 * branching / 100.0),
      random(SeedValue(seed)) {
  next = first + random.Uniform(interval);
}

bool BranchSchedule::Due(double ahead) {
  if (!(ahead < 1.0 - next)) return false;
  next += random.Uniform(interval);
  return true;
}

ArcNetwork::ArcNetwork(const Rect& b, double branchingPercent, double branchSpread, double jaggedness, double step)
    : bounds(b),
      persistence(3.2 * (1.2 - (0.9 - 0.6 * (0.009 * jaggedness + 0.1)))),
      branching(branchingPercent),
      spreadMin(0.36 * kPi * branchSpread / 100.0),
      spreadMax(0.6 * kPi * branchSpread / 100.0),
      maxTurn((0.009 * jaggedness + 0.1) * kPi / 2.0),
      stepLength(step),
      midpointJitter(0.002 * jaggedness) {}

void ArcNetwork::AddMainArc(const ArcPoint& a, const ArcPoint& b, bool tapered, int64_t seed) {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  const PointD direction = length < 1e-10 ? PointD{1.0, 0.0} : PointD{(b.x - a.x) / length, (b.y - a.y) / length};
  MainArc arc{a.radius, b.radius, length, direction, BranchSchedule(branching, seed), {}};
  arc.points.push_back({a.x, a.y, a.radius, true});
  Subdivide({a.x, a.y, 1.0}, {b.x, b.y, 0.0}, seed, arc);
  arc.points.back().flash = !tapered;
  arcs.push_back(std::move(arc.points));
}

void ArcNetwork::Subdivide(const Node& p0, const Node& p1, int64_t seed, MainArc& arc) {
  RandomNumberGenerator g(SeedValue(seed));
  const double dx = p1.x - p0.x, dy = p1.y - p0.y, length = std::hypot(dx, dy);
  if (length > stepLength) {
    const double offset = length * g.Uniform(-midpointJitter, midpointJitter);
    const Node middle{(p0.x + p1.x) / 2 + dy / length * offset, (p0.y + p1.y) / 2 - dx / length * offset,
                      (p0.ahead + p1.ahead) / 2};
    const int64_t firstSeed = g.Next();
    Subdivide(p0, middle, firstSeed, arc);
    const int64_t secondSeed = g.Next();
    Subdivide(middle, p1, secondSeed, arc);
    return;
  }
  // The radius narrows as the square root of what is left, to r1 at the end.
  const double root = std::sqrt(p1.ahead), radius = arc.r1 + (arc.r0 - arc.r1) * root;
  arc.points.push_back({p1.x, p1.y, radius, false});
  if (!arc.schedule.Due(p1.ahead)) return;
  RandomNumberGenerator h(SeedValue(seed + int64_t(std::ceil(p1.ahead * 10000.0))));
  const PointD direction = Rotate(arc.direction, -SpreadAngle(h, spreadMin, spreadMax));
  const double f = h.Uniform(0.4, 0.8);
  AddBranch({p1.x, p1.y, radius * f, false}, direction, f * root * arc.length,
            seed + int64_t(std::ceil(p1.ahead * 20000.0)), 1);
}

void ArcNetwork::AddBranch(const ArcPoint& start, PointD d0, double length, int64_t seed, int32_t level) {
  BranchSchedule schedule(branching, seed);
  RandomNumberGenerator g(SeedValue(seed));
  const PointD bias{d0.x * persistence, d0.y * persistence};
  PointD d = d0;
  Arc points{start};

  double remaining = length - stepLength;
  PointD q{start.x + stepLength * d.x, start.y + stepLength * d.y};
  for (int64_t i = 1; remaining >= 0.0; ++i) {
    const double rho = std::sqrt(remaining / length) * start.radius, reach = std::ceil(rho);
    if (!(bounds.left - reach <= q.x && q.x < bounds.right + reach && bounds.top - reach <= q.y &&
          q.y < bounds.bottom + reach))
      break;
    points.push_back({q.x, q.y, rho, false});
    if (level < kDeepestLevel && schedule.Due(remaining / length)) {
      RandomNumberGenerator h(SeedValue(i + seed + 23));
      const PointD direction = Rotate(Normalised(bias), -SpreadAngle(h, spreadMin, spreadMax));
      const double f = h.Uniform(0.4, 0.8);
      AddBranch({q.x, q.y, rho * f, false}, direction, f * remaining, i + seed, level + 1);
    }
    const PointD turned = Rotate(d, -g.Uniform(-maxTurn, maxTurn));
    d = Normalised({stepLength * turned.x + bias.x, stepLength * turned.y + bias.y});
    remaining -= stepLength;
    q = {q.x + stepLength * d.x, q.y + stepLength * d.y};
  }
  arcs.push_back(std::move(points));
}

}  // namespace kv
