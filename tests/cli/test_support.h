// Shared pieces of the host's tests: scratch folders, test documents and
// kalvero itself run as a process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/common/document.h"

namespace kv::cli::test {

using host::Document;
using host::Mode;

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

// kalvero run as a user runs it: its exit status and what it printed.
struct Outcome {
  int status = -1;
  std::string output;
};
Outcome RunKalvero(const std::string& arguments);
Outcome RunCommand(const std::string& command);

}  // namespace kv::cli::test
