#include "platform/message_queue.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

int32_t MessageQueue::Send(int32_t message, Call call) {
  Pending pending{message, std::move(call)};
  std::unique_lock lock(mutex_);
  if (closed_) return -1;
  queue_.push_back(&pending);
  posted_.notify_all();
  WakeLocked();
  finished_.wait(lock, [&] { return pending.done; });
  return pending.result;
}

int MessageQueue::Pump() {
  int ran = 0;
  std::unique_lock lock(mutex_);
  if (wake_[0] >= 0) {
    char bytes[64];
    while (::read(wake_[0], bytes, sizeof bytes) > 0) {
    }
  }
  while (!queue_.empty()) {
    Pending* next = queue_.front();
    queue_.pop_front();
    lock.unlock();
    int32_t result = -1;
    try {
      result = next->call();
    } catch (...) {
      result = -1;
    }
    lock.lock();
    next->result = result;
    next->done = true;
    finished_.notify_all();
    ++ran;
  }
  return ran;
}

int MessageQueue::PumpFor(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
  }
  return Pump();
}

void MessageQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (Pending* p : queue_) {
    p->result = -1;
    p->done = true;
  }
  queue_.clear();
  finished_.notify_all();
}

int MessageQueue::WakeupDescriptor() {
  std::lock_guard lock(mutex_);
  if (wake_[0] < 0 && ::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  return wake_[0];
}

void MessageQueue::Wake() {
  std::lock_guard lock(mutex_);
  WakeLocked();
}

void MessageQueue::WakeLocked() {
  if (wake_[1] < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);  // a full pipe is awake already
}

MessageQueue::~MessageQueue() {
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

void MessageQueue::Reopen() {
  std::lock_guard lock(mutex_);
  closed_ = false;
}

}  // namespace platform
