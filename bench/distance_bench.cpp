// The distance transform on a large mask, against an exact Euclidean
// transform in the same run (OpenCV's when it is installed, otherwise a plain
// separable one written here), the precision bevel on the same front, and
// Burnt Edges, which runs two transforms.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "bench/bench_support.h"
#include "effects/burnt_edges/burnt_edges.h"
#include "image/bevel.h"
#include "image/distance.h"
#include "image/random.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace kv::bench {
namespace {

// 4000 x 3000: one large soft-edged ellipse and two thousand small discs
// scattered over the whole picture, inside it and outside.
const ByteMask& BenchMask() {
  static const ByteMask mask = [] {
    int32_t err = 0;
    ByteMask m(err, {0, 0, kFullWidth, kFullHeight});
    const double cx = 0.45 * kFullWidth, cy = 0.5 * kFullHeight, a = 0.35 * kFullWidth, b = 0.38 * kFullHeight;
    for (int32_t y = 0; y < kFullHeight; ++y)
      for (int32_t x = 0; x < kFullWidth; ++x) {
        const double u = (x - cx) / a, v = (y - cy) / b;
        m(x, y) = uint8_t(std::clamp(128.0 + 64.0 * (1.0 - std::sqrt(u * u + v * v)) * a, 0.0, 255.0));
      }
    RandomNumberGenerator rng(17);
    for (int i = 0; i < 2000; ++i) {
      const double x0 = rng.Uniform(kFullWidth), y0 = rng.Uniform(kFullHeight), r = rng.Uniform(2.0, 15.0);
      const uint8_t value = rng.Chance(0.5) ? 255 : 0;
      for (int32_t y = std::max(0, int32_t(y0 - r)); y < std::min(kFullHeight, int32_t(y0 + r) + 1); ++y)
        for (int32_t x = std::max(0, int32_t(x0 - r)); x < std::min(kFullWidth, int32_t(x0 + r) + 1); ++x)
          if (std::hypot(x - x0, y - y0) <= r) m(x, y) = value;
    }
    return m;
  }();
  return mask;
}

// Keeps the signed distance of every pixel, as an effect would.
class DistanceImage final : public DistanceTransform {
 public:
  explicit DistanceImage(double limit) : limit_(limit), out_(size_t(kFullWidth) * kFullHeight) {}
  void Reached(Point p, PointD, double d) override { out_[size_t(p.y) * kFullWidth + p.x] = float(d); }
  void UnreachedInside(Point p) override { out_[size_t(p.y) * kFullWidth + p.x] = float(-limit_); }
  void UnreachedOutside(Point p) override { out_[size_t(p.y) * kFullWidth + p.x] = float(limit_); }
  const float* Data() const { return out_.data(); }

