// Crumple: the picture as if printed on paper that was crumpled into a ball
// and flattened again. Creases from a cellular field, lit by a directional
// light; optionally the picture pulled in as the crumpled sheet shrank.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kCrumpleEffect = 4;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct CrumpleBlock {
  int32_t filterId;
  Length crumpleSize;    // 5..250 px
  double crumpleForce;   // 1..100
  bool distortImage;
  bool seamlessTile;
  Color backgroundColor;
  uint16_t randomSeed;
  Lighting lighting;     // inclination 45..90
  double lightBoost;     // 0..100
};
static_assert(sizeof(CrumpleBlock) == 104 && alignof(CrumpleBlock) == 8);
static_assert(offsetof(CrumpleBlock, crumpleSize) == 8 && offsetof(CrumpleBlock, crumpleForce) == 24 &&
              offsetof(CrumpleBlock, distortImage) == 32 && offsetof(CrumpleBlock, seamlessTile) == 33 &&
              offsetof(CrumpleBlock, backgroundColor) == 34 && offsetof(CrumpleBlock, randomSeed) == 44 &&
              offsetof(CrumpleBlock, lighting) == 48 && offsetof(CrumpleBlock, lightBoost) == 96);

// Reads the whole image and lights through the selection by itself.
class Crumple : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(CrumpleBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  void TileInputArea(const Rect& tile, const Rect& area, const void* block, double scale, Rect& neededInput,
                     Rect& neededExtra) const override;
  // Expects `output` to hold the source pixels of the tile.
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string SettingsName() const override { return "Crumple"; }
  std::string HelpPage() const override { return "Crumple.html"; }
};

}  // namespace kv
