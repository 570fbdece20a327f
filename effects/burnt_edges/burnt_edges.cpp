#include "effects/burnt_edges/burnt_edges.h"

#include <algorithm>
#include <cmath>

#include "effects/burnt_edges/burn_transforms.h"
#include "framework/render_selection.h"
#include "host/host_color.h"
#include "host/pixel_layout.h"
#include "image/blur.h"
#include "parameters/effect_parameters.h"
#include "parameters/parameters.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void BurntEdges::SetDefaults(void* block) const {
  BurntEdgesBlock& b = *static_cast<BurntEdgesBlock*>(block);
  b = {};
  b.filterId = kBurntEdgesEffect;
  b.contract = {0.0, kUnitCentimeters};
  b.burnWidth = {0.12, kUnitInches};
  b.burnRoughness = 1.0;
  b.hollowEdges = false;
  b.burnInside = false;
  b.burnColor = Color::RGB(160, 130, 64);
  b.fill = {kFillTransparent, Color::RGB(210, 210, 210)};
  b.opacity = 75.0;
  b.randomSeed = 4842;
}

int32_t BurntEdges::BuildParameters(ParameterList& list, void* block) {
  BurntEdgesBlock& b = *static_cast<BurntEdgesBlock*>(block);
  auto contract = MakeParameter<LengthSliderParameter>("Contract", ps::FourCC("BrdT"), &b.contract);
  contract->minimum = -100.0;
  contract->maximum = 100.0;
  int32_t err = list.AddParameter(std::move(contract));
  if (err == 0) {
    auto width = MakeParameter<LengthSliderParameter>("Burn Width", ps::FourCC("BRwi"), &b.burnWidth);
    width->minimum = 2.0;
    width->maximum = 300.0;
    width->SetTrackSplit(0.8, 80.0);
    err = list.AddParameter(std::move(width));
  }
  if (err == 0) err = AddSlider(list, "Burn Roughness", ps::FourCC("Scl "), &b.burnRoughness, 1.0, 100.0);
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Hollow Edges", ps::FourCC("BRsu"), &b.hollowEdges);
  if (err == 0) err = AddParameter<CheckboxParameter>(list, "Burn Inside", ps::FourCC("BRin"), &b.burnInside);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Burn Color", ps::FourCC("BRco"), &b.burnColor);
  if (err == 0) err = list.AddParameter(MakeLayerFill("Fill Inside Burn", &b.fill));
  if (err == 0) err = AddSlider(list, "Burn Overall Opacity", ps::FourCC("STOo"), &b.opacity, 1.0, 100.0);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

Rect BurntEdges::InputAreaFor(const Rect& area, const void*, double) const { return WholeImage(area); }

void BurntEdges::TileInputArea(const Rect&, const Rect& area, const void* block, double scale, Rect& neededInput,
                               Rect&) const {
  // The edge may pass anywhere: every tile reads the whole image.
  neededInput = InputAreaFor(area, block, scale);
}

// --- render ------------------------------------------------------------------

namespace {

constexpr double kBlurRadius = 3.0;
constexpr int32_t kStripRows = 64;

// Lengths derived from the block, in full-size pixels unless said otherwise.
struct Sizes {
  double burnWidth;  // BW
  double contract;
  double W;     // burn width in render pixels
  double E;     // cell size of the edge noise
  double H;     // the hollow gap before the band, render pixels
  double end;   // where the band ends, render pixels
  int32_t margin;  // how far the eroded edge is worked out past the tile, render pixels
};

Sizes Derive(const BurntEdgesBlock& b, double resolution, double s) {
  Sizes z{};
  // An unclamped block must not give empty noise cells or a band of no width.
  z.burnWidth = std::max(LengthToPixels(b.burnWidth, resolution), 1.0);
  z.contract = LengthToPixels(b.contract, resolution);
  const double R = b.burnRoughness * 0.9 * 0.01;
  z.W = z.burnWidth / s;
  z.E = std::max(1.0, z.burnWidth * (1.0 - 0.99 * R));
  z.H = b.hollowEdges ? 0.5 * std::max(1.0, z.W * (1.0 - 0.99 * R)) + 1.0 : 0.0;
  z.end = z.H + 4.0 * z.burnWidth / s;
  z.margin = std::max(1, int32_t(std::floor((1.0 + z.H + z.W) - z.contract / s + 4.0 * z.burnWidth / s + 0.5)));
  return z;
}

BytePixel Black(const PixelFormat& f) {
  BytePixel p(f);
  std::fill_n(p.values, 5, uint8_t(0));
  if (f.hasAlpha) p[f.colorChannels] = 255;
  return p;
}

Sizes Derive(const RenderContext& c) {
  return Derive(*static_cast<const BurntEdgesBlock*>(c.block),
                c.host != nullptr ? ResolutionFromFixed(c.host->imageHRes) : 72.0, c.scale);
}

}  // namespace

uint64_t BurntEdges::RenderMemory(const Rect& tile, const RenderContext& c) const {
  // The work reaches the band's width around the tile: the burn's mask and
  // picture, and each distance measurement's copy of the mask and its map.
  const int32_t margin = Derive(c).margin;
  const uint64_t work = uint64_t(tile.Inflate(margin, margin).Area());
  return work * uint64_t(std::max(OutputPlanes(*c.host), 1) + 10);
}

int32_t BurntEdges::Render(RenderContext& c) {
  const BurntEdgesBlock& b = *static_cast<const BurntEdgesBlock*>(c.block);
  ByteImage& out = *c.output;
  const PixelFormat& f = out.format;
  const double s = c.scale;
  const Sizes z = Derive(c);

  int32_t err = 0;
  const Rect work = out.bounds.Inflate(z.margin, z.margin);
  ByteMask burnMask(err, work);
  if (err != 0) return err;
  BandImage burnImage(out.bounds, Black(f));

  FBMField edgeNoise;
  edgeNoise.Init(err, {z.E, z.E}, 0.5, b.randomSeed, 0.5, s, false, 0, 0);
  if (err != 0) return err;
  NoiseField burnNoise;
  burnNoise.Init(err, {1.5 * z.burnWidth, 1.5 * z.burnWidth}, 0.5, b.randomSeed, s, false, 0, 0);
  if (err != 0) return err;

  const BytePixel black = Black(f);
  burnMask.Fill(0);

  {
    const double offset = -z.contract / s;
    const double reach = offset > 0.0 ? std::max(z.W - offset, offset) : z.W - offset;
    CreateEdgeTransform edge(edgeNoise, burnMask, offset, z.W);
    // The whole selection, not only the tile's share, or the tile's border
    // would count as the selection's edge; a preview sees it at its scale.
    const ByteMask& whole = FullSizeSelection(c);
    ByteMask scaled;
    if (s != 1.0 && (err = MaskAtScale(whole, s, work, scaled)) != 0) return err;
    edge.Init(err, s != 1.0 ? scaled : whole, reach, work, 0.0, 0.0);
    if (err == 0) edge.Run(err, c.abortTester, nullptr, 0.0, 1.0);
    if (err != 0) return err;
  }
  {
    uint32_t mode = b.fill.mode;
    if (mode == kFillTransparent && !f.hasAlpha) mode = kFillWithColor;
    CreateBurnTransform::Settings settings;
    settings.start = z.H;
    settings.end = z.end;
    settings.burnInside = b.burnInside;
    settings.writeFill = mode != kFillKeepOriginal;
    settings.edgeColor = black;
    settings.burnColor = HostColorPixel(b.burnColor, f, 255);
    settings.fillPixel = HostColorPixel(b.fill.color, f, mode == kFillTransparent ? 0 : 255);
    // The transform reads its own copy of the burn mask, so the hooks may
    // write the mask as they go.
    CreateBurnTransform burn(burnNoise, burnMask, burnImage, out, settings);
    burn.Init(err, burnMask, settings.end, out.bounds, 0.0, 0.9);
    if (err == 0) burn.Run(err, c.abortTester, c.progress, 0.0, 0.9);
    if (err != 0) return err;
  }

  // The band blurred a strip of rows at a time, over the tiles it keeps and
  // as many rows and columns around them as the blur reaches: outside the
  // band the burn image is black, as far as the blur can see.
  const int32_t reach = int32_t(BlurKernel(kBlurRadius).size()) - 1;
  const Rect& r = out.bounds;
  ByteImage strip;
  for (int32_t top = r.top; top < r.bottom; top += kStripRows) {
    const int32_t bottom = std::min(r.bottom, top + kStripRows);
    const Rect tiles = burnImage.TilesAcross(top - reach, bottom + reach);
    const Rect blurred = tiles.IsEmpty() ? Rect{} : Rect{tiles.left, top, tiles.right, bottom}.Inflate(reach, reach);
    if (!blurred.IsEmpty()) {
      if ((err = strip.Allocate(blurred, f)) != 0) return err;
      burnImage.CopyInto(strip);
      RowBuffer* rows = nullptr;
      if ((err = strip.RowView(rows)) != 0) return err;
      Blur(err, *rows, kBlurRadius, c.abortTester, false, nullptr, nullptr, 0.0, 1.0);
      if (err != 0) return err;
    }
    for (int32_t y = top; y < bottom; ++y) {
      if (c.ShouldAbort()) return kErrAborted;
      const uint8_t* m = burnMask.Address(r.left, y);
      uint8_t* o = out.Row(y);
      for (int32_t x = r.left; x < r.right; ++x, ++m, o += f.channelCount) {
        const double a = *m / 255.0 * b.opacity / 100.0;
        if (a > 0.0) MoveToward(o, blurred.Contains(x, y) ? strip.Address(x, y) : black.values, a, f);
      }
      ReportProgress(c.progress, 0.9, 1.0, double(y - r.top + 1) / r.Height());
    }
  }
  ReportProgress(c.progress, 0.0, 1.0, 1.0);
  return 0;
}

}  // namespace kv
