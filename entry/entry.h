// The core's entry point: the run sequence over the host's selectors.
#pragma once

#include <cstdint>

namespace kv {

// What the exported Photoshop_Entry_Point does; `record` is the filter
// record, or the about record for the about selector.
void EntryPoint(int16_t selector, void* record, intptr_t* data, int16_t* result, int32_t filterId);

}  // namespace kv
