// Rip Open: the selection torn open from its edge. The inside gives way to a
// fill (a colour, transparency or the untouched picture) and flaps of the
// picture, one per tear point along the edge, curl back towards the edge,
// showing their underside and casting a shadow.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kRipOpenEffect = 10;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct RipOpenBlock {
  int32_t filterId;
  double curlSize;       // 1..100
  double curlAmount;     // 1..100
  double curlVariation;  // 0..100
  double edgeRoughness;  // 0..100
  Length shadowWidth;    // 0..20 px
  LayerFill insideFill;
  bool sameUnderside;
  Color undersideColor;
  uint16_t randomSeed;
};
static_assert(sizeof(RipOpenBlock) == 88 && alignof(RipOpenBlock) == 8);
static_assert(offsetof(RipOpenBlock, curlSize) == 8 && offsetof(RipOpenBlock, curlAmount) == 16 &&
              offsetof(RipOpenBlock, curlVariation) == 24 && offsetof(RipOpenBlock, edgeRoughness) == 32 &&
              offsetof(RipOpenBlock, shadowWidth) == 40 && offsetof(RipOpenBlock, insideFill) == 56 &&
              offsetof(RipOpenBlock, sameUnderside) == 72 && offsetof(RipOpenBlock, undersideColor) == 74 &&
              offsetof(RipOpenBlock, randomSeed) == 84);

// The tears depend on the whole selection, so the result is computed once
// at full size and kept while the values it depends on stay.
class PeelingPaint : public FilterEntireImageRequired {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(RipOpenBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void*, double) const override { return WholeImage(area); }
  int32_t BuildParameters(ParameterList& list, void* block) override;
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string SettingsName() const override { return "RipOpen"; }
  std::string HelpPage() const override { return "RipOpen.html"; }

  std::unique_ptr<uint8_t[]> NewParameterCache() const override;
  void StoreParameterCache(const void* block, void* cache) const override;
  bool ParameterCacheMatches(const void* cache, const void* block) const override;
  int32_t RenderEntireImage(RenderContext& context) override;
};

}  // namespace kv
