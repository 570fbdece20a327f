#include "host/host_calls.h"

#include <algorithm>

#include "host/working_area.h"
#include "platform/product.h"

namespace kv {

HostSession& Session() {
  static HostSession session;
  return session;
}

bool OnHostThread() { return platform::CurrentThread() == Session().hostThread; }

void ShowHostError(const ps::FilterRecord* host, const std::string& text) {
  platform::ShowMessage(host != nullptr ? host->platformData : nullptr, ps::messageError, kProductName, text);
}

namespace hostcall {
namespace {

ps::FilterRecord* Record() { return Session().record; }

// Whether a buffer the host handed over holds the area asked for, at the
// rate asked: a host that answers success without a buffer, or with rows
// shorter than the area, is refused rather than read past.
bool Holds(const ps::Rect16& asked, int32_t planes, ps::Fixed rate, const void* data, int32_t rowBytes) {
  const Rect area = FromHost(asked);
  if (area.IsEmpty() || planes <= 0) return true;
  const Rect reduced = ReducedRect(area, std::max(1, int32_t(rate >> 16)));
  return data != nullptr && int64_t(rowBytes) >= int64_t(reduced.Width()) * planes;
}

bool Delivered(const ps::FilterRecord& r) {
  return Holds(r.inRect, r.inHiPlane - r.inLoPlane + 1, r.inputRate, r.inData, r.inRowBytes) &&
         Holds(r.outRect, r.outHiPlane - r.outLoPlane + 1, ps::kFixedOne, r.outData, r.outRowBytes) &&
         (!r.haveMask || Holds(r.maskRect, 1, r.maskRate, r.maskData, r.maskRowBytes));
}

// Runs `call` here on the host's thread, or sends it there.
template <class Call>
int16_t OnHost(HostMessage message, Call call) {
  if (OnHostThread()) return call();
  platform::MessageQueue* queue = Session().dialogQueue;
  if (queue == nullptr) return -1;
  return int16_t(queue->Send(message, [&]() -> int32_t { return call(); }));
}

}  // namespace

int16_t MapHostError(int16_t code) {
  switch (code) {
    case ps::errHostCancelled: case ps::memFullErr: case -1: case 0: case 1: return code;
    default: return -1;
  }
}

int16_t AdvanceState() {
  return OnHost(kMsgAdvanceState, [] {
    ps::FilterRecord* r = Record();
    if (r == nullptr || r->advanceState == nullptr) return int16_t(-1);
    const int16_t result = r->advanceState();
    return result == 0 && !Delivered(*r) ? int16_t(-1) : result;
  });
}

int16_t ColorServices(ps::ColorServicesInfo* info) {
  return OnHost(kMsgColorServices, [info] {
    ps::FilterRecord* r = Record();
    return r != nullptr && r->colorServices != nullptr ? r->colorServices(info) : int16_t(-1);
  });
}

int16_t ReadChannelPixels(ps::ChannelReadPort port, const ps::PSScaling* scaling, const ps::VRect* writeRect,
                          const ps::PixelMemoryDesc* destination, ps::VRect* wroteRect) {
  return OnHost(kMsgReadChannelPixels, [=] {
    ps::FilterRecord* r = Record();
    if (r == nullptr || r->channelPortProcs == nullptr || r->channelPortProcs->readPixelsProc == nullptr)
      return int16_t(-1);
    return r->channelPortProcs->readPixelsProc(port, scaling, writeRect, destination, wroteRect);
  });
}

int16_t GetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t* simple, ps::Handle* complex) {
  return OnHost(kMsgGetProperty, [=] {
    ps::FilterRecord* r = Record();
    if (r == nullptr || r->propertyProcs == nullptr || r->propertyProcs->getPropertyProc == nullptr)
      return int16_t(-1);
    return r->propertyProcs->getPropertyProc(signature, key, index, simple, complex);
  });
}

int16_t SetProperty(uint32_t signature, uint32_t key, int32_t index, intptr_t simple, ps::Handle complex) {
  return OnHost(kMsgGetProperty, [=] {
    ps::FilterRecord* r = Record();
    if (r == nullptr || r->propertyProcs == nullptr || r->propertyProcs->setPropertyProc == nullptr)
      return int16_t(-1);
    return r->propertyProcs->setPropertyProc(signature, key, index, simple, complex);
  });
}

int16_t DisplayPixels(const ps::PSPixelMap* source, const ps::VRect* srcRect, int32_t dstRow, int32_t dstCol,
                      void* platformContext) {
  return OnHost(kMsgDisplayPixels, [=] {
    ps::FilterRecord* r = Record();
    return r != nullptr && r->displayPixels != nullptr ? r->displayPixels(source, srcRect, dstRow, dstCol, platformContext)
                                                       : int16_t(-1);
  });
}

int16_t AllocateBuffer(int32_t size, ps::BufferID* buffer) {
  const HostSession& s = Session();
  if (!OnHostThread() || !s.haveBuffers || s.buffers.allocateProc == nullptr) return -1;
  return s.buffers.allocateProc(size, buffer);
}

char* LockBuffer(ps::BufferID buffer) {
  const HostSession& s = Session();
  if (!OnHostThread() || !s.haveBuffers || s.buffers.lockProc == nullptr) return nullptr;
  return s.buffers.lockProc(buffer, true);
}

void UnlockBuffer(ps::BufferID buffer) {
  const HostSession& s = Session();
  if (OnHostThread() && s.haveBuffers && s.buffers.unlockProc != nullptr) s.buffers.unlockProc(buffer);
}

void FreeBuffer(ps::BufferID buffer) {
  const HostSession& s = Session();
  if (OnHostThread() && s.haveBuffers && s.buffers.freeProc != nullptr) s.buffers.freeProc(buffer);
}

int32_t BufferSpace() {
  const HostSession& s = Session();
  if (!OnHostThread() || !s.haveBuffers || s.buffers.spaceProc == nullptr) return -1;
  return s.buffers.spaceProc();
}

namespace {
const ps::HandleProcs* Handles() {
  ps::FilterRecord* r = Record();
  return r != nullptr ? r->handleProcs : nullptr;
}
}  // namespace

ps::Handle NewHandle(int32_t size) {
  const ps::HandleProcs* h = Handles();
  return h != nullptr && h->newProc != nullptr ? h->newProc(size) : nullptr;
}

void DisposeHandle(ps::Handle handle) {
  const ps::HandleProcs* h = Handles();
  if (h != nullptr && h->disposeProc != nullptr && handle != nullptr) h->disposeProc(handle);
}

char* LockHandle(ps::Handle handle) {
  const ps::HandleProcs* h = Handles();
  return h != nullptr && h->lockProc != nullptr && handle != nullptr ? h->lockProc(handle, false) : nullptr;
}

void UnlockHandle(ps::Handle handle) {
  const ps::HandleProcs* h = Handles();
  if (h != nullptr && h->unlockProc != nullptr && handle != nullptr) h->unlockProc(handle);
}

int32_t HandleSize(ps::Handle handle) {
  const ps::HandleProcs* h = Handles();
  return h != nullptr && h->getSizeProc != nullptr && handle != nullptr ? h->getSizeProc(handle) : 0;
}

}  // namespace hostcall
}  // namespace kv
