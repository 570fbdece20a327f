// Files that appear whole or not at all.
#pragma once

#include <filesystem>
#include <functional>

namespace kv::cli {

// Calls `write` with the path of a fresh temporary file in the target's
// folder, flushes it to disk and renames it over `target`. When `write`
// throws, `cancelled` answers true or anything fails, the temporary file is
// removed and `target` is left as it was; system failures become FileError,
// a cancel WriteCancelled, and the writer's own exception passes through.
void WriteThroughTemporary(const std::filesystem::path& target,
                           const std::function<void(const std::filesystem::path& temp)>& write,
                           const std::function<bool()>& cancelled = {});

}  // namespace kv::cli
