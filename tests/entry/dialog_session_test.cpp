// The dialog as a toolkit drives it, inside a real run of the entry point:
// a window that only records, a clock the test turns by calling Tick, and
// the test effect telling which thread renders and when.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "effects/burnt_edges/burnt_edges.h"
#include "effects/filter_table.h"
#include "effects/flag/flag.h"
#include "effects/puzzle/puzzle.h"
#include "entry/dialog_hook.h"
#include "host/host_calls.h"
#include "host/run_record.h"
#include "platform/string_table.h"
#include "platform/system.h"
#include "tests/framework/test_effect.h"
#include "tests/support/fake_host.h"
#include "tests/ui/scripted_dialog.h"
#include "ui/dialog_session.h"
#include "ui/kalvero_dialog_model.h"

namespace kv {
namespace {

using test::CurrentDialogScript;
using test::InvertBlock;
using test::RecordingWindow;
using test::TickUntil;

// The advance-state calls and the threads they came on.
ps::AdvanceStateProc realAdvance = nullptr;
std::vector<std::thread::id> advanceThreads;
std::mutex advanceMutex;
ps::OSErr RecordingAdvance() {
  {
    std::lock_guard lock(advanceMutex);
    advanceThreads.push_back(std::this_thread::get_id());
  }
  return realAdvance();
}

constexpr int kWidth = 64, kHeight = 48;

class DialogSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR); }

  DialogSessionTest() : host(kWidth, kHeight, ps::plugInModeRGBColor, 3) {
    for (size_t i = 0; i < host.pixels.size(); ++i) host.pixels[i] = uint8_t(i * 7 % 251);
    original = host.pixels;
    host.descriptorParameters.playInfo = ps::plugInDialogDisplay;  // picked from the menu
    realAdvance = host.record.advanceState;
    host.record.advanceState = &RecordingAdvance;
    advanceThreads.clear();
    // Sized to the effect's block, as a host that keeps only the block hands
    // it back: the dialog's copies, undo, Cancel and settings must stay in it.
    host.record.parameters = host.handleProcs.newProc(int32_t(sizeof(InvertBlock)));
    config = std::filesystem::temp_directory_path() / ("kv-dialog-session-" + std::to_string(::getpid()));
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    SetFilterFactoryOverride([this](int32_t id) -> std::unique_ptr<Filter> {
      if (id != test::kTestEffect && id != otherEffect) return nullptr;
      auto effect = std::make_unique<test::InvertEffect>();
      effect->filterId = id;
      effect->onePiece = tileSize == 0;
      effect->tileSize = tileSize;
      effect->onRender = [this](RenderContext& c) {
        ++renders;
        if (!OnHostThread()) ++previewRenders;
        return onRender ? onRender(c) : 0;
      };
      return effect;
    });
    SetDialogRunner(&test::ScriptedDialogRunner);
  }
  ~DialogSessionTest() override {
    EXPECT_TRUE(test::FakeHost::HandleIntact(host.record.parameters)) << "written past the parameters handle";
    SetDialogRunner(nullptr);
    SetFilterFactoryOverride(nullptr);
    CurrentDialogScript() = nullptr;
    std::filesystem::remove_all(config);
  }

  bool Run() { return host.Run(test::kTestEffect, true); }
  const InvertBlock& Values() {
    return *reinterpret_cast<const InvertBlock*>(host.handleProcs.lockProc(host.record.parameters, false));
  }
  // The inverted pixel at `strength` percent, blended by a selection value.
  uint8_t Expected(size_t i, double strength, int mask = 255) const {
    const uint8_t in = original[i];
    const uint8_t out = uint8_t(in + (255 - 2 * in) * (strength / 100.0));
    return uint8_t(in + (out - in) * mask / 255);
  }
  static void ShowAll(toolkit::DialogSession& s, double zoom = 1.0) {
    s.SetView({0, 0}, zoom, {int32_t(kWidth * zoom), int32_t(kHeight * zoom)});
  }

  test::FakeHost host;
  std::vector<uint8_t> original;
  std::filesystem::path config;
  std::atomic<int> renders{0}, previewRenders{0};
  std::function<int32_t(RenderContext&)> onRender;
  int32_t tileSize = 0;  // 0: one piece
  int32_t otherEffect = -1;  // a second effect the factory makes
};

