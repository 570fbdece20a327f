// Whether an effect can run on the host's image: the checks of the start
// selector and of the dialog's effect switch.
#pragma once

#include "platform/protocol.h"

namespace kv {

class Filter;
struct RunRecord;

// False, after telling the user why unless `quiet`, when the effect refuses
// the image or its working area. `run` may be null before start computes
// the area.
[[nodiscard]] bool CheckRequirements(Filter& filter, ps::FilterRecord& host, const RunRecord* run, bool quiet);

}  // namespace kv
