// kalvero's apply from file to file, with the built core loaded as kalvero
// loads it and the values handed over as a script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "hosts/cli/apply_command.h"
#include "hosts/cli/image_files.h"
#include "hosts/cli/interrupt.h"
#include "hosts/common/filter_host.h"
#include "tests/cli/test_support.h"

namespace kv::cli::test {
namespace {

using host::FilterHost;

class Apply : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { core = new CoreLibrary(KV_CORE); }
  static void TearDownTestSuite() { delete core; }

  void SetUp() override {
    options.effect = "television";
    options.quiet = true;
    // Each apply keeps its values as Last Used: never in the user's own folder.
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  }
  void TearDown() override {
    SetInterrupted(false);
    ::unsetenv("XDG_CONFIG_HOME");
  }

  int Run(const Document& in, const std::string& inName = "in.png", const std::string& outName = "out.png") {
    options.input = (dir / inName).string();
    options.output = (dir / outName).string();
    WriteImage(in, options.input);
    return RunApply(options, *core);
  }
  Document Output(const std::string& name = "out.png") {
    return ReadImage(dir / name, [](const std::string&) {});
  }
  void Script(const std::string& name, const std::string& json) { std::ofstream(dir / name) << json; }

  static inline CoreLibrary* core = nullptr;
  ScratchFolder dir;
  ApplyOptions options;
};

TEST_F(Apply, KeepsEveryModeAndLeavesWhatIsNotSelected) {
  for (auto [mode, name] : {std::pair{Mode::Grey, "g.tif"}, {Mode::RGB, "c.tif"}, {Mode::CMYK, "k.tif"},
                            {Mode::Lab, "l.tif"}}) {
    const Document in = Pattern(31, 17, mode, false);
    ASSERT_EQ(Run(in, name, std::string("out-") + name), kExitOk) << name;
    const Document out = Output(std::string("out-") + name);
    EXPECT_EQ(out.mode, mode);
    EXPECT_EQ(out.xResolution, in.xResolution);
    EXPECT_NE(out.pixels, in.pixels) << name;
  }

  options.effect = "rirazi";
  const Document in = Pattern(40, 20, Mode::RGB, false);
  Document mask(40, 20, Mode::Grey, false);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 40; ++x) mask.Row(y)[x] = x < 10 ? 0 : 255;
  WriteImage(mask, dir / "mask.png");
  options.selection = (dir / "mask.png").string();
  ASSERT_EQ(Run(in), kExitOk);
  const Document out = Output();
  int changed = 0;
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 40 * 3; ++x) {
      if (x < 30) ASSERT_EQ(out.Row(y)[x], in.Row(y)[x]) << x / 3 << "," << y;
      else changed += out.Row(y)[x] != in.Row(y)[x];
    }
  EXPECT_GT(changed, 20 * 30 * 3 / 2);
}

TEST_F(Apply, RecordedScriptsAndLastUsedRepeatARunExactly) {
  const Document in = Pattern(48, 32, Mode::RGB, false);
  options.sets = {"Curvature=80", "Scanline Thickness=0.1 cm"};
  options.seed = 7;
  options.record = (dir / "values.json").string();
  ASSERT_EQ(Run(in), kExitOk);
  const std::vector<uint8_t> first = ReadBytes(dir / "out.png");

  options = ApplyOptions();
  options.effect = "13";
  options.quiet = true;
  options.script = (dir / "values.json").string();
  ASSERT_EQ(Run(in, "in.png", "again.png"), kExitOk);
  EXPECT_EQ(ReadBytes(dir / "again.png"), first);
  // A value given with the script wins over the script's own.
  options.sets = {"Curvature=10"};
  ASSERT_EQ(Run(in, "in.png", "flatter.png"), kExitOk);
  EXPECT_NE(ReadBytes(dir / "flatter.png"), first);

  options.script.clear();
  options.sets.clear();
  options.settings = "last used";
  ASSERT_EQ(Run(in, "in.png", "last.png"), kExitOk);
  EXPECT_EQ(ReadBytes(dir / "last.png"), ReadBytes(dir / "flatter.png"));
  options.settings = "Nonesuch";
  EXPECT_EQ(Run(in, "in.png", "none.png"), kExitUsage);
}

