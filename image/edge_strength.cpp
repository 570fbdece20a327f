#include "image/edge_strength.h"

#include <algorithm>
#include <cstdlib>

namespace kv {

namespace {

// |Gx| + |Gy| of one channel at offset c of the three rows' pixel x.
inline int32_t Gradient(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t step, int32_t c) {
  const int32_t nw = up[c - step], n = up[c], ne = up[c + step];
  const int32_t w = mid[c - step], e = mid[c + step];
  const int32_t sw = down[c - step], s = down[c], se = down[c + step];
  const int32_t gx = (ne + 2 * e + se) - (nw + 2 * w + sw);
  const int32_t gy = (sw + 2 * s + se) - (nw + 2 * n + ne);
  return std::abs(gx) + std::abs(gy);
}

// trunc(0.125 * sum / n + 0.5), clamped, in integers: the same value exactly.
inline uint8_t Scaled(int32_t sum, int32_t n) { return uint8_t(std::min(255, (sum + 4 * n) / (8 * n))); }

// Colors 0: as many colour channels as the image has.
template <int32_t Colors, bool Alpha>
void Row(const ByteImage& image, int32_t x, int32_t y, int32_t count, uint8_t* out) {
  const int32_t colors = Colors > 0 ? Colors : std::max(1, image.format.colorChannels);
  const int32_t step = Colors > 0 ? Colors + (Alpha ? 1 : 0) : image.pixelStep;
  const uint8_t* mid = image.Address(x, y);
  const uint8_t* up = mid - image.rowStride;
  const uint8_t* down = mid + image.rowStride;
  for (int32_t i = 0; i < count; ++i, up += step, mid += step, down += step) {
    int32_t sum = 0;
    for (int32_t c = 0; c < colors; ++c) sum += Gradient(up, mid, down, step, c);
    uint8_t e = Scaled(sum, colors);
    if constexpr (Alpha) e = std::max(e, Scaled(Gradient(up, mid, down, step, colors), 1));
    out[i] = e;
  }
}

template <int32_t Colors>
void RowOf(const ByteImage& image, int32_t x, int32_t y, int32_t count, uint8_t* out) {
  if (image.format.hasAlpha) Row<Colors, true>(image, x, y, count, out);
  else Row<Colors, false>(image, x, y, count, out);
}

}  // namespace

void EdgeStrengthRow(const ByteImage& image, int32_t x, int32_t y, int32_t count, uint8_t* out) {
  switch (image.format.colorChannels) {
    case 1: return RowOf<1>(image, x, y, count, out);
    case 3: return RowOf<3>(image, x, y, count, out);
    case 4: return RowOf<4>(image, x, y, count, out);
    default: return RowOf<0>(image, x, y, count, out);
  }
}

uint8_t EdgeStrength(const ByteImage& image, Point p) {
  uint8_t e = 0;
  EdgeStrengthRow(image, p.x, p.y, 1, &e);
  return e;
}

}  // namespace kv
