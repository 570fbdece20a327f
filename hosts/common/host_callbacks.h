// The C callbacks of the filter record. They have no context of their own,
// so they act on the host whose selector is running.
#pragma once

#include "hosts/common/filter_host.h"

namespace kv::host {

struct FilterHost::Callbacks {
  static FilterHost* active;

  static ps::Boolean Abort();
  static void Progress(int32_t done, int32_t total);
  static ps::OSErr Advance();
  static ps::OSErr ColorServices(ps::ColorServicesInfo* info);
  static ps::OSErr DisplayPixels(const ps::PSPixelMap* source, const ps::VRect* srcRect, int32_t dstRow,
                                 int32_t dstCol, void* platformContext);
  static ps::OSErr GetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t* simple,
                               ps::Handle* complex);
  static ps::OSErr SetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t simple, ps::Handle complex);
  static ps::OSErr ReadChannel(ps::ChannelReadPort port, const ps::PSScaling* scaling, const ps::VRect* writeRect,
                               const ps::PixelMemoryDesc* destination, ps::VRect* wroteRect);
  static void Message(void* window, int32_t kind, const char* caption, const char* text);
};

}  // namespace kv::host
