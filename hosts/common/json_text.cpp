#include "hosts/common/json_text.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kv::host {

namespace {

// Reads through the text and keeps where and why it stopped; builds nothing.
struct Checker final : nlohmann::json_sax<Json> {
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string& token, const nlohmann::detail::exception& e) override {
    position = at;
    lastToken = token;
    overflow = e.id == 406;
    return false;
  }

  std::size_t position = 0;
  std::string lastToken;
  bool overflow = false;
};

std::string Where(std::string_view text, std::size_t position) {
  const std::string_view before = text.substr(0, std::min(position, text.size()));
  const auto lines = std::count(before.begin(), before.end(), '\n');
  const std::size_t lineStart = before.rfind('\n');
  const std::size_t column = before.size() - (lineStart == std::string_view::npos ? 0 : lineStart + 1);
  return "line " + std::to_string(lines + 1) + ", column " + std::to_string(std::max<std::size_t>(column, 1));
}

// A token as the user typed it, short and printable.
std::string Shown(const std::string& token) {
  std::string shown;
  for (const char c : token.substr(0, 24)) shown += uint8_t(c) < 0x20 ? '?' : c;
  return shown + (token.size() > 24 ? "..." : "");
}

}  // namespace

Json ParseJson(std::string_view text) {
  Checker checker;
  if (!Json::sax_parse(text, &checker)) {
    const std::string where = Where(text, checker.position);
    if (checker.overflow)
      throw std::runtime_error("the number " + Shown(checker.lastToken) + " (" + where +
                               ") is beyond what a number can hold");
    if (checker.position >= text.size()) throw std::runtime_error("it is not valid JSON: it ends too early");
    throw std::runtime_error("it is not valid JSON (" + where + ")");
  }
  return Json::parse(text);
}

}  // namespace kv::host
