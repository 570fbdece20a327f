// `kalvero apply lightning` on a 4000 x 3000 picture as a user runs it,
// PNG to PNG and TIFF to TIFF: the whole process from start to exit, and
// its reading, rendering and writing apart, in this process through the
// same code and the core kalvero loads. For PNG, `vips copy` of the same
// file is the yardstick when libvips' tools are installed: a reader and a
// writer that do nothing else.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/cli/image_files.h"
#include "hosts/common/core_library.h"
#include "hosts/common/effect_values.h"
#include "hosts/common/filter_host.h"

namespace kv::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path& Folder() {
  static const fs::path folder = [] {
    const fs::path dir = fs::temp_directory_path() / "kalvero-apply-bench";
    fs::create_directories(dir);
    const std::string draw = std::string(KV_MAKE_SAMPLES) + " --landscape 4000 3000 " + (dir / "in.png").string();
    if (std::system(draw.c_str()) != 0) throw std::runtime_error("cannot draw the picture");
    cli::WriteImage(cli::ReadImage(dir / "in.png", {}), dir / "in.tif");
    return dir;
  }();
  return folder;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of the child processes that have ended, all threads.
double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
  double wall, cpu;
};

Timing TimeCommand(const std::string& command) {
  const Clock::time_point start = Clock::now();
  const double cpu = ChildrenCpuSeconds();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return {Seconds(start), ChildrenCpuSeconds() - cpu};
}

void Apply(benchmark::State& state, const char* extension) {
  const fs::path dir = Folder();
  const fs::path in = dir / (std::string("in.") + extension), out = dir / (std::string("out.") + extension);
  const host::CoreLibrary core(KV_CORE);
  std::string why;
  const host::DescribedEffect* lightning = core.Find("lightning", why);
  if (lightning == nullptr) throw std::runtime_error(why);
  const std::string kalvero = "XDG_CONFIG_HOME=" + (dir / "config").string() + " " + KV_KALVERO + " apply lightning " +
                              in.string() + " " + out.string() + " -q";
  const bool vips = extension == std::string("png") && std::system("command -v vips >/dev/null") == 0;

  std::vector<double> read, render, write, whole, wholeCpu, yardstick, yardstickCpu;
  for (auto _ : state) {
    const Timing process = TimeCommand(kalvero);
    whole.push_back(process.wall);
    wholeCpu.push_back(process.cpu);
    state.PauseTiming();
    Clock::time_point start = Clock::now();
    host::Document document = cli::ReadImage(in, {});
    read.push_back(Seconds(start));

    start = Clock::now();
    host::FilterHost filter(document, core.Entry(), lightning->description.number);
    const host::EffectValues values(*lightning, document.xResolution);
    filter.SetScript(values.Values());
    if (filter.Run(false) != 0) state.SkipWithError("the render failed");
    render.push_back(Seconds(start));

    start = Clock::now();
    cli::WriteImage(document, out);
    write.push_back(Seconds(start));
    if (vips) {
      const Timing copy = TimeCommand("vips copy " + in.string() + " " + (dir / "vips.png").string());
      yardstick.push_back(copy.wall);
      yardstickCpu.push_back(copy.cpu);
    }
    state.ResumeTiming();
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  state.counters["read s"] = median(read);
  state.counters["render s"] = median(render);
  state.counters["write s"] = median(write);
  state.counters["process s"] = median(whole);
  // On a busy machine the processor time says more than the clock.
  state.counters["process cpu s"] = median(wholeCpu);
  if (vips) {
    // The goal: the whole process within 1.2 times the copy, plus the render.
    state.counters["vips copy s"] = median(yardstick);
    state.counters["vips copy cpu s"] = median(yardstickCpu);
    state.counters["x vips"] = (median(whole) - median(render)) / median(yardstick);
  }
}

BENCHMARK_CAPTURE(Apply, png, "png")->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(Apply, tiff, "tif")->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace kv::bench
