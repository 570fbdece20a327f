// Puzzle: the cut curves and their closest points, pieces that tile the area,
// the arrangement's travel through settings and scripts, and agreement
// between seeds, tiles, whole renders and the preview.
#include <gtest/gtest.h>

#include <cmath>

#include "effects/puzzle/puzzle.h"
#include "parameters/parameters.h"
#include "parameters/settings_archive.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"
#include "tests/support/fake_host.h"

namespace kv::test {
namespace {

using Edit = std::function<void(PuzzleSettings&)>;

HostRender With(const Edit& edit, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.edit = [edit](void* block) { edit(*static_cast<PuzzleSettings*>(block)); };
  return how;
}

Picture Cut(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kPuzzleEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// A grid of `columns` x `rows` with the pieces where `knocked` says knocked out.
void Grid(PuzzleSettings& b, int columns, int rows, const std::function<bool(int, int)>& knocked) {
  b.arrangement.columns = int16_t(columns);
  b.arrangement.rows = int16_t(rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) b.arrangement.Piece(x, y) = !knocked(x, y);
}

PointD Along(const CubicSegment& s, double t) {
  const double u = 1 - t;
  return {u * u * u * s.p[0].x + 3 * u * u * t * s.p[1].x + 3 * u * t * t * s.p[2].x + t * t * t * s.p[3].x,
          u * u * u * s.p[0].y + 3 * u * u * t * s.p[1].y + 3 * u * t * t * s.p[2].y + t * t * t * s.p[3].y};
}

TEST(PuzzleConnector, RunsEdgeToEdgeSmoothlyAndStaysShort) {
  RandomNumberGenerator random(7);
  for (int i = 0; i < 200; ++i) {
    const double length = i % 2 == 0 ? 1.0 : 100.0;
    const bool flipped = i % 3 == 0;
    const auto knob = Puzzle::Connector(random, length, flipped);
    const auto& s = knob.Segments();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_NEAR(s.front().p[0].x, 1.0, 1e-12);
    EXPECT_NEAR(s.back().p[3].x, 0.0, 1e-12);
    double top = 0.0;
    for (size_t k = 0; k < s.size(); ++k) {
      if (k > 0) {
        // Joined, with the tangents in line at every joint.
        const PointD in{s[k - 1].p[3].x - s[k - 1].p[2].x, s[k - 1].p[3].y - s[k - 1].p[2].y};
        const PointD out{s[k].p[1].x - s[k].p[0].x, s[k].p[1].y - s[k].p[0].y};
        ASSERT_EQ(s[k].p[0], s[k - 1].p[3]);
        ASSERT_NEAR(in.x * out.y - in.y * out.x, 0.0, 1e-12) << i << " joint " << k;
      }
      for (int t = 0; t <= 50; ++t) top = flipped ? std::min(top, Along(s[k], t / 50.0).y) : std::max(top, Along(s[k], t / 50.0).y);
    }
    // The knob's tip is capped; the curve swings out past it only a little.
    EXPECT_LE(std::fabs(s[1].p[3].y), 0.3 + 1e-12) << i;
    EXPECT_LE(std::fabs(top), 0.32) << i;
    EXPECT_GT(std::fabs(top), 0.1) << "a knob, not a ripple";
  }
}

// The closest point agrees with a dense walk along the curve, and the side
// with a count of the curve's crossings above the point; the bins hide no
// point within reach and know the side of those beyond it.
TEST(PuzzleConnector, ClosestPointAndSideMatchADenseWalk) {
  RandomNumberGenerator random(3);
  auto knob = Puzzle::Connector(random, 80.0, false);
  knob.Scale(120.0, 90.0);
  knob.Translate(30.0, 40.0);
  constexpr double kReach = 9.0;
  knob.Prepare(kReach, true);
  std::vector<PointD> walk;
  for (const CubicSegment& s : knob.Segments())
    for (int t = 0; t <= 4000; ++t) walk.push_back(Along(s, t / 4000.0));
  for (int i = 0; i < 3000; ++i) {
    const PointD p{random.Uniform(35.0, 145.0), random.Uniform(10.0, 110.0)};
    double best = 1e9;
    int crossings = 0;
    for (size_t k = 0; k < walk.size(); ++k) {
      best = std::min(best, std::hypot(walk[k].x - p.x, walk[k].y - p.y));
      if (k == 0 || (walk[k - 1].x <= p.x) == (walk[k].x <= p.x)) continue;
      const double f = (p.x - walk[k - 1].x) / (walk[k].x - walk[k - 1].x);
      crossings += walk[k - 1].y + f * (walk[k].y - walk[k - 1].y) < p.y;
    }
    BezierConnectedCurveList::Closest c{}, near{};
    ASSERT_TRUE(knob.ClosestPoint(p, 1e9, c));
    ASSERT_NEAR(c.distance, best, 0.02) << p.x << "," << p.y;
    const bool found = knob.Near(p, near);
    ASSERT_TRUE(std::fabs(best - kReach) < 0.02 || found == (best < kReach)) << p.x << "," << p.y;
    if (best < 0.5) continue;
    ASSERT_EQ(c.after, crossings % 2 == 1) << p.x << "," << p.y;
    const bool byTheCurve = p.x > knob.Left() - kReach && p.x < knob.Right() + kReach &&
                            p.y > knob.Top() - kReach && p.y < knob.Bottom() + kReach;
    if (best >= kReach && byTheCurve) {
      ASSERT_EQ(near.after, c.after) << p.x << "," << p.y;
    }
  }
}

TEST(Puzzle, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("puzzle-defaults", Cut(TestPicture(96, 64)), kEdgesMayRound);
}

// Two renders with complementary knockouts, made transparent: each pixel
// is in exactly one piece, save those on a cut, where both fade out.
TEST(Puzzle, PiecesCoverTheAreaWithoutGapsOrOverlap) {
  Picture in = TestPicture(150, 110, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 3; i < in.pixels.size(); i += 4) in.pixels[i] = 255;
  const auto render = [&](bool odd) {
    return Cut(in, With([odd](PuzzleSettings& b) {
      Grid(b, 5, 4, [odd](int x, int y) { return (x + y) % 2 == (odd ? 1 : 0); });
      b.knockoutFill.mode = kFillTransparent;
    }));
  };
  const Picture a = render(false), b = render(true);
  const auto gone = [](const Picture& p, int x, int y) { return p.At(x, y)[3] == 0; };
  int onCuts = 0;
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      if (gone(a, x, y) != gone(b, x, y)) continue;
      ++onCuts;
      // Both or neither: only where each render changes sides close by.
      bool changesA = false, changesB = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int u = std::clamp(x + dx, 0, in.width - 1), v = std::clamp(y + dy, 0, in.height - 1);
          changesA |= gone(a, u, v) != gone(a, x, y);
          changesB |= gone(b, u, v) != gone(b, x, y);
        }
      ASSERT_TRUE(changesA && changesB) << (gone(a, x, y) ? "an overlap at " : "a gap at ") << x << "," << y;
    }
  EXPECT_LT(onCuts, 3 * (4 * 150 + 3 * 110)) << "only the cut lines are shared";
}

TEST(Puzzle, OnePieceHasOnlyItsBorderAndKnockedOutIsAllFill) {
  const Picture in = TestPicture(80, 60);
  const Picture one = Cut(in, With([](PuzzleSettings& b) { Grid(b, 1, 1, [](int, int) { return false; }); }));
  for (int y = 8; y < 52; ++y)
    for (int x = 8; x < 72; ++x) ASSERT_TRUE(std::equal(in.At(x, y), in.At(x, y) + 3, one.At(x, y))) << x << "," << y;
  EXPECT_NE(one.pixels, in.pixels) << "the border is grooved";

  const Picture gone = Cut(in, With([](PuzzleSettings& b) {
    Grid(b, 1, 1, [](int, int) { return true; });
    b.knockoutFill = {kFillWithColor, Color::RGB(250, 20, 40)};
  }));
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) ASSERT_EQ(std::vector<int>(gone.At(x, y), gone.At(x, y) + 3), (std::vector<int>{250, 20, 40}));
}

