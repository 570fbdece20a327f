// The noise fields per sample, and Television's full and preview-sized
// renders.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_support.h"
#include "effects/television/television.h"
#include "image/noise.h"

namespace kv::bench {
namespace {

constexpr int kRowLength = 4000;

template <class Field>
void FieldRows(benchmark::State& state, Field& field) {
  std::vector<double> row(kRowLength);
  int y = 0;
  for (auto _ : state) {
    field.ValueRow(double(y++), 0.0, 1.0, kRowLength, row.data());
    benchmark::DoNotOptimize(row.data());
  }
  state.counters["MP/s"] = benchmark::Counter(kRowLength * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_NoiseRow(benchmark::State& state) {
  NoiseField field;
  int32_t err = 0;
  field.Init(err, {64, 64}, 1.0, 7, 1.0, false, 0, 0);
  FieldRows(state, field);
}
BENCHMARK(BM_NoiseRow);

// The largest cell gives the most octaves the field sums.
void BM_FbmRow(benchmark::State& state) {
  FBMField field;
  int32_t err = 0;
  field.Init(err, {512, 512}, 1.0, 7, 0.5, 1.0, false, 0, 0);
  state.SetLabel(std::to_string(field.octaveCount) + " octaves");
  FieldRows(state, field);
}
BENCHMARK(BM_FbmRow);

void BM_TurbulenceRow(benchmark::State& state) {
  TurbulenceField field;
  int32_t err = 0;
  field.Init(err, {512, 512}, 1.0, 7, 0.5, 1.0, false, 0, 0);
  FieldRows(state, field);
}
BENCHMARK(BM_TurbulenceRow);

void BM_FbmPerSample(benchmark::State& state) {
  FBMField field;
  int32_t err = 0;
  field.Init(err, {512, 512}, 1.0, 7, 0.5, 1.0, false, 0, 0);
  int y = 0;
  for (auto _ : state) {
    double sum = 0;
    for (int x = 0; x < kRowLength; ++x) sum += field.Value(PointD{double(x), double(y)});
    ++y;
    benchmark::DoNotOptimize(sum);
  }
  state.counters["MP/s"] = benchmark::Counter(kRowLength * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FbmPerSample);

void BM_TelevisionFull(benchmark::State& state) { RenderEffect(state, kTelevisionEffect, kFullWidth, kFullHeight); }
BENCHMARK(BM_TelevisionFull)->Unit(benchmark::kMillisecond);

void BM_TelevisionPreview(benchmark::State& state) {
  RenderEffect(state, kTelevisionEffect, kPreviewWidth, kPreviewHeight);
}
BENCHMARK(BM_TelevisionPreview)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv::bench
