#include "tests/fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/system.h"

namespace kv::fuzz {

MemoryFile::MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
  if (fd_ < 0) std::abort();
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n <= 0) std::abort();
    done += size_t(n);
  }
}

MemoryFile::~MemoryFile() { ::close(fd_); }

std::filesystem::path MemoryFile::Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

const host::CoreDescription& Description() {
  static const host::CoreDescription description = [] {
    std::string text, why;
    if (!platform::ReadRegularFile(KV_RESOURCE_DIR "/Effects.json", 16 << 20, text, why))
      throw std::runtime_error("no description of the effects: " + why);
    return host::ParseDescription(text);
  }();
  return description;
}

const host::DescribedEffect& EffectFrom(Bytes& bytes) {
  const auto& effects = Description().effects;
  return effects[bytes.Byte() % effects.size()];
}

void SetUp() {
  platform::SetResourceFolder(KV_RESOURCE_DIR);
  ::setenv("KALVERO_MEMORY_LIMIT", "256M", 1);
}

host::Document SmallDocument(Bytes& bytes) {
  const uint8_t shape = bytes.Byte();
  const auto mode = host::Mode(shape % 4);
  const bool alpha = (shape & 4) != 0 && mode != host::Mode::Lab;
  host::Document d(8 + bytes.Byte() % 40, 8 + bytes.Byte() % 30, mode, alpha);
  for (size_t i = 0; i < d.pixels.size(); ++i) d.pixels[i] = uint8_t(i * 37 + (i >> 7) * 11);
  return d;
}

}  // namespace kv::fuzz
