#include "hosts/cli/completion.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hosts/cli/apply_command.h"
#include "hosts/common/core_library.h"
#include "hosts/common/effect_values.h"
#include "parameters/parameter_io.h"
#include "parameters/settings_store.h"

namespace kv::cli {

using host::ChooseCore;
using host::CoreError;
using host::DescribedEffect;

namespace {

// The command line as the shell will read it: the words before the cursor,
// and the word under it with the quote it was opened with, if any.
struct Words {
  std::vector<std::string> before;
  std::string current;
  char quote = 0;
  bool quoteInside = false;  // a quote opened after the word's start
};

Words Split(std::string_view line) {
  Words words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'')
        quote = 0;
      else
        word += c;
    } else if (quote == '"') {
      if (c == '"')
        quote = 0;
      else if (c == '\\' && i + 1 < line.size() && std::string_view("\"\\$`").find(line[i + 1]) != std::string::npos)
        word += line[++i];
      else
        word += c;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.before.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'' || c == '"') {
      words.quoteInside = inWord;
      quote = c;
      inWord = true;
    } else {
      if (c == '\\' && i + 1 < line.size())
        word += line[++i];
      else
        word += c;
      inWord = true;
    }
  }
  words.current = word;
  words.quote = quote;
  if (quote == 0) words.quoteInside = false;
  return words;
}

// Quoted as the shell will insert it in place of the word being completed.
std::string ForShell(const std::string& candidate, char quote) {
  if (quote != 0) return candidate;
  std::string quoted;
  for (const char c : candidate) {
    if (std::string_view(" \t\"'\\$`&|;<>()*?[]!#{}").find(c) != std::string::npos) quoted += '\\';
    quoted += c;
  }
  return quoted;
}

enum class Kind { kNothing, kFiles, kFolders, kEffect, kParameter, kSetting, kUserSetting };

// The values of the options that take a name kalvero knows; every other
// option's value is left to the user.
Kind OptionValue(const std::string& name) {
  static const std::map<std::string, Kind> kinds = {{"--set", Kind::kParameter},   {"--settings", Kind::kSetting},
                                                    {"--from", Kind::kSetting},    {"--core", Kind::kFiles},
                                                    {"--selection", Kind::kFiles}, {"--script", Kind::kFiles},
                                                    {"--record", Kind::kFiles},    {"--output-dir", Kind::kFolders}};
  const auto it = kinds.find(name);
  return it == kinds.end() ? Kind::kNothing : it->second;
}

// The positionals of each command, by the path of its subcommands.
Kind Positional(const std::string& command, size_t index) {
  static const std::map<std::string, std::vector<Kind>> kinds = {
      {"params", {Kind::kEffect}},
      {"apply", {Kind::kEffect, Kind::kFiles}},
      {"settings list", {Kind::kEffect}},
      {"settings save", {Kind::kEffect, Kind::kNothing}},
      {"settings rename", {Kind::kEffect, Kind::kUserSetting, Kind::kNothing}},
      {"settings delete", {Kind::kEffect, Kind::kUserSetting}},
      {"settings show", {Kind::kEffect, Kind::kSetting}}};
  const auto it = kinds.find(command);
  if (it == kinds.end() || it->second.empty()) return Kind::kNothing;
  // The last kind repeats: apply takes any number of files.
  return it->second[std::min(index, it->second.size() - 1)];
}

const CLI::Option* FindOption(const CLI::App* app, const std::string& word) {
  for (; app != nullptr; app = app->get_parent())
    for (const CLI::Option* option : app->get_options())
      if (!option->get_positional() && option->check_name(word)) return option;
  return nullptr;
}

// Where the cursor stands: in which command, after which positionals, or
// in the value of which option.
struct Place {
  const CLI::App* app = nullptr;
  std::string command;  // "settings show"
  std::vector<std::string> positionals;
  std::string option;  // the option whose value is being typed
  std::string core;    // --core, if given
};