TEST_F(DialogSessionTest, AChangeDuringARenderStopsItAndOneNewRenderFollows) {
  std::atomic<bool> hold{true};
  onRender = [&](RenderContext& c) {
    while (hold && !c.ShouldAbort()) std::this_thread::yield();
    return 0;
  };
  int shownAfter = -1;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    ShowAll(s);
    EXPECT_TRUE(TickUntil(s, [&] { return renders == 1; })) << "the first tick starts a render";
    EXPECT_EQ(s.SetNumber(0, 40), "");
    hold = false;
    EXPECT_TRUE(TickUntil(s, [&] { return w.shown == 1; }));
    shownAfter = renders;
    toolkit::PreviewFrame frame;
    EXPECT_TRUE(s.Preview(frame, false));
    EXPECT_EQ(frame.size.width, kWidth);
    EXPECT_EQ(frame.rgba[4 * 5], Expected(3 * 5, 40)) << "the new value, not the stopped render's";
    EXPECT_TRUE(s.Preview(frame, true));
    EXPECT_EQ(frame.rgba[4 * 5], original[3 * 5]);
    EXPECT_TRUE(w.errors.empty()) << "a stopped render is no failure";
    s.Command(kCommandCancelButton);
    return w.Answer();
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(shownAfter, 2) << "the stopped render and exactly one more";
}

TEST_F(DialogSessionTest, OkDuringARenderStopsItAndTheRunRendersAfresh) {
  std::atomic<bool> hold{true};
  onRender = [&](RenderContext& c) {
    while (hold && !c.ShouldAbort()) std::this_thread::yield();
    return 0;
  };
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    ShowAll(s);
    EXPECT_TRUE(TickUntil(s, [&] { return renders == 1; }));
    s.SetNumber(0, 30);
    EXPECT_TRUE(TickUntil(s, [&] { return renders == 2; }));
    EXPECT_TRUE(s.Command(kCommandOKButton));
    hold = false;
    EXPECT_EQ(w.shown, 0) << "no partial preview";
    return w.Answer();
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(renders, 3);
  EXPECT_EQ(previewRenders, 2);
  EXPECT_EQ(Values().strength, 30.0);
  for (size_t i = 0; i < host.pixels.size(); i += 97) ASSERT_EQ(host.pixels[i], Expected(i, 30)) << i;
}

// A preview of the whole image at full resolution stands in for the final
// render; one zoomed out, or of part of the image, does not.
TEST_F(DialogSessionTest, OkTakesOverAFinishedFullSizePreview) {
  std::vector<uint8_t> selection(size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) selection[size_t(y) * kWidth + x] = uint8_t(x < 20 ? 0 : x < 30 ? 128 : 255);
  host.SetSelection(selection);
  struct Case {
    double zoom;
    Size view;
    int32_t tileSize;
    int finalRenders;
  };
  for (const Case& c : {Case{1.0, {kWidth, kHeight}, 0, 0}, Case{0.5, {kWidth / 2, kHeight / 2}, 0, 1},
                        Case{1.0, {kWidth / 2, kHeight}, 0, 1}, Case{1.0, {kWidth, kHeight}, 16, 0},
                        Case{0.5, {kWidth / 2, kHeight / 2}, 16, 12}, Case{1.0, {kWidth / 2, kHeight}, 16, 6}}) {
    SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << ", view " << c.view.width << ", tiles " << c.tileSize);
    tileSize = c.tileSize;
    host.pixels = original;
    renders = previewRenders = 0;
    toolkit::PreviewFrame frame;
    CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
      s.SetView({0, 0}, c.zoom, c.view);
      s.SetNumber(0, 60);
      EXPECT_TRUE(TickUntil(s, [&] { return w.shown == 1; }));
      EXPECT_TRUE(s.Preview(frame, false));
      s.Command(kCommandOK);
      return w.Answer();
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(previewRenders, 1);
    EXPECT_EQ(renders - previewRenders, c.finalRenders);
    for (size_t i = 0; i < host.pixels.size(); ++i) {
      const int x = int(i / 3 % kWidth);
      ASSERT_EQ(host.pixels[i], Expected(i, 60, selection[i / 3])) << "pixel " << i / 3 << " at x " << x;
    }
    // The preview shows every n-th pixel of the same result, blended alike.
    const int n = int(1 / c.zoom);
    ASSERT_EQ(frame.zoom, c.zoom);
    ASSERT_EQ(frame.size.width, c.view.width);
    for (int y = 0; y < frame.size.height; ++y)
      for (int x = 0; x < frame.size.width; ++x)
        for (int k = 0; k < 3; ++k) {
          const size_t i = (size_t(y * n) * kWidth + size_t(x * n)) * 3 + size_t(k);
          ASSERT_EQ(frame.rgba[(size_t(y) * frame.size.width + size_t(x)) * 4 + size_t(k)], host.pixels[i])
              << x << "," << y;
        }
  }
}

