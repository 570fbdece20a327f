// Cracks: the network's growth rules on a mask, and the effect through the
// entry point: its look, tiles against whole renders, the preview, seeds and
// the selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "effects/cracks/crack_network.h"
#include "effects/cracks/cracks.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

// A selected disc with a soft rim, in a raster a little larger.
ByteMask Disc(const Rect& r, double radius) {
  int32_t err = 0;
  ByteMask m(err, r);
  const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  for (int32_t y = r.top; y < r.bottom; ++y)
    for (int32_t x = r.left; x < r.right; ++x)
      m(x, y) = uint8_t(std::clamp(128.0 + 60.0 * (radius - std::hypot(x - cx, y - cy)), 0.0, 255.0));
  return m;
}

PointD Along(const CrackSegment& s, double t) { return {s.start.x + s.direction.x * t, s.start.y + s.direction.y * t}; }

TEST(CrackNetwork, CracksEndAsTheyShouldAndRepeatWithTheSeed) {
  const ByteMask mask = Disc({-20, 10, 280, 250}, 110.0);
  const CrackGrowth growth{160.0, 12.0, 3.0, 41};
  CrackNetwork network(mask, growth), again(mask, growth);
  ASSERT_EQ(network.Build(nullptr), 0);
  ASSERT_EQ(again.Build(nullptr), 0);
  const std::vector<CrackSegment>& all = network.Segments();
  ASSERT_GT(all.size(), 300u);
  ASSERT_EQ(again.Segments().size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(again.Segments()[i].start, all[i].start);

  std::vector<int> children(all.size(), 0);
  int roots = 0, branches = 0, stopped = 0;
  for (const CrackSegment& s : all) {
    if (s.parent < 0) {
      ++roots;
      EXPECT_LE(s.remaining, growth.length);
      EXPECT_TRUE(s.nearEdge);
      continue;
    }
    const CrackSegment& p = all[size_t(s.parent)];
    ++children[size_t(s.parent)];
    const double angle = std::acos(std::clamp(s.direction.x * p.direction.x + s.direction.y * p.direction.y, -1.0, 1.0));
    if (angle > 1.0) {  // a branch: turned about a right angle; never longer than 1.2 x what its parent had left
      ++branches;
      EXPECT_LE(s.remaining, 1.2 * (p.remaining - p.step) + 1e-9);
    }
    // Continuations and branches start where their parent ends.
    EXPECT_NEAR(std::hypot(s.start.x - p.End().x, s.start.y - p.End().y), 0.0, 1e-9);
  }
  for (size_t i = 0; i < all.size(); ++i) {
    const CrackSegment& s = all[i];
    EXPECT_LE(s.step, s.remaining + 1e-9);
    if (children[i] > 0 || s.step >= CrackNetwork::kStep - 1e-9) continue;
    // A piece shorter than a step is a tip at its remaining length, or ends on
    // an older crack.
    if (s.step == s.remaining) {
      bool onOlder = false;
      for (size_t j = 0; j < i && !onOlder; ++j) {
        const CrackSegment& o = all[j];
        const PointD e = s.End();
        const double t = std::clamp((e.x - o.start.x) * o.direction.x + (e.y - o.start.y) * o.direction.y, 0.0, o.step);
        const PointD q = Along(o, t);
        onOlder = std::hypot(e.x - q.x, e.y - q.y) < 1e-6;
      }
      stopped += onOlder;
    }
  }
  EXPECT_GT(roots, 40);
  EXPECT_GT(branches, 5);
  EXPECT_GT(stopped, 5);

  // Nothing selected: no edge, no cracks.
  ByteMask empty = Disc({0, 0, 50, 50}, -5.0);
  CrackNetwork none(empty, growth);
  ASSERT_EQ(none.Build(nullptr), 0);
  EXPECT_TRUE(none.Segments().empty());
}

HostRender With(std::function<void(CracksBlock&)> edit, std::vector<uint8_t> selection, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    if (edit) edit(*static_cast<CracksBlock*>(block));
  };
  return how;
}

Picture Crack(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kCracksEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// Denser, wider cracks than the defaults give a small picture at 72 pixels per inch.
void Bold(CracksBlock& b) {
  b.crackLength = {40.0, kUnitPixels};
  b.crackSpacing = {12.0, kUnitPixels};
  b.crackWidth = {4.0, kUnitPixels};
}

TEST(Cracks, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("cracks-defaults", Crack(TestPicture(128, 96), With({}, OvalSelection(128, 96))),
                         kEdgesMayRound);
}

TEST(Cracks, TilesSeedsAndWholeRendersAgree) {
  const Picture in = TestPicture(211, 153, ps::plugInModeRGBColor, 3, true);
  const std::vector<uint8_t> oval = OvalSelection(211, 153);
  const Picture whole = Crack(in, With(Bold, oval));
  EXPECT_NE(whole.pixels, in.pixels);
  EXPECT_EQ(Crack(in, With(Bold, oval)).pixels, whole.pixels);
  for (const int tile : {23, 64, 97}) EXPECT_EQ(Crack(in, With(Bold, oval, tile)).pixels, whole.pixels) << tile;
  const Picture other = Crack(in, With([](CracksBlock& b) { Bold(b), b.randomSeed = 1; }, oval));
  EXPECT_NE(other.pixels, whole.pixels);
}

TEST(Cracks, PreviewShowsTheSameCracks) {
  auto seeded = [](int seed) {
    return [seed](void* block) {
      auto& b = *static_cast<CracksBlock*>(block);
      b.crackLength = {120.0, kUnitPixels};
      b.crackSpacing = {30.0, kUnitPixels};
      b.crackWidth = {12.0, kUnitPixels};
      b.randomSeed = uint16_t(seed);
    };
  };
  HostRender how;
  how.edit = seeded(3897);
  how.selection = OvalSelection(400, 300);
  const PreviewDifference d = ComparePreview(kCracksEffect, SmoothPicture(400, 300), 2, how, seeded(3898));
  EXPECT_LT(d.same, 5.0);
  EXPECT_GT(d.other, 2.0 * d.same);
}

TEST(Cracks, UnselectedPixelsKeepTheirColourAndCracksOpenALayer) {
  constexpr int kW = 120, kH = 90;
  std::vector<uint8_t> box(size_t(kW) * kH, 0);
  for (int y = 20; y < 70; ++y)
    for (int x = 30; x < 100; ++x) box[size_t(y) * kW + x] = 255;
  const Picture in = TestPicture(kW, kH);
  const Picture out = Crack(in, With(Bold, box));
  int changed = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool same = std::equal(in.At(x, y), in.At(x, y) + 3, out.At(x, y));
      if (box[size_t(y) * kW + x] == 0) ASSERT_TRUE(same) << x << "," << y;
      else changed += !same;
    }
  EXPECT_GT(changed, 300);

  // On a layer the cracks that run out through its edge cut it open; the
  // cracks darken and never lighten the picture much.
  Picture layer = TestPicture(kW, kH, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 3; i < layer.pixels.size(); i += 4) layer.pixels[i] = box[i / 4];
  const Picture opened = Crack(layer, With(Bold, {}));
  int cut = 0;
  for (size_t i = 3; i < layer.pixels.size(); i += 4) {
    ASSERT_LE(opened.pixels[i], layer.pixels[i]);
    cut += opened.pixels[i] < layer.pixels[i];
  }
  EXPECT_GT(cut, 10);
}

}  // namespace
}  // namespace kv::test
