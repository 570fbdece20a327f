#include "tests/toolkit/x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace kv::toolkit::test {

const char* const kLibraryLeaks = "leak:libfontconfig\nleak:libOSMesa.so\nleak:libLLVM\nleak:libglapi.so\n";

extern "C" const char* __lsan_default_suppressions() { return kLibraryLeaks; }

namespace {

std::string FindProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::filesystem::path p = std::filesystem::path(dir) / name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

}  // namespace

XServer& XServer::Shared() {
  static XServer server;
  return server;
}

XServer::XServer() {
  // Accessibility would look for a session bus the tests do not have.
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GDK_BACKEND", "x11", 1);
  const std::string xvfb = FindProgram("Xvfb");
  int fds[2];
  if (xvfb.empty() || pipe(fds) != 0) {
    if (const char* d = std::getenv("DISPLAY"); d != nullptr) display_ = d;
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    // Quiet, and gone with the test even when the test is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    const std::string fd = std::to_string(fds[1]);
    execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes the number of the display it took once it accepts clients.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c;
  while (pid_ > 0 && poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) {
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
}

XServer::~XServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

}  // namespace kv::toolkit::test
