// The description of the effects a core ships, as kalvero reads it: either
// refused in words or good for every command that uses it.
#include <cstdio>

#include "hosts/cli/effect_values.h"
#include "hosts/common/description_json.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::cli::CoreDescription core;
  try {
    core = kv::cli::ParseDescription(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::runtime_error&) {
    return 0;
  }
  static std::FILE* nowhere = std::fopen("/dev/null", "w");
  for (const kv::cli::DescribedEffect& effect : core.effects) {
    try {
      kv::cli::EffectValues values(effect, 300.0);
      kv::cli::PrintParameters(effect, nowhere);
      (void)values.Values();
    } catch (const std::runtime_error&) {
    }
  }
  return 0;
}
