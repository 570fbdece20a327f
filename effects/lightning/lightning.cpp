#include "effects/lightning/lightning.h"

#include <algorithm>
#include <cmath>

#include "effects/lightning/arc_engine.h"
#include "effects/lightning/arc_parameters.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Lightning::SetDefaults(void* block) const {
  LightningBlock& b = *static_cast<LightningBlock*>(block);
  b = {};
  b.filterId = kLightningEffect;
  b.taperMainArc = true;
  b.arcThickness = 16.0;
  b.reserved1 = 4.0;
  b.flashSize = 50.0;
  b.glowWidth = 71.0;
  b.glowOpacity = 73.0;
  b.jaggedness = 92.0;
  b.reserved2 = 40.0;
  b.branching = 90.0;
  b.branchSpread = 36.0;
  b.randomSeed = 5917;
  b.innerColor = Color::RGB(255, 255, 255);
  b.outerColor = Color::RGB(211, 251, 255);
  b.origin = {0.002, 0.0};
  b.destination = {0.958, 0.922};
}

int32_t Lightning::BuildParameters(ParameterList& list, void* block) {
  LightningBlock& b = *static_cast<LightningBlock*>(block);
  if (int32_t err = list.AddPage("Glow")) return err;
  list.dialogHelp = "Lightning Adjustment Help";
  int32_t err = AddParameter<CheckboxParameter>(list, "Taper Main Arc", ps::FourCC("LItm"), &b.taperMainArc);
  if (err == 0) err = AddArcShape(list, &b.arcThickness, &b.jaggedness, &b.branching, &b.branchSpread);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  if (err == 0) err = AddSlider(list, "Flash Size", ps::FourCC("LIfs"), &b.flashSize, 0.0, 100.0, 1);
  if (err == 0) err = AddArcGlow(list, &b.glowWidth, &b.glowOpacity, &b.innerColor, &b.outerColor);
  // The two ends of the bolt are markers dragged in the preview, not labelled
  // controls; their names are what the markers and the command line call them.
  if (err == 0) err = AddParameter<PositionParameter>(list, "Start", ps::FourCC("LIor"), &b.origin);
  if (err == 0) err = AddParameter<PositionParameter>(list, "End", ps::FourCC("LIde"), &b.destination);
  return err;
}

Rect Lightning::InputAreaFor(const Rect& area, const void*, double) const { return WholeImage(area); }

void Lightning::InputAreaForTile(const Rect& tile, Rect& neededInput, Rect& neededExtra, const void*,
                                 double) const {
  // The bolt is drawn over the output's own pixels.
  neededInput = tile;
  neededExtra = {};
}

// --- render ------------------------------------------------------------------

int32_t Lightning::Render(RenderContext& c) {
  const LightningBlock& b = *static_cast<const LightningBlock*>(c.block);
  const Rect& area = *c.area;
  // A script or a settings file may hold any position; beyond the reach the
  // bolt's length, width and glow would grow without end.
  const Rect reach = PositionReach(*c.imageBounds);
  const auto toPixels = [&area, &reach](PointD f) {
    return PointD{std::clamp(area.left + f.x * area.Width(), double(reach.left), double(reach.right)),
                  std::clamp(area.top + f.y * area.Height(), double(reach.top), double(reach.bottom))};
  };
  const PointD from = toPixels(b.origin);
  PointD to = toPixels(b.destination);
  if (from == to) to = {to.x + 3.0, to.y + 3.0};

  const double mainLength = std::hypot(to.x - from.x, to.y - from.y);
  ArcLook look;
  look.coreRadius = std::max(2.0, b.arcThickness / 100.0 * 0.04 * mainLength);
  look.glowRadius = look.coreRadius * 0.1 * b.glowWidth;
  look.flashFactor = b.flashSize / 100.0 * 0.9 + 0.1;
  look.glowOpacity = b.glowOpacity / 100.0;
  look.inner = b.innerColor;
  look.outer = b.outerColor;

  ArcNetwork network(*c.imageBounds, b.branching, b.branchSpread, b.jaggedness, 4.0);
  ReportProgress(c.progress, 0.0, 1.0, 0.1);
  const double endRadius = b.taperMainArc ? 0.0 : look.coreRadius / 2;
  network.AddMainArc({from.x, from.y, look.coreRadius / 2, false}, {to.x, to.y, endRadius, false}, b.taperMainArc,
                     b.randomSeed);
  // The final render draws the whole image in one piece.
  return RenderArcs(network, *c.output, *c.imageBounds, c.scale, look, nullptr, c.abortTester, c.progress, 0.1, 1.0);
}

}  // namespace kv
