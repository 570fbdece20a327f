#include "host/whole_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "host/host_calls.h"
#include "host/pixel_layout.h"
#include "host/working_area.h"

namespace kv {

std::unique_ptr<ByteImage> ReadWholeImage(ps::FilterRecord* host, const Rect& rect, double scale) {
  if (host == nullptr) return nullptr;
  try {
    const int32_t planes = InputPlanes(*host);
    const ps::Fixed rate = std::max<ps::Fixed>(ps::kFixedOne, ps::Fixed(std::trunc(scale * 65536 + 0.5)));
    const Rect bounds = ReducedRect(rect, std::max(1, int32_t(rate / ps::kFixedOne)));

    int32_t err = 0;
    auto image = std::make_unique<ByteImage>(err, bounds, HostPixelFormat(*host, planes));
    if (err != 0) return nullptr;
    host->inRect = ToHost(rect);
    host->inLoPlane = 0;
    host->inHiPlane = int16_t(planes - 1);
    host->inputRate = rate;
    if (hostcall::MapHostError(hostcall::AdvanceState()) != 0 || host->inData == nullptr) return nullptr;
    // The host's rows may be shorter than ours by its own rounding of the
    // reduced rectangle: never read past them.
    const auto* src = static_cast<const uint8_t*>(host->inData);
    const size_t ours = size_t(bounds.Width()) * size_t(planes);
    const size_t theirs = size_t(std::max(0, host->inRowBytes));
    const size_t copied = std::min(ours, theirs);
    for (int32_t y = bounds.top; y < bounds.bottom; ++y, src += theirs) {
      std::memcpy(image->Row(y), src, copied);
      std::memset(image->Row(y) + copied, 0, ours - copied);
    }
    return image;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace kv
