// Complex discrete Fourier transforms of lengths with no prime factor above 5.
// A transform runs on kLanes signals at once, element i of signal l stored at
// [i * kLanes + l], so every butterfly is a fixed-length loop over the lanes
// that the compiler turns into vector code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::fft {

constexpr int32_t kLanes = 8;

// The smallest length >= n (n >= 1) whose prime factors are 2, 3 and 5 only.
int32_t FastSize(int32_t n);

// Stockham autosort transform (no bit reversal) of one length, planned once.
// The constructor throws std::bad_alloc when memory runs out.
class Transform {
 public:
  // n must have no prime factor above 5.
  explicit Transform(int32_t n);

  int32_t Size() const { return n_; }

  // In place, unnormalised: X[f] = sum over k of x[k] * exp(-2 pi j f k / n),
  // j the imaginary unit. re and im hold Size() * kLanes floats each.
  void Forward(float* re, float* im);
  // The inverse, also without the 1/n factor: a forward transform with the
  // real and imaginary parts swapped on the way in and out.
  void Inverse(float* re, float* im) { Forward(im, re); }

 private:
  struct Stage {
    int32_t radix;
    int32_t stride;  // product of the radices before this one
    int32_t span;    // remaining length divided by the radix
    size_t twiddles;  // offset of this stage's twiddles: (radix - 1) per span index
  };
  friend struct Stages;

  int32_t n_;
  std::vector<Stage> stages_;
  std::vector<float> twiddleRe_, twiddleIm_;
  std::vector<float> workRe_, workIm_;
};

}  // namespace kv::fft
