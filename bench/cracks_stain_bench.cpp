// Cracks and Stain at their defaults, at the full and the preview size, over
// the whole picture and around an oval selection; and the dialog's preview
// of a full-size picture with an oval selection, shown whole at a fifth.
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
// A network over the whole picture, as the shipped Dried Mud gives: every
// pixel is near a crack.
void CracksFullNetwork(benchmark::State& state) {
  RenderEffect(state, kCracksEffect, kFullWidth, kFullHeight, [](void* block) {
    auto& b = *static_cast<CracksBlock*>(block);
    b.crackLength = {30.0, kUnitCentimeters};
    b.crackSpacing = {3.0, kUnitCentimeters};
    b.crackWidth = {0.3, kUnitCentimeters};
    b.crackDepth = 60.0;
    b.edgeRoughness = 40.0;
  });
}
void StainFull(benchmark::State& state) { RenderEffect(state, kStainEffect, kFullWidth, kFullHeight); }
void StainPreview(benchmark::State& state) { RenderEffect(state, kStainEffect, kPreviewWidth, kPreviewHeight); }
void StainFullOval(benchmark::State& state) {
  RenderEffect(state, kStainEffect, kFullWidth, kFullHeight, {}, test::OvalSelection(kFullWidth, kFullHeight));
}
void PreviewOfFull(benchmark::State& state, int32_t effect) {
  const test::Picture reduced = test::TestPicture(kPreviewWidth, kPreviewHeight, ps::plugInModeRGBColor, 3, true);
  test::DirectRender render(effect, reduced, double(kFullWidth) / kPreviewWidth, {},
                            test::OvalSelection(kFullWidth, kFullHeight));
  for (auto _ : state)
    if (!render.Run()) state.SkipWithError("the render failed");
  ReportPixels(state, reduced);
}
void CracksPreviewOfFull(benchmark::State& state) { PreviewOfFull(state, kCracksEffect); }
void StainPreviewOfFull(benchmark::State& state) { PreviewOfFull(state, kStainEffect); }

BENCHMARK(CracksFull)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksFullOval)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksFullNetwork)->Unit(benchmark::kMillisecond);
BENCHMARK(StainFull)->Unit(benchmark::kMillisecond);
BENCHMARK(StainPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(StainFullOval)->Unit(benchmark::kMillisecond);
BENCHMARK(CracksPreviewOfFull)->Unit(benchmark::kMillisecond);
BENCHMARK(StainPreviewOfFull)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
