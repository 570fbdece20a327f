// Constellation: the picture as a field of soft stars, strung along its
// strong edges and scattered over its interior, each in the colour under it,
// some with twinkle rays, over a filled, kept or transparent background.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kConstellationEffect = 2;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct ConstellationBlock {
  int32_t filterId;
  LayerFill backgroundFill;
  Length starSize;             // 2..50 px
  double sizeVariation;        // percent
  double edgeStarDensity;      // 1..100
  double interiorStarDensity;  // 0..100
  double overdrive;            // percent
  double twinkleAmount;        // percent
  double twinkleRotation;      // degrees
  uint16_t randomSeed;
  uint8_t reserved[14];        // the block keeps its published size
};
static_assert(sizeof(ConstellationBlock) == 104 && alignof(ConstellationBlock) == 8);
static_assert(offsetof(ConstellationBlock, backgroundFill) == 4 && offsetof(ConstellationBlock, starSize) == 24 &&
              offsetof(ConstellationBlock, sizeVariation) == 40 && offsetof(ConstellationBlock, edgeStarDensity) == 48 &&
              offsetof(ConstellationBlock, interiorStarDensity) == 56 && offsetof(ConstellationBlock, overdrive) == 64 &&
              offsetof(ConstellationBlock, twinkleAmount) == 72 && offsetof(ConstellationBlock, twinkleRotation) == 80 &&
              offsetof(ConstellationBlock, randomSeed) == 88);

// Computes the whole picture at full size once; previews sample that result.
// Stars reach past the working area by up to five times their largest size.
class Constellation : public FilterEntireImageRequired {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(ConstellationBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "Constellation"; }
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string HelpPage() const override { return "Constellation.html"; }

  std::unique_ptr<uint8_t[]> NewParameterCache() const override;
  void StoreParameterCache(const void* block, void* cache) const override;
  bool ParameterCacheMatches(const void* cache, const void* block) const override;
  int32_t RenderEntireImage(RenderContext& context) override;
};

}  // namespace kv
