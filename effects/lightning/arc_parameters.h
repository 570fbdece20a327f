// The controls that Lightning and Electrify share, bound to fields of their
// own blocks: the arcs' shape on the first page, their glow on the second.
#pragma once

#include <cstdint>

#include "parameters/parameters.h"

namespace kv {

// "Arc Thickness", "Jaggedness", "Branching" and "Branch Spread".
int32_t AddArcShape(ParameterList& list, double* thickness, double* jaggedness, double* branching,
                    double* branchSpread);
// "Glow Width", "Glow Opacity", "Inner Color" and "Outer Color", on page 1.
int32_t AddArcGlow(ParameterList& list, double* glowWidth, double* glowOpacity, Color* inner, Color* outer);

}  // namespace kv
