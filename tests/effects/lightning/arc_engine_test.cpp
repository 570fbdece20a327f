// The arc engine on its own: the shape of the network, the stamps, and the
// glow as drawn over whole images and over parts of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "effects/lightning/arc_engine.h"
#include "host/host_calls.h"
#include "image/blur.h"

namespace kv {
namespace {

constexpr Rect kBounds{0, 0, 400, 300};

ArcNetwork Bolt(int64_t seed, double branching = 90.0, double jaggedness = 92.0, bool tapered = true,
                const Rect& bounds = kBounds) {
  ArcNetwork network(bounds, branching, 36.0, jaggedness, 4.0);
  network.AddMainArc({20.0, 30.0, 6.0, false}, {370.0, 260.0, tapered ? 0.0 : 6.0, false}, tapered, seed);
  return network;
}

bool Same(const ArcNetwork& a, const ArcNetwork& b) {
  if (a.arcs.size() != b.arcs.size()) return false;
  for (size_t i = 0; i < a.arcs.size(); ++i) {
    if (a.arcs[i].size() != b.arcs[i].size()) return false;
    for (size_t j = 0; j < a.arcs[i].size(); ++j) {
      const ArcPoint &p = a.arcs[i][j], &q = b.arcs[i][j];
      if (p.x != q.x || p.y != q.y || p.radius != q.radius || p.flash != q.flash) return false;
    }
  }
  return true;
}

TEST(ArcNetwork, SeedDecidesTheWholeNetwork) {
  const ArcNetwork a = Bolt(5917);
  EXPECT_GT(a.arcs.size(), 5u) << "the default branching grows branches of branches";
  EXPECT_TRUE(Same(a, Bolt(5917)));
  EXPECT_FALSE(Same(a, Bolt(5918)));
}

TEST(ArcNetwork, MainArcRunsFromStartToEndAndTapers) {
  for (const bool tapered : {true, false}) {
    const ArcNetwork n = Bolt(3, 90.0, 92.0, tapered);
    const Arc& main = n.arcs.back();  // appended after the branches it grew
    EXPECT_EQ(main.front().x, 20.0);
    EXPECT_EQ(main.front().y, 30.0);
    EXPECT_EQ(main.back().x, 370.0);
    EXPECT_EQ(main.back().y, 260.0);
    EXPECT_TRUE(main.front().flash);
    EXPECT_EQ(main.back().flash, !tapered);
    for (size_t i = 1; i < main.size(); ++i) {
      EXPECT_LE(std::hypot(main[i].x - main[i - 1].x, main[i].y - main[i - 1].y), 4.0 + 1e-9);
      if (tapered) EXPECT_LE(main[i].radius, main[i - 1].radius + 1e-12);
      else EXPECT_DOUBLE_EQ(main[i].radius, 6.0);
    }
    EXPECT_EQ(main.back().radius, tapered ? 0.0 : 6.0);
    for (size_t i = 0; i + 1 < n.arcs.size(); ++i) {
      EXPECT_FALSE(n.arcs[i].front().flash || n.arcs[i].back().flash) << "only the main arc flashes";
    }
  }
}

TEST(ArcNetwork, NoBranchingOrJaggednessGivesOneStraightArc) {
  const ArcNetwork n = Bolt(11, 0.0, 0.0);
  ASSERT_EQ(n.arcs.size(), 1u);
  const double dx = 350.0, dy = 230.0, length = std::hypot(dx, dy);
  for (const ArcPoint& p : n.arcs[0]) EXPECT_NEAR(((p.x - 20.0) * dy - (p.y - 30.0) * dx) / length, 0.0, 1e-9);
  EXPECT_NEAR(n.maxTurn, 0.05 * 3.14159265358979, 1e-12);
}

TEST(ArcNetwork, BranchesEndWhereTheyLeaveTheBounds) {
  // Tight bounds around the main arc cut many walks short.
  const Rect tight{0, 0, 400, 300};
  int nearEdge = 0;
  for (int64_t seed = 1; seed <= 5; ++seed) {
    ArcNetwork n(tight, 100.0, 100.0, 100.0, 4.0);
    n.AddMainArc({10.0, 150.0, 8.0, false}, {390.0, 150.0, 8.0, false}, false, seed);
    for (size_t i = 0; i + 1 < n.arcs.size(); ++i) {
      const Arc& arc = n.arcs[i];
      for (size_t j = 1; j < arc.size(); ++j) {
        const double reach = std::ceil(arc[j].radius);
        ASSERT_GE(arc[j].x, tight.left - reach);
        ASSERT_LT(arc[j].x, tight.right + reach);
        ASSERT_GE(arc[j].y, tight.top - reach);
        ASSERT_LT(arc[j].y, tight.bottom + reach);
      }
      const ArcPoint& end = arc.back();
      nearEdge += end.y < 4.0 + std::ceil(end.radius) || end.y >= 296.0 - std::ceil(end.radius);
    }
  }
  EXPECT_GT(nearEdge, 0) << "some walks must have run into the bounds";
}

TEST(ArcNetwork, BranchesAreShorterThanWhatTheyBranchFrom) {
  const ArcNetwork n = Bolt(77, 100.0);
  double mainLength = 0.0;
  const Arc& main = n.arcs.back();
  for (size_t i = 1; i < main.size(); ++i) mainLength += std::hypot(main[i].x - main[i - 1].x, main[i].y - main[i - 1].y);
  for (size_t i = 0; i + 1 < n.arcs.size(); ++i)
    EXPECT_LE(double(n.arcs[i].size() - 1) * 4.0, 0.8 * mainLength) << "arc " << i;
}

// --- stamps --------------------------------------------------------------------

SingleChannelImage<double> Blank(const Rect& r) {
  int32_t err = 0;
  SingleChannelImage<double> image(err, r);
  image.Fill(0.0);
  return image;
}

TEST(ArcStamps, DiscsAndSegmentsKeepTheLargerValue) {
  SingleChannelImage<double> image = Blank({0, 0, 40, 30});
  StampDisc(image, {10.0, 10.0}, 3.0, 200.0);
  EXPECT_DOUBLE_EQ(image(10, 10), 200.0);
  EXPECT_DOUBLE_EQ(image(12, 10), 200.0);              // two inside a radius of three
  EXPECT_NEAR(image(13, 10), 0.0, 1e-12);              // on the rim
  EXPECT_DOUBLE_EQ(image(10, 14), 0.0);
  StampDisc(image, {10.0, 10.0}, 3.0, 50.0);
  EXPECT_DOUBLE_EQ(image(10, 10), 200.0) << "a weaker stamp leaves a stronger one";

  // Thinner than a pixel: a pixel-wide footprint, dimmed by its thickness.
  StampDisc(image, {30.0, 20.0}, 0.25, 200.0);
  EXPECT_DOUBLE_EQ(image(30, 20), 50.0);
  EXPECT_DOUBLE_EQ(image(31, 20), 0.0);

  SingleChannelImage<double> seg = Blank({0, 0, 40, 30});
  StampTaperedSegment(seg, {5.0, 15.0}, 4.0, {35.0, 15.0}, 1.0, 255.0);
  EXPECT_DOUBLE_EQ(seg(20, 15), 255.0);
  EXPECT_DOUBLE_EQ(seg(8, 17), 255.0);   // the wide end is wide
  EXPECT_DOUBLE_EQ(seg(32, 17), 0.0);    // the narrow end is narrow
  EXPECT_DOUBLE_EQ(seg(20, 25), 0.0);
  EXPECT_DOUBLE_EQ(seg(2, 15), 0.0) << "nothing beyond the ends";
}

TEST(ArcStamps, StampsClipToTheImage) {
  SingleChannelImage<double> image = Blank({100, 50, 110, 60});
  StampDisc(image, {99.0, 55.0}, 3.0, 255.0);
  StampTaperedSegment(image, {90.0, 52.0}, 2.0, {130.0, 52.0}, 2.0, 255.0);
  StampFlash(image, {200.0, 200.0}, 10.0, 255.0);
  EXPECT_DOUBLE_EQ(image(100, 55), 255.0);
  EXPECT_DOUBLE_EQ(image(109, 52), 255.0);
  EXPECT_DOUBLE_EQ(image(109, 59), 0.0);
}

TEST(ArcStamps, FlashPullsTowardsItsValue) {
  SingleChannelImage<double> image = Blank({0, 0, 41, 41});
  image(20, 30) = 100.0;
  StampFlash(image, {20.0, 20.0}, 20.0, 240.0);
  EXPECT_DOUBLE_EQ(image(20, 20), 240.0);
  EXPECT_DOUBLE_EQ(image(30, 20), 0.5 * 240.0);  // half way out: w = 0.5
  EXPECT_DOUBLE_EQ(image(20, 30), 100.0 + 0.5 * 140.0);
  EXPECT_DOUBLE_EQ(image(20, 0), 0.0);
  EXPECT_DOUBLE_EQ(image(36, 36), 0.0);
}

// --- drawing -------------------------------------------------------------------

// Drawn without a host, colours as they are. The entry point leaves the last
// run's filter record in the session, which earlier tests here destroyed.
class ArcRender : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = std::exchange(Session().record, nullptr); }
  void TearDown() override { Session().record = saved_; }

