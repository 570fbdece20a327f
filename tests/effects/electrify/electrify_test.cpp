// Electrify: where arcs spring from a mask's edge and which way they go, and
// the effect through the entry point and as the dialog previews it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <utility>

#include "effects/electrify/electrify.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

// --- placing -----------------------------------------------------------------

struct Mask {
  Rect bounds;
  std::vector<uint8_t> bytes;
  ByteMask image;

  Mask(const Rect& r, const Rect& selected)
      : bounds(r), bytes(size_t(r.Width()) * size_t(r.Height()), 0), image(r, bytes.data(), 0) {
    for (int32_t y = selected.top; y < selected.bottom; ++y)
      for (int32_t x = selected.left; x < selected.right; ++x) *image.Address(x, y) = 255;
  }
};

constexpr Rect kImage{0, 0, 200, 160};

ArcNetwork Placed(const ByteMask& mask, bool radiate, double cellSize = 20.0, int64_t seed = 7724,
                  double branching = 0.0) {
  ArcNetwork network(kImage, branching, 60.0, 60.0, 3.0);
  const ArcPlacement how{2.0, 30.0, cellSize, seed, radiate};
  EXPECT_EQ(PlaceArcs(network, mask, mask.bounds, kImage, how, nullptr), 0);
  return network;
}

// Whether (x, y) is selected and a neighbour above or to the left is not, or
// the reverse: the edge pixels arcs may start from.
bool IsEdge(const ByteMask& m, int32_t x, int32_t y) {
  const auto in = [&](int32_t u, int32_t v) { return m.bounds.Contains(u, v) && *m.Address(u, v) >= 128; };
  return in(x, y) != in(x, y - 1) || in(x, y) != in(x - 1, y);
}

TEST(ElectrifyPlacing, ArcsRadiateFromTheBorderOfARectangle) {
  const Mask mask({20, 20, 180, 140}, {40, 40, 160, 120});
  const ArcNetwork n = Placed(mask.image, true);
  ASSERT_FALSE(n.arcs.empty());
  const PointD centre{20 + 0.5 * 159, 20 + 0.5 * 119};
  std::set<std::pair<int32_t, int32_t>> cells;
  for (const Arc& arc : n.arcs) {
    const int32_t px = int32_t(arc[0].x + 0.5), py = int32_t(arc[0].y + 0.5);
    EXPECT_EQ(arc[0].x, px - 0.5);
    EXPECT_TRUE(IsEdge(mask.image, px, py)) << px << "," << py;
    EXPECT_TRUE(px == 40 || px == 160 || py == 40 || py == 120) << px << "," << py;
    EXPECT_TRUE(cells.insert({px / 20, py / 20}).second) << "one arc per cell";
    ASSERT_GE(arc.size(), 2u);
    // The first step points straight away from the centre, along the outward normal.
    const double dx = arc[1].x - arc[0].x, dy = arc[1].y - arc[0].y, vx = px - centre.x, vy = py - centre.y;
    EXPECT_NEAR(dx * vy - dy * vx, 0.0, 1e-9);
    EXPECT_GT(dx * vx + dy * vy, 0.0);
    const double nx = px == 40 ? -1.0 : px == 160 ? 1.0 : 0.0, ny = py == 40 ? -1.0 : py == 120 ? 1.0 : 0.0;
    EXPECT_GT(nx * vx + ny * vy, 0.0);
  }
}

TEST(ElectrifyPlacing, WithoutRadiatingArcsLeaveAlongTheNormal) {
  const Mask mask({0, 0, 200, 160}, {40, 40, 160, 120});
  int sides = 0;
  for (const Arc& arc : Placed(mask.image, false).arcs) {
    const int32_t px = int32_t(arc[0].x + 0.5), py = int32_t(arc[0].y + 0.5);
    if ((px == 40 || px == 160) == (py == 40 || py == 120)) continue;  // corners, or not on the border
    const double nx = px == 40 ? -1.0 : px == 160 ? 1.0 : 0.0, ny = py == 40 ? -1.0 : py == 120 ? 1.0 : 0.0;
    EXPECT_NEAR((arc[1].x - arc[0].x) / 3.0, nx, 1e-9) << px << "," << py;
    EXPECT_NEAR((arc[1].y - arc[0].y) / 3.0, ny, 1e-9) << px << "," << py;
    ++sides;
  }
  EXPECT_GT(sides, 8);
}

TEST(ElectrifyPlacing, NoArcFromTheCentreOrTheImageBorder) {
  // 5 x 5, rows 2..4 selected: the centre (2, 2) is an edge pixel.
  const Mask centre({0, 0, 5, 5}, {0, 2, 5, 5});
  const ArcNetwork n = Placed(centre.image, true, 1.0);
  ASSERT_FALSE(n.arcs.empty());
  for (const Arc& arc : n.arcs) EXPECT_FALSE(arc[0].x == 1.5 && arc[0].y == 1.5);
  // Selected to the image's right border: no arcs along it.
  const Mask right({0, 0, 200, 160}, {100, 40, 200, 120});
  for (const Arc& arc : Placed(right.image, false).arcs) EXPECT_LT(arc[0].x, 199.0);
}

