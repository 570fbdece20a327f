// Gaussian blur of a whole row buffer, in place.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

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
