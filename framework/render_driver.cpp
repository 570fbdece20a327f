#include "framework/render_driver.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/filter.h"
#include "host/host_calls.h"
#include "host/host_progress.h"
#include "host/pixel_layout.h"
#include "host/run_record.h"
#include "host/working_area.h"
#include "image/pixel_ops.h"
#include "platform/format.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace kv {

std::vector<Rect> TileWalk(const Rect& r, int32_t t) {
  std::vector<Rect> tiles;
  if (r.IsEmpty() || t <= 0) return tiles;
  for (int32_t bottom = r.bottom; bottom > r.top; bottom -= t)
    for (int32_t left = r.left; left < r.right; left += t)
      tiles.push_back(Rect{left, bottom - t, left + t, bottom}.Intersect(r));
  return tiles;
}

void BlendThroughMask(const ByteImage& in, ByteImage& out, const ByteMask& mask, const Rect& tile) {
  for (int32_t y = tile.top; y < tile.bottom; ++y)
    BlendRowByMask(mask.Address(tile.left, y), in.Address(tile.left, y), out.Address(tile.left, y),
                   out.Address(tile.left, y), tile.Width(), out.format);
}

void KeepLayerTransparency(const ByteImage& in, ByteImage& out, const Rect& tile) {
  if (!in.format.hasAlpha || !out.format.hasAlpha) return;
  const int32_t a = out.format.colorChannels, step = out.pixelStep;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const uint8_t* src = in.Address(tile.left, y) + a;
    uint8_t* dst = out.Address(tile.left, y) + a;
    for (int32_t x = 0; x < tile.Width(); ++x, src += step, dst += step) *dst = uint8_t(*dst * *src / 255);
  }
}

Point PreviewOrigin(int32_t placement, const Rect& area, Size preview) {
  switch (placement) {
    case 0: return {area.left - 50, area.top - 50};
    case 2: return {area.left - (preview.width - area.Width()) / 2, area.top - 50};
    default: {
      auto centre = [](int32_t start, int32_t areaSize, int32_t previewSize) {
        return areaSize >= previewSize ? start : start - (previewSize - areaSize) / 2;
      };
      return {centre(area.left, area.Width(), preview.width), centre(area.top, area.Height(), preview.height)};
    }
  }
}

namespace {

// A view over the host's interleaved buffer for `r`.
ByteImage HostView(void* data, int32_t rowBytes, const Rect& r, const PixelFormat& f) {
  return ByteImage(r, static_cast<uint8_t*>(data), rowBytes - r.Width() * f.channelCount, f);
}

// The result goes through the selection, or keeps the layer's transparency.
void BlendTile(Filter& filter, const RunRecord& run, const ByteImage& in, ByteImage& out, const ByteMask& mask,
               const Rect& tile) {
  if (!filter.BlendsWithSelection()) return;
  if (!run.hasTransparency) BlendThroughMask(in, out, mask, tile);
  else if (filter.KeepsLayerTransparency()) KeepLayerTransparency(in, out, tile);
}

// What every render hands the effect; the caller adds the source and tiles.
RenderContext BaseContext(ps::FilterRecord& host, RunRecord& run, void* block, const Rect& bounds, const Rect& area,
                          Abort_Tester& abort, ProgressUpdateSink& progress) {
  RenderContext context;
  context.host = &host;
  context.imageBounds = &bounds;
  context.area = &area;
  context.areaRecord = run.area.get();
  context.block = block;
  context.abortTester = &abort;
  context.progress = &progress;
  context.imageMode = host.imageMode;
  context.foreground = host.foreColor;
  context.background = host.backColor;
  context.scale = 1.0;
  context.hasTransparency = run.hasTransparency;
  return context;
}

// The tile size a host asks for through our own property; 0 when it asks none.
int32_t HostTileSize() {
  intptr_t size = 0;
  if (hostcall::GetProperty(ps::kKalveroSignature, ps::propTileSize, 0, &size, nullptr) != 0) return 0;
  return size > 0 && size <= 32767 ? int32_t(size) : 0;
}

void RequestPlanes(ps::FilterRecord& host, int32_t planes) {
  host.inLoPlane = host.outLoPlane = 0;
  host.inHiPlane = host.outHiPlane = int16_t(planes - 1);
  host.inputRate = ps::kFixedOne;
}

// What the host lets the core use: its own figure when it gives one, else
// what the machine has available.
uint64_t MemoryAllowance(const ps::FilterRecord& host) {
  if (host.maxSpace64 > 0) return uint64_t(host.maxSpace64);
  return platform::AvailableMemory();
}

// -1 with the run record's text when the largest tile would need more
// memory than the host allows.
int32_t CheckMemory(const Filter& filter, RunRecord& run, const RenderContext& context,
                    const std::vector<Rect>& tiles) {
  uint64_t need = 0;
  for (const Rect& tile : tiles) need = std::max(need, filter.RenderMemory(tile, context));
  const uint64_t allowed = MemoryAllowance(*context.host);
  if (need <= allowed) return 0;
  const std::string text =
      FormatText(FormatText(strings::Text("Error - Not Enough Memory"), FormatBytes(need)), FormatBytes(allowed));
  std::snprintf(run.errorText, sizeof run.errorText, "%s", text.c_str());
  return kErrGeneral;
}

int32_t RenderTiles(ps::FilterRecord& host, RunRecord& run, void* block, RenderContext& context,
                    const std::vector<Rect>& tiles, PhotoshopProgressUpdateSink& progress) {
  Filter& filter = *run.filter;
  const Rect bounds = *context.imageBounds;
  const Rect area = *context.area;
  const int32_t planes = OutputPlanes(host);
  const PixelFormat format = HostPixelFormat(host, planes);

  for (size_t i = 0; i < tiles.size(); ++i) {
    const Rect tile = tiles[i];
    Rect input, extra;
    filter.TileInputArea(tile, area, block, 1.0, input, extra);
    input = input.Intersect(bounds);
    if (input.IsEmpty()) input = {};

    host.outRect = ToHost(tile);
    host.inRect = ToHost(input);
    if (int16_t code = hostcall::MapHostError(hostcall::AdvanceState())) return code;
    // A host that hands out less than asked fails the render, not the process.
    if ((!input.IsEmpty() && host.inData == nullptr) || host.outData == nullptr) return kErrGeneral;

    ByteImage in = HostView(host.inData, host.inRowBytes, input, format);
    ByteImage out = HostView(host.outData, host.outRowBytes, tile, format);

    if (run.previewResult && run.previewResult->bounds.Contains(tile) && run.previewResult->format == format) {
      out.CopyFrom(*run.previewResult);
    } else {
      ByteMask mask;
      if (run.area && run.area->rect.Contains(tile)) {
        // Effects only read the mask: a tile within the area sees its part
        // of the area's mask where it lies, and a whole-area tile costs no copy.
        const ByteMask& whole = run.area->mask;
        mask = ByteMask(tile, whole.Address(tile.left, tile.top),
                        whole.rowStride - tile.Width());
      } else if (int32_t err = ReadAreaMask(host, &run, tile, mask)) {
        return err;
      }
      context.tile = &tile;
      context.input = &in;
      context.output = &out;
      context.mask = context.maskSource = &mask;
      context.hostInput = host.inData;
      context.hostOutput = host.outData;
      const int32_t err = filter.Render(context);
      context.input = context.output = nullptr;
      context.mask = context.maskSource = nullptr;
      if (err != 0) return err;
      if (input.Contains(tile)) BlendTile(filter, run, in, out, mask, tile);
    }
    progress.SetTile(int32_t(i + 1));
  }
  return 0;
}

}  // namespace

