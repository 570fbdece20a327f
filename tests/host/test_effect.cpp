#include "test_effect.h"

namespace kv::test {

int32_t InvertEffect::BuildParameters(ParameterList& list, void* block) {
  auto strength = std::make_unique<SliderParameter>();
  strength->text.label = "Strength";
  strength->key = ps::FourCC("TSst");
  strength->value = &static_cast<InvertBlock*>(block)->strength;
  return list.AddParameter(std::move(strength));
}

}  // namespace kv::test
