// Electrify: where arcs spring from a mask's edge and which way they go, and
// the effect through the entry point and as the preview renders it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <utility>

#include "effects/electrify/electrify.h"
#include "host/host_calls.h"
#include "tests/effects/effect_harness.h"

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

TEST(ElectrifyPlacing, EdgeAtTheCentreGetsNoArc) {
  // 5 x 5, rows 2..4 selected: the centre (2, 2) is an edge pixel.
  const Mask mask({0, 0, 5, 5}, {0, 2, 5, 5});
  const ArcNetwork n = Placed(mask.image, true, 1.0);
  ASSERT_FALSE(n.arcs.empty());
  for (const Arc& arc : n.arcs) EXPECT_FALSE(arc[0].x == 1.5 && arc[0].y == 1.5);
}

TEST(ElectrifyPlacing, ImageBorderIsNoEdge) {
  // Selected to the image's right border: no arcs along it.
  const Mask mask({0, 0, 200, 160}, {100, 40, 200, 120});
  for (const Arc& arc : Placed(mask.image, false).arcs) EXPECT_LT(arc[0].x, 199.0);
}

// Each arc's points relative to its start.
std::vector<std::pair<double, double>> Shapes(const ArcNetwork& n) {
  std::vector<std::pair<double, double>> s;
  for (const Arc& arc : n.arcs)
    for (const ArcPoint& p : arc) s.push_back({p.x - arc[0].x, p.y - arc[0].y});
  return s;
}

