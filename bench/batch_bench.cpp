// A batch as a user runs it: kalvero over 32 pictures of 2000 x 1500, whole
// process from start to exit, with one job and with two. Each image is read,
// rendered by Television at its defaults and written as PNG.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace kv::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kImages = 32;

// Drawn once, then copied: every image costs the same.
const fs::path& Inputs() {
  static const fs::path folder = [] {
    const fs::path dir = fs::temp_directory_path() / "kalvero-batch-bench";
    fs::create_directories(dir / "in");
    const fs::path first = dir / "in" / "frame00.png";
    const std::string draw = std::string(KV_MAKE_SAMPLES) + " --landscape 2000 1500 " + first.string();
    if (std::system(draw.c_str()) != 0) throw std::runtime_error("cannot draw the batch's pictures");
    for (int i = 1; i < kImages; ++i) {
      const std::string name = (i < 10 ? "frame0" : "frame") + std::to_string(i) + ".png";
      fs::copy_file(first, dir / "in" / name, fs::copy_options::overwrite_existing);
    }
    return dir;
  }();
  return folder;
}

// Of every child process that has ended: kalvero and its jobs.
double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void Batch(benchmark::State& state) {
  const fs::path& dir = Inputs();
  const std::string command = "XDG_CONFIG_HOME=" + (dir / "config").string() + " " + KV_KALVERO + " apply television " +
                              (dir / "in").string() + " --output-dir " + (dir / "out").string() +
                              " --overwrite -q --jobs " + std::to_string(state.range(0)) + " 2>/dev/null";
  const double cpuBefore = ChildrenCpuSeconds();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("the batch failed");
  state.counters["images/s"] =
      benchmark::Counter(double(kImages) * double(state.iterations()), benchmark::Counter::kIsRate);
  // What the machine's other work cannot change: processor time per image.
  state.counters["cpu s/image"] = (ChildrenCpuSeconds() - cpuBefore) / (double(kImages) * double(state.iterations()));
}

BENCHMARK(Batch)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

}  // namespace
}  // namespace kv::bench
