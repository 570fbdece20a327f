#include "effects/puzzle/puzzle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "parameters/parameters.h"
#include "image/pixel_ops.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Puzzle::SetDefaults(void* block) const {
  PuzzleSettings& b = *static_cast<PuzzleSettings*>(block);
  b = PuzzleSettings{};
  b.filterId = kPuzzleEffect;
  FreshPuzzle(b.arrangement, 10, 10);
  b.connectorLength = 50.0;
  b.reserved = 80.0;
  b.grooveWidth = 50.0;
  b.knockoutFill = {kFillTransparent, Color::RGB(255, 255, 255)};
  b.connectorSeed = 1;
  b.grooveDarkness = 80.0;
  b.lightDirection = 135.0;
  b.highlightBrightness = 100.0;
  b.highlightSize = 20.0;
}

int32_t Puzzle::BuildParameters(ParameterList& list, void* block) {
  PuzzleSettings& b = *static_cast<PuzzleSettings*>(block);
  list.dialogHelp = "Puzzle Arrangement Help";
  int32_t err = list.AddPage("Lighting");
  if (err == 0) {
    auto arrangement = std::make_unique<PuzzleArrangementParameter>();
    arrangement->text.label = "Puzzle Arrangement";
    arrangement->value = &b.arrangement;
    err = list.AddParameter(std::move(arrangement));
  }
  if (err == 0) err = AddSlider(list, "Connector Length", ps::FourCC("Lngt"), &b.connectorLength, 1.0, 100.0);
  if (err == 0) err = AddSlider(list, "Groove Width", ps::FourCC("Wdth"), &b.grooveWidth, 1.0, 100.0);
  if (err == 0) {
    auto fill = MakeLayerFill("Knockout Fill", &b.knockoutFill);
    fill->transparentChoice = {"Make knockouts transparent", "Make knockouts transparent help"};
    err = list.AddParameter(std::move(fill));
  }
  if (err == 0)
    err = AddParameter<RandomSeedParameter>(list, "Connector Random Seed", ps::FourCC("RndS"), &b.connectorSeed);
  if (err == 0) err = AddSlider(list, "Groove Darkness", ps::FourCC("Drkn"), &b.grooveDarkness, 10.0, 100.0, 1);
  if (err == 0) err = AddParameter<DirectionParameter>(list, "Light Direction", ps::FourCC("Drct"), &b.lightDirection, 1);
  if (err == 0) err = AddSlider(list, "Highlight Brightness", ps::FourCC("HIbr"), &b.highlightBrightness, 0.0, 100.0, 1);
  if (err == 0) err = AddSlider(list, "Highlight Size", ps::FourCC("HIsh"), &b.highlightSize, 0.0, 100.0, 1);
  return err;
}

void Puzzle::InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void*, double) const {
  neededInput = tile;
  neededExtra = tile;
}

// --- the cuts ------------------------------------------------------------------

namespace {

constexpr double kHuge = 1e300;

}  // namespace

BezierConnectedCurveList Puzzle::Connector(RandomNumberGenerator& g, double connectorLength, bool flipped) {
  const double S = std::clamp(std::sqrt(g.Uniform(0.44, 2.04) * (0.008 * connectorLength + 0.1)), 0.2, 0.9);
  const double A = 0.25 * S, B = 0.05 * S, T = 0.12 - 0.06 * S, H = std::max(0.0, A - 0.15);
  // The neck factor follows each knob's own size.
  const double K = 1.5 - 0.9 * S;
  const double W = g.Uniform(0.34, 0.74) * K * T;
  const double j = g.Uniform(-0.8, 0.8) * 0.3 * B, P = H + j, Q = H - j, D = Q - P;
  const double E = g.Uniform(-0.8, 0.8) * 0.0375;

  const auto mirror = [](PointD through, PointD p) { return PointD{2.0 * through.x - p.x, 2.0 * through.y - p.y}; };
  CubicSegment first{{{0.75, 0.0},
                      {0.5 + W + E, -(B + Q)},
                      {0.5 + W + E, 2.0 * B - Q},
                      {0.5 + E + W + 0.7 * (T - W), A - 2.0 * B - Q}}};
  CubicSegment second{{first.p[3], mirror(first.p[3], first.p[2]), {0.5 + 0.5 * T + E, A - H - D}, {0.5 + E, A - H}}};
  CubicSegment fourth{{{0.5 + E - W - 0.7 * (T - W), A - 2.0 * B - P},
                       {0.5 - W + E, 2.0 * B - P},
                       {0.5 - W + E, -(B + P)},
                       {0.25, 0.0}}};
  CubicSegment third{{second.p[3], mirror(second.p[3], second.p[2]), mirror(fourth.p[0], fourth.p[1]), fourth.p[0]}};

  BezierConnectedCurveList knob;
  for (const CubicSegment& s : {first, second, third, fourth}) knob.Add(s);
  knob.Scale(2.0, 2.0);
  knob.Translate(-0.5, 0.0);
  if (flipped) knob.Scale(1.0, -1.0);
  return knob;
}

