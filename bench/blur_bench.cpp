// The Gaussian blur at the radii of its two methods, against OpenCV's
// GaussianBlur with the same taps when OpenCV is installed.
#include <cmath>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "image/blur.h"

#ifdef KV_HAVE_OPENCV
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace kv::bench {
namespace {

std::vector<uint8_t> Scattered(size_t count) {
  std::vector<uint8_t> pixels(count);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 2654435761u >> 24);
  return pixels;
}

void PerPixel(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(double(kFullWidth) * kFullHeight * 1e-6 * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

// 4000 x 3000 RGBA: radius 5 (9 taps) and 30 (47 taps) directly, 150 by
// transforms.
void BM_Blur(benchmark::State& state) {
  const double radius = double(state.range(0));
  std::vector<uint8_t> pixels = Scattered(size_t(kFullWidth) * kFullHeight * 4);
  RowBuffer rows;
  rows.channels = 4;
  rows.Attach({0, 0, kFullWidth, kFullHeight}, pixels.data(), kFullWidth * 4);
  state.SetLabel(std::to_string(2 * BlurKernel(radius).size() - 1) + " taps");
  const double start = ThreadSeconds();
  for (auto _ : state) {
    int32_t err = 0;
    Blur(err, rows, radius, nullptr, false, nullptr, nullptr, 0, 1);
    benchmark::DoNotOptimize(pixels.data());
  }
  KeepOurs("blur " + std::to_string(state.range(0)), (ThreadSeconds() - start) / double(state.iterations()));
  PerPixel(state);
}
BENCHMARK(BM_Blur)->Arg(5)->Arg(30)->Arg(150)->Unit(benchmark::kMillisecond);

// One channel of floats, as the arcs' glow is blurred: 214 is the radius of
// Lightning's glow at its defaults over this picture.
void BM_BlurFloat(benchmark::State& state) {
  const double radius = double(state.range(0));
  std::vector<float> samples(size_t(kFullWidth) * kFullHeight);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i * 2654435761u >> 24);
  RowBuffer rows;
  rows.bytesPerChannel = int32_t(sizeof(float));
  rows.Attach({0, 0, kFullWidth, kFullHeight}, reinterpret_cast<uint8_t*>(samples.data()),
              kFullWidth * int32_t(sizeof(float)));
  for (auto _ : state) {
    int32_t err = 0;
    Blur(err, rows, radius, nullptr, false, nullptr, nullptr, 0, 1);
    benchmark::DoNotOptimize(samples.data());
  }
  PerPixel(state);
}
BENCHMARK(BM_BlurFloat)->Arg(16)->Arg(214)->Unit(benchmark::kMillisecond);

#ifdef KV_HAVE_OPENCV
// OpenCV on one thread, with the taps of our cut kernel and its standard
// deviation, edges repeated.
void OpenCvGaussianBlur(benchmark::State& state) {
  const double radius = double(state.range(0));
  const int taps = int(2 * BlurKernel(radius).size() - 1);
  const double sigma = (radius + 1) / (2 * std::sqrt(2.0));
  std::vector<uint8_t> pixels = Scattered(size_t(kFullWidth) * kFullHeight * 4);
  const cv::Mat src(kFullHeight, kFullWidth, CV_8UC4, pixels.data());
  cv::Mat dst;
  cv::setNumThreads(1);
  state.SetLabel(std::to_string(taps) + " taps");
  const double start = ThreadSeconds();
  for (auto _ : state) {
    cv::GaussianBlur(src, dst, cv::Size(taps, taps), sigma, sigma, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(dst.data);
  }
  CompareWithOurs(state, "blur " + std::to_string(state.range(0)),
                  (ThreadSeconds() - start) / double(state.iterations()));
  PerPixel(state);
}
BENCHMARK(OpenCvGaussianBlur)->Arg(5)->Arg(30)->Arg(150)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace kv::bench