// The value as the settings file and a recorded script carry it, for a grid
// whose text needs three of the script's chunks.
TEST(Puzzle, ArrangementTravelsThroughSettingsAndScripts) {
  Puzzle puzzle;
  PuzzleSettings original{}, copy{};
  puzzle.SetDefaults(&original);
  puzzle.SetDefaults(&copy);
  Grid(original, 37, 23, [](int x, int y) { return (x * 7 + y * 3) % 5 == 0; });
  for (size_t i = 0; i < std::size(original.arrangement.connectorUp); ++i)
    original.arrangement.connectorUp[i] = i % 3 == 0;
  ASSERT_GT(ArrangementText(original.arrangement).size(), 2000u);

  ParameterList from, to;
  ASSERT_EQ(puzzle.BuildParameters(from, &original), 0);
  ASSERT_EQ(puzzle.BuildParameters(to, &copy), 0);
  ASSERT_EQ(ReadSettingsText(SettingsText("Puzzle", from), "Puzzle", to, "test"), 0);
  EXPECT_EQ(ArrangementText(copy.arrangement), ArrangementText(original.arrangement));

  puzzle.SetDefaults(&copy);
  FakeHost host(1, 1, ps::plugInModeRGBColor, 3);
  ps::PIWriteDescriptor w = host.writeProcs.openWriteDescriptorProc();
  ASSERT_EQ(from.WriteDescriptor(host.writeProcs, w, host.handleProcs), 0);
  ps::PIDescriptorHandle written = nullptr;
  ASSERT_EQ(host.writeProcs.closeWriteDescriptorProc(w, &written), 0);
  ps::PIReadDescriptor r = host.readProcs.openReadDescriptorProc(written, nullptr);
  uint32_t key = 0;
  ps::DescType type = 0;
  int32_t flags = 0;
  while (host.readProcs.getKeyProc(r, &key, &type, &flags))
    ASSERT_EQ(to.ReadDescriptorValue(host.readProcs, r, key, host.handleProcs), 0);
  host.readProcs.closeReadDescriptorProc(r);
  host.handleProcs.disposeProc(written);
  EXPECT_EQ(ArrangementText(copy.arrangement), ArrangementText(original.arrangement));
}

