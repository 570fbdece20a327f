// How much memory one run of kalvero may take, so that an image or a render
// too large for the machine is refused before anything is allocated.
#pragma once

#include <cstdint>
#include <string>

namespace kv::cli {

// $KALVERO_MEMORY_LIMIT ("512M", "6G", or bytes) when set, else what the
// machine has available when first asked. A malformed value throws
// UsageError naming it.
uint64_t MemoryAllowance();

// Empty when `need` bytes fit the allowance; else "needs about 9.4 GB; this
// machine allows 6 GB" (or "KALVERO_MEMORY_LIMIT allows").
std::string MemoryShortfall(uint64_t need);

}  // namespace kv::cli
