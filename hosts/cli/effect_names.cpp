#include "hosts/cli/effect_names.h"

#include <charconv>
#include <string>

#include "parameters/parameter_io.h"

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

std::optional<int32_t> FindEffect(std::string_view text) {
  int32_t n = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec == std::errc() && end == text.data() + text.size()) {
    if (n >= 0 && n < int32_t(kEffects.size())) return n;
    return std::nullopt;
  }
  const std::string wanted = param_io::FoldedName(text);
  if (wanted.empty()) return std::nullopt;
  std::optional<int32_t> byPrefix;
  int32_t prefixes = 0;
  for (const EffectName& e : kEffects) {
    const std::string name = param_io::FoldedName(e.name), settings = param_io::FoldedName(e.settingsName);
    if (name == wanted || settings == wanted) return e.number;
    if (name.starts_with(wanted) || settings.starts_with(wanted)) byPrefix = e.number, ++prefixes;
  }
  // The start of one name is enough: "burnt", "tele".
  return prefixes == 1 ? byPrefix : std::nullopt;
}

}  // namespace kv::cli
