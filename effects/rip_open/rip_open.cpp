#include "effects/rip_open/rip_open.h"

#include <cmath>
#include <cstring>

#include "parameters/effect_parameters.h"
#include "framework/render_selection.h"
#include "effects/rip_open/flaps.h"
#include "effects/rip_open/tear_points.h"
#include "parameters/parameters.h"
#include "host/host_calls.h"

namespace kv {

namespace {
constexpr uint32_t kUndersideKey = ps::FourCC("PPpc");

// Pixels per inch of the image the host is filtering.
double HostResolution() {
  const ps::FilterRecord* host = Session().record;
  return host != nullptr ? ResolutionFromFixed(host->imageHRes) : 72.0;
}
}  // namespace

// --- parameter block and list ------------------------------------------------

void PeelingPaint::SetDefaults(void* block) const {
  RipOpenBlock& b = *static_cast<RipOpenBlock*>(block);
  b = {};
  b.filterId = kRipOpenEffect;
  b.curlSize = 60.0;
  b.curlAmount = 40.0;
  b.curlVariation = 80.0;
  b.edgeRoughness = 5.0;
  b.shadowWidth = {1.0, kUnitMillimeters};
  b.insideFill = {kFillTransparent, Color::RGB(255, 255, 255)};
  b.sameUnderside = false;
  b.undersideColor = Color::RGB(255, 255, 255);
  b.randomSeed = 5829;
}

int32_t PeelingPaint::BuildParameters(ParameterList& list, void* block) {
  RipOpenBlock& b = *static_cast<RipOpenBlock*>(block);
  int32_t err = AddSlider(list, "Curl Size", ps::FourCC("PPsp"), &b.curlSize, 1.0, 100.0);
  if (err == 0) err = AddSlider(list, "Curl Amount", ps::FourCC("PPcr"), &b.curlAmount, 1.0, 100.0);
  if (err == 0) err = AddSlider(list, "Curl Variation", ps::FourCC("PPcv"), &b.curlVariation);
  if (err == 0) err = AddSlider(list, "Edge Roughness", ps::FourCC("PPns"), &b.edgeRoughness);
  if (err == 0) {
    auto shadow = MakeParameter<LengthSliderParameter>("Shadow Width", ps::FourCC("PPsh"), &b.shadowWidth);
    shadow->minimum = 0.0;
    shadow->maximum = 20.0;
    err = list.AddParameter(std::move(shadow));
  }
  if (err == 0) err = list.AddParameter(MakeLayerFill("Inside Fill", &b.insideFill));
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Same Underside", ps::FourCC("PPts"), &b.sameUnderside);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Underside Color", kUndersideKey, &b.undersideColor);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

int32_t PeelingPaint::UpdateParameterStates(ParameterList& list, const void* block) {
  const RipOpenBlock& b = *static_cast<const RipOpenBlock*>(block);
  for (auto& p : list) p->Enable(!p->HasKey(kUndersideKey) || !b.sameUnderside);
  return 0;
}

// --- the cached result -----------------------------------------------------------

std::unique_ptr<uint8_t[]> PeelingPaint::NewParameterCache() const {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[sizeof(RipOpenBlock)]);
}

void PeelingPaint::StoreParameterCache(const void* block, void* cache) const {
  RipOpenBlock b;
  std::memcpy(&b, block, sizeof b);
  // The shadow is as wide as it is in pixels, whatever the unit.
  b.shadowWidth = {LengthToPixels(b.shadowWidth, HostResolution()), kUnitPixels};
  std::memcpy(cache, &b, sizeof b);
}

bool PeelingPaint::ParameterCacheMatches(const void* cache, const void* block) const {
  RipOpenBlock a, b;
  std::memcpy(&a, cache, sizeof a);
  std::memcpy(&b, block, sizeof b);
  return a.curlSize == b.curlSize && a.curlAmount == b.curlAmount && a.curlVariation == b.curlVariation &&
         a.edgeRoughness == b.edgeRoughness &&
         a.shadowWidth.amount == LengthToPixels(b.shadowWidth, HostResolution()) &&
         a.insideFill == b.insideFill && a.sameUnderside == b.sameUnderside &&
         a.undersideColor == b.undersideColor && a.randomSeed == b.randomSeed;
}

// --- render ------------------------------------------------------------------

int32_t PeelingPaint::RenderEntireImage(RenderContext& c) {
  const RipOpenBlock& b = *static_cast<const RipOpenBlock*>(c.block);
  const ByteMask& selection = FullSizeSelection(c);
  const Rect bounds = selection.bounds;
  if (bounds.IsEmpty()) return 0;
  RandomNumberGenerator rng(b.randomSeed);

  // How deep the selection is, and its edge pixels in the order the front
  // reaches them.
  const double diagonal = std::hypot(bounds.Width(), bounds.Height());
  std::vector<Point> tears;
  {
    PeelingPaintOutside_PrecisionBevel depth;
    int32_t err = 0;
    depth.Init(err, selection, diagonal, bounds, true, 0.0, 0.0);
    if (err == 0) depth.Run(err, c.abortTester, c.progress, 0.0, 0.4);
    if (err != 0) return err;
    const TearShape shape{std::clamp(b.curlSize, 1.0, 100.0) / 100.0,
                          std::clamp(b.curlVariation, 0.0, 100.0) / 100.0};
    try {
      tears = PickTearPoints(depth.candidates, depth.Average(), shape, bounds, rng);
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
  }
  // Fewer than two tears open nothing.
  if (tears.size() < 2) return 0;

  FlapLook look;
  look.amount = std::clamp(b.curlAmount, 1.0, 100.0) / 100.0;
  look.variation = std::clamp(b.curlVariation, 0.0, 100.0) / 100.0;
  look.roughness = std::clamp(b.edgeRoughness, 0.0, 100.0) * 0.01 * 0.01 * 2.0 * (bounds.Width() + bounds.Height());
  look.shadowWidth = std::clamp(LengthToPixels(b.shadowWidth, HostResolution()), 0.0, 20.0);
  look.sameUnderside = b.sameUnderside;
  look.fill = b.insideFill;
  look.underside = b.undersideColor;
  return DrawFlaps(*c.input, *c.output, selection, tears, look, rng, c.abortTester, c.progress, 0.4, 1.0);
}

}  // namespace kv
