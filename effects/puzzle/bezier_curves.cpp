#include "effects/puzzle/bezier_curves.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kv {

namespace {

constexpr int32_t kPiecesPerSegment = 8;
constexpr double kTolerance = 5e-5;  // in the segment's parameter

PointD At(const CubicSegment& s, double t) {
  const double u = 1.0 - t, a = u * u * u, b = 3.0 * u * u * t, c = 3.0 * u * t * t, d = t * t * t;
  return {a * s.p[0].x + b * s.p[1].x + c * s.p[2].x + d * s.p[3].x,
          a * s.p[0].y + b * s.p[1].y + c * s.p[2].y + d * s.p[3].y};
}

PointD Derivative(const CubicSegment& s, double t) {
  const double u = 1.0 - t, a = 3.0 * u * u, b = 6.0 * u * t, c = 3.0 * t * t;
  return {a * (s.p[1].x - s.p[0].x) + b * (s.p[2].x - s.p[1].x) + c * (s.p[3].x - s.p[2].x),
          a * (s.p[1].y - s.p[0].y) + b * (s.p[2].y - s.p[1].y) + c * (s.p[3].y - s.p[2].y)};
}

double Distance2(PointD a, PointD b) { return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y); }

// Straight when both inner control points lie on the chord.
bool IsStraight(const CubicSegment& s) {
  const double cx = s.p[3].x - s.p[0].x, cy = s.p[3].y - s.p[0].y, len = std::hypot(cx, cy);
  const auto off = [&](PointD q) { return std::fabs(cx * (q.y - s.p[0].y) - cy * (q.x - s.p[0].x)); };
  return len > 0.0 && off(s.p[1]) <= 1e-9 * len * len && off(s.p[2]) <= 1e-9 * len * len;
}

}  // namespace

BezierConnectedCurveList BezierConnectedCurveList::Straight() {
  BezierConnectedCurveList list;
  list.Add({{{1.0, 0.0}, {0.7, 0.0}, {0.3, 0.0}, {0.0, 0.0}}});
  return list;
}

void BezierConnectedCurveList::Translate(double dx, double dy) {
  for (auto& s : segments_)
    for (auto& p : s.p) p = {p.x + dx, p.y + dy};
}

void BezierConnectedCurveList::Scale(double sx, double sy) {
  for (auto& s : segments_)
    for (auto& p : s.p) p = {p.x * sx, p.y * sy};
}

void BezierConnectedCurveList::RotateQuarter() {
  for (auto& s : segments_)
    for (auto& p : s.p) p = {p.y, -p.x};
}

