// Renders an effect over the working area through the host's advance state,
// tile by tile, and blends the result into the host's image.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"
#include "platform/protocol.h"

namespace kv {

struct RunRecord;
class Filter;

// The render of one continue selector. The run record's effect renders with
// the block at `block`.
[[nodiscard]] int32_t RenderArea(ps::FilterRecord& host, RunRecord& run, void* block);

// Tiles of `r`, from the bottom-left, left to right, then the row above.
std::vector<Rect> TileWalk(const Rect& r, int32_t tileSize);

// The mask blend and the transparency rule, over the pixels of one tile.
void BlendThroughMask(const ByteImage& in, ByteImage& out, const ByteMask& mask, const Rect& tile);
void KeepLayerTransparency(const ByteImage& in, ByteImage& out, const Rect& tile);

// Where the preview first looks, for a preview of `previewSize`.
Point PreviewOrigin(int32_t placement, const Rect& area, Size previewSize);

// The preview's render: the effect renders `output` (in the coordinates of
// `source`, the image read at the whole-number `scale` by ReadWholeImage)
// with the preview's abort test and progress sink, and the result goes
// through the selection as the final render's does, so that at scale 1 the
// final render can take it over unchanged.
[[nodiscard]] int32_t RenderPreview(ps::FilterRecord& host, RunRecord& run, void* block, ByteImage& source, ByteImage& output,
                      int32_t scale, Abort_Tester& abort, ProgressUpdateSink& progress);

}  // namespace kv
