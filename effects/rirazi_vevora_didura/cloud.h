// Rirazi Vevora Didura: a layer of procedural clouds over the image or over a
// painted sky, seen flat, as a seamless tile, or as a cloud ceiling in
// perspective with haze towards the horizon.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/filter.h"
#include "parameters/parameter_values.h"

namespace kv {

constexpr int32_t kCloudEffect = 1;

// Values of CloudBlock::cloudMode.
enum CloudMode : int32_t { kCloudFluffy = 0, kCloudPuffy = 1, kCloudWispy = 2 };

// Lives in the host's parameters handle between runs: the layout is fixed.
struct CloudBlock {
  int32_t filterId;
  Length puffSize;       // 10..999 pixels
  double coverage;       // 0..100
  double edgeSharpness;  // 0..100
  Color baseColor;
  Color edgeColor;
  int32_t cloudMode;  // CloudMode
  uint16_t randomSeed;
  bool drawSky;
  Color zenithColor;
  Color horizonColor;
  double haze;         // 0..100
  double skyGradient;  // 0..100
  bool seamlessTile;
  bool perspective;
  double viewElevation;  // degrees, 0..90
  double fieldOfView;    // degrees, 5..90
  double cloudHeight;    // 1..100
};
static_assert(sizeof(CloudBlock) == 136 && alignof(CloudBlock) == 8);
static_assert(offsetof(CloudBlock, puffSize) == 8 && offsetof(CloudBlock, coverage) == 24 &&
              offsetof(CloudBlock, edgeSharpness) == 32 && offsetof(CloudBlock, baseColor) == 40 &&
              offsetof(CloudBlock, edgeColor) == 50 && offsetof(CloudBlock, cloudMode) == 60 &&
              offsetof(CloudBlock, randomSeed) == 64 && offsetof(CloudBlock, drawSky) == 66 &&
              offsetof(CloudBlock, zenithColor) == 68 && offsetof(CloudBlock, horizonColor) == 78 &&
              offsetof(CloudBlock, haze) == 88 && offsetof(CloudBlock, skyGradient) == 96 &&
              offsetof(CloudBlock, seamlessTile) == 104 && offsetof(CloudBlock, perspective) == 105 &&
              offsetof(CloudBlock, viewElevation) == 112 && offsetof(CloudBlock, fieldOfView) == 120 &&
              offsetof(CloudBlock, cloudHeight) == 128);

class Cloud : public Filter {
 public:
  uint32_t ParameterBlockSize() const override { return sizeof(CloudBlock); }
  bool NeedsSelectionOrLayer() const override { return false; }
  void SetDefaults(void* block) const override;
  void TileInputArea(const Rect& tile, const Rect& area, const void* block, double scale, Rect& neededInput,
                     Rect& neededExtra) const override;
  int32_t Render(RenderContext& context) override;
  int32_t BuildParameters(ParameterList& list, void* block) override;
  int32_t UpdateParameterStates(ParameterList& list, const void* block) override;
  std::string SettingsName() const override { return "LittleFluffyClouds"; }
  std::string HelpPage() const override { return "LittleFluffyClouds.html"; }
};

}  // namespace kv
