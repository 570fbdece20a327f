// Every call to the host goes through here. Calls made on a thread other than
// the one that made the current host call (the dialog's preview worker) are
// sent to the dialog's queue and run on the host's thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_queue.h"
#include "platform/protocol.h"
#include "platform/system.h"

namespace kv {

struct RunRecord;

// Process-wide state set by the entry point for the selector being handled.
struct HostSession {
  ps::FilterRecord* record = nullptr;
  RunRecord* run = nullptr;
  platform::ThreadId hostThread;
  ps::BufferProcs buffers{};  // cached at entry; empty between selectors
  bool haveBuffers = false;
  platform::MessageQueue* dialogQueue = nullptr;  // published by the dialog
};
HostSession& Session();

bool OnHostThread();

// An error message owned by the host's window, under the product's name.
void ShowHostError(const ps::FilterRecord* host, const std::string& text);

enum HostMessage : int32_t {
  kMsgAdvanceState = platform::kWmApp + 5,
  kMsgColorServices = platform::kWmApp + 6,
  kMsgReadChannelPixels = platform::kWmApp + 7,
  kMsgGetProperty = platform::kWmApp + 8,
  kMsgDisplayPixels = platform::kWmApp + 9,
};

namespace hostcall {

[[nodiscard]] int16_t AdvanceState();
[[nodiscard]] int16_t ColorServices(ps::ColorServicesInfo* info);
[[nodiscard]] int16_t ReadChannelPixels(ps::ChannelReadPort port, const ps::PSScaling* scaling, const ps::VRect* writeRect,
                          const ps::PixelMemoryDesc* destination, ps::VRect* wroteRect);
[[nodiscard]] int16_t GetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t* simple, ps::Handle* complex);
int16_t SetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t simple, ps::Handle complex);
[[nodiscard]] int16_t DisplayPixels(const ps::PSPixelMap* source, const ps::VRect* srcRect, int32_t dstRow, int32_t dstCol,
                      void* platformContext);

// Buffers are refused off the host's thread.
[[nodiscard]] int16_t AllocateBuffer(int32_t size, ps::BufferID* buffer);
char* LockBuffer(ps::BufferID buffer);
void UnlockBuffer(ps::BufferID buffer);
void FreeBuffer(ps::BufferID buffer);
int32_t BufferSpace();

// Handles are called directly from any thread.
ps::Handle NewHandle(int32_t size);
void DisposeHandle(ps::Handle h);
char* LockHandle(ps::Handle h);
void UnlockHandle(ps::Handle h);
int32_t HandleSize(ps::Handle h);

// Host codes that pass through unchanged; anything else becomes -1.
[[nodiscard]] int16_t MapHostError(int16_t code);

}  // namespace hostcall
}  // namespace kv
