// The two symbols the shared core exports.
#include "entry/dialog_hook.h"
#include "entry/entry.h"
#include "platform/system.h"
#include "ui/dialog_session.h"

namespace {

// The shared core shows its dialog through the toolkit library beside it.
const bool kDialogRegistered = (kv::SetDialogRunner(&kv::RunToolkitDialog), true);

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void Photoshop_Entry_Point(int16_t selector, void* record, intptr_t* data,
                                                                   int16_t* result, int32_t filterId) {
  kv::EntryPoint(selector, record, data, result, filterId);
}

__attribute__((visibility("default"))) void SetResourceHandle(const char* resourceFolder) {
  platform::SetResourceFolder(resourceFolder != nullptr ? resourceFolder : "");
}

}
