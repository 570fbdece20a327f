#include "hosts/common/description_json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

namespace kv::host {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kFormat = 1;

constexpr const char* kKinds[] = {"slider",   "length",   "checkbox", "direction", "seed",          "color",
                                  "listbox",  "layer fill", "lighting", "position", "flag connections",
                                  "puzzle arrangement"};

Json Text(const KeyedText& t) { return {{"key", t.key}, {"text", t.text}}; }
KeyedText TextFrom(const Json& j) { return {j.at("key").get<std::string>(), j.at("text").get<std::string>()}; }

// The part of the effect's defaults under the parameter's keys.
Descriptor DefaultsOf(const ParameterDescription& p, const Descriptor& all) {
  Descriptor part;
  for (const KeyDescription& k : p.keys)
    if (const DescriptorValue* v = all.Find(k.key)) part.Put(k.key, *v);
  return part;
}

Json ParameterJson(const ParameterDescription& p, const Descriptor& defaults) {
  Json keys = Json::array();
  for (const KeyDescription& k : p.keys) {
    Json key = {{"key", CodeText(k.key)}, {"type", CodeText(k.type)}};
    if (k.ranged) key["range"] = {k.minimum, k.maximum};
    keys.push_back(key);
  }
  Json j = {{"kind", kKinds[int(p.kind)]}, {"label", Text(p.label)}, {"help", Text(p.help)},
            {"page", p.page},           {"keys", keys}};
  if (p.kind == ParameterKind::kSlider || p.kind == ParameterKind::kLength) {
    j["range"] = {{"minimum", p.minimum}, {"maximum", p.maximum}, {"track split fraction", p.trackSplitFraction},
                  {"track split value", p.trackSplitValue}};
    if (p.kind == ParameterKind::kSlider) j["range"]["unit"] = CodeText(p.unit);
  }
  if (p.kind == ParameterKind::kListbox) {
    Json choices = Json::array();
    for (const ChoiceDescription& c : p.choices)
      choices.push_back({{"value", c.value}, {"enum", CodeText(c.enumCode)}, {"label", Text(c.label)}});
    j["choices"] = choices;
    j["enum type"] = CodeText(p.enumType);
  }
  if (p.kind == ParameterKind::kLayerFill) j["allowed modes"] = p.allowedModes;
  if (p.kind == ParameterKind::kLighting) j["minimum inclination"] = p.minInclination;
  j["default"] = Json::parse(ToJson(DefaultsOf(p, defaults)));
  return j;
}

ParameterDescription ParameterFrom(const Json& j, Descriptor& defaults) {
  ParameterDescription p;
  const std::string kind = j.at("kind").get<std::string>();
  const auto* found = std::find(std::begin(kKinds), std::end(kKinds), kind);
  if (found == std::end(kKinds)) throw std::runtime_error("unknown kind of parameter \"" + kind + "\"");
  p.kind = ParameterKind(found - std::begin(kKinds));
  p.label = TextFrom(j.at("label"));
  p.help = TextFrom(j.at("help"));
  p.page = j.at("page").get<int32_t>();
  for (const Json& k : j.at("keys")) {
    KeyDescription key{CodeFromText(k.at("key").get<std::string>()), CodeFromText(k.at("type").get<std::string>())};
    if (const auto range = k.find("range"); range != k.end()) {
      key.ranged = true;
      key.minimum = range->at(0).get<double>();
      key.maximum = range->at(1).get<double>();
    }
    p.keys.push_back(key);
  }
  if (const auto r = j.find("range"); r != j.end()) {
    p.minimum = r->at("minimum").get<double>();
    p.maximum = r->at("maximum").get<double>();
    p.trackSplitFraction = r->at("track split fraction").get<double>();
    p.trackSplitValue = r->at("track split value").get<double>();
    if (const auto unit = r->find("unit"); unit != r->end()) p.unit = CodeFromText(unit->get<std::string>());
  }
  if (const auto c = j.find("choices"); c != j.end()) {
    for (const Json& choice : *c)
      p.choices.push_back({choice.at("value").get<int32_t>(), CodeFromText(choice.at("enum").get<std::string>()),
                           TextFrom(choice.at("label"))});
    p.enumType = CodeFromText(j.at("enum type").get<std::string>());
  }
  if (const auto m = j.find("allowed modes"); m != j.end()) p.allowedModes = m->get<uint32_t>();
  if (const auto m = j.find("minimum inclination"); m != j.end()) p.minInclination = m->get<double>();
  const Descriptor own = FromJson(j.at("default").dump());
  for (const auto& [key, value] : own.Items()) defaults.Put(key, value);
  return p;
}

}  // namespace

std::string DescriptionJson(const CoreDescription& core) {
  Json effects = Json::array();
  for (const DescribedEffect& e : core.effects) {
    const EffectDescription& d = e.description;
    Json pages = Json::array(), parameters = Json::array();
    for (const KeyedText& page : d.pages) pages.push_back(Text(page));
    for (const ParameterDescription& p : d.parameters) parameters.push_back(ParameterJson(p, e.defaults));
    effects.push_back({{"number", d.number},
                       {"name", Text(d.name)},
                       {"settings name", d.settingsName},
                       {"help page", d.helpPage},
                       {"requirements",
                        {{"CMYK", d.supportsCMYK},
                         {"selection", d.needsSelection},
                         {"selection or layer", d.needsSelectionOrLayer},
                         {"scripting", d.supportsScripting},
                         {"minimum size", {d.minimumWidth, d.minimumHeight}}}},
                       {"dialog help", Text(d.dialogHelp)},
                       {"pages", pages},
                       {"parameters", parameters}});
  }
  const Json j = {{"format", kFormat}, {"build-id", core.buildId}, {"effects", effects}};
  return j.dump(2) + "\n";
}

CoreDescription ParseDescription(std::string_view text) {
  try {
    const Json j = Json::parse(text);
    if (j.at("format").get<int>() != kFormat) throw std::runtime_error("it is of another format");
    CoreDescription core;
    core.buildId = j.at("build-id").get<std::string>();
    for (const Json& e : j.at("effects")) {
      DescribedEffect effect;
      EffectDescription& d = effect.description;
      d.number = e.at("number").get<int32_t>();
      d.name = TextFrom(e.at("name"));
      d.settingsName = e.at("settings name").get<std::string>();
      d.helpPage = e.at("help page").get<std::string>();
      const Json& r = e.at("requirements");
      d.supportsCMYK = r.at("CMYK").get<bool>();
      d.needsSelection = r.at("selection").get<bool>();
      d.needsSelectionOrLayer = r.at("selection or layer").get<bool>();
      d.supportsScripting = r.at("scripting").get<bool>();
      d.minimumWidth = r.at("minimum size").at(0).get<int32_t>();
      d.minimumHeight = r.at("minimum size").at(1).get<int32_t>();
      d.dialogHelp = TextFrom(e.at("dialog help"));
      for (const Json& page : e.at("pages")) d.pages.push_back(TextFrom(page));
      for (const Json& p : e.at("parameters")) d.parameters.push_back(ParameterFrom(p, effect.defaults));
      core.effects.push_back(std::move(effect));
    }
    return core;
  } catch (const Json::exception& e) {
    throw std::runtime_error(e.what());
  }
}

}  // namespace kv::host
