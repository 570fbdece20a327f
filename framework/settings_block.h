// Named settings of a parameter block, as a host holds one: the block's
// values go through the effect's own parameter list. `block` is the whole
// parameters handle, starting with the effect number; nothing outside it is
// read or written.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "parameters/settings_store.h"

namespace kv {

class Filter;

[[nodiscard]] int32_t SaveSetting(Filter& effect, const std::string& name, std::span<const uint8_t> block,
                    SettingsProblems* problems = nullptr);
[[nodiscard]] int32_t StoreLastUsed(Filter& effect, std::span<const uint8_t> block, SettingsProblems* problems = nullptr);
// Lengths are clamped at `resolution` pixels per inch. On failure the block
// is left as it was.
[[nodiscard]] int32_t LoadSetting(Filter& effect, const std::string& name, std::span<uint8_t> block, double resolution,
                    SettingsProblems* problems = nullptr, SettingsSource* source = nullptr);

}  // namespace kv
