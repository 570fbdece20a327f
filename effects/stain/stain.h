// Stain: the selection tinted as if a liquid had dried on it, a translucent
// blot with a darker, ragged rim and a mottled middle, or only a ragged ring
// along the selection's edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kStainEffect = 12;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct StainBlock {
  int32_t filterId;
  bool ringStain;
  Length edgeWidth;        // 3..999 px
  double roughness;        // percent
  double internalOpacity;  // percent
  double overallOpacity;   // percent, 1..100
  Color stainColor;
  uint16_t randomSeed;
};
static_assert(sizeof(StainBlock) == 64 && alignof(StainBlock) == 8);
static_assert(offsetof(StainBlock, ringStain) == 4 && offsetof(StainBlock, edgeWidth) == 8 &&
              offsetof(StainBlock, roughness) == 24 && offsetof(StainBlock, internalOpacity) == 32 &&
              offsetof(StainBlock, overallOpacity) == 40 && offsetof(StainBlock, stainColor) == 48 &&
              offsetof(StainBlock, randomSeed) == 58);

// Draws only on the selected side of the selection's edge, by itself.
class Stain : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(StainBlock); }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  // Expects `output` to hold the source pixels of the tile.
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Stain"; }
  std::string HelpPage() const override { return "Stain.html"; }
};

}  // namespace kv
