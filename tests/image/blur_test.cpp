// The Fourier transform against a plain DFT, and the Gaussian blur: its
// kernel, its edges and the agreement of its two methods.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "image/blur.h"
#include "image/fft.h"

namespace kv {
namespace {

TEST(Fft, FastSizesHaveOnlySmallFactors) {
  EXPECT_EQ(fft::FastSize(1), 1);
  EXPECT_EQ(fft::FastSize(7), 8);
  EXPECT_EQ(fft::FastSize(49), 50);
  EXPECT_EQ(fft::FastSize(97), 100);
  EXPECT_EQ(fft::FastSize(1001), 1024);
}

TEST(Fft, MatchesTheDefinitionForEveryRadix) {
  for (int n : {1, 2, 3, 4, 5, 6, 12, 30, 45, 64, 100, 360}) {
    fft::Transform t(n);
    std::vector<float> re(size_t(n) * fft::kLanes), im(re.size());
    for (size_t i = 0; i < re.size(); ++i) {
      re[i] = float(std::sin(i * 0.7) + (i % 5));
      im[i] = float(std::cos(i * 0.3));
    }
    const std::vector<float> inRe = re, inIm = im;
    t.Forward(re.data(), im.data());
    for (int lane = 0; lane < fft::kLanes; lane += 3)
      for (int f = 0; f < n; ++f) {
        std::complex<double> sum = 0;
        for (int k = 0; k < n; ++k)
          sum += std::complex<double>(inRe[size_t(k) * fft::kLanes + lane], inIm[size_t(k) * fft::kLanes + lane]) *
                 std::polar(1.0, -2 * M_PI * f * k / n);
        const double tolerance = 1e-4 * n * 4;
        ASSERT_NEAR(re[size_t(f) * fft::kLanes + lane], sum.real(), tolerance) << n << " " << f;
        ASSERT_NEAR(im[size_t(f) * fft::kLanes + lane], sum.imag(), tolerance) << n << " " << f;
      }
    // Forward then inverse is n times the signal.
    t.Inverse(re.data(), im.data());
    for (size_t i = 0; i < re.size(); ++i) ASSERT_NEAR(re[i] / n, inRe[i], 1e-4) << n;
  }
}

struct Buffer {
  Buffer(int w, int h, int channels) : pixels(size_t(w) * h * channels) {
    rows.channels = channels;
    rows.Attach({0, 0, w, h}, pixels.data(), w * channels);
  }
  std::vector<uint8_t> pixels;
  RowBuffer rows;
};

int BlurOf(Buffer& b, double radius, bool directOnly = false, const uint8_t* mask = nullptr,
           Abort_Tester* abort = nullptr) {
  int32_t err = -99;
  Blur(err, b.rows, radius, abort, directOnly, mask, nullptr, 0, 1);
  return err;
}

TEST(Blur, FlatImagesStayFlatAtEveryRadius) {
  // A kernel that does not sum to one brightens or darkens a flat image.
  for (double radius : {0.5, 3.0, 12.0, 30.0, 31.0, 80.0}) {
    Buffer b(90, 70, 3);
    for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = uint8_t(i % 3 == 0 ? 200 : i % 3 == 1 ? 17 : 255);
    const std::vector<uint8_t> before = b.pixels;
    ASSERT_EQ(BlurOf(b, radius), 0);
    for (size_t i = 0; i < b.pixels.size(); ++i) ASSERT_NEAR(b.pixels[i], before[i], 1) << radius << " at " << i;
  }
}

TEST(Blur, SpreadsSymmetricallyAndKeepsTheEdges) {
  Buffer b(61, 61, 1);
  b.pixels[30 * 61 + 30] = 255;
  ASSERT_EQ(BlurOf(b, 4.0), 0);
  const auto at = [&](int x, int y) { return b.pixels[size_t(y) * 61 + x]; };
  EXPECT_LT(at(30, 30), 255);
  EXPECT_GT(at(30, 30), at(31, 30));
  EXPECT_EQ(at(29, 30), at(31, 30));
  EXPECT_EQ(at(30, 27), at(33, 30));
  EXPECT_EQ(at(0, 0), 0);

  // Edge pixels repeat outward: a bright left column stays bright at the edge.
  Buffer e(40, 10, 1);
  for (int y = 0; y < 10; ++y) e.pixels[size_t(y) * 40] = 255;
  ASSERT_EQ(BlurOf(e, 6.0), 0);
  EXPECT_GT(e.pixels[0], 60);
}

TEST(Blur, DirectAndFourierAgreeAcrossTheSwitch) {
  for (double radius : {30.0, 31.0, 45.0}) {
    Buffer fourier(157, 101, 4), direct(157, 101, 4);
    for (size_t i = 0; i < fourier.pixels.size(); ++i)
      fourier.pixels[i] = direct.pixels[i] = uint8_t((i * 2654435761u) >> 24 ^ (i / 400 % 2 ? 255 : 0));
    ASSERT_EQ(BlurOf(fourier, radius), 0);
    ASSERT_EQ(BlurOf(direct, radius, true), 0);
    int worst = 0;
    for (size_t i = 0; i < direct.pixels.size(); ++i)
      worst = std::max(worst, std::abs(int(fourier.pixels[i]) - int(direct.pixels[i])));
    EXPECT_LE(worst, 1) << radius;
  }
}

TEST(Blur, MaskBlendsAndNothingHappensAtRadiusZero) {
  Buffer b(20, 1, 1);
  for (int x = 0; x < 20; ++x) b.pixels[size_t(x)] = x % 2 ? 255 : 0;
  const std::vector<uint8_t> before = b.pixels;
  EXPECT_EQ(BlurOf(b, 0.0), 0);
  EXPECT_EQ(b.pixels, before);

  std::vector<uint8_t> mask(20, 0);
  for (int x = 10; x < 20; ++x) mask[size_t(x)] = 255;
  ASSERT_EQ(BlurOf(b, 3.0, true, mask.data()), 0);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(b.pixels[size_t(x)], before[size_t(x)]) << x;
  for (int x = 11; x < 19; ++x) EXPECT_NEAR(b.pixels[size_t(x)], 128, 40) << x;
}

TEST(Blur, StopsWhenAsked) {
  struct Always final : Abort_Tester {
    bool ShouldAbort() override { return true; }
  } stop;
  for (double radius : {5.0, 60.0}) {
    Buffer b(50, 50, 1);
    EXPECT_EQ(BlurOf(b, radius, false, nullptr, &stop), 1) << radius;
  }
}

}  // namespace
}  // namespace kv
