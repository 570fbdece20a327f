// The bodies of the vector kernels, included once by each of the files that
// compile them for one path, with KV_KERNELS_NAME set to that path's table.
// Everything here has internal linkage and uses no library template, so no
// instruction of a wider path can leak into a narrower one through the
// linker's choice among copies of one inline function.
// GCC 12 takes the undefined upper halves inside AVX-512's narrowing
// intrinsics for uninitialised reads.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstring>

#include "image/vector_kernels.h"

namespace kv {
namespace {

// Sixteen lanes: GCC maps each operation onto as many registers as the
// target needs (four on baseline, two with AVX2, one with AVX-512). Nothing
// takes or returns these by value: vectors wider than the baseline's
// registers would change the calling convention between the paths.
using U32x16 = uint32_t __attribute__((vector_size(64)));

// Widening loads and narrowing stores, which GCC does not vectorise from
// generic code; each path's own instructions, the same values.
#if defined(__AVX512F__) && defined(__AVX512BW__)
inline void Load(U32x16& v, const uint8_t* p) {
  v = U32x16(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
inline void Load(U32x16& v, const uint16_t* p) {
  v = U32x16(_mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}
// Lanes below 65536, and below 256 for bytes.
inline void Store(uint16_t* p, const U32x16& v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtepi32_epi16(__m512i(v)));
}
inline void Store(uint8_t* p, const U32x16& v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm512_cvtepi32_epi8(__m512i(v)));
}
#elif defined(__AVX2__)
inline void Load(U32x16& v, const uint8_t* p) {
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m256i h[2] = {_mm256_cvtepu8_epi32(b), _mm256_cvtepu8_epi32(_mm_srli_si128(b, 8))};
  std::memcpy(&v, h, sizeof v);
}
inline void Load(U32x16& v, const uint16_t* p) {
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i h[2] = {_mm256_cvtepu16_epi32(_mm256_castsi256_si128(w)),
                        _mm256_cvtepu16_epi32(_mm256_extracti128_si256(w, 1))};
  std::memcpy(&v, h, sizeof v);
}
inline __m256i Packed(const U32x16& v) {
  __m256i h[2];
  std::memcpy(h, &v, sizeof v);
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(h[0], h[1]), 0xd8);
}
inline void Store(uint16_t* p, const U32x16& v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), Packed(v)); }
inline void Store(uint8_t* p, const U32x16& v) {
  const __m256i w = Packed(v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                   _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1)));
}
#else
inline void Load(U32x16& v, const uint8_t* p) {
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero = _mm_setzero_si128();
  const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
  const __m128i q[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero), _mm_unpacklo_epi16(hi, zero),
                        _mm_unpackhi_epi16(hi, zero)};
  std::memcpy(&v, q, sizeof v);
}
inline void Load(U32x16& v, const uint16_t* p) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
  const __m128i q[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero), _mm_unpacklo_epi16(hi, zero),
                        _mm_unpackhi_epi16(hi, zero)};
  std::memcpy(&v, q, sizeof v);
}
// SSE2 packs with signed saturation only: lanes are shifted into its range
// and back.
inline void Store(uint16_t* p, const U32x16& v) {
  __m128i q[4];
  std::memcpy(q, &v, sizeof v);
  const __m128i bias = _mm_set1_epi32(32768), flip = _mm_set1_epi16(-32768);
  for (int k = 0; k < 2; ++k) {
    const __m128i w = _mm_packs_epi32(_mm_sub_epi32(q[2 * k], bias), _mm_sub_epi32(q[2 * k + 1], bias));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 8 * k), _mm_xor_si128(w, flip));
  }
}
inline void Store(uint8_t* p, const U32x16& v) {
  __m128i q[4];
  std::memcpy(q, &v, sizeof v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                   _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
}
#endif

void BlurAcross(const uint8_t* line, int32_t count, int32_t step, const uint32_t* weights, int32_t taps,
                uint16_t* out) {
  for (int32_t j = 0; j < count; j += 16) {
    const uint8_t* at = line + j;
    U32x16 acc, a, b;
    Load(acc, at);
    acc *= weights[0];
    for (int32_t i = 1; i < taps; ++i) {
      Load(a, at - i * step);
      Load(b, at + i * step);
      acc += weights[i] * (a + b);
    }
    Store(out + j, (acc + 128) >> 8);
  }
}

void BlurDown(const uint16_t* const* up, const uint16_t* const* down, int32_t count, const uint32_t* weights,
              int32_t taps, uint8_t* out) {
  for (int32_t j = 0; j < count; j += 16) {
    U32x16 acc, a, b;
    Load(acc, up[0] + j);
    acc *= weights[0];
    for (int32_t i = 1; i < taps; ++i) {
      Load(a, up[i] + j);
      Load(b, down[i] + j);
      acc += weights[i] * (a + b);
    }
    acc = (acc + (1u << 23)) >> 24;
    if (count - j >= 16) {
      Store(out + j, acc);
    } else {  // the row itself ends at count
      uint8_t last[16];
      Store(last, acc);
      std::memcpy(out + j, last, size_t(count - j));
    }
  }
}

}  // namespace

extern const VectorKernels KV_KERNELS_NAME;
const VectorKernels KV_KERNELS_NAME = {BlurAcross, BlurDown};

}  // namespace kv
