// The two symbols the shared core exports.
#include "host/entry.h"
#include "platform/system.h"

extern "C" {

__attribute__((visibility("default"))) void Photoshop_Entry_Point(int16_t selector, void* record, intptr_t* data,
                                                                   int16_t* result, int32_t filterId) {
  kv::EntryPoint(selector, record, data, result, filterId);
}

__attribute__((visibility("default"))) void SetResourceHandle(const char* resourceFolder) {
  platform::SetResourceFolder(resourceFolder != nullptr ? resourceFolder : "");
}

}
