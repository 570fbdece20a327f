#include "image/image.h"

#include <ctime>

#include "image/random.h"

namespace kv {

int32_t ColorModeFromHostMode(int32_t hostMode) {
  switch (hostMode) {
    case 1: case 8: return kModeGrey;
    case 3: return kModeRGB;
    case 4: return kModeCMYK;
    case 9: return kModeLab;
    default: return kModeRGB;
  }
}

int32_t HostModeFromColorMode(int32_t mode) {
  switch (mode) {
    case kModeGrey: return 1;
    case kModeCMYK: return 4;
    case kModeLab: return 9;
    default: return 3;
  }
}

int32_t RowBuffer::Attach(const Rect& r, uint8_t* base, int32_t strideBytes) {
  bounds = r;
  try {
    rowOffsets.resize(size_t(std::max(r.Height(), 0)));
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  for (size_t i = 0; i < rowOffsets.size(); ++i) rowOffsets[i] = base + ptrdiff_t(i) * strideBytes;
  return 0;
}

void RandomNumberGenerator::SeedFromClock() { Seed(int(std::time(nullptr) % 2147483646)); }

}  // namespace kv
