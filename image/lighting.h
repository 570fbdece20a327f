// Shading of a height field under a directional light. Gradients are
// g = (dh/dx, dh/dy), the surface normal (-gx, -gy, 1); x runs right, y down,
// z toward the viewer.
#pragma once

#include <cstdint>

#include "image/geometry.h"
#include "image/pixel_ops.h"

namespace kv {

struct Vector3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

// The unit vector toward a light at `direction` degrees (anticlockwise from
// the right, as seen on screen) and `inclination` degrees above the surface.
Vector3 LightVector(double direction, double inclination);

// A light and its highlight: brightness scales the highlight, exponent
// narrows it.
struct ShadingLight {
  Vector3 L;
  double exponent = 1.0;
  double brightness = 0.0;
};

// The light a lighting parameter describes: angles in degrees, brightness
// and sharpness 0..100. Sharper highlights are smaller.
ShadingLight LightFromSettings(double direction, double inclination, double brightness, double sharpness);

// Scales the colour channels (not alpha) by the diffuse light falling on the
// surface: N.L / |N|, no less than 0.
void ShadeDiffuse(BytePixel& pixel, PointD g, double g2, const Vector3& L);

// Alphas (0..255) to composite over a pixel in order: with the shadow
// colour, the one term of a surface facing away from the light, else the
// ambient and diffuse terms; then, with the highlight colour, the specular
// term when the mirrored light points toward the viewer.
struct ShadeTermList {
  double term[3] = {};
  int32_t count = 0;
  int32_t shadowTerms = 0;  // the first shadowTerms go with the shadow colour
};

// intensity scales every term; ambient is the share of the light that does
// not depend on the surface's slope.
ShadeTermList ShadeTerms(PointD g, double g2, double ambient, double intensity, const ShadingLight& light);

// Composites the terms over `channels` (the colour channels, as doubles,
// unrounded): each moves them toward its colour by its alpha / 255.
inline void ApplyShadeTerms(double* channels, int32_t count, const ShadeTermList& terms, const double* shadow,
                            const double* highlight) {
  for (int32_t i = 0; i < terms.count; ++i) {
    const double a = terms.term[i] / 255.0;
    const double* colour = i < terms.shadowTerms ? shadow : highlight;
    for (int32_t c = 0; c < count; ++c) channels[c] += (colour[c] - channels[c]) * a;
  }
}

}  // namespace kv
