// Flag: the picture as a cloth flag in the wind. Two travelling waves and a
// noise term make a height field that displaces the cloth and shades it
// under a light; sides and corners may be attached, which calms the waves
// near them, and a background colour fills what the cloth no longer covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kFlagEffect = 7;

// Lives in the host's parameters handle between runs: the layout is fixed.
// The kept values have no control and are never read; they hold the block's
// layout.
struct FlagBlock {
  int32_t filterId;
  bool simplifiedMode;
  double shrink;  // 0..100, simplified mode only
  Length keptLength;
  double keptA[5];
  double windStrength;   // 0..100
  double windDirection;  // degrees
  double keptB[3];
  double movement;  // 0..100
  double keptC[2];
  bool keptFlags[2];
  double keptD;
  uint16_t randomSeed;
  Color backgroundColor;
  LayerFill keptFill;
  FlagConnections attachments;
  double increaseContrast;  // 0..100
  double lightDirection;    // degrees
};
static_assert(sizeof(FlagBlock) == 208 && alignof(FlagBlock) == 8);
static_assert(offsetof(FlagBlock, simplifiedMode) == 4 && offsetof(FlagBlock, shrink) == 8 &&
              offsetof(FlagBlock, keptLength) == 16 && offsetof(FlagBlock, keptA) == 32 &&
              offsetof(FlagBlock, windStrength) == 72 && offsetof(FlagBlock, windDirection) == 80 &&
              offsetof(FlagBlock, keptB) == 88 && offsetof(FlagBlock, movement) == 112 &&
              offsetof(FlagBlock, keptC) == 120 && offsetof(FlagBlock, keptFlags) == 136 &&
              offsetof(FlagBlock, keptD) == 144 && offsetof(FlagBlock, randomSeed) == 152 &&
              offsetof(FlagBlock, backgroundColor) == 154 && offsetof(FlagBlock, keptFill) == 164 &&
              offsetof(FlagBlock, attachments) == 180 && offsetof(FlagBlock, increaseContrast) == 192 &&
              offsetof(FlagBlock, lightDirection) == 200);

// Works on its own copy of the whole image at full size: the result is
// computed once per set of values and every preview is reduced from it.
class Flag : public FilterEntireImageRequired {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(FlagBlock); }
  bool PreviewStartsAtCorner() const override { return true; }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  Rect InputAreaFor(const Rect& area, const void* block, double scale) const override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string SettingsName() const override { return "Flag"; }
  std::string HelpPage() const override { return "Flag.html"; }

  std::unique_ptr<uint8_t[]> NewParameterCache() const override;
  void StoreParameterCache(const void* block, void* cache) const override;
  bool ParameterCacheMatches(const void* cache, const void* block) const override;
  int32_t RenderEntireImage(RenderContext& context) override;

 private:
  template <int32_t N, bool Alpha>
  int32_t RenderAs(RenderContext& context);
};

}  // namespace kv
