// One application of an effect by the core linked into the fuzz target,
// through kalvero's host, on a small document.
#pragma once

#include <functional>

#include "hosts/common/filter_host.h"
#include "tests/fuzz/fuzz_support.h"

namespace kv::fuzz {

// Sets up a host for `effect` over `document` (with an oval selection when
// `selected`), lets `prepare` change it, and runs the effect without its
// dialog. Whatever the core answers is fine; only a crash is not.
void RunCore(host::Document& document, int32_t effect, bool selected,
             const std::function<void(host::FilterHost&)>& prepare);

}  // namespace kv::fuzz
