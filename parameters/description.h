// Effects described without their code, as the core ships them beside
// itself: what a host needs to list an effect, to build its parameter list
// and to check a script against it. A parameter described here is rebuilt
// as the very class the effect builds, bound to values the caller keeps, so
// a host reads and writes every value form with the core's own code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parameters/parameters.h"

namespace kv {

// One scripting key of a parameter: its descriptor type ('doub', 'long',
// 'bool', 'TEXT', 'enum') and, for numbers, the range a script may give.
struct KeyDescription {
  uint32_t key = 0;
  uint32_t type = 0;
  bool ranged = false;
  double minimum = 0.0, maximum = 0.0;
};

// A string-table key and its text as the table had it.
struct KeyedText {
  std::string key, text;
};

struct ChoiceDescription {
  int32_t value = 0;
  uint32_t enumCode = 0;
  KeyedText label;
};

struct ParameterDescription {
  ParameterKind kind = ParameterKind::kSlider;
  KeyedText label, help;
  int32_t page = 0;
  std::vector<KeyDescription> keys;
  // Sliders and lengths (lengths in pixels).
  double minimum = 0.0, maximum = 0.0, trackSplitFraction = 0.0, trackSplitValue = 0.0;
  uint32_t unit = 0;
  // List boxes and layer fills.
  std::vector<ChoiceDescription> choices;
  uint32_t enumType = 0;
  uint32_t allowedModes = 0;
  double minInclination = 0.0;
};

struct EffectDescription {
  int32_t number = 0;
  KeyedText name;
  std::string settingsName, helpPage;
  bool supportsCMYK = true, needsSelection = false, needsSelectionOrLayer = false, supportsScripting = true;
  int32_t minimumWidth = 0, minimumHeight = 0;
  KeyedText dialogHelp;
  std::vector<KeyedText> pages;  // the pages after the first
  std::vector<ParameterDescription> parameters;
};

// The parameter's class, texts, keys and ranges.
ParameterDescription Describe(const FilterParameter& parameter);

// Values of rebuilt parameters, each at a fixed address for the store's life.
class ValueStore {
 public:
  template <class T>
  T* New() {
    auto value = std::make_shared<T>();
    values_.push_back(value);
    return value.get();
  }

 private:
  std::vector<std::shared_ptr<void>> values_;
};

// The parameter the description was made from, its value zeroed in `store`.
std::unique_ptr<FilterParameter> Rebuild(const ParameterDescription& description, ValueStore& store);

// The effect's whole list: its parameters, pages and dialog help. 0, or -1
// when the list cannot hold them.
[[nodiscard]] int32_t Rebuild(const EffectDescription& effect, ParameterList& list, ValueStore& store);

// The description of `key` and of the parameter it belongs to; null when no
// parameter of the effect has it.
const KeyDescription* FindKey(const EffectDescription& effect, uint32_t key,
                              const ParameterDescription** owner = nullptr);

}  // namespace kv