void BezierConnectedCurveList::Prepare(double reach, bool sides) {
  pieces_.clear();
  const double inf = std::numeric_limits<double>::infinity();
  box_ = {inf, inf, -inf, -inf};
  for (size_t i = 0; i < segments_.size(); ++i) {
    const CubicSegment& s = segments_[i];
    const int32_t n = IsStraight(s) ? 1 : kPiecesPerSegment;
    for (int32_t k = 0; k < n; ++k) {
      const double t0 = double(k) / n, t1 = double(k + 1) / n, h = (t1 - t0) / 3.0;
      // The piece's own control points bound it tightly.
      const PointD a = At(s, t0), b = At(s, t1), da = Derivative(s, t0), db = Derivative(s, t1);
      const PointD q[4] = {a, {a.x + h * da.x, a.y + h * da.y}, {b.x - h * db.x, b.y - h * db.y}, b};
      Box box{inf, inf, -inf, -inf};
      for (const PointD& p : q) box = {std::min(box.left, p.x), std::min(box.top, p.y), std::max(box.right, p.x),
                                       std::max(box.bottom, p.y)};
      const auto power = [&](double PointD::*v) {
        return std::array<double, 4>{q[0].*v, 3.0 * (q[1].*v - q[0].*v), 3.0 * (q[2].*v - 2.0 * q[1].*v + q[0].*v),
                                     q[3].*v - 3.0 * q[2].*v + 3.0 * q[1].*v - q[0].*v};
      };
      const auto px = power(&PointD::x), py = power(&PointD::y);
      Piece piece{{{px[0], py[0]}, {px[1], py[1]}, {px[2], py[2]}, {px[3], py[3]}}, b, box};
      pieces_.push_back(piece);
      box_ = {std::min(box_.left, box.left), std::min(box_.top, box.top), std::max(box_.right, box.right),
              std::max(box_.bottom, box.bottom)};
    }
  }

  reach_ = std::max(reach, 0.0);
  binOrigin_ = {box_.left - reach_, box_.top - reach_};
  const double w = box_.right - box_.left + 2.0 * reach_, h = box_.bottom - box_.top + 2.0 * reach_;
  // Bins about as wide as the reach, and never very many of them.
  binSize_ = std::max({0.5 * reach_, 2.0, std::sqrt(w * h / 16384.0)});
  binColumns_ = int32_t(w / binSize_) + 1;
  binRows_ = int32_t(h / binSize_) + 1;
  const auto binRange = [&](const Box& b, int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1) {
    x0 = std::clamp(int32_t((b.left - reach_ - binOrigin_.x) / binSize_), 0, binColumns_ - 1);
    y0 = std::clamp(int32_t((b.top - reach_ - binOrigin_.y) / binSize_), 0, binRows_ - 1);
    x1 = std::clamp(int32_t((b.right + reach_ - binOrigin_.x) / binSize_), 0, binColumns_ - 1);
    y1 = std::clamp(int32_t((b.bottom + reach_ - binOrigin_.y) / binSize_), 0, binRows_ - 1);
  };
  binStart_.assign(size_t(binColumns_) * binRows_ + 1, 0);
  int32_t x0, y0, x1, y1;
  for (const Piece& piece : pieces_) {
    binRange(piece.box, x0, y0, x1, y1);
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) ++binStart_[size_t(y) * binColumns_ + x + 1];
  }
  for (size_t i = 1; i < binStart_.size(); ++i) binStart_[i] += binStart_[i - 1];
  binPieces_.assign(size_t(binStart_.back()), 0);
  std::vector<int32_t> filled(binStart_.begin(), binStart_.end() - 1);
  for (size_t k = 0; k < pieces_.size(); ++k) {
    binRange(pieces_[k].box, x0, y0, x1, y1);
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) binPieces_[size_t(filled[size_t(y) * binColumns_ + x]++)] = uint8_t(k);
  }

  binAfter_.clear();
  if (!sides) return;
  // A bin the curve keeps away from lies wholly on one side of it.
  binAfter_.assign(binStart_.size() - 1, false);
  Closest c{};
  for (int32_t y = 0; y < binRows_; ++y)
    for (int32_t x = 0; x < binColumns_; ++x) {
      const size_t i = size_t(y) * binColumns_ + x;
      if (binStart_[i] == binStart_[i + 1] &&
          ClosestPoint({binOrigin_.x + (x + 0.5) * binSize_, binOrigin_.y + (y + 0.5) * binSize_}, inf, c))
        binAfter_[i] = c.after;
    }
}

void BezierConnectedCurveList::Refine(int32_t index, PointD p, double& best, int32_t& bestPiece,
                                      double& bestS) const {
  const Piece& piece = pieces_[size_t(index)];
  const double gx = std::max({piece.box.left - p.x, 0.0, p.x - piece.box.right});
  const double gy = std::max({piece.box.top - p.y, 0.0, p.y - piece.box.bottom});
  if (gx * gx + gy * gy >= best) return;
  // Start from the point's projection on the piece's chord, then Newton on
  // (B(s) - p) . B'(s) = 0 within the piece.
  const PointD a = piece.c[0], b = piece.end;
  const double cx = b.x - a.x, cy = b.y - a.y, c2 = cx * cx + cy * cy;
  double s = c2 > 0.0 ? std::clamp(((p.x - a.x) * cx + (p.y - a.y) * cy) / c2, 0.0, 1.0) : 0.0;
  bool converged = false;
  for (int iteration = 0; iteration < 8 && !converged; ++iteration) {
    const PointD q = piece.At(s), d1 = piece.Slope(s);
    const PointD d2{2.0 * piece.c[2].x + 6.0 * s * piece.c[3].x, 2.0 * piece.c[2].y + 6.0 * s * piece.c[3].y};
    const double ex = q.x - p.x, ey = q.y - p.y;
    const double f = ex * d1.x + ey * d1.y, slope = d1.x * d1.x + d1.y * d1.y + ex * d2.x + ey * d2.y;
    if (slope <= 0.0) break;
    const double next = std::clamp(s - f / slope, 0.0, 1.0);
    converged = std::fabs(next - s) < kTolerance * kPiecesPerSegment;
    s = next;
  }
  const auto keep = [&](double candidate, PointD q) {
    const double d2 = Distance2(q, p);
    if (d2 < best) best = d2, bestPiece = index, bestS = candidate;
  };
  keep(s, piece.At(s));
  // Where Newton found no minimum inside, the piece's ends may be nearest.
  if (!converged) {
    keep(0.0, a);
    keep(1.0, b);
  }
}