// --- through the entry point ------------------------------------------------

HostRender With(const std::vector<uint8_t>& selection, std::function<void(ElectrifyBlock&)> edit = {}) {
  HostRender how;
  how.selection = selection;
  // Arcs shorter and closer than the default inch and third of one, to suit
  // small pictures.
  how.edit = [edit](void* block) {
    auto& b = *static_cast<ElectrifyBlock*>(block);
    b.arcLength = {40.0, kUnitPixels};
    b.arcSpacing = {12.0, kUnitPixels};
    if (edit) edit(b);
  };
  return how;
}

Picture Electrified(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kElectrifyEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

TEST(Electrify, LooksAsItDid) {
  // The defaults at 40 pixels to the inch, where the arcs are 40 long.
  HostRender how;
  how.selection = OvalSelection(120, 90);
  how.resolution = 40.0;
  ExpectMatchesReference("electrify-defaults", Electrified(TestPicture(120, 90), how), kWithinOneLevel);
  // A layer's content with the widest glow, blurred round the rows and
  // columns of the area the arcs reach.
  Picture layer = TestPicture(120, 90, ps::plugInModeRGBColor, 3, true);
  const std::vector<uint8_t> oval = OvalSelection(120, 90);
  for (size_t i = 0; i < oval.size(); ++i) layer.pixels[i * 4 + 3] = oval[i];
  HostRender wide;
  wide.resolution = 40.0;
  wide.edit = [](void* block) {
    auto& b = *static_cast<ElectrifyBlock*>(block);
    b.glowWidth = 100.0;
    b.radiateFromCenter = false;
    b.outerColor = Color::RGB(255, 0, 160);
  };
  ExpectMatchesReference("electrify-wide-glow-layer", Electrified(layer, wide), kWithinOneLevel);
}

TEST(Electrify, ObjectStaysAndItsSurroundingsCrackle) {
  const Picture in = TestPicture(240, 160);
  const std::vector<uint8_t> oval = OvalSelection(240, 160);
  const Picture out = Electrified(in, With(oval));
  int changedOutside = 0;
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 240; ++x) {
      const bool same = std::equal(out.At(x, y), out.At(x, y) + 3, in.At(x, y));
      if (oval[size_t(y) * 240 + x] == 255) {
        ASSERT_TRUE(same) << x << "," << y;
      }
      if (oval[size_t(y) * 240 + x] == 0) changedOutside += !same;
    }
  EXPECT_GT(changedOutside, 240 * 160 / 20);

  int16_t error = 0;
  EXPECT_TRUE(RenderThroughHost(kElectrifyEffect, in, {}, &error).pixels.empty()) << "nothing to work along";
  EXPECT_NE(error, 0);
}

TEST(Electrify, WithoutGlowTheCoresStillShow) {
  const Picture in = TestPicture(240, 160);
  const std::vector<uint8_t> oval = OvalSelection(240, 160);
  auto changed = [&](double opacity) {
    const Picture out = Electrified(in, With(oval, [opacity](ElectrifyBlock& b) { b.glowOpacity = opacity; }));
    int n = 0;
    for (size_t i = 0; i < in.pixels.size(); ++i) n += out.pixels[i] != in.pixels[i];
    return n;
  };
  const int bare = changed(0.0), glowing = changed(50.0);
  EXPECT_GT(bare, 200);
  EXPECT_GT(glowing, 2 * bare);
}

TEST(Electrify, SeedDecidesAndTilesAgreeWithTheWhole) {
  const Picture in = TestPicture(203, 131);
  const std::vector<uint8_t> oval = OvalSelection(203, 131);
  EXPECT_EQ(TileSizeThatDiffers(kElectrifyEffect, in, With(oval)), 0);
  EXPECT_NE(Electrified(in, With(oval, [](ElectrifyBlock& b) { b.randomSeed = 1; })).pixels,
            Electrified(in, With(oval)).pixels);
}

TEST(Electrify, PreviewShowsTheSameArcs) {
  // Cores thinner than a pixel come out dimmer in a preview, so the margin
  // is narrower than for Lightning.
  const Picture in = SmoothPicture(400, 300);
  const HostRender how = With(OvalSelection(400, 300), [](ElectrifyBlock& b) {
    b.arcLength = {60.0, kUnitPixels};
    b.arcSpacing = {20.0, kUnitPixels};
  });
  for (const int factor : {2, 4}) {
    const PreviewDifference d = ComparePreview(kElectrifyEffect, in, factor, how, [](void* block) {
      static_cast<ElectrifyBlock*>(block)->randomSeed = 7725;
    });
    EXPECT_LT(d.same, 4.0) << factor;
    EXPECT_GT(d.other, 1.5 * d.same) << factor;
  }
}

}  // namespace
}  // namespace kv::test