TEST_F(Apply, BadValuesScriptsAndFilesAreRefusedAndNothingIsWritten) {
  const Document in = Pattern(30, 30, Mode::RGB, false);
  for (const std::string set : {"Curvature=lots", "Sparkle=3", "Curvature"}) {
    options.sets = {set};
    EXPECT_EQ(Run(in), kExitUsage) << set;
  }
  options.sets.clear();
  // Every key checked against the description before the core sees any.
  for (const std::string json : {R"({"TEcu": {"type": "text", "value": "lots"}})",
                                 R"({"RndS": {"type": "integer", "value": 70000}})",
                                 R"({"TEsc": {"type": "text", "value": "#ff0000"}})",
                                 R"({"TEgo": {"type": "float", "value": 101}})"}) {
    Script("bad.json", json);
    options.script = (dir / "bad.json").string();
    EXPECT_EQ(Run(in), kExitUsage) << json;
  }
  options.script = (dir / "missing.json").string();
  EXPECT_EQ(Run(in), kExitFile);
  options.script.clear();

  SetInterrupted(true);
  EXPECT_EQ(Run(in), kExitCancelled);
  SetInterrupted(false);

  WriteBytes(dir / "broken.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0});
  options.input = (dir / "broken.png").string();
  EXPECT_EQ(RunApply(options, *core), kExitFile);
  EXPECT_EQ(dir.Names().size(), 3u) << "only in.png, bad.json and broken.png";

  // An effect that takes no CMYK image says so, as an editor greys it out.
  options.effect = "shatter";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run(Pattern(30, 30, Mode::CMYK, false), "k.tif", "k-out.tif"), kExitEffect);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("CMYK"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "k-out.tif"));
  options.effect = "television";

  // A key the effect does not have is no reason to refuse the rest.
  Script("extra.json", R"({"XXXX": {"type": "integer", "value": 1}, "TEcu": {"type": "float", "value": 0}})");
  options.script = (dir / "extra.json").string();
  EXPECT_EQ(Run(in), kExitOk);
}

TEST_F(Apply, AHiddenTileSizeCutsTheRenderAndChangesNoPixel) {
  const Document in = Pattern(48, 32, Mode::RGB, false);
  ASSERT_EQ(Run(in), kExitOk);
  options.tileSize = 13;
  ASSERT_EQ(Run(in, "in.png", "tiled.png"), kExitOk);
  EXPECT_EQ(Output("tiled.png").pixels, Output().pixels);

  // The core asks and gets 4 x 3 tiles: its progress counts a thousand a tile.
  std::string why;
  Document document = in;
  FilterHost host(document, core->Entry(), core->Find("television", why)->description.number);
  host.SetTileSize(13);
  int32_t total = 0;
  host.hooks.progress = [&total](int32_t, int32_t t) { total = t; };
  ASSERT_EQ(host.Run(false), 0);
  EXPECT_EQ(total, 12 * 1000);

  const Outcome help = RunKalvero("apply --help");
  EXPECT_EQ(help.output.find("tile"), std::string::npos) << help.output;
  EXPECT_EQ(RunKalvero("apply television in.png out.png --tile-size 0").status, kExitUsage);
}

// Positions typed in pixels are fractions of this area, so it must be the
// one the core will find.
TEST(FilterHostResults, TheWorkingAreaIsTheSelectionElseTheVisibleLayer) {
  Document layer = Pattern(20, 10, Mode::RGB, true);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 20; ++x) layer.Row(y)[x * 4 + 3] = (x >= 3 && x < 9 && y >= 2 && y < 7) ? 40 : 0;
  FilterHost host(layer, nullptr, 0);
  EXPECT_EQ(host.WorkingArea(), (Rect{3, 2, 9, 7}));

  std::vector<uint8_t> mask(20 * 10, 0);
  mask[4 * 20 + 15] = mask[8 * 20 + 17] = 255;
  host.SetSelection(mask);
  EXPECT_EQ(host.WorkingArea(), (Rect{15, 4, 18, 9}));

  Document flat = Pattern(20, 10, Mode::Grey, false);
  EXPECT_EQ(FilterHost(flat, nullptr, 0).WorkingArea(), (Rect{0, 0, 20, 10}));
}

}  // namespace
}  // namespace kv::cli::test
