#include "effects/classic_mosaic/mosaic_tiles.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

#include "image/lanes.h"
#include "image/pixel_ops.h"
#include "image/vector_kernels.h"

namespace kv {

void MosaicAllRings_PrecisionBevel::Reached(Point p, PointD, double d) {
  // d / T by the reciprocal: the two lie within 1e-15 of each other
  // relatively, so their floors differ only next to a whole number, where
  // the quotient itself decides. d >= 0, so truncation floors.
  const double q = d * inverse_;
  int64_t ring = int64_t(q);
  const double part = q - double(ring), margin = 1e-12 * (q + 1.0);
  if (!(part > margin && part < 1.0 - margin)) ring = int64_t(std::floor(d / T));
  const double k = double(ring);
  uint8_t label = BandLabel(ring);
  if ((k + 0.5) * T < d && d < (k + 0.5) * T + 1.0) {
    ++label;
    if (size_t(ring) >= centres_.size()) centres_.resize(size_t(ring) + 1);
    centres_[size_t(ring)].push_back(p);
  }
  ringLabels(p.x, p.y) = label;
}

namespace {

bool Aborted(Abort_Tester* abort) { return abort != nullptr && abort->ShouldAbort(); }

// Stable counting sorts by column, then by row: scan order.
void ToScanOrder(std::vector<Point>& points, const Rect& A, std::vector<Point>& scratch,
                 std::vector<uint32_t>& counts) {
  const auto pass = [&](auto key, int32_t range) {
    counts.assign(size_t(range) + 1, 0);
    for (const Point& p : points) ++counts[size_t(key(p)) + 1];
    for (int32_t i = 1; i <= range; ++i) counts[size_t(i)] += counts[size_t(i) - 1];
    scratch.resize(points.size());
    for (const Point& p : points) scratch[counts[size_t(key(p))]++] = p;
    points.swap(scratch);
  };
  pass([&](const Point& p) { return p.x - A.left; }, A.Width());
  pass([&](const Point& p) { return p.y - A.top; }, A.Height());
}

int64_t Squared(Point a, Point b) {
  const int64_t dx = a.x - b.x, dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// The tiles of one ring in buckets of cells a little larger than a tile, so
// that boxes that may overlap, and neighbours, are found in the cells nearby.
class TileGrid {
 public:
  TileGrid(const Rect& A, double T)
      : A_(A), cell_(int32_t(std::ceil(T)) + 2), columns_((A.Width() + cell_ - 1) / cell_),
        heads_(size_t(columns_) * size_t((A.Height() + cell_ - 1) / cell_), -1) {}

  int32_t Cell() const { return cell_; }
  void Add(int32_t tile, Point c) {
    int32_t& head = heads_[Index(c)];
    next_.resize(std::max(next_.size(), size_t(tile) + 1));
    next_[size_t(tile)] = head;
    head = tile;
  }
  // Every tile in the cells within `reach` cells of c's.
  template <class Visit>
  void Near(Point c, int32_t reach, Visit&& visit) const {
    const int32_t cx = (c.x - A_.left) / cell_, cy = (c.y - A_.top) / cell_;
    const int32_t rows = int32_t(heads_.size()) / columns_;
    for (int32_t y = std::max(0, cy - reach); y <= std::min(rows - 1, cy + reach); ++y)
      for (int32_t x = std::max(0, cx - reach); x <= std::min(columns_ - 1, cx + reach); ++x)
        for (int32_t t = heads_[size_t(y) * columns_ + x]; t >= 0; t = next_[size_t(t)])
          if (!visit(t)) return;
  }
  void Remove(Point c) { heads_[Index(c)] = -1; }

 private:
  size_t Index(Point c) const {
    return size_t((c.y - A_.top) / cell_) * size_t(columns_) + size_t((c.x - A_.left) / cell_);
  }

  Rect A_;
  int32_t cell_, columns_;
  std::vector<int32_t> heads_, next_;
};

// A side of the tile's quadrilateral: the signed distance from it, positive
// inside (y down, corners clockwise on screen). A side of no length imposes
// nothing.
struct Side {
  double a = 0.0, b = 0.0, c = DBL_MAX;

  Side() = default;
  Side(Point p, Point q) {
    const double length = std::hypot(double(q.x - p.x), double(q.y - p.y));
    if (length == 0.0) return;
    a = (p.y - q.y) / length;
    b = (q.x - p.x) / length;
    c = (double(p.x) * q.y - double(p.y) * q.x) / length;
  }
  double Distance(double x, double y) const { return a * x + b * y + c; }
};

struct Neighbour {
  int64_t squared;
  Point centre;
};

// What one tile took of its ring.
struct Claim {
  Rect box;                  // the claim box: `claimed` holds a byte per pixel of it
  std::vector<uint8_t> claimed;
  Point corner[4];           // leftmost, topmost, rightmost, bottommost
  Rect bounds;               // of the claimed pixels and the centre
  int64_t count = 0, sumX = 0, sumY = 0;

  uint8_t& At(int32_t x, int32_t y) { return claimed[size_t(y - box.top) * size_t(box.Width()) + size_t(x - box.left)]; }
};

// Calls visit(i) for every i < count with bytes[i] == value, in order: eight
// bytes at a time, since most bytes of a claim box belong to other rings.
static_assert(std::endian::native == std::endian::little, "bytes are found from the low end of a word");
template <class Visit>
void ForEachByte(const uint8_t* bytes, int32_t count, uint8_t value, Visit&& visit) {
  constexpr uint64_t kLow = 0x0101010101010101ull, kSeven = 0x7f7f7f7f7f7f7f7full;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    const uint64_t v = word ^ (kLow * value);
    // The top bit of each byte of v that is zero, and no other.
    uint64_t zero = ~(((v & kSeven) + kSeven) | v | kSeven);
    for (; zero != 0; zero &= zero - 1) visit(i + (std::countr_zero(zero) >> 3));
  }
  for (; i < count; ++i)
    if (bytes[i] == value) visit(i);
}

// The ring's pixels of the claim box nearer to c than to any neighbour.
void ClaimPixels(const ByteMask& labels, uint8_t band, Point c, double T, const std::vector<Neighbour>& near,
                 Claim& claim) {
  const Rect& A = labels.bounds;
  const auto from = [](double v) { return int32_t(std::floor(v)); };
  claim.box = Rect{from(c.x - 1.2 * T + 0.5), from(c.y - 1.2 * T + 0.5), from(c.x + 1.2 * T + 1.5),
                   from(c.y + 1.2 * T + 1.5)}.Intersect(A);
  claim.claimed.assign(size_t(claim.box.Width()) * size_t(claim.box.Height()), 0);
  for (Point& p : claim.corner) p = c;
  claim.bounds = {c.x, c.y, c.x + 1, c.y + 1};
  claim.count = claim.sumX = claim.sumY = 0;

  for (int32_t y = claim.box.top; y < claim.box.bottom; ++y) {
    // q is nearer to a neighbour n than to c when 2 u dx > R, with (u, v)
    // = q - c, (dx, dy) = n - c and R = dx^2 + dy^2 - 2 v dy: each
    // neighbour leaves a half-row, and the row keeps one stretch of columns.
    const int64_t v = y - c.y;
    int64_t lo = claim.box.left - c.x, hi = claim.box.right - 1 - c.x;
    for (const Neighbour& n : near) {
      const int64_t dx = n.centre.x - c.x, dy = n.centre.y - c.y, R = dx * dx + dy * dy - 2 * v * dy;
      // The quotient of the doubles rounds to the nearest, and so can reach
      // an integer the exact one falls short of: one step back fixes it.
      if (dx > 0) {
        int64_t t = int64_t(std::floor(double(R) / double(2 * dx)));
        if (2 * t * dx > R) --t;
        hi = std::min(hi, t);
      } else if (dx < 0) {
        int64_t t = int64_t(std::ceil(double(R) / double(2 * dx)));
        if (2 * t * dx > R) ++t;
        lo = std::max(lo, t);
      } else if (R < 0) {
        hi = lo - 1;
      }
    }
    if (lo > hi) continue;
    const int32_t left = int32_t(lo + c.x), right = int32_t(hi + c.x) + 1;
    const uint8_t* label = labels.Address(left, y);
    uint8_t* claimed = &claim.At(left, y);
    ForEachByte(label, right - left, band, [&](int32_t i) {
      const Point q{left + i, y};
      claimed[i] = 255;
      ++claim.count;
      claim.sumX += q.x;
      claim.sumY += q.y;
      Rect& r = claim.bounds;
      if (q.x < r.left) claim.corner[0] = q, r.left = q.x;
      if (q.y < r.top) claim.corner[1] = q, r.top = q.y;
      if (q.x + 1 > r.right) claim.corner[2] = q, r.right = q.x + 1;
      if (q.y + 1 > r.bottom) claim.corner[3] = q, r.bottom = q.y + 1;
    });
  }
}

// The coverage of the pixels of r from the lines' factors, W pixels to a
// vector: each pixel's product of clamp(distance - g, 0, 1) over the lines,
// in their order, as bytes.
struct CoverageRows {
  const Side* lines;
  int32_t count;  // at most 8
  Rect r;
  double g;
  uint8_t* out;

