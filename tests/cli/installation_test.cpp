// kalvero as a user installs it: under any prefix and still after being
// moved, with a manual that describes every command and option and a shell
// completion that follows the core in hand.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'"; }

TEST(Installation, AMovedInstallationFindsItsCoreToolkitManualAndCompletion) {
  ScratchFolder dir;
  const Outcome installed =
      RunCommand(std::string(KV_CMAKE) + " --install " KV_BUILD_DIR " --component kalvero --prefix " +
                 (dir / "first").string());
  ASSERT_EQ(installed.status, 0) << installed.output;
  fs::rename(dir / "first", dir / "moved");
  const fs::path moved = dir / "moved";
  const std::string kalvero = "env -u KALVERO_CORE XDG_CONFIG_HOME=" + (dir / "config").string() + " " +
                              (moved / "bin" / "kalvero").string() + " ";

  const Outcome version = RunCommand(kalvero + "--version");
  ASSERT_EQ(version.status, 0) << version.output;
  const fs::path lib = moved / "lib" / "kalvero";
  EXPECT_NE(version.output.find("core    " KALVERO_VERSION "  " + (lib / "libkalvero-core.so").string()),
            std::string::npos)
      << version.output;
  if (KV_HAVE_TOOLKIT) {
    EXPECT_NE(version.output.find("toolkit " KALVERO_VERSION "  " + (lib / "libkalvero-toolkit.so").string()),
              std::string::npos)
        << version.output;
  }
  const Outcome applied =
      RunCommand(kalvero + "apply tele " KV_SAMPLE_DIR "/landscape-small.png " + (dir / "tv.jpg").string() + " -q");
  EXPECT_EQ(applied.status, 0) << applied.output;
  EXPECT_TRUE(fs::exists(lib / "Kalvero2-Television.so"));
  EXPECT_TRUE(fs::exists(moved / "share" / "man" / "man1" / "kalvero.1.gz"));

  // The completion as bash runs it, asking the kalvero that was moved.
  const Outcome completed =
      RunCommand("bash -c " + Quoted("source " + (moved / "share/bash-completion/completions/kalvero").string() +
                                     "; COMP_LINE='kalvero params tele'; COMP_POINT=${#COMP_LINE};"
                                     " COMP_WORDS=(" +
                                     (moved / "bin/kalvero").string() +
                                     " params tele); COMP_CWORD=2; _kalvero; echo \"${COMPREPLY[*]}\""));
  EXPECT_EQ(completed.output, "Television\n");
}

std::vector<std::string> Completions(const std::string& line) {
  std::vector<std::string> lines;
  std::istringstream text(RunKalvero("complete " + Quoted(line)).output);
  for (std::string word; std::getline(text, word);) lines.push_back(word);
  return lines;
}

TEST(Completion, FollowsTheCommandLineAndTheCoreInHand) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(Completions("kalvero "), (Words{"words", "list", "about", "params", "settings", "apply"}));
  EXPECT_EQ(Completions("kalvero settings s"), (Words{"words", "save", "show"}));
  EXPECT_EQ(Completions("kalvero apply tele --ju"), (Words{"words"}));
  EXPECT_EQ(Completions("kalvero apply 13 in.png --jo"), (Words{"words", "--jobs"}));
  EXPECT_EQ(Completions("kalvero apply burnt"), (Words{"words", "Burnt\\ Edges"}));
  EXPECT_EQ(Completions("kalvero --core " KV_VARIANT_CORE " params elec"), (Words{"words"}));
  // Names with spaces, as the shell will take them: escaped, or inside the
  // quote the user opened.
  EXPECT_EQ(Completions("kalvero apply tv --set Scanline\\ T"), (Words{"words"}));
  EXPECT_EQ(Completions("kalvero apply television --set Scanline\\ T"), (Words{"words", "Scanline\\ Thickness="}));
  EXPECT_EQ(Completions("kalvero apply television x.png --set \"scanline t"), (Words{"words", "Scanline Thickness="}));
  EXPECT_EQ(Completions("kalvero settings show Television lost"), (Words{"words", "Lost\\ Signal"}));
  EXPECT_EQ(Completions("kalvero settings delete Television lost"), (Words{"words"})) << "not one of the user's";
  EXPECT_EQ(Completions("kalvero apply television in.png "), (Words{"files"}));
  EXPECT_EQ(Completions("kalvero apply television --output-dir "), (Words{"folders"}));
}

TEST(Manual, DescribesEveryCommandAndOption) {
  std::ifstream file(KV_MANUAL);
  std::stringstream text;
  text << file.rdbuf();
  const std::string manual = std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
  for (const std::string command : {"", "list", "params", "apply", "about", "settings", "settings list",
                                    "settings save", "settings rename", "settings delete", "settings show"}) {
    if (!command.empty()) {
      EXPECT_TRUE(std::regex_search(manual, std::regex("\n\\.BI? \"?" + command + "\\b"))) << command;
    }
    std::istringstream help(RunKalvero(command + " --help").output);
    for (std::string line; std::getline(help, line);) {
      std::smatch option;
      if (std::regex_search(line, option, std::regex(R"(^  (-\w,)?(--[a-z-]+))"))) {
        EXPECT_NE(manual.find(option[2].str()), std::string::npos) << option[2] << " of kalvero " << command;
      }
    }
  }
}

}  // namespace
}  // namespace kv::cli::test
