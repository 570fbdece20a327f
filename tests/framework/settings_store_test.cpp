// Named settings on disk: folders made on demand, listing, names, renames
// and deletes, shipped settings, and writes that never lose a setting.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "framework/settings_store.h"
#include "platform/system.h"
#include "tests/framework/settings_test_support.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Joined(const SettingsProblems& problems) {
  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  return all;
}

class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    platform::SetResourceFolder(root_ / "resources");
    SetFilterFactoryOverride([](int32_t id) -> std::unique_ptr<Filter> {
      return id == kAllKindsEffect ? std::make_unique<AllKindsEffect>() : nullptr;
    });
  }

  void TearDown() override {
    SetFilterFactoryOverride({});
    platform::SetResourceFolder("");
    ::unsetenv("XDG_CONFIG_HOME");
    for (const auto& entry : fs::recursive_directory_iterator(root_))
      if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }

  fs::path ProductFolder() const { return root_ / "config" / "Brightfold" / "Kalvero 2"; }
  fs::path UserFolder() const { return ProductFolder() / "AllKinds"; }
  fs::path ShippedFolder() const { return root_ / "resources" / "Settings" / "AllKinds"; }

  // Saves the sample values with `slider` under `name`; the call's result.
  int32_t Save(const std::string& name, double slider = 37.125, SettingsProblems* problems = nullptr) {
    std::vector<uint8_t> block = DefaultBlock(effect_);
    SetSample(Values(block), slider);
    return SaveSetting(kAllKindsEffect, name, block, problems);
  }

  // The slider value of the setting, or -1 when it does not load.
  double Load(const std::string& name, SettingsSource* source = nullptr) {
    std::vector<uint8_t> block = DefaultBlock(effect_);
    return LoadSetting(kAllKindsEffect, name, block, 72.0, nullptr, source) == 0 ? Values(block).slider : -1.0;
  }

  std::vector<std::string> UserNames() {
    std::vector<std::string> names;
    EXPECT_EQ(ListUserSettings(effect_, names), 0);
    return names;
  }

  // Root writes into read-only folders, so there is nothing to test then.
  bool FolderStillWritable(const fs::path& folder) {
    const fs::path probe = folder / "probe";
    std::ofstream out(probe);
    if (!out) return false;
    out.close();
    fs::remove(probe);
    return true;
  }

  fs::path root_;
  AllKindsEffect effect_;
};

TEST_F(SettingsStore, FirstSaveMakesTheFoldersAndTheWholeFile) {
  EXPECT_FALSE(fs::exists(root_ / "config"));
  ASSERT_EQ(Save("Soft"), 0);
  EXPECT_EQ(FolderEntries(UserFolder()), std::vector<std::string>{"Soft"});
  EXPECT_EQ(Contents(UserFolder() / "Soft").rfind("AllKinds\n", 0), 0u);
  EXPECT_EQ(Load("Soft"), 37.125);

  ASSERT_EQ(Save("Soft", 12.5), 0);
  EXPECT_EQ(Load("Soft"), 12.5);
  EXPECT_EQ(FolderEntries(UserFolder()), std::vector<std::string>{"Soft"});
}

TEST_F(SettingsStore, ListsOnlyThisEffectsSettingsSortedWithoutRegardToCase) {
  for (const char* name : {"banana", "Été", "Apple", "Zebra", "été", "apple", "eagle"}) ASSERT_EQ(Save(name), 0);
  ASSERT_EQ(StoreLastUsed(kAllKindsEffect, DefaultBlock(effect_)), 0);
  Put(UserFolder() / "Of Cracks", "Cracks\n1 2\n");
  Put(UserFolder() / "Garbage", std::string("\x00\x01\x02\xff", 4));
  Put(UserFolder() / ".partial-12-3-4", "AllKinds\n");  // left by a crash mid-write
  Put(UserFolder() / "Notepad", "\xFF\xFE" + std::string("A\0l\0l\0K\0i\0n\0d\0s\0\r\0\n\0", 20));
  fs::create_directories(UserFolder() / "A folder");

  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Apple", "apple", "banana", "eagle", "Notepad", "Zebra", "Été",
                                                   "été"}));
  EXPECT_EQ(Load(LastUsedName()), 50.0);
}

