// kalvero apply --dialog with the real toolkit, on a private X server: what
// a user does with mouse and keyboard, played through the window's widgets
// and key events, and what comes out.
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/toolkit/x_server.h"

extern char** environ;

namespace kv::toolkit::test {
namespace {

namespace fs = std::filesystem;

const fs::path kArtefacts = KV_ARTEFACT_DIR;
const fs::path kSmall = fs::path(KV_SAMPLE_DIR) / "landscape-small.png";

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class KalveroDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(KV_KALVERO).empty()) GTEST_SKIP() << "kalvero is not built";
    if (!XServer::Shared().Running()) GTEST_SKIP() << "no X display and no Xvfb";
    dir_ = kArtefacts / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Settings and the window's place go here, not to the user's.
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    // Under the sanitizers: GTK's caches and Mesa's contexts are not our leaks.
    std::ofstream(dir_ / "libraries.supp") << kLibraryLeaks;
    setenv("LSAN_OPTIONS", ("suppressions=" + (dir_ / "libraries.supp").string()).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("LSAN_OPTIONS");
  }

  // kalvero's exit code; what it printed goes to `log_`.
  int Kalvero(std::vector<std::string> args, const std::string& script) {
    setenv("KALVERO_TOOLKIT_SCRIPT", script.c_str(), 1);
    args.insert(args.begin(), KV_KALVERO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const fs::path log = dir_ / "kalvero.log";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid;
    const int err = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    unsetenv("KALVERO_TOOLKIT_SCRIPT");
    if (err != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    log_ = Bytes(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
  std::string log_;
};

TEST_F(KalveroDialog, ASliderMovedInTheDialogRendersAsThatValueDoes) {
  const fs::path shot = kArtefacts / "kalvero-dialog.png";
  ASSERT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "dialog.png", "--dialog", "-q"},
                    "wait-preview; set Curvature=100; wait-preview; screenshot " + shot.string() + "; ok"),
            0)
      << log_;
  ASSERT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "set.png", "--set", "Curvature=100", "-q"}, ""), 0);
  ASSERT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "default.png", "-q"}, ""), 0);
  const std::string dialog = Bytes(dir_ / "dialog.png");
  EXPECT_EQ(dialog, Bytes(dir_ / "set.png"));
  EXPECT_NE(dialog, Bytes(dir_ / "default.png"));
  EXPECT_NE(dialog, Bytes(kSmall));
  EXPECT_GT(fs::file_size(shot), 1000u);

  // Cancel after a change writes nothing.
  EXPECT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "cancelled.png", "--dialog", "-q"},
                    "set Curvature=10; wait-preview; cancel"),
            130);
  EXPECT_FALSE(fs::exists(dir_ / "cancelled.png"));
}

// A layer fill's choices and swatch: keep the original, then a colour, which
// turns the solid colour back on; copied, and pasted over another choice.
// The result is that colour's render.
TEST_F(KalveroDialog, AFillChosenInTheDialogRendersAsThatValueDoes) {
  const fs::path shot = kArtefacts / "kalvero-dialog-fill.png";
  ASSERT_EQ(Kalvero({"apply", "Burnt Edges", kSmall, dir_ / "dialog.png", "--dialog", "-q"},
                    "set Fill Inside Burn=Keep original image; expect Fill Inside Burn=keep; "
                    "set Fill Inside Burn=#3060c0; focus Fill Inside Burn; key ctrl+c; "
                    "set Fill Inside Burn=Keep original image; key ctrl+v; wait-preview; "
                    "expect Fill Inside Burn=#3060c0; screenshot " + shot.string() + "; ok"),
            0)
      << log_;
  ASSERT_EQ(Kalvero({"apply", "Burnt Edges", kSmall, dir_ / "set.png", "--set", "Fill Inside Burn=#3060c0", "-q"}, ""),
            0);
  ASSERT_EQ(Kalvero({"apply", "Burnt Edges", kSmall, dir_ / "keep.png", "--set", "Fill Inside Burn=keep", "-q"}, ""), 0);
  EXPECT_EQ(Bytes(dir_ / "dialog.png"), Bytes(dir_ / "set.png"));
  EXPECT_NE(Bytes(dir_ / "dialog.png"), Bytes(dir_ / "keep.png"));
}

