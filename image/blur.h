// Gaussian blur of a whole row buffer, in place.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

// The direct method's weights at distances 0..n-1 for a radius > 0: the
// Gaussian exp(-(2i / (radius + 1))^2), cut before the first weight below
// 0.1 and normalised so that w[0] + 2 * (w[1] + ...) = 1.
std::vector<float> BlurKernel(double radius);

// Floats are blurred through Fourier transforms above this radius.
inline constexpr double kFloatBlurTransformAbove = 16.0;

// Blurs every channel of `buffer`, whose samples are bytes (bytesPerChannel
// 1) or floats (4).
//
// Above radius 30 for bytes, 16 for floats, the blur is a circular
// convolution over the whole buffer through Fourier transforms: each row
// wraps round to its own start and each column to its own top, and the
// Gaussian runs on until its weights are too small to count (below 1e-12).
// Otherwise it runs directly in two separable passes with the cut kernel of
// BlurKernel, pixels beyond the buffer's edges repeating the edge pixels.
// Bytes are rounded once, after both passes: the direct method keeps eight
// bits below the point between them.
//
// `directOnly` forces the direct method and enables `mask` for bytes: one
// byte per pixel, bounds.Width() per row, rows top to bottom, with which the
// blurred pixels are blended into the original as
// old + (blurred - old) * m / 255. Otherwise the mask is ignored.
//
// The abort tester is asked once per row of each direct pass and once per
// batch of transformed lines. Progress runs over [from, (from + to) / 2] for
// the horizontal direct pass and on to `to` for the vertical one, and for the
// transforms from the rows' forward transforms to their inverse ones.
// err: 0; 1 when stopped by the abort tester (the buffer then holds partial
// results); -108 out of memory; -1 for samples of another size.
// A radius <= 0 leaves the buffer as it is.
void Blur(int32_t& err, RowBuffer& buffer, double radius, Abort_Tester* abort, bool directOnly, const uint8_t* mask,
          ProgressUpdateSink* progress, double from, double to);

// The direct blur of floats without the image: rows 0..height-1 of
// width * channels samples are asked of `source` (which fills the row it is
// given) as they come within reach, and rows [first, last) handed blurred to
// `sink` in order, so only the rows within the kernel's reach are held. The
// sums are those of Blur's direct method, to the bit; a radius <= 0 passes
// the rows on unchanged. A non-zero answer of the sink ends the blur with it.
// 0, 1 when stopped by the abort tester, -108 out of memory.
using FloatRowSource = std::function<void(int32_t y, float* row)>;
using FloatRowSink = std::function<int32_t(int32_t y, const float* row)>;
int32_t BlurFloatRows(int32_t width, int32_t height, int32_t channels, double radius, int32_t first, int32_t last,
                      const FloatRowSource& source, const FloatRowSink& sink, Abort_Tester* abort,
                      ProgressUpdateSink* progress, double from, double to);

}  // namespace kv
