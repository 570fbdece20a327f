// The cracks carved into a relief over the render's tile and lit by a low
// light with shadows: grooves with a rounded bottom, widening and cut through
// where a crack runs out through the selection's edge, their edges made to
// wander by a fractal field.
#pragma once

#include <cstdint>

#include "effects/cracks/crack_network.h"
#include "framework/filter.h"

namespace kv {

struct ReliefLook {
  double depth = 0.8;        // D: 0.01..1; the surface lies at 4 D, a groove's bottom at 0
  double roughness = 0.5;    // 0..1
  double direction = 135.0;  // the light's, degrees
  uint16_t seed = 0;
};

// err: 0, 1 stopped, -108. Reports progress over from..to.
int32_t RenderRelief(RenderContext& c, const CrackNetwork& network, const ReliefLook& look, double from, double to);

}  // namespace kv
