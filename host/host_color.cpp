#include "host/host_color.h"

#include <algorithm>

#include "host/host_calls.h"
#include "host/pixel_layout.h"

namespace kv {

BytePixel HostColorPixel(const Color& color, const PixelFormat& format, uint8_t fill) {
  ps::ColorServicesInfo info{};
  info.infoSize = int32_t(sizeof info);
  info.selector = ps::plugIncolorServicesConvertColor;
  info.sourceSpace = int16_t(color.space);
  info.resultSpace = int16_t(format.Space() == kModeUnset ? kModeRGB : format.Space());
  for (int i = 0; i < 4; ++i) info.colorComponents[i] = int16_t(color.component[i]);
  if (hostcall::ColorServices(&info) != 0)
    for (int i = 0; i < 4; ++i) info.colorComponents[i] = int16_t(color.component[i]);

  BytePixel pixel(format);
  std::fill_n(pixel.values, 5, fill);
  for (int32_t c = 0; c < std::min(format.colorChannels, 4); ++c)
    pixel[c] = uint8_t(std::clamp<int32_t>(info.colorComponents[c], 0, 255));
  return pixel;
}

bool HostImageHasTransparency() {
  const ps::FilterRecord* host = Session().record;
  return host != nullptr && HostPixelFormat(*host, OutputPlanes(*host)).hasAlpha;
}

}  // namespace kv
