// The shared core, loaded at run time as an image editor loads a plug-in.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/protocol.h"

namespace kv::cli {

class CoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CoreLibrary {
 public:
  // Loads the core, finds its two exports and names the "resources" folder
  // beside it as its resource folder. Throws CoreError saying what is wrong.
  explicit CoreLibrary(const std::filesystem::path& file);
  ~CoreLibrary();
  CoreLibrary(const CoreLibrary&) = delete;
  CoreLibrary& operator=(const CoreLibrary&) = delete;

  ps::EntryPointProc Entry() const { return entry_; }
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  void* module_ = nullptr;
  ps::EntryPointProc entry_ = nullptr;
};

constexpr const char* kCoreFileName = "libkalvero-core.so";

// The core to load: `option` when given, else $KALVERO_CORE when set, else
// libkalvero-core.so in the folder of the running program.
std::filesystem::path ChooseCore(const std::string& option);

}  // namespace kv::cli