TEST_F(SettingsStore, NamesMayHoldSpacesAndAnyLetterButNotWhatFilesCannot) {
  for (const char* name : {"Soft glow 2", "café au lait", "日本語の設定", "Ünïcödé (old)"}) {
    ASSERT_EQ(Save(name, 20.0), 0) << name;
    EXPECT_EQ(Load(name), 20.0) << name;
  }
  EXPECT_EQ(UserNames().size(), 4u);

  for (const std::string& name : {std::string("a/b"), std::string("a:b"), std::string("why?"), std::string("a\\b"),
                                  std::string(), std::string(".hidden"), std::string(".."), std::string("tab\there"),
                                  std::string(" lead"), std::string("\xFF\xFE"), std::string(256, 'x')}) {
    SettingsProblems problems;
    EXPECT_EQ(Save(name, 20.0, &problems), -1) << name;
    ASSERT_EQ(problems.size(), 1u) << name;
    EXPECT_NE(problems[0].find("cannot name a setting"), std::string::npos) << problems[0];
  }
  EXPECT_EQ(FolderEntries(UserFolder()).size(), 4u);
  EXPECT_EQ(FolderEntries(UserFolder().parent_path()), std::vector<std::string>{"AllKinds"});
}

TEST_F(SettingsStore, RenamesAndDeletesButNeverOverAnotherSetting) {
  ASSERT_EQ(Save("One", 1.0), 0);
  ASSERT_EQ(Save("Two", 2.0), 0);
  SettingsProblems problems;
  EXPECT_EQ(RenameSetting(effect_, "One", "Two", &problems), -1);
  EXPECT_NE(Joined(problems).find("already exists"), std::string::npos);
  EXPECT_EQ(Load("One"), 1.0);
  EXPECT_EQ(Load("Two"), 2.0);

  EXPECT_EQ(RenameSetting(effect_, "One", "One"), 0);
  EXPECT_EQ(RenameSetting(effect_, "One", "Première"), 0);
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Première", "Two"}));
  EXPECT_EQ(Load("Première"), 1.0);
  EXPECT_EQ(RenameSetting(effect_, "Two", "bad/name"), -1);
  EXPECT_EQ(RenameSetting(effect_, "Two", LastUsedName()), -1);
  EXPECT_EQ(RenameSetting(effect_, "Missing", "Three"), -1);

  EXPECT_EQ(DeleteSetting(effect_, "Two"), 0);
  problems.clear();
  EXPECT_EQ(DeleteSetting(effect_, "Two", &problems), -1);
  EXPECT_NE(Joined(problems).find("no setting 'Two'"), std::string::npos) << Joined(problems);
  EXPECT_EQ(UserNames(), std::vector<std::string>{"Première"});
  bool exists = true;
  EXPECT_EQ(SettingExists(effect_, "Two", exists), 0);
  EXPECT_FALSE(exists);
  EXPECT_EQ(SettingExists(effect_, "Première", exists), 0);
  EXPECT_TRUE(exists);
}

TEST_F(SettingsStore, ShippedSettingsAreReadWhereTheUserHasNone) {
  std::vector<std::string> names;
  EXPECT_EQ(ListShippedSettings(effect_, names), 0);  // no folder yet
  EXPECT_TRUE(names.empty());

  BoundAllKinds shipped;
  SetSample(shipped.block(), 60.0);
  Put(ShippedFolder() / "Classic", SettingsText("AllKinds", shipped.list));
  Put(ShippedFolder() / "Mine too", SettingsText("AllKinds", shipped.list));
  ASSERT_EQ(Save("Mine too", 5.0), 0);

  EXPECT_EQ(ListShippedSettings(effect_, names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"Classic", "Mine too"}));
  EXPECT_EQ(UserNames(), std::vector<std::string>{"Mine too"});
  SettingsSource source = SettingsSource::User;
  EXPECT_EQ(Load("Classic", &source), 60.0);
  EXPECT_EQ(source, SettingsSource::Shipped);
  EXPECT_EQ(Load("Mine too", &source), 5.0);
  EXPECT_EQ(source, SettingsSource::User);
  EXPECT_EQ(Load("Nowhere"), -1.0);
  // Typed names find their setting whatever the case, where that is clear.
  EXPECT_EQ(MatchingSettingName(effect_, "classic"), "Classic");
  EXPECT_EQ(MatchingSettingName(effect_, "MINE TOO"), "Mine too");
  ASSERT_EQ(Save("MINE TOO"), 0);
  EXPECT_EQ(MatchingSettingName(effect_, "mine too"), "mine too");
  EXPECT_EQ(MatchingSettingName(effect_, "MINE TOO"), "MINE TOO");
  // Shipped ones are never renamed or deleted.
  EXPECT_EQ(DeleteSetting(effect_, "Classic"), -1);
  EXPECT_TRUE(fs::exists(ShippedFolder() / "Classic"));

  platform::SetResourceFolder("");
  SettingsProblems problems;
  EXPECT_EQ(ListShippedSettings(effect_, names, &problems), -1);
  EXPECT_EQ(problems.size(), 1u);
}

