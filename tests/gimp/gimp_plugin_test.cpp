// kalvero-gimp inside GIMP: installed as `cmake --install` lays it out,
// driven by one Script-Fu batch in one gimp-console-2.10 process (every
// file load, save and plug-in call there is a process of its own), and its
// pictures compared with those of kalvero apply on the same pixels.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "hosts/cli/image_files.h"
#include "tests/cli/test_support.h"
#include "tests/toolkit/x_server.h"

namespace kv::cli::test {
namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::path(KV_ARTEFACT_DIR) / "run";

// The effects the cases below leave out, each run once with its defaults
// through the feathered selection.
constexpr const char* kSmokeEffects[] = {"classic-mosaic", "constellation", "cracks", "crumple", "electrify",
                                         "flag",           "puzzle",        "rip-open", "shatter", "stain"};

std::string FindGimp() {
  std::istringstream dirs(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (access((fs::path(dir) / "gimp-console-2.10").c_str(), X_OK) == 0) return fs::path(dir) / "gimp-console-2.10";
  return {};
}

// `command` run by the shell, its output in `log`; the exit status.
int Shell(const std::string& command, const fs::path& log) {
  const int status = std::system((command + " >'" + log.string() + "' 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Text(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What the batch does, case by case: each writes "NAME ok" or "NAME failed:
// MESSAGE" into the status file, and its picture into NAME.png.
constexpr const char* kScript = R"scm(
(define dir (car (cdr (assoc "dir" settings))))
(define status (open-output-file (string-append dir "/status.txt")))
(define (note . xs) (for-each (lambda (x) (display x status)) xs) (newline status))
(define last-error "")
(define hook *error-hook*)
(set! *error-hook* (lambda (m . rest) (set! last-error m) (hook m)))
(define (file name) (string-append dir "/" name))
(define (open name) (car (gimp-file-load RUN-NONINTERACTIVE (file name) name)))
(define (layer img) (car (gimp-image-get-active-drawable img)))
(define (save img name)
  (file-png-save2 RUN-NONINTERACTIVE img (layer img) (file name) name 0 1 0 0 0 0 0 0 1))
(define (copy img) (car (gimp-image-duplicate img)))
(define (try name thunk)
  (set! last-error "")
  (note name (if (catch #f (thunk) #t) " ok" (string-append " failed: " last-error))))
(define (run name img proc mode text)
  (try name (lambda () (proc mode img (layer img) text) (save img (string-append name ".png")))))
(define (save-selection img name)
  (gimp-edit-copy (car (gimp-image-get-selection img)))
  (save (car (gimp-edit-paste-as-new-image)) name))

(note "procedures " (car (gimp-procedural-db-query "plug-in-kalvero-.*" "" "" "" "" "" "")))
(define rgb (open "rgb.png"))
(define grey (open "grey.png"))
(define rgba (open "rgba.png"))
(for-each
  (lambda (source)
    (run (string-append (car source) "-television") (copy (cdr source)) plug-in-kalvero-television
         RUN-NONINTERACTIVE "Curvature=80; Random Seed=7")
    (run (string-append (car source) "-lightning") (copy (cdr source)) plug-in-kalvero-lightning
         RUN-NONINTERACTIVE "Start=10,5
End=50,40")
  )
  (list (cons "rgb" rgb) (cons "grey" grey) (cons "rgba" rgba)))

(define oval (copy rgb))
(gimp-image-select-ellipse oval CHANNEL-OP-REPLACE 12 9 72 54)
(gimp-selection-feather oval 16)
(save-selection oval "mask.png")
(define oval2 (copy oval))
(for-each
  (lambda (effect)
    (run (string-append "smoke-" effect) (copy oval)
         (eval (string->symbol (string-append "plug-in-kalvero-" effect))) RUN-NONINTERACTIVE ""))
  smoke-effects)
(run "oval-television" oval plug-in-kalvero-television RUN-NONINTERACTIVE "Random Seed=7")
(run "oval-burnt-edges" oval2 plug-in-kalvero-burnt-edges RUN-NONINTERACTIVE "Burn Width=6")
(save-selection oval "mask-after.png")

(run "unparsable" (copy rgb) plug-in-kalvero-television RUN-NONINTERACTIVE "Curvature=abc")
(define indexed (copy rgb))
(gimp-image-convert-indexed indexed CONVERT-DITHER-NONE CONVERT-PALETTE-WEB 0 FALSE FALSE "")
(run "indexed" indexed plug-in-kalvero-television RUN-NONINTERACTIVE "")

(run "first" (copy rgb) plug-in-kalvero-television RUN-NONINTERACTIVE "Curvature=30; Random Seed=9")
(run "repeat" (copy rgb) plug-in-kalvero-television RUN-WITH-LAST-VALS "")

(if (equal? (car (cdr (assoc "dialog" settings))) "yes")
  (run "dialog" (copy rgb) plug-in-kalvero-rirazi-vevora-didura RUN-INTERACTIVE ""))
(close-output-port status)
)scm";

class GimpBatch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string gimp = FindGimp();
    if (gimp.empty()) return;
    fs::remove_all(kDir);
    fs::create_directories(kDir);
    // The plug-in folder as installed, under a staging root.
    const fs::path root = kDir / "install";
    ASSERT_EQ(Shell("DESTDIR='" + root.string() + "' cmake --install '" KV_BUILD_DIR "' --component gimp",
                    kDir / "install.log"),
              0)
        << Text(kDir / "install.log");
    const fs::path plugins = (root / fs::path(KV_PLUGIN_FOLDER).relative_path()).parent_path();
    ASSERT_TRUE(fs::exists(plugins / "kalvero-gimp" / "kalvero-gimp")) << plugins;

    // kalvero applying Shatter keeps Mesa's lifelong state, which the leak
    // checker would count; here kalvero only draws the expected pictures.
    const char* asan = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);

    WriteImage(Pattern(96, 72, Mode::RGB, false), kDir / "rgb.png");
    WriteImage(Pattern(96, 72, Mode::Grey, false), kDir / "grey.png");
    WriteImage(Pattern(96, 72, Mode::RGB, true), kDir / "rgba.png");

    // GIMP's own plug-ins stay on the path: Script-Fu's batch mode and the
    // PNG files are theirs.
    std::ofstream(kDir / "gimprc") << "(plug-in-path \"" << plugins.string() << ":${gimp_plug_in_dir}/plug-ins\")\n";
    dialog = toolkit::test::XServer::Shared().Running();
    std::string smoke;
    for (const char* effect : kSmokeEffects) smoke += std::string(" \"") + effect + '"';
    std::ofstream(kDir / "batch.scm") << "(define settings '((\"dir\" \"" << kDir.string() << "\") (\"dialog\" \""
                                      << (dialog ? "yes" : "no") << "\")))\n(define smoke-effects '(" << smoke
                                      << "))\n"
                                      << kScript;
    const auto started = std::chrono::steady_clock::now();
    const std::string dir = kDir.string();
    // GIMP's libraries keep their caches to the end of a plug-in's life, so
    // leaks are looked for in kalvero's own tests.
    Shell("HOME='" + dir + "/home' GIMP2_DIRECTORY='" + dir + "/profile' XDG_CONFIG_HOME='" + dir +
              "/config' ASAN_OPTIONS=detect_leaks=0 KALVERO_TOOLKIT_SCRIPT='set Coverage=60; wait-preview; "
              "screenshot " +
              dir + "/dialog-shot.png; ok' timeout 600 '" + gimp + "' -i -d -f --gimprc='" + dir +
              "/gimprc' -b '(load \"" + dir + "/batch.scm\")' -b '(gimp-quit 0)'",
          kDir / "gimp.log");
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::istringstream lines(Text(kDir / "status.txt"));
    for (std::string line; std::getline(lines, line);) {
      const size_t space = line.find(' ');
      outcome[line.substr(0, space)] = line.substr(space + 1);
    }
  }

  void SetUp() override {
    if (FindGimp().empty()) GTEST_SKIP() << "gimp-console-2.10 is not installed (scripts/setup installs gimp)";
  }

  // The case's outcome, "ok" or "failed: WHY"; the log when it never ran.
  static std::string Result(const std::string& name) {
    const auto it = outcome.find(name);
    return it != outcome.end() ? it->second : "did not run; GIMP said:\n" + Text(kDir / "gimp.log");
  }

  static Document Picture(const std::string& name) {
    return ReadImage(kDir / (name + ".png"), [](const std::string&) {});
  }

  // kalvero apply on the same input with the same values.
  static Document Kalvero(const std::string& effect, const std::string& input, const std::string& arguments) {
    const fs::path out = kDir / ("kalvero-" + effect + "-" + input + ".png");
    const Outcome o = RunKalvero("apply " + effect + " " + (kDir / (input + ".png")).string() + " " + out.string() +
                                 " -q " + arguments);
    EXPECT_EQ(o.status, 0) << o.output;
    return ReadImage(out, [](const std::string&) {});
  }

  static void ExpectSame(const Document& gimp, const Document& kalvero, const std::string& what) {
    EXPECT_EQ(gimp.mode, kalvero.mode) << what;
    EXPECT_EQ(gimp.hasAlpha, kalvero.hasAlpha) << what;
    EXPECT_TRUE(gimp.pixels == kalvero.pixels) << what << ": GIMP's pixels differ from kalvero's";
  }

  static inline std::map<std::string, std::string> outcome;
  static inline bool dialog = false;
  static inline double seconds = 0;
};

TEST_F(GimpBatch, EveryEffectIsAProcedureAndEachRendersAsKalveroDoes) {
  std::cout << "gimp-console ran the batch in " << seconds << " s\n";
  ::setenv("XDG_CONFIG_HOME", (kDir / "kalvero-config").c_str(), 1);
  const Outcome list = RunKalvero("list");
  size_t effects = 0;
  for (char c : list.output) effects += c == '\n';
  EXPECT_EQ(Result("procedures"), std::to_string(effects));
  for (const std::string input : {"rgb", "grey", "rgba"}) {
    ASSERT_EQ(Result(input + "-television"), "ok");
    ExpectSame(Picture(input + "-television"),
               Kalvero("television", input, "--set Curvature=80 --set \"Random Seed=7\""), input + " television");
    ASSERT_EQ(Result(input + "-lightning"), "ok");
    ExpectSame(Picture(input + "-lightning"), Kalvero("lightning", input, "--set Start=10,5 --set End=50,40"),
               input + " lightning");
  }
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(GimpBatch, AFeatheredSelectionIsBlendedOnceAndStaysAsItWas) {
  ::setenv("XDG_CONFIG_HOME", (kDir / "kalvero-config").c_str(), 1);
  ASSERT_EQ(Result("oval-television"), "ok");
  ASSERT_EQ(Result("oval-burnt-edges"), "ok");
  const std::string mask = "--selection " + (kDir / "mask.png").string();
  const Document tv = Picture("oval-television"), in = ReadImage(kDir / "rgb.png", [](const std::string&) {});
  ExpectSame(tv, Kalvero("television", "rgb", "--set \"Random Seed=7\" " + mask), "television through the oval");
  // Burnt Edges fills beyond the selection's edge, outside its bounds too.
  ExpectSame(Picture("oval-burnt-edges"), Kalvero("burnt", "rgb", "--set \"Burn Width=6\" " + mask),
             "burnt edges along the oval");

  const Document selection = ReadImage(kDir / "mask.png", [](const std::string&) {});
  bool inside = false, outside = true, rim = false;
  for (size_t i = 0; i < selection.pixels.size(); ++i) {
    const uint8_t m = selection.pixels[i];
    const bool same = std::equal(&tv.pixels[3 * i], &tv.pixels[3 * i + 3], &in.pixels[3 * i]);
    inside = inside || (m == 255 && !same);
    outside = outside && (m != 0 || same);
    rim = rim || (m > 0 && m < 255);
  }
  EXPECT_TRUE(inside && outside && rim);
  EXPECT_TRUE(ReadImage(kDir / "mask-after.png", [](const std::string&) {}).pixels == selection.pixels)
      << "the selection changed";
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(GimpBatch, EveryOtherEffectRendersThroughTheSelectionAsKalveroDoes) {
  ::setenv("XDG_CONFIG_HOME", (kDir / "kalvero-config").c_str(), 1);
  for (const std::string effect : kSmokeEffects) {
    EXPECT_EQ(Result("smoke-" + effect), "ok") << effect;
    if (fs::exists(kDir / ("smoke-" + effect + ".png")))
      ExpectSame(Picture("smoke-" + effect),
                 Kalvero(effect, "rgb", "--selection " + (kDir / "mask.png").string()), effect);
  }
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(GimpBatch, WrongValuesAndIndexedImagesAreRefusedSayingWhy) {
  const std::string unparsable = Result("unparsable");
  EXPECT_NE(unparsable.find("invalid input arguments"), std::string::npos) << unparsable;
  EXPECT_NE(unparsable.find("Curvature"), std::string::npos) << unparsable;
  const std::string indexed = Result("indexed");
  EXPECT_NE(indexed.find("indexed"), std::string::npos) << indexed;
}

TEST_F(GimpBatch, RepeatRendersWithTheLastValues) {
  ASSERT_EQ(Result("first"), "ok");
  ASSERT_EQ(Result("repeat"), "ok");
  const Document repeated = Picture("repeat");
  EXPECT_TRUE(repeated.pixels == Picture("first").pixels);
  EXPECT_FALSE(repeated.pixels == Picture("rgb-television").pixels);
}

TEST_F(GimpBatch, TheDialogsOkAppliesTheValuesItShows) {
  if (!dialog) GTEST_SKIP() << "no X display and no Xvfb";
  ::setenv("XDG_CONFIG_HOME", (kDir / "kalvero-config").c_str(), 1);
  ASSERT_EQ(Result("dialog"), "ok");
  ExpectSame(Picture("dialog"), Kalvero("rirazi", "rgb", "--set Coverage=60"), "the dialog's clouds");
  EXPECT_TRUE(fs::exists(kDir / "dialog-shot.png"));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace kv::cli::test