  template <int W>
  [[gnu::always_inline]] void Run() const {
    using D = typename Wide<W>::D;
    using I = typename Wide<W>::I;
    const D one = D{} + 1.0;
    const int32_t w = r.Width();
    D lane = {};
    for (int l = 0; l < W; ++l) lane[l] = l;
    uint8_t* row = out;
    double start[8];
    for (int32_t y = r.top; y < r.bottom; ++y, row += w) {
      for (int32_t k = 0; k < count; ++k) start[k] = lines[k].a * r.left + lines[k].b * y + lines[k].c - g;
      for (int32_t i = 0; i < w; i += W) {
        const D at = lane + double(i);
        D product = one;
        for (int32_t k = 0; k < count; ++k) product *= ClampUnit<W>(start[k] + lines[k].a * at);
        const I bytes = __builtin_convertvector(255.0 * ClampUnit<W>(product), I);
        for (int l = 0; l < W && i + l < w; ++l) row[i + l] = uint8_t(bytes[l]);
      }
    }
  }
  static void Baseline(const CoverageRows& c) { c.Run<2>(); }
  KV_FOR_AVX2 static void Avx2(const CoverageRows& c) { c.Run<4>(); }
  KV_FOR_AVX512 static void Avx512(const CoverageRows& c) { c.Run<8>(); }
};

// How much of each pixel of the claim's bounds the tile covers, 0..255: its
// quadrilateral, each side broken outward at the pixel that bulges furthest
// beyond it by more than a pixel, pulled in by the inset g.
void TileCoverage(Claim& claim, double g, std::vector<uint8_t>& coverage) {
  const Rect& r = claim.bounds;
  const Point* P = claim.corner;
  const Side sides[4] = {Side(P[0], P[1]), Side(P[1], P[2]), Side(P[2], P[3]), Side(P[3], P[0])};
  double m[4] = {0.0, 0.0, 0.0, 0.0};
  Point Q[4] = {P[0], P[1], P[2], P[3]};
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = r.left; x < r.right; ++x) {
      if (claim.At(x, y) <= 127) continue;
      for (int i = 0; i < 4; ++i) {
        const double d = sides[i].Distance(x, y);
        if (d < m[i]) m[i] = d, Q[i] = {x, y};
      }
    }

