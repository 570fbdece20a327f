// An effect's values as kalvero holds them between the command line and the
// core: the effect's own parameter list, rebuilt from the description the
// core ships, bound to values kalvero keeps and starting from the described
// defaults. Every value form (command line, settings file, script) goes
// through the core's own parameter classes; no block byte is ever written.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/common/description_json.h"
#include "hosts/common/descriptor.h"
#include "parameters/description.h"
#include "parameters/parameters.h"

namespace kv::host {

class EffectValues {
 public:
  // Lengths are clamped at `resolution` pixels per inch. Throws
  // std::runtime_error when the description cannot be rebuilt.
  explicit EffectValues(const DescribedEffect& effect, double resolution = 72.0);
  EffectValues(const EffectValues&) = delete;
  EffectValues& operator=(const EffectValues&) = delete;

  const EffectDescription& Effect() const { return effect_.description; }
  const std::string& Name() const { return effect_.description.name.text; }
  const std::string& SettingsName() const { return effect_.description.settingsName; }
  ParameterList& List() { return list_; }
  const ParameterList& List() const { return list_; }

  // Once the image is known: positions are then set and shown in its pixels.
  void SetPositionFrame(const PositionFrame& frame) { list_.positionFrame = frame; }
  // One value in the form its parameter shows it: empty on success, else
  // the reason, naming the parameter. Hosts word where it came from.
  std::string Assign(std::string_view name, std::string_view value, FilterParameter** changed = nullptr);
  // kalvero's "NAME=VALUE", in the words of its command line.
  std::string Set(std::string_view assignment, FilterParameter** changed = nullptr);
  // Plays a script over the values, checked against the description first:
  // a key of another type or out of its range, or a value its parameter
  // cannot take, is refused with the reason (empty when all is well); a key
  // the effect does not have is left out and told to `warn`.
  std::string Play(const Descriptor& script, const std::function<void(const std::string&)>& warn);
  // The values as the effect's parameters write them for a script.
  Descriptor Values() const;

 private:
  const DescribedEffect& effect_;
  ValueStore store_;
  ParameterList list_;
};

// The values of `list` as its parameters write them for a script; nothing
// when they cannot be written.
std::optional<Descriptor> Written(const ParameterList& list);

// One parameter a paragraph: name, keys, kind and range, default, and the
// words it takes; for `kalvero params` and the help of other hosts.
std::string ParametersText(const DescribedEffect& effect);

}  // namespace kv::host