int32_t RenderArea(ps::FilterRecord& host, RunRecord& run, void* block) {
  Filter& filter = *run.filter;
  const Rect bounds = ImageBounds(host);
  const Rect area = AreaRect(host, &run);
  const Rect needed = filter.InputAreaFor(area, block, 1.0).Intersect(bounds);
  RequestPlanes(host, OutputPlanes(host));

  int32_t err = 0;
  try {
    const int32_t asked = HostTileSize();
    const std::vector<Rect> tiles = asked > 0                    ? TileWalk(needed, asked)
                                    : filter.RendersInOnePiece() ? std::vector<Rect>{needed}
                                                                 : TileWalk(needed, filter.TileSize());
    PhotoshopProgressUpdateSink progress(&host, int32_t(tiles.size()));
    Photoshop_Abort_Tester abort(host.abortProc);

    RenderContext context = BaseContext(host, run, block, bounds, area, abort, progress);
    context.sourceBounds = &bounds;
    context.sourceArea = &area;

    err = CheckMemory(filter, run, context, tiles);
    if (err == 0) err = filter.PrepareRender(context);
    if (err == 0) err = RenderTiles(host, run, block, context, tiles, progress);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
  filter.FinishRender(block);
  return err;
}

int32_t RenderPreview(ps::FilterRecord& host, RunRecord& run, void* block, ByteImage& source, ByteImage& output,
                      int32_t scale, Abort_Tester& abort, ProgressUpdateSink& progress) {
  Filter& filter = *run.filter;
  const Rect bounds = ImageBounds(host);
  const Rect area = AreaRect(host, &run);
  const Rect sourceArea = ReducedRect(area, scale);
  const Rect tile = output.bounds;
  int32_t err = 0;
  try {
    // Effects that look at the whole selection get it at full size, as the
    // final render's single piece hands it over; the blend takes it at the
    // preview's scale. The area does not change while the dialog is up, so
    // the copy is made again only for an effect that reads another rectangle.
    ByteMask& whole = run.previewSelection;
    const Rect needed = filter.InputAreaFor(area, block, 1.0).Intersect(bounds);
    if (whole.IsEmpty() || whole.bounds != needed) err = ReadAreaMask(host, &run, needed, whole);
    ByteMask mask;
    if (err == 0) err = mask.Allocate(tile, ByteMask::kFormat);
    for (int32_t y = tile.top; err == 0 && y < tile.bottom; ++y) {
      uint8_t* row = mask.Row(y);
      for (int32_t x = tile.left; x < tile.right; ++x)
        row[x - tile.left] = whole.bounds.Contains(x * scale, y * scale) ? whole(x * scale, y * scale) : 0;
    }
    output.CopyFrom(source);

    RenderContext context = BaseContext(host, run, block, bounds, area, abort, progress);
    context.sourceBounds = &source.bounds;
    context.sourceArea = &sourceArea;
    context.tile = &tile;
    context.input = &source;
    context.output = &output;
    context.mask = &mask;
    context.maskSource = &whole;
    context.scale = double(scale);
    if (err == 0) err = filter.PrepareRender(context);
    if (err == 0) err = filter.Render(context);
    Rect input, extra;
    filter.TileInputArea(tile, sourceArea, block, double(scale), input, extra);
    if (err == 0 && input.Intersect(source.bounds).Contains(tile)) BlendTile(filter, run, source, output, mask, tile);
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
  filter.FinishRender(block);
  return err;
}

}  // namespace kv
