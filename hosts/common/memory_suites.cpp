#include "hosts/common/memory_suites.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace kv::host {

namespace {

// Never empty, so that locking always gives a pointer.
struct Block {
  std::unique_ptr<char[]> bytes;
  size_t size = 0;
  uint64_t serial = 0;
};

std::atomic<uint64_t> nextSerial{1};

Block* NewBlock(size_t size) {
  auto block = std::unique_ptr<Block>(new (std::nothrow) Block);
  if (!block) return nullptr;
  block->bytes.reset(new (std::nothrow) char[std::max<size_t>(size, 1)]());
  if (!block->bytes) return nullptr;
  block->size = size;
  block->serial = nextSerial++;
  return block.release();
}

Block* AsBlock(ps::Handle h) { return reinterpret_cast<Block*>(h); }

ps::OSErr ResizeHandle(ps::Handle h, int32_t size) {
  if (h == nullptr || size < 0) return ps::generalFailure;
  Block& b = *AsBlock(h);
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[std::max<size_t>(size_t(size), 1)]());
  if (!bytes) return ps::memFullErr;
  std::memcpy(bytes.get(), b.bytes.get(), std::min(b.size, size_t(size)));
  b.bytes = std::move(bytes);
  b.size = size_t(size);
  return ps::noErr;
}

ps::OSErr AllocateBuffer(int32_t size, ps::BufferID* buffer) {
  if (buffer == nullptr || size < 0) return ps::generalFailure;
  Block* b = NewBlock(size_t(size));
  *buffer = reinterpret_cast<ps::BufferID>(b);
  return b != nullptr ? ps::noErr : ps::memFullErr;
}

}  // namespace

ps::Handle NewHandle(size_t size, std::string_view contents) {
  Block* b = NewBlock(std::max(size, contents.size()));
  if (b != nullptr && !contents.empty()) std::memcpy(b->bytes.get(), contents.data(), contents.size());
  return reinterpret_cast<ps::Handle>(b);
}

void DisposeHandle(ps::Handle h) { delete AsBlock(h); }
char* HandleData(ps::Handle h) { return h != nullptr ? AsBlock(h)->bytes.get() : nullptr; }
size_t HandleSize(ps::Handle h) { return h != nullptr ? AsBlock(h)->size : 0; }
uint64_t HandleSerial(ps::Handle h) { return h != nullptr ? AsBlock(h)->serial : 0; }

ps::HandleProcs& HandleSuite() {
  static ps::HandleProcs suite{
      1,
      6,
      [](int32_t size) { return size >= 0 ? NewHandle(size_t(size)) : nullptr; },
      [](ps::Handle h) { DisposeHandle(h); },
      [](ps::Handle h) { return int32_t(HandleSize(h)); },
      ResizeHandle,
      [](ps::Handle h, ps::Boolean) -> ps::Ptr { return HandleData(h); },
      [](ps::Handle) {},
  };
  return suite;
}

ps::BufferProcs& BufferSuite() {
  static ps::BufferProcs suite{
      2,
      5,
      AllocateBuffer,
      [](ps::BufferID b, ps::Boolean) -> ps::Ptr { return b != nullptr ? reinterpret_cast<Block*>(b)->bytes.get() : nullptr; },
      [](ps::BufferID) {},
      [](ps::BufferID b) { delete reinterpret_cast<Block*>(b); },
      []() { return kBufferSpace; },
  };
  return suite;
}

}  // namespace kv::host
