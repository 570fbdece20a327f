// --script files as kalvero plays them over an effect's values: refused in
// words, or played, clamped and written back.
#include "hosts/common/effect_values.h"
#include "hosts/common/descriptor.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::Bytes bytes(data, size);
  const kv::host::DescribedEffect& effect = kv::fuzz::EffectFrom(bytes);
  kv::host::Descriptor script;
  try {
    script = kv::host::FromJson(bytes.Rest());
  } catch (const std::runtime_error&) {
    return 0;
  }
  kv::host::EffectValues values(effect, 72.0);
  values.SetPositionFrame({{10, 20, 110, 70}, {0, 0, 200, 100}});
  (void)values.Play(script, [](const std::string&) {});
  (void)kv::host::FromJson(kv::host::ToJson(values.Values()));
  return 0;
}
