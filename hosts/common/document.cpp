#include "hosts/common/document.h"

#include <cmath>

namespace kv::host {

Document::Document(int32_t w, int32_t h, Mode m, bool alpha)
    : width(w), height(h), mode(m), hasAlpha(alpha), pixels(size_t(w) * size_t(h) * size_t(Planes())) {}

int32_t Document::ColorPlanes() const { return host::ColorPlanes(mode); }

double WholeResolution(double ppi) {
  const double whole = std::round(ppi);
  return std::lround(whole / kMetresPerInch) == std::lround(ppi / kMetresPerInch) ? whole : ppi;
}

int32_t ColorPlanes(Mode mode) {
  switch (mode) {
    case Mode::Grey: return 1;
    case Mode::CMYK: return 4;
    case Mode::RGB: case Mode::Lab: return 3;
  }
  return 3;
}

std::string ModeName(Mode mode) {
  switch (mode) {
    case Mode::Grey: return "grey";
    case Mode::RGB: return "RGB";
    case Mode::CMYK: return "CMYK";
    case Mode::Lab: return "Lab";
  }
  return "RGB";
}

int16_t HostImageMode(Mode mode) {
  switch (mode) {
    case Mode::Grey: return 1;
    case Mode::RGB: return 3;
    case Mode::CMYK: return 4;
    case Mode::Lab: return 9;
  }
  return 3;
}

}  // namespace kv::host
