// A small in-memory host that drives the entry point as an image editor
// would: one interleaved document, its selection, and the callback suites.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/protocol.h"

namespace kv::test {

struct DescriptorValue {
  ps::DescType type = 0;
  double number = 0;
  std::string text;
  uint32_t enumType = 0;
};
using Descriptor = std::vector<std::pair<uint32_t, DescriptorValue>>;

class FakeHost {
 public:
  // planes: colour planes plus one when `transparency` is set.
  // `image`, when given, is the image's pixels, taken over; else all zero.
  FakeHost(int width, int height, int16_t imageMode, int colorPlanes, bool transparency = false,
           std::vector<uint8_t> image = {});
  ~FakeHost();

  // Runs the selectors of one application; false when one of them failed.
  // withDialog sends the parameters selector first, as a menu pick does.
  bool Run(int32_t filterId, bool withDialog = false);
  int16_t Call(int16_t selector, int32_t filterId);

  void SetSelection(std::vector<uint8_t> mask);  // width * height, 0..255
  void SetScript(Descriptor script, int16_t playInfo);
  // Whether nothing was written past the handle's size.
  static bool HandleIntact(ps::Handle handle);
  // What `write` puts through this host's write suite, as a script.
  Descriptor Written(const std::function<int32_t(const ps::WriteDescriptorProcs&, ps::PIWriteDescriptor,
                                                 const ps::HandleProcs&)>& write);

  // The core's entry point: one linked into the test, or one it loaded.
  inline static ps::EntryPointProc defaultEntry = nullptr;
  ps::EntryPointProc entry = defaultEntry;

  ps::FilterRecord record{};
  std::vector<uint8_t> pixels;  // interleaved, width * height * planes
  int width, height, planes;
  intptr_t data = 0;
  int16_t lastResult = 0;
  std::vector<std::string> messages;
  std::vector<int16_t> selectorsSeen;
  Descriptor written;       // the descriptor the core wrote at finish
  int advanceCalls = 0;
  int tileSize = 0;          // answered to the core's tile-size property when set
  int abortAfterPolls = -1;  // the abort proc answers 1 from this poll on
  int abortPolls = 0;
  std::vector<std::pair<int32_t, int32_t>> progress;

  // Suites a test can remove to play a weaker host.
  ps::HandleProcs handleProcs{};
  ps::BufferProcs bufferProcs{};
  ps::PropertyProcs propertyProcs{};
  ps::PIDescriptorParameters descriptorParameters{};
  ps::ReadDescriptorProcs readProcs{};
  ps::WriteDescriptorProcs writeProcs{};
  ps::PlatformData platform{};

 private:
  int16_t Advance();
  void WriteBackOutput();
  static FakeHost* current;
  friend struct FakeHostCallbacks;

  std::vector<uint8_t> selection_;
  std::vector<uint8_t> original_;  // the image as the run found it
  std::vector<uint8_t> inBuffer_, outBuffer_, maskBuffer_;
  ps::Rect16 lastOutRect_{};
  int16_t lastOutLo_ = 0, lastOutHi_ = -1;
};

}  // namespace kv::test
