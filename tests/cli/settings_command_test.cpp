// kalvero settings: the command lines people type, against the real store
// in a scratch configuration folder, with Television's parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "hosts/cli/apply_command.h"
#include "hosts/cli/settings_command.h"
#include "parameters/settings_store.h"
#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

class SettingsCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    // The built core with resources of its own, whose Television ships one
    // setting.
    namespace fs = std::filesystem;
    fs::copy_file(KV_CORE, dir / "libkalvero-core.so");
    fs::copy(fs::path(KV_CORE).parent_path() / "resources", dir / "resources", fs::copy_options::recursive);
    fs::remove_all(dir / "resources" / "Settings" / "Television");
    fs::create_directories(dir / "resources" / "Settings" / "Television");
    std::ofstream(dir / "resources" / "Settings" / "Television" / "Shipped One")
        << "Television\n" << ps::FourCC("TEcu") << " 90.000\n";
    core = std::make_unique<CoreLibrary>(dir / "libkalvero-core.so");
  }
  void TearDown() override {
    core.reset();
    ::unsetenv("XDG_CONFIG_HOME");
  }

  // Runs "kalvero settings ARGS..." with the scratch folder's resources;
  // the exit status, with what it printed in `out`.
  int Run(std::vector<std::string> args) {
    CLI::App app;
    SettingsOptions options;
    AddSettingsCommand(app, options);
    args.insert(args.begin(), "settings");
    std::reverse(args.begin(), args.end());
    try {
      app.parse(args);
    } catch (const CLI::ParseError&) {
      return kExitUsage;
    }
    ::testing::internal::CaptureStdout();
    const int status = RunSettingsCommand(options, *core);
    std::fflush(stdout);
    out = ::testing::internal::GetCapturedStdout();
    return status;
  }

  std::filesystem::path UserFile(const std::string& name) const {
    return dir / "config" / "Brightfold" / "Kalvero 2" / "Television" / name;
  }

  ScratchFolder dir;
  std::unique_ptr<CoreLibrary> core;
  std::string out;
};

TEST_F(SettingsCommand, SavesShowsRenamesAndDeletes) {
  ASSERT_EQ(Run({"save", "television", "Soft glow", "--set", "Curvature=20", "--seed", "9"}), kExitOk);
  ASSERT_TRUE(std::filesystem::exists(UserFile("Soft glow")));
  ASSERT_EQ(Run({"show", "13", "soft GLOW"}), kExitOk);
  EXPECT_NE(out.find("Soft glow: your setting of Television"), std::string::npos) << out;
  EXPECT_NE(out.find("  Curvature=20.000\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Random Seed=9\n"), std::string::npos) << out;

  // Not replaced unless asked; a copy starts from the setting it names.
  EXPECT_EQ(Run({"save", "television", "Soft glow"}), kExitUsage);
  ASSERT_EQ(Run({"save", "television", "Soft glow 2", "--from", "Soft glow", "--set", "Static=5"}), kExitOk);
  ASSERT_EQ(Run({"show", "television", "Soft glow 2"}), kExitOk);
  EXPECT_NE(out.find("  Curvature=20.000\n  Static=5.000\n"), std::string::npos) << out;
  ASSERT_EQ(Run({"save", "television", "Soft glow", "--replace"}), kExitOk);
  ASSERT_EQ(Run({"show", "television", "Soft glow"}), kExitOk);
  EXPECT_NE(out.find("  Curvature=50.000\n"), std::string::npos) << out;

  EXPECT_EQ(Run({"rename", "television", "Soft glow 2", "Soft glow"}), kExitFile);
  ASSERT_EQ(Run({"rename", "television", "Soft glow 2", "Lueur douce"}), kExitOk);
  ASSERT_EQ(Run({"delete", "television", "Soft glow"}), kExitOk);
  EXPECT_EQ(Run({"delete", "television", "Soft glow"}), kExitFile);
  ASSERT_EQ(Run({"list", "television"}), kExitOk);
  EXPECT_NE(out.find(":\n  Lueur douce\nShipped settings:\n  Shipped One\n"), std::string::npos) << out;
}

TEST_F(SettingsCommand, ShowsShippedSettingsAndPrefersTheUsersOwn) {
  ASSERT_EQ(Run({"show", "television", "Shipped One"}), kExitOk);
  EXPECT_NE(out.find("a shipped setting"), std::string::npos) << out;
  EXPECT_NE(out.find("  Curvature=90.000\n"), std::string::npos) << out;
  ASSERT_EQ(Run({"save", "television", "Shipped One", "--from", "Shipped One", "--set", "Curvature=10"}), kExitOk);
  ASSERT_EQ(Run({"show", "television", "Shipped One"}), kExitOk);
  EXPECT_NE(out.find("  Curvature=10.000\n"), std::string::npos) << out;
  ASSERT_EQ(Run({"list", "television"}), kExitOk);
  EXPECT_NE(out.find("  Shipped One  (yours of this name is used)"), std::string::npos) << out;
}

TEST_F(SettingsCommand, RefusesWrongCommandLinesAndWritesNothing) {
  EXPECT_EQ(Run({"save", "no such effect", "A"}), kExitUsage);
  EXPECT_EQ(Run({"save", "television", "A/B"}), kExitUsage);
  EXPECT_EQ(Run({"save", "television", "A", "--set", "Wobble=3"}), kExitUsage);
  EXPECT_EQ(Run({"save", "television", "A", "--set", "Curvature=lots"}), kExitUsage);
  EXPECT_EQ(Run({"save", "television", "A", "--from", "Missing"}), kExitFile);
  EXPECT_EQ(Run({"save", "television", LastUsedName()}), kExitFile);
  EXPECT_EQ(Run({"show", "television", "Missing"}), kExitFile);
  EXPECT_FALSE(std::filesystem::exists(UserFile("A")));
  EXPECT_FALSE(std::filesystem::exists(UserFile(LastUsedName())));
}

}  // namespace
}  // namespace kv::cli::test
