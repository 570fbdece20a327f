#include "image/lighting.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv {

Vector3 LightVector(double direction, double inclination) {
  const double a = direction * std::numbers::pi / 180.0, b = inclination * std::numbers::pi / 180.0;
  return {std::cos(a) * std::cos(b), -std::sin(a) * std::cos(b), std::sin(b)};
}

ShadingLight LightFromSettings(double direction, double inclination, double brightness, double sharpness) {
  // Exponents from about 9 (broad sheen) to 23 (a small glint).
  const double s = std::clamp(sharpness, 0.0, 100.0);
  return {LightVector(direction, inclination), 3.0 + 2.0 * std::sqrt(10.0 + 0.9 * s),
          std::clamp(brightness, 0.0, 100.0) / 100.0};
}

void ShadeDiffuse(BytePixel& pixel, PointD g, double g2, const Vector3& L) {
  const double nl = std::max(0.0, -g.x * L.x - g.y * L.y + L.z);
  const double f = nl / std::sqrt(1.0 + g2);
  for (int32_t c = 0; c < pixel.format.colorChannels; ++c)
    pixel[c] = uint8_t(std::clamp(double(int32_t(pixel[c] * f + 0.5)), 0.0, 255.0));
}

ShadeTermList ShadeTerms(PointD g, double g2, double ambient, double intensity, const ShadingLight& light) {
  ShadeTermList out;
  const double s = 255.0 * intensity;
  const double nl = -g.x * light.L.x - g.y * light.L.y + light.L.z;
  if (nl <= 0.0) {
    out.term[out.count++] = s;
    out.shadowTerms = 1;
    return out;
  }
  out.term[out.count++] = (1.0 - ambient) * s;
  out.term[out.count++] = s * (1.0 - nl / std::sqrt(1.0 + g2));
  out.shadowTerms = 2;
  // The z of the light mirrored about the normal (-gx, -gy, 1).
  const double r = 2.0 * nl / (1.0 + g2) - light.L.z;
  if (r > 0.0) out.term[out.count++] = s * light.brightness * std::pow(r, light.exponent);
  return out;
}

}  // namespace kv
