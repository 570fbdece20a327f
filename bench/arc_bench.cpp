// Lightning and Electrify at their defaults, at the full and the preview
// size; Electrify around an oval selection, and Lightning with its widest
// glow and a long bolt, which blurs over the largest radius.
#include "bench/bench_support.h"
#include "effects/electrify/electrify.h"
#include "effects/lightning/lightning.h"

namespace kv::bench {
namespace {

void LightningFull(benchmark::State& state) { RenderEffect(state, kLightningEffect, kFullWidth, kFullHeight); }
void LightningPreview(benchmark::State& state) {
  RenderEffect(state, kLightningEffect, kPreviewWidth, kPreviewHeight);
}
void LightningWidestGlow(benchmark::State& state) {
  RenderEffect(state, kLightningEffect, kFullWidth, kFullHeight, [](void* block) {
    auto& b = *static_cast<LightningBlock*>(block);
    b.glowWidth = b.glowOpacity = b.flashSize = b.arcThickness = 100.0;
    b.origin = {0.0, 0.0};
    b.destination = {1.0, 1.0};
  });
}

void ElectrifyFull(benchmark::State& state) {
  RenderEffect(state, kElectrifyEffect, kFullWidth, kFullHeight, {}, test::OvalSelection(kFullWidth, kFullHeight));
}
void ElectrifyPreview(benchmark::State& state) {
  RenderEffect(state, kElectrifyEffect, kPreviewWidth, kPreviewHeight, {}, test::OvalSelection(kPreviewWidth, kPreviewHeight));
}

BENCHMARK(LightningFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LightningPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(LightningWidestGlow)->Unit(benchmark::kMillisecond);
BENCHMARK(ElectrifyFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ElectrifyPreview)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
