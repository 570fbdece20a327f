#include "hosts/cli/settings_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "effects/filter_table.h"
#include "framework/filter.h"
#include "hosts/cli/apply_command.h"
#include "hosts/cli/core_library.h"
#include "hosts/cli/effect_names.h"
#include "hosts/cli/parameter_block.h"
#include "parameters/parameters.h"
#include "parameters/settings_store.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace kv::cli {

namespace {

constexpr const char* kFooter = R"(
Your settings are files in $XDG_CONFIG_HOME/Brightfold/Kalvero 2/<effect>/
(~/.config when XDG_CONFIG_HOME is not set), one file a setting, named by
the setting: the same ones the dialog saves and loads. The shipped settings
in the resources beside the core are read only; one of yours with the same
name is used instead.

Examples:
  kalvero settings list television
  kalvero settings save television "Soft glow" --set Curvature=20 --seed 7
  kalvero settings save television "Soft glow 2" --from "Soft glow" --set Static=5
  kalvero settings show television "Soft glow"
  kalvero settings rename television "Soft glow 2" "Softer glow"
  kalvero settings delete television "Softer glow")";

int Usage(const std::string& text) {
  Complain(text);
  std::fprintf(stderr, "Run 'kalvero settings --help' for more.\n");
  return kExitUsage;
}

// Says what the store met; the exit status for its result.
int Outcome(int32_t result, const SettingsProblems& problems) {
  for (const std::string& p : problems) Complain(result == 0 ? "warning: " + p : p);
  if (result == -108) Complain("out of memory");
  return result == 0 ? kExitOk : kExitFile;
}

// The effect the user named, or null after saying why.
std::unique_ptr<Filter> NamedEffect(const std::string& text) {
  const std::optional<int32_t> number = FindEffect(text);
  std::unique_ptr<Filter> effect = number ? CreateBuiltInFilter(*number) : nullptr;
  if (!number) Usage("no effect '" + text + "'; 'kalvero list' shows them");
  else if (effect == nullptr) Usage(std::string(kEffects[size_t(*number)].name) + " is not in this build");
  return effect;
}

const char* EffectName(const Filter& effect) { return kEffects[size_t(effect.filterId)].name; }

std::string PathOf(const Filter& effect, const std::string& name, SettingsSource source) {
  FolderReference file;
  return SettingFile(effect.SettingsName(), name, source, file) == 0 ? file->Path() : std::string();
}

int List(const Filter& effect) {
  SettingsProblems problems;
  std::vector<std::string> mine, shipped;
  int32_t result = ListUserSettings(effect.SettingsName(), mine, &problems);
  const int32_t shippedResult = ListShippedSettings(effect.SettingsName(), shipped, &problems);
  if (result == 0) result = shippedResult;
  FolderReference folder;
  SettingsFolder(effect.SettingsName(), SettingsSource::User, folder);
  std::printf("Your settings for %s (%s):\n", EffectName(effect), folder != nullptr ? folder->Path().c_str() : "");
  for (const std::string& name : mine) std::printf("  %s\n", name.c_str());
  if (mine.empty()) std::printf("  (none)\n");
  std::printf("Shipped settings:\n");
  for (const std::string& name : shipped) {
    const bool hidden = std::find(mine.begin(), mine.end(), name) != mine.end();
    std::printf("  %s%s\n", name.c_str(), hidden ? "  (yours of this name is used)" : "");
  }
  if (shipped.empty()) std::printf("  (none)\n");
  return Outcome(result, problems);
}

// Reads a setting into the block, saying what is wrong with it.
int Load(const std::string& name, ParameterBlock& block, SettingsSource* source = nullptr) {
  std::vector<uint8_t> bytes = block.Bytes();
  SettingsProblems problems;
  const int32_t result = LoadSetting(block.Effect().SettingsName(), name, block.List(), &problems, source);
  return Outcome(result, problems);
}

int Save(const Filter& effect, const SettingsOptions& o) {
  std::string why;
  if (!IsValidSettingName(o.name, &why)) return Usage(why);
  ParameterBlock block(effect.filterId);
  if (!o.from.empty())
    if (int status = Load(MatchingSettingName(effect.SettingsName(), o.from), block)) return status;
  for (const std::string& assignment : o.sets) {
    const std::string error = block.Set(assignment);
    if (!error.empty()) return Usage(error);
  }
  if (o.seed) {
    if (block.List().Find(ps::FourCC("RndS")) == nullptr)
      return Usage(std::string(EffectName(effect)) + " has no random seed");
    block.Set("RndS=" + std::to_string(*o.seed));
  }
  SettingsProblems problems;
  bool exists = false;
  if (int32_t result = SettingExists(effect.SettingsName(), o.name, exists, &problems)) return Outcome(result, problems);
  if (exists && !o.replace)
    return Usage("you have a setting '" + o.name + "' of " + EffectName(effect) +
                 " already; add --replace to replace it");
  if (int32_t result = SaveSetting(effect.SettingsName(), o.name, block.List(), &problems))
    return Outcome(result, problems);
  std::printf("Saved '%s' in %s\n", o.name.c_str(), PathOf(effect, o.name, SettingsSource::User).c_str());
  return kExitOk;
}

