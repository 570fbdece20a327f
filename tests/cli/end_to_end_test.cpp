// kalvero's apply from file to file, through the real entry point and the
// real host code, with the inverting effect made for the tests.
#include <gtest/gtest.h>

#include <fstream>

#include "effects/filter_table.h"
#include "entry/dialog_hook.h"
#include "entry/entry.h"
#include "hosts/cli/apply_command.h"
#include "hosts/cli/filter_host.h"
#include "hosts/cli/image_files.h"
#include "hosts/cli/interrupt.h"
#include "platform/system.h"
#include "tests/cli/test_support.h"
#include "tests/framework/test_effect.h"
#include "tests/ui/scripted_dialog.h"

namespace kv::cli::test {
namespace {

using kv::test::InvertEffect;
using kv::test::kTestEffect;

class Apply : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
    SetFilterFactoryOverride([this](int32_t id) -> std::unique_ptr<Filter> {
      if (id != kTestEffect) return nullptr;
      auto effect = std::make_unique<Effect>(this);
      effect->onePiece = tileSize == 0;
      if (tileSize > 0) effect->tileSize = tileSize;
      effect->failWith = failWith;
      return effect;
    });
    options.effect = kTestEffect;
    options.quiet = true;
    // Each apply keeps its values as Last Used: never in the user's own folder.
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  }
  void TearDown() override {
    SetFilterFactoryOverride(nullptr);
    SetInterrupted(false);
    unsetenv("XDG_CONFIG_HOME");
  }

  // Inverts, and can play Ctrl-C after a number of tiles.
  struct Effect : InvertEffect {
    explicit Effect(Apply* t) : test(t) {}
    int32_t Render(RenderContext& c) override {
      if (++test->tilesRendered == test->interruptAfter) SetInterrupted(true);
      return InvertEffect::Render(c);
    }
    Apply* test;
  };

  int Run(const Document& in, const std::string& inName = "in.png", const std::string& outName = "out.png") {
    options.input = (dir / inName).string();
    options.output = (dir / outName).string();
    WriteImage(in, options.input);
    return RunApply(options, &kv::EntryPoint);
  }
  Document Output(const std::string& name = "out.png") {
    return ReadImage(dir / name, [](const std::string&) {});
  }

  ScratchFolder dir;
  ApplyOptions options;
  int tileSize = 0, failWith = 0, tilesRendered = 0, interruptAfter = -1;
};

TEST_F(Apply, InvertsInEveryModeAndKeepsTheFile) {
  for (auto [mode, name] : {std::pair{Mode::Grey, "g.tif"}, {Mode::RGB, "c.tif"}, {Mode::CMYK, "k.tif"},
                            {Mode::Lab, "l.tif"}}) {
    const Document in = Pattern(31, 17, mode, false);
    ASSERT_EQ(Run(in, name, std::string("out-") + name), kExitOk) << name;
    const Document out = Output(std::string("out-") + name);
    ASSERT_EQ(out.mode, mode);
    EXPECT_EQ(out.xResolution, in.xResolution);
    for (size_t i = 0; i < in.pixels.size(); ++i) ASSERT_EQ(out.pixels[i], 255 - in.pixels[i]) << name << " " << i;
  }
}

TEST_F(Apply, OddTilesCoverTheImageOnce) {
  tileSize = 7;
  const Document in = Pattern(53, 29, Mode::RGB, false);
  ASSERT_EQ(Run(in), kExitOk);
  const Document out = Output();
  for (size_t i = 0; i < in.pixels.size(); ++i) ASSERT_EQ(out.pixels[i], 255 - in.pixels[i]) << i;
  EXPECT_EQ(tilesRendered, 8 * 5);
}

