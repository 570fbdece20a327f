#include "framework/settings_store.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

#include "framework/filter.h"
#include "framework/parameters.h"
#include "platform/system.h"
#include "ui/string_table.h"

namespace kv {

namespace {

constexpr const char* kCompanyFolderName = "Brightfold";

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

int32_t ListSettings(const Filter& effect, SettingsSource source, std::vector<std::string>& names,
                     SettingsProblems* problems) {
  try {
    names.clear();
    FolderReference folder;
    if (int32_t err = SettingsFolder(effect, source, folder, problems)) return err;
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
int32_t ExistingUserSetting(const Filter& effect, const std::string& name, FolderReference& file,
                            SettingsProblems* problems) {
  if (int32_t err = SettingFile(effect, name, SettingsSource::User, file, problems)) return err;
  if (!file->Exists())
    return Refuse(problems, "there is no setting '" + name + "' of " + effect.SettingsName() + " in '" +
                                file->Path() + "'");
  return 0;
}

std::string ReservedNameProblem(const std::string& name) {
  return "'" + name + "' is kept for the values of the last run; choose another name";
}

// The effect's parameter list bound to a copy of a host's block.
struct BoundBlock {
  std::unique_ptr<Filter> filter;
  std::vector<uint8_t> bytes;
  ParameterList list;
};

int32_t Bind(int32_t effect, const std::vector<uint8_t>& block, double resolution, BoundBlock& bound,
             SettingsProblems* problems) {
  bound.filter = CreateFilter(effect);
  if (bound.filter == nullptr) return Refuse(problems, "effect " + std::to_string(effect) + " is not in this build");
  if (block.size() < bound.filter->ParameterBlockSize() || BlockEffectNumber(block.data()) != effect)
    return Refuse(problems, "the parameter block is not one of " + bound.filter->SettingsName());
  bound.bytes = block;
  bound.list.resolution = resolution;
  return bound.filter->BuildParameters(bound.list, bound.bytes.data());
}

int32_t WriteBlock(int32_t effect, const std::string& name, const std::vector<uint8_t>& block,
                   SettingsProblems* problems) {
  try {
    BoundBlock bound;
    if (int32_t err = Bind(effect, block, 72.0, bound, problems)) return err;
    return WriteSettings(*bound.filter, name, bound.list, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
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

int32_t UserSettingsFolder(const Filter& effect, FolderReference& folder, SettingsProblems* problems) {
  try {
    if (int32_t err = ProductFolder(folder, problems)) return err;
    folder = folder->Child(effect.SettingsName());
    if (folder == nullptr) return -108;
    return folder->CreateFolder() ? 0 : Refuse(problems, folder->ErrorText());
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ShippedSettingsFolder(const Filter& effect, FolderReference& folder, SettingsProblems* problems) {
  return SettingsFolder(effect, SettingsSource::Shipped, folder, problems);
}

int32_t SettingsFolder(const Filter& effect, SettingsSource source, FolderReference& folder,
                       SettingsProblems* problems) {
  try {
    if (source == SettingsSource::User) return NewReference(ProductPath() / effect.SettingsName(), folder);
    const std::filesystem::path& resources = platform::ResourceFolder();
    if (resources.empty()) return Refuse(problems, "the resource folder with the shipped settings is not known");
    return NewReference(resources / kSettingsFolderName / effect.SettingsName(), folder);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t SettingFile(const Filter& effect, const std::string& name, SettingsSource source, FolderReference& file,
                    SettingsProblems* problems) {
  try {
    std::string why;
    if (!IsValidSettingName(name, &why)) return Refuse(problems, why);
    FolderReference folder;
    if (int32_t err = SettingsFolder(effect, source, folder, problems)) return err;
    file = folder->Child(name);
    return file != nullptr ? 0 : -108;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ListUserSettings(const Filter& effect, std::vector<std::string>& names, SettingsProblems* problems) {
  return ListSettings(effect, SettingsSource::User, names, problems);
}

int32_t ListShippedSettings(const Filter& effect, std::vector<std::string>& names, SettingsProblems* problems) {
  return ListSettings(effect, SettingsSource::Shipped, names, problems);
}

std::string MatchingSettingName(const Filter& effect, const std::string& typed) {
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

int32_t SettingExists(const Filter& effect, const std::string& name, bool& exists, SettingsProblems* problems) {
  FolderReference file;
  exists = false;
  if (int32_t err = SettingFile(effect, name, SettingsSource::User, file, problems)) return err;
  exists = file->Exists();
  return 0;
}

int32_t RenameSetting(const Filter& effect, const std::string& oldName, const std::string& newName,
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

int32_t DeleteSetting(const Filter& effect, const std::string& name, SettingsProblems* problems) {
  try {
    FolderReference file;
    if (int32_t err = ExistingUserSetting(effect, name, file, problems)) return err;
    return file->DeleteFile() ? 0 : Refuse(problems, file->ErrorText());
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t SaveSetting(int32_t effect, const std::string& name, const std::vector<uint8_t>& block,
                    SettingsProblems* problems) {
  try {
    if (name == LastUsedName()) return Refuse(problems, ReservedNameProblem(name));
    return WriteBlock(effect, name, block, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t StoreLastUsed(int32_t effect, const std::vector<uint8_t>& block, SettingsProblems* problems) {
  try {
    return WriteBlock(effect, LastUsedName(), block, problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t LoadSetting(int32_t effect, const std::string& name, std::vector<uint8_t>& block, double resolution,
                    SettingsProblems* problems, SettingsSource* source) {
  try {
    BoundBlock bound;
    if (int32_t err = Bind(effect, block, resolution, bound, problems)) return err;
    std::string why;
    if (!IsValidSettingName(name, &why)) return Refuse(problems, why);
    std::optional<SettingsSource> found;
    for (const SettingsSource s : {SettingsSource::User, SettingsSource::Shipped}) {
      FolderReference file;
      if (SettingFile(*bound.filter, name, s, file) == 0 && file->Exists()) {
        found = s;
        break;
      }
    }
    if (!found) return Refuse(problems, "there is no setting '" + name + "' of " + bound.filter->SettingsName());
    if (int32_t err = ReadSettings(*bound.filter, name, bound.list, *found, problems)) return err;
    block = bound.bytes;
    if (source != nullptr) *source = *found;
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

}  // namespace kv
