#include "framework/filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/pixel_layout.h"
#include "host/whole_image.h"
#include "parameters/parameters.h"

namespace kv {

Rect Filter::InputAreaFor(const Rect& area, const void*, double) const { return area; }

void Filter::TileInputArea(const Rect& tile, const Rect&, const void* block, double scale, Rect& neededInput,
                           Rect& neededExtra) const {
  InputAreaForTile(tile, neededInput, neededExtra, block, scale);
}

void Filter::InputAreaForTile(const Rect& tile, Rect& neededInput, Rect&, const void*, double) const {
  neededInput = tile;
}

int32_t Filter::PrepareRender(RenderContext&) { return 0; }
void Filter::FinishRender(void*) {}

uint64_t Filter::RenderMemory(const Rect& tile, const RenderContext& context) const {
  // An effect's own rasters over the tile and what it reads around it.
  Rect input, extra;
  TileInputArea(tile, *context.area, context.block, context.scale, input, extra);
  const uint64_t pixels = uint64_t(tile.Area()) + uint64_t(input.Intersect(*context.imageBounds).Area());
  return 2 * pixels * uint64_t(context.host != nullptr ? std::max(OutputPlanes(*context.host), 1) : 4);
}

int32_t ClampBlock(Filter& filter, void* block, ps::Fixed resolution) {
  try {
    ParameterList list;
    list.SetResolution(resolution);
    if (int32_t err = filter.BuildParameters(list, block)) return err;
    for (const auto& p : list) p->Clamp();
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

int32_t Filter::UpdateParameterStates(ParameterList& list, const void*) {
  for (auto& parameter : list) parameter->Enable(true);
  return 0;
}

void FilterEntireImageRequired::TileInputArea(const Rect&, const Rect&, const void*, double, Rect& neededInput,
                                              Rect& neededExtra) const {
  neededInput = {};
  neededExtra = {};
}

uint64_t FilterEntireImageRequired::RenderMemory(const Rect& tile, const RenderContext& context) const {
  // The whole image read once and its full-size result.
  const Rect& image = *context.imageBounds;
  return Filter::RenderMemory(tile, context) + 2 * uint64_t(image.Area()) * 5;
}

int32_t FilterEntireImageRequired::PrepareRender(RenderContext& context) {
  if (!sourceImage) {
    const Rect whole = *context.imageBounds;
    sourceImage = ReadWholeImage(context.host, whole, 1.0);
    if (!sourceImage) return kErrOutOfMemory;
  }
  if (!resultImage) {
    auto result = std::make_unique<ByteImage>();
    if (result->Allocate(sourceImage->bounds, sourceImage->format) != 0) return kErrOutOfMemory;
    resultImage = std::move(result);
  }
  return PrepareEntireImage(context);
}

int32_t FilterEntireImageRequired::Render(RenderContext& context) {
  if (!parameterCache) {
    parameterCache = NewParameterCache();
    if (!parameterCache) return kErrOutOfMemory;
  }
  if (!cacheValid || !ParameterCacheMatches(parameterCache.get(), context.block)) {
    cacheValid = false;
    resultImage->CopyFrom(*sourceImage);
    // The full-size result is computed at scale 1 over the whole source,
    // whatever the caller is about to show.
    const RenderContext saved = context;
    Rect tile = InputAreaFor(*context.area, context.block, 1.0).Intersect(resultImage->bounds);
    Rect sourceArea = *context.area;
    context.scale = 1.0;
    context.input = sourceImage.get();
    context.output = resultImage.get();
    context.mask = context.maskSource;
    context.tile = &tile;
    context.sourceArea = &sourceArea;
    const int32_t err = RenderEntireImage(context);
    context = saved;
    if (err != 0) return err;
    cacheValid = true;
    StoreParameterCache(context.block, parameterCache.get());
  }

  ByteImage& out = *context.output;
  if (context.scale == 1.0) {
    out.CopyFrom(*resultImage);
    return 0;
  }
  const int32_t n = std::max(1, int32_t(context.scale));
  const int32_t channels = out.pixelStep;
  const Rect& full = resultImage->bounds;
  for (int32_t y = out.bounds.top; y < out.bounds.bottom; ++y) {
    uint8_t* dst = out.Row(y);
    const int32_t sy = y * n;
    for (int32_t x = out.bounds.left; x < out.bounds.right; ++x, dst += channels) {
      const int32_t sx = x * n;
      if (full.Contains(sx, sy)) std::memcpy(dst, resultImage->Address(sx, sy), size_t(channels));
      else std::memset(dst, 0, size_t(channels));
    }
  }
  return 0;
}

}  // namespace kv
