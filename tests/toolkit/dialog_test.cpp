// The toolkit's dialog on a fake session: what it builds, binds and hands
// back, driven by its test script through the widgets a user would touch.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/toolkit/x_server.h"
#include "ui/toolkit_api.h"

namespace kv::toolkit::test {
namespace {

class FakeSession : public DialogSession {
 public:
  FakeSession() {
    auto add = [this](ControlKind kind, const char* name, int32_t page, std::string value) {
      ControlSpec spec;
      spec.kind = kind;
      spec.name = name;
      spec.label = kind == ControlKind::kPosition ? "" : std::string(name) + " label";
      spec.page = page;
      spec.maximum = kind == ControlKind::kLength ? 200 : 100;
      specs.push_back(spec);
      values.push_back(std::move(value));
    };
    add(ControlKind::kSlider, "Amount", 0, "25");
    add(ControlKind::kLength, "Width", 0, "10.00 pixels");
    specs.back().pixelsPerInch = 144;
    add(ControlKind::kCheckbox, "Glow", 0, "0");
    add(ControlKind::kListbox, "Mode", 1, "0");
    specs.back().items = {"First", "Second", "Third"};
    add(ControlKind::kColor, "Colour", 1, "#000000");
    add(ControlKind::kDirection, "Angle", 1, "90");
    add(ControlKind::kSeed, "Random Seed", 0, "7");
    add(ControlKind::kPosition, "Centre", 0, "100,100");
    add(ControlKind::kText, "Note", 1, "hello");
    add(ControlKind::kLighting, "Light", 1, "135 50 60 40 #ffffff");
    specs.back().minimum = 45;
    specs.back().maximum = 90;
    specs.back().items = {"Direction", "Height", "Brightness", "Sharpness", "Highlight"};
    add(ControlKind::kConnections, "Holds", 0, "0");
    specs.back().items = {"top-left", "top", "top-right", "left", "right", "bottom-left", "bottom", "bottom-right"};
    add(ControlKind::kArrangement, "Grid", 0, "");
  }

  int32_t Open(DialogWindow& w) override {
    window = &w;
    return openError;
  }
  std::string Title() const override { return "Fake Effect"; }
  std::string Text(std::string_view key) const override { return std::string(key); }
  std::vector<std::string> PageLabels() const override { return {"Basic", "More"}; }
  std::vector<ControlSpec> Controls() const override { return specs; }
  void Bind(int32_t control, ControlView& shown) override {
    bound[control] = &shown;
    if (specs[control].name == "Glow") shown.Enable(false);
  }
  double Number(int32_t control) const override { return std::atof(values[control].c_str()); }
  std::string Value(int32_t control) const override { return values[control]; }
  std::string SetNumber(int32_t control, double value) override {
    return SetValue(control, std::to_string(static_cast<long long>(std::lround(value))));
  }
  std::string SetValue(int32_t control, std::string_view text) override {
    values[control] = text;
    changes.emplace_back(specs[control].name, std::string(text));
    window->MarkPreviewOutOfDate();
    dirty = true;
    return {};
  }
  // A grid of 4 x 3 pieces of 500 x 500 pixels.
  bool Arrangement(int32_t control, PuzzleArrangement& out, Rect& area) const override {
    if (specs[control].kind != ControlKind::kArrangement) return false;
    out.columns = 4;
    out.rows = 3;
    area = {0, 0, 2000, 1500};
    return true;
  }
  std::string Arrange(int32_t, ArrangeCommand command, int32_t x, int32_t y) override {
    arranged.push_back({command, x, y});
    return {};
  }
  // Amount gives the first four fifths of its track to 0..20.
  double TrackPosition(int32_t control, double value) const override {
    if (specs[control].name != "Amount") return value / specs[control].maximum;
    return value <= 20 ? value / 20 * 0.8 : 0.8 + (value - 20) / 80 * 0.2;
  }
  double TrackValue(int32_t control, double position) const override {
    if (specs[control].name != "Amount") return position * specs[control].maximum;
    return position <= 0.8 ? position / 0.8 * 20 : 20 + (position - 0.8) / 0.2 * 80;
  }
  void Gesture(bool begins) override { gestures.push_back(begins); }
  bool Command(int32_t command) override {
    commands.push_back(command);
    switch (command) {
      case kCommandOKButton: window->EndDialog(DialogWindow::kOK); return true;
      case kCommandCancelButton: window->EndDialog(DialogWindow::kCancel); return true;
      case kCommandZoomIn: zoom *= 2; break;
      case kCommandZoomOut: zoom /= 2; break;
      default: return false;
    }
    window->SetZoom(zoom);
    return true;
  }
  // A preview finishes one tick after it was asked for.
  void Tick() override {
    if (!dirty) return;
    dirty = false;
    window->StartProgress();
    window->SetProgress(0.5);
    window->EndProgress();
    window->ShowNewPreview();
  }
  Size ImageSize() const override { return {2000, 1500}; }
  void SetView(PointD origin, double z, Size size) override { views.push_back({origin, z, size}); }
  bool Preview(PreviewFrame& out, bool) const override {
    out.size = {64, 48};
    out.rgba.assign(64 * 48 * 4, 200);
    out.zoom = zoom;
    return true;
  }

