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
// Rows burnt at once, at least: the distance measurements' memory spans a
// band and its margin, and each band measures its margin again, so bands are
// many margins high to keep that repeated work small.
constexpr int32_t kWorkRows = 512;
constexpr int32_t kBandMargins = 16;

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
  // The work reaches the band's width around a band of the tile's rows: the
  // burn's masks, and each distance measurement's copy of the mask and its
  // map; the band's picture is kept only where it passes.
  const int32_t margin = Derive(c).margin;
  const int32_t height = std::max(kWorkRows, kBandMargins * margin);
  const Rect band{tile.left, tile.top, tile.right, tile.top + std::min(tile.Height(), height)};
  const uint64_t work = uint64_t(band.Inflate(margin, margin).Area());
  return work * 12 + uint64_t(tile.Area()) * uint64_t(std::max(OutputPlanes(*c.host), 1)) / 4;
}

namespace {

// What the burn of one band of rows needs from the render.
struct Burn {
  const RenderContext& c;
  const BurntEdgesBlock& b;
  const Sizes& z;
  const FBMField& edgeNoise;
  const NoiseField& burnNoise;
  const CreateBurnTransform::Settings& settings;
  BandImage& burnImage;
};

// Erodes the selection into `burnMask` over the rows of `rows` and the
// margin around them, then paints the band and the fill of those rows. The
// measurements reach no further than the margin, so bands agree with the
// whole render.
int32_t BurnRows(const Burn& w, const Rect& rows, ByteMask& burnMask) {
  const RenderContext& c = w.c;
  const Sizes& z = w.z;
  const double s = c.scale;
  const Rect work = rows.Inflate(z.margin, z.margin);
  int32_t err = burnMask.Allocate(work, ByteMask::kFormat);
  if (err != 0) return err;
  burnMask.Fill(0);
  const double progressFrom = 0.9 * (rows.top - c.output->bounds.top) / c.output->bounds.Height();
  const double progressTo = 0.9 * (rows.bottom - c.output->bounds.top) / c.output->bounds.Height();
  {
    const double offset = -z.contract / s;
    const double reach = offset > 0.0 ? std::max(z.W - offset, offset) : z.W - offset;
    CreateEdgeTransform edge(w.edgeNoise, burnMask, offset, z.W);
    // The whole selection, not only the tile's share, or the tile's border
    // would count as the selection's edge; a preview sees it at its scale.
    const ByteMask& whole = FullSizeSelection(c);
    ByteMask scaled;
    if (s != 1.0 && (err = MaskAtScale(whole, s, work, scaled)) != 0) return err;
    edge.Init(err, s != 1.0 ? scaled : whole, reach, work, 0.0, 0.0);
    if (err == 0) edge.Run(err, c.abortTester, nullptr, 0.0, 1.0);
    if (err != 0) return err;
  }
  // The transform reads its own copy of the burn mask, so the hooks may
  // write the mask as they go.
  CreateBurnTransform burn(w.burnNoise, burnMask, w.burnImage, *c.output, w.settings);
  burn.Init(err, burnMask, w.settings.end, rows, 0.0, 0.9);
  if (err == 0) burn.Run(err, c.abortTester, c.progress, progressFrom, progressTo);
  return err;
}

}  // namespace

int32_t BurntEdges::Render(RenderContext& c) {
  const BurntEdgesBlock& b = *static_cast<const BurntEdgesBlock*>(c.block);
  ByteImage& out = *c.output;
  const PixelFormat& f = out.format;
  const double s = c.scale;
  const Sizes z = Derive(c);

  int32_t err = 0;
  BandImage burnImage(out.bounds, Black(f));
  FBMField edgeNoise;
  edgeNoise.Init(err, {z.E, z.E}, 0.5, b.randomSeed, 0.5, s, false, 0, 0);
  if (err != 0) return err;
  NoiseField burnNoise;
  burnNoise.Init(err, {1.5 * z.burnWidth, 1.5 * z.burnWidth}, 0.5, b.randomSeed, s, false, 0, 0);
  if (err != 0) return err;

  const BytePixel black = Black(f);
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
  const Burn burn{c, b, z, edgeNoise, burnNoise, settings, burnImage};

  // The band blurred a strip of rows at a time, over the tiles it keeps and
  // as many rows and columns around them as the blur reaches: outside the
  // band the burn image is black, as far as the blur can see.
  const int32_t reach = int32_t(BlurKernel(kBlurRadius).size()) - 1;
  const Rect& r = out.bounds;
  ByteImage strip;
  // Rows from `split` on take the newer band's mask, which beyond its band
  // holds the eroded selection only.
  const auto composite = [&](int32_t from, int32_t to, const ByteMask& older, const ByteMask& newer, int32_t split) {
    for (int32_t top = from; top < to; top += kStripRows) {
      const int32_t bottom = std::min(to, top + kStripRows);
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
        const ByteMask& burnMask = y >= split ? newer : older;
        const uint8_t* m = burnMask.Address(r.left, y);
        uint8_t* o = out.Row(y);
        for (int32_t x = r.left; x < r.right; ++x, ++m, o += f.channelCount) {
          const double a = *m / 255.0 * b.opacity / 100.0;
          if (a > 0.0) MoveToward(o, blurred.Contains(x, y) ? strip.Address(x, y) : black.values, a, f);
        }
        ReportProgress(c.progress, 0.9, 1.0, double(y - r.top + 1) / r.Height());
      }
    }
    return 0;
  };

  // Bands of rows are burnt in turn, so the measurements' masks and maps
  // span a band and its margin, not the image. A row is put over the output
  // once the band below it, which its blur reaches, is painted; the last
  // band's mask is kept until then.
  ByteMask burnMask, previous;
  int32_t done = r.top;
  const int32_t height = std::max(kWorkRows, kBandMargins * z.margin);
  for (int32_t top = r.top; top < r.bottom; top += height) {
    const Rect rows{r.left, top, r.right, std::min(r.bottom, top + height)};
    std::swap(burnMask, previous);
    if ((err = BurnRows(burn, rows, burnMask)) != 0) return err;
    const int32_t ready = rows.bottom == r.bottom ? r.bottom : std::max(done, rows.bottom - reach);
    if ((err = composite(done, ready, previous, burnMask, rows.top)) != 0) return err;
    done = ready;
  }
  ReportProgress(c.progress, 0.0, 1.0, 1.0);
  return 0;
}

}  // namespace kv
