// Vectors of doubles for loops compiled once per vector path (see
// vector_kernels.h): two lanes on the baseline, four or eight on the wider
// paths. Lane by lane they do the scalar code's operations in its order, so
// every path gives the same bytes.
#pragma once

#include <cstdint>
#include <cstring>

// Wide vectors only pass between functions inlined into one path's
// function, so their calling convention never matters.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kv {

template <int Lanes>
struct Wide {
  typedef double D __attribute__((vector_size(8 * Lanes)));
  typedef int32_t I __attribute__((vector_size(4 * Lanes)));
  typedef uint32_t U __attribute__((vector_size(4 * Lanes)));
  typedef int64_t M __attribute__((vector_size(8 * Lanes)));  // what comparing two D gives
};

// v in every lane; unlike D{} + v, keeps the sign of a zero.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D Splat(double v) {
  typename Wide<Lanes>::D r;
  for (int l = 0; l < Lanes; ++l) r[l] = v;
  return r;
}

// uint8_t(std::clamp(v, 0.0, 255.0)), kept as doubles.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D ToBytes(typename Wide<Lanes>::D v) {
  using W = Wide<Lanes>;
  const typename W::D zero = {}, top = zero + 255.0;
  v = v < zero ? zero : (top < v ? top : v);
  return __builtin_convertvector(__builtin_convertvector(v, typename W::I), typename W::D);
}

// floor(v) for |v| < 2^31.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D Floors(typename Wide<Lanes>::D v) {
  using W = Wide<Lanes>;
  const typename W::D t = __builtin_convertvector(__builtin_convertvector(v, typename W::I), typename W::D);
  return v < t ? t - 1.0 : t;
}

// The first `count` pixels of N interleaved bytes, `step` bytes apart (0:
// one pixel for every lane), as channel values 0..255 (p[k] for channel k);
// lanes past `count` repeat the last pixel.
template <int Lanes, int32_t N>
[[gnu::always_inline]] inline void LoadPixels(const uint8_t* in, int32_t step, int32_t count,
                                              typename Wide<Lanes>::D (&p)[N]) {
  using W = Wide<Lanes>;
  if constexpr (N == 4) {
    typename W::U word;
    if (step == 4 && count == Lanes) {
      std::memcpy(&word, in, sizeof word);
    } else {
      for (int l = 0; l < Lanes; ++l) std::memcpy(&word[l], in + (l < count ? l : count - 1) * step, 4);
    }
    for (int32_t k = 0; k < N; ++k)
      p[k] = __builtin_convertvector(typename W::I((word >> (8 * k)) & 255u), typename W::D);
  } else {
    for (int l = 0; l < Lanes; ++l) {
      const uint8_t* px = in + (l < count ? l : count - 1) * step;
      for (int32_t k = 0; k < N; ++k) p[k][l] = px[k];
    }
  }
}

// The first `count` lanes of channel values 0..255 (p[k] for channel k) as
// pixels of N interleaved bytes; four channels go as one word per pixel.
template <int Lanes, int32_t N>
[[gnu::always_inline]] inline void StorePixels(const typename Wide<Lanes>::D (&p)[N], int32_t count, uint8_t* out) {
  using W = Wide<Lanes>;
  if constexpr (N == 4) {
    typename W::U word = {};
    for (int32_t k = 0; k < N; ++k) word |= typename W::U(__builtin_convertvector(p[k], typename W::I)) << (8 * k);
    std::memcpy(out, &word, size_t(count) * 4);
  } else {
    typename W::I bytes[N];
    for (int32_t k = 0; k < N; ++k) bytes[k] = __builtin_convertvector(p[k], typename W::I);
    for (int32_t l = 0; l < count; ++l)
      for (int32_t k = 0; k < N; ++k) out[l * N + k] = uint8_t(bytes[k][l]);
  }
}

}  // namespace kv