int Rename(const Filter& effect, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(effect.SettingsName(), o.name);
  SettingsProblems problems;
  if (int32_t result = RenameSetting(effect.SettingsName(), name, o.newName, &problems)) return Outcome(result, problems);
  std::printf("Renamed '%s' to '%s'\n", name.c_str(), o.newName.c_str());
  return kExitOk;
}

int Delete(const Filter& effect, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(effect.SettingsName(), o.name);
  SettingsProblems problems;
  if (int32_t result = DeleteSetting(effect.SettingsName(), name, &problems)) return Outcome(result, problems);
  std::printf("Deleted '%s'\n", name.c_str());
  return kExitOk;
}

// The values in the form --set takes, so that a line can be pasted into one.
int Show(const Filter& effect, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(effect.SettingsName(), o.name);
  ParameterBlock block(effect.filterId);
  SettingsSource source = SettingsSource::User;
  if (int status = Load(name, block, &source)) return status;
  std::printf("%s: %s setting of %s, %s\n", name.c_str(), source == SettingsSource::User ? "your" : "a shipped",
              EffectName(effect), PathOf(effect, name, source).c_str());
  for (const auto& p : block.List()) std::printf("  %s=%s\n", p->Name().c_str(), p->ValueText().c_str());
  return kExitOk;
}

}  // namespace

CLI::App* AddSettingsCommand(CLI::App& app, SettingsOptions& o) {
  CLI::App* settings = app.add_subcommand("settings", "List, save, rename, delete or show an effect's named settings");
  settings->require_subcommand(1);
  settings->footer(kFooter);
  const auto effect = [&o](CLI::App* command) {
    command->add_option("EFFECT", o.effect, "Number or name of the effect")->required();
  };
  o.list = settings->add_subcommand("list", "Your settings of the effect and the shipped ones");
  effect(o.list);
  o.save = settings->add_subcommand("save", "Save the defaults, or --from a setting, with --set changes, under a name");
  effect(o.save);
  o.save->add_option("NAME", o.name, "The setting's name")->required();
  o.save->add_option("--from", o.from, "Start from this setting (yours or shipped) instead of the defaults");
  o.save->add_option("--set", o.sets, "NAME=VALUE as 'kalvero params EFFECT' shows; repeatable")
      ->allow_extra_args(false);
  o.save->add_option("--seed", o.seed, "Random seed, 0 to 65535");
  o.save->add_flag("--replace", o.replace, "Replace your setting of that name");
  o.rename = settings->add_subcommand("rename", "Rename one of your settings");
  effect(o.rename);
  o.rename->add_option("OLD", o.name, "Its name")->required();
  o.rename->add_option("NEW", o.newName, "The new name, not taken yet")->required();
  o.remove = settings->add_subcommand("delete", "Delete one of your settings");
  effect(o.remove);
  o.remove->add_option("NAME", o.name, "Its name")->required();
  o.show = settings->add_subcommand("show", "Show the values of a setting, yours or shipped");
  effect(o.show);
  o.show->add_option("NAME", o.name, "Its name")->required();
  return settings;
}

int RunSettingsCommand(const SettingsOptions& o, const std::string& core) {
  // kalvero's own copy of the core reads the resources of the one it loads;
  // without them there are no shipped settings, which listings show.
  const std::filesystem::path resources = ChooseCore(core).parent_path() / "resources";
  platform::SetResourceFolder(resources);
  std::string error;
  if (std::filesystem::exists(resources / "BF_UNICODE_STRING_TABLE") && strings::Load(error) != 0)
    Complain("warning: " + error);
  try {
    const std::unique_ptr<Filter> effect = NamedEffect(o.effect);
    if (effect == nullptr) return kExitUsage;
    if (*o.list) return List(*effect);
    if (*o.save) return Save(*effect, o);
    if (*o.rename) return Rename(*effect, o);
    if (*o.remove) return Delete(*effect, o);
    return Show(*effect, o);
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    return kExitEffect;
  }
}

}  // namespace kv::cli