TEST_F(DialogSessionTest, CancelLeavesTheHostsBlockAsItWasByteForByte) {
  char* handle = host.handleProcs.lockProc(host.record.parameters, false);
  InvertBlock values{test::kTestEffect, 0, 55.5};
  std::memcpy(handle, &values, sizeof values);
  const std::vector<char> before(handle, handle + sizeof values);
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    ShowAll(s);
    EXPECT_EQ(s.SetNumber(0, 10), "");
    EXPECT_TRUE(TickUntil(s, [&] { return w.shown == 1; }));
    EXPECT_EQ(s.SetValue(0, "20"), "");
    EXPECT_EQ(s.Number(0), 20.0);
    EXPECT_NE(s.SetValue(0, "strong"), "") << "not a number";
    EXPECT_EQ(s.Number(0), 20.0);
    s.SetNumber(0, 90);
    s.Command(kCommandUndo);
    EXPECT_EQ(s.Number(0), 20.0);
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.lastResult, 1);
  EXPECT_EQ(std::vector<char>(handle, handle + sizeof values), before);
  EXPECT_EQ(host.pixels, original) << "nothing rendered";
  EXPECT_EQ(renders, previewRenders);
}

TEST_F(DialogSessionTest, TheWorkersHostCallsRunOnTheHostsThread) {
  std::atomic<int16_t> version{-1};
  std::thread::id worker;
  onRender = [&](RenderContext&) {
    worker = std::this_thread::get_id();
    intptr_t simple = 0;
    if (hostcall::GetProperty(ps::kPhotoshopSignature, ps::propVersion, 0, &simple, nullptr) == 0)
      version = int16_t(simple >> 16);
    return 0;
  };
  size_t readsByThePreview = 0;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const size_t before = advanceThreads.size();
    ShowAll(s);
    EXPECT_TRUE(TickUntil(s, [&] { return w.shown == 1; }));
    readsByThePreview = advanceThreads.size() - before;
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(Run());
  EXPECT_GE(readsByThePreview, 1u) << "the preview reads the image through advance state";
  EXPECT_NE(worker, std::this_thread::get_id()) << "the preview renders on a worker";
  for (const auto& id : advanceThreads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(version, 12) << "the property the worker asked for came back";
}

TEST_F(DialogSessionTest, AnEffectsOwnErrorTextIsShown) {
  onRender = [](RenderContext&) {
    std::strcpy(Session().run->errorText, "The lens cracked.");
    return int32_t(-1);
  };
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    ShowAll(s);
    EXPECT_TRUE(TickUntil(s, [&] { return !w.errors.empty(); }));
    EXPECT_EQ(w.errors, std::vector<std::string>{"The lens cracked."});
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(host.pixels, original);
}

// Last Used and Reset are offered while they would change the values.
TEST_F(DialogSessionTest, TheLastConfirmedValuesComeBackOnRequest) {
  std::vector<bool> lastUsed, reset;
  double strength = 0;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const auto offered = [&] {
      lastUsed.push_back(w.enabledCommands[kCommandLastUsed]);
      reset.push_back(w.enabledCommands[kCommandReset]);
    };
    offered();
    if (lastUsed.size() == 1) {
      s.SetNumber(0, 35);
      offered();
      s.Command(kCommandOK);
    } else {
      s.SetNumber(0, 80);
      offered();
      EXPECT_TRUE(s.Command(kCommandLastUsed));
      strength = s.Number(0);
      offered();
      s.Command(kCommandCancel);
    }
    return w.Answer();
  };
  EXPECT_TRUE(Run());
  host.pixels = original;
  EXPECT_FALSE(Run());
  EXPECT_EQ(lastUsed, (std::vector<bool>{false, false, false, true, false}));
  EXPECT_EQ(reset, (std::vector<bool>{false, true, true, true, true}));
  EXPECT_EQ(strength, 35.0);
}