void Puzzle::BuildEdges(const PuzzleSettings& b, const Rect& area, double reach) {
  const PuzzleArrangement& a = b.arrangement;
  const int32_t columns = std::clamp<int32_t>(a.columns, 1, kPuzzleMaxSize);
  const int32_t rows = std::clamp<int32_t>(a.rows, 1, kPuzzleMaxSize);
  cellWidth = double(area.Width()) / columns;
  cellHeight = double(area.Height()) / rows;
  random.Seed(b.connectorSeed);

  // Cell units to the area's pixels. A cut next to a knocked-out piece
  // must tell every pixel its side.
  const auto place = [&](PuzzleEdge& e, int32_t x, int32_t y) {
    e.curve.Translate(x, y);
    e.curve.Scale(cellWidth, cellHeight);
    e.curve.Translate(area.left, area.top);
    e.curve.Prepare(reach, e.knockedAfter || e.knockedBefore);
  };
  horizontalEdges.assign(size_t(columns) * size_t(rows + 1), {});
  for (int32_t y = 0; y <= rows; ++y)
    for (int32_t x = 0; x < columns; ++x) {
      PuzzleEdge& e = horizontalEdges[size_t(y) * columns + x];
      e.curve = y == 0 || y == rows ? BezierConnectedCurveList::Straight()
                                    : Connector(random, b.connectorLength, a.HorizontalEdge(x, y));
      e.knockedBefore = y > 0 && !a.Piece(x, y - 1);
      e.knockedAfter = y < rows && !a.Piece(x, y);
      place(e, x, y);
    }
  verticalEdges.assign(size_t(columns + 1) * size_t(rows), {});
  for (int32_t y = 0; y < rows; ++y)
    for (int32_t x = 0; x <= columns; ++x) {
      PuzzleEdge& e = verticalEdges[size_t(y) * (columns + 1) + x];
      e.curve = x == 0 || x == columns ? BezierConnectedCurveList::Straight()
                                       : Connector(random, b.connectorLength, a.VerticalEdge(x, y));
      e.curve.Translate(-1.0, 0.0);
      e.curve.RotateQuarter();
      e.knockedBefore = x > 0 && !a.Piece(x - 1, y);
      e.knockedAfter = x < columns && !a.Piece(x, y);
      place(e, x, y);
    }

  const auto rowsReached = [](const std::vector<PuzzleEdge>& edges, int32_t count, int32_t perRow) {
    std::vector<std::pair<double, double>> reached(size_t(count), {kHuge, -kHuge});
    for (size_t i = 0; i < edges.size(); ++i) {
      auto& r = reached[i / size_t(perRow)];
      r = {std::min(r.first, edges[i].curve.ReachTop()), std::max(r.second, edges[i].curve.ReachBottom())};
    }
    return reached;
  };
  horizontalReach = rowsReached(horizontalEdges, rows + 1, columns);
  verticalReach = rowsReached(verticalEdges, rows, columns + 1);
  nearKnockout.assign(size_t(columns) * rows, 0);
  for (int32_t y = 0; y < rows; ++y)
    for (int32_t x = 0; x < columns; ++x) {
      const PuzzleEdge* sides[4] = {&horizontalEdges[size_t(y) * columns + x],
                                    &horizontalEdges[size_t(y + 1) * columns + x],
                                    &verticalEdges[size_t(y) * (columns + 1) + x],
                                    &verticalEdges[size_t(y) * (columns + 1) + x + 1]};
      for (const PuzzleEdge* e : sides) nearKnockout[size_t(y) * columns + x] |= e->knockedAfter || e->knockedBefore;
    }
}

void Puzzle::FinishRender(void*) {
  horizontalEdges = {};
  verticalEdges = {};
  horizontalReach = verticalReach = {};
  nearKnockout = {};
}

// --- render ------------------------------------------------------------------

