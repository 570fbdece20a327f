#include "hosts/common/colour.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace kv::host {

namespace {

enum Space : int16_t { kRGB = 0, kHSB = 1, kCMYK = 2, kLab = 3, kGrey = 4, kHSL = 5 };

using Vec = std::array<double, 3>;  // RGB, 0..1

int16_t Byte(double v) { return int16_t(std::clamp(std::floor(v * 255.0 + 0.5), 0.0, 255.0)); }
double Unit(int16_t v) { return std::clamp(v, int16_t(0), int16_t(255)) / 255.0; }

// Hue in degrees from the largest and smallest channel.
double Hue(const Vec& c, double hi, double lo) {
  const double d = hi - lo;
  if (d <= 0) return 0;
  double h;
  if (hi == c[0]) h = (c[1] - c[2]) / d;
  else if (hi == c[1]) h = 2.0 + (c[2] - c[0]) / d;
  else h = 4.0 + (c[0] - c[1]) / d;
  h *= 60.0;
  return h < 0 ? h + 360.0 : h;
}

// RGB from a hue and chroma laid on top of a base value.
Vec FromHue(double hue, double chroma, double base) {
  const double h = std::fmod(std::fmod(hue, 360.0) + 360.0, 360.0) / 60.0;
  const double x = chroma * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
  Vec v{};
  switch (int(h)) {
    case 0: v = {chroma, x, 0}; break;
    case 1: v = {x, chroma, 0}; break;
    case 2: v = {0, chroma, x}; break;
    case 3: v = {0, x, chroma}; break;
    case 4: v = {x, 0, chroma}; break;
    default: v = {chroma, 0, x}; break;
  }
  for (double& c : v) c += base;
  return v;
}

double Linear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double Gamma(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055; }

constexpr Vec kWhite{0.95047, 1.0, 1.08883};  // D65

double LabF(double t) { return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0; }
double LabFInverse(double f) {
  const double t = f * f * f;
  return t > 216.0 / 24389.0 ? t : (116.0 * f - 16.0) * 27.0 / 24389.0;
}

std::optional<Vec> ToRgb(int16_t space, const int16_t* c) {
  switch (space) {
    case kRGB: return Vec{Unit(c[0]), Unit(c[1]), Unit(c[2])};
    case kHSB: {
      const double s = Unit(c[1]), v = Unit(c[2]);
      return FromHue(c[0], v * s, v - v * s);
    }
    case kHSL: {
      const double s = Unit(c[1]), l = Unit(c[2]);
      const double chroma = (1.0 - std::fabs(2.0 * l - 1.0)) * s;
      return FromHue(c[0], chroma, l - chroma / 2.0);
    }
    case kCMYK: {
      // Components are the paper left showing: 255 = no ink.
      const double k = Unit(c[3]);
      return Vec{Unit(c[0]) * k, Unit(c[1]) * k, Unit(c[2]) * k};
    }
    case kLab: {
      const double L = Unit(c[0]) * 100.0, a = std::clamp<int>(c[1], 0, 255) - 128.0,
                   b = std::clamp<int>(c[2], 0, 255) - 128.0;
      const double fy = (L + 16.0) / 116.0, fx = fy + a / 500.0, fz = fy - b / 200.0;
      const double X = LabFInverse(fx) * kWhite[0], Y = LabFInverse(fy) * kWhite[1], Z = LabFInverse(fz) * kWhite[2];
      const Vec lin{3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z, -0.9692660 * X + 1.8760108 * Y + 0.0415560 * Z,
                    0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z};
      return Vec{std::clamp(Gamma(std::max(0.0, lin[0])), 0.0, 1.0), std::clamp(Gamma(std::max(0.0, lin[1])), 0.0, 1.0),
                 std::clamp(Gamma(std::max(0.0, lin[2])), 0.0, 1.0)};
    }
    case kGrey: return Vec{Unit(c[0]), Unit(c[0]), Unit(c[0])};
    default: return std::nullopt;
  }
}

bool FromRgb(int16_t space, const Vec& rgb, int16_t* c) {
  const double hi = std::max({rgb[0], rgb[1], rgb[2]}), lo = std::min({rgb[0], rgb[1], rgb[2]});
  c[3] = 0;
  switch (space) {
    case kRGB:
      for (int i = 0; i < 3; ++i) c[i] = Byte(rgb[size_t(i)]);
      return true;
    case kHSB:
      c[0] = int16_t(std::lround(Hue(rgb, hi, lo)) % 360);
      c[1] = Byte(hi > 0 ? (hi - lo) / hi : 0);
      c[2] = Byte(hi);
      return true;
    case kHSL: {
      const double l = (hi + lo) / 2.0, d = hi - lo;
      c[0] = int16_t(std::lround(Hue(rgb, hi, lo)) % 360);
      c[1] = Byte(d > 0 ? d / (1.0 - std::fabs(2.0 * l - 1.0)) : 0);
      c[2] = Byte(l);
      return true;
    }
    case kCMYK:
      // The most paper that still gives the colour: black ink for the rest.
      for (int i = 0; i < 3; ++i) c[i] = Byte(hi > 0 ? rgb[size_t(i)] / hi : 1.0);
      c[3] = Byte(hi);
      return true;
    case kLab: {
      const Vec lin{Linear(rgb[0]), Linear(rgb[1]), Linear(rgb[2])};
      const double X = 0.4124564 * lin[0] + 0.3575761 * lin[1] + 0.1804375 * lin[2];
      const double Y = 0.2126729 * lin[0] + 0.7151522 * lin[1] + 0.0721750 * lin[2];
      const double Z = 0.0193339 * lin[0] + 0.1191920 * lin[1] + 0.9503041 * lin[2];
      const double fx = LabF(X / kWhite[0]), fy = LabF(Y / kWhite[1]), fz = LabF(Z / kWhite[2]);
      c[0] = Byte((116.0 * fy - 16.0) / 100.0);
      c[1] = int16_t(std::clamp(std::floor(500.0 * (fx - fy) + 128.5), 0.0, 255.0));
      c[2] = int16_t(std::clamp(std::floor(200.0 * (fy - fz) + 128.5), 0.0, 255.0));
      return true;
    }
    case kGrey:
      c[0] = Byte(0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]);
      c[1] = c[2] = 0;
      return true;
    default: return false;
  }
}

