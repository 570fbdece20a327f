// Rirazi Vevora Didura at its defaults (Wispy clouds in perspective over a
// painted sky), at the full and the preview size, and each other character;
// and the scattered-point form of the fractal field its Wispy clouds lean on.
#include <cmath>
#include <vector>

#include "bench/bench_support.h"
#include "effects/rirazi_vevora_didura/cloud.h"
#include "image/noise.h"

namespace kv::bench {
namespace {

void CloudsFull(benchmark::State& state) { RenderEffect(state, kCloudEffect, kFullWidth, kFullHeight); }
void CloudsPreview(benchmark::State& state) { RenderEffect(state, kCloudEffect, kPreviewWidth, kPreviewHeight); }

void CloudsCharacter(benchmark::State& state) {
  const int32_t mode = int32_t(state.range(0));
  const bool perspective = state.range(1) != 0;
  RenderEffect(state, kCloudEffect, kFullWidth, kFullHeight, [mode, perspective](void* block) {
    auto& b = *static_cast<CloudBlock*>(block);
    b.cloudMode = mode;
    b.perspective = perspective;
  });
}

// Points along a wavy path, as the Wispy warp scatters them: no two on a row.
void FbmScatteredPoints(benchmark::State& state) {
  FBMField field;
  int32_t err = 0;
  field.Init(err, {99.2, 99.2}, 1.0, 7, 0.5, 1.0, false, 0, 0);
  constexpr int kCount = 4000;
  std::vector<double> xs(kCount), ys(kCount), out(kCount);
  for (int i = 0; i < kCount; ++i) {
    xs[size_t(i)] = 0.083 * i + 20.0 * std::sin(i * 0.01);
    ys[size_t(i)] = 1000.0 + 30.0 * std::cos(i * 0.013);
  }
  for (auto _ : state) {
    if (state.range(0) != 0) {
      field.ValuesAt(xs.data(), ys.data(), kCount, out.data());
    } else {
      for (int i = 0; i < kCount; ++i) out[size_t(i)] = field.Value(PointD{xs[size_t(i)], ys[size_t(i)]});
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(kCount * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(FbmScatteredPoints)->ArgName("pairs")->Arg(0)->Arg(1);
BENCHMARK(CloudsFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(CloudsPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(CloudsCharacter)
    ->ArgNames({"mode", "perspective"})
    ->Args({kCloudFluffy, 1})
    ->Args({kCloudPuffy, 1})
    ->Args({kCloudWispy, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
