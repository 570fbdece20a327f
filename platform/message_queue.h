// Stands in for window messages sent to the dialog's thread: another thread
// sends a call and waits; the owning thread runs it while it pumps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

constexpr int32_t kWmApp = 0x8000;

class MessageQueue {
 public:
  using Call = std::function<int32_t()>;

  // Runs `call` on the pumping thread and returns its result. Blocks the
  // sender until then; answers -1 once the queue is closed.
  int32_t Send(int32_t message, Call call);

  // Runs every call waiting now; returns how many ran.
  int Pump();
  // Waits up to `timeout` for a call, then pumps.
  int PumpFor(std::chrono::milliseconds timeout);

  // Refuses further sends and releases the senders still waiting.
  void Close();
  void Reopen();

  // A descriptor that turns readable while a call waits, for a window
  // system's loop to watch so that it pumps at once; -1 when none could be
  // made. Pump empties it.
  int WakeupDescriptor();
  // Turns the descriptor readable without a call: the pumping thread has
  // other work to do at once.
  void Wake();

  MessageQueue() = default;
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

 private:
  void WakeLocked();

  struct Pending {
    int32_t message;
    Call call;
    int32_t result = -1;
    bool done = false;
  };
  std::mutex mutex_;
  std::condition_variable posted_, finished_;
  std::deque<Pending*> queue_;
  bool closed_ = false;
  int wake_[2] = {-1, -1};  // read end, write end
};

}  // namespace platform
