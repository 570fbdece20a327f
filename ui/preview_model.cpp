#include "ui/preview_model.h"

#include "image/image.h"
#include "platform/string_table.h"

namespace kv {

namespace {

class FlagAbort final : public Abort_Tester {
 public:
  bool ShouldAbort() override { return PreviewAbortFlag().load(std::memory_order_relaxed); }
};

}  // namespace

std::atomic<bool>& PreviewAbortFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

class PreviewModel::Progress final : public ProgressUpdateSink {
 public:
  explicit Progress(std::atomic<double>& fraction) : fraction_(fraction) {}
  void Update(double fraction) override { fraction_.store(fraction, std::memory_order_relaxed); }

 private:
  std::atomic<double>& fraction_;
};

PreviewModel::PreviewModel(PreviewView& view, Render render, platform::MessageQueue& queue, const char* errorText)
    : view_(view), render_(std::move(render)), queue_(queue), errorText_(errorText) {}

PreviewModel::~PreviewModel() {
  if (state_ == kRunning) StopRender();
}

void PreviewModel::SetUp() {
  if (state_ != kNotSetUp) return;
  state_ = kOutOfDate;
  queue_.Wake();
}

void PreviewModel::Tick() {
  if (state_ == kOutOfDate) {
    state_ = kRunning;
    PreviewAbortFlag() = false;
    fraction_ = 0.0;
    view_.SetProgress(0.0);
    view_.StartProgress();
    workerDone_ = false;
    worker_ = std::thread([this] {
      FlagAbort abort;
      Progress progress(fraction_);
      int32_t result;
      try {
        result = render_(abort, progress);
      } catch (const std::bad_alloc&) {
        result = kErrOutOfMemory;
      } catch (...) {
        result = kErrGeneral;
      }
      result_ = result;
      workerDone_.store(true, std::memory_order_release);
      queue_.Wake();  // shown at once, not at the next tick
    });
    return;
  }
  if (state_ != kRunning) return;
  if (!workerDone_.load(std::memory_order_acquire)) {
    view_.SetProgress(fraction_.load(std::memory_order_relaxed));
    return;
  }
  worker_.join();
  view_.SetProgress(0.0);
  view_.EndProgress();
  Finish();
}

void PreviewModel::Finish() {
  switch (result_) {
    case 1:  // superseded: start again at the next tick
      state_ = kOutOfDate;
      break;
    case 0:
      state_ = kShown;
      view_.ShowNewPreview();
      break;
    case kErrOutOfMemory:
      view_.ShowError(strings::Text("Error - Out Of Memory Rendering Preview"));
      state_ = kFailed;
      break;
    case kErrGeneral:
      view_.ShowError(errorText_ != nullptr && errorText_[0] != '\0'
                          ? std::string(errorText_)
                          : strings::Text("Error - General Error Rendering Preview"));
      state_ = kFailed;
      break;
    default:
      view_.ShowError(strings::Text("Error - General Error Rendering Preview"));
      state_ = kFailed;
      break;
  }
  view_.SetProgress(0.0);
}

void PreviewModel::StopRender() {
  if (!worker_.joinable()) return;
  PreviewAbortFlag() = true;
  // The worker may be waiting for one of its host calls to run here.
  while (!workerDone_.load(std::memory_order_acquire)) {
    std::this_thread::yield();
    queue_.Pump();
  }
  worker_.join();
  view_.EndProgress();
  state_ = kOutOfDate;
}

void PreviewModel::Invalidate() {
  if (state_ == kNotSetUp) return;
  if (state_ == kRunning) StopRender();
  fraction_ = 0.0;
  view_.SetProgress(0.0);
  view_.MarkPreviewOutOfDate();
  state_ = kOutOfDate;
  queue_.Wake();  // the render starts at once, not at the next tick
}

}  // namespace kv
