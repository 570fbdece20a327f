// Gaussian blur of a whole row buffer, in place.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

// The direct method's weights at distances 0..n-1 for a radius > 0: the
// Gaussian exp(-(2i / (radius + 1))^2), cut before the first weight below
// 0.1 and normalised so that w[0] + 2 * (w[1] + ...) = 1.
std::vector<float> BlurKernel(double radius);

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

}  // namespace kv
