// The broken glass: the area cut into convex pieces, and each piece's flight.
// Scene units: the image plane at depth 0, one unit half the image's height,
// y up. Everything here is computed from the full-size image, so a preview
// shows the same pieces as the final render.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/random.h"

namespace kv::shatter {

struct Point2 {
  double x = 0.0, y = 0.0;
};
using Polygon = std::vector<Point2>;

// Cuts `area` (convex, anticlockwise) in two through the mean of its vertices,
// across the line to its farthest vertex turned by up to `angleRange` radians
// either way, and again while a half's share of the area is above `threshold`.
// A share halves with every cut.
std::vector<Polygon> CutPieces(const Polygon& area, double threshold, double angleRange, RandomNumberGenerator& rng);

struct Vec {
  double x = 0.0, y = 0.0, z = 0.0;
};

// Where a piece is at the moment shown: turned about `axis` through its
// centre by `angle`, then moved by `offset`.
struct Flight {
  Vec centre;  // the mean of its vertices, on the image plane
  Vec axis;
  double angle = 0.0;
  Vec offset;
};

// Each piece's flight, drawn from `rng` in piece order after the cuts: time
// and tumble 0..1, `reach` how far a piece travels in the whole time, away
// from `origin` (behind the image plane).
std::vector<Flight> Flights(const std::vector<Polygon>& pieces, double time, double tumble, double reach,
                            const Vec& origin, RandomNumberGenerator& rng);

// A piece as drawn: its front face at the image plane and its back `depth`
// behind, each vertex carrying the image position it shows, turned and
// moved by its flight.
struct Slab {
  std::vector<Vec> front, back;  // same order as the polygon
  std::vector<Point2> source;    // the plane position each vertex shows
  Vec frontNormal;               // the back's is its opposite
  std::vector<Vec> sideNormals;  // side i joins vertex i and i + 1
  Vec centre;                    // of the moved front face
};
Slab PlaceSlab(const Polygon& piece, const Flight& flight, double depth);

Vec Rotate(const Vec& v, const Vec& axis, double angle);

}  // namespace kv::shatter