 private:
  double limit_;
  std::vector<float> out_;
};

void FrontPropagation(benchmark::State& state) {
  const ByteMask& mask = BenchMask();
  const double limit = double(state.range(0));
  const double start = ThreadSeconds();
  for (auto _ : state) {
    DistanceImage t(limit);
    int32_t err = 0;
    t.Init(err, mask, limit, mask.bounds, 0.0, 1.0);
    if (err == 0) t.Run(err, nullptr, nullptr, 0.0, 1.0);
    if (err != 0) {
      state.SkipWithError("the transform failed");
      return;
    }
    benchmark::DoNotOptimize(t.Data());
  }
  KeepOurs("front " + std::to_string(state.range(0)), (ThreadSeconds() - start) / double(state.iterations()));
  state.counters["MP/s"] =
      benchmark::Counter(double(kFullWidth) * kFullHeight * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}
// 5000 reaches every pixel, as a full transform does.
BENCHMARK(FrontPropagation)->Arg(32)->Arg(5000)->Unit(benchmark::kMillisecond);

// The bevel into the selection, keeping every distance as an effect would.
class BevelImage final : public Precision_Bevel {
 public:
  BevelImage() : out_(size_t(kFullWidth) * kFullHeight) {}
  void Reached(Point p, PointD, double d) override { out_[size_t(p.y) * kFullWidth + p.x] = float(d); }
  void UnreachedInside(Point p) override { out_[size_t(p.y) * kFullWidth + p.x] = float(maxDistance); }
  void UnreachedOutside(Point p) override { out_[size_t(p.y) * kFullWidth + p.x] = 0.0f; }
  const float* Data() const { return out_.data(); }

 private:
  std::vector<float> out_;
};

void PrecisionBevel(benchmark::State& state) {
  const ByteMask& mask = BenchMask();
  const double limit = double(state.range(0));
  for (auto _ : state) {
    BevelImage bevel;
    int32_t err = 0;
    bevel.Init(err, mask, limit, mask.bounds, true, 0.0, 1.0);
    if (err == 0) bevel.Run(err, nullptr, nullptr, 0.0, 1.0);
    if (err != 0) {
      state.SkipWithError("the bevel failed");
      return;
    }
    benchmark::DoNotOptimize(bevel.Data());
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(kFullWidth) * kFullHeight * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(PrecisionBevel)->Arg(32)->Arg(5000)->Unit(benchmark::kMillisecond);

#ifdef KV_HAVE_OPENCV
// Both sides, as the front propagation measures both: two exact transforms.
void OpenCvBothSides(benchmark::State& state) {
  const ByteMask& mask = BenchMask();
  const cv::Mat src(kFullHeight, kFullWidth, CV_8U, mask.data);
  cv::Mat inside, outside, dInside, dOutside;
  cv::threshold(src, inside, 127, 255, cv::THRESH_BINARY);
  cv::threshold(src, outside, 127, 255, cv::THRESH_BINARY_INV);
  cv::setNumThreads(1);
  const double start = ThreadSeconds();
  for (auto _ : state) {
    cv::distanceTransform(inside, dInside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::distanceTransform(outside, dOutside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    benchmark::DoNotOptimize(dInside.data);
    benchmark::DoNotOptimize(dOutside.data);
  }
  // Against the front reaching every pixel.
  CompareWithOurs(state, "front 5000", (ThreadSeconds() - start) / double(state.iterations()));
}
BENCHMARK(OpenCvBothSides)->Unit(benchmark::kMillisecond);
#endif

// The separable exact transform of Felzenszwalb and Huttenlocher over pixel
// centres: squared distances to the nearest pixel of the other side, column
// pass then row pass, for each side in turn. A yardstick only.
void LowerEnvelope(const float* f, int32_t n, float* d, int32_t* v, float* z) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const auto meet = [f](int32_t q, int32_t p) {
    return ((f[q] + float(q) * float(q)) - (f[p] + float(p) * float(p))) / (2.0f * float(q - p));
  };
  int32_t k = 0;
  v[0] = 0;
  z[0] = -kInf;
  z[1] = kInf;
  for (int32_t q = 1; q < n; ++q) {
    float s = meet(q, v[k]);
    while (s <= z[k]) s = meet(q, v[--k]);
    v[++k] = q;
    z[k] = s;
    z[k + 1] = kInf;
  }
  k = 0;
  for (int32_t q = 0; q < n; ++q) {
    while (z[k + 1] < float(q)) ++k;
    d[q] = float(q - v[k]) * float(q - v[k]) + f[v[k]];
  }
}

void SeparableExact(benchmark::State& state) {
  const ByteMask& mask = BenchMask();
  const int32_t w = kFullWidth, h = kFullHeight, n = std::max(w, h);
  constexpr float kFar = 1e20f;  // no pixel of the other side in this column
  std::vector<float> grid(size_t(w) * h), column(static_cast<size_t>(n)), result(static_cast<size_t>(n));
  std::vector<int32_t> v(static_cast<size_t>(n));
  std::vector<float> z(static_cast<size_t>(n) + 1);
  for (auto _ : state) {
    for (const bool side : {true, false}) {
      for (int32_t x = 0; x < w; ++x) {
        for (int32_t y = 0; y < h; ++y)
          column[size_t(y)] = (mask(x, y) > 127) == side ? kFar : 0.0f;
        LowerEnvelope(column.data(), h, result.data(), v.data(), z.data());
        for (int32_t y = 0; y < h; ++y) grid[size_t(y) * w + x] = result[size_t(y)];
      }
      for (int32_t y = 0; y < h; ++y) {
        float* row = grid.data() + size_t(y) * w;
        LowerEnvelope(row, w, result.data(), v.data(), z.data());
        for (int32_t x = 0; x < w; ++x) row[x] = std::sqrt(result[size_t(x)]);
      }
      benchmark::DoNotOptimize(grid.data());
    }
  }
}
BENCHMARK(SeparableExact)->Unit(benchmark::kMillisecond);

void BurntEdgesFull(benchmark::State& state) { RenderEffect(state, kBurntEdgesEffect, kFullWidth, kFullHeight); }
void BurntEdgesPreview(benchmark::State& state) {
  RenderEffect(state, kBurntEdgesEffect, kPreviewWidth, kPreviewHeight);
}
void BurntEdgesFullOval(benchmark::State& state) {
  RenderEffect(state, kBurntEdgesEffect, kFullWidth, kFullHeight, {}, test::OvalSelection(kFullWidth, kFullHeight));
}
BENCHMARK(BurntEdgesFull)->Unit(benchmark::kMillisecond);
BENCHMARK(BurntEdgesPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(BurntEdgesFullOval)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
