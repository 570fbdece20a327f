#include "effects/shatter/pieces.h"

#include <cmath>
#include <numbers>

namespace kv::shatter {

namespace {

Point2 Mean(const Polygon& p) {
  Point2 m;
  for (const Point2& v : p) m.x += v.x, m.y += v.y;
  m.x /= double(p.size()), m.y /= double(p.size());
  return m;
}

// The two sides of the line through `m` along `d`; each stays anticlockwise.
void Split(const Polygon& p, Point2 m, Point2 d, Polygon& left, Polygon& right) {
  auto side = [&](const Point2& v) { return d.x * (v.y - m.y) - d.y * (v.x - m.x); };
  for (size_t i = 0; i < p.size(); ++i) {
    const Point2 &a = p[i], &b = p[(i + 1) % p.size()];
    const double sa = side(a), sb = side(b);
    if (sa >= 0.0) left.push_back(a);
    if (sa <= 0.0) right.push_back(a);
    if ((sa > 0.0 && sb < 0.0) || (sa < 0.0 && sb > 0.0)) {
      const double t = sa / (sa - sb);
      const Point2 cut{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
      left.push_back(cut);
      right.push_back(cut);
    }
  }
}

void Cut(const Polygon& p, double share, double threshold, double angleRange, RandomNumberGenerator& rng,
         std::vector<Polygon>& pieces) {
  const Point2 m = Mean(p);
  Point2 far = p[0];
  double farthest = -1.0;
  for (const Point2& v : p) {
    const double d = (v.x - m.x) * (v.x - m.x) + (v.y - m.y) * (v.y - m.y);
    if (d > farthest) farthest = d, far = v;
  }
  const double turn = rng.Uniform(-angleRange, angleRange);
  const Point2 across{far.y - m.y, -(far.x - m.x)};
  const Point2 d{across.x * std::cos(turn) - across.y * std::sin(turn),
                 across.x * std::sin(turn) + across.y * std::cos(turn)};
  Polygon first, second;
  Split(p, m, d, first, second);
  // A line through the mean of a convex polygon leaves something on both
  // sides, unless the polygon has no area left to cut.
  if (first.size() < 3 || second.size() < 3) {
    pieces.push_back(p);
    return;
  }
  if (share <= threshold) {
    pieces.push_back(std::move(first));
    pieces.push_back(std::move(second));
    return;
  }
  Cut(first, 0.5 * share, threshold, angleRange, rng, pieces);
  Cut(second, 0.5 * share, threshold, angleRange, rng, pieces);
}

Vec Add(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec Sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec Scale(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

}  // namespace

std::vector<Polygon> CutPieces(const Polygon& area, double threshold, double angleRange, RandomNumberGenerator& rng) {
  std::vector<Polygon> pieces;
  if (area.size() >= 3) Cut(area, 1.0, threshold, angleRange, rng, pieces);
  return pieces;
}

std::vector<Flight> Flights(const std::vector<Polygon>& pieces, double time, double tumble, double reach,
                            const Vec& origin, RandomNumberGenerator& rng) {
  std::vector<Flight> flights;
  flights.reserve(pieces.size());
  for (const Polygon& piece : pieces) {
    Flight f;
    const Point2 c = Mean(piece);
    f.centre = {c.x, c.y, 0.0};
    const double az = rng.Uniform(0.0, 2.0 * std::numbers::pi);
    const double el = rng.Uniform(0.0, std::numbers::pi / 8.0);
    const double speed = rng.Uniform(0.1, 1.0);
    double spin = speed * 2.0 * std::numbers::pi * tumble;
    if (rng.Chance(0.5)) spin = -spin;
    // The viewing axis tilted by el towards az.
    f.axis = {std::sin(el) * std::sin(az), -std::sin(el) * std::cos(az), std::cos(el)};
    f.angle = spin * time;
    const Vec away = Sub(f.centre, origin);
    const double length = std::sqrt(Dot(away, away));
    const Vec u = length < 1e-10 ? Vec{1.0, 0.0, 0.0} : Scale(away, 1.0 / length);
    f.offset = Scale(u, time * reach);
    flights.push_back(f);
  }
  return flights;
}

Vec Rotate(const Vec& v, const Vec& k, double angle) {
  // Rodrigues: v cos + (k x v) sin + k (k . v)(1 - cos).
  const double c = std::cos(angle), s = std::sin(angle);
  return Add(Add(Scale(v, c), Scale(Cross(k, v), s)), Scale(k, Dot(k, v) * (1.0 - c)));
}

Slab PlaceSlab(const Polygon& piece, const Flight& f, double depth) {
  Slab slab;
  const size_t n = piece.size();
  slab.front.reserve(n);
  slab.back.reserve(n);
  auto place = [&](Vec v) { return Add(Add(Rotate(Sub(v, f.centre), f.axis, f.angle), f.centre), f.offset); };
  for (const Point2& p : piece) {
    slab.front.push_back(place({p.x, p.y, 0.0}));
    slab.back.push_back(place({p.x, p.y, -depth}));
    slab.source.push_back(p);
  }
  slab.frontNormal = Rotate({0.0, 0.0, 1.0}, f.axis, f.angle);
  slab.sideNormals.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    // Outward from an anticlockwise outline: the edge turned clockwise.
    const Point2 &a = piece[i], &b = piece[(i + 1) % n];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const Vec out = len > 0.0 ? Vec{(b.y - a.y) / len, -(b.x - a.x) / len, 0.0} : Vec{};
    slab.sideNormals.push_back(Rotate(out, f.axis, f.angle));
  }
  slab.centre = place({f.centre.x, f.centre.y, 0.0});
  return slab;
}

}  // namespace kv::shatter
