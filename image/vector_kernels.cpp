#include "image/vector_kernels.h"

#include <atomic>

namespace kv {

extern const VectorKernels kBaselineKernels, kAvx2Kernels, kAvx512Kernels;

namespace {

VectorPath Detect() {
#if defined(__x86_64__) && defined(KV_VECTOR_PATHS)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
    return VectorPath::kAvx512;
  if (__builtin_cpu_supports("avx2")) return VectorPath::kAvx2;
#endif
  return VectorPath::kBaseline;
}

std::atomic<int32_t> chosen{-1};

}  // namespace

VectorPath BestVectorPath() {
  static const VectorPath best = Detect();
  return best;
}

VectorPath CurrentVectorPath() {
  const int32_t c = chosen.load(std::memory_order_relaxed);
  return c < 0 ? BestVectorPath() : VectorPath(c);
}

void UseVectorPath(VectorPath path) {
  chosen.store(int32_t(path < BestVectorPath() ? path : BestVectorPath()), std::memory_order_relaxed);
}

const VectorKernels& Kernels() {
  switch (CurrentVectorPath()) {
    case VectorPath::kAvx512: return kAvx512Kernels;
    case VectorPath::kAvx2: return kAvx2Kernels;
    default: return kBaselineKernels;
  }
}

}  // namespace kv
