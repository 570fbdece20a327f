// The exchange of parameter values with the host's scripting descriptor.
#pragma once

#include <cstdint>

#include "platform/protocol.h"

namespace kv {

class Filter;
struct RunRecord;

// Reads the descriptor into `block` and sets the run's dialog state from the
// play information. -1 when the host's suites are missing or too old.
[[nodiscard]] int32_t ReadScriptingDescriptor(ps::FilterRecord& host, RunRecord& run, void* block);

// Writes every parameter of `block` into a new descriptor for the host.
[[nodiscard]] int32_t WriteScriptingDescriptor(ps::FilterRecord& host, Filter& filter, void* block);

}  // namespace kv
