// --seed as people type it, checked in our own words before CLI11 converts
// it, which would only say it "could not convert".
#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <string>

namespace kv::cli {

inline CLI::Validator SeedCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        uint32_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size() && value <= 65535) return {};
        return "'" + text + "' is not a seed; a seed is a whole number from 0 to 65535";
      },
      "0 to 65535");
}

}  // namespace kv::cli