TEST(Puzzle, SeedTilesWholeAndEveryModeAgree) {
  const Picture in = TestPicture(203, 131);
  const auto knocked = [](PuzzleSettings& b) {
    Grid(b, 6, 4, [](int x, int y) { return x == 2 && y == 1; });
    b.knockoutFill.mode = kFillKeepOriginal;
  };
  const Picture whole = Cut(in, With(knocked));
  EXPECT_EQ(Cut(in, With(knocked, 37)).pixels, whole.pixels);
  EXPECT_NE(Cut(in, With([&](PuzzleSettings& b) {
              knocked(b);
              b.connectorSeed = 2;
            })).pixels,
            whole.pixels);

  for (const auto& [mode, planes, alpha] : {std::tuple{ps::plugInModeGrayScale, 1, false},
                                            {ps::plugInModeCMYKColor, 4, false},
                                            {ps::plugInModeLabColor, 3, true}}) {
    const Picture other = TestPicture(60, 40, mode, planes, alpha);
    EXPECT_NE(Cut(other).pixels, other.pixels) << mode;
  }
}

TEST(Puzzle, PreviewShowsTheSameCuts) {
  const Picture in = SmoothPicture(320, 240);
  const auto seed = [](int s) {
    return [s](void* block) {
      auto& b = *static_cast<PuzzleSettings*>(block);
      Grid(b, 4, 3, [](int x, int y) { return x == 1 && y == 1; });
      b.knockoutFill = {kFillWithColor, Color::RGB(255, 255, 255)};
      b.connectorSeed = uint16_t(s);
    };
  };
  HostRender how;
  how.edit = seed(4);
  const PreviewDifference d = ComparePreview(kPuzzleEffect, in, 2, how, seed(5));
  // A reduced preview samples its thin grooves point by point.
  EXPECT_LT(d.same, 6.0);
  EXPECT_GT(d.other, 1.8 * d.same);
}

}  // namespace
}  // namespace kv::test
