// The few operating-system services the core needs, in one place: the
// process-wide lock, thread identity, where the core and its resources live,
// the user's application-data folder, message boxes, the desktop's "open"
// and text conversion.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/protocol.h"

namespace platform {

// Re-entrant like a critical section: a selector may call back into code that
// takes it again on the same thread.
std::recursive_mutex& ProcessLock();

using ThreadId = std::thread::id;
inline ThreadId CurrentThread() { return std::this_thread::get_id(); }

// The folder that `SetResourceHandle` named, else "resources" beside the
// module this code is linked into.
void SetResourceFolder(std::filesystem::path folder);
const std::filesystem::path& ResourceFolder();

// Bytes of resource `id` of `type`: the file <resource folder>/<type>/<id>.
// Empty optional when it is missing, not a regular file, larger than
// `limit` bytes or cannot be read.
std::optional<std::vector<uint8_t>> LoadResource(const std::string& type, int id, size_t limit);

// The bytes this process may still allocate: the machine's available
// memory, within the process's limits and those of its control group.
uint64_t AvailableMemory();

// Full path of the shared object this code is linked into.
std::filesystem::path ModulePath();

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ApplicationDataFolder();

// Shows a message owned by the host's (or the dialog's) window through its
// routine; without one the text goes to stderr so batch use still sees it.
void ShowMessage(const ps::PlatformData* owner, ps::MessageKind kind, const std::string& caption,
                 const std::string& text);

// The shell's "open" of a file or web address: the desktop's own program
// for it, started in the background. false when it cannot be started.
bool OpenWithDesktop(const std::string& target);

// 16-bit texts of the string table to and from the 8-bit code page (UTF-8).
std::string Narrow(const std::u16string& text);
std::u16string Widen(const std::string& text);

}  // namespace platform
