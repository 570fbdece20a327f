// Crumple and Rip Open at their defaults, at the full and the preview size.
// Rip Open keeps its full-size result while its values stay, so each of its
// iterations starts from a fresh effect object (made outside the timing).
#include "bench/bench_support.h"
#include "effects/crumple/crumple.h"
#include "effects/rip_open/rip_open.h"

namespace kv::bench {
namespace {

void CrumpleFull(benchmark::State& state) { RenderEffect(state, kCrumpleEffect, kFullWidth, kFullHeight); }
void CrumplePreview(benchmark::State& state) { RenderEffect(state, kCrumpleEffect, kPreviewWidth, kPreviewHeight); }

void RipOpen(benchmark::State& state, int width, int height, std::vector<uint8_t> selection = {}) {
  test::DirectRender render(kRipOpenEffect, test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true), 1.0,
                            test::BlockEdit{}, std::move(selection));
  for (auto _ : state) {
    state.PauseTiming();
    render.Restart();
    state.ResumeTiming();
    if (!render.Run()) {
      state.SkipWithError("the render failed");
      return;
    }
  }
  ReportPixels(state, render.Output());
}
void RipOpenFull(benchmark::State& state) { RipOpen(state, kFullWidth, kFullHeight); }
void RipOpenPreview(benchmark::State& state) { RipOpen(state, kPreviewWidth, kPreviewHeight); }
void RipOpenFullOval(benchmark::State& state) {
  RipOpen(state, kFullWidth, kFullHeight, test::OvalSelection(kFullWidth, kFullHeight));
}

BENCHMARK(CrumpleFull)->Unit(benchmark::kMillisecond);
BENCHMARK(CrumplePreview)->Unit(benchmark::kMillisecond);
BENCHMARK(RipOpenFull)->Unit(benchmark::kMillisecond);
BENCHMARK(RipOpenPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(RipOpenFullOval)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
