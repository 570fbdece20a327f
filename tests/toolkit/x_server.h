// A private X server for the dialog's tests, so that they run the same on
// a desktop, on a headless machine and side by side.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv::toolkit::test {

class XServer {
 public:
  // The process's one server: GTK keeps its first display for good.
  static XServer& Shared();

  // Starts Xvfb and points DISPLAY at it; without Xvfb, an existing
  // DISPLAY is used. Running() says whether there is a display at all.
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  bool Running() const { return !display_.empty(); }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// What LeakSanitizer is to overlook: fontconfig, under GTK, drops some of
// its caches without freeing them, and Mesa, which the 3D effects render
// through, keeps its contexts for the life of the process.
extern const char* const kLibraryLeaks;

}  // namespace kv::toolkit::test
