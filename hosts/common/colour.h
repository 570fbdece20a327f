// The host's colour services: conversions between the colour spaces an
// effect may name, and the colours kalvero is given on its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "hosts/common/document.h"

namespace kv::host {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Components as the protocol's colour services carry them, so that a
// converted colour can be stored into a pixel as it is: RGB 0..255; HSB and
// HSL hue 0..359 degrees, then 0..255; CMYK 0..255 with 255 = no ink; Lab
// L 0..255 for 0..100, a and b 0..255 with 128 neutral (sRGB, D65 white);
// grey 0..255, 0 black. Spaces 0 RGB, 1 HSB, 2 CMYK, 3 Lab, 4 grey, 5 HSL.
// Answers 0, or -1 for a space it does not know (the components stay).
int16_t ConvertColor(int16_t fromSpace, int16_t toSpace, int16_t components[4]);

// An RGB colour as the bytes of a pixel of `mode`, zero-padded to four.
void PixelBytes(Mode mode, Rgb colour, uint8_t out[4]);

// "#RRGGBB", "RRGGBB", "R,G,B" (0..255 each), "black" or "white".
std::optional<Rgb> ParseColor(std::string_view text);

}  // namespace kv::host