TEST_F(SettingsStore, AFailedLoadLeavesTheBlockAsItWas) {
  Put(UserFolder() / "Broken", "AllKinds\n" + std::to_string(ps::FourCC("ALsl")) + " 99\nnotaline\n");
  Put(UserFolder() / "Hand edited", "AllKinds\n" + std::to_string(ps::FourCC("ALsl")) + " 99\n" +
                                        std::to_string(ps::FourCC("ALcb")) + " maybe\n");
  std::vector<uint8_t> block = DefaultBlock(effect_);
  const std::vector<uint8_t> before = block;
  SettingsProblems problems;
  EXPECT_EQ(LoadSetting(kAllKindsEffect, "Broken", block, 72.0, &problems), -1);
  EXPECT_EQ(block, before);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind((UserFolder() / "Broken").string() + ":3: ", 0), 0u) << problems[0];

  // A value that does not read is reported; the rest of the file still loads.
  problems.clear();
  EXPECT_EQ(LoadSetting(kAllKindsEffect, "Hand edited", block, 72.0, &problems), 0);
  EXPECT_EQ(Values(block).slider, 99.0);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind((UserFolder() / "Hand edited").string() + ":3: ", 0), 0u) << problems[0];
  // Neither stops the listing.
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Broken", "Hand edited"}));
}

TEST_F(SettingsStore, LastUsedIsKeptApartFromTheNamedSettings) {
  std::vector<uint8_t> block = DefaultBlock(effect_);
  SetSample(Values(block), 77.0);
  ASSERT_EQ(StoreLastUsed(kAllKindsEffect, block), 0);
  EXPECT_TRUE(fs::exists(UserFolder() / "Last Used"));
  EXPECT_TRUE(UserNames().empty());
  EXPECT_EQ(Load("Last Used"), 77.0);
  SettingsProblems problems;
  EXPECT_EQ(Save("Last Used", 1.0, &problems), -1);
  EXPECT_EQ(problems.size(), 1u);
  EXPECT_EQ(Load("Last Used"), 77.0);

  std::vector<uint8_t> other(kParametersHandleSize);
  EXPECT_EQ(StoreLastUsed(kAllKindsEffect, other), -1);  // not a block of this effect
  EXPECT_EQ(StoreLastUsed(12, block), -1);              // not in this build
}

TEST_F(SettingsStore, AWriteThatFailsHalfwayLeavesTheOldFile) {
  ASSERT_EQ(Save("Kept", 11.0), 0);
  const std::string before = Contents(UserFolder() / "Kept");
  // A child that may write only 64 bytes a file: the disk "fills" mid-write.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    SettingsProblems problems;
    const bool failedClearly = Save("Kept", 22.0, &problems) == -1 && problems.size() == 1 &&
                               problems[0].find((UserFolder() / "Kept").string()) != std::string::npos;
    ::_exit(failedClearly ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Contents(UserFolder() / "Kept"), before);
  EXPECT_EQ(FolderEntries(UserFolder()), std::vector<std::string>{"Kept"});  // no temporary left
}

TEST_F(SettingsStore, TwoProcessesSavingAtOnceLoseNothing) {
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int who = 0; who < 2; ++who) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(gate[1]);
      char c;
      while (::read(gate[0], &c, 1) < 0) {
      }
      // Both make the folders, then write their own settings and one shared.
      bool ok = true;
      for (int i = 0; i < 20; ++i) {
        ok &= Save(std::string(1, char('A' + who)) + std::to_string(i), who * 20 + i) == 0;
        ok &= Save("Shared", who) == 0;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // both start now
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(UserNames().size(), 41u);
  for (int who = 0; who < 2; ++who)
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Load(std::string(1, char('A' + who)) + std::to_string(i)), who * 20 + i);
  const double shared = Load("Shared");
  EXPECT_TRUE(shared == 0.0 || shared == 1.0) << shared;
  EXPECT_EQ(FolderEntries(UserFolder()).size(), 41u);
}

TEST_F(SettingsStore, AReadOnlyFolderIsReportedAndNothingIsLost) {
  ASSERT_EQ(Save("Kept", 11.0), 0);
  fs::permissions(UserFolder(), fs::perms::owner_read | fs::perms::owner_exec);
  fs::permissions(ProductFolder(), fs::perms::owner_read | fs::perms::owner_exec);
  if (FolderStillWritable(UserFolder())) GTEST_SKIP() << "this user writes into read-only folders (root)";

  SettingsProblems problems;
  EXPECT_EQ(Save("Kept", 22.0, &problems), -1);
  EXPECT_EQ(Save("New", 22.0, &problems), -1);
  ASSERT_EQ(problems.size(), 2u);
  for (const std::string& p : problems) {
    EXPECT_NE(p.find(UserFolder().string()), std::string::npos) << p;
    EXPECT_NE(p.find("Permission denied"), std::string::npos) << p;
  }
  EXPECT_EQ(Load("Kept"), 11.0);

  // An effect folder that cannot be made.
  AllKindsEffect other("Other");
  BoundAllKinds values;
  problems.clear();
  EXPECT_EQ(WriteSettings(other, "New", values.list, &problems), -1);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find((ProductFolder() / "Other").string()), std::string::npos) << problems[0];
}

