// Settings texts read into an effect's own parameter list, as the dialog
// and kalvero read settings files; what was read must write and read again.
#include <cstdlib>
#include <vector>

#include "effects/filter_table.h"
#include "framework/filter.h"
#include "parameters/parameters.h"
#include "parameters/settings_archive.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::fuzz::Bytes bytes(data, size);
  auto effect = kv::CreateFilter(kv::fuzz::EffectFrom(bytes).description.number);
  if (!effect) std::abort();
  std::vector<uint8_t> block(kv::kParametersHandleSize);
  effect->SetDefaults(block.data());
  kv::ParameterList list;
  list.resolution = 1 + bytes.Byte() * 40;
  if (effect->BuildParameters(list, block.data()) != 0) std::abort();
  kv::SettingsProblems problems;
  const std::string text = bytes.Rest();
  const int32_t read = kv::ReadSettingsText(text, effect->SettingsName(), list, "fuzz", &problems);
  if (read != 0 && read != -1) std::abort();
  // What the values became reads back without a word.
  const std::string again = kv::SettingsText(effect->SettingsName(), list);
  problems.clear();
  if (kv::ReadSettingsText(again, effect->SettingsName(), list, "again", &problems) != 0 || !problems.empty())
    std::abort();
  return 0;
}
