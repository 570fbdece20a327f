#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "image/pixel_ops.h"
#include "image/random.h"

namespace kv {
namespace {

constexpr PixelFormat kRGB = PixelFormat::Of(kModeRGB, 3, false);
constexpr PixelFormat kRGBA = PixelFormat::Of(kModeRGB, 3, true);

BytePixel Make(const PixelFormat& f, std::initializer_list<int> values) {
  BytePixel p(f);
  int c = 0;
  for (int v : values) p[c++] = uint8_t(v);
  return p;
}

std::vector<int> Values(const BytePixel& p) { return std::vector<int>(p.values, p.values + p.format.channelCount); }

// A 2 x 2 raster at (10, 20) with one value per channel and pixel.
ByteImage Square(const PixelFormat& f, std::initializer_list<std::initializer_list<int>> pixels) {
  int32_t err = -1;
  ByteImage img(err, Rect{10, 20, 12, 22}, f);
  int i = 0;
  for (auto pixel : pixels) {
    int c = 0;
    for (int v : pixel) img.Address(10 + i % 2, 20 + i / 2)[c++] = uint8_t(v);
    ++i;
  }
  return img;
}

TEST(SampleBilinear, InterpolatesAndTruncates) {
  const ByteImage img = Square(kRGB, {{10, 0, 0}, {20, 255, 0}, {30, 0, 0}, {41, 255, 255}});
  const BytePixel background = Make(kRGB, {200, 200, 200});
  BytePixel out(kRGB);
  SampleBilinear(img, img.bounds, {11, 21}, background, out);
  EXPECT_EQ(Values(out), (std::vector<int>{41, 255, 255}));
  SampleBilinear(img, img.bounds, {10.5, 20.5}, background, out);
  EXPECT_EQ(Values(out), (std::vector<int>{25, 127, 63}));
  // Half a pixel past the right edge: the outer corners are background.
  SampleBilinear(img, img.bounds, {11.5, 20}, background, out);
  EXPECT_EQ(Values(out), (std::vector<int>{110, 227, 100}));
  // A narrower valid area turns raster pixels into background too.
  SampleBilinear(img, Rect{10, 20, 11, 22}, {10.5, 20}, background, out);
  EXPECT_EQ(Values(out), (std::vector<int>{105, 100, 100}));
  SampleBilinear(img, img.bounds, {-1e30, 5e29}, background, out);
  EXPECT_EQ(Values(out), (std::vector<int>{200, 200, 200}));
}

TEST(SampleBilinear, PremultipliesAlpha) {
  // Transparent red on the left, opaque blue on the right.
  const ByteImage img = Square(kRGBA, {{255, 0, 0, 0}, {0, 0, 100, 255}, {255, 0, 0, 0}, {0, 0, 100, 255}});
  const BytePixel clear = Make(kRGBA, {0, 0, 0, 0});
  BytePixel out(kRGBA);
  SampleBilinear(img, img.bounds, {10.5, 20.5}, clear, out);
  EXPECT_EQ(Values(out), (std::vector<int>{0, 0, 100, 127}));
  SampleBilinear(img, img.bounds, {10.001, 20}, clear, out);
  EXPECT_EQ(Values(out), (std::vector<int>{0, 0, 0, 0}));  // alpha truncates to 0
}

TEST(SampleBilinear, NeedsTwoByTwo) {
  int32_t err = -1;
  ByteImage column(err, Rect{0, 0, 1, 5}, kRGB);
  column.Fill(1);
  BytePixel out = Make(kRGB, {7, 8, 9});
  SampleBilinear(column, column.bounds, {0, 1}, Make(kRGB, {0, 0, 0}), out);
  EXPECT_EQ(Values(out), (std::vector<int>{7, 8, 9}));
}

TEST(BlendByMask, WithoutAlpha) {
  const BytePixel dark = Make(kRGB, {0, 10, 255}), light = Make(kRGB, {255, 20, 0});
  BytePixel out(kRGB);
  BlendByMask(0, dark, light, out);
  EXPECT_EQ(Values(out), Values(dark));
  BlendByMask(255, dark, light, out);
  EXPECT_EQ(Values(out), Values(light));
  BlendByMask(128, dark, light, out);
  EXPECT_EQ(Values(out), (std::vector<int>{128, 15, 127}));  // truncation toward zero both ways
}

TEST(BlendByMask, WithAlpha) {
  BytePixel out = Make(kRGBA, {1, 2, 3, 99});
  BlendByMask(200, Make(kRGBA, {50, 50, 50, 0}), Make(kRGBA, {90, 90, 90, 0}), out);
  EXPECT_EQ(Values(out), (std::vector<int>{1, 2, 3, 0}));
  // A transparent old pixel lends no colour.
  BlendByMask(128, Make(kRGBA, {255, 255, 255, 0}), Make(kRGBA, {0, 100, 200, 255}), out);
  EXPECT_EQ(Values(out), (std::vector<int>{0, 100, 200, 128}));
  BlendByMask(0, Make(kRGBA, {30, 40, 50, 60}), Make(kRGBA, {0, 0, 0, 255}), out);
  EXPECT_EQ(Values(out), (std::vector<int>{30, 40, 50, 60}));
  BlendByMask(255, Make(kRGBA, {30, 40, 50, 60}), Make(kRGBA, {0, 0, 0, 0}), out);
  EXPECT_EQ(Values(out), (std::vector<int>{30, 40, 50, 0}));
}

TEST(BlendByMask, RowFormMatchesPixelsInPlace) {
  RandomNumberGenerator rng(7);
  for (const PixelFormat& f : {kRGB, kRGBA}) {
    const int32_t n = 64, size = n * f.channelCount;
    std::vector<uint8_t> mask(n), oldRow(size), newRow(size);
    for (auto& v : mask) v = uint8_t(rng.Below(256));
    for (int32_t i = 0; i < size; ++i) {
      oldRow[i] = uint8_t(rng.Below(256));
      newRow[i] = uint8_t(rng.Below(3) == 0 ? 0 : rng.Below(256));  // many zero alphas
    }
    std::vector<uint8_t> expected = newRow;
    for (int32_t x = 0; x < n; ++x) {
      BytePixel o(f), w(f), out(f);
      o.values = oldRow.data() + x * f.channelCount;
      w.values = newRow.data() + x * f.channelCount;
      out.values = expected.data() + x * f.channelCount;
      BlendByMask(mask[x], o, w, out);
    }
    BlendRowByMask(mask.data(), oldRow.data(), newRow.data(), newRow.data(), n, f);
    EXPECT_EQ(newRow, expected);
  }
}

TEST(CompositeOver, OverTransparentBackground) {
  BytePixel out(kRGBA);
  CompositeOver(out, Make(kRGBA, {10, 20, 30, 255}), Make(kRGBA, {200, 200, 200, 77}));
  EXPECT_EQ(Values(out), (std::vector<int>{10, 20, 30, 255}));
  CompositeOver(out, Make(kRGBA, {10, 20, 30, 0}), Make(kRGBA, {200, 201, 202, 77}));
  EXPECT_EQ(Values(out), (std::vector<int>{200, 201, 202, 77}));
  CompositeOver(out, Make(kRGBA, {10, 20, 30, 0}), Make(kRGBA, {5, 6, 7, 0}));
  EXPECT_EQ(Values(out), (std::vector<int>{5, 6, 7, 0}));
  CompositeOver(out, Make(kRGBA, {10, 20, 30, 90}), Make(kRGBA, {200, 200, 200, 0}));
  EXPECT_EQ(Values(out), (std::vector<int>{10, 20, 30, 90}));  // nothing beneath to mix with
  CompositeOver(out, Make(kRGBA, {255, 0, 0, 128}), Make(kRGBA, {0, 0, 255, 255}));
  EXPECT_EQ(Values(out), (std::vector<int>{128, 0, 127, 255}));
  CompositeOver(out, Make(kRGBA, {255, 0, 0, 128}), Make(kRGBA, {0, 0, 255, 100}));
  EXPECT_EQ(Values(out), (std::vector<int>{184, 0, 70, 177}));  // t = 49, u = 177
}

TEST(CompositeOver, OverOpaqueBackground) {
  BytePixel out(kRGB);
  const BytePixel background = Make(kRGB, {0, 100, 255});
  CompositeOver(out, Make(kRGBA, {9, 9, 9, 255}), background);
  EXPECT_EQ(Values(out), (std::vector<int>{9, 9, 9}));
  CompositeOver(out, Make(kRGBA, {9, 9, 9, 0}), background);
  EXPECT_EQ(Values(out), Values(background));
  CompositeOver(out, Make(kRGBA, {255, 100, 0, 128}), background);
  EXPECT_EQ(Values(out), (std::vector<int>{128, 100, 127}));
  // Grey with alpha over plain grey, a row at a time, in place.
  const PixelFormat greyA = PixelFormat::Of(kModeGrey, 1, true), grey = PixelFormat::Of(kModeGrey, 1, false);
  const uint8_t source[] = {200, 255, 200, 0, 200, 51};
  uint8_t row[] = {100, 100, 100};
  CompositeRowOver(row, source, greyA, row, grey, 3);
  EXPECT_EQ(std::vector<int>(row, row + 3), (std::vector<int>{200, 100, 120}));
}

TEST(Luminance, ByColourSpace) {
  EXPECT_EQ(Luminance(Make(kRGB, {255, 255, 255})), 255);
  EXPECT_EQ(Luminance(Make(kRGB, {0, 255, 0})), 150);
  EXPECT_EQ(Luminance(Make(PixelFormat::Of(kModeHSB, 3, false), {10, 20, 30})), 30);
  const PixelFormat cmyk = PixelFormat::Of(kModeCMYK, 4, false);
  EXPECT_EQ(Luminance(Make(cmyk, {255, 255, 255, 255})), 255);
  EXPECT_EQ(Luminance(Make(cmyk, {255, 255, 255, 0})), 0);
  EXPECT_EQ(Luminance(Make(cmyk, {0, 255, 255, 255})), 179);  // full cyan
  EXPECT_EQ(Luminance(Make(cmyk, {255, 255, 255, 128})), 128);
  EXPECT_EQ(Luminance(Make(PixelFormat::Of(kModeGrey, 1, true), {42, 0})), 42);
  EXPECT_EQ(Luminance(Make(PixelFormat::Of(kModeLab, 3, false), {200, 128, 128})), 0);
}

TEST(ChannelOps, CopyOverTheCommonAreaAndScale) {
  int32_t err = -1;
  ByteImage src(err, Rect{0, 0, 4, 4}, kRGBA), dst(err, Rect{2, 1, 6, 3}, kRGB);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) src.Address(x, y)[3] = uint8_t(x * 10 + y);
  dst.Fill(1);
  CopyChannel(src, 3, dst, 1);
  EXPECT_EQ(dst.Address(3, 2)[1], 32);
  EXPECT_EQ(dst.Address(2, 1)[1], 21);
  EXPECT_EQ(dst.Address(2, 1)[0], 1);
  EXPECT_EQ(dst.Address(4, 1)[1], 1);  // outside the source

  ScaleValues(src, 9.0);
  EXPECT_EQ(src.Address(2, 1)[3], 189);
  EXPECT_EQ(src.Address(3, 3)[3], 255);
  ScaleValues(src, 0.5);
  EXPECT_EQ(src.Address(3, 3)[3], 127);
  ScaleValues(src, -1.0);
  EXPECT_EQ(src.Address(3, 3)[3], 0);
}

}  // namespace
}  // namespace kv
