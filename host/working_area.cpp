#include "host/working_area.h"

#include <algorithm>
#include <cstring>

#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/run_record.h"
#include "image/pixel_ops.h"

namespace kv {

namespace {

void ClearRequests(ps::FilterRecord& host) {
  host.inRect = host.outRect = host.maskRect = ps::Rect16{};
}

std::unique_ptr<WorkingArea> NewArea(const Rect& r, int32_t& err) {
  auto area = std::unique_ptr<WorkingArea>(new (std::nothrow) WorkingArea);
  if (!area) {
    err = kErrOutOfMemory;
    return nullptr;
  }
  area->rect = r;
  err = area->mask.Allocate(r, ByteMask::kFormat);
  return err == 0 ? std::move(area) : nullptr;
}

// The layer's content: the bounding rectangle of its non-zero transparency.
int32_t AreaFromTransparency(ps::FilterRecord& host, RunRecord& run) {
  const Rect whole = ImageBounds(host);
  host.inLoPlane = host.inHiPlane = int16_t(InputPlanes(host) - 1);
  host.inRect = ToHost(whole);
  host.outRect = host.maskRect = ps::Rect16{};
  if (int16_t code = hostcall::MapHostError(hostcall::AdvanceState())) return code;

  const auto* base = static_cast<const uint8_t*>(host.inData);
  const Rect box =
      NonZeroBounds(base, {whole.Width(), whole.Height()}, host.inRowBytes, 1).Offset(whole.left, whole.top);

  int32_t err = 0;
  if (box.IsEmpty()) {
    run.area = NewArea(FromHost(host.filterRect), err);
    if (err) return err;
    run.area->mask.Fill(255);
    return -1;
  }
  run.area = NewArea(box, err);
  if (err) return err;
  for (int32_t y = box.top; y < box.bottom; ++y)
    std::memcpy(run.area->mask.Row(y), base + ptrdiff_t(y - whole.top) * host.inRowBytes + box.left,
                size_t(box.Width()));
  run.hasTransparency = true;
  return 0;
}

// The selection, read in squares so no host buffer ever holds all of it.
int32_t AreaFromSelection(ps::FilterRecord& host, RunRecord& run) {
  constexpr int32_t kSquare = 300;
  int32_t err = 0;
  run.area = NewArea(FromHost(host.filterRect), err);
  if (err) return err;
  const Rect r = run.area->rect;
  for (int32_t top = r.top; top < r.bottom; top += kSquare) {
    for (int32_t left = r.left; left < r.right; left += kSquare) {
      const Rect square = Rect{left, top, left + kSquare, top + kSquare}.Intersect(r);
      host.maskRect = ToHost(square);
      if (int16_t code = hostcall::MapHostError(hostcall::AdvanceState())) return code;
      const auto* base = static_cast<const uint8_t*>(host.maskData);
      for (int32_t y = square.top; y < square.bottom; ++y)
        std::memcpy(run.area->mask.Address(square.left, y), base + ptrdiff_t(y - square.top) * host.maskRowBytes,
                    size_t(square.Width()));
    }
  }
  return 0;
}

}  // namespace

int32_t ComputeWorkingArea(ps::FilterRecord& host, RunRecord& run) {
  host.inputRate = host.maskRate = ps::kFixedOne;
  run.hasTransparency = false;
  run.area.reset();
  int32_t err = 0;
  try {
    if (host.filterCase == ps::filterCaseEditableTransparencyNoSelection ||
        host.filterCase == ps::filterCaseProtectedTransparencyNoSelection) {
      err = AreaFromTransparency(host, run);
    } else if (!host.haveMask) {
      run.area = NewArea(FromHost(host.filterRect), err);
      if (err == 0) run.area->mask.Fill(255);
    } else {
      err = AreaFromSelection(host, run);
    }
  } catch (const std::bad_alloc&) {
    err = kErrOutOfMemory;
  }
  ClearRequests(host);
  return err;
}

Rect AreaRect(const ps::FilterRecord& host, const RunRecord* run) {
  return run != nullptr && run->area ? run->area->rect : FromHost(host.filterRect);
}

int32_t ReadAreaMask(const ps::FilterRecord& host, const RunRecord* run, const Rect& r, ByteMask& out) {
  if (int32_t err = out.Allocate(r, ByteMask::kFormat)) return err;
  // Outside the area's rectangle nothing is selected; without a working area
  // the filter rectangle is selected whole.
  out.Fill(0);
  const bool haveArea = run != nullptr && run->area;
  const Rect common = r.Intersect(haveArea ? run->area->rect : FromHost(host.filterRect));
  if (common.IsEmpty()) return 0;  // a tile beside the area
  for (int32_t y = common.top; y < common.bottom; ++y) {
    uint8_t* dst = out.Address(common.left, y);
    if (haveArea) std::memcpy(dst, run->area->mask.Address(common.left, y), size_t(common.Width()));
    else std::memset(dst, 255, size_t(common.Width()));
  }
  return 0;
}

}  // namespace kv