TEST_F(Apply, SelectionKeepsTheOutsideAndBlendsSoftEdges) {
  const Document in = Pattern(40, 20, Mode::RGB, false);
  Document mask(40, 20, Mode::Grey, false);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 40; ++x) mask.Row(y)[x] = x < 10 ? 0 : x < 20 ? 128 : 255;
  WriteImage(mask, dir / "mask.png");
  options.selection = (dir / "mask.png").string();
  ASSERT_EQ(Run(in), kExitOk);
  const Document out = Output();
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) {
        const int before = in.Row(y)[x * 3 + c], after = out.Row(y)[x * 3 + c];
        if (x < 10) ASSERT_EQ(after, before) << x << "," << y;
        else if (x >= 20) ASSERT_EQ(after, 255 - before) << x << "," << y;
        else ASSERT_NEAR(after, before + (255 - 2 * before) * 128 / 255, 1) << x << "," << y;
      }
}

// The effect keeps each pixel's alpha, and the layer's transparency is laid
// over it: transparent pixels stay transparent, the rest multiply.
TEST_F(Apply, LayerTransparencyBoundsTheResult) {
  Document in = Pattern(16, 16, Mode::RGB, true);
  for (int32_t y = 0; y < 16; ++y) in.Row(y)[3] = 0;  // a transparent column
  ASSERT_EQ(Run(in), kExitOk);
  const Document out = Output();
  ASSERT_TRUE(out.hasAlpha);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const int alpha = in.Row(y)[x * 4 + 3];
      ASSERT_EQ(out.Row(y)[x * 4 + 3], alpha * alpha / 255) << x << "," << y;
      if (alpha > 0) {
        ASSERT_EQ(out.Row(y)[x * 4], 255 - in.Row(y)[x * 4]) << x << "," << y;
      }
    }
}

TEST_F(Apply, ValuesOnTheCommandLineAndRecordedOnesGiveTheSameImage) {
  const Document in = Pattern(24, 24, Mode::RGB, false);
  options.sets = {"strength=50"};
  options.record = (dir / "values.json").string();
  ASSERT_EQ(Run(in), kExitOk);
  const std::vector<uint8_t> first = ReadBytes(dir / "out.png");
  EXPECT_NEAR(Output().pixels[0], in.pixels[0] + (255 - 2 * in.pixels[0]) / 2, 1);

  options.sets.clear();
  options.record.clear();
  options.script = (dir / "values.json").string();
  ASSERT_EQ(Run(in, "in.png", "again.png"), kExitOk);
  EXPECT_EQ(ReadBytes(dir / "again.png"), first);

  // A value given with the script wins over the script's own.
  options.sets = {"Strength=100"};
  ASSERT_EQ(Run(in, "in.png", "full.png"), kExitOk);
  EXPECT_EQ(Output("full.png").pixels[0], 255 - in.pixels[0]);

  // The last apply's values come back as the setting "Last Used".
  options.sets.clear();
  options.script.clear();
  options.settings = "last used";
  ASSERT_EQ(Run(in, "in.png", "last.png"), kExitOk);
  EXPECT_EQ(Output("last.png").pixels[0], 255 - in.pixels[0]);
  options.settings = "Nonesuch";
  EXPECT_EQ(Run(in, "in.png", "none.png"), kExitUsage);
}

TEST_F(Apply, FailuresWriteNothing) {
  const Document in = Pattern(30, 30, Mode::RGB, false);
  options.sets = {"Strength=lots"};
  EXPECT_EQ(Run(in), kExitUsage);
  options.sets = {"Sparkle=3"};
  EXPECT_EQ(Run(in), kExitUsage);
  options.sets.clear();

  failWith = kErrOutOfMemory;
  EXPECT_EQ(Run(in), kExitEffect);
  failWith = 0;

  tileSize = 10;
  interruptAfter = 3;
  EXPECT_EQ(Run(in), kExitCancelled);
  EXPECT_LT(tilesRendered, 9) << "the render stopped at the next poll";
  SetInterrupted(false);

  WriteBytes(dir / "broken.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0});
  options.input = (dir / "broken.png").string();
  EXPECT_EQ(RunApply(options, &kv::EntryPoint), kExitFile);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"broken.png", "in.png"})) << "no output, no settings";
}

