// Shatter at its defaults, full size and preview size; and the rendering
// library alone at 4000 x 3000: making the surface, drawing a few thousand
// textured triangles, and reading the surface back, with and without
// supersampling.
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "effects/shatter/shatter.h"
#include "g3d/opengl_library.h"

namespace kv::bench {
namespace {

// Processor time of the whole process, every thread: Mesa rasterises on
// threads of its own, which the benchmark's CPU column does not see.
double ProcessSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void Shatter(benchmark::State& state, int width, int height) {
  test::DirectRender render(kShatterEffect, test::TestPicture(width, height, ps::plugInModeRGBColor, 3, true), 1.0);
  double seconds = 0.0;
  for (auto _ : state) {
    const double before = ProcessSeconds();
    if (!render.Run()) return state.SkipWithError("the render failed");
    seconds += ProcessSeconds() - before;
  }
  ReportPixels(state, render.Output());
  state.counters["all threads ms"] = 1e3 * seconds / double(std::max<int64_t>(state.iterations(), 1));
}
void ShatterFull(benchmark::State& state) { Shatter(state, kFullWidth, kFullHeight); }
void ShatterPreview(benchmark::State& state) { Shatter(state, kPreviewWidth, kPreviewHeight); }

// A library with its surface, or the reason it has none.
struct Surface {
  explicit Surface(int32_t supersampling) {
    lib.Initialize(r, 0);
    if (!r.Succeeded()) return;
    lib.SetSupersampling(r, supersampling);
    lib.CreateSurface(r, kFullWidth, kFullHeight, image);
    if (r.Succeeded()) lib.SetDefaultState(r);
  }
  g3d::OpenGLRenderingLibrary lib;
  g3d::RLResult r;
  ByteImage* image = nullptr;
};

void G3dCreateSurface(benchmark::State& state) {
  for (auto _ : state) {
    Surface s(int32_t(state.range(0)));
    if (!s.r.Succeeded()) return state.SkipWithError("no OpenGL here");
  }
}

// 4096 textured, lit triangles in a grid over the whole view, as many as
// the pieces of a full-size Shatter have.
std::vector<g3d::Vertex> Grid() {
  std::vector<g3d::Vertex> v;
  constexpr int kCells = 64;
  for (int j = 0; j < kCells / 2; ++j)
    for (int i = 0; i < kCells; ++i) {
      const float x0 = -1.33f + 2.66f * i / kCells, x1 = -1.33f + 2.66f * (i + 1) / kCells;
      const float y0 = -1.0f + 4.0f * j / kCells, y1 = -1.0f + 4.0f * (j + 1) / kCells;
      v.emplace_back(x0, y0, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
      v.emplace_back(x1, y0, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f);
      v.emplace_back(x1, y1, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f);
      v.emplace_back(x0, y0, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
      v.emplace_back(x1, y1, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f);
      v.emplace_back(x0, y1, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f);
    }
  return v;
}

void G3dDrawAndRead(benchmark::State& state) {
  Surface s(int32_t(state.range(0)));
  if (!s.r.Succeeded()) return state.SkipWithError("no OpenGL here");
  const bool draw = state.range(1) != 0;
  int32_t err = 0;
  auto pixels = std::make_shared<ByteImage>(err, Rect{0, 0, 1024, 1024}, PixelFormat::Of(kModeRGB, 3, true));
  pixels->Fill(200);
  g3d::Texture texture(pixels);
  s.lib.CreateTexture(s.r, texture);
  s.lib.EnableTexturing(s.r);
  s.lib.SetJitteredPerspective(s.r, 0.5, 1000.0, 2.0 * std::atan(1.0 / 6.0), 0.0, 0.0);
  s.lib.LookAt(s.r, {0.0, 0.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
  g3d::RLLight light;
  s.lib.AddLight(s.r, light);
  s.lib.SetLight(s.r, light);
  const std::vector<g3d::Vertex> grid = Grid();
  for (auto _ : state) {
    if (draw) {
      s.lib.Clear(s.r);
      s.lib.DrawTriangles(s.r, grid);
    }
    s.lib.ReadImage(s.r);
  }
  state.counters["MP/s"] = benchmark::Counter(double(kFullWidth) * kFullHeight * 1e-6 * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}

BENCHMARK(ShatterFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ShatterPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(G3dCreateSurface)->ArgName("supersampling")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(G3dDrawAndRead)
    ->ArgNames({"supersampling", "draw"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
