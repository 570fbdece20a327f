#include "parameters/settings_store.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "parameters/parameters.h"
#include "platform/product.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace kv {

namespace {

void Report(SettingsProblems* problems, std::string what) {
  if (problems != nullptr) problems->push_back(std::move(what));
}

int32_t Refuse(SettingsProblems* problems, std::string what) {
  Report(problems, std::move(what));
  return -1;
}

int32_t NewReference(const std::filesystem::path& path, FolderReference& folder) {
  folder = platform::NewFileSystemReference(path.string());
  return folder != nullptr ? 0 : -108;
}

std::filesystem::path ProductPath() {
  return platform::ApplicationDataFolder() / kCompanyFolderName / kProductFolderName;
}

// Small letters for the capitals of Latin, Greek and Cyrillic, the scripts
// whose cases are a fixed step apart, so that "Été" sorts beside "été".
char16_t Folded(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return char16_t(c + 0x20);
  if (c >= 0x100 && c <= 0x17E && c != 0x138 && c != 0x149 && c != 0x178) {
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || c >= 0x179;
    return (c % 2 == 1) == oddCapitals ? char16_t(c + 1) : c;
  }
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return char16_t(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return char16_t(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return char16_t(c + 0x50);
  return c;
}

std::u16string FoldedName(const std::string& name) {
  std::u16string wide = platform::Widen(name);
  std::transform(wide.begin(), wide.end(), wide.begin(), Folded);
  return wide;
}

// Without regard to case; names equal but for case in byte order, so that
// the order never depends on the folder's.
bool CaselessLess(const std::string& a, const std::string& b) {
  const std::u16string fa = FoldedName(a), fb = FoldedName(b);
  return fa != fb ? fa < fb : a < b;
}

int32_t ListSettings(const std::string& effect, SettingsSource source, std::vector<std::string>& names,
                     SettingsProblems* problems) {
  try {
    names.clear();
    FolderReference folder;
    if (int32_t err = SettingsFolder(effect, source, folder)) return err;
    if (!folder->IsFolder()) return 0;
    std::vector<std::string> files;
    if (!folder->ListFiles(files)) return Refuse(problems, folder->ErrorText());
    const std::string lastUsed = LastUsedName();
    for (const std::string& name : files) {
      if (name == lastUsed || !IsValidSettingName(name)) continue;
      FolderReference file = folder->Child(name);
      if (file == nullptr) return -108;
      if (IsSettingsOf(effect, *file, problems)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), CaselessLess);
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

// The user's file of the setting, which must exist.
int32_t ExistingUserSetting(const std::string& effect, const std::string& name, FolderReference& file,
                            SettingsProblems* problems) {
  if (int32_t err = SettingFile(effect, name, SettingsSource::User, file, problems)) return err;
  if (!file->Exists())
    return Refuse(problems, "there is no setting '" + name + "' of " + effect + " in '" +
                                file->Path() + "'");
  return 0;
}

std::string ReservedNameProblem(const std::string& name) {
  return "'" + name + "' is kept for the values of the last run; choose another name";
}

}  // namespace

std::string LastUsedName() {
  const std::u16string text = strings::Lookup(u"Last Used");
  const std::string name = platform::Narrow(text);
  return text != strings::kLostString && IsValidSettingName(name) ? name : "Last Used";
}

bool IsValidSettingName(std::string_view name, std::string* why) {
  const auto refuse = [&](const std::string& reason) {
    if (why != nullptr) *why = "'" + std::string(name) + "' cannot name a setting: " + reason;
    return false;
  };
  if (name.empty()) return refuse("the name is empty");
  if (name.size() > 255) return refuse("it is longer than 255 bytes");
  if (name.front() == '.') return refuse("it begins with a dot");
  if (name.front() == ' ' || name.back() == ' ') return refuse("it begins or ends with a space");
  for (const char c : name) {
    if (uint8_t(c) < 0x20 || c == 0x7F) return refuse("it holds a control character");
    if (std::strchr("\\/:*?<>|", c) != nullptr) return refuse(std::string("it holds '") + c + "'");
  }
  const std::string text(name);
  if (platform::Narrow(platform::Widen(text)) != text) return refuse("it is not UTF-8 text");
  return true;
}

int32_t ProductFolderReference(FolderReference& folder) {
  try {
    return NewReference(ProductPath(), folder);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ProductFolder(FolderReference& folder, SettingsProblems* problems) {
  try {
    const std::filesystem::path appData = platform::ApplicationDataFolder();
    if (int32_t err = NewReference(appData, folder)) return err;
    if (!folder->IsFolder()) {
      std::error_code ec;
      std::filesystem::create_directories(appData, ec);
      if (!folder->IsFolder())
        return Refuse(problems, "cannot create the folder '" + folder->Path() + "': " + ec.message());
    }
    for (const char* level : {kCompanyFolderName, kProductFolderName}) {
      folder = folder->Child(level);
      if (folder == nullptr) return -108;
      if (!folder->CreateFolder()) return Refuse(problems, folder->ErrorText());
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t UserSettingsFolder(const std::string& effect, FolderReference& folder, SettingsProblems* problems) {
  try {
    if (int32_t err = ProductFolder(folder, problems)) return err;
    folder = folder->Child(effect);
    if (folder == nullptr) return -108;
    return folder->CreateFolder() ? 0 : Refuse(problems, folder->ErrorText());
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t SettingsFolder(const std::string& effect, SettingsSource source, FolderReference& folder) {
  try {
    if (source == SettingsSource::User) return NewReference(ProductPath() / effect, folder);
    return NewReference(platform::ResourceFolder() / kSettingsFolderName / effect, folder);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t SettingFile(const std::string& effect, const std::string& name, SettingsSource source, FolderReference& file,
                    SettingsProblems* problems) {
  try {
    std::string why;
    if (!IsValidSettingName(name, &why)) return Refuse(problems, why);
    FolderReference folder;
    if (int32_t err = SettingsFolder(effect, source, folder)) return err;
    file = folder->Child(name);
    return file != nullptr ? 0 : -108;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ListUserSettings(const std::string& effect, std::vector<std::string>& names, SettingsProblems* problems) {
  return ListSettings(effect, SettingsSource::User, names, problems);
}

int32_t ListShippedSettings(const std::string& effect, std::vector<std::string>& names, SettingsProblems* problems) {
  return ListSettings(effect, SettingsSource::Shipped, names, problems);
}

std::string MatchingSettingName(const std::string& effect, const std::string& typed) {
  try {
    std::vector<std::string> candidates;
    for (const SettingsSource source : {SettingsSource::User, SettingsSource::Shipped}) {
      FolderReference file;
      if (SettingFile(effect, typed, source, file) == 0 && file->Exists()) return typed;
      std::vector<std::string> names;
      ListSettings(effect, source, names, nullptr);
      // Unlisted, but people type it too.
      if (source == SettingsSource::User) names.push_back(LastUsedName());
      const std::u16string folded = FoldedName(typed);
      for (const std::string& name : names) {
        const bool known = std::find(candidates.begin(), candidates.end(), name) != candidates.end();
        if (!known && FoldedName(name) == folded) candidates.push_back(name);
      }
    }
    return candidates.size() == 1 ? candidates.front() : typed;
  } catch (const std::bad_alloc&) {
    return typed;
  }
}

int32_t SettingExists(const std::string& effect, const std::string& name, bool& exists, SettingsProblems* problems) {
  FolderReference file;
  exists = false;
  if (int32_t err = SettingFile(effect, name, SettingsSource::User, file, problems)) return err;
  exists = file->Exists();
  return 0;
}

int32_t RenameSetting(const std::string& effect, const std::string& oldName, const std::string& newName,
                      SettingsProblems* problems) {
  try {
    FolderReference file, target;
    if (int32_t err = ExistingUserSetting(effect, oldName, file, problems)) return err;
    if (int32_t err = SettingFile(effect, newName, SettingsSource::User, target, problems)) return err;
    if (newName == oldName) return 0;
    if (newName == LastUsedName()) return Refuse(problems, ReservedNameProblem(newName));
    if (target->Exists()) return Refuse(problems, "a setting named '" + newName + "' already exists");
    return file->RenameTo(newName) ? 0 : Refuse(problems, file->ErrorText());
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t DeleteSetting(const std::string& effect, const std::string& name, SettingsProblems* problems) {
  try {
    FolderReference file;
    if (int32_t err = ExistingUserSetting(effect, name, file, problems)) return err;
    return file->DeleteFile() ? 0 : Refuse(problems, file->ErrorText());
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t SaveSetting(const std::string& effect, const std::string& name, const ParameterList& list,
                    SettingsProblems* problems) {
  try {
    if (name == LastUsedName()) return Refuse(problems, ReservedNameProblem(name));
    return WriteSettings(effect, name, list, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t StoreLastUsed(const std::string& effect, const ParameterList& list, SettingsProblems* problems) {
  try {
    return WriteSettings(effect, LastUsedName(), list, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t LoadSetting(const std::string& effect, const std::string& name, ParameterList& list,
                    SettingsProblems* problems, SettingsSource* source) {
  try {
    std::string why;
    if (!IsValidSettingName(name, &why)) return Refuse(problems, why);
    for (const SettingsSource s : {SettingsSource::User, SettingsSource::Shipped}) {
      FolderReference file;
      if (SettingFile(effect, name, s, file) != 0 || !file->Exists()) continue;
      if (int32_t err = ReadSettings(effect, name, list, s, problems)) return err;
      if (source != nullptr) *source = s;
      return 0;
    }
    return Refuse(problems, "there is no setting '" + name + "' of " + effect);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

}  // namespace kv
