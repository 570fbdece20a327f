#include "framework/filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/pixel_layout.h"
#include "host/whole_image.h"
#include "parameters/parameters.h"

namespace kv {

namespace {

// Channels of an effect's rasters: the host's output planes, four without a host.
uint64_t Planes(const RenderContext& context) {
  return uint64_t(context.host != nullptr ? std::max(OutputPlanes(*context.host), 1) : 4);
}

}  // namespace

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
  return 2 * pixels * Planes(context);
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

void FilterEntireImageRequired::TileInputArea(const Rect&, const Rect& area, const void*, double scale,
                                              Rect& neededInput, Rect& neededExtra) const {
  // At full size every tile is handed the whole image, which the host has
  // anyway: no copy of it is made here. Reduced, it is read once instead.
  neededInput = scale == 1.0 ? WholeImage(area) : Rect{};
  neededExtra = {};
}

uint64_t FilterEntireImageRequired::RenderMemory(const Rect& tile, const RenderContext& context) const {
  // The full-size result, kept unless the output takes it whole.
  const Rect& image = *context.imageBounds;
  const uint64_t planes = Planes(context);
  return Filter::RenderMemory(tile, context) + uint64_t(image.Area()) * planes;
}

int32_t FilterEntireImageRequired::PrepareRender(RenderContext& context) {
  if (context.scale != 1.0 && !sourceImage) {
    sourceImage = ReadWholeImage(context.host, *context.imageBounds, 1.0);
    if (!sourceImage) return kErrOutOfMemory;
  }
  return PrepareEntireImage(context);
}

int32_t FilterEntireImageRequired::Render(RenderContext& context) {
  if (!parameterCache) {
    parameterCache = NewParameterCache();
    if (!parameterCache) return kErrOutOfMemory;
  }
  const Rect& image = *context.imageBounds;
  ByteImage* source = context.scale == 1.0 ? context.input : sourceImage.get();
  if (source == nullptr || !source->bounds.Contains(image)) return kErrGeneral;
  ByteImage& out = *context.output;
  const bool cached = cacheValid && ParameterCacheMatches(parameterCache.get(), context.block);
  // An output that holds the whole image, apart from the input, takes the
  // result straight: nothing is kept, as nothing would be asked of it again
  // with these values.
  const bool direct = !cached && context.scale == 1.0 && out.bounds.Contains(image) &&
                      out.Address(image.left, image.top) != source->Address(image.left, image.top);
  if (!cached) {
    cacheValid = false;
    ByteImage* result = &out;
    if (!direct) {
      if (!resultImage || resultImage->bounds != source->bounds) {
        auto fresh = std::make_unique<ByteImage>();
        if (fresh->Allocate(source->bounds, source->format) != 0) return kErrOutOfMemory;
        resultImage = std::move(fresh);
      }
      result = resultImage.get();
    }
    result->CopyFrom(*source);
    // The full-size result is computed at scale 1 over the whole source,
    // whatever the caller is about to show.
    const RenderContext saved = context;
    Rect tile = InputAreaFor(*context.area, context.block, 1.0).Intersect(source->bounds);
    Rect sourceArea = *context.area;
    context.scale = 1.0;
    context.input = source;
    context.output = result;
    context.mask = context.maskSource;
    context.tile = &tile;
    context.sourceArea = &sourceArea;
    const int32_t err = RenderEntireImage(context);
    context = saved;
    if (err != 0) return err;
    if (direct) return 0;
    cacheValid = true;
    StoreParameterCache(context.block, parameterCache.get());
  }

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
