// The Fourier transform against a plain DFT, and the Gaussian blur against
// its definition computed plainly in doubles: the direct method's cut kernel
// with repeated edges, the transform's circular convolution with the whole
// Gaussian, for bytes and for floats.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "image/blur.h"
#include "image/fft.h"
#include "image/vector_kernels.h"
#include "tests/support/vector_paths.h"

namespace kv {
namespace {

TEST(Fft, MatchesTheDefinitionForEveryRadix) {
  EXPECT_EQ(fft::FastSize(97), 100);
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

template <class T>
struct Buffer {
  Buffer(int w, int h, int channels) : width(w), height(h), channels(channels), samples(size_t(w) * h * channels) {
    rows.channels = channels;
    rows.bytesPerChannel = int32_t(sizeof(T));
    rows.Attach({0, 0, w, h}, reinterpret_cast<uint8_t*>(samples.data()), int32_t(w * channels * sizeof(T)));
  }
  int width, height, channels;
  std::vector<T> samples;
  RowBuffer rows;
};

template <class T>
int BlurOf(Buffer<T>& b, double radius, bool directOnly = false, const uint8_t* mask = nullptr,
           Abort_Tester* abort = nullptr) {
  int32_t err = -99;
  Blur(err, b.rows, radius, abort, directOnly, mask, nullptr, 0, 1);
  return err;
}

// The blur by its definition: each pass a sum over every weight, lines read
// round their circle or with their end samples repeated; bytes rounded once,
// after both passes.
template <class T>
std::vector<double> Defined(const Buffer<T>& b, double radius, bool circular) {
  const double s = 2 / (radius + 1);
  std::vector<double> w;
  if (circular) {
    for (int i = 0; s * i < 7.0; ++i) w.push_back(std::exp(-(s * i) * (s * i)));
  } else {
    for (float v : BlurKernel(radius)) w.push_back(v);
  }
  double sum = w[0];
  for (size_t i = 1; i < w.size(); ++i) sum += 2 * w[i];
  std::vector<double> v(b.samples.begin(), b.samples.end()), t(v.size());
  const int half = int(w.size()) - 1, C = b.channels;
  for (int pass = 0; pass < 2; ++pass) {
    const int n = pass == 0 ? b.width : b.height;
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x)
        for (int c = 0; c < C; ++c) {
          double acc = 0;
          for (int d = -half; d <= half; ++d) {
            int i = (pass == 0 ? x : y) + d;
            i = circular ? ((i % n) + n) % n : std::clamp(i, 0, n - 1);
            acc += w[size_t(std::abs(d))] / sum * v[(size_t(pass == 0 ? y : i) * b.width + (pass == 0 ? i : x)) * C + c];
          }
          const bool round = std::is_same_v<T, uint8_t> && pass == 1;
          t[(size_t(y) * b.width + x) * C + c] = round ? std::floor(acc + 0.5) : acc;
        }
    v.swap(t);
  }
  return v;
}

template <class T>
double Worst(const Buffer<T>& b, const std::vector<double>& expected) {
  double worst = 0;
  for (size_t i = 0; i < expected.size(); ++i) worst = std::max(worst, std::abs(double(b.samples[i]) - expected[i]));
  return worst;
}

template <class T>
void Scatter(Buffer<T>& b, double peak) {
  for (size_t i = 0; i < b.samples.size(); ++i)
    b.samples[i] = T(((i * 2654435761u) >> 24 ^ (i / 400 % 2 ? 255 : 0)) % 256 * peak / 255);
}

TEST(Blur, BytesFollowTheDefinitionOnBothSidesOfTheSwitch) {
  // Sizes with small factors are transformed as they are; 53 and 37 are
  // carried round their circles into longer transforms.
  struct Case {
    int w, h;
    double radius;
    bool circular;
  };
  for (const Case c : {Case{53, 37, 4.0, false}, Case{53, 37, 30.0, false}, Case{53, 37, 31.0, true},
                       Case{60, 45, 45.0, true}, Case{40, 30, 300.0, true}}) {
    Buffer<uint8_t> b(c.w, c.h, 3);
    Scatter(b, 255);
    const std::vector<double> expected = Defined(b, c.radius, c.circular);
    ASSERT_EQ(BlurOf(b, c.radius), 0);
    EXPECT_LE(Worst(b, expected), 1.0) << c.w << " x " << c.h << ", radius " << c.radius;
  }
}

TEST(Blur, FloatsFollowTheDefinitionOnBothSidesOfTheSwitch) {
  // Floats turn to the transform above 16; a radius far beyond the buffer
  // wraps the Gaussian round it many times.
  for (const double radius : {5.0, 16.0, 17.0, 90.0, 1000.0}) {
    Buffer<float> b(61, 34, 1);
    Scatter(b, 1500.0);
    const std::vector<double> expected = Defined(b, radius, radius > 16.0);
    const Buffer<float> source = b;
    ASSERT_EQ(BlurOf(b, radius), 0);
    EXPECT_LE(Worst(b, expected), 0.02) << radius;
    if (radius > kFloatBlurTransformAbove) continue;
    // Streamed, a band of rows comes out as the whole buffer's, to the bit,
    // having asked only for the rows within reach.
    const size_t width = size_t(b.width);
    int32_t asked = 0, handed = 0;
    const int32_t err = BlurFloatRows(
        b.width, b.height, 1, radius, 9, 20,
        [&](int32_t y, float* row) { ++asked, std::copy_n(&source.samples[size_t(y) * width], width, row); },
        [&](int32_t y, const float* row) {
          ++handed;
          return std::equal(row, row + width, &b.samples[size_t(y) * width]) ? 0 : 100 + y;
        },
        nullptr, nullptr, 0, 1);
    EXPECT_EQ(err, 0) << radius;
    EXPECT_EQ(handed, 11);
    EXPECT_EQ(asked, std::min(b.height, 20 + int32_t(BlurKernel(radius).size()) - 1) -
                         std::max(0, 9 - int32_t(BlurKernel(radius).size()) + 1));
  }
  Buffer<double> wrong(4, 4, 1);
  EXPECT_EQ(BlurOf(wrong, 3.0), -1) << "samples of another size";
}

TEST(Blur, EveryVectorPathGivesTheSameBytes) {
  std::vector<uint8_t> first;
  test::ForEachVectorPath([&](int path) {
    std::vector<uint8_t> all;
    // Both methods, with and without the mask; floats through the transform.
    for (const double radius : {1.5, 4.0, 30.0, 45.0}) {
      Buffer<uint8_t> b(67, 23, 4);
      Scatter(b, 255);
      std::vector<uint8_t> mask(67 * 23);
      for (size_t i = 0; i < mask.size(); ++i) mask[i] = uint8_t(i * 7);
      EXPECT_EQ(BlurOf(b, radius, radius < 2, radius < 2 ? mask.data() : nullptr), 0);
      all.insert(all.end(), b.samples.begin(), b.samples.end());
    }
    Buffer<float> f(61, 34, 1);
    Scatter(f, 1500.0);
    EXPECT_EQ(BlurOf(f, 90.0), 0);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(f.samples.data());
    all.insert(all.end(), bytes, bytes + f.samples.size() * sizeof(float));
    if (path == 0) first = all;
    EXPECT_EQ(all, first) << "path " << path;
  });
}

TEST(Blur, MaskBlendsAndNothingHappensAtRadiusZero) {
  Buffer<uint8_t> b(20, 1, 1);
  for (int x = 0; x < 20; ++x) b.samples[size_t(x)] = x % 2 ? 255 : 0;
  const std::vector<uint8_t> before = b.samples;
  EXPECT_EQ(BlurOf(b, 0.0), 0);
  EXPECT_EQ(b.samples, before);

  std::vector<uint8_t> mask(20, 0);
  for (int x = 10; x < 20; ++x) mask[size_t(x)] = 255;
  ASSERT_EQ(BlurOf(b, 3.0, true, mask.data()), 0);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(b.samples[size_t(x)], before[size_t(x)]) << x;
  for (int x = 11; x < 19; ++x) EXPECT_NEAR(b.samples[size_t(x)], 128, 40) << x;
}

TEST(Blur, StopsWhenAsked) {
  struct Always final : Abort_Tester {
    bool ShouldAbort() override { return true; }
  } stop;
  for (double radius : {5.0, 60.0}) {
    Buffer<uint8_t> b(50, 50, 1);
    EXPECT_EQ(BlurOf(b, radius, false, nullptr, &stop), 1) << radius;
  }
}

}  // namespace
}  // namespace kv
