// The arc engine on its own: the shape of the network, the stamps, and the
// glow against its definition.
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
}

TEST(ArcNetwork, BranchesEndInTheBoundsAndShorterThanTheirParent) {
  int nearEdge = 0;
  for (int64_t seed = 1; seed <= 5; ++seed) {
    ArcNetwork n(kBounds, 100.0, 100.0, 100.0, 4.0);
    n.AddMainArc({10.0, 150.0, 8.0, false}, {390.0, 150.0, 8.0, false}, false, seed);
    for (size_t i = 0; i + 1 < n.arcs.size(); ++i) {
      const Arc& arc = n.arcs[i];
      for (size_t j = 1; j < arc.size(); ++j) {
        const double reach = std::ceil(arc[j].radius);
        ASSERT_TRUE(kBounds.Inflate(int32_t(reach), int32_t(reach)).Contains(int32_t(std::floor(arc[j].x)),
                                                                             int32_t(std::floor(arc[j].y))));
      }
      EXPECT_LE(double(arc.size() - 1) * 4.0, 0.8 * 380.0) << "arc " << i;
      const ArcPoint& end = arc.back();
      nearEdge += end.y < 4.0 + std::ceil(end.radius) || end.y >= 296.0 - std::ceil(end.radius);
    }
  }
  EXPECT_GT(nearEdge, 0) << "some walks must have run into the bounds";
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

// The glow by its definition, in doubles: the cores, gain * k * core blurred
// round the rectangle's rows and columns with the whole Gaussian above a
// radius of 16, with the cut kernel and repeated edges up to it.
std::vector<double> DefinedGlow(const SingleChannelImage<double>& core, double gain, double radius) {
  const double s = 2 / (radius + 1);
  const bool circular = radius > 16.0;
  std::vector<double> w;
  if (circular) {
    for (int i = 0; s * i < 7.0; ++i) w.push_back(std::exp(-(s * i) * (s * i)));
  } else {
    for (float v : BlurKernel(radius)) w.push_back(v);
  }
  double sum = w[0];
  for (size_t i = 1; i < w.size(); ++i) sum += 2 * w[i];
  const int32_t W = core.Width(), H = core.Height(), h = int32_t(w.size()) - 1;
  std::vector<double> g(size_t(W) * H), t(g.size());
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) g[size_t(y) * W + x] = gain * core(x, y);
  for (int pass = 0; pass < 2; ++pass) {
    const int32_t n = pass == 0 ? W : H;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        double acc = 0.0;
        for (int32_t d = -h; d <= h; ++d) {
          int32_t i = (pass == 0 ? x : y) + d;
          i = circular ? (i % n + n) % n : std::clamp(i, 0, n - 1);
          acc += w[size_t(std::abs(d))] / sum * g[pass == 0 ? size_t(y) * W + i : size_t(i) * W + x];
        }
        t[size_t(y) * W + x] = acc;
      }
    g.swap(t);
  }
  return g;
}

TEST_F(ArcRender, GlowIsTheBlurOfTheCores) {
  // White on black over black gives t * t / 255 for the intensity t. 101
  // rows are carried round their circle into a longer transform; 150
  // columns are transformed as they are. Flashes are left out.
  const Rect r{0, 0, 150, 101};
  for (const double glowRadius : {9.0, 16.0, 40.0, 400.0}) {
    ArcNetwork n(r, 60.0, 60.0, 80.0, 4.0);
    n.AddMainArc({15.0, 20.0, 3.0, false}, {135.0, 90.0, 0.0, false}, true, 9);
    ArcLook look = WhiteOnBlack(glowRadius);
    look.glowOpacity = 0.4;
    look.flashFactor = 0.0;
    Canvas canvas(r);
    ASSERT_EQ(RenderArcs(n, canvas.image, r, 1.0, look, nullptr, nullptr, nullptr, 0.0, 1.0), 0);

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
    const std::vector<double> glow = DefinedGlow(core, 1.5 * look.glowOpacity * k, glowRadius);
    int worst = 0;
    for (int32_t y = 0; y < r.bottom; ++y)
      for (int32_t x = 0; x < r.right; ++x) {
        const double a = core(x, y), v = (255.0 - a) * glow[size_t(y) * r.right + x] / 255.0 + a + 0.5;
        const int t = int(std::clamp(v, 0.0, 255.0));
        worst = std::max(worst, std::abs(canvas.At(x, y) - t * t / 255));
      }
    EXPECT_LE(worst, 1) << "glow radius " << glowRadius;
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
  ASSERT_EQ(RenderArcs(n, canvas.image, r, 1.0, look, &mask, nullptr, nullptr, 0.0, 1.0), 0);
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
  EXPECT_EQ(RenderArcs(n, canvas.image, kBounds, 1.0, WhiteOnBlack(20.0), nullptr, &stop, nullptr, 0.0, 1.0), 1);
  EXPECT_TRUE(std::all_of(canvas.bytes.begin(), canvas.bytes.end(), [](uint8_t v) { return v == 77; }));
}

}  // namespace
}  // namespace kv