  struct View {
    PointD origin;
    double zoom;
    Size size;
  };
  std::vector<ControlSpec> specs;
  std::vector<std::string> values;
  DialogWindow* window = nullptr;
  int32_t openError = 0;
  std::map<int32_t, ControlView*> bound;
  std::vector<std::pair<std::string, std::string>> changes;
  std::vector<int32_t> commands;
  std::vector<bool> gestures;
  std::vector<View> views;
  std::vector<std::tuple<ArrangeCommand, int32_t, int32_t>> arranged;
  double zoom = 1.0;
  bool dirty = true;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(KV_TOOLKIT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    run_ = reinterpret_cast<RunDialogProc>(dlsym(library_, kRunDialogSymbol));
    ASSERT_NE(run_, nullptr);
  }

  int32_t Run(FakeSession& session, const std::string& script) {
    setenv("KALVERO_TOOLKIT_SCRIPT", script.c_str(), 1);
    gtkStarted = true;
    return run_(session);
  }

  static inline bool gtkStarted = false;  // GTK, once started, stays started in this process

  void* library_ = nullptr;
  RunDialogProc run_ = nullptr;
};

std::vector<std::string> ChangesOf(const FakeSession& s, const std::string& name) {
  std::vector<std::string> out;
  for (const auto& [n, v] : s.changes)
    if (n == name) out.push_back(v);
  return out;
}

TEST_F(DialogTest, ScriptedChangesReachTheSessionThroughTheWidgets) {
  if (!XServer::Shared().Running()) GTEST_SKIP() << "no X display and no Xvfb";
  FakeSession s;
  const std::string shot = std::string(KV_ARTEFACT_DIR) + "/fake-dialog.png";
  std::filesystem::remove(shot);
  ASSERT_EQ(Run(s, "set Amount=40; drag Amount=0.4; release Amount; set Width=2.5 cm; set Mode=Third;"
                   "set Colour=#ff8000; set Angle=45; set Random Seed=new; set Centre=30,40; set Note=bye;"
                   "set Light=200.5 30 10 90 #ffff00;"
                   "set Holds=top, right; set Grid=click 100,100; set Grid=click 250,500; set Grid=click 500,1250;"
                   "set Grid=columns 6; set Grid=invert; click zoom-in; page More; wait-preview;"
                   "screenshot " + shot + "; ok"),
            0);

  EXPECT_EQ(s.bound.size(), s.specs.size());
  // Set: one change, not one per step of the slider's travel. Dragged: the
  // value at that place of the track, whose first four fifths end at 20.
  const std::vector<std::string> amounts = ChangesOf(s, "Amount");
  ASSERT_GE(amounts.size(), 2u);
  EXPECT_EQ(amounts.front(), "40");
  EXPECT_EQ(amounts.back(), "10");
  EXPECT_EQ(s.gestures, (std::vector<bool>{true, false}));
  // The unit first, keeping the length at the image's resolution; then the amount.
  EXPECT_EQ(ChangesOf(s, "Width"), (std::vector<std::string>{"0.176 centimeters", "2.500 centimeters"}));
  EXPECT_EQ(ChangesOf(s, "Mode"), std::vector<std::string>{"2"});
  EXPECT_EQ(ChangesOf(s, "Colour"), std::vector<std::string>{"#ff8000"});
  EXPECT_EQ(ChangesOf(s, "Angle"), std::vector<std::string>{"45"});
  EXPECT_EQ(ChangesOf(s, "Random Seed").size(), 1u);
  EXPECT_EQ(ChangesOf(s, "Centre"), std::vector<std::string>{"30,40"});
  EXPECT_EQ(ChangesOf(s, "Note"), std::vector<std::string>{"bye"});
  // The light's five parts as one change; its height no lower than the minimum.
  EXPECT_EQ(ChangesOf(s, "Light"), std::vector<std::string>{"200.5 45 10 90 #ffff00"});
  EXPECT_EQ(ChangesOf(s, "Holds"), (std::vector<std::string>{"2", "18"}));  // clicked one at a time
  using A = ArrangeCommand;
  // A piece, the knob of the cut below it, that of the cut left of (1, 2).
  EXPECT_EQ(s.arranged, (std::vector<std::tuple<A, int32_t, int32_t>>{{A::kTogglePiece, 0, 0},
                                                                      {A::kFlipHorizontalEdge, 0, 1},
                                                                      {A::kFlipVerticalEdge, 1, 2},
                                                                      {A::kColumns, 6, 0},
                                                                      {A::kInvertAll, 0, 0}}));
  EXPECT_EQ(s.commands.back(), kCommandOKButton);

  // The view first zoomed out until the whole image fitted, then took the
  // zoom the session gave it.
  ASSERT_FALSE(s.views.empty());
  const FakeSession::View& last = s.views.back();
  EXPECT_EQ(last.zoom, s.zoom);
  EXPECT_GT(last.size.width, 0);
  EXPECT_LE(2000 * s.zoom / 2, last.size.width);
  EXPECT_LT(s.zoom, 1.0);

  std::ifstream png(shot, std::ios::binary);
  char header[8] = {};
  png.read(header, 8);
  EXPECT_EQ(std::string(header + 1, 3), "PNG");
}

TEST_F(DialogTest, GreyedOutControlCannotBeChangedAndTheDialogEndsAsCancelled) {
  if (!XServer::Shared().Running()) GTEST_SKIP() << "no X display and no Xvfb";
  FakeSession s;
  EXPECT_EQ(Run(s, "set Glow=1; ok"), -1);  // the script fails, as a user's click would do nothing
  EXPECT_TRUE(ChangesOf(s, "Glow").empty());
  EXPECT_EQ(s.commands.back(), kCommandCancelButton);

  FakeSession cancelled;
  EXPECT_EQ(Run(cancelled, "set Amount=70; cancel"), 1);
  EXPECT_EQ(ChangesOf(cancelled, "Amount"), std::vector<std::string>{"70"});

  // A window destroyed by another hand than the window manager's.
  FakeSession destroyed;
  EXPECT_EQ(Run(destroyed, "destroy"), 1);
  EXPECT_EQ(destroyed.commands.back(), kCommandCancelButton);
}

TEST_F(DialogTest, MissingDisplayAndOpenErrorShowNothing) {
  // Without a display GTK cannot start: in a child, so that the display
  // this process may take later is not in question. ctest runs every test
  // in a process of its own, where GTK has not started yet.
  if (!gtkStarted) {
    const pid_t child = fork();
    if (child == 0) {
      unsetenv("DISPLAY");
      FakeSession s;
      _exit(run_(s) == kNoDisplay && s.window == nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  if (!XServer::Shared().Running()) GTEST_SKIP() << "no X display and no Xvfb";
  FakeSession failing;
  failing.openError = -108;
  EXPECT_EQ(Run(failing, "ok"), -108);
  EXPECT_TRUE(failing.bound.empty());
}

}  // namespace
}  // namespace kv::toolkit::test
