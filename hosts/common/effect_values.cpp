#include "hosts/common/effect_values.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "hosts/common/memory_suites.h"
#include "parameters/parameter_io.h"

namespace kv::host {

namespace {

// Reads `values` into `list` key by key, as the core reads a script: 0, or
// the first failing key's error with `failed` set to that key.
int32_t PlayInto(ParameterList& list, const Descriptor& values, uint32_t& failed) {
  ps::Handle handle = DescriptorHandle(values);
  if (handle == nullptr) throw std::bad_alloc();
  ps::ReadDescriptorProcs& read = ReadSuite();
  ps::PIReadDescriptor token = read.openReadDescriptorProc(handle, nullptr);
  int32_t err = 0;
  ps::DescriptorKeyID key = 0;
  ps::DescType type = 0;
  int32_t flags = 0;
  while (err == 0 && token != nullptr && read.getKeyProc(token, &key, &type, &flags)) {
    err = list.ReadDescriptorValue(read, token, key, HandleSuite());
    if (err != 0) failed = key;
  }
  if (token != nullptr) read.closeReadDescriptorProc(token);
  DisposeHandle(handle);
  return err;
}

bool IsNumber(const DescriptorValue& v) {
  return std::holds_alternative<int32_t>(v) || std::holds_alternative<double>(v) ||
         std::holds_alternative<UnitFloat>(v);
}

double NumberOf(const DescriptorValue& v) {
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return *d;
  return std::get<UnitFloat>(v).value;
}

// Whether a value of `v`'s type reads under a key of descriptor type `type`.
bool Accepts(uint32_t type, const DescriptorValue& v) {
  switch (type) {
    case ps::typeFloat: return IsNumber(v);
    case ps::typeInteger: return IsNumber(v) && NumberOf(v) == std::floor(NumberOf(v));
    case ps::typeBoolean: return std::holds_alternative<bool>(v);
    case ps::typeText: return std::holds_alternative<std::string>(v);
    case ps::typeEnumerated: return std::holds_alternative<Enumerated>(v);
    default: return false;
  }
}

const char* TypeName(const DescriptorValue& v) {
  static constexpr const char* kNames[] = {"an integer", "a number", "a number with a unit", "true or false",
                                           "text",       "an enumerated value", "a class"};
  return kNames[v.index()];
}

}  // namespace

EffectValues::EffectValues(const DescribedEffect& effect, double resolution) : effect_(effect) {
  list_.resolution = resolution;
  if (Rebuild(effect.description, list_, store_) != 0)
    throw std::runtime_error("the description of " + Name() + " does not make a parameter list");
  uint32_t failed = 0;
  if (PlayInto(list_, effect.defaults, failed) != 0)
    throw std::runtime_error("the described default of " + Name() + "'s '" + CodeText(failed) + "' does not read");
}

std::string EffectValues::Assign(std::string_view name, std::string_view value, FilterParameter** changed) {
  FilterParameter* p = list_.FindByName(name);
  if (p == nullptr) return Name() + " has no parameter '" + std::string(name) + "'";
  std::string error;
  if (p->SetFromText(value, error) != 0) return error;
  if (changed != nullptr) *changed = p;
  return {};
}

std::string EffectValues::Set(std::string_view assignment, FilterParameter** changed) {
  const size_t equals = assignment.find('=');
  if (equals == std::string_view::npos) return "'" + std::string(assignment) + "' is not NAME=VALUE";
  const std::string_view name = assignment.substr(0, equals);
  if (list_.FindByName(name) == nullptr)
    return Name() + " has no parameter '" + std::string(name) + "'; 'kalvero params " + SettingsName() +
           "' lists them";
  const std::string error = Assign(name, assignment.substr(equals + 1), changed);
  return error.empty() ? error : "--set \"" + std::string(assignment) + "\": " + error;
}

std::string EffectValues::Play(const Descriptor& script, const std::function<void(const std::string&)>& warn) {
  Descriptor known;
  for (const auto& [key, value] : script.Items()) {
    const ParameterDescription* owner = nullptr;
    const KeyDescription* k = FindKey(Effect(), key, &owner);
    if (k == nullptr) {
      warn("the script's key '" + CodeText(key) + "' is not one of " + Name() + "'s; it is left out");
      continue;
    }
    const FilterParameter* p = list_.Find(key);
    const std::string what = "the script's '" + CodeText(key) + "' (" + p->Name() + ")";
    if (!Accepts(k->type, value)) return what + " is " + TypeName(value) + "; it takes " + p->RangeText();
    if (k->ranged && !(NumberOf(value) >= k->minimum && NumberOf(value) <= k->maximum))
      return what + " is " + param_io::Format("%g", NumberOf(value)) + "; it takes a number from " +
             param_io::Format("%g", k->minimum) + " to " + param_io::Format("%g", k->maximum);
    known.Put(key, value);
  }
  uint32_t failed = 0;
  if (PlayInto(list_, known, failed) != 0) {
    const FilterParameter* p = list_.Find(failed);
    const DescriptorValue* example = effect_.defaults.Find(failed);
    const auto* text = example != nullptr ? std::get_if<std::string>(example) : nullptr;
    return "the script's '" + CodeText(failed) + "' (" + p->Name() + ") does not read; it takes " +
           (text != nullptr ? "a text such as '" + *text + "', as --record writes it" : p->RangeText());
  }
  for (const auto& p : list_) p->Clamp();
  return {};
}

std::optional<Descriptor> Written(const ParameterList& list) {
  ps::WriteDescriptorProcs& write = WriteSuite();
  ps::PIWriteDescriptor token = write.openWriteDescriptorProc();
  const int32_t err = list.WriteDescriptor(write, token, HandleSuite());
  ps::PIDescriptorHandle handle = nullptr;
  write.closeWriteDescriptorProc(token, &handle);
  if (handle == nullptr) return std::nullopt;
  Descriptor values = HandleDescriptor(handle);
  DisposeHandle(handle);
  if (err != 0) return std::nullopt;
  return values;
}

Descriptor EffectValues::Values() const {
  std::optional<Descriptor> values = Written(list_);
  if (!values) throw std::runtime_error("the values of " + Name() + " cannot be written as a script");
  return std::move(*values);
}

std::string ParametersText(const DescribedEffect& effect) {
  const EffectValues values(effect);
  std::string text;
  for (const auto& p : values.List()) {
    std::string keys;
    for (int32_t i = 0; i < p->KeyCount(); ++i) keys += (i ? ", " : "") + CodeText(p->Key(i));
    text += "  " + p->Name() + "  [" + keys + "]\n    " + p->RangeText() + "\n    default: " + p->ValueText() + "\n";
    const std::vector<std::string> choices = p->Choices();
    if (!choices.empty()) {
      std::string words;
      for (const std::string& c : choices) words += (words.empty() ? "" : ", ") + c;
      text += "    one of: " + words + "\n";
    }
  }
  return text;
}

}  // namespace kv::host
