#include "effects/cracks/cracks.h"

#include <algorithm>

#include "effects/cracks/crack_network.h"
#include "effects/cracks/crack_relief.h"
#include "parameters/effect_parameters.h"
#include "framework/render_selection.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Cracks::SetDefaults(void* block) const {
  CracksBlock& b = *static_cast<CracksBlock*>(block);
  b = {};
  b.filterId = kCracksEffect;
  b.crackLength = {2.0, kUnitCentimeters};
  b.crackSpacing = {0.35, kUnitCentimeters};
  b.crackWidth = {0.09, kUnitCentimeters};
  b.crackDepth = 80.0;
  b.edgeRoughness = 49.0;
  b.lightDirection = 135.0;
  b.randomSeed = 3897;
}

namespace {

int32_t AddLength(ParameterList& list, const char* label, uint32_t key, Length* value, double minimum,
                  double maximum, double split = 0.0) {
  auto p = MakeParameter<LengthSliderParameter>(label, key, value);
  p->minimum = minimum;
  p->maximum = maximum;
  if (split > 0.0) p->SetTrackSplit(0.8, split);
  return list.AddParameter(std::move(p));
}

}  // namespace

int32_t Cracks::BuildParameters(ParameterList& list, void* block) {
  CracksBlock& b = *static_cast<CracksBlock*>(block);
  int32_t err = AddLength(list, "Crack Length", ps::FourCC("LIal"), &b.crackLength, 10.0, 2000.0, 200.0);
  if (err == 0) err = AddLength(list, "Crack Spacing", ps::FourCC("LIas"), &b.crackSpacing, 10.0, 600.0, 100.0);
  if (err == 0) err = AddLength(list, "Crack Width", ps::FourCC("LIgw"), &b.crackWidth, 1.0, 20.0);
  if (err == 0) err = AddSlider(list, "Crack Depth", ps::FourCC("Dpth"), &b.crackDepth, 1.0, 100.0);
  if (err == 0) err = AddSlider(list, "Edge Roughness", ps::FourCC("STir"), &b.edgeRoughness);
  if (err == 0) {
    auto direction = MakeParameter<DirectionParameter>("Light Direction", ps::FourCC("Drct"), &b.lightDirection);
    direction->text.help = "Direction help";
    err = list.AddParameter(std::move(direction));
  }
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

// --- render ------------------------------------------------------------------

int32_t Cracks::Render(RenderContext& c) {
  const CracksBlock& b = *static_cast<const CracksBlock*>(c.block);
  const double resolution = c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0;
  // An unclamped block must not give empty grid cells or cracks of no width.
  CrackGrowth growth;
  growth.length = std::max(LengthToPixels(b.crackLength, resolution), 1.0);
  growth.spacing = std::max(LengthToPixels(b.crackSpacing, resolution), 1.0);
  growth.width = std::max(LengthToPixels(b.crackWidth, resolution), 0.1);
  growth.seed = b.randomSeed;

  // The network grows over the whole selection at full size, so every tile
  // and every preview carves the same cracks.
  CrackNetwork network(FullSizeSelection(c), growth);
  if (int32_t err = network.Build(c.abortTester)) return err;
  ReportProgress(c.progress, 0.0, 1.0, 0.1);

  ReliefLook look;
  look.depth = b.crackDepth * 0.01;
  look.roughness = b.edgeRoughness * 0.01;
  look.direction = b.lightDirection;
  look.seed = b.randomSeed;
  return RenderRelief(c, network, look, 0.2, 1.0);
}

}  // namespace kv
