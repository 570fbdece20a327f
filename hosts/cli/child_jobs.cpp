#include "hosts/cli/child_jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <system_error>
#include <vector>

#include "hosts/cli/apply_command.h"

namespace kv::cli {

namespace {

[[noreturn]] void SystemFailure(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Each running child's fraction done, in per mille, in memory the children
// share with this process, one slot a child.
class ProgressSlots {
 public:
  explicit ProgressSlots(size_t count) : count_(count) {
    void* memory = ::mmap(nullptr, Bytes(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) SystemFailure("cannot share memory with the jobs");
    slots_ = static_cast<int32_t*>(memory);
  }
  ~ProgressSlots() { ::munmap(slots_, Bytes()); }
  ProgressSlots(const ProgressSlots&) = delete;
  ProgressSlots& operator=(const ProgressSlots&) = delete;

  std::atomic_ref<int32_t> operator[](size_t slot) { return std::atomic_ref<int32_t>(slots_[slot]); }

 private:
  size_t Bytes() const { return count_ * sizeof(int32_t); }
  size_t count_;
  int32_t* slots_ = nullptr;
};

struct Child {
  pid_t pid = -1;  // -1: the slot is free
  int fd = -1;     // the read end of the child's stderr
  size_t index = 0;
  std::string output;
};

[[noreturn]] void RunInChild(const JobTask& task, size_t index, int errFd, std::atomic_ref<int32_t> progress) {
  ::setpgid(0, 0);
  ::dup2(errFd, STDERR_FILENO);
  ::close(errFd);
  int status = kExitEffect;
  try {
    status = task(index, [&progress](double fraction) {
      progress.store(int32_t(std::clamp(fraction, 0.0, 1.0) * 1000.0), std::memory_order_relaxed);
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kalvero: %s\n", e.what());
  }
  std::fflush(nullptr);
  // Without the parent's exit handlers: they belong to the parent.
  ::_exit(status);
}

JobResult Reap(Child& child) {
  JobResult result;
  int wait = 0;
  while (::waitpid(child.pid, &wait, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait)) {
    result.status = WEXITSTATUS(wait);
  } else {
    result.signal = WIFSIGNALED(wait) ? WTERMSIG(wait) : 0;
    // A second Ctrl-C ends a child at once: stopped, not failed.
    result.status = result.signal == SIGINT || result.signal == SIGTERM ? kExitCancelled : kExitEffect;
  }
  result.output = std::move(child.output);
  ::close(child.fd);
  child = Child{};
  return result;
}

}  // namespace

int32_t AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
}

void RunChildJobs(size_t count, int32_t jobs, const JobTask& task, const JobEvents& events) {
  const size_t slots = std::max<size_t>(1, std::min<size_t>(size_t(std::max(jobs, 1)), count));
  ProgressSlots progress(slots);
  std::vector<Child> children(slots);
  size_t next = 0, running = 0, finished = 0;
  bool stopping = false;
  std::exception_ptr failure;

  const auto start = [&](size_t slot) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) SystemFailure("cannot start a job");
    progress[slot].store(0);
    std::fflush(nullptr);  // or the child would write this process's buffered output again
    const pid_t pid = ::fork();
    if (pid < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      SystemFailure("cannot start a job");
    }
    if (pid == 0) {
      ::close(fds[0]);
      RunInChild(task, next, fds[1], progress[slot]);
    }
    ::close(fds[1]);
    children[slot] = Child{pid, fds[0], next, {}};
    ++next;
    ++running;
  };

  std::vector<pollfd> polled;
  std::vector<size_t> polledSlot;
  while (running > 0 || (next < count && !stopping)) {
    if (!stopping && events.stop && events.stop()) {
      stopping = true;
      for (const Child& c : children)
        if (c.pid > 0) ::kill(c.pid, SIGINT);
    }
    for (size_t slot = 0; slot < slots && !stopping && next < count; ++slot) {
      if (children[slot].pid > 0) continue;
      try {
        start(slot);
      } catch (const std::system_error&) {
        // The children running are waited for before the failure is told.
        if (running == 0) throw;
        failure = std::current_exception();
        stopping = true;
      }
    }
    if (running == 0) break;

    polled.clear();
    polledSlot.clear();
    for (size_t slot = 0; slot < slots; ++slot)
      if (children[slot].pid > 0) {
        polled.push_back({children[slot].fd, POLLIN, 0});
        polledSlot.push_back(slot);
      }
    if (::poll(polled.data(), polled.size(), 100) < 0 && errno != EINTR) SystemFailure("cannot watch the jobs");
    for (size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      Child& child = children[polledSlot[i]];
      char buffer[4096];
      const ssize_t n = ::read(child.fd, buffer, sizeof buffer);
      if (n > 0) {
        child.output.append(buffer, size_t(n));
      } else if (n == 0 || errno != EINTR) {  // the child has closed stderr: it is ending
        const size_t index = child.index;
        const JobResult result = Reap(child);
        --running;
        ++finished;
        if (events.finished) events.finished(index, result);
      }
    }
    if (events.tick) {
      double share = 0.0;
      for (size_t slot = 0; slot < slots; ++slot)
        if (children[slot].pid > 0) share += progress[slot].load(std::memory_order_relaxed) / 1000.0;
      events.tick(double(finished) + share);
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kv::cli
