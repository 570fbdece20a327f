#include "hosts/cli/interrupt.h"

#include <csignal>

namespace kv::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second Ctrl-C takes the default way out
  sigaction(SIGINT, &action, nullptr);
  // What schedulers send to end a job: stopped the same way, no half files.
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return interrupted != 0; }
void SetInterrupted(bool value) { interrupted = value ? 1 : 0; }

}  // namespace kv::cli
