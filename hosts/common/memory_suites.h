// The handle and buffer suites: blocks of memory the host allocates for the
// core. A handle knows its size; locking hands out its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/protocol.h"

namespace kv::host {

ps::HandleProcs& HandleSuite();
ps::BufferProcs& BufferSuite();

// What the suites do, for the host's own use. NewHandle gives zeroed bytes
// and null when memory runs out.
ps::Handle NewHandle(size_t size, std::string_view contents = {});
void DisposeHandle(ps::Handle handle);
char* HandleData(ps::Handle handle);
size_t HandleSize(ps::Handle handle);
// Never the same for two handles of one process, even when one reuses the
// other's address.
uint64_t HandleSerial(ps::Handle handle);

// The amount the buffer suite says it can still hand out.
constexpr int32_t kBufferSpace = 512 << 20;

}  // namespace kv::host