 private:
  ps::FilterRecord* saved_ = nullptr;
};

struct Canvas {
  Rect bounds;
  std::vector<uint8_t> bytes;
  ByteImage image;

  Canvas(const Rect& r, int channels = 1, uint8_t fill = 0)
      : bounds(r),
        bytes(size_t(r.Width()) * size_t(r.Height()) * size_t(channels), fill),
        image(r, bytes.data(), 0, PixelFormat::Of(channels == 1 ? kModeGrey : kModeRGB, channels, false)) {}
  int At(int32_t x, int32_t y) const { return *image.Address(x, y); }
};

ArcLook WhiteOnBlack(double glowRadius) {
  ArcLook look;
  look.glowOpacity = 1.0;
  look.glowRadius = glowRadius;
  look.coreRadius = 3.0;
  look.flashFactor = 1.0;
  look.inner = Color::RGB(255, 255, 255);
  look.outer = Color::RGB(0, 0, 0);
  return look;
}

TEST_F(ArcRender, GlowSaturatesAtTheCoreAndFadesOutward) {
  // Grey: inner white, outer black, over black gives t * t / 255. The glow
  // source is far above 255 at the core; flashes, which would pull it down
  // towards their own value, are left out.
  ArcNetwork n({0, 0, 200, 100}, 0.0, 0.0, 0.0, 4.0);
  n.AddMainArc({20.0, 50.0, 3.0, false}, {180.0, 50.0, 3.0, false}, false, 1);
  Canvas canvas({0, 0, 200, 100});
  ArcLook look = WhiteOnBlack(30.0);
  look.flashFactor = 0.0;
  ASSERT_EQ(RenderArcs(n, canvas.image, 1.0, look, nullptr, nullptr, nullptr, 0.0, 1.0), 0);
  for (int32_t x = 20; x <= 180; ++x)
    for (int32_t y = 48; y <= 52; ++y) ASSERT_EQ(canvas.At(x, y), 255) << x << "," << y;
  for (int32_t x = 60; x <= 140; x += 20) {
    for (int32_t y = 51; y < 100; ++y) ASSERT_LE(canvas.At(x, y), canvas.At(x, y - 1)) << x << "," << y;
    EXPECT_GT(canvas.At(x, 62), 0) << "the glow reaches out";
  }
}

