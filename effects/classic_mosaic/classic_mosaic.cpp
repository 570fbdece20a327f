#include "effects/classic_mosaic/classic_mosaic.h"

#include <algorithm>
#include <cstring>

#include "effects/classic_mosaic/edge_lines.h"
#include "effects/classic_mosaic/mosaic_tiles.h"
#include "parameters/effect_parameters.h"
#include "host/host_color.h"
#include "framework/render_selection.h"
#include "parameters/parameters.h"
#include "host/host_calls.h"
#include "image/pixel_ops.h"

namespace kv {

// --- parameter block and list ------------------------------------------------

void Mosaic::SetDefaults(void* block) const {
  MosaicBlock& b = *static_cast<MosaicBlock*>(block);
  b = {};
  b.filterId = kClassicMosaicEffect;
  b.tileSize = {0.35, kUnitCentimeters};
  b.edgeSensitivity = 50.0;
  b.groutWidth = 40.0;
  b.groutColor = Color::RGB(110, 110, 110);
  b.randomSeed = 1;
}

int32_t Mosaic::BuildParameters(ParameterList& list, void* block) {
  MosaicBlock& b = *static_cast<MosaicBlock*>(block);
  auto size = MakeParameter<LengthSliderParameter>("Tile Size", ps::FourCC("MOsi"), &b.tileSize);
  size->minimum = 4.0;
  size->maximum = 100.0;
  int32_t err = list.AddParameter(std::move(size));
  if (err == 0) err = AddSlider(list, "Grout Width", ps::FourCC("MOgw"), &b.groutWidth);
  if (err == 0) err = AddSlider(list, "Edge Sensitivity", ps::FourCC("MOet"), &b.edgeSensitivity, 1.0, 100.0);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Grout Color", ps::FourCC("MOgc"), &b.groutColor);
  if (err == 0) err = AddParameter<RandomSeedParameter>(list, "Random Seed", ps::FourCC("RndS"), &b.randomSeed);
  return err;
}

namespace {

// The tile size in full-size pixels at the image's resolution. An unclamped
// block must not give tiles of no size, nor tiles no image could hold.
double TilePixels(const MosaicBlock& b) {
  const ps::FilterRecord* host = Session().record;
  const double resolution = host != nullptr ? ResolutionFromFixed(host->imageHRes) : 72.0;
  return std::clamp(LengthToPixels(b.tileSize, resolution), 1.0, 4096.0);
}

}  // namespace

std::unique_ptr<uint8_t[]> Mosaic::NewParameterCache() const {
  auto cache = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[sizeof(MosaicBlock)]);
  if (cache) {
    MosaicBlock empty{};
    std::memcpy(cache.get(), &empty, sizeof empty);
  }
  return cache;
}

void Mosaic::StoreParameterCache(const void* block, void* cache) const {
  std::memcpy(cache, block, sizeof(MosaicBlock));
}

bool Mosaic::ParameterCacheMatches(const void* cache, const void* block) const {
  MosaicBlock a, b;
  std::memcpy(&a, cache, sizeof a);
  std::memcpy(&b, block, sizeof b);
  return TilePixels(a) == TilePixels(b) && a.edgeSensitivity == b.edgeSensitivity && a.groutWidth == b.groutWidth &&
         a.groutColor == b.groutColor && a.randomSeed == b.randomSeed;
}

// --- render ------------------------------------------------------------------

int32_t Mosaic::RenderEntireImage(RenderContext& c) {
  const MosaicBlock& b = *static_cast<const MosaicBlock*>(c.block);
  const ByteImage& in = *c.input;
  ByteImage& out = *c.output;
  // The whole selection, whatever piece the caller renders, seen over the
  // part of it that lies on the image.
  const ByteMask& whole = FullSizeSelection(c);
  const Rect A = whole.bounds.Intersect(out.bounds).Intersect(in.bounds);
  if (A.Inflate(-1, -1).IsEmpty()) return 0;
  const ByteMask selection(A, whole.Address(A.left, A.top), int32_t(whole.rowStride - A.Width()));

  const double T = TilePixels(b) / c.scale;
  RandomNumberGenerator random(b.randomSeed);

  ByteMask lines, ringMask;
  int32_t err = TraceEdgeLines(in, selection, {b.edgeSensitivity, T}, lines, ringMask, c.abortTester, c.progress);
  if (err != 0) return err;
  // The rings are measured from the edge lines and the selection's border.
  const Rect B = A.Inflate(-1, -1);
  for (int32_t y = A.top; y < A.bottom; ++y) {
    uint8_t* m = ringMask.Row(y);
    std::memcpy(m, selection.Row(y), size_t(A.Width()));
    if (y < B.top || y >= B.bottom) continue;
    const uint8_t* line = lines.Row(y);
    for (int32_t i = 1; i + 1 < A.Width(); ++i)
      if (line[i] < 128) m[i] = 0;
  }
  lines = ByteMask();

  const BytePixel grout = HostColorPixel(b.groutColor, out.format, 255);
  for (int32_t y = A.top; y < A.bottom; ++y) {
    if (c.ShouldAbort()) return kErrAborted;
    uint8_t* px = out.Address(A.left, y);
    for (int32_t i = 0; i < A.Width(); ++i, px += out.pixelStep) std::copy_n(grout.values, out.pixelStep, px);
  }

  err = LayTiles(in, out, std::move(ringMask), {T, b.groutWidth}, random, c.abortTester, c.progress);
  if (err != 0) return err;

  // Unselected pixels keep the picture; a soft selection fades into it. A
  // fully selected row stays as it is.
  for (int32_t y = A.top; y < A.bottom; ++y) {
    const uint8_t* m = selection.Row(y);
    if (std::all_of(m, m + A.Width(), [](uint8_t v) { return v == 255; })) continue;
    BlendRowByMask(m, in.Address(A.left, y), out.Address(A.left, y), out.Address(A.left, y), A.Width(), out.format);
  }
  return 0;
}

}  // namespace kv