// The dialog's commands as a new user tries them: keys, menus, prompts and
// the manage window, effect by effect. Each window's picture is kept.
TEST_F(KalveroDialog, EveryCommandWorksFromTheMenusAndTheKeyboard) {
  const std::string shots = (kArtefacts / "window-").string();
  const std::string script =
      "wait-preview; expect title=Brightfold Kalvero 2; expect enabled:edit-undo=0; expect enabled:edit-reset=0;"
      // Undo after three changes brings back the second; redo the third.
      "set Curvature=10; set Curvature=20; set Curvature=30; key ctrl+z; expect Curvature=20; key ctrl+shift+z;"
      "expect Curvature=30; expect enabled:edit-redo=0;"
      // Zoom steps from 1, between the levels and at either end.
      "key ctrl+plus; expect zoom=2; zoom 0.3; key ctrl+plus; expect zoom=0.5; zoom 0.3; key ctrl+minus;"
      "expect zoom=0.25; zoom 0.0625; key ctrl+minus; expect zoom=0.0625; zoom 16; key ctrl+plus; expect zoom=16;"
      "key ctrl+0; expect zoom=1;"
      // Saved under a name, which the menu then checks while the values match it. The
      // preview goes on while the prompt is open.
      "key ctrl+s; set Static=25; wait-preview 20; type Mine; expect title=Save Setting;"
      "screenshot " + shots + "save.png; answer ok;"
      "expect checked:setting:Mine=1; set Curvature=70; expect checked:setting:Mine=0; click setting:Mine;"
      "expect Curvature=30; click shipped:Amber Monitor; expect Curvature=25; expect checked:shipped:Amber Monitor=1;"
      // Saved again under that name: replacing it asks first, and No is the answer Enter gives.
      "key ctrl+s; type Mine; answer ok; expect title=Replace Setting; screenshot " + shots + "replace.png; key Return;"
      "click setting:Mine; expect Curvature=30;"
      // Renamed and deleted through the manage window.
      "click manage-settings; select Mine; screenshot " + shots + "manage.png; answer rename; type Ours;"
      "screenshot " + shots + "rename.png; answer ok; select Ours; answer delete; screenshot " + shots + "delete.png;"
      "answer yes; answer close; click about; screenshot " + shots + "about.png; answer close;"
      "wait-preview; screenshot " + shots + "television.png;"
      // Page Down from the last effect wraps to the first that can run here.
      "key Page_Down; wait-preview; expect effect=Burnt Edges; expect track:Contract=0.50;"
      "screenshot " + shots + "burnt-edges.png;"
      // Either way past the one that needs a selection. The lighting control:
      // a change, a paste, undo, redo and reset.
      "key Page_Down; key Page_Down; key Page_Down; key Page_Down; key Page_Down; expect effect=Shatter;"
      "key Page_Up; wait-preview; expect effect=Crumple;"
      "set Lighting=200 60 30 40 #ffe0c0; key ctrl+z; expect Lighting=60.524 58.103 19.469 51.196 #ffffff;"
      "key ctrl+shift+z; expect Lighting=200 60 30 40 #ffe0c0; focus Light Boost; key ctrl+c; focus Lighting;"
      "key ctrl+v; key Tab; expect Lighting=50 60 30 40 #ffe0c0; key ctrl+z; expect Lighting=200 60 30 40 #ffe0c0;"
      "click edit-reset; expect Lighting=60.524 58.103 19.469 51.196 #ffffff; expect enabled:edit-reset=0;"
      "wait-preview; screenshot " + shots + "crumple.png;"
      // The puzzle's grid: a piece clicked, the columns pasted, each a step to undo.
      "click effect:Puzzle; wait-preview; expect effect=Puzzle;"
      "set Puzzle Arrangement=click 15,10; expect enabled:edit-reset=1; key ctrl+z; expect enabled:edit-reset=0;"
      "key ctrl+shift+z; expect enabled:edit-reset=1; key ctrl+plus; key ctrl+plus; wait-preview;"
      "screenshot " + shots + "puzzle.png; key ctrl+0; click edit-reset; expect enabled:edit-reset=0;"
      "focus Puzzle Arrangement; key ctrl+v; key Tab; expect enabled:edit-reset=1; key ctrl+z;"
      "expect enabled:edit-reset=0;"
      "key Page_Up; key Page_Up; key Page_Up; wait-preview; expect effect=Lightning;"
      "expect checked:effect:Lightning=1;"
      // The track gives four fifths of its length to the values below the split.
      "expect track:Arc Thickness=0.24; drag Arc Thickness=0.9; wait-preview; release Arc Thickness;"
      "expect Arc Thickness=75;"
      // Cut, copy and paste in text fields; a paste is a change like any other.
      "focus Arc Thickness; key ctrl+c; focus Jaggedness; key ctrl+v; key Tab; expect Jaggedness=75; key ctrl+z;"
      "expect Jaggedness=92;"
      "click show-markers; expect checked:show-markers=0; screenshot " + shots + "lightning.png; key Return";
  ASSERT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "dialog.png", "--dialog", "-q"}, script), 0) << log_;
  EXPECT_EQ(log_.find("WARNING"), std::string::npos) << log_;
  EXPECT_EQ(log_.find("CRITICAL"), std::string::npos) << log_;
  EXPECT_FALSE(fs::exists(dir_ / "config/Brightfold/Kalvero 2/Television/Mine"));
  EXPECT_FALSE(fs::exists(dir_ / "config/Brightfold/Kalvero 2/Television/Ours"));

  ASSERT_EQ(Kalvero({"apply", "Lightning", kSmall, dir_ / "set.png", "--set", "Arc Thickness=75", "-q"}, ""), 0);
  EXPECT_EQ(Bytes(dir_ / "dialog.png"), Bytes(dir_ / "set.png")) << "OK renders the effect switched to";
}

