#include <new>

#include "parameters/parameter_io.h"
#include "parameters/parameters.h"
#include "platform/string_table.h"

namespace kv {

std::string TextKeys::LabelText() const { return strings::Text(label); }
std::string TextKeys::HelpText() const { return strings::Text(HelpKey()); }

bool FilterParameter::HasKey(uint32_t k) const {
  for (int32_t i = 0; i < KeyCount(); ++i)
    if (Key(i) == k) return true;
  return false;
}

std::string FilterParameter::Name() const { return text.label.empty() ? param_io::FourCCText(Key(0)) : text.label; }

std::string FilterParameter::ValueText() const {
  const std::vector<ValueLine> lines = ValueLines();
  return lines.empty() ? std::string() : lines.front().second;
}

int32_t FilterParameter::Refuse(std::string& error, std::string_view accepted) const {
  error = Name() + " takes " + std::string(accepted);
  return -1;
}

int32_t ParameterList::AddParameter(std::unique_ptr<FilterParameter> parameter) {
  if (count >= kCapacity || parameter == nullptr) return -1;
  parameter->owner = this;
  items[size_t(count++)] = std::move(parameter);
  return 0;
}

int32_t ParameterList::AddPage(std::string label) {
  try {
    pages.push_back(std::move(label));
  } catch (const std::bad_alloc&) {
    return -108;
  }
  return 0;
}

FilterParameter* ParameterList::Find(uint32_t key) const {
  for (const auto& p : *this)
    if (p->HasKey(key)) return p.get();
  return nullptr;
}

FilterParameter* ParameterList::FindByName(std::string_view name) const {
  name = Trim(name);
  for (const auto& p : *this)
    if (param_io::EqualsIgnoreCase(p->Name(), name)) return p.get();
  for (const auto& p : *this)
    if (param_io::SameName(p->Name(), name)) return p.get();
  // The scripting key names a parameter too, for those who script.
  if (name.size() == 4) {
    uint32_t key = 0;
    for (char c : name) key = key << 8 | uint8_t(c);
    return Find(key);
  }
  return nullptr;
}

std::vector<uint32_t> ParameterList::Keys() const {
  std::vector<uint32_t> keys;
  for (const auto& p : *this)
    for (int32_t i = 0; i < p->KeyCount(); ++i) keys.push_back(p->Key(i));
  return keys;
}

int32_t ParameterList::ReadDescriptorValue(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token,
                                           uint32_t key, const ps::HandleProcs& handles) {
  FilterParameter* p = Find(key);
  return p == nullptr ? 0 : p->ReadDescriptor(procs, token, key, handles);
}

int32_t ParameterList::WriteDescriptor(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token,
                                       const ps::HandleProcs& handles) const {
  for (const auto& p : *this)
    if (int32_t err = p->WriteDescriptor(procs, token, handles)) return err;
  return 0;
}

}  // namespace kv
