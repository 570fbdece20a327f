// The filter table: effect numbers to effect objects.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "framework/filter.h"

namespace kv {

// Null for a number outside 0..13 or an effect not in this build. Tests may
// put a factory of their own in front of the table.
std::unique_ptr<Filter> CreateFilter(int32_t filterId);
// The table alone, whatever factory is in front of it.
std::unique_ptr<Filter> CreateBuiltInFilter(int32_t filterId);
using FilterFactory = std::function<std::unique_ptr<Filter>(int32_t filterId)>;
void SetFilterFactoryOverride(FilterFactory factory);

// The string-table key of the effect's name, for any number 0..13.
const char* EffectNameKey(int32_t filterId);

}  // namespace kv
