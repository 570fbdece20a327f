// Lightning: one bolt over the image, a jagged main arc from a start point to
// an end point with branches that branch again, a glow round every arc and
// flashes of light where the bolt starts and, untapered, where it ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kLightningEffect = 8;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct LightningBlock {
  int32_t filterId;
  bool taperMainArc;
  double arcThickness;  // 1..100
  double reserved1;
  double flashSize;     // 0..100
  double glowWidth;     // 0..100
  double glowOpacity;   // 0..100
  double jaggedness;    // 0..100
  double reserved2;
  double branching;     // 0..100
  double branchSpread;  // 0..100
  uint16_t randomSeed;
  Color innerColor;
  Color outerColor;
  PointD origin;       // fractions of the working area
  PointD destination;  // fractions of the working area
};
static_assert(sizeof(LightningBlock) == 136 && alignof(LightningBlock) == 8);
static_assert(offsetof(LightningBlock, taperMainArc) == 4 && offsetof(LightningBlock, arcThickness) == 8 &&
              offsetof(LightningBlock, reserved1) == 16 && offsetof(LightningBlock, flashSize) == 24 &&
              offsetof(LightningBlock, glowWidth) == 32 && offsetof(LightningBlock, glowOpacity) == 40 &&
              offsetof(LightningBlock, jaggedness) == 48 && offsetof(LightningBlock, reserved2) == 56 &&
              offsetof(LightningBlock, branching) == 64 && offsetof(LightningBlock, branchSpread) == 72 &&
              offsetof(LightningBlock, randomSeed) == 80 && offsetof(LightningBlock, innerColor) == 82 &&
              offsetof(LightningBlock, outerColor) == 92 && offsetof(LightningBlock, origin) == 104 &&
              offsetof(LightningBlock, destination) == 120);

class Lightning : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(LightningBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                        double scale) const override;
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Lightning"; }
  std::string HelpPage() const override { return "Lightning.html"; }
};

}  // namespace kv
