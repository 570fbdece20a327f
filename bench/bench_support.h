// Shared pieces of the benchmarks: the two image sizes every effect is
// measured at, and the counters they report.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "tests/effects/effect_harness.h"

namespace kv::bench {

// A full 4000 x 3000 render and a preview-sized 800 x 600 one.
inline constexpr int kFullWidth = 4000, kFullHeight = 3000;
inline constexpr int kPreviewWidth = 800, kPreviewHeight = 600;

// Megapixels per second over the iterations, and the process's peak
// resident memory as a multiple of the picture's own bytes.
void ReportPixels(benchmark::State& state, const test::Picture& picture);

// Renders effect `effect` over the whole picture in one piece, as the render
// driver hands it one tile, at its defaults changed by `edit`, once per
// iteration; the picture and the host are set up once, outside the timing.
// `own/image` is the render's own peak memory beyond the picture, its input
// and output and the host's copy, as a multiple of the picture's bytes: the
// process's peak less what was resident before the first render, so it holds
// for a benchmark run in a process of its own.
// A `selection` (width * height bytes) is handed over as in the harness.
void RenderEffect(benchmark::State& state, int32_t effect, int width, int height, const test::BlockEdit& edit = {},
                  std::vector<uint8_t> selection = {});

// Processor time of the calling thread, in seconds.
double ThreadSeconds();
// Our side of a comparison: the seconds per iteration of the loop just run,
// kept under `name`. The yardstick's side, run later in the same process,
// reports `ours/this`: the median of our kept times over its own.
void KeepOurs(const std::string& name, double secondsPerIteration);
void CompareWithOurs(benchmark::State& state, const std::string& name, double secondsPerIteration);

}  // namespace kv::bench
