// JSON texts read from files people may have edited: every failure is told
// in our own words, with the line and column, never the parser's.
#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace kv::host {

using Json = nlohmann::ordered_json;

// Throws std::runtime_error: "it is not valid JSON (line 3, column 7: after
// '"TEcu":')", "the number 1e999 (line 1, column 30) is too large".
Json ParseJson(std::string_view text);

}  // namespace kv::host