TEST_F(DialogSessionTest, SettingsAreSavedAppliedAndManaged) {
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    s.SetNumber(0, 42);
    w.answers = {"Calm"};
    EXPECT_TRUE(s.Command(kCommandSaveSetting));
    EXPECT_EQ(w.settingsChanges, 1);
    EXPECT_EQ(s.StoredSettings(false), std::vector<std::string>{"Calm"});
    EXPECT_TRUE(w.checkedCommands[kCommandUserSetting]) << "the values are the setting's";
    s.SetNumber(0, 7);
    EXPECT_FALSE(w.checkedCommands[kCommandUserSetting]);
    w.answers = {"Calm"};
    EXPECT_TRUE(s.Command(kCommandSaveSetting));
    EXPECT_EQ(w.prompts.back(), "Replace Setting") << "asked, and declined";
    w.answers = {"a/b"};
    EXPECT_FALSE(s.Command(kCommandSaveSetting));
    EXPECT_EQ(w.errors.size(), 1u);
    EXPECT_TRUE(s.Command(kCommandSaveSetting)) << "a cancelled prompt is no failure";
    EXPECT_EQ(w.settingsChanges, 1);

    EXPECT_TRUE(s.Command(kCommandUserSetting));
    EXPECT_EQ(s.Number(0), 42.0) << "the declined replacement kept the setting";
    s.Command(kCommandUndo);
    EXPECT_EQ(s.Number(0), 7.0) << "applying a setting is a change like any other";
    EXPECT_FALSE(s.Command(kCommandUserSetting + 1));

    w.answers = {"Quiet"};
    EXPECT_TRUE(s.RenameStoredSetting("Calm"));
    w.answers = {"Loud"};
    EXPECT_FALSE(s.RenameStoredSetting("Calm")) << "gone by that name";
    EXPECT_EQ(w.errors.size(), 2u);
    EXPECT_FALSE(s.DeleteStoredSetting("Quiet")) << "not confirmed";
    w.confirm = true;
    EXPECT_TRUE(s.DeleteStoredSetting("Quiet"));
    EXPECT_TRUE(s.StoredSettings(false).empty());
    EXPECT_EQ(w.settingsChanges, 3);
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(Run());
}

