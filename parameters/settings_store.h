// Named settings on disk: one file a setting, named by the setting, in one
// folder an effect, each effect known by its settings name. The user's own live under the application-data folder
// ("Brightfold/Kalvero 2/<settings name>/", made on demand); those shipped
// with the product in "Settings/<settings name>/" of the resource folder,
// only ever read. The dialog keeps the values of the last confirmed run as
// the setting "Last Used", which no listing shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parameters/settings_archive.h"
#include "platform/file_system.h"

namespace kv {

using FolderReference = std::unique_ptr<platform::IFileSystemReference>;

// The name of the "Last Used" setting, in the user's language.
std::string LastUsedName();

// Whether `name` can name a setting's file: not empty, not only dots, not
// beginning with a dot, at most 255 bytes of UTF-8 without control
// characters or any of \ / : * ? < > |. Otherwise `why` says what is wrong.
bool IsValidSettingName(std::string_view name, std::string* why = nullptr);

// Results 0, -1 (a problem says why) or -108 throughout.
[[nodiscard]] int32_t ProductFolder(FolderReference& folder, SettingsProblems* problems = nullptr);
// The same places, nothing created: the product folder, an effect's folder,
// and a setting's file in it (the name checked).
[[nodiscard]] int32_t ProductFolderReference(FolderReference& folder);
[[nodiscard]] int32_t SettingsFolder(const std::string& effect, SettingsSource source, FolderReference& folder);
[[nodiscard]] int32_t SettingFile(const std::string& effect, const std::string& name, SettingsSource source, FolderReference& file,
                    SettingsProblems* problems = nullptr);
[[nodiscard]] int32_t UserSettingsFolder(const std::string& effect, FolderReference& folder, SettingsProblems* problems = nullptr);

// The names of the effect's settings in one folder, sorted without regard to
// letter case. Files of other effects and "Last Used" are left out; a file
// that cannot be read is reported and left out; a missing folder lists none.
[[nodiscard]] int32_t ListUserSettings(const std::string& effect, std::vector<std::string>& names, SettingsProblems* problems = nullptr);
[[nodiscard]] int32_t ListShippedSettings(const std::string& effect, std::vector<std::string>& names,
                            SettingsProblems* problems = nullptr);

// For names people type: `typed` when a setting of that name exists (the
// user's or a shipped one), else the one listed setting whose name differs
// from it only in letter case ("Last Used" among them), else `typed`.
std::string MatchingSettingName(const std::string& effect, const std::string& typed);

// In the user's folder.
[[nodiscard]] int32_t SettingExists(const std::string& effect, const std::string& name, bool& exists,
                      SettingsProblems* problems = nullptr);
// Refuses a new name that is taken; renaming to the same name does nothing.
[[nodiscard]] int32_t RenameSetting(const std::string& effect, const std::string& oldName, const std::string& newName,
                      SettingsProblems* problems = nullptr);
[[nodiscard]] int32_t DeleteSetting(const std::string& effect, const std::string& name, SettingsProblems* problems = nullptr);

// The values of `list` as the user's setting `name`, replacing one of that
// name; "Last Used" is refused, StoreLastUsed writes it.
[[nodiscard]] int32_t SaveSetting(const std::string& effect, const std::string& name, const ParameterList& list,
                    SettingsProblems* problems = nullptr);
[[nodiscard]] int32_t StoreLastUsed(const std::string& effect, const ParameterList& list, SettingsProblems* problems = nullptr);
// Reads the setting `name` into `list`: the user's own when there is one,
// else the shipped one (`source` says which). Values the file lacks keep
// theirs. -1 when there is neither.
[[nodiscard]] int32_t LoadSetting(const std::string& effect, const std::string& name, ParameterList& list,
                    SettingsProblems* problems = nullptr, SettingsSource* source = nullptr);

}  // namespace kv