int32_t Puzzle::Render(RenderContext& c) {
  try {
    return ForPixelLayout(c.output->format, [&]<int32_t N, bool Alpha>() { return RenderAs<N, Alpha>(c); }, kErrGeneral);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The lit groove: the light, the highlight and the two colours it moves
// pixels toward.
struct Groove {
  double r;  // radius, render pixels
  double darkness, brightness, exponent;
  double lx, ly, lz;
  double black[5], white[5];
};

// Moves v toward `colour` by alpha / 255.
template <int32_t Colors>
void Toward(double* v, const double* colour, double alpha) {
  const double w = alpha / 255.0;
  for (int32_t k = 0; k < Colors; ++k) v[k] += (colour[k] - v[k]) * w;
}

// The groove's shade at distance d from the cut, `toCut` the unit vector
// from the pixel to the cut's closest point.
template <int32_t Colors>
void Shade(double* v, const Groove& g, double d, PointD toCut) {
  const double strength = (1.0 - d / g.r) * g.darkness;
  const double V = 255.0 * strength;
  // The slope of a round channel of radius r; steep right at the cut.
  const double s = std::min((g.r - d) / std::sqrt((2.0 * g.r - d) * d), 1e6);
  const double c = s * (toCut.x * g.lx + toCut.y * g.ly) + g.lz;
  if (c <= 0.0) {
    Toward<Colors>(v, g.black, V);
    return;
  }
  const double a = std::min(1.0, 4.0 * d / 3.0), n2 = s * s + 1.0;
  Toward<Colors>(v, g.black, (1.0 - a) * V);
  Toward<Colors>(v, g.black, V * (1.0 - c / std::sqrt(n2)));
  const double R = 2.0 * c / n2 - g.lz;
  if (R > 0.0) Toward<Colors>(v, g.white, 255.0 * g.brightness * std::pow(R, g.exponent));
}

}  // namespace

template <int32_t N, bool Alpha>
int32_t Puzzle::RenderAs(RenderContext& c) {
  constexpr int32_t colors = Alpha ? N - 1 : N;
  const PuzzleSettings& b = *static_cast<const PuzzleSettings*>(c.block);
  const Rect area = *c.sourceArea;
  const int32_t columns = std::clamp<int32_t>(b.arrangement.columns, 1, kPuzzleMaxSize);
  const int32_t rows = std::clamp<int32_t>(b.arrangement.rows, 1, kPuzzleMaxSize);
  const PixelFormat& f = c.output->format;

  // The groove's width follows the pieces' size at full size, so that a
  // reduced preview shows it in proportion.
  Groove g{};
  const double fullCells = (double(area.Width()) / columns + double(area.Height()) / rows) * c.scale;
  g.r = (2.0 + (b.grooveWidth - 1.0) / 99.0 * (0.03 * fullCells - 2.0)) / c.scale;
  if (horizontalEdges.empty()) BuildEdges(b, area, g.r);
  const double eu = 2.0 * g.r / cellWidth, ev = 2.0 * g.r / cellHeight;
  g.darkness = b.grooveDarkness / 100.0;
  g.brightness = b.highlightBrightness / 100.0;
  g.exponent = 3.0 + 2.0 * std::sqrt(100.0 - std::min(100.0, 0.9 * b.highlightSize));
  const double az = b.lightDirection * std::numbers::pi / 180.0, el = std::numbers::pi / 4.0;
  g.lx = std::cos(az) * std::cos(el);
  g.ly = -std::sin(az) * std::cos(el);
  g.lz = std::sin(el);
  const BytePixel black = HostColorPixel(Color::RGB(0, 0, 0), f, 255);
  const BytePixel white = HostColorPixel(Color::RGB(255, 255, 255), f, 255);
  for (int32_t k = 0; k < colors; ++k) g.black[k] = black[k], g.white[k] = white[k];

  uint32_t fillMode = b.knockoutFill.mode;
  if (fillMode == kFillTransparent && !Alpha) fillMode = kFillWithColor;
  BytePixel fill = HostColorPixel(b.knockoutFill.color, f, 255);
  if (fillMode == kFillTransparent) std::fill_n(fill.values, N, uint8_t(0));
  const bool keepOriginal = fillMode == kFillKeepOriginal;

  const Rect tile = *c.tile;
  std::vector<uint8_t> marks(size_t(std::max(tile.Width(), 0)));
  const double perColumn = 1.0 / cellWidth;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    const uint8_t* in = c.input->Address(tile.left, y);
    uint8_t* out = c.output->Address(tile.left, y);
    std::memcpy(out, in, size_t(tile.Width()) * N);
    ReportProgress(c.progress, 0.0, 1.0, double(y - tile.top + 1) / tile.Height());
    if (y < area.top || y >= area.bottom) continue;
    const double fy = (y - area.top) / cellHeight;
    const int32_t iy = std::clamp(int32_t(fy), 0, rows - 1);
    const double dy = fy - iy;

    // Most pixels lie beyond the reach of every cut: only the marked ones,
    // and those of pieces beside a knocked-out one, need a closer look.
    std::fill(marks.begin(), marks.end(), uint8_t(0));
    const auto mark = [&](const std::vector<PuzzleEdge>& edges, const std::vector<std::pair<double, double>>& reach,
                          int32_t perRow) {
      for (size_t j = 0; j < reach.size(); ++j)
        if (y >= reach[j].first && y < reach[j].second)
          for (int32_t i = 0; i < perRow; ++i)
            edges[j * size_t(perRow) + size_t(i)].curve.MarkNear(y, tile.left, tile.right, marks.data());
    };
    mark(horizontalEdges, horizontalReach, columns);
    mark(verticalEdges, verticalReach, columns + 1);
    const uint8_t* knockoutRow = &nearKnockout[size_t(iy) * columns];

    const int32_t x0 = std::max(tile.left, area.left), x1 = std::min(tile.right, area.right);
    in += size_t(x0 - tile.left) * N;
    out += size_t(x0 - tile.left) * N;
    for (int32_t x = x0; x < x1; ++x, in += N, out += N) {
      const double fx = (x - area.left) * perColumn;
      const int32_t ix = std::min(int32_t(fx), columns - 1);
      if (marks[size_t(x - tile.left)] == 0 && knockoutRow[ix] == 0) continue;
      const double dx = fx - ix;

      // The cell's diagonals pick the cut a pixel belongs to; near a corner
      // the crossing cut may lie nearer still.
      const bool horizontal = (dx <= dy) == (1.0 - dx <= dy);
      const PuzzleEdge* primary;
      const PuzzleEdge* secondary = nullptr;
      if (horizontal) {
        primary = &horizontalEdges[size_t(dx <= dy ? iy + 1 : iy) * columns + ix];
        if (dx < eu) secondary = &verticalEdges[size_t(iy) * (columns + 1) + ix];
        if (1.0 - dx < eu) secondary = &verticalEdges[size_t(iy) * (columns + 1) + ix + 1];
      } else {
        primary = &verticalEdges[size_t(iy) * (columns + 1) + (dx <= dy ? ix : ix + 1)];
        if (dy < ev) secondary = &horizontalEdges[size_t(iy) * columns + ix];
        if (1.0 - dy < ev) secondary = &horizontalEdges[size_t(iy + 1) * columns + ix];
      }

      const PointD p{double(x), double(y)};
      BezierConnectedCurveList::Closest hit{kInfinity, p, false};
      const PuzzleEdge* edge = primary;
      const bool nearCut = primary->curve.Near(p, hit);
      if (primary->knockedAfter || primary->knockedBefore) {
        // Beyond the reach of the knob the side is that of the cut's bounds.
        const BezierConnectedCurveList& k = primary->curve;
        if (horizontal ? p.y < k.Top() - g.r || p.y > k.Bottom() + g.r : p.x < k.Left() - g.r || p.x > k.Right() + g.r)
          hit.after = horizontal ? p.y > k.Bottom() : p.x > k.Right();
        if (hit.after ? primary->knockedAfter : primary->knockedBefore) {
          if (!keepOriginal) std::copy_n(fill.values, N, out);
          continue;
        }
      }
      if (!nearCut) hit.distance = kInfinity;
      BezierConnectedCurveList::Closest nearer;
      if (secondary != nullptr && secondary->curve.Near(p, nearer) && nearer.distance < hit.distance) {
        hit = nearer;
        edge = secondary;
      }
      const double d = hit.distance;
      if (!(d < g.r)) continue;

      double v[N];
      for (int32_t k = 0; k < N; ++k) v[k] = in[k];
      const double ux = hit.point.x - p.x, uy = hit.point.y - p.y, len = std::sqrt(ux * ux + uy * uy);
      Shade<colors>(v, g, d, len < 1e-10 ? PointD{1.0, 0.0} : PointD{ux / len, uy / len});
      uint8_t shaded[N];
      for (int32_t k = 0; k < colors; ++k) shaded[k] = uint8_t(std::clamp(v[k] + 0.5, 0.0, 255.0));
      if constexpr (Alpha) shaded[colors] = in[colors];

      // Over the last pixel before a knocked-out piece the groove fades into
      // its fill.
      if (d < 1.0 && (hit.after ? edge->knockedBefore : edge->knockedAfter)) {
        const uint8_t* from = keepOriginal ? in : fill.values;
        if constexpr (Alpha) {
          const double a0 = from[colors] * (1.0 - d), a1 = shaded[colors] * d, a = a0 + a1;
          for (int32_t k = 0; k < colors; ++k)
            shaded[k] = a > 0.0 ? uint8_t(std::clamp((from[k] * a0 + shaded[k] * a1) / a + 0.5, 0.0, 255.0)) : 0;
          shaded[colors] = uint8_t(std::clamp(a + 0.5, 0.0, 255.0));
        } else {
          for (int32_t k = 0; k < colors; ++k)
            shaded[k] = uint8_t(std::clamp(from[k] * (1.0 - d) + shaded[k] * d + 0.5, 0.0, 255.0));
        }
      }
      std::copy_n(shaded, N, out);
    }
  }
  return 0;
}

}  // namespace kv