  // Each side as one or two lines whose factors multiply; lines of no
  // length impose nothing.
  Side lines[8];
  int32_t n = 0;
  for (int i = 0; i < 4; ++i) {
    const Point b = P[(i + 1) % 4];
    if (m[i] < -1.0) {
      lines[n++] = Side(P[i], Q[i]);
      lines[n++] = Side(Q[i], b);
    } else {
      lines[n++] = sides[i];
    }
  }
  n = int32_t(std::remove_if(lines, lines + n, [](const Side& l) { return l.c == DBL_MAX; }) - lines);

  coverage.resize(size_t(r.Width()) * size_t(r.Height()));
  const CoverageRows rows{lines, n, r, g, coverage.data()};
  switch (CurrentVectorPath()) {
    case VectorPath::kAvx512: CoverageRows::Avx512(rows); break;
    case VectorPath::kAvx2: CoverageRows::Avx2(rows); break;
    default: CoverageRows::Baseline(rows); break;
  }
}

// Tiles along a ring's centre line from a random start, each where its box
// overlaps none taken before; the grid holds them for their neighbours.
void PlaceTiles(const std::vector<Point>& line, const Rect& A, double T, RandomNumberGenerator& random,
                TileGrid& grid, std::vector<Point>& tiles, std::vector<Rect>& boxes) {
  tiles.clear();
  boxes.clear();
  const int32_t count = int32_t(line.size());
  const int32_t start = random.Between(0, count);
  for (int32_t i = 0; i < count; ++i) {
    const Point c = line[size_t((i + start) % count)];
    const Rect box = Rect{int32_t(std::floor(c.x - T / 2)), int32_t(std::floor(c.y - T / 2)),
                          int32_t(std::ceil(c.x + T / 2)), int32_t(std::ceil(c.y + T / 2))}
                         .Intersect(A);
    bool free = true;
    grid.Near(c, 1, [&](int32_t t) {
      const Rect& o = boxes[size_t(t)];
      free = !(box.left < o.right && o.left < box.right && box.top < o.bottom && o.top < box.bottom);
      return free;
    });
    if (!free) continue;
    grid.Add(int32_t(tiles.size()), c);
    tiles.push_back(c);
    boxes.push_back(box);
  }
}

// A bound on every pixel's distance from the unselected pixels of the mask
// and from beyond its bounds, in blocks of 8 x 8 pixels: a block holding an
// unselected pixel, or on the border, is at block distance 0; any pixel of
// a block at chessboard block distance D lies within (D + 1) 8 sqrt 2 of an
// unselected pixel. Returns 0 when the bound would exceed `limit`.
int32_t DistanceBound(const ByteMask& mask, int32_t limit) {
  constexpr int32_t kBlock = 8;
  const Rect& A = mask.bounds;
  const int32_t columns = (A.Width() + kBlock - 1) / kBlock, rows = (A.Height() + kBlock - 1) / kBlock;
  std::vector<int32_t> d(size_t(columns) * size_t(rows), 1 << 20);
  for (int32_t y = A.top; y < A.bottom; ++y) {
    const uint8_t* m = mask.Row(y);
    int32_t* row = &d[size_t((y - A.top) / kBlock) * size_t(columns)];
    for (int32_t i = 0; i < A.Width(); ++i)
      if (m[i] <= 127) row[i / kBlock] = 0;
  }
  for (int32_t by = 0; by < rows; ++by)
    for (int32_t bx = 0; bx < columns; ++bx)
      if (bx == 0 || by == 0 || bx == columns - 1 || by == rows - 1) d[size_t(by) * columns + bx] = 0;
  // Chessboard distances over the blocks, one pass each way.
  const auto at = [&](int32_t bx, int32_t by) -> int32_t& { return d[size_t(by) * columns + bx]; };
  for (int32_t by = 1; by < rows; ++by)
    for (int32_t bx = 1; bx < columns; ++bx)
      at(bx, by) = std::min({at(bx, by), at(bx - 1, by) + 1, at(bx - 1, by - 1) + 1, at(bx, by - 1) + 1,
                             bx + 1 < columns ? at(bx + 1, by - 1) + 1 : 1 << 20});
  int32_t largest = 0;
  for (int32_t by = rows - 2; by >= 0; --by)
    for (int32_t bx = columns - 2; bx >= 0; --bx) {
      at(bx, by) = std::min({at(bx, by), at(bx + 1, by) + 1, at(bx + 1, by + 1) + 1, at(bx, by + 1) + 1,
                             bx > 0 ? at(bx - 1, by + 1) + 1 : 1 << 20});
      largest = std::max(largest, at(bx, by));
    }
  const double bound = std::ceil((largest + 1) * kBlock * std::sqrt(2.0));
  return bound <= limit ? int32_t(bound) : 0;
}

// Scratch shared by the tiles of a render.
struct TileWork {
  std::vector<Neighbour> near;
  Claim claim;
  std::vector<uint8_t> coverage, colours;
};

// Claims the tile's pixels and blends it over the output in the colour at
// their centroid (the centre's own when it claimed none).
void DrawTile(const ByteImage& input, ByteImage& output, const ByteMask& labels, uint8_t band, Point c,
              const std::vector<Point>& tiles, const TileGrid& grid, const TileSettings& settings, TileWork& w) {
  const double T = settings.tileSize;
  const int64_t limit = int64_t(std::floor(5.76 * T * T + 0.5));
  w.near.clear();
  grid.Near(c, int32_t(std::ceil(std::sqrt(double(limit)) / grid.Cell())), [&](int32_t t) {
    const Point n = tiles[size_t(t)];
    const int64_t d = Squared(n, c);
    if (!(n == c) && d < limit) w.near.push_back({d, n});
    return true;
  });
  std::sort(w.near.begin(), w.near.end(), [](const Neighbour& a, const Neighbour& b) { return a.squared < b.squared; });
  Claim& claim = w.claim;
  ClaimPixels(labels, band, c, T, w.near, claim);

  const Point at = claim.count > 0 ? Point{int32_t(claim.sumX / claim.count), int32_t(claim.sumY / claim.count)} : c;
  TileCoverage(claim, T * settings.groutWidth / 320.0 - 1.0, w.coverage);
  const Rect& r = claim.bounds;
  const int32_t step = output.pixelStep;
  w.colours.resize(size_t(r.Width()) * size_t(step));
  for (int32_t i = 0; i < r.Width(); ++i) std::copy_n(input.Address(at.x, at.y), step, &w.colours[size_t(i) * step]);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    // Only the stretch the tile covers: blending by 0 changes nothing.
    const uint8_t* cover = &w.coverage[size_t(y - r.top) * size_t(r.Width())];
    int32_t from = 0, to = r.Width();
    while (from < to && cover[from] == 0) ++from;
    while (to > from && cover[to - 1] == 0) --to;
    // Blending by 255 gives the tile's colour: a tile's inside is copied.
    for (int32_t i = from; i < to;) {
      int32_t j = i + 1;
      const bool whole = cover[i] == 255;
      while (j < to && (cover[j] == 255) == whole) ++j;
      uint8_t* px = output.Address(r.left + i, y);
      if (whole) std::memcpy(px, w.colours.data(), size_t(j - i) * size_t(step));
      else BlendRowByMask(cover + i, px, w.colours.data(), px, j - i, output.format);
      i = j;
    }
  }
}

}  // namespace

