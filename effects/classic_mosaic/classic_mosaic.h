// Classic Mosaic: the picture as small flat-coloured tiles set in grout, laid
// in rows that run along the picture's strong edges and the selection's
// border, ring after ring away from them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kClassicMosaicEffect = 9;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct MosaicBlock {
  int32_t filterId;
  Length tileSize;          // 4..100 px
  double edgeSensitivity;   // 1..100
  double groutWidth;        // 0..100
  Color groutColor;
  uint16_t randomSeed;
};
static_assert(sizeof(MosaicBlock) == 56 && alignof(MosaicBlock) == 8);
static_assert(offsetof(MosaicBlock, tileSize) == 8 && offsetof(MosaicBlock, edgeSensitivity) == 24 &&
              offsetof(MosaicBlock, groutWidth) == 32 && offsetof(MosaicBlock, groutColor) == 40 &&
              offsetof(MosaicBlock, randomSeed) == 50);

// Lays the whole picture at full size once; previews sample that result.
class Mosaic : public FilterEntireImageRequired {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(MosaicBlock); }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  std::string SettingsName() const override { return "ClassicMosaic"; }
  std::string HelpPage() const override { return "ClassicMosaic.html"; }

  std::unique_ptr<uint8_t[]> NewParameterCache() const override;
  void StoreParameterCache(const void* block, void* cache) const override;
  bool ParameterCacheMatches(const void* cache, const void* block) const override;
  int32_t RenderEntireImage(RenderContext& context) override;
};

}  // namespace kv