TEST_F(SettingsStore, KeepsTheDialogOptionsInTheProductFolder) {
  DialogOptions options;
  EXPECT_EQ(ReadOptions(options), -1);  // none yet
  const DialogOptions written{{10, 20, 810, 620}, -3};
  ASSERT_EQ(WriteOptions(written), 0);
  EXPECT_EQ(Contents(ProductFolder() / "Kalvero 2 Options"), "Kalvero 2 Options\n10 20 810 620\n-3\n");
  ASSERT_EQ(ReadOptions(options), 0);
  EXPECT_EQ(options, written);

  Put(ProductFolder() / "Kalvero 2 Options", "Kalvero 2 Options\r\n1 2 3\r\n4\r\n");
  SettingsProblems problems;
  EXPECT_EQ(ReadOptions(options, &problems), -1);
  EXPECT_EQ(options, written);
  EXPECT_EQ(problems.size(), 1u);
}

// Every file shipped for an effect in this build is listed and reads cleanly.
TEST(ShippedSettings, AllReadWithoutAProblem) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  for (int32_t id = 0; id < kEffectCount; ++id) {
    std::unique_ptr<Filter> effect = CreateBuiltInFilter(id);
    if (effect == nullptr) continue;
    const fs::path folder = fs::path(KV_SOURCE_RESOURCE_DIR) / "Settings" / effect->SettingsName();
    std::vector<std::string> names;
    SettingsProblems problems;
    EXPECT_EQ(ListShippedSettings(*effect, names, &problems), 0);
    EXPECT_EQ(names.size(), FolderEntries(folder).size()) << effect->SettingsName();
    EXPECT_GE(names.size(), 3u) << effect->SettingsName() << " ships too few";
    for (const std::string& name : names) {
      std::vector<uint8_t> block = DefaultBlock(*effect);
      const std::vector<uint8_t> defaults = block;
      EXPECT_EQ(LoadSetting(id, name, block, 72.0, &problems), 0) << name;
      EXPECT_NE(block, defaults) << name;
      // Reading skips keys no parameter has, so a renamed key would quietly
      // give the default.
      ParameterList list;
      ASSERT_EQ(effect->BuildParameters(list, block.data()), 0);
      std::ifstream file(folder / name);
      std::string line;
      std::getline(file, line);
      while (std::getline(file, line)) {
        uint32_t key = 0;
        EXPECT_TRUE(std::sscanf(line.c_str(), "%u", &key) == 1 && list.Find(key) != nullptr) << name << ": " << line;
      }
    }
    EXPECT_TRUE(problems.empty()) << Joined(problems);
  }
  platform::SetResourceFolder("");
}

// The dialog's help command opens these pages; a missing page or picture is
// found only by a user who asks for help.
TEST(HelpPages, EveryEffectHasItsPageAndTheContentsLinkOnlyToPagesThatExist) {
  const fs::path help = fs::path(KV_SOURCE_RESOURCE_DIR) / "Help";
  const auto read = [](const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const auto referenced = [&](const fs::path& page, const char* attribute) {
    const std::string text = read(page);
    const std::string start = std::string(attribute) + "=\"";
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
      const size_t from = at + start.size();
      const std::string target = text.substr(from, text.find('"', from) - from);
      EXPECT_TRUE(fs::exists(help / target)) << page.filename() << " refers to the missing " << target;
    }
  };
  for (const char* page : {kContentsHelpPage, kErrorsHelpPage}) ASSERT_TRUE(fs::exists(help / page)) << page;
  referenced(help / kContentsHelpPage, "href");
  const std::string contents = read(help / kContentsHelpPage);
  for (int32_t id = 0; id < kEffectCount; ++id) {
    std::unique_ptr<Filter> effect = CreateBuiltInFilter(id);
    if (effect == nullptr) continue;
    const fs::path page = help / effect->HelpPage();
    ASSERT_TRUE(fs::exists(page)) << effect->HelpPage();
    referenced(page, "src");
    EXPECT_NE(contents.find("href=\"" + effect->HelpPage() + "\""), std::string::npos) << effect->HelpPage();
  }
}

}  // namespace
}  // namespace kv::test
