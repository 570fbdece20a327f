// Television: the picture on a worn cathode-ray screen. Scanlines, a vertical
// roll with a black gap between frames, a bulging screen, static, a ghost,
// rows torn sideways by a bad signal, and optionally a monochrome screen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "image/noise.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kTelevisionEffect = 13;

// Lives in the host's parameters handle between runs: the layout is fixed.
struct TelevisionBlock {
  int32_t filterId;
  double verticalShift;     // 0..100
  double scanlineStrength;  // 0..100
  Length scanlineThickness;
  double curvature;      // 0..100
  double staticAmount;   // 0..100
  double ghostStrength;  // 0..100
  double ghostOffset;    // 0..100
  double breakup;        // 0..100
  bool monochromeScreen;
  Color monochromeColor;
  Color backgroundColor;
  uint16_t randomSeed;
};
static_assert(sizeof(TelevisionBlock) == 104 && alignof(TelevisionBlock) == 8);
static_assert(offsetof(TelevisionBlock, verticalShift) == 8 && offsetof(TelevisionBlock, scanlineStrength) == 16 &&
              offsetof(TelevisionBlock, scanlineThickness) == 24 && offsetof(TelevisionBlock, curvature) == 40 &&
              offsetof(TelevisionBlock, staticAmount) == 48 && offsetof(TelevisionBlock, ghostStrength) == 56 &&
              offsetof(TelevisionBlock, ghostOffset) == 64 && offsetof(TelevisionBlock, breakup) == 72 &&
              offsetof(TelevisionBlock, monochromeScreen) == 80 && offsetof(TelevisionBlock, monochromeColor) == 82 &&
              offsetof(TelevisionBlock, backgroundColor) == 92 && offsetof(TelevisionBlock, randomSeed) == 102);

class Television : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(TelevisionBlock); }
  bool BlendsWithSelection() const override { return false; }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  void InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void* block,
                        double scale) const override;
  int32_t PrepareRender(RenderContext& context) override;
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string SettingsName() const override { return "Television"; }
  std::string HelpPage() const override { return "Television.html"; }

 private:
  // The render for N channels, the last of them alpha when Alpha is set.
  template <int32_t N, bool Alpha>
  int32_t RenderAs(RenderContext& context);

  NoiseField breakupNoise;
  NoiseField staticNoise;
};

}  // namespace kv
