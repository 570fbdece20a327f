// What kalvero says of itself and of the parts it loads: the core answers
// through the protocol's about selector, the dialog's toolkit through its
// version export.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "hosts/common/core_library.h"

namespace kv::cli {

// The core's about box as text, one line a line; the selector's result.
[[nodiscard]] int16_t AboutText(const host::CoreLibrary& core, std::string& text);

// `kalvero --version`: kalvero's version, then the core's and the toolkit's
// beside it with the files they came from, or why one could not be asked.
// The exit status: kExitFile when the core cannot be loaded.
int PrintVersions(const std::filesystem::path& core);

}  // namespace kv::cli
