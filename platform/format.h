// Fills the conversions of a format that comes from the string table. Only
// %d, %% and one %s are honoured, so a translated text can never make the
// core read arguments it was not given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kv {

inline std::string FormatInts(std::string_view format, std::initializer_list<long long> values) {
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 'd' && next != values.end()) {
        out += std::to_string(*next++);
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

// The first %s of `format` replaced by `text`.
inline std::string FormatText(std::string format, std::string_view text) {
  const size_t at = format.find("%s");
  return at == std::string::npos ? format : format.replace(at, 2, text);
}

// "9.4 GB", "6 GB", "512 MB": an amount of memory as people read it.
inline std::string FormatBytes(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
  double value = double(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 9.95 && unit > 0 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  std::string out = text;
  if (const size_t zero = out.find(".0 "); zero != std::string::npos) out.erase(zero, 2);
  return out;
}

}  // namespace kv