// Previous effect ends the dialog and opens it on the one before that can run;
// its OK renders that effect, a Cancel puts back the host's effect and block.
TEST_F(DialogSessionTest, SwitchingEffectsReopensTheDialogOnTheOther) {
  otherEffect = 12;
  std::vector<std::string> titles;
  std::vector<double> startedAt;
  int32_t ending = kCommandOK;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    titles.push_back(s.Title());
    if (titles.size() % 2 == 1) {
      EXPECT_TRUE(w.enabledCommands[kCommandPreviousEffect]);
      s.SetNumber(0, 10);
      for (int32_t id = 0; id < kEffectCount; ++id)
        if (id != otherEffect && CreateBuiltInFilter(id) == nullptr) {
          EXPECT_FALSE(s.Command(kCommandSwitchEffect + id)) << "not in this build";
          break;
        }
      EXPECT_TRUE(s.Command(kCommandPreviousEffect));
      return w.Answer();
    }
    startedAt.push_back(s.Number(0));
    s.SetNumber(0, 25);
    s.Command(ending);
    return w.Answer();
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(BlockEffectNumber(&Values()), 12);
  EXPECT_EQ(Values().strength, 25.0);
  for (size_t i = 0; i < host.pixels.size(); i += 89) ASSERT_EQ(host.pixels[i], Expected(i, 25)) << i;

  host.pixels = original;
  ending = kCommandCancel;
  EXPECT_FALSE(Run());
  EXPECT_EQ(titles, (std::vector<std::string>{"Television", "Stain", "Television", "Stain"}));
  EXPECT_EQ(startedAt, (std::vector<double>{100, 25})) << "the defaults, then the values last confirmed";
  EXPECT_EQ(BlockEffectNumber(&Values()), test::kTestEffect);
  EXPECT_EQ(Values().strength, 100.0) << "the block as the dialog found it";
  EXPECT_EQ(host.pixels, original);
}

// The controls of real effects: each parameter's kind, texts, range and
// values as the toolkit shows them.
TEST_F(DialogSessionTest, ControlsDescribeTheEffectsParameters) {
  std::vector<uint8_t> selection(size_t(kWidth) * kHeight, 0);
  for (int y = 10; y < 40; ++y)
    for (int x = 10; x < 50; ++x) selection[size_t(y) * kWidth + x] = 255;
  host.SetSelection(selection);
  host.record.imageHRes = 144 << 16;
  std::map<toolkit::ControlKind, int> kinds;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const std::vector<toolkit::ControlSpec> controls = s.Controls();
    for (int32_t i = 0; i < int32_t(controls.size()); ++i) {
      const toolkit::ControlSpec& c = controls[size_t(i)];
      SCOPED_TRACE(c.name);
      ++kinds[c.kind];
      EXPECT_FALSE(c.name.empty());
      EXPECT_EQ(c.label.empty(), c.kind == toolkit::ControlKind::kPosition) << "markers alone have no label";
      EXPECT_NE(c.label.find("Lost String"), 0u);
      EXPECT_LT(c.page, int32_t(s.PageLabels().size()));
      if (c.kind == toolkit::ControlKind::kLength) {
        EXPECT_EQ(c.pixelsPerInch, 144.0);
        EXPECT_EQ(c.items.size(), 6u);
        const double inches = (c.minimum + c.maximum) / 2.0 / 144.0;  // within range
        EXPECT_EQ(s.SetValue(i, std::to_string(inches) + " in"), "");
        EXPECT_NEAR(s.Number(i), inches, 1e-5) << "in the length's own unit";
      }
      if (c.kind == toolkit::ControlKind::kPosition) {
        EXPECT_EQ(s.SetValue(i, "16,36"), "");
        EXPECT_EQ(s.Value(i), "16,36") << "image pixels";
      }
      if (c.kind == toolkit::ControlKind::kListbox) {
        EXPECT_EQ(s.SetNumber(i, double(c.items.size()) - 1), "");
        EXPECT_EQ(s.Number(i), double(c.items.size()) - 1);
        EXPECT_NE(s.SetNumber(i, double(c.items.size())), "");
      }
    }
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(host.Run(5, true));  // Electrify
  EXPECT_FALSE(host.Run(8, true));  // Lightning
  EXPECT_FALSE(host.Run(3, true));  // Cracks
  EXPECT_FALSE(host.Run(12, true));  // Stain
  EXPECT_FALSE(host.Run(4, true));  // Crumple
  EXPECT_FALSE(host.Run(10, true));  // Rip Open
  using K = toolkit::ControlKind;
  for (K kind : {K::kSlider, K::kLength, K::kCheckbox, K::kColor, K::kSeed, K::kPosition, K::kDirection, K::kLighting,
                 K::kLayerFill})
    EXPECT_GT(kinds[kind], 0) << int(kind);
}

