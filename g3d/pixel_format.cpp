#include "g3d/pixel_format.h"

namespace g3d {

int32_t FormatWeight(const SurfaceFormat& f) {
  if (f.colorBits != 24 || !f.rgba || !f.drawsToMemory || !f.software) return 0;
  int32_t weight = f.alphaBits >= 8 ? 513 : 1;
  if (f.depthBits >= 8) weight += 2 * f.depthBits;
  if (f.accumBits >= 8) weight += f.accumBits;
  return weight;
}

int32_t ChooseFormat(std::span<const SurfaceFormat> formats) {
  int32_t best = 0, bestWeight = 0;
  // From the highest index down, so that the first of equal weights found,
  // the highest, stays.
  for (int32_t i = int32_t(formats.size()); i >= 1; --i) {
    const int32_t w = FormatWeight(formats[size_t(i - 1)]);
    if (w > bestWeight) best = i, bestWeight = w;
  }
  return best;
}

}  // namespace g3d
