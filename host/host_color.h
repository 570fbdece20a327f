// Colours of a parameter block as pixels of a render's format. The host's
// colour services convert them (on the host's thread, also for the preview),
// so they match the host's own idea of the document's colour space.
#pragma once

#include <cstdint>

#include "image/pixel_ops.h"
#include "parameters/parameter_values.h"

namespace kv {

// `color` in `format`'s colour space. Every byte of the pixel starts as
// `fill`, so the alpha of a format with alpha is `fill`. When the host cannot
// convert, the colour's own components are used.
BytePixel HostColorPixel(const Color& color, const PixelFormat& format, uint8_t fill);

// Whether the host's image has a transparency plane.
bool HostImageHasTransparency();

}  // namespace kv
