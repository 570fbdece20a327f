#include "hosts/cli/settings_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "hosts/cli/apply_command.h"
#include "hosts/cli/seed_option.h"
#include "hosts/common/effect_values.h"
#include "parameters/parameters.h"
#include "parameters/settings_store.h"

namespace kv::cli {

using host::DescribedEffect;
using host::EffectValues;

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

std::string PathOf(const std::string& effect, const std::string& name, SettingsSource source) {
  FolderReference file;
  return SettingFile(effect, name, source, file) == 0 ? file->Path() : std::string();
}

int List(const EffectValues& effect) {
  const std::string& folderName = effect.SettingsName();
  SettingsProblems problems;
  std::vector<std::string> mine, shipped;
  int32_t result = ListUserSettings(folderName, mine, &problems);
  const int32_t shippedResult = ListShippedSettings(folderName, shipped, &problems);
  if (result == 0) result = shippedResult;
  FolderReference folder;
  const bool known = SettingsFolder(folderName, SettingsSource::User, folder) == 0;
  std::printf("Your settings for %s (%s):\n", effect.Name().c_str(), known ? folder->Path().c_str() : "");
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

// Reads a setting into the values, saying what is wrong with it.
int Load(const std::string& name, EffectValues& values, SettingsSource* source = nullptr) {
  SettingsProblems problems;
  const int32_t result = LoadSetting(values.SettingsName(), name, values.List(), &problems, source);
  return Outcome(result, problems);
}

int Save(EffectValues& values, const SettingsOptions& o) {
  const std::string& effect = values.SettingsName();
  std::string why;
  if (!IsValidSettingName(o.name, &why)) return Usage(why);
  if (!o.from.empty())
    if (int status = Load(MatchingSettingName(effect, o.from), values)) return status;
  for (const std::string& assignment : o.sets) {
    const std::string error = values.Set(assignment);
    if (!error.empty()) return Usage(error);
  }
  if (o.seed) {
    if (values.List().Find(ps::FourCC("RndS")) == nullptr) return Usage(values.Name() + " has no random seed");
    if (const std::string error = values.Set("RndS=" + std::to_string(*o.seed)); !error.empty()) return Usage(error);
  }
  SettingsProblems problems;
  bool exists = false;
  if (int32_t result = SettingExists(effect, o.name, exists, &problems)) return Outcome(result, problems);
  if (exists && !o.replace)
    return Usage("you have a setting '" + o.name + "' of " + values.Name() + " already; add --replace to replace it");
  if (int32_t result = SaveSetting(effect, o.name, values.List(), &problems)) return Outcome(result, problems);
  std::printf("Saved '%s' in %s\n", o.name.c_str(), PathOf(effect, o.name, SettingsSource::User).c_str());
  return kExitOk;
}

int Rename(const std::string& effect, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(effect, o.name);
  SettingsProblems problems;
  if (int32_t result = RenameSetting(effect, name, o.newName, &problems)) return Outcome(result, problems);
  std::printf("Renamed '%s' to '%s'\n", name.c_str(), o.newName.c_str());
  return kExitOk;
}

int Delete(const std::string& effect, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(effect, o.name);
  SettingsProblems problems;
  if (int32_t result = DeleteSetting(effect, name, &problems)) return Outcome(result, problems);
  std::printf("Deleted '%s'\n", name.c_str());
  return kExitOk;
}

// The values in the form --set takes, so that a line can be pasted into one.
int Show(EffectValues& values, const SettingsOptions& o) {
  const std::string name = MatchingSettingName(values.SettingsName(), o.name);
  SettingsSource source = SettingsSource::User;
  if (int status = Load(name, values, &source)) return status;
  std::printf("%s: %s setting of %s, %s\n", name.c_str(), source == SettingsSource::User ? "your" : "a shipped",
              values.Name().c_str(), PathOf(values.SettingsName(), name, source).c_str());
  for (const auto& p : values.List()) std::printf("  %s=%s\n", p->Name().c_str(), p->ValueText().c_str());
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
  o.save->add_option("--seed", o.seed, "Random seed, 0 to 65535")->check(SeedCheck());
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

int RunSettingsCommand(const SettingsOptions& o, const CoreLibrary& core) {
  std::string why;
  const DescribedEffect* effect = core.Find(o.effect, why);
  if (effect == nullptr) return Usage(why);
  try {
    EffectValues values(*effect);
    if (*o.list) return List(values);
    if (*o.save) return Save(values, o);
    if (*o.rename) return Rename(values.SettingsName(), o);
    if (*o.remove) return Delete(values.SettingsName(), o);
    return Show(values, o);
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    return kExitEffect;
  }
}

}  // namespace kv::cli
