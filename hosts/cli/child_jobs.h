// Tasks run in child processes, a few at a time. Each child is a fork of
// this process that runs one task and exits: every render gets a core of
// its own (a core runs one selector at a time in its process), and a crash
// ends only its own task.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kv::cli {

struct JobResult {
  int status = 0;      // the task's result; for a signal, kExitCancelled or kExitEffect
  int signal = 0;      // that signal, else 0
  std::string output;  // what the child wrote to stderr
};

// A task reports the fraction of its work done, 0 to 1.
using JobProgress = std::function<void(double fraction)>;
using JobTask = std::function<int(size_t index, const JobProgress& progress)>;

struct JobEvents {
  std::function<void(size_t index, const JobResult& result)> finished;
  // A few times a second: the tasks finished and the running tasks' share
  // of a task each.
  std::function<void(double running)> tick;
  // Asked between tasks: true starts no more, and the running ones are sent
  // SIGINT once, as Ctrl-C would.
  std::function<bool()> stop;
};

// Runs tasks 0..count-1 in order, at most `jobs` at once, and returns when
// every child started has ended. The children have process groups of their
// own, so a Ctrl-C at the terminal reaches only this process, which passes
// it on. Throws std::system_error when a child cannot be started, once the
// children running have ended.
void RunChildJobs(size_t count, int32_t jobs, const JobTask& task, const JobEvents& events);

// The processors this process may run on.
int32_t AvailableCores();

}  // namespace kv::cli
