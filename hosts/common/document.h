// The image the command-line host filters: 8-bit samples, interleaved, the
// colour planes followed by the transparency plane when there is one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::host {

enum class Mode { Grey, RGB, CMYK, Lab };

// Samples as the filter protocol stores them: CMYK 255 = no ink; Lab L 0..255
// for 0..100 and a, b with 128 as neutral.
struct Document {
  int32_t width = 0;
  int32_t height = 0;
  Mode mode = Mode::RGB;
  bool hasAlpha = false;
  double xResolution = 72.0;  // pixels per inch
  double yResolution = 72.0;
  std::vector<uint8_t> pixels;

  Document() = default;
  Document(int32_t w, int32_t h, Mode m, bool alpha);

  int32_t ColorPlanes() const;
  int32_t Planes() const { return ColorPlanes() + (hasAlpha ? 1 : 0); }
  size_t RowBytes() const { return size_t(width) * size_t(Planes()); }
  uint8_t* Row(int32_t y) { return pixels.data() + size_t(y) * RowBytes(); }
  const uint8_t* Row(int32_t y) const { return pixels.data() + size_t(y) * RowBytes(); }
};

constexpr double kMetresPerInch = 0.0254;

// A resolution a file kept in pixels per metre, as the whole number of
// pixels per inch it was made from when the metres round from one: 2835
// per metre, 72.009 per inch, is 72.
double WholeResolution(double ppi);

int32_t ColorPlanes(Mode mode);
// "grey", "RGB", "CMYK", "Lab", for messages.
std::string ModeName(Mode mode);
// The protocol's image mode: 1 grey, 3 RGB, 4 CMYK, 9 Lab.
int16_t HostImageMode(Mode mode);

}  // namespace kv::host
