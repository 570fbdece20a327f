// The plug-in's procedures in GIMP's database: one per effect the core
// describes, each with the arguments Script-Fu and batch users call it with.
#pragma once

#include <string>
#include <string_view>

#include "hosts/common/description_json.h"

namespace kv::gimp {

using host::CoreDescription;
using host::DescribedEffect;

// "plug-in-kalvero-burnt-edges": from the effect's name key, which no
// translation changes.
std::string ProcedureName(const EffectDescription& effect);
// The effect a procedure runs, or null.
const DescribedEffect* EffectOfProcedure(const CoreDescription& core, std::string_view procedure);

// Installs every effect's procedure under Filters > Brightfold Kalvero 2.
void InstallProcedures(const CoreDescription& core);

}  // namespace kv::gimp