int16_t SpaceOf(Mode mode) {
  switch (mode) {
    case Mode::Grey: return kGrey;
    case Mode::CMYK: return kCMYK;
    case Mode::Lab: return kLab;
    case Mode::RGB: return kRGB;
  }
  return kRGB;
}

}  // namespace

int16_t ConvertColor(int16_t fromSpace, int16_t toSpace, int16_t components[4]) {
  const std::optional<Vec> rgb = ToRgb(fromSpace, components);
  if (!rgb) return -1;
  int16_t result[4];
  if (!FromRgb(toSpace, *rgb, result)) return -1;
  std::copy(result, result + 4, components);
  return 0;
}

void PixelBytes(Mode mode, Rgb colour, uint8_t out[4]) {
  int16_t c[4] = {colour.red, colour.green, colour.blue, 0};
  ConvertColor(kRGB, SpaceOf(mode), c);
  const int n = ColorPlanes(mode);
  for (int i = 0; i < 4; ++i) out[i] = i < n ? uint8_t(c[i]) : 0;
}

std::optional<Rgb> ParseColor(std::string_view text) {
  if (text == "black") return Rgb{0, 0, 0};
  if (text == "white") return Rgb{255, 255, 255};
  const auto number = [](std::string_view s, int base, int& out) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc() && end == s.data() + s.size() && !s.empty() && out >= 0 && out <= 255;
  };
  if (text.find(',') != std::string_view::npos) {
    int v[3];
    for (int i = 0; i < 3; ++i) {
      const size_t comma = text.find(',');
      if ((i < 2) == (comma == std::string_view::npos)) return std::nullopt;
      if (!number(text.substr(0, comma), 10, v[i])) return std::nullopt;
      text = i < 2 ? text.substr(comma + 1) : std::string_view{};
    }
    return Rgb{uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2])};
  }
  if (!text.empty() && text[0] == '#') text.remove_prefix(1);
  if (text.size() != 6) return std::nullopt;
  int v[3];
  for (int i = 0; i < 3; ++i)
    if (!number(text.substr(size_t(i) * 2, 2), 16, v[i])) return std::nullopt;
  return Rgb{uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2])};
}

}  // namespace kv::host
