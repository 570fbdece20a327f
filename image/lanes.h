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

// Lanes doubles from p, which need not be aligned. (Lambdas do not do for
// this in the wider paths' functions: GCC 12 at -O0 misplaces a vector a
// lambda returns there, and the closure of one that captures.)
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D Load(const double* p) {
  typename Wide<Lanes>::D v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// std::clamp(v, 0.0, 1.0) lane by lane.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D ClampUnit(typename Wide<Lanes>::D v) {
  const typename Wide<Lanes>::D zero = {}, one = zero + 1.0;
  return v < zero ? zero : (one < v ? one : v);
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
      for (int l = 0; l < Lanes; ++l) {
        uint32_t one;  // clang takes no address of a vector's element
        std::memcpy(&one, in + (l < count ? l : count - 1) * step, 4);
        word[l] = one;
      }
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

// r^e for r >= 0 and 1 <= e <= 64 as exp(e ln r) by series: within a
// relative 1e-12 of std::pow where that is 1e-300 or more, else 0. Callers
// that must give pow's bytes redo what the difference could change.
template <int Lanes>
[[gnu::always_inline]] inline typename Wide<Lanes>::D Powers(typename Wide<Lanes>::D r, double e) {
  using W = Wide<Lanes>;
  using D = typename W::D;
  using M = typename W::M;
  constexpr double kLn2Hi = 6.93147180369123816490e-01, kLn2Lo = 1.90821492927058770002e-10;
  const D zero = {}, one = zero + 1.0;
  const M usable = r >= zero + 2.2250738585072014e-308;  // normal
  r = usable ? r : one;
  // r = m 2^k with m within [sqrt 1/2, sqrt 2).
  M bits;
  std::memcpy(&bits, &r, sizeof r);
  M k = (bits >> 52) - 1023;
  bits = (bits & 0x000fffffffffffffll) | 0x3ff0000000000000ll;
  D m;
  std::memcpy(&m, &bits, sizeof m);
  const M high = m > zero + 1.4142135623730951;
  m = high ? m * 0.5 : m;
  k -= high;
  // ln m = 2 atanh s, s = (m - 1) / (m + 1), |s| < 0.172: eleven odd terms.
  const D s = (m - 1.0) / (m + 1.0), z = s * s;
  D series = zero + 1.0 / 21;
  for (int n = 19; n >= 1; n -= 2) series = series * z + 1.0 / n;
  const D kd = __builtin_convertvector(k, D);
  D y = (kd * kLn2Hi + (kd * kLn2Lo + 2.0 * s * series)) * e;
  // e^y = 2^n e^t, |t| <= ln 2 / 2: fourteen terms.
  const M tiny = y < zero - 700.0;
  y = tiny ? zero : y;
  const D n = Floors<Lanes>(y * 1.4426950408889634 + 0.5);
  const D t = (y - n * kLn2Hi) - n * kLn2Lo;
  D p = zero + 1.0 / 6227020800.0;
  constexpr double kInverseFactorials[13] = {1.0 / 479001600, 1.0 / 39916800, 1.0 / 3628800, 1.0 / 362880,
                                             1.0 / 40320,     1.0 / 5040,     1.0 / 720,     1.0 / 120,
                                             1.0 / 24,        1.0 / 6,        0.5,           1.0,
                                             1.0};
  for (const double c : kInverseFactorials) p = p * t + c;
  M scale = (__builtin_convertvector(n, M) + 1023) << 52;
  D power;
  std::memcpy(&power, &scale, sizeof power);
  power *= p;
  return (usable & ~tiny) ? power : zero;
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