bool BezierConnectedCurveList::Finish(PointD p, double best, int32_t index, double s, Closest& out) const {
  if (index < 0) return false;
  const Piece& piece = pieces_[size_t(index)];
  out.point = piece.At(s);
  out.distance = std::sqrt(best);
  PointD tangent = piece.Slope(s);
  if (tangent.x * tangent.x + tangent.y * tangent.y < 1e-20) tangent = {piece.end.x - piece.c[0].x, piece.end.y - piece.c[0].y};
  out.after = tangent.x * (p.y - out.point.y) - tangent.y * (p.x - out.point.x) < 0.0;
  return true;
}

bool BezierConnectedCurveList::ClosestPoint(PointD p, double limit, Closest& out) const {
  double best = limit * limit;
  // Most points of a cell are far from its cuts.
  const double fx = std::max({box_.left - p.x, 0.0, p.x - box_.right});
  const double fy = std::max({box_.top - p.y, 0.0, p.y - box_.bottom});
  if (fx * fx + fy * fy >= best) return false;
  int32_t piece = -1;
  double s = 0.0;
  for (int32_t k = 0; k < int32_t(pieces_.size()); ++k) Refine(k, p, best, piece, s);
  return Finish(p, best, piece, s, out);
}

bool BezierConnectedCurveList::Near(PointD p, Closest& out) const {
  const double bx = (p.x - binOrigin_.x) / binSize_, by = (p.y - binOrigin_.y) / binSize_;
  if (!(bx >= 0.0 && by >= 0.0 && bx < binColumns_ && by < binRows_)) return false;
  const size_t i = size_t(by) * binColumns_ + size_t(bx);
  double best = reach_ * reach_;
  int32_t piece = -1;
  double s = 0.0;
  for (int32_t k = binStart_[i]; k < binStart_[i + 1]; ++k) Refine(binPieces_[size_t(k)], p, best, piece, s);
  if (Finish(p, best, piece, s, out)) return true;
  if (!binAfter_.empty()) {
    if (binStart_[i] == binStart_[i + 1]) out.after = binAfter_[i];
    else if (ClosestPoint(p, std::numeric_limits<double>::infinity(), out)) out.distance = std::numeric_limits<double>::infinity();
  }
  return false;
}

void BezierConnectedCurveList::MarkNear(double y, int32_t left, int32_t right, uint8_t* marks) const {
  const double by = (y - binOrigin_.y) / binSize_;
  if (!(by >= 0.0 && by < binRows_)) return;
  const size_t row = size_t(by) * binColumns_;
  for (int32_t bx = 0; bx < binColumns_; ++bx) {
    if (binStart_[row + bx] == binStart_[row + bx + 1]) continue;
    // A pixel more on either side, whatever the rounding of the bin's ends.
    const int32_t x0 = std::max(left, int32_t(std::floor(binOrigin_.x + bx * binSize_)) - 1);
    const int32_t x1 = std::min(right, int32_t(std::ceil(binOrigin_.x + (bx + 1) * binSize_)) + 1);
    if (x0 < x1) std::fill(marks + (x0 - left), marks + (x1 - left), uint8_t(1));
  }
}

}  // namespace kv