Place Locate(const CLI::App& root, const std::vector<std::string>& before) {
  Place place;
  place.app = &root;
  for (size_t i = 1; i < before.size(); ++i) {
    const std::string& word = before[i];
    if (!place.option.empty()) {
      if (place.option == "--core") place.core = word;
      place.option.clear();
      continue;
    }
    if (word.size() > 1 && word[0] == '-') {
      const CLI::Option* option = word.find('=') == std::string::npos ? FindOption(place.app, word) : nullptr;
      if (option != nullptr && option->get_type_size() > 0 && !option->get_lnames().empty())
        place.option = "--" + option->get_lnames().front();
      continue;
    }
    if (place.positionals.empty()) {
      const auto named = place.app->get_subcommands([&](const CLI::App* sub) { return sub->check_name(word); });
      if (!named.empty()) {
        place.app = named.front();
        place.command += (place.command.empty() ? "" : " ") + word;
        continue;
      }
    }
    place.positionals.push_back(word);
  }
  return place;
}

class Candidates {
 public:
  Candidates(const Words& words) : words_(words), folded_(param_io::FoldedName(words.current)) {}
  // By the start of the name, in any case and with or without spaces.
  void AddName(const std::string& name, const std::string& suffix = "") {
    if (param_io::FoldedName(name).starts_with(folded_)) list_.push_back(ForShell(name, words_.quote) + suffix);
  }
  void AddWord(const std::string& word) {
    if (word.starts_with(words_.current)) list_.push_back(word);
  }
  int Print() const {
    std::printf("words\n");
    for (const std::string& c : list_) std::printf("%s\n", c.c_str());
    return kExitOk;
  }

 private:
  const Words& words_;
  std::string folded_;
  std::vector<std::string> list_;
};

// The command's own options and those of the commands it is part of.
void AddOptions(const CLI::App* app, Candidates& out) {
  std::set<std::string> names;
  const auto add = [&](const std::string& name) {
    if (names.insert(name).second) out.AddWord(name);
  };
  for (; app != nullptr; app = app->get_parent())
    for (const CLI::Option* option : app->get_options()) {
      if (option->get_positional() || option->get_group().empty()) continue;
      for (const std::string& name : option->get_lnames()) add("--" + name);
      for (const std::string& name : option->get_snames()) add("-" + name);
    }
}

void AddNames(Kind kind, const Place& place, Candidates& out) {
  const std::unique_ptr<CoreLibrary> core = [&] {
    try {
      return std::make_unique<CoreLibrary>(ChooseCore(place.core, KALVERO_CORE_FROM_PROGRAM));
    } catch (const CoreError&) {
      return std::unique_ptr<CoreLibrary>();
    }
  }();
  if (core == nullptr) return;
  if (kind == Kind::kEffect) {
    for (const DescribedEffect& e : core->Description().effects) out.AddName(e.description.name.text);
    return;
  }
  std::string why;
  const DescribedEffect* effect = place.positionals.empty() ? nullptr : core->Find(place.positionals[0], why);
  if (effect == nullptr) return;
  const EffectValues values(*effect);
  if (kind == Kind::kParameter) {
    for (const auto& parameter : values.List()) out.AddName(parameter->Name(), "=");
    return;
  }
  std::vector<std::string> names;
  if (ListUserSettings(values.SettingsName(), names) == 0)
    for (const std::string& name : names) out.AddName(name);
  if (kind == Kind::kUserSetting) return;
  out.AddName(LastUsedName());
  if (ListShippedSettings(values.SettingsName(), names) == 0)
    for (const std::string& name : names) out.AddName(name);
}

}  // namespace

int Complete(const CLI::App& app, std::string_view line) {
  const Words words = Split(line);
  if (words.quoteInside || words.before.empty()) return Candidates(words).Print();
  const Place place = Locate(app, words.before);
  Candidates out(words);
  Kind kind = Kind::kNothing;
  if (!place.option.empty()) {
    kind = OptionValue(place.option);
  } else if (words.current.starts_with('-')) {
    AddOptions(place.app, out);
  } else if (place.positionals.empty() && !place.app->get_subcommands({}).empty()) {
    for (const CLI::App* sub : place.app->get_subcommands({}))
      if (!sub->get_group().empty()) out.AddWord(sub->get_name());
  } else {
    kind = Positional(place.command, place.positionals.size());
  }
  switch (kind) {
    case Kind::kFiles: std::printf("files\n"); return kExitOk;
    case Kind::kFolders: std::printf("folders\n"); return kExitOk;
    case Kind::kNothing: break;
    default: AddNames(kind, place, out);
  }
  return out.Print();
}

}  // namespace kv::cli
