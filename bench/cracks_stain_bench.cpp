// Cracks and Stain at their defaults, at the full and the preview size, over
// the whole picture and around an oval selection.
#include "bench/bench_support.h"
#include "effects/cracks/cracks.h"
#include "effects/stain/stain.h"

namespace kv::bench {
namespace {

void CracksFull(benchmark::State& state) { RenderEffect(state, kCracksEffect, kFullWidth, kFullHeight); }
void CracksPreview(benchmark::State& state) { RenderEffect(state, kCracksEffect, kPreviewWidth, kPreviewHeight); }
void CracksFullOval(benchmark::State& state) {
  RenderEffect(state, kCracksEffect, kFullWidth, kFullHeight, {}, test::OvalSelection(kFullWidth, kFullHeight));
}
void StainFull(benchmark::State& state) { RenderEffect(state, kStainEffect, kFullWidth, kFullHeight); }
void StainPreview(benchmark::State& state) { RenderEffect(state, kStainEffect, kPreviewWidth, kPreviewHeight); }
void StainFullOval(benchmark::State& state) {
  RenderEffect(state, kStainEffect, kFullWidth, kFullHeight, {}, test::OvalSelection(kFullWidth, kFullHeight));
}
BENCHMARK(CracksFull)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksFullOval)->Unit(benchmark::kMillisecond);
BENCHMARK(StainFull)->Unit(benchmark::kMillisecond);
BENCHMARK(StainPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(StainFullOval)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
