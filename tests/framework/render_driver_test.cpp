// The render driver's geometry and its blends, apart from any host.
#include <gtest/gtest.h>

#include "framework/render_driver.h"
#include "host/host_progress.h"

namespace kv {
namespace {

TEST(TileWalk, StartsBottomLeftAndClipsTheLastRowAndColumn) {
  const std::vector<Rect> tiles = TileWalk({10, 20, 22, 31}, 5);
  const std::vector<Rect> expected = {{10, 26, 15, 31}, {15, 26, 20, 31}, {20, 26, 22, 31},
                                      {10, 21, 15, 26}, {15, 21, 20, 26}, {20, 21, 22, 26},
                                      {10, 20, 15, 21}, {15, 20, 20, 21}, {20, 20, 22, 21}};
  EXPECT_EQ(tiles, expected);
  EXPECT_TRUE(TileWalk({0, 0, 0, 10}, 5).empty());
}

TEST(PreviewOrigin, FollowsThePlacement) {
  const Rect area{100, 200, 400, 300};  // 300 x 100
  EXPECT_EQ(PreviewOrigin(0, area, {200, 200}), (Point{50, 150}));
  // Centred: the wide axis starts at the area, the short one is centred.
  EXPECT_EQ(PreviewOrigin(1, area, {200, 200}), (Point{100, 150}));
  EXPECT_EQ(PreviewOrigin(2, area, {200, 200}), (Point{150, 150}));
  EXPECT_EQ(PreviewOrigin(2, area, {500, 50}), (Point{0, 150}));
}

TEST(MaskBlend, FollowsTheMaskWithAndWithoutAlpha) {
  const PixelFormat grey = PixelFormat::Of(kModeGrey, 1, false);
  const Rect r{0, 0, 3, 1};
  uint8_t inGrey[] = {10, 10, 10}, outGrey[] = {250, 250, 250}, m[] = {0, 128, 255};
  ByteImage in(r, inGrey, 0, grey), out(r, outGrey, 0, grey);
  ByteMask mask(r, m, 0);
  BlendThroughMask(in, out, mask, r);
  EXPECT_EQ(outGrey[0], 10);
  EXPECT_EQ(outGrey[1], 10 + 240 * 128 / 255);
  EXPECT_EQ(outGrey[2], 250);

  const PixelFormat greyAlpha = PixelFormat::Of(kModeGrey, 1, true);
  uint8_t inA[] = {10, 0, 10, 200, 10, 100}, outA[] = {250, 0, 250, 100, 250, 255}, m2[] = {128, 128, 128};
  ByteImage inAlpha(r, inA, 0, greyAlpha), outAlpha(r, outA, 0, greyAlpha);
  ByteMask mask2(r, m2, 0);
  BlendThroughMask(inAlpha, outAlpha, mask2, r);
  EXPECT_EQ(outA[1], 0) << "both alphas zero stay transparent";
  const int A = (255 - 128) * 200 + 128 * 100, w = 255 * 128 * 100 / A;
  EXPECT_EQ(outA[2], 10 + 240 * w / 255);
  EXPECT_EQ(outA[3], 200 + 128 * (100 - 200) / 255);
}

TEST(TransparencyRule, MultipliesTheAlphas) {
  const PixelFormat rgba = PixelFormat::Of(kModeRGB, 3, true);
  const Rect r{5, 5, 7, 6};
  uint8_t in[] = {1, 2, 3, 128, 1, 2, 3, 0}, out[] = {9, 9, 9, 255, 9, 9, 9, 255};
  ByteImage i(r, in, 0, rgba), o(r, out, 0, rgba);
  KeepLayerTransparency(i, o, r);
  EXPECT_EQ(out[3], 128);
  EXPECT_EQ(out[7], 0);
  EXPECT_EQ(out[0], 9);
}

std::vector<std::pair<int32_t, int32_t>> progressSeen;

TEST(ProgressSink, ReportsThousandsPerTile) {
  struct Calls {
    static void Record(int32_t done, int32_t total) { progressSeen.emplace_back(done, total); }
  };
  ps::FilterRecord record{};
  record.progressProc = &Calls::Record;
  PhotoshopProgressUpdateSink sink(&record, 4);
  sink.SetTile(2);
  sink.Update(0.5);
  ASSERT_EQ(progressSeen.size(), 1u);
  EXPECT_EQ(progressSeen[0], (std::pair<int32_t, int32_t>{2500, 4000}));
  PhotoshopProgressUpdateSink silent(nullptr, 4);
  silent.Update(0.5);
  EXPECT_EQ(progressSeen.size(), 1u);
}

}  // namespace
}  // namespace kv
