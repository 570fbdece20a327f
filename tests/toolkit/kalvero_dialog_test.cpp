// kalvero apply --dialog with the real toolkit, on a private X server: a
// slider moved in the dialog gives the picture that value gives without it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/toolkit/x_server.h"

extern char** environ;

namespace kv::toolkit::test {
namespace {

namespace fs = std::filesystem;

const fs::path kArtefacts = KV_ARTEFACT_DIR;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// kalvero's exit code; its output goes to `log`.
int Kalvero(std::vector<std::string> args, const std::string& script, const fs::path& log) {
  setenv("KALVERO_TOOLKIT_SCRIPT", script.c_str(), 1);
  args.insert(args.begin(), KV_KALVERO);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid;
  const int err = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (err != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KalveroDialog, ASliderMovedInTheDialogRendersAsThatValueDoes) {
  if (std::string(KV_KALVERO).empty()) GTEST_SKIP() << "kalvero is not built";
  if (!XServer::Shared().Running()) GTEST_SKIP() << "no X display and no Xvfb";
  const fs::path in = fs::path(KV_SAMPLE_DIR) / "landscape-small.png";
  ASSERT_TRUE(fs::exists(in));
  const fs::path dir = kArtefacts / "kalvero-dialog";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // The Last Used setting OK stores goes here, not to the user's.
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  // Under the sanitizers: GTK's caches are not our leaks.
  std::ofstream(dir / "gtk.supp") << kGtkLeaks;
  setenv("LSAN_OPTIONS", ("suppressions=" + (dir / "gtk.supp").string()).c_str(), 1);

  const fs::path shot = kArtefacts / "kalvero-dialog.png";
  fs::remove(shot);
  ASSERT_EQ(Kalvero({"apply", "Television", in, dir / "dialog.png", "--dialog", "-q"},
                    "wait-preview; set Curvature=100; wait-preview; screenshot " + shot.string() + "; ok",
                    dir / "dialog.log"),
            0)
      << Bytes(dir / "dialog.log");
  ASSERT_EQ(Kalvero({"apply", "Television", in, dir / "set.png", "--set", "Curvature=100", "-q"}, "", dir / "set.log"), 0);
  ASSERT_EQ(Kalvero({"apply", "Television", in, dir / "default.png", "-q"}, "", dir / "default.log"), 0);
  const std::string dialog = Bytes(dir / "dialog.png");
  EXPECT_EQ(dialog, Bytes(dir / "set.png"));
  EXPECT_NE(dialog, Bytes(dir / "default.png"));
  EXPECT_NE(dialog, Bytes(in));
  EXPECT_GT(fs::file_size(shot), 1000u);

  // Cancel after a change writes nothing.
  EXPECT_EQ(Kalvero({"apply", "Television", in, dir / "cancelled.png", "--dialog", "-q"},
                    "set Curvature=10; wait-preview; cancel", dir / "cancel.log"),
            130);
  EXPECT_FALSE(fs::exists(dir / "cancelled.png"));
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("LSAN_OPTIONS");
}

}  // namespace
}  // namespace kv::toolkit::test
