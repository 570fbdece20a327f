// The shared core, loaded at run time as an image editor loads a plug-in,
// and the description of its effects that it ships in its resource folder:
// kalvero knows the effects only through these two.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "hosts/common/description_json.h"
#include "platform/protocol.h"

namespace kv::host {

class CoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CoreLibrary {
 public:
  // Loads the core, names the "resources" folder beside it as its resource
  // folder (for the core and for kalvero's own reading of settings and
  // texts), and reads the description there. Throws CoreError saying what
  // is wrong and what to do: a missing or broken core, or a description
  // that is missing, unreadable or made for another build of the core.
  explicit CoreLibrary(const std::filesystem::path& file);
  ~CoreLibrary();
  CoreLibrary(const CoreLibrary&) = delete;
  CoreLibrary& operator=(const CoreLibrary&) = delete;

  ps::EntryPointProc Entry() const { return entry_; }
  const std::filesystem::path& File() const { return file_; }
  const CoreDescription& Description() const { return description_; }

  // The effect a user names: its number, its name or settings name in any
  // case with or without spaces, or the start of exactly one name; null
  // when none is meant, and `why` says which there are.
  const DescribedEffect* Find(std::string_view text, std::string& why) const;

 private:
  std::filesystem::path file_;
  void* module_ = nullptr;
  ps::EntryPointProc entry_ = nullptr;
  CoreDescription description_;
};

constexpr const char* kCoreFileName = "libkalvero-core.so";

// The core to load: `option` when given, else $KALVERO_CORE when set, else
// libkalvero-core.so in the folder of the running program, as in a build
// tree, or else in the folder `installed` names relative to that folder.
std::filesystem::path ChooseCore(const std::string& option, const std::filesystem::path& installed = {});

}  // namespace kv::host