// The glow computed plainly: every pixel blurred at full resolution.
std::vector<double> ReferenceGlow(const SingleChannelImage<double>& core, double gain, double radius) {
  const std::vector<float> w = BlurKernel(radius);
  const int32_t W = core.Width(), H = core.Height(), h = int32_t(w.size()) - 1;
  std::vector<double> g(size_t(W) * H), t(g.size());
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) g[size_t(y) * W + x] = gain * core(x, y);
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        double sum = 0.0;
        for (int32_t i = -h; i <= h; ++i) {
          const int32_t u = pass == 0 ? std::clamp(x + i, 0, W - 1) : x, v = pass == 0 ? y : std::clamp(y + i, 0, H - 1);
          sum += w[size_t(std::abs(i))] * g[size_t(v) * W + u];
        }
        t[size_t(y) * W + x] = sum;
      }
    g.swap(t);
  }
  return g;
}

TEST_F(ArcRender, CoarseGlowMatchesAFullResolutionBlur) {
  for (const double glowRadius : {6.0, 45.0, 120.0, 220.0}) {
    const Rect r{0, 0, 300, 200};
    ArcNetwork n(r, 60.0, 60.0, 80.0, 4.0);
    n.AddMainArc({30.0, 40.0, 3.0, false}, {260.0, 170.0, 0.0, false}, true, 9);
    ArcLook look = WhiteOnBlack(glowRadius);
    look.glowOpacity = 0.4;
    look.flashFactor = 0.0;  // the blur alone is compared
    Canvas canvas(r);
    ASSERT_EQ(RenderArcs(n, canvas.image, 1.0, look, nullptr, nullptr, nullptr, 0.0, 1.0), 0);

    SingleChannelImage<double> core = Blank(r);
    for (const Arc& arc : n.arcs) {
      StampDisc(core, {arc[0].x, arc[0].y}, arc[0].radius, 255.0);
      for (size_t i = 1; i < arc.size(); ++i) {
        StampTaperedSegment(core, {arc[i - 1].x, arc[i - 1].y}, arc[i - 1].radius, {arc[i].x, arc[i].y},
                            arc[i].radius, 255.0);
        StampDisc(core, {arc[i].x, arc[i].y}, arc[i].radius, 255.0);
      }
    }
    const double k = 0.5 * std::max(1.0, glowRadius / look.coreRadius) + 0.5;
    const std::vector<double> glow = ReferenceGlow(core, 1.5 * look.glowOpacity * k, glowRadius);
    int worst = 0;
    for (int32_t y = 0; y < r.bottom; ++y)
      for (int32_t x = 0; x < r.right; ++x) {
        const double a = core(x, y), v = (255.0 - a) * glow[size_t(y) * r.right + x] / 255.0 + a + 0.5;
        const int t = int(std::clamp(v, 0.0, 255.0));
        worst = std::max(worst, std::abs(canvas.At(x, y) - t * t / 255));
      }
    EXPECT_LE(worst, 2) << "glow radius " << glowRadius;
  }
}

