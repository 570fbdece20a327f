#include "hosts/cli/core_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

namespace kv::cli {

CoreLibrary::CoreLibrary(const std::filesystem::path& file) : file_(file) {
  if (!std::filesystem::exists(file_))
    throw CoreError("cannot load the effects core '" + file_.string() + "': no such file");
  module_ = ::dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) {
    const char* why = ::dlerror();
    throw CoreError("cannot load the effects core '" + file_.string() + "': " + (why != nullptr ? why : "unknown error"));
  }
  const auto find = [this](const char* name) {
    void* symbol = ::dlsym(module_, name);
    if (symbol == nullptr) {
      ::dlclose(module_);
      module_ = nullptr;
      throw CoreError("'" + file_.string() + "' is not a Kalvero core: it has no " + name);
    }
    return symbol;
  };
  entry_ = reinterpret_cast<ps::EntryPointProc>(find("Photoshop_Entry_Point"));
  auto setResources = reinterpret_cast<ps::SetResourceHandleProc>(find("SetResourceHandle"));
  setResources((file_.parent_path() / "resources").c_str());
}

CoreLibrary::~CoreLibrary() {
  if (module_ != nullptr) ::dlclose(module_);
}

std::filesystem::path ChooseCore(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("KALVERO_CORE"); env != nullptr && *env != '\0') return env;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (ec ? std::filesystem::path(".") : self.parent_path()) / kCoreFileName;
}

}  // namespace kv::cli
