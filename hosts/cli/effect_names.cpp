#include "hosts/cli/effect_names.h"

#include <cctype>
#include <charconv>
#include <string>

namespace kv::cli {

const std::array<EffectName, 14> kEffects = {{
    {0, "Burnt Edges", "BurntEdges"},
    {1, "Rirazi Vevora Didura", "LittleFluffyClouds"},
    {2, "Constellation", "Constellation"},
    {3, "Cracks", "Cracks"},
    {4, "Crumple", "Crumple"},
    {5, "Electrify", "Electrify"},
    {6, "Shatter", "Shatter"},
    {7, "Flag", "Flag"},
    {8, "Lightning", "Lightning"},
    {9, "Classic Mosaic", "ClassicMosaic"},
    {10, "Rip Open", "RipOpen"},
    {11, "Puzzle", "Puzzle"},
    {12, "Stain", "Stain"},
    {13, "Television", "Television"},
}};

namespace {

// Lower case without spaces, hyphens or underscores.
std::string Folded(std::string_view s) {
  std::string out;
  for (const char c : s)
    if (c != ' ' && c != '-' && c != '_') out += char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<int32_t> FindEffect(std::string_view text) {
  int32_t n = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec == std::errc() && end == text.data() + text.size()) {
    if (n >= 0 && n < int32_t(kEffects.size())) return n;
    return std::nullopt;
  }
  const std::string wanted = Folded(text);
  if (wanted.empty()) return std::nullopt;
  for (const EffectName& e : kEffects)
    if (Folded(e.name) == wanted || Folded(e.settingsName) == wanted) return e.number;
  return std::nullopt;
}

}  // namespace kv::cli
