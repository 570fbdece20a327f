#include "image/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "image/vector_kernels.h"

namespace kv::fft {

namespace {

// All lanes of one element; the compiler maps its arithmetic onto vector
// registers of whatever width the target has.
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));

// By reference: passing vectors wider than the target's by value changes the ABI.
void Load(Lanes& v, const float* p) { std::memcpy(&v, p, sizeof v); }
void Store(float* p, const Lanes& v) { std::memcpy(p, &v, sizeof v); }

// Forward DFTs of 2, 3, 4 and 5 points, in place.
template <int radix>
inline void SmallDft(Lanes (&re)[radix], Lanes (&im)[radix]);

template <>
inline void SmallDft<2>(Lanes (&re)[2], Lanes (&im)[2]) {
  const Lanes r = re[0] - re[1], i = im[0] - im[1];
  re[0] += re[1];
  im[0] += im[1];
  re[1] = r;
  im[1] = i;
}

template <>
inline void SmallDft<3>(Lanes (&re)[3], Lanes (&im)[3]) {
  constexpr float kSin = 0.866025403784438647f;  // sin(2 pi / 3)
  const Lanes sr = re[1] + re[2], si = im[1] + im[2];
  const Lanes dr = kSin * (re[1] - re[2]), di = kSin * (im[1] - im[2]);
  const Lanes mr = re[0] - 0.5f * sr, mi = im[0] - 0.5f * si;
  re[0] += sr;
  im[0] += si;
  re[1] = mr + di;
  im[1] = mi - dr;
  re[2] = mr - di;
  im[2] = mi + dr;
}

template <>
inline void SmallDft<4>(Lanes (&re)[4], Lanes (&im)[4]) {
  const Lanes s02r = re[0] + re[2], s02i = im[0] + im[2], d02r = re[0] - re[2], d02i = im[0] - im[2];
  const Lanes s13r = re[1] + re[3], s13i = im[1] + im[3], d13r = re[1] - re[3], d13i = im[1] - im[3];
  re[0] = s02r + s13r;
  im[0] = s02i + s13i;
  re[2] = s02r - s13r;
  im[2] = s02i - s13i;
  re[1] = d02r + d13i;  // d02 - j d13
  im[1] = d02i - d13r;
  re[3] = d02r - d13i;  // d02 + j d13
  im[3] = d02i + d13r;
}

template <>
inline void SmallDft<5>(Lanes (&re)[5], Lanes (&im)[5]) {
  constexpr float kC1 = 0.309016994374947424f, kC2 = -0.809016994374947424f;  // cos(2 pi k / 5)
  constexpr float kS1 = 0.951056516295153572f, kS2 = 0.587785252292473129f;   // sin(2 pi k / 5)
  const Lanes u1r = re[1] + re[4], u1i = im[1] + im[4], v1r = re[1] - re[4], v1i = im[1] - im[4];
  const Lanes u2r = re[2] + re[3], u2i = im[2] + im[3], v2r = re[2] - re[3], v2i = im[2] - im[3];
  const Lanes ar = re[0] + kC1 * u1r + kC2 * u2r, ai = im[0] + kC1 * u1i + kC2 * u2i;
  const Lanes br = re[0] + kC2 * u1r + kC1 * u2r, bi = im[0] + kC2 * u1i + kC1 * u2i;
  const Lanes pr = kS1 * v1r + kS2 * v2r, pi = kS1 * v1i + kS2 * v2i;
  const Lanes qr = kS2 * v1r - kS1 * v2r, qi = kS2 * v1i - kS1 * v2i;
  re[0] += u1r + u2r;
  im[0] += u1i + u2i;
  re[1] = ar + pi;  // a - j p
  im[1] = ai - pr;
  re[4] = ar - pi;
  im[4] = ai + pr;
  re[2] = br + qi;  // b - j q
  im[2] = bi - qr;
  re[3] = br - qi;
  im[3] = bi + qr;
}

}  // namespace

