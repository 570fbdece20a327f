// How strong the picture's edge is at a pixel: the Sobel gradient's size,
// averaged over the colour channels, or the alpha's own where that is larger.
// Classic Mosaic lays its rows along these edges; Constellation strings its
// stars on them.
#pragma once

#include <cstdint>

#include "image/image.h"

namespace kv {

// 0..255. Reads the eight neighbours of p, which the caller keeps inside the
// image.
uint8_t EdgeStrength(const ByteImage& image, Point p);
// The same for the `count` pixels from (x, y) along the row.
void EdgeStrengthRow(const ByteImage& image, int32_t x, int32_t y, int32_t count, uint8_t* out);

}  // namespace kv
