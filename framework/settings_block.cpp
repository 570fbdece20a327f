#include "framework/settings_block.h"

#include <algorithm>
#include <new>
#include <vector>

#include "framework/filter.h"
#include "parameters/parameters.h"

namespace kv {

namespace {

// The effect's parameter list bound to a copy of the block.
struct BoundBlock {
  std::vector<uint8_t> bytes;
  ParameterList list;
};

int32_t Bind(Filter& effect, std::span<const uint8_t> block, double resolution, BoundBlock& bound,
             SettingsProblems* problems) {
  if (block.size() < std::max<size_t>(effect.ParameterBlockSize(), sizeof(int32_t)) ||
      BlockEffectNumber(block.data()) != effect.filterId) {
    if (problems != nullptr) problems->push_back("the parameter block is not one of " + effect.SettingsName());
    return -1;
  }
  bound.bytes.assign(block.begin(), block.end());
  bound.list.resolution = resolution;
  return effect.BuildParameters(bound.list, bound.bytes.data());
}

}  // namespace

int32_t SaveSetting(Filter& effect, const std::string& name, std::span<const uint8_t> block,
                    SettingsProblems* problems) {
  try {
    BoundBlock bound;
    if (int32_t err = Bind(effect, block, 72.0, bound, problems)) return err;
    return SaveSetting(effect.SettingsName(), name, bound.list, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t StoreLastUsed(Filter& effect, std::span<const uint8_t> block, SettingsProblems* problems) {
  try {
    BoundBlock bound;
    if (int32_t err = Bind(effect, block, 72.0, bound, problems)) return err;
    return StoreLastUsed(effect.SettingsName(), bound.list, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t LoadSetting(Filter& effect, const std::string& name, std::span<uint8_t> block, double resolution,
                    SettingsProblems* problems, SettingsSource* source) {
  try {
    BoundBlock bound;
    if (int32_t err = Bind(effect, block, resolution, bound, problems)) return err;
    if (int32_t err = LoadSetting(effect.SettingsName(), name, bound.list, problems, source)) return err;
    std::copy(bound.bytes.begin(), bound.bytes.end(), block.begin());
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

}  // namespace kv
