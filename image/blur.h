// Gaussian blur of a whole row buffer, in place.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

// The blur's weights at distances 0..n-1 for a radius > 0, normalised so that
// w[0] + 2 * (w[1] + ...) = 1.
std::vector<float> BlurKernel(double radius);

// The blur's convolution over one block of kBlurBlock samples from `offset`:
// out[j] = w[0] * lo[0][offset + j] + sum over i >= 1 of
// w[i] * (lo[i][offset + j] + hi[i][offset + j]).
// Inline, and of fixed length, so that the loops compile to vector code.
inline constexpr size_t kBlurBlock = 256;
inline void ConvolveBlock(const std::vector<float>& w, const float* const* lo, const float* const* hi, size_t offset,
                          float* out) {
  float acc[kBlurBlock];
  const float* centre = lo[0] + offset;
  for (size_t j = 0; j < kBlurBlock; ++j) acc[j] = w[0] * centre[j];
  for (size_t i = 1; i < w.size(); ++i) {
    const float *a = lo[i] + offset, *b = hi[i] + offset, weight = w[i];
    for (size_t j = 0; j < kBlurBlock; ++j) acc[j] += weight * (a[j] + b[j]);
  }
  std::copy_n(acc, kBlurBlock, out);
}

// The weight at distance i is exp(-(2i / (radius + 1))^2), normalised over the
// kernel, which ends before the first distance whose weight is below 0.1.
// Pixels beyond the buffer's edges repeat the edge pixels.
//
// Above radius 30 the convolution runs through Fourier transforms (circular,
// over lengths padded far enough that the wrap-around only meets the repeated
// edges), otherwise directly in two separable passes. Both use the same kernel
// and round to bytes after each pass, so they agree to within one level
// everywhere. `directOnly` forces the direct method and enables `mask`: one
// byte per pixel, bounds.Width() per row, rows top to bottom, with which the
// blurred pixels are blended into the original as
// old + (blurred - old) * m / 255. Without `directOnly` the mask is ignored.
//
// The abort tester is asked once per row of each direct pass and once per
// batch of transformed lines; progress runs over [from, (from + to) / 2] for
// the horizontal pass and on to `to` for the vertical one.
// err: 0; 1 when stopped by the abort tester (the buffer then holds partial
// results); -108 out of memory; -1 for more than one byte per channel.
// A radius <= 0 leaves the buffer as it is.
void Blur(int32_t& err, RowBuffer& buffer, double radius, Abort_Tester* abort, bool directOnly, const uint8_t* mask,
          ProgressUpdateSink* progress, double from, double to);

}  // namespace kv
