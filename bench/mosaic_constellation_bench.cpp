// Classic Mosaic and Constellation at their defaults, at the full and the
// preview size. Both compute the whole picture once and keep it while the
// values stay, so every iteration renders with a fresh effect; setting it up
// is left out of the timing.
#include "bench/bench_support.h"
#include "effects/classic_mosaic/classic_mosaic.h"
#include "effects/constellation/constellation.h"

namespace kv::bench {
namespace {

void RenderFresh(benchmark::State& state, int32_t effect, int width, int height,
                 const std::vector<uint8_t>& selection = {}) {
  const test::Picture picture = test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true);
  for (auto _ : state) {
    state.PauseTiming();
    test::DirectRender render(effect, picture, 1.0, {}, selection);
    state.ResumeTiming();
    if (!render.Run()) {
      state.SkipWithError("the render failed");
      return;
    }
    benchmark::DoNotOptimize(render.Output().pixels.data());
  }
  ReportPixels(state, picture);
}

void MosaicFull(benchmark::State& state) { RenderFresh(state, kClassicMosaicEffect, kFullWidth, kFullHeight); }
void MosaicPreview(benchmark::State& state) {
  RenderFresh(state, kClassicMosaicEffect, kPreviewWidth, kPreviewHeight);
}
void MosaicFullOval(benchmark::State& state) {
  RenderFresh(state, kClassicMosaicEffect, kFullWidth, kFullHeight, test::OvalSelection(kFullWidth, kFullHeight));
}
void ConstellationFull(benchmark::State& state) {
  RenderFresh(state, kConstellationEffect, kFullWidth, kFullHeight);
}
void ConstellationPreview(benchmark::State& state) {
  RenderFresh(state, kConstellationEffect, kPreviewWidth, kPreviewHeight);
}

BENCHMARK(MosaicFull)->Unit(benchmark::kMillisecond);
BENCHMARK(MosaicPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(MosaicFullOval)->Unit(benchmark::kMillisecond);
BENCHMARK(ConstellationFull)->Unit(benchmark::kMillisecond);
BENCHMARK(ConstellationPreview)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
