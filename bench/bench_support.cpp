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

void RenderEffect(benchmark::State& state, int32_t effect, int width, int height, const test::BlockEdit& edit) {
  const test::Picture picture = test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true);
  test::HostRender how;
  how.edit = edit;
  for (auto _ : state) {
    int16_t error = 0;
    test::Picture out = test::RenderThroughHost(effect, picture, how, &error);
    if (error != 0) {
      state.SkipWithError("the render failed");
      return;
    }
    benchmark::DoNotOptimize(out.pixels.data());
  }
  ReportPixels(state, picture);
}

}  // namespace kv::bench
