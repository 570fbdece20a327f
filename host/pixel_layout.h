// How the host's planes map onto the core's pixel formats.
#pragma once

#include "image/image.h"
#include "platform/protocol.h"

namespace kv {

inline int32_t ColorPlanes(const ps::FilterRecord& r) {
  if (r.inLayerPlanes != 0) return r.inLayerPlanes;
  switch (r.imageMode) {
    case ps::plugInModeGrayScale: case ps::plugInModeDuotone: return 1;
    case ps::plugInModeRGBColor: case ps::plugInModeLabColor: return 3;
    case ps::plugInModeCMYKColor: return 4;
    case ps::plugInModeMultichannel: return r.planes;
    default: return 0;
  }
}

inline int32_t InputPlanes(const ps::FilterRecord& r) {
  const int32_t n = r.inLayerPlanes + r.inTransparencyMask;
  return n != 0 ? n : r.planes;
}

inline int32_t OutputPlanes(const ps::FilterRecord& r) {
  const int32_t n = r.outLayerPlanes + r.outTransparencyMask;
  return n != 0 ? n : r.planes;
}

// The format of an image of `planes` host planes.
inline PixelFormat HostPixelFormat(const ps::FilterRecord& r, int32_t planes) {
  const int32_t color = ColorPlanes(r);
  const bool alpha = planes - color == 1;
  return PixelFormat{ColorModeFromHostMode(r.imageMode), alpha ? color : planes, alpha, planes};
}

inline Rect ImageBounds(const ps::FilterRecord& r) { return {0, 0, r.imageSize.h, r.imageSize.v}; }

}  // namespace kv
