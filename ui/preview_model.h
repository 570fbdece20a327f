// The preview behind an effect's dialog: a state machine advanced by the
// dialog's 100 ms timer that renders on one worker thread while the user
// keeps working, and stops that render whenever what it shows goes stale.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "image/progress.h"
#include "platform/message_queue.h"
#include "ui/toolkit_api.h"

namespace kv {

// Set to ask the running preview render to stop; its abort test reads it.
std::atomic<bool>& PreviewAbortFlag();

class PreviewModel {
 public:
  enum State : int32_t { kNotSetUp = 0, kShown = 1, kOutOfDate = 2, kRunning = 3, kFailed = 4 };

  // Renders the preview on the worker thread: 0, 1 when stopped, or an
  // error code. It must poll `abort` and may report to `progress`.
  using Render = std::function<int32_t(Abort_Tester& abort, ProgressUpdateSink& progress)>;

  // `queue` carries the worker's host calls to the dialog's thread;
  // `errorText` is the run record's text an effect may leave on failure.
  PreviewModel(PreviewView& view, Render render, platform::MessageQueue& queue, const char* errorText);
  ~PreviewModel();
  PreviewModel(const PreviewModel&) = delete;
  PreviewModel& operator=(const PreviewModel&) = delete;

  // The preview source and control exist: the next tick starts a render.
  void SetUp();
  void Tick();
  void Invalidate();
  // Stops a running render and waits for it, pumping the worker's host
  // calls meanwhile.
  void StopRender();

  State state() const { return state_; }
  bool Running() const { return state_ == kRunning; }

 private:
  class Progress;
  void Finish();

  PreviewView& view_;
  Render render_;
  platform::MessageQueue& queue_;
  const char* errorText_;
  State state_ = kNotSetUp;
  std::thread worker_;
  std::atomic<bool> workerDone_{false};
  std::atomic<double> fraction_{0.0};
  int32_t result_ = 0;  // written by the worker before it ends
};

}  // namespace kv
