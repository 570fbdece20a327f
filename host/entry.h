// The core's entry point: the run sequence over the host's selectors.
#pragma once

#include <cstdint>

#include "platform/protocol.h"

namespace kv {

class Filter;
struct RunRecord;

// What the exported Photoshop_Entry_Point does; `record` is the filter
// record, or the about record for the about selector.
void EntryPoint(int16_t selector, void* record, intptr_t* data, int16_t* result, int32_t filterId);

// Whether the current image suits effect `filterId`; quiet suppresses the
// messages. Used by the dialog before it switches effects.
bool CanRunEffect(int32_t filterId, bool quiet);

// The effect requirements check of start, against the current host record.
bool CheckRequirements(Filter& filter, ps::FilterRecord& host, RunRecord* run, bool quiet);

// Shows the string-table text of `key` owned by the host's window.
void ShowErrorKey(const ps::FilterRecord* host, const char* key);

}  // namespace kv