int32_t LayTiles(const ByteImage& input, ByteImage& output, ByteMask ringMask, const TileSettings& settings,
                 RandomNumberGenerator& random, Abort_Tester* abort, ProgressUpdateSink* progress) {
  const Rect A = ringMask.bounds;
  const double T = settings.tileSize;
  const double V = std::hypot(double(A.Width()), double(A.Height()));
  const double R = std::max(1.0, 0.125 * V / T);
  int32_t err = 0;
  try {
    ByteMask labels(err, A);
    if (err != 0) return err;
    labels.Fill(kNoRing);
    // Where the edges lie close together everywhere, the distances are
    // measured in strips that reach as far as any distance can: the front
    // of each strip stays small, instead of spanning the picture.
    const int32_t reach = DistanceBound(ringMask, 64);
    const int32_t rows = reach > 0 ? std::max(64, 4 * reach) : A.Height();
    std::vector<std::vector<Point>> centres;
    for (int32_t top = A.top; top < A.bottom; top += rows) {
      MosaicAllRings_PrecisionBevel bevel(labels, T, centres);
      bevel.Init(err, ringMask, reach > 0 ? reach : V, {A.left, top, A.right, std::min(A.bottom, top + rows)}, true,
                 0.0, 0.0);
      if (err == 0 && rows == A.Height()) ringMask = ByteMask();  // the bevel measures on its own copy
      if (err == 0) bevel.Run(err, abort, nullptr, 0.0, 1.0);
      if (err != 0) return err;
    }

    TileGrid grid(A, T);
    std::vector<Point> tiles, scratch;
    std::vector<Rect> boxes;
    std::vector<uint32_t> counts;
    TileWork work;
    for (size_t k = 0; k < centres.size(); ++k) {
      ReportProgress(progress, 0.0, 1.0, std::clamp(double(k) / R, 0.3, 1.0));
      if (Aborted(abort)) return kErrAborted;
      std::vector<Point>& line = centres[k];
      if (line.empty()) break;
      ToScanOrder(line, A, scratch, counts);
      PlaceTiles(line, A, T, random, grid, tiles, boxes);
      std::vector<Point>().swap(line);
      for (const Point c : tiles) {
        if (Aborted(abort)) return kErrAborted;
        DrawTile(input, output, labels, BandLabel(int64_t(k)), c, tiles, grid, settings, work);
      }
      for (const Point c : tiles) grid.Remove(c);
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace kv
