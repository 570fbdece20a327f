#include "bench/bench_support.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "image/vector_kernels.h"

namespace kv::bench {

namespace {

double PeakBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024.0;
}

double ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// KV_BENCH_VECTOR_PATH=baseline|avx2|avx512 measures a narrower path than
// the processor's best.
const bool kPathChosen = [] {
  const char* path = std::getenv("KV_BENCH_VECTOR_PATH");
  if (path == nullptr) return false;
  const std::string p = path;
  UseVectorPath(p == "baseline" ? VectorPath::kBaseline : p == "avx2" ? VectorPath::kAvx2 : VectorPath::kAvx512);
  return true;
}();

}  // namespace

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

namespace {
std::map<std::string, std::vector<double>>& Ours() {
  static std::map<std::string, std::vector<double>> kept;
  return kept;
}
}  // namespace

void KeepOurs(const std::string& name, double secondsPerIteration) { Ours()[name].push_back(secondsPerIteration); }

void CompareWithOurs(benchmark::State& state, const std::string& name, double secondsPerIteration) {
  std::vector<double> ours = Ours()[name];
  if (ours.empty() || !(secondsPerIteration > 0.0)) return;
  std::nth_element(ours.begin(), ours.begin() + ptrdiff_t(ours.size() / 2), ours.end());
  state.counters["ours/this"] = ours[ours.size() / 2] / secondsPerIteration;
}

void ReportPixels(benchmark::State& state, const test::Picture& picture) {
  const double pixels = double(picture.width) * picture.height;
  state.counters["MP/s"] = benchmark::Counter(pixels * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["peak/image"] = PeakBytes() / double(picture.pixels.size());
}

void RenderEffect(benchmark::State& state, int32_t effect, int width, int height, const test::BlockEdit& edit,
                  std::vector<uint8_t> selection) {
  // The picture goes straight to the harness's host: nothing here keeps a
  // copy a real host would not have.
  test::DirectRender render(effect, test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true), 1.0, edit,
                            std::move(selection));
  const test::Picture& picture = render.Output();
  const double before = ResidentBytes();
  for (auto _ : state) {
    if (!render.Run()) {
      state.SkipWithError("the render failed");
      return;
    }
    benchmark::DoNotOptimize(render.Output().pixels.data());
  }
  ReportPixels(state, picture);
  state.counters["own/image"] = (PeakBytes() - before) / double(picture.pixels.size());
}

}  // namespace kv::bench
