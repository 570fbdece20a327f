// The description of its effects a core ships in its resource folder, as
// JSON: written by kalvero-describe when the core is built, read by kalvero
// before it drives that core.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hosts/common/descriptor.h"
#include "parameters/description.h"

namespace kv::host {

inline constexpr const char* kDescriptionFile = "Effects.json";

struct DescribedEffect {
  EffectDescription description;
  // The effect's defaults as its parameters write them for a script.
  Descriptor defaults;
};

struct CoreDescription {
  std::string buildId;  // of the core it was written for
  std::vector<DescribedEffect> effects;
};

std::string DescriptionJson(const CoreDescription& core);
// Throws std::runtime_error saying what is wrong.
CoreDescription ParseDescription(std::string_view json);

}  // namespace kv::host
