#include "hosts/cli/parameter_block.h"

#include <cstdio>
#include <stdexcept>

#include "hosts/cli/effect_names.h"
#include "hosts/cli/memory_suites.h"

namespace kv::cli {

ParameterBlock::ParameterBlock(int32_t effect, double resolution)
    : filter_(CreateFilter(effect)), bytes_(kParametersHandleSize) {
  if (filter_ == nullptr)
    throw std::invalid_argument(std::string(kEffects[size_t(effect)].name) + " is not in this build");
  filter_->SetDefaults(bytes_.data());
  list_.resolution = resolution;
  if (filter_->BuildParameters(list_, bytes_.data()) != 0) throw std::bad_alloc();
}

std::string ParameterBlock::Set(std::string_view assignment, FilterParameter** changed) {
  const size_t equals = assignment.find('=');
  const char* effect = kEffects[size_t(filter_->filterId)].name;
  if (equals == std::string_view::npos)
    return "'" + std::string(assignment) + "' is not NAME=VALUE";
  const std::string_view name = assignment.substr(0, equals);
  FilterParameter* p = list_.FindByName(name);
  if (p == nullptr)
    return std::string(effect) + " has no parameter '" + std::string(name) + "'; 'kalvero params " +
           kEffects[size_t(filter_->filterId)].settingsName + "' lists them";
  std::string error;
  if (p->SetFromText(assignment.substr(equals + 1), error) != 0)
    return "--set \"" + std::string(assignment) + "\": " + error;
  if (changed != nullptr) *changed = p;
  return {};
}

bool ParameterBlock::Adopt(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < filter_->ParameterBlockSize() || BlockEffectNumber(bytes.data()) != filter_->filterId)
    return false;
  std::copy_n(bytes.begin(), std::min(bytes.size(), bytes_.size()), bytes_.begin());
  return true;
}

Descriptor ParameterBlock::Values() const {
  ps::WriteDescriptorProcs& write = WriteSuite();
  ps::PIWriteDescriptor token = write.openWriteDescriptorProc();
  const int32_t err = list_.WriteDescriptor(write, token, HandleSuite());
  ps::PIDescriptorHandle handle = nullptr;
  write.closeWriteDescriptorProc(token, &handle);
  Descriptor values = handle != nullptr ? HandleDescriptor(handle) : Descriptor{};
  DisposeHandle(handle);
  if (err != 0) throw std::runtime_error("the values cannot be written as a script");
  return values;
}

bool EffectBuilt(int32_t effect) { return CreateFilter(effect) != nullptr; }

void PrintParameters(int32_t effect, std::FILE* out) {
  const ParameterBlock block(effect);
  std::fprintf(out, "%s (%d): %d parameters. Set them with --set \"NAME=VALUE\".\n\n", kEffects[size_t(effect)].name,
               effect, block.List().count);
  for (const auto& p : block.List()) {
    std::string keys;
    for (int32_t i = 0; i < p->KeyCount(); ++i) keys += (i ? ", " : "") + CodeText(p->Key(i));
    std::fprintf(out, "  %s  [%s]\n    %s\n    default: %s\n", p->Name().c_str(), keys.c_str(), p->RangeText().c_str(),
                 p->ValueText().c_str());
    const std::vector<std::string> choices = p->Choices();
    if (!choices.empty()) {
      std::string words;
      for (const std::string& c : choices) words += (words.empty() ? "" : ", ") + c;
      std::fprintf(out, "    one of: %s\n", words.c_str());
    }
  }
}

}  // namespace kv::cli
