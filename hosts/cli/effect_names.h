// The fourteen effects by number and by name.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv::cli {

struct EffectName {
  int32_t number;
  const char* name;          // as the user reads it
  const char* settingsName;  // as the settings files name it
};

extern const std::array<EffectName, 14> kEffects;

// A number 0..13, or a name or settings name in any case, with or without
// spaces ("Burnt Edges", "burntedges", "BurntEdges"), or the start of
// exactly one name ("burnt").
std::optional<int32_t> FindEffect(std::string_view text);

}  // namespace kv::cli
