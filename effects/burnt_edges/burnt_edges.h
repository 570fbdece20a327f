// Burnt Edges: the selection's edge eaten away by fractal noise, the area
// beyond it filled, and a scorched band with a soft falloff along the new edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kBurntEdgesEffect = 0;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct BurntEdgesBlock {
  int32_t filterId;
  Length contract;       // -100..100 px; positive moves the edge inward
  Length burnWidth;      // 2..300 px
  double burnRoughness;  // 1..100
  bool hollowEdges;
  bool burnInside;
  Color burnColor;
  LayerFill fill;
  double opacity;  // percent, 1..100
  uint16_t randomSeed;
};
static_assert(sizeof(BurntEdgesBlock) == 96 && alignof(BurntEdgesBlock) == 8);
static_assert(offsetof(BurntEdgesBlock, contract) == 8 && offsetof(BurntEdgesBlock, burnWidth) == 24 &&
              offsetof(BurntEdgesBlock, burnRoughness) == 40 && offsetof(BurntEdgesBlock, hollowEdges) == 48 &&
              offsetof(BurntEdgesBlock, burnInside) == 49 && offsetof(BurntEdgesBlock, burnColor) == 50 &&
              offsetof(BurntEdgesBlock, fill) == 60 && offsetof(BurntEdgesBlock, fill.color) == 64 &&
              offsetof(BurntEdgesBlock, opacity) == 80 && offsetof(BurntEdgesBlock, randomSeed) == 88);

// Masks by itself: it renders the whole image in one piece, reading the
// selection around every edge, and writes only the pixels it changes.
class BurntEdges : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(BurntEdgesBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  void TileInputArea(const Rect& tile, const Rect& area, const void* block, double scale, Rect& neededInput,
                     Rect& neededExtra) const override;
  // Expects `output` to hold the source pixels of the tile.
  int32_t Render(RenderContext& context) override;
  uint64_t RenderMemory(const Rect& tile, const RenderContext& context) const override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "BurntEdges"; }
  std::string HelpPage() const override { return "BurntEdges.html"; }
};

}  // namespace kv