TEST_F(ArcRender, PartsComeOutAsTheWhole) {
  for (const double glowRadius : {8.0, 90.0}) {
    const Rect r{0, 0, 230, 170};
    ArcNetwork n(r, 90.0, 40.0, 90.0, 4.0);
    n.AddMainArc({10.0, 10.0, 4.0, false}, {200.0, 150.0, 4.0, false}, false, 42);
    const ArcLook look = WhiteOnBlack(glowRadius);
    Canvas whole(r, 3, 40);
    ASSERT_EQ(RenderArcs(n, whole.image, 1.0, look, nullptr, nullptr, nullptr, 0.0, 1.0), 0);
    for (const Rect part : {Rect{0, 0, 37, 37}, Rect{37, 74, 111, 111}, Rect{185, 148, 230, 170}, Rect{100, 0, 230, 60}}) {
      Canvas piece(part, 3, 40);
      ASSERT_EQ(RenderArcs(n, piece.image, 1.0, look, nullptr, nullptr, nullptr, 0.0, 1.0), 0);
      for (int32_t y = part.top; y < part.bottom; ++y)
        ASSERT_TRUE(std::equal(piece.image.Row(y), piece.image.Row(y) + 3 * part.Width(), whole.image.Address(0, y) + 3 * part.left))
            << "glow " << glowRadius << ", row " << y << " of part at " << part.left << "," << part.top;
    }
  }
}

TEST_F(ArcRender, MaskKeepsTheColourOffSelectedPixels) {
  const Rect r{0, 0, 120, 80};
  ArcNetwork n(r, 0.0, 0.0, 0.0, 4.0);
  n.AddMainArc({10.0, 40.0, 3.0, false}, {110.0, 40.0, 3.0, false}, false, 1);
  std::vector<uint8_t> maskBytes(size_t(r.Width()) * r.Height(), 0);
  for (int32_t y = 20; y < 60; ++y)
    for (int32_t x = 40; x < 80; ++x) maskBytes[size_t(y) * r.Width() + x] = 255;
  ByteMask mask(r, maskBytes.data(), 0);
  ArcLook look = WhiteOnBlack(10.0);
  look.useMask = true;
  Canvas canvas(r, 1, 100);
  ASSERT_EQ(RenderArcs(n, canvas.image, 1.0, look, &mask, nullptr, nullptr, 0.0, 1.0), 0);
  for (int32_t y = 20; y < 60; ++y)
    for (int32_t x = 40; x < 80; ++x) ASSERT_EQ(canvas.At(x, y), 100) << x << "," << y;
  EXPECT_EQ(canvas.At(20, 40), 255) << "the arc outside the mask";
  EXPECT_GT(canvas.At(60, 15), 100) << "the selected area's outline glows";
}

class AlwaysStop final : public Abort_Tester {
 public:
  bool ShouldAbort() override { return true; }
};

TEST_F(ArcRender, StoppedRenderLeavesTheOutputAlone) {
  ArcNetwork n = Bolt(1);
  Canvas canvas(kBounds, 3, 77);
  AlwaysStop stop;
  EXPECT_EQ(RenderArcs(n, canvas.image, 1.0, WhiteOnBlack(20.0), nullptr, &stop, nullptr, 0.0, 1.0), 1);
  EXPECT_TRUE(std::all_of(canvas.bytes.begin(), canvas.bytes.end(), [](uint8_t v) { return v == 77; }));
}

}  // namespace
}  // namespace kv
