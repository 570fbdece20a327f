// Electrify: electric arcs spring from points spread along the edge of the
// selection or the layer's content and shoot outward; the outline and the
// arcs glow from an outer to an inner colour, the object itself stays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "effects/lightning/arc_engine.h"
#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kElectrifyEffect = 5;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct ElectrifyBlock {
  int32_t filterId;
  Length arcSpacing;    // 10..600 pixels
  Length arcLength;     // 10..2000 pixels
  double arcThickness;  // 1..100
  double reserved1;
  double glowWidth;    // 0..100
  double glowOpacity;  // 0..100
  bool radiateFromCenter;
  double jaggedness;  // 0..100
  double reserved2;
  double branching;     // 0..100
  double branchSpread;  // 0..100
  uint16_t randomSeed;
  uint8_t glowFromObject;  // non-zero: the mask feeds the glow; no control, so any byte of a block counts
  Color innerColor;
  Color outerColor;
};
static_assert(sizeof(ElectrifyBlock) == 136 && alignof(ElectrifyBlock) == 8);
static_assert(offsetof(ElectrifyBlock, arcSpacing) == 8 && offsetof(ElectrifyBlock, arcLength) == 24 &&
              offsetof(ElectrifyBlock, arcThickness) == 40 && offsetof(ElectrifyBlock, reserved1) == 48 &&
              offsetof(ElectrifyBlock, glowWidth) == 56 && offsetof(ElectrifyBlock, glowOpacity) == 64 &&
              offsetof(ElectrifyBlock, radiateFromCenter) == 72 && offsetof(ElectrifyBlock, jaggedness) == 80 &&
              offsetof(ElectrifyBlock, reserved2) == 88 && offsetof(ElectrifyBlock, branching) == 96 &&
              offsetof(ElectrifyBlock, branchSpread) == 104 && offsetof(ElectrifyBlock, randomSeed) == 112 &&
              offsetof(ElectrifyBlock, glowFromObject) == 114 && offsetof(ElectrifyBlock, innerColor) == 116 &&
              offsetof(ElectrifyBlock, outerColor) == 126);

// Where arcs spring from a mask's edge, in full-size pixels.
struct ArcPlacement {
  double startRadius = 1.0;
  double length = 1.0;
  double cellSize = 1.0;  // at most one arc per cell of this size
  int64_t seed = 0;
  bool radiateFromCenter = true;
};

// Adds an arc for every cell of the grid over `rect` that holds an edge
// pixel of `mask` and, radiating, faces away from the centre of `rect`,
// whose width also goes into every arc's seed. Pixels beyond the mask read
// 0, beyond `image` as the nearest pixel of the image. 0, or 1 when stopped.
int32_t PlaceArcs(ArcNetwork& network, const ByteMask& mask, const Rect& rect, const Rect& image,
                  const ArcPlacement& how, Abort_Tester* abort);

class Electrify : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(ElectrifyBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                        double scale) const override;
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Electrify"; }
  std::string HelpPage() const override { return "Electrify.html"; }
};

}  // namespace kv