// Every effect's dialog takes a change back and forth and resets it.
TEST_F(DialogSessionTest, EveryEffectUndoesRedoesAndResets) {
  std::vector<uint8_t> selection(size_t(kWidth) * kHeight, 0);  // Electrify needs one
  for (int y = 8; y < 40; ++y)
    for (int x = 8; x < 56; ++x) selection[size_t(y) * kWidth + x] = 255;
  host.SetSelection(selection);
  int32_t effect = 0;
  std::set<std::string> shown;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    SCOPED_TRACE(s.Title());
    shown.insert(s.Title());
    const auto specs = s.Controls();
    int32_t i = 0;
    while (i < int32_t(specs.size()) && specs[size_t(i)].kind != toolkit::ControlKind::kSlider) ++i;
    if (i == int32_t(specs.size())) {
      ADD_FAILURE() << "effect " << effect << " has no slider";
      s.Command(kCommandCancel);
      return w.Answer();
    }
    const double before = s.Number(i);
    const double changed = before == specs[size_t(i)].maximum ? specs[size_t(i)].minimum : specs[size_t(i)].maximum;
    EXPECT_FALSE(w.enabledCommands[kCommandReset]);
    EXPECT_EQ(s.SetNumber(i, changed), "");
    EXPECT_TRUE(w.enabledCommands[kCommandReset]);
    EXPECT_TRUE(s.Command(kCommandUndo));
    EXPECT_EQ(s.Number(i), before);
    EXPECT_TRUE(s.Command(kCommandRedo));
    EXPECT_EQ(s.Number(i), changed);
    EXPECT_TRUE(s.Command(kCommandReset));
    EXPECT_EQ(s.Number(i), before);
    EXPECT_FALSE(w.enabledCommands[kCommandReset]);
    EXPECT_TRUE(s.Command(kCommandUndo)) << "a reset is a change like any other";
    EXPECT_EQ(s.Number(i), changed);
    s.Command(kCommandCancel);
    return w.Answer();
  };
  for (effect = 0; effect < kEffectCount; ++effect) EXPECT_FALSE(host.Run(effect, true)) << effect;
  EXPECT_EQ(shown.size(), size_t(kEffectCount));
}

// The puzzle's grid and the flag's holds change through their own calls,
// and undo and redo take them back and forth like any other change.
TEST_F(DialogSessionTest, PuzzleAndFlagControlsChangeUndoably) {
  using toolkit::ArrangeCommand;
  const auto find = [](toolkit::DialogSession& s, toolkit::ControlKind kind) {
    const auto specs = s.Controls();
    for (size_t i = 0; i < specs.size(); ++i)
      if (specs[i].kind == kind) return int32_t(i);
    return int32_t(-1);
  };
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const int32_t i = find(s, toolkit::ControlKind::kArrangement);
    PuzzleArrangement a;
    Rect area;
    EXPECT_TRUE(s.Arrangement(i, a, area));
    EXPECT_EQ(area, (Rect{0, 0, kWidth, kHeight}));
    EXPECT_EQ(s.Arrange(i, ArrangeCommand::kTogglePiece, 2, 3), "");
    EXPECT_EQ(s.Arrange(i, ArrangeCommand::kColumns, 4, 0), "");
    EXPECT_NE(s.Arrange(i, ArrangeCommand::kFlipHorizontalEdge, 1, 0), "") << "the top border has no knob";
    s.Arrangement(i, a, area);
    EXPECT_EQ(a.columns, 4);
    EXPECT_EQ(a.rows, 3);
    EXPECT_TRUE(s.Command(kCommandUndo));
    s.Arrangement(i, a, area);
    EXPECT_EQ(a.columns, 10);
    EXPECT_FALSE(a.Piece(2, 3));
    EXPECT_TRUE(s.Command(kCommandUndo));
    s.Arrangement(i, a, area);
    EXPECT_TRUE(a.Piece(2, 3));
    EXPECT_TRUE(s.Command(kCommandRedo));
    s.Command(kCommandOK);
    return w.Answer();
  };
  EXPECT_TRUE(host.Run(kPuzzleEffect, true));
  const auto& kept = reinterpret_cast<const PuzzleSettings&>(Values()).arrangement;
  EXPECT_FALSE(kept.Piece(2, 3));
  EXPECT_EQ(kept.columns, 10);

  test::FakeHost flagHost(kWidth, kHeight, ps::plugInModeRGBColor, 3);
  flagHost.descriptorParameters.playInfo = ps::plugInDialogDisplay;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const int32_t i = find(s, toolkit::ControlKind::kConnections);
    EXPECT_EQ(s.Controls()[size_t(i)].items.size(), size_t(kFlagAttachmentCount));
    EXPECT_EQ(s.Number(i), double(1 << kAttachLeft));
    EXPECT_EQ(s.SetNumber(i, (1 << kAttachTop) | (1 << kAttachBottomRight)), "");
    EXPECT_EQ(s.Value(i), "top,bottom-right");
    EXPECT_NE(s.SetNumber(i, 256), "");
    EXPECT_TRUE(s.Command(kCommandUndo));
    EXPECT_EQ(s.Number(i), double(1 << kAttachLeft));
    EXPECT_TRUE(s.Command(kCommandRedo));
    s.Command(kCommandOK);
    return w.Answer();
  };
  EXPECT_TRUE(flagHost.Run(kFlagEffect, true));
  const auto& held =
      reinterpret_cast<const FlagBlock*>(flagHost.handleProcs.lockProc(flagHost.record.parameters, false))->attachments;
  EXPECT_EQ(ConnectionText(held), " X     X");
}