// --dialog: the dialog's OK renders and records its values, its Cancel
// writes nothing; without the option no dialog shows.
TEST_F(Apply, TheDialogsOkRendersItsValuesAndCancelWritesNothing) {
  const Document in = Pattern(24, 16, Mode::RGB, false);
  int dialogs = 0;
  int32_t command = kCommandOK;
  kv::test::CurrentDialogScript() = [&](toolkit::DialogSession& s, kv::test::RecordingWindow& w) {
    ++dialogs;
    EXPECT_EQ(s.SetValue(0, "30"), "");
    s.Command(command);
    return w.Answer();
  };
  SetDialogRunner(&kv::test::ScriptedDialogRunner);
  ASSERT_EQ(Run(in), kExitOk);
  EXPECT_EQ(dialogs, 0);

  options.dialog = true;
  options.record = (dir / "values.json").string();
  ASSERT_EQ(Run(in, "in.png", "ok.png"), kExitOk);
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(Output("ok.png").pixels[0], uint8_t(in.pixels[0] + (255 - 2 * in.pixels[0]) * 0.3));

  options.record.clear();
  command = kCommandCancel;
  EXPECT_EQ(Run(in, "in.png", "cancelled.png"), kExitCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir / "cancelled.png"));

  // The recorded values play back without the dialog to the same picture.
  options.dialog = false;
  options.script = (dir / "values.json").string();
  ASSERT_EQ(Run(in, "in.png", "played.png"), kExitOk);
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(ReadBytes(dir / "played.png"), ReadBytes(dir / "ok.png"));

  // A dialog that cannot be shown ends the run with the reason on stderr.
  SetDialogRunner(+[](ps::FilterRecord& h, RunRecord& r, std::span<uint8_t> b) {
    return RunDialogWith([](toolkit::DialogSession&) { return toolkit::kNoDisplay; }, h, r, b);
  });
  options.dialog = true;
  options.script.clear();
  EXPECT_EQ(Run(in, "in.png", "none.png"), kExitEffect);
  EXPECT_FALSE(std::filesystem::exists(dir / "none.png"));
  SetDialogRunner(nullptr);
}

TEST(FilterHostResults, AHostErrorFromTheEffectComesBack) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  SetFilterFactoryOverride([](int32_t) -> std::unique_ptr<Filter> {
    auto effect = std::make_unique<InvertEffect>();
    effect->failWith = kErrOutOfMemory;
    return effect;
  });
  Document doc = Pattern(8, 8, Mode::RGB, false);
  const std::vector<uint8_t> before = doc.pixels;
  FilterHost host(doc, &kv::EntryPoint, kTestEffect);
  EXPECT_EQ(host.Run(false), ps::memFullErr);
  EXPECT_EQ(doc.pixels, before);
  SetFilterFactoryOverride(nullptr);
}

// Positions typed in pixels are fractions of this area, so it must be the
// one the core will find.
TEST(FilterHostResults, TheWorkingAreaIsTheSelectionElseTheVisibleLayer) {
  Document layer = Pattern(20, 10, Mode::RGB, true);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 20; ++x) layer.Row(y)[x * 4 + 3] = (x >= 3 && x < 9 && y >= 2 && y < 7) ? 40 : 0;
  FilterHost host(layer, &kv::EntryPoint, kTestEffect);
  EXPECT_EQ(host.WorkingArea(), (Rect{3, 2, 9, 7}));

  std::vector<uint8_t> mask(20 * 10, 0);
  mask[4 * 20 + 15] = mask[8 * 20 + 17] = 255;
  host.SetSelection(mask);
  EXPECT_EQ(host.WorkingArea(), (Rect{15, 4, 18, 9}));

  Document flat = Pattern(20, 10, Mode::Grey, false);
  EXPECT_EQ(FilterHost(flat, &kv::EntryPoint, kTestEffect).WorkingArea(), (Rect{0, 0, 20, 10}));
}

}  // namespace
}  // namespace kv::cli::test
