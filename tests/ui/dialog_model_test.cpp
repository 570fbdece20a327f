// The dialog model with a window that only records what it is told: zoom
// levels, undo and redo, Cancel restoring the host's block. OK and the
// preview are the session's tests, inside a real run.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/framework/test_effect.h"
#include "tests/ui/recording_window.h"
#include "ui/dialog_model.h"

namespace kv {
namespace {

using test::InvertBlock;
using test::RecordingWindow;

TEST(Zoom, StepsThroughTheLevels) {
  EXPECT_EQ(ZoomInFrom(1.0), 2.0);
  EXPECT_EQ(ZoomInFrom(0.3), 0.5);
  EXPECT_EQ(ZoomOutFrom(0.3), 0.25);
  EXPECT_EQ(ZoomOutFrom(0.0625), 0.0625);
  EXPECT_EQ(ZoomOutFrom(0.01), 0.0625);
  EXPECT_EQ(ZoomInFrom(16), 16);
  EXPECT_EQ(ZoomInFrom(40), 16);
  EXPECT_EQ(ZoomOutFrom(40), 40) << "above the largest level, zooming out keeps it";
  EXPECT_EQ(ZoomInFrom(0.01), 0.01) << "below the smallest level, zooming in keeps it";
  EXPECT_EQ(ZoomOutFrom(12), 8);
}

class DialogModelTest : public ::testing::Test {
 protected:
  DialogModelTest() : block(kParametersHandleSize) {
    effect.filterId = test::kTestEffect;
    effect.SetDefaults(block.data());
    for (size_t i = sizeof(InvertBlock); i < block.size(); ++i) block[i] = uint8_t(i * 31);  // the rest of the handle
  }
  std::unique_ptr<FilterDialogModel> Open() {
    FilterDialogModel::Hooks hooks;
    hooks.render = [](Abort_Tester&, ProgressUpdateSink&) { return int32_t(0); };
    int32_t err = -99;
    auto model = std::make_unique<FilterDialogModel>(err, window, effect, std::span<uint8_t>(block), std::move(hooks),
                                                     queue, errorText);
    EXPECT_EQ(err, 0);
    return model;
  }
  InvertBlock& Values() { return *reinterpret_cast<InvertBlock*>(block.data()); }
  void Change(FilterDialogModel& model, double strength) {
    Values().strength = strength;
    model.ParametersChanged();
  }

  test::InvertEffect effect;
  std::vector<uint8_t> block;
  RecordingWindow window;
  platform::MessageQueue queue;
  char errorText[255] = {};
};

TEST_F(DialogModelTest, UndoAndRedoWalkTheChanges) {
  auto model = Open();
  EXPECT_FALSE(window.enabledCommands[kCommandUndo]);
  model->Undo();
  EXPECT_EQ(Values().strength, 100.0) << "nothing to undo";
  Change(*model, 10);
  Change(*model, 20);
  Change(*model, 30);
  EXPECT_TRUE(window.enabledCommands[kCommandUndo]);
  EXPECT_FALSE(window.enabledCommands[kCommandRedo]);
  model->Command(kCommandUndo);
  EXPECT_EQ(Values().strength, 20.0);
  EXPECT_TRUE(window.enabledCommands[kCommandRedo]);
  model->Command(kCommandRedo);
  EXPECT_EQ(Values().strength, 30.0);
  model->Undo();
  model->Undo();
  model->Undo();
  EXPECT_EQ(Values().strength, 100.0);
  EXPECT_FALSE(window.enabledCommands[kCommandUndo]);
  EXPECT_GE(window.refreshes, 5);

  Change(*model, 70);
  EXPECT_FALSE(window.enabledCommands[kCommandRedo]) << "a new change ends the redo history";
  model->Command(kCommandReset);
  EXPECT_EQ(Values().strength, 100.0);
  model->Undo();
  EXPECT_EQ(Values().strength, 70.0);

  model->Gesture(true);
  for (double v : {71, 72, 73}) Change(*model, v);
  model->Gesture(false);
  Change(*model, 80);
  model->Undo();
  model->Undo();
  EXPECT_EQ(Values().strength, 70.0) << "a drag's changes are one step";
}

TEST_F(DialogModelTest, ChangesAreClampedIntoTheirRange) {
  auto model = Open();
  Change(*model, 250);
  EXPECT_EQ(Values().strength, 100.0);
}

TEST_F(DialogModelTest, CancelLeavesTheHostsBlockAsItWas) {
  const std::vector<uint8_t> before = block;
  auto model = Open();
  Change(*model, 5);
  Change(*model, 6);
  model->Undo();
  block[sizeof(InvertBlock) + 3] ^= 0xFF;  // even bytes past the effect's own
  model->Command(kCommandCancelButton);
  EXPECT_EQ(block, before);
  EXPECT_EQ(window.ended, std::vector<DialogWindow::Result>{DialogWindow::kCancel});
}

}  // namespace
}  // namespace kv
