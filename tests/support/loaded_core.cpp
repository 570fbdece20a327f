#include "tests/support/loaded_core.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace kv::test {

const LoadedCore& Core() {
  static const LoadedCore core = [] {
    void* module = dlopen(KV_CORE_FILE, RTLD_NOW | RTLD_LOCAL);
    LoadedCore loaded;
    if (module != nullptr) {
      loaded.entry = reinterpret_cast<ps::EntryPointProc>(dlsym(module, "Photoshop_Entry_Point"));
      loaded.setResourceHandle = reinterpret_cast<ps::SetResourceHandleProc>(dlsym(module, "SetResourceHandle"));
    }
    if (loaded.entry == nullptr || loaded.setResourceHandle == nullptr) {
      const char* why = dlerror();
      std::fprintf(stderr, "cannot load the core %s: %s\n", KV_CORE_FILE, why != nullptr ? why : "no exports");
      std::abort();
    }
    return loaded;
  }();
  return core;
}

}  // namespace kv::test