// A layer fill offers transparency only on a layer that can have it; its
// choice and colour change undoably, and the colour outlives other choices.
TEST_F(DialogSessionTest, LayerFillsOfferWhatTheImageAllows) {
  const auto fillControl = [](toolkit::DialogSession& s) {
    const auto specs = s.Controls();
    for (size_t i = 0; i < specs.size(); ++i)
      if (specs[i].kind == toolkit::ControlKind::kLayerFill) return int32_t(i);
    return int32_t(-1);
  };
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const int32_t i = fillControl(s);
    const toolkit::ControlSpec spec = s.Controls()[size_t(i)];
    EXPECT_EQ(spec.items, (std::vector<std::string>{"Fill with solid color", "Keep original image"}));
    EXPECT_EQ(spec.swatch, "Fill Color");
    EXPECT_EQ(s.Value(i), "transparent");
    EXPECT_EQ(s.Number(i), 0) << "without transparency the area is filled with the colour";
    EXPECT_EQ(s.SetNumber(i, 1), "");
    EXPECT_EQ(s.Value(i), "keep");
    EXPECT_EQ(s.SwatchColor(i), "#d2d2d2");
    EXPECT_NE(s.SetNumber(i, 2), "");
    EXPECT_EQ(s.SetValue(i, "#3060c0"), "");
    EXPECT_EQ(s.Number(i), 0);
    EXPECT_TRUE(s.Command(kCommandUndo));
    EXPECT_EQ(s.Value(i), "keep");
    EXPECT_TRUE(s.Command(kCommandRedo));
    EXPECT_TRUE(s.Command(kCommandReset));
    EXPECT_EQ(s.Value(i), "transparent");
    EXPECT_TRUE(s.Command(kCommandUndo));
    EXPECT_EQ(s.Value(i), "#3060c0");
    s.Command(kCommandOK);
    return w.Answer();
  };
  EXPECT_TRUE(host.Run(kBurntEdgesEffect, true));
  EXPECT_EQ(reinterpret_cast<const BurntEdgesBlock&>(Values()).fill,
            (LayerFill{kFillWithColor, Color::RGB(0x30, 0x60, 0xc0)}));

  test::FakeHost layer(kWidth, kHeight, ps::plugInModeRGBColor, 3, true);
  std::fill(layer.pixels.begin(), layer.pixels.end(), uint8_t(200));
  layer.descriptorParameters.playInfo = ps::plugInDialogDisplay;
  CurrentDialogScript() = [&](toolkit::DialogSession& s, RecordingWindow& w) {
    const int32_t i = fillControl(s);
    EXPECT_EQ(s.Controls()[size_t(i)].items.back(), "Make knockouts transparent");
    EXPECT_EQ(s.Number(i), 2);
    EXPECT_EQ(s.SetNumber(i, 0), "");
    EXPECT_EQ(s.Value(i), "#ffffff");
    s.Command(kCommandCancel);
    return w.Answer();
  };
  EXPECT_FALSE(layer.Run(kPuzzleEffect, true));
}

