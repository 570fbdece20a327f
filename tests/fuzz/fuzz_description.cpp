// The description of the effects a core ships, as kalvero reads it: either
// refused in words or good for every command that uses it.
#include "hosts/common/effect_values.h"
#include "hosts/common/description_json.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::host::CoreDescription core;
  try {
    core = kv::host::ParseDescription(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::runtime_error&) {
    return 0;
  }
  for (const kv::host::DescribedEffect& effect : core.effects) {
    try {
      kv::host::EffectValues values(effect, 300.0);
      (void)kv::host::ParametersText(effect);
      (void)values.Values();
    } catch (const std::runtime_error&) {
    }
  }
  return 0;
}