int32_t FastSize(int32_t n) {
  for (int32_t m = std::max(n, 1);; ++m) {
    int32_t r = m;
    for (int32_t p : {2, 3, 5})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

Transform::Transform(int32_t n) : n_(n) {
  int32_t stride = 1, rest = n;
  size_t twiddles = 0;
  while (rest > 1) {
    const int32_t radix = rest % 4 == 0 ? 4 : rest % 2 == 0 ? 2 : rest % 3 == 0 ? 3 : 5;
    stages_.push_back({radix, stride, rest / radix, twiddles});
    twiddles += size_t(rest / radix) * size_t(radix - 1);
    stride *= radix;
    rest /= radix;
  }
  twiddleRe_.resize(twiddles);
  twiddleIm_.resize(twiddles);
  for (const Stage& s : stages_) {
    const int32_t length = s.span * s.radix;
    for (int32_t j = 0; j < s.span; ++j)
      for (int32_t t = 1; t < s.radix; ++t) {
        const double angle = 2 * std::numbers::pi * double(j * t % length) / length;
        const size_t at = s.twiddles + size_t(j) * size_t(s.radix - 1) + size_t(t - 1);
        twiddleRe_[at] = float(std::cos(angle));
        twiddleIm_[at] = float(-std::sin(angle));
      }
  }
  workRe_.resize(size_t(n) * kLanes);
  workIm_.resize(size_t(n) * kLanes);
}

// The passes, compiled once for each vector path.
struct Stages {
  // One pass: for every span index j and stride offset q, a radix-point DFT
  // of the inputs q + stride * (j + r * span), twiddled by w^(j t) with
  // w = exp(-2 pi j / (radix * span)), lands at q + stride * (radix * j + t).
  template <int radix>
  [[gnu::always_inline]] static inline void Run(const Transform& t, const Transform::Stage& s, const float* inRe,
                                                const float* inIm, float* outRe, float* outIm) {
    const size_t inStep = size_t(s.stride) * size_t(s.span) * kLanes, outStep = size_t(s.stride) * kLanes;
    for (int32_t j = 0; j < s.span; ++j) {
      const float* wr = t.twiddleRe_.data() + s.twiddles + size_t(j) * (radix - 1);
      const float* wi = t.twiddleIm_.data() + s.twiddles + size_t(j) * (radix - 1);
      for (int32_t q = 0; q < s.stride; ++q) {
        const size_t in = size_t(q + s.stride * j) * kLanes, out = size_t(q + s.stride * radix * j) * kLanes;
        Lanes re[radix], im[radix];
        for (int r = 0; r < radix; ++r) {
          Load(re[r], inRe + in + r * inStep);
          Load(im[r], inIm + in + r * inStep);
        }
        SmallDft<radix>(re, im);
        Store(outRe + out, re[0]);
        Store(outIm + out, im[0]);
        for (int u = 1; u < radix; ++u) {
          Store(outRe + out + u * outStep, re[u] * wr[u - 1] - im[u] * wi[u - 1]);
          Store(outIm + out + u * outStep, re[u] * wi[u - 1] + im[u] * wr[u - 1]);
        }
      }
    }
  }

  // Every pass in turn between the signal and the work buffers; returns
  // whether the result ended in the work buffers.
  [[gnu::always_inline]] static inline bool All(Transform& t, float* re, float* im) {
    float *fromRe = re, *fromIm = im, *toRe = t.workRe_.data(), *toIm = t.workIm_.data();
    for (const Transform::Stage& s : t.stages_) {
      switch (s.radix) {
        case 2: Run<2>(t, s, fromRe, fromIm, toRe, toIm); break;
        case 3: Run<3>(t, s, fromRe, fromIm, toRe, toIm); break;
        case 4: Run<4>(t, s, fromRe, fromIm, toRe, toIm); break;
        default: Run<5>(t, s, fromRe, fromIm, toRe, toIm); break;
      }
      std::swap(fromRe, toRe);
      std::swap(fromIm, toIm);
    }
    return fromRe != re;
  }
  static bool Baseline(Transform& t, float* re, float* im) { return All(t, re, im); }
  KV_FOR_AVX2 static bool Avx2(Transform& t, float* re, float* im) { return All(t, re, im); }
  KV_FOR_AVX512 static bool Avx512(Transform& t, float* re, float* im) { return All(t, re, im); }
};

void Transform::Forward(float* re, float* im) {
  const VectorPath path = CurrentVectorPath();
  const bool inWork = path == VectorPath::kAvx512 ? Stages::Avx512(*this, re, im)
                      : path == VectorPath::kAvx2 ? Stages::Avx2(*this, re, im)
                                                  : Stages::Baseline(*this, re, im);
  if (inWork) {
    std::copy_n(workRe_.data(), size_t(n_) * kLanes, re);
    std::copy_n(workIm_.data(), size_t(n_) * kLanes, im);
  }
}

}  // namespace kv::fft
