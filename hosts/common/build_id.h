// The GNU build-id a core's linker wrote into it: read from the core's file
// when its description is written, and from the copy a host has loaded
// before the description is believed. Lower-case hex, empty when none.
#pragma once

#include <filesystem>
#include <string>

namespace kv::host {

std::string BuildIdOfFile(const std::filesystem::path& file);
// Of the loaded object that holds `address`, such as one of its functions.
std::string BuildIdOfLoaded(const void* address);

}  // namespace kv::host
