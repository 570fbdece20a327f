// Shared pieces of the host's tests: scratch folders, test documents and a
// small plug-in written against the protocol alone.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hosts/cli/document.h"
#include "platform/protocol.h"

namespace kv::cli::test {

// A fresh folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> Names() const;  // what the folder holds

 private:
  std::filesystem::path path_;
};

// Every sample different enough to catch swapped planes or rows.
Document Pattern(int32_t width, int32_t height, Mode mode, bool alpha);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);

// The plug-in: every selector goes to `Plugin()`, which a test sets.
using PluginFn = std::function<int16_t(int16_t selector, ps::FilterRecord& record, intptr_t& data)>;
PluginFn& Plugin();
void PluginEntry(int16_t selector, void* record, intptr_t* data, int16_t* result, int32_t filterId);

bool IsEmpty(const ps::Rect16& r);

}  // namespace kv::cli::test
