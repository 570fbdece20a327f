// One effect's plug-in module, as a host loads it: every call goes to the
// core beside this file with the effect's number, KALVERO_EFFECT_NUMBER.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/protocol.h"

namespace {

struct Core {
  ps::EntryPointProc entry = nullptr;
  std::string why;  // when it could not be loaded
};

const Core& LoadCore() {
  static const Core core = [] {
    Core loaded;
    Dl_info self{};
    if (dladdr(reinterpret_cast<const void*>(&LoadCore), &self) == 0 || self.dli_fname == nullptr) {
      loaded.why = "cannot tell where this plug-in lies";
      return loaded;
    }
    const std::filesystem::path folder = std::filesystem::path(self.dli_fname).parent_path();
    const std::filesystem::path file = folder / "libkalvero-core.so";
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto entry = module != nullptr ? dlsym(module, "Photoshop_Entry_Point") : nullptr;
    const auto resources = module != nullptr ? dlsym(module, "SetResourceHandle") : nullptr;
    if (entry == nullptr || resources == nullptr) {
      const char* error = dlerror();
      loaded.why = "cannot load the effects core '" + file.string() + "': " + (error != nullptr ? error : "no entry");
      return loaded;
    }
    reinterpret_cast<ps::SetResourceHandleProc>(resources)((folder / "resources").c_str());
    loaded.entry = reinterpret_cast<ps::EntryPointProc>(entry);
    return loaded;
  }();
  return core;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void PluginMain(int16_t selector, void* record, intptr_t* data,
                                                                  int16_t* result) {
  const Core& core = LoadCore();
  if (core.entry != nullptr) {
    core.entry(selector, record, data, result, KALVERO_EFFECT_NUMBER);
    return;
  }
  std::fprintf(stderr, "Brightfold Kalvero 2: %s\n", core.why.c_str());
  if (result != nullptr) *result = -1;
}
