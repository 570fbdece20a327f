// The string table's loader over any bytes: it loads, or fails with a line.
#include <cstdlib>
#include <vector>

#include "platform/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const int32_t loaded = kv::strings::LoadFromBytes(std::vector<uint8_t>(data, data + size), error);
  if (loaded != 0 && (loaded != -1 || kv::strings::FailedLine() < 1)) std::abort();
  (void)kv::strings::Text("Burn Width");
  kv::strings::Clear();
  return 0;
}
