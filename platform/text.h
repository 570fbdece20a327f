// Small helpers for the 8-bit texts people type: names, numbers, words.
#pragma once

#include <string_view>

namespace kv {

// `text` without the white space around it.
constexpr std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace kv
