// A cut line of the puzzle: cubic Bezier segments joined end to start, with
// the closest-point query the render asks of every pixel near a cut.
#pragma once

#include <cstdint>
#include <vector>

#include "image/geometry.h"

namespace kv {

struct CubicSegment {
  PointD p[4];
};

class BezierConnectedCurveList {
 public:
  // The straight edge from (1, 0) to (0, 0).
  static BezierConnectedCurveList Straight();

  void Add(const CubicSegment& segment) { segments_.push_back(segment); }
  void Translate(double dx, double dy);
  void Scale(double sx, double sy);
  // (x, y) -> (y, -x).
  void RotateQuarter();
  const std::vector<CubicSegment>& Segments() const { return segments_; }

  // Splits the segments into short pieces with tight bounds and files them
  // in bins over the curve, so that a query looks only at the few pieces
  // near its point. `reach` is the distance Near answers within; with
  // `sides` set every bin the curve does not come within reach of also
  // learns its side. Call after the last change of shape.
  void Prepare(double reach, bool sides);
  // The bounds of the whole curve.
  double Left() const { return box_.left; }
  double Top() const { return box_.top; }
  double Right() const { return box_.right; }
  double Bottom() const { return box_.bottom; }

  struct Closest {
    double distance;
    PointD point;
    // The point lies right of the curve as it runs: below a cut running
    // leftwards, right of one running downwards.
    bool after;
  };
  // The closest point of the curve to `p`, when it is nearer than `limit`;
  // false otherwise.
  bool ClosestPoint(PointD p, double limit, Closest& out) const;
  // The same within the reach Prepare was given. When the curve is out of
  // reach, false, and with sides prepared `out.after` still tells the side,
  // for a point within reach of the curve's bounds.
  bool Near(PointD p, Closest& out) const;
  // Marks in `marks` (one byte per pixel from x = `left` to `right`) the
  // pixels of row `y` that Near may find within reach, and some more.
  void MarkNear(double y, int32_t left, int32_t right, uint8_t* marks) const;
  // The rows MarkNear may mark, [top, bottom).
  double ReachTop() const { return binOrigin_.y; }
  double ReachBottom() const { return binOrigin_.y + binRows_ * binSize_; }

 private:
  struct Box {
    double left, top, right, bottom;
  };
  // A short stretch of a segment as c0 + c1 s + c2 s^2 + c3 s^3, s in 0..1.
  struct Piece {
    PointD c[4];
    PointD end;
    Box box;
    PointD At(double s) const {
      return {c[0].x + s * (c[1].x + s * (c[2].x + s * c[3].x)), c[0].y + s * (c[1].y + s * (c[2].y + s * c[3].y))};
    }
    PointD Slope(double s) const {
      return {c[1].x + s * (2.0 * c[2].x + s * 3.0 * c[3].x), c[1].y + s * (2.0 * c[2].y + s * 3.0 * c[3].y)};
    }
  };

  // Refines the closest point over one piece, keeping it when nearer than
  // `best` (squared).
  void Refine(int32_t piece, PointD p, double& best, int32_t& bestPiece, double& bestS) const;
  bool Finish(PointD p, double best, int32_t piece, double s, Closest& out) const;

  std::vector<CubicSegment> segments_;
  std::vector<Piece> pieces_;
  Box box_{0, 0, 0, 0};
  // Bins of `binSize_` pixels over the bounds grown by the reach: for bin i
  // the pieces binPieces_[binStart_[i] .. binStart_[i + 1]) come within
  // reach of it; binAfter_ is the side of a bin none does.
  double reach_ = 0.0, binSize_ = 1.0;
  PointD binOrigin_;
  int32_t binColumns_ = 0, binRows_ = 0;
  std::vector<int32_t> binStart_;
  std::vector<uint8_t> binPieces_;
  std::vector<bool> binAfter_;
};

}  // namespace kv
