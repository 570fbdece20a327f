// Parameter blocks of any bytes in the host's parameters handle, as a
// stored action of another version leaves them, and a host record with odd
// rectangles, planes and modes: the core clamps or refuses, never trusts.
#include <cstring>
#include <string>

#include "hosts/common/memory_suites.h"
#include "tests/fuzz/core_run.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::Bytes b(data, size);
  const int32_t number = kv::fuzz::EffectFrom(b).description.number;
  kv::host::Document document = kv::fuzz::SmallDocument(b);
  const uint8_t flags = b.Byte();
  // The input's bytes repeated through the largest block, so that long
  // values (a puzzle's arrangement) hold any bytes too.
  std::string block(8192, '\0');
  for (size_t i = 0; i < 192; ++i) block[i] = char(b.Byte());
  for (size_t i = 192; i < block.size(); ++i) block[i] = block[i % 192];
  // Mostly a block of this effect, whose bytes are then read as its values.
  if ((flags & 1) == 0) std::memcpy(block.data(), &number, sizeof number);
  kv::fuzz::RunCore(document, number, (flags & 2) != 0, [&](kv::host::FilterHost& host) {
    ps::FilterRecord& r = host.Record();
    r.parameters = kv::host::NewHandle(32000, block);
    if ((flags & 4) == 0) return;
    r.imageSize = {b.Raw<int16_t>(), b.Raw<int16_t>()};
    r.filterRect = {b.Raw<int16_t>(), b.Raw<int16_t>(), b.Raw<int16_t>(), b.Raw<int16_t>()};
    r.planes = b.Raw<int16_t>();
    r.imageMode = b.Raw<int16_t>();
    r.filterCase = b.Raw<int16_t>();
    r.inLayerPlanes = b.Raw<int16_t>();
    r.inTransparencyMask = b.Raw<int16_t>();
    r.outLayerPlanes = b.Raw<int16_t>();
    r.outTransparencyMask = b.Raw<int16_t>();
    r.haveMask = b.Byte() % 2;
    r.isFloating = b.Byte() % 2;
    r.imageHRes = b.Raw<int32_t>();
  });
  return 0;
}
