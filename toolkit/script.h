// A test driver inside the dialog: when KALVERO_TOOLKIT_SCRIPT holds steps
// such as "set Amount=40; wait-preview; screenshot out.png; ok", they are
// played through the same widgets and signals a user's actions reach, so
// that end-to-end tests need no pointer-driving tool. Steps: set NAME=VALUE,
// click BUTTON, page LABEL, wait-preview [SECONDS], wait MILLISECONDS,
// screenshot FILE, ok, cancel.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kv::toolkit {

class Dialog;

class Script {
 public:
  Script(Dialog& dialog, const std::string& text);
  ~Script();
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  // Plays the steps from the main loop, one at a time.
  void Start();

 private:
  // true when the step is done, false while it waits.
  bool Step(const std::string& step);
  void Next();

  Dialog& dialog_;
  std::vector<std::string> steps_;
  size_t next_ = 0;
  gint64 waitingSince_ = -1;  // monotonic microseconds
  size_t errorsBefore_ = 0;   // the errors shown before the step began
  guint source_ = 0;
};

}  // namespace kv::toolkit