// Every layout of the host's pixels reaches the window as RGBA.
TEST(PreviewFrame, ShowsEveryModeAsRgba) {
  struct Case {
    PixelFormat format;
    std::vector<uint8_t> pixel;
    std::array<int, 4> rgba;
  };
  for (const Case& c : {Case{PixelFormat::Of(kModeGrey, 1, true), {90, 40}, {90, 90, 90, 40}},
                        Case{PixelFormat::Of(kModeRGB, 3, false), {10, 20, 30}, {10, 20, 30, 255}},
                        Case{PixelFormat::Of(kModeCMYK, 4, false), {255, 0, 255, 255}, {255, 0, 255, 255}},
                        Case{PixelFormat::Of(kModeCMYK, 4, false), {255, 255, 255, 128}, {128, 128, 128, 255}},
                        Case{PixelFormat::Of(kModeLab, 3, false), {255, 128, 128}, {255, 255, 255, 255}},
                        Case{PixelFormat::Of(kModeLab, 3, false), {0, 128, 128}, {0, 0, 0, 255}},
                        Case{PixelFormat::Of(kModeLab, 3, false), {132, 202, 182}, {237, 28, 36, 255}}}) {
    SCOPED_TRACE(testing::Message() << "mode " << c.format.mode << " first " << int(c.pixel[0]));
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 4; ++i) bytes.insert(bytes.end(), c.pixel.begin(), c.pixel.end());
    const ByteImage image(Rect{10, 20, 12, 22}, bytes.data(), 0, c.format);
    const toolkit::PreviewFrame frame = ToFrame(image, Rect{11, 21, 40, 40}, 2);
    ASSERT_EQ(frame.size.width, 1);
    ASSERT_EQ(frame.size.height, 1);
    EXPECT_EQ(frame.origin, (PointD{22, 42})) << "in image pixels";
    EXPECT_EQ(frame.zoom, 0.5);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(frame.rgba[size_t(k)], c.rgba[size_t(k)], 3) << k;
  }
}

// A toolkit that cannot show the dialog: the user is told why, nothing is
// rendered, and the run ends.
TEST_F(DialogSessionTest, ADialogThatCannotBeShownIsExplained) {
  const std::filesystem::path folder = config / "core";
  std::filesystem::create_directories(folder);
  std::string why;
  ASSERT_EQ(strings::Load(why), 0);
  EXPECT_EQ(LoadToolkit(folder, why), nullptr);
  EXPECT_NE(why.find("no dialog toolkit"), std::string::npos) << why;
  std::ofstream(folder / toolkit::kLibraryName) << "not a library";
  EXPECT_EQ(LoadToolkit(folder, why), nullptr);
  EXPECT_NE(why.find("could not be loaded"), std::string::npos) << why;
  strings::Clear();

  static const auto noDisplay = +[](ps::FilterRecord& h, RunRecord& r, std::span<uint8_t> b) {
    return RunDialogWith([](toolkit::DialogSession&) { return toolkit::kNoDisplay; }, h, r, b);
  };
  SetDialogRunner(noDisplay);
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  EXPECT_FALSE(Run());
  if (display != nullptr) ::setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(host.lastResult, 1) << "already told";
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].find("DISPLAY is not set"), std::string::npos) << host.messages[0];
  EXPECT_EQ(host.pixels, original);
  EXPECT_EQ(renders, 0);
}

}  // namespace
}  // namespace kv
