#include "hosts/common/description_json.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "hosts/common/json_text.h"

namespace kv::host {

namespace {

constexpr int kFormat = 1;

constexpr const char* kKinds[] = {"slider",   "length",   "checkbox", "direction", "seed",          "color",
                                  "listbox",  "layer fill", "lighting", "position", "flag connections",
                                  "puzzle arrangement"};

Json Text(const KeyedText& t) { return {{"key", t.key}, {"text", t.text}}; }

// Reading: every member is looked up by name and checked for its kind, and
// a failure names where it is ("effects[2].parameters[0].range.minimum").
[[noreturn]] void Wrong(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + " " + what);
}

const Json& Member(const Json& j, const char* name, const std::string& where) {
  if (!j.is_object()) Wrong(where, "is not an object");
  const auto it = j.find(name);
  if (it == j.end()) Wrong(where, std::string("has no \"") + name + "\"");
  return *it;
}

const Json& List(const Json& j, const char* name, const std::string& where) {
  const Json& list = Member(j, name, where);
  if (!list.is_array()) Wrong(where + "." + name, "is not a list");
  return list;
}

std::string String(const Json& j, const char* name, const std::string& where) {
  const Json& v = Member(j, name, where);
  if (!v.is_string()) Wrong(where + "." + name, "is not a text");
  return v.get<std::string>();
}

double Number(const Json& v, const std::string& where) {
  if (!v.is_number() || !std::isfinite(v.get<double>())) Wrong(where, "is not a number");
  return v.get<double>();
}

double Number(const Json& j, const char* name, const std::string& where) {
  return Number(Member(j, name, where), where + "." + name);
}

template <class Int>
Int Integer(const Json& v, const std::string& where) {
  if (!v.is_number_integer() ||
      (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(std::numeric_limits<Int>::max())) ||
      (!v.is_number_unsigned() && (v.get<int64_t>() < int64_t(std::numeric_limits<Int>::min()) ||
                                   v.get<int64_t>() > int64_t(std::numeric_limits<Int>::max()))))
    Wrong(where, "is not a whole number in range");
  return v.is_number_unsigned() ? Int(v.get<uint64_t>()) : Int(v.get<int64_t>());
}

template <class Int>
Int Integer(const Json& j, const char* name, const std::string& where) {
  return Integer<Int>(Member(j, name, where), where + "." + name);
}

bool Boolean(const Json& j, const char* name, const std::string& where) {
  const Json& v = Member(j, name, where);
  if (!v.is_boolean()) Wrong(where + "." + name, "is not true or false");
  return v.get<bool>();
}

uint32_t Code(const Json& j, const char* name, const std::string& where) {
  const std::string text = String(j, name, where);
  try {
    return CodeFromText(text);
  } catch (const std::runtime_error&) {
    Wrong(where + "." + name, "is not a four-character code");
  }
}

KeyedText TextFrom(const Json& j, const char* name, const std::string& where) {
  const Json& t = Member(j, name, where);
  return {String(t, "key", where + "." + name), String(t, "text", where + "." + name)};
}

std::string Item(const std::string& where, size_t index) { return where + "[" + std::to_string(index) + "]"; }

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

ParameterDescription ParameterFrom(const Json& j, const std::string& where, Descriptor& defaults) {
  ParameterDescription p;
  const std::string kind = String(j, "kind", where);
  const auto* found = std::find(std::begin(kKinds), std::end(kKinds), kind);
  if (found == std::end(kKinds)) Wrong(where + ".kind", "names no kind of parameter kalvero knows");
  p.kind = ParameterKind(found - std::begin(kKinds));
  p.label = TextFrom(j, "label", where);
  p.help = TextFrom(j, "help", where);
  p.page = Integer<int32_t>(j, "page", where);
  const Json& keys = List(j, "keys", where);
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string at = Item(where + ".keys", i);
    KeyDescription key{Code(keys[i], "key", at), Code(keys[i], "type", at)};
    if (keys[i].contains("range")) {
      const Json& range = List(keys[i], "range", at);
      if (range.size() != 2) Wrong(at + ".range", "is not a minimum and a maximum");
      key.ranged = true;
      key.minimum = Number(range[0], at + ".range[0]");
      key.maximum = Number(range[1], at + ".range[1]");
    }
    p.keys.push_back(key);
  }
  if (j.contains("range")) {
    const Json& r = Member(j, "range", where);
    const std::string at = where + ".range";
    p.minimum = Number(r, "minimum", at);
    p.maximum = Number(r, "maximum", at);
    p.trackSplitFraction = Number(r, "track split fraction", at);
    p.trackSplitValue = Number(r, "track split value", at);
    if (r.contains("unit")) p.unit = Code(r, "unit", at);
    if (p.minimum > p.maximum) Wrong(at, "has its minimum above its maximum");
  }
  if (j.contains("choices")) {
    const Json& choices = List(j, "choices", where);
    for (size_t i = 0; i < choices.size(); ++i) {
      const std::string at = Item(where + ".choices", i);
      p.choices.push_back(
          {Integer<int32_t>(choices[i], "value", at), Code(choices[i], "enum", at), TextFrom(choices[i], "label", at)});
    }
    p.enumType = Code(j, "enum type", where);
  }
  if (p.kind == ParameterKind::kListbox && p.choices.empty()) Wrong(where, "is a list box without choices");
  if (j.contains("allowed modes")) p.allowedModes = Integer<uint32_t>(j, "allowed modes", where);
  if (j.contains("minimum inclination")) p.minInclination = Number(j, "minimum inclination", where);
  try {
    const Descriptor own = FromJson(Member(j, "default", where).dump());
    for (const auto& [key, value] : own.Items()) defaults.Put(key, value);
  } catch (const std::runtime_error& e) {
    Wrong(where + ".default", std::string("does not read: ") + e.what());
  }
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
  const Json j = ParseJson(text);
  if (!j.is_object() || !j.contains("format") || !j["format"].is_number_integer() ||
      j["format"].get<int64_t>() != kFormat)
    throw std::runtime_error("it is not a description of format " + std::to_string(kFormat));
  CoreDescription core;
  core.buildId = String(j, "build-id", "the description");
  const Json& effects = List(j, "effects", "the description");
  for (size_t i = 0; i < effects.size(); ++i) {
    const Json& e = effects[i];
    const std::string where = Item("effects", i);
    DescribedEffect effect;
    EffectDescription& d = effect.description;
    d.number = Integer<int32_t>(e, "number", where);
    d.name = TextFrom(e, "name", where);
    d.settingsName = String(e, "settings name", where);
    d.helpPage = String(e, "help page", where);
    const Json& r = Member(e, "requirements", where);
    const std::string at = where + ".requirements";
    d.supportsCMYK = Boolean(r, "CMYK", at);
    d.needsSelection = Boolean(r, "selection", at);
    d.needsSelectionOrLayer = Boolean(r, "selection or layer", at);
    d.supportsScripting = Boolean(r, "scripting", at);
    const Json& size = List(r, "minimum size", at);
    if (size.size() != 2) Wrong(at + ".minimum size", "is not a width and a height");
    d.minimumWidth = Integer<int32_t>(size[0], at + ".minimum size[0]");
    d.minimumHeight = Integer<int32_t>(size[1], at + ".minimum size[1]");
    d.dialogHelp = TextFrom(e, "dialog help", where);
    const Json& pages = List(e, "pages", where);
    for (size_t k = 0; k < pages.size(); ++k) {
      const std::string page = Item(where + ".pages", k);
      d.pages.push_back({String(pages[k], "key", page), String(pages[k], "text", page)});
    }
    const Json& parameters = List(e, "parameters", where);
    for (size_t k = 0; k < parameters.size(); ++k)
      d.parameters.push_back(ParameterFrom(parameters[k], Item(where + ".parameters", k), effect.defaults));
    core.effects.push_back(std::move(effect));
  }
  return core;
}

}  // namespace kv::host