TEST(ElectrifyPlacing, SeedAndPositionDecideTheArcs) {
  const Mask mask({0, 0, 200, 160}, {40, 40, 160, 120});
  const ArcNetwork a = Placed(mask.image, true, 20.0, 7724, 60.0);
  EXPECT_GT(a.arcs.size(), 20u) << "arcs with branches";
  EXPECT_EQ(Shapes(a), Shapes(Placed(mask.image, true, 20.0, 7724, 60.0)));
  EXPECT_NE(Shapes(a), Shapes(Placed(mask.image, true, 20.0, 7725, 60.0)));
  // The same rectangle moved right by 6: the arcs do not merely move with it.
  const Mask moved({0, 0, 200, 160}, {46, 40, 166, 120});
  EXPECT_NE(Shapes(a), Shapes(Placed(moved.image, true, 20.0, 7724, 60.0)));
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

TEST(Electrify, SeedTilesAndWholeAgree) {
  const Picture in = TestPicture(203, 131);
  const std::vector<uint8_t> oval = OvalSelection(203, 131);
  const Picture whole = Electrified(in, With(oval));
  EXPECT_EQ(Electrified(in, With(oval)).pixels, whole.pixels);
  HostRender tiled = With(oval);
  tiled.tileSize = 37;
  EXPECT_EQ(Electrified(in, tiled).pixels, whole.pixels);
  EXPECT_NE(Electrified(in, With(oval, [](ElectrifyBlock& b) { b.randomSeed = 1; })).pixels, whole.pixels);
}

TEST(Electrify, PreviewShowsTheSameArcs) {
  // The same arcs in the same places; cores thinner than a pixel come out
  // dimmer in the preview, so the margin is narrower than for Lightning.
  auto seeded = [](int seed) {
    return [seed](void* block) {
      auto& b = *static_cast<ElectrifyBlock*>(block);
      b.arcLength = {60.0, kUnitPixels};
      b.arcSpacing = {20.0, kUnitPixels};
      b.randomSeed = uint16_t(seed);
    };
  };
  const PreviewDifference d =
      ComparePreview(kElectrifyEffect, TestPicture(400, 300), 4, seeded(7724), seeded(7725), OvalSelection(400, 300));
  EXPECT_LT(d.same, 4.0);
  EXPECT_GT(d.other, 1.5 * d.same);
}

// Electrify called straight, as the render driver would call it without a
// working area: `part` of `in`, which is the image at 1 / `scale`, with its
// mask sampled from the full-size `selection`; the mask source is the
// selection over `delivered`. Returns the pixels of `part`. No host: colours
// as they are.
std::vector<uint8_t> Straight(const Picture& in, const std::vector<uint8_t>& selection, int scale, const Rect& part,
                              const Rect& delivered, std::function<void(ElectrifyBlock&)> edit) {
  ps::FilterRecord* saved = std::exchange(Session().record, nullptr);
  const Rect full{0, 0, in.width * scale, in.height * scale};
  const int planes = in.Planes();
  std::vector<uint8_t> maskBytes(size_t(part.Width()) * part.Height());
  std::vector<uint8_t> sourceBytes(size_t(delivered.Width()) * delivered.Height());
  for (int32_t y = part.top; y < part.bottom; ++y)
    for (int32_t x = part.left; x < part.right; ++x)
      maskBytes[size_t(y - part.top) * part.Width() + (x - part.left)] =
          selection[size_t(y * scale) * full.right + x * scale];
  for (int32_t y = delivered.top; y < delivered.bottom; ++y)
    std::copy_n(&selection[size_t(y) * full.right + delivered.left], delivered.Width(),
                sourceBytes.begin() + size_t(y - delivered.top) * delivered.Width());
  std::vector<uint8_t> pixels(size_t(part.Width()) * part.Height() * planes);
  for (int32_t y = part.top; y < part.bottom; ++y)
    std::copy_n(in.At(part.left, y), planes * part.Width(),
                pixels.begin() + size_t(y - part.top) * planes * part.Width());
  ByteImage output(part, pixels.data(), 0, PixelFormat::Of(kModeRGB, in.colorPlanes, in.alpha));
  ByteMask mask(part, maskBytes.data(), 0), source(delivered, sourceBytes.data(), 0);
  Electrify electrify;
  ElectrifyBlock block;
  electrify.SetDefaults(&block);
  edit(block);
  RenderContext c;
  c.imageBounds = c.area = &full;
  c.tile = &part;
  c.output = &output;
  c.mask = &mask;
  c.maskSource = &source;
  c.block = &block;
  c.scale = scale;
  EXPECT_EQ(electrify.Render(c), 0);
  Session().record = saved;
  return pixels;
}

// Whether row y of the pixels of `part` is the same in `b`, a picture from
// (0, 0) of `width` pixels per row.
bool SameRow(const std::vector<uint8_t>& a, const Rect& part, const std::vector<uint8_t>& b, int width, int32_t y,
             int planes) {
  const size_t n = size_t(planes) * part.Width();
  return std::equal(a.begin() + size_t(y - part.top) * n, a.begin() + size_t(y - part.top + 1) * n,
                    b.begin() + (size_t(y) * width + part.left) * planes);
}

TEST(Electrify, PartOfAPreviewGlowsAsTheWholeDoes) {
  // The selection runs on beyond the view's edges; its outline's glow there
  // must not fade out at them.
  const Picture reduced = Reduce(TestPicture(400, 300), 2);
  const std::vector<uint8_t> oval = OvalSelection(400, 300);
  const auto edit = [](ElectrifyBlock& b) {
    b.arcLength = {60.0, kUnitPixels};
    b.arcSpacing = {20.0, kUnitPixels};
    b.glowWidth = 60.0;
  };
  const Rect all{0, 0, 200, 150}, full{0, 0, 400, 300};
  const std::vector<uint8_t> whole = Straight(reduced, oval, 2, all, full, edit);
  for (const Rect part : {Rect{0, 0, 100, 150}, Rect{70, 40, 200, 110}}) {
    const std::vector<uint8_t> piece = Straight(reduced, oval, 2, part, full, edit);
    for (int32_t y = part.top; y < part.bottom; ++y)
      ASSERT_TRUE(SameRow(piece, part, whole, all.right, y, 3))
          << "row " << y << " of the view at " << part.left << "," << part.top;
  }
}

TEST(Electrify, ArcsAreThoseOfTheMaskAsDelivered) {
  // On a layer the area is its content's bounds, (20, 30)-(140, 130), off
  // the middle. The one-piece render hands over the mask of the area and the
  // arcs' reach on the image, and its centre and width place the arcs: as
  // when that mask is handed over on its own.
  Picture layer = TestPicture(240, 160, ps::plugInModeRGBColor, 3, true);
  std::vector<uint8_t> alpha(size_t(240) * 160, 0);
  for (int y = 30; y < 130; ++y)
    for (int x = 20; x < 140; ++x) {
      const double u = (x + 0.5 - 80.0) / 60.0, v = (y + 0.5 - 80.0) / 50.0;
      alpha[size_t(y) * 240 + x] = u * u + v * v <= 1.0 ? 255 : 0;
    }
  alpha[size_t(30) * 240 + 20] = alpha[size_t(129) * 240 + 139] = 255;  // the corners make the bounds
  for (size_t i = 0; i < alpha.size(); ++i) layer.pixels[i * 4 + 3] = alpha[i];
  const auto edit = [](ElectrifyBlock& b) {
    b.arcLength = {40.0, kUnitPixels};
    b.arcSpacing = {12.0, kUnitPixels};
  };
  const Picture host = Electrified(layer, With({}, edit));
  // The margin: 40 pixels of arc and a core radius of 2 at 25 % glow width.
  const Rect delivered = Rect{20, 30, 140, 130}.Inflate(50, 50).Intersect({0, 0, 240, 160});
  const std::vector<uint8_t> straight = Straight(layer, alpha, 1, delivered, delivered, edit);
  for (int32_t y = delivered.top; y < delivered.bottom; ++y)
    ASSERT_TRUE(SameRow(straight, delivered, host.pixels, 240, y, 4)) << "row " << y;
}

}  // namespace
}  // namespace kv::test
