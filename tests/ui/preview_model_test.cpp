// The preview's state machine, driven tick by tick as the dialog's timer
// would, with renders the test lets finish when it wants.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "image/image.h"
#include "platform/string_table.h"
#include "platform/system.h"
#include "ui/preview_model.h"

namespace kv {
namespace {

struct FakeView final : PreviewView {
  void ShowNewPreview() override { ++shown; }
  void MarkPreviewOutOfDate() override { ++outOfDate; }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void StartProgress() override { ++progressStarts; }
  void SetProgress(double) override {}
  void EndProgress() override { ++progressEnds; }
  int shown = 0, outOfDate = 0, progressStarts = 0, progressEnds = 0;
  std::vector<std::string> errors;
};

// Renders that run until the test releases them or the preview stops them.
class Renders {
 public:
  PreviewModel::Render Function() {
    return [this](Abort_Tester& abort, ProgressUpdateSink& progress) {
      std::unique_lock lock(mutex_);
      ++started_;
      changed_.notify_all();
      while (!release_) {
        if (abort.ShouldAbort()) {
          ++stopped_;
          return int32_t(1);
        }
        lock.unlock();
        progress.Update(0.5);
        if (during) during();
        std::this_thread::yield();
        lock.lock();
      }
      release_ = false;
      return result;
    };
  }
  void Release() {
    std::lock_guard lock(mutex_);
    release_ = true;
  }
  void WaitStarted(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_ >= n; });
  }
  int Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }
  int Stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
  }

  int32_t result = 0;
  std::function<void()> during;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0, stopped_ = 0;
  bool release_ = false;
};

class Preview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
    std::string error;
    ASSERT_EQ(strings::Load(error), 0) << error;
  }
  static void TearDownTestSuite() { strings::Clear(); }

  // Ticks until the running render has been collected.
  void TickUntilDone(PreviewModel& model) {
    while (model.state() == PreviewModel::kRunning) {
      model.Tick();
      queue.Pump();
      std::this_thread::yield();
    }
  }

  FakeView view;
  Renders renders;
  platform::MessageQueue queue;
  char errorText[255] = {};
};

TEST_F(Preview, FirstTickRendersAndAFinishedRenderIsShown) {
  PreviewModel model(view, renders.Function(), queue, errorText);
  model.Tick();
  EXPECT_EQ(model.state(), PreviewModel::kNotSetUp) << "nothing before the preview is set up";
  model.SetUp();
  model.Tick();
  EXPECT_EQ(model.state(), PreviewModel::kRunning);
  renders.WaitStarted(1);
  model.Tick();
  EXPECT_EQ(model.state(), PreviewModel::kRunning) << "a render still running is left alone";
  renders.Release();
  TickUntilDone(model);
  EXPECT_EQ(model.state(), PreviewModel::kShown);
  EXPECT_EQ(view.shown, 1);
  EXPECT_EQ(view.progressStarts, 1);
  EXPECT_EQ(view.progressEnds, 1);
  model.Tick();
  EXPECT_EQ(renders.Started(), 1) << "a shown preview is not rendered again";
}

TEST_F(Preview, AChangeStopsTheRenderAndExactlyOneNewOneStarts) {
  PreviewModel model(view, renders.Function(), queue, errorText);
  model.SetUp();
  model.Tick();
  renders.WaitStarted(1);
  model.Invalidate();
  EXPECT_EQ(renders.Stopped(), 1);
  EXPECT_EQ(model.state(), PreviewModel::kOutOfDate);
  model.Invalidate();
  model.Invalidate();
  EXPECT_EQ(renders.Started(), 1);
  model.Tick();
  renders.WaitStarted(2);
  renders.Release();
  TickUntilDone(model);
  EXPECT_EQ(renders.Started(), 2);
  EXPECT_EQ(view.shown, 1);
  EXPECT_TRUE(view.errors.empty());
}

TEST_F(Preview, ASupersededRenderStartsAgainQuietly) {
  renders.result = 1;
  PreviewModel model(view, renders.Function(), queue, errorText);
  model.SetUp();
  model.Tick();
  renders.Release();
  TickUntilDone(model);
  EXPECT_EQ(model.state(), PreviewModel::kOutOfDate);
  EXPECT_TRUE(view.errors.empty());
  renders.result = 0;
  model.Tick();
  renders.Release();
  TickUntilDone(model);
  EXPECT_EQ(model.state(), PreviewModel::kShown);
}

TEST_F(Preview, FailuresSayWhyAndWaitForTheNextChange) {
  const std::pair<int32_t, std::string> cases[] = {
      {kErrOutOfMemory, strings::Text("Error - Out Of Memory Rendering Preview")},
      {kErrGeneral, strings::Text("Error - General Error Rendering Preview")},
      {-30, strings::Text("Error - General Error Rendering Preview")},
  };
  for (const auto& [code, text] : cases) {
    FakeView v;
    renders.result = code;
    PreviewModel model(v, renders.Function(), queue, errorText);
    model.SetUp();
    model.Tick();
    renders.Release();
    TickUntilDone(model);
    EXPECT_EQ(model.state(), PreviewModel::kFailed) << code;
    ASSERT_EQ(v.errors, std::vector<std::string>{text}) << code;
    const int started = renders.Started();
    model.Tick();
    EXPECT_EQ(renders.Started(), started) << "a failed preview waits for a change";
  }
  EXPECT_NE(cases[0].second, "Lost String!!!");

  // An effect's own words win over the general message.
  std::snprintf(errorText, sizeof errorText, "The image is too small for 12 pieces.");
  renders.result = kErrGeneral;
  FakeView v;
  PreviewModel model(v, renders.Function(), queue, errorText);
  model.SetUp();
  model.Tick();
  renders.Release();
  TickUntilDone(model);
  EXPECT_EQ(v.errors, std::vector<std::string>{"The image is too small for 12 pieces."});
}

TEST_F(Preview, HostCallsFromTheWorkerRunOnTheDialogsThreadEvenWhileStopping) {
  const platform::ThreadId dialogThread = platform::CurrentThread();
  std::atomic<int> onDialogThread{0}, calls{0};
  std::atomic<bool> sent{false};
  renders.during = [&] {
    if (sent.exchange(true)) return;
    queue.Send(platform::kWmApp + 5, [&] {
      ++calls;
      if (platform::CurrentThread() == dialogThread) ++onDialogThread;
      return 0;
    });
  };
  PreviewModel model(view, renders.Function(), queue, errorText);
  model.SetUp();
  model.Tick();
  renders.WaitStarted(1);
  // Not pumped here: stopping must pump, or the worker never gets its answer.
  model.StopRender();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(onDialogThread, 1);
  EXPECT_EQ(model.state(), PreviewModel::kOutOfDate);
}

}  // namespace
}  // namespace kv
