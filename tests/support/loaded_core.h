// The built shared core, loaded as a host loads it: through its two exports
// only, once for the process.
#pragma once

#include "platform/protocol.h"

namespace kv::test {

struct LoadedCore {
  ps::EntryPointProc entry = nullptr;
  ps::SetResourceHandleProc setResourceHandle = nullptr;
};

// Fails the calling test's process with a message when the core cannot be
// loaded: nothing that uses it could run.
const LoadedCore& Core();

}  // namespace kv::test