// A 4000 x 3000 picture, smooth with some detail, for the effects to work on.
void WriteLargeImage(const fs::path& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 4000;
  image.height = 3000;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(size_t(image.width) * image.height * 3);
  for (size_t y = 0; y < image.height; ++y)
    for (size_t x = 0; x < image.width; ++x) {
      png_byte* p = &rgb[(y * image.width + x) * 3];
      p[0] = png_byte(x * 255 / image.width);
      p[1] = png_byte(y * 255 / image.height);
      p[2] = png_byte(128 + 100 * std::sin(double(x) / 37.0) * std::cos(double(y) / 53.0));
    }
  ASSERT_TRUE(png_image_write_to_file(&image, file.c_str(), 0, rgb.data(), 0, nullptr)) << image.message;
}

// The window opens where the user left it, and the preview follows a
// slider's drag at once. The times are reported, not judged: a unit test
// is no place for a stopwatch.
TEST_F(KalveroDialog, TheWindowKeepsItsPlaceAndThePreviewFollowsADrag) {
  const fs::path large = dir_ / "large.png";
  WriteLargeImage(large);
  ASSERT_EQ(Kalvero({"apply", "Television", large, dir_ / "out.png", "--dialog", "-q"},
                    "wait-preview; place 40,30,1100,700; drag Curvature=0.7; wait-preview; release Curvature;"
                    "drag Static=0.3; wait-preview; release Static; cancel"),
            130)
      << log_;
  const std::regex timing("preview shown (\\d+) ms after the pointer rested; longest stall (\\d+) ms");
  int drags = 0;
  for (auto it = std::sregex_iterator(log_.begin(), log_.end(), timing); it != std::sregex_iterator(); ++it, ++drags)
    std::cout << "[ TIMING   ] 4000 x 3000, Television at the opening zoom: first preview " << (*it)[1]
              << " ms after the pointer rested; the window's loop stalled at most " << (*it)[2] << " ms\n";
  EXPECT_EQ(drags, 2) << log_;

  EXPECT_EQ(Kalvero({"apply", "Television", kSmall, dir_ / "out.png", "--dialog", "-q"},
                    "expect window=40,30,1100,700; cancel"),
            130)
      << log_;
}

}  // namespace
}  // namespace kv::toolkit::test
