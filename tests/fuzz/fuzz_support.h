// What the fuzz targets share: the bytes of an input as a file, a reader of
// values from them, the effects' description, and one run of the core
// through kalvero's host. Every target is built twice: with libFuzzer under
// clang to search, and with replay_main.cpp in the ordinary build, which
// plays the seed corpus and every input that ever failed. Targets that
// work on one effect take its number from an input's first byte, so each
// seed and kept failure begins with the number of the effect it was for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "hosts/common/document.h"
#include "hosts/common/description_json.h"

namespace kv::fuzz {

// The bytes in an unnamed file in memory, opened through its /proc path as
// kalvero opens any file.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::filesystem::path Path() const;

 private:
  int fd_;
};

// Values taken from the front of the input; zeros once it runs out.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  size_t Left() const { return left_; }
  uint8_t Byte() { return left_ > 0 ? (--left_, *data_++) : 0; }
  template <class T>
  T Raw() {
    unsigned char bytes[sizeof(T)] = {};
    for (unsigned char& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  std::string Text(size_t most) {
    std::string text;
    for (size_t n = Byte() % (most + 1); n > 0 && left_ > 0; --n) text += char(Byte());
    return text;
  }
  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_), left_);
    left_ = 0;
    return text;
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

// The built core's description of its effects, read once.
const host::CoreDescription& Description();

// The effect an input is for, from its next byte.
const host::DescribedEffect& EffectFrom(Bytes& bytes);

// Points the core at the built resources and keeps every run within a
// fuzzer's memory: images and renders larger than this are refused.
void SetUp();

// A small document of the mode and transparency the bytes choose, with a
// pattern in it.
host::Document SmallDocument(Bytes& bytes);

}  // namespace kv::fuzz
