// Files that appear whole or not at all, and the files of one run together.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

namespace kv::cli {

// Temporary files beside their targets that take the targets' names only at
// Commit: all of them, or (when one cannot) none.
class PendingFiles {
 public:
  PendingFiles() = default;
  PendingFiles(const PendingFiles&) = delete;
  PendingFiles& operator=(const PendingFiles&) = delete;
  // Removes every temporary file not committed.
  ~PendingFiles();

  // Makes the temporary file for `target` at once, so that a target that
  // cannot be written (a folder, a missing or read-only folder) is refused
  // before any work is done; FileError naming it. Its path, to write.
  std::filesystem::path Add(const std::filesystem::path& target);
  // Leaves `target` as it is after all: its temporary file goes now.
  void Drop(const std::filesystem::path& target);
  // Flushes the files to disk and renames them over their targets. When a
  // rename fails, the targets already renamed get their old contents back
  // (or go, when they had none) and FileError says why; when `cancelled`
  // answers true first, WriteCancelled and nothing changes.
  void Commit(const std::function<bool()>& cancelled = {});

 private:
  struct Pending {
    std::filesystem::path target, temporary;
  };
  std::vector<Pending> files_;
};

// One file through PendingFiles: `write` fills the temporary file; when it
// throws, its exception passes through and nothing is left behind.
void WriteThroughTemporary(const std::filesystem::path& target,
                           const std::function<void(const std::filesystem::path& temp)>& write,
                           const std::function<bool()>& cancelled = {});

}  // namespace kv::cli
