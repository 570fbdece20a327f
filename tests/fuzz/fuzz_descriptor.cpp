// The core's reading of a host's scripting descriptor: values of every type
// under the effect's own keys and others, as a host replaying an action of
// another version may hand them over, then the render they lead to.
#include <vector>

#include "hosts/common/descriptor.h"
#include "tests/fuzz/core_run.h"

namespace {

using kv::host::Descriptor;
using kv::host::DescriptorValue;

DescriptorValue Value(kv::fuzz::Bytes& b, const std::vector<uint32_t>& codes) {
  const auto code = [&] {
    return !codes.empty() && b.Byte() < 200 ? codes[b.Byte() % codes.size()] : b.Raw<uint32_t>();
  };
  switch (b.Byte() % 7) {
    case 0: return b.Raw<int32_t>();
    case 1: return b.Raw<double>();
    case 2: return kv::host::UnitFloat{b.Raw<uint32_t>(), b.Raw<double>()};
    case 3: return b.Byte() % 2 == 0;
    case 4: return b.Text(80);
    case 5: return kv::host::Enumerated{code(), code()};
    default: return kv::host::ClassId{b.Raw<uint32_t>()};
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::Bytes b(data, size);
  const kv::host::DescribedEffect& effect = kv::fuzz::EffectFrom(b);
  std::vector<uint32_t> keys, codes;
  for (const auto& p : effect.description.parameters) {
    for (const auto& k : p.keys) keys.push_back(k.key);
    for (const auto& c : p.choices) codes.push_back(c.enumCode);
    if (p.enumType != 0) codes.push_back(p.enumType);
  }
  kv::host::Document document = kv::fuzz::SmallDocument(b);
  const bool selected = b.Byte() % 2 == 0;
  Descriptor script;
  for (int i = 0; i < 64 && b.Left() > 0; ++i) {
    const uint8_t pick = b.Byte();
    const uint32_t key = pick < 224 && !keys.empty() ? keys[pick % keys.size()] : b.Raw<uint32_t>();
    script.Put(key, Value(b, codes));
  }
  kv::fuzz::RunCore(document, effect.description.number, selected,
                    [&](kv::host::FilterHost& host) { host.SetScript(script); });
  return 0;
}
