// The image kit's hottest loops, compiled three times (baseline x86-64, AVX2,
// AVX-512) and picked by the processor at run time. Every path computes the
// same bytes: the loops are integer arithmetic, or float arithmetic in one
// fixed order without fused multiply-adds.
#pragma once

#include <cstdint>

namespace kv {

enum class VectorPath : int32_t { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest path this processor and system run.
VectorPath BestVectorPath();
// The path the kernels take: the best, unless UseVectorPath chose another.
VectorPath CurrentVectorPath();
// For tests that compare the paths: takes `path`, or the best when it is wider.
void UseVectorPath(VectorPath path);

struct VectorKernels {
  // One row of the direct blur across: out[j] = (sum over |i| < taps of
  // weights[|i|] * line[j + i * step] + 128) >> 8, for j < count, weights
  // summing to 65536 over the whole kernel. `line` is readable from
  // (taps - 1) * step before its start to as far after count + 16, and `out`
  // writable up to count rounded up to 16.
  void (*blurAcross)(const uint8_t* line, int32_t count, int32_t step, const uint32_t* weights, int32_t taps,
                     uint16_t* out);
  // One row of the direct blur down, from the rows across above (up[i]) and
  // below (down[i]) at each distance, up[0] = down[0] the row itself:
  // out[j] = (sum of weights[i] * (up[i][j] + down[i][j]), the centre once,
  // + 2^23) >> 24, for j < count; the rows are readable up to count rounded
  // up to 16.
  void (*blurDown)(const uint16_t* const* up, const uint16_t* const* down, int32_t count, const uint32_t* weights,
                   int32_t taps, uint8_t* out);
};

// The kernels of the current path.
const VectorKernels& Kernels();

// Functions compiled for a wider path with everything they call inlined into
// them, so that no copy of an inline function compiled for that path can
// stand in for the baseline's. Call them only when CurrentVectorPath() says
// so.
#if defined(KV_VECTOR_PATHS)
#define KV_FOR_AVX2 __attribute__((target("avx2"), flatten))
#define KV_FOR_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"), flatten))
#else
#define KV_FOR_AVX2
#define KV_FOR_AVX512
#endif

}  // namespace kv
