#include "bench/bench_support.h"

#include <sys/resource.h>

namespace kv::bench {

void ReportPixels(benchmark::State& state, const test::Picture& picture) {
  const double pixels = double(picture.width) * picture.height;
  state.counters["MP/s"] = benchmark::Counter(pixels * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peak = double(usage.ru_maxrss) * 1024.0;
  state.counters["peak/image"] = peak / double(picture.pixels.size());
}

void RenderEffect(benchmark::State& state, int32_t effect, int width, int height, const test::BlockEdit& edit,
                  const std::vector<uint8_t>& selection) {
  const test::Picture picture = test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true);
  test::DirectRender render(effect, picture, 1.0, edit, selection);
  for (auto _ : state) {
    if (!render.Run()) {
      state.SkipWithError("the render failed");
      return;
    }
    benchmark::DoNotOptimize(render.Output().pixels.data());
  }
  ReportPixels(state, picture);
}

}  // namespace kv::bench
