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

#include "parameters/settings_store.h"
#include "platform/system.h"
#include "tests/parameters/settings_test_support.h"

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
  }

  void TearDown() override {
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
    BoundAllKinds values;
    SetSample(values.block(), slider);
    return SaveSetting(effect_, name, values.list, problems);
  }

  // The slider value of the setting, or -1 when it does not load.
  double Load(const std::string& name, SettingsSource* source = nullptr) {
    BoundAllKinds values;
    return LoadSetting(effect_, name, values.list, nullptr, source) == 0 ? values.block().slider : -1.0;
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
  const std::string effect_ = "AllKinds";
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
  ASSERT_EQ(StoreLastUsed(effect_, BoundAllKinds().list), 0);
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
}

TEST_F(SettingsStore, ValuesThatDoNotReadAreReportedWithTheirLine) {
  Put(UserFolder() / "Broken", "AllKinds\n" + std::to_string(ps::FourCC("ALsl")) + " 99\nnotaline\n");
  Put(UserFolder() / "Hand edited", "AllKinds\n" + std::to_string(ps::FourCC("ALsl")) + " 99\n" +
                                        std::to_string(ps::FourCC("ALcb")) + " maybe\n");
  BoundAllKinds values;
  SettingsProblems problems;
  EXPECT_EQ(LoadSetting(effect_, "Broken", values.list, &problems), -1);
  EXPECT_EQ(values.block().slider, 99.0);  // the lines before the broken one stay read
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind((UserFolder() / "Broken").string() + ":3: ", 0), 0u) << problems[0];

  // A value that does not read is reported; the rest of the file still loads.
  problems.clear();
  EXPECT_EQ(LoadSetting(effect_, "Hand edited", values.list, &problems), 0);
  EXPECT_EQ(values.block().slider, 99.0);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind((UserFolder() / "Hand edited").string() + ":3: ", 0), 0u) << problems[0];
  // Neither stops the listing.
  EXPECT_EQ(UserNames(), (std::vector<std::string>{"Broken", "Hand edited"}));
}

TEST_F(SettingsStore, LastUsedIsKeptApartFromTheNamedSettings) {
  BoundAllKinds values;
  SetSample(values.block(), 77.0);
  ASSERT_EQ(StoreLastUsed(effect_, values.list), 0);
  EXPECT_TRUE(fs::exists(UserFolder() / "Last Used"));
  EXPECT_TRUE(UserNames().empty());
  EXPECT_EQ(Load("Last Used"), 77.0);
  SettingsProblems problems;
  EXPECT_EQ(Save("Last Used", 1.0, &problems), -1);
  EXPECT_EQ(problems.size(), 1u);
  EXPECT_EQ(Load("Last Used"), 77.0);
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
  BoundAllKinds values;
  problems.clear();
  EXPECT_EQ(WriteSettings("Other", "New", values.list, &problems), -1);
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

}  // namespace
}  // namespace kv::test
