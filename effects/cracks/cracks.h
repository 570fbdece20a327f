// Cracks: a network of cracks grown inward from the selection's edge, like
// drying mud or crazed paint, carved into a relief and lit by a low light
// with shadows. Where a crack runs out through the edge it opens the layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kCracksEffect = 3;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct CracksBlock {
  int32_t filterId;
  Length crackLength;     // 10..2000 px
  Length crackSpacing;    // 10..600 px
  Length crackWidth;      // 1..20 px
  double crackDepth;      // 1..100
  double edgeRoughness;   // 0..100
  double lightDirection;  // degrees
  uint16_t randomSeed;
};
static_assert(sizeof(CracksBlock) == 88 && alignof(CracksBlock) == 8);
static_assert(offsetof(CracksBlock, crackLength) == 8 && offsetof(CracksBlock, crackSpacing) == 24 &&
              offsetof(CracksBlock, crackWidth) == 40 && offsetof(CracksBlock, crackDepth) == 56 &&
              offsetof(CracksBlock, edgeRoughness) == 64 && offsetof(CracksBlock, lightDirection) == 72 &&
              offsetof(CracksBlock, randomSeed) == 80);

// Draws by itself, through the selection as it lights: unselected pixels
// keep their colour.
class Cracks : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(CracksBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  // Expects `output` to hold the source pixels of the tile.
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Cracks"; }
  std::string HelpPage() const override { return "Cracks.html"; }
};

}  // namespace kv
