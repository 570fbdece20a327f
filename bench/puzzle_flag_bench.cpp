// Puzzle and Flag at their defaults, at the full and the preview size. Flag
// computes its whole result once and keeps it: its full-size figure changes
// the seed every time so that each iteration computes, and its preview is
// the reduction of a result already computed, as in the dialog.
#include "bench/bench_support.h"
#include "effects/flag/flag.h"
#include "effects/puzzle/puzzle.h"

namespace kv::bench {
namespace {

void PuzzleFull(benchmark::State& state) { RenderEffect(state, kPuzzleEffect, kFullWidth, kFullHeight); }
void PuzzlePreview(benchmark::State& state) { RenderEffect(state, kPuzzleEffect, kPreviewWidth, kPreviewHeight); }

void FlagFull(benchmark::State& state) {
  test::DirectRender render(kFlagEffect, test::TestPicture(kFullWidth, kFullHeight, ps::plugInModeRGBColor, 3, true),
                            1.0);
  auto& block = *static_cast<FlagBlock*>(render.Block());
  for (auto _ : state) {
    ++block.randomSeed;
    if (!render.Run()) return state.SkipWithError("the render failed");
    benchmark::DoNotOptimize(render.Output().pixels.data());
  }
  ReportPixels(state, render.Output());
}

// The dialog's view of the whole image at a fifth: the full-size result is
// computed before the timing starts.
void FlagPreview(benchmark::State& state) {
  const test::Picture preview = test::TestPicture(kPreviewWidth, kPreviewHeight, ps::plugInModeRGBColor, 3, true);
  test::DirectRender render(kFlagEffect, preview, double(kFullWidth) / kPreviewWidth);
  if (!render.Run()) return state.SkipWithError("the render failed");
  for (auto _ : state) {
    if (!render.Run()) return state.SkipWithError("the render failed");
    benchmark::DoNotOptimize(render.Output().pixels.data());
  }
  ReportPixels(state, preview);
}

BENCHMARK(PuzzleFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PuzzlePreview)->Unit(benchmark::kMillisecond);
BENCHMARK(FlagFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(FlagPreview)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
