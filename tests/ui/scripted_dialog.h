// A toolkit whose run a test scripts: the session opens on a recording
// window, the script plays the user and turns the timer by hand, and its
// answer is the toolkit's.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "tests/ui/recording_window.h"
#include "ui/dialog_session.h"
#include "ui/toolkit_api.h"

namespace kv::test {

using DialogScript = std::function<int32_t(toolkit::DialogSession&, RecordingWindow&)>;

inline DialogScript& CurrentDialogScript() {
  static DialogScript script;
  return script;
}

inline int32_t ScriptedToolkit(toolkit::DialogSession& session) {
  RecordingWindow window;
  if (int32_t err = session.Open(window)) return err;
  return CurrentDialogScript()(session, window);
}

// A dialog runner for SetDialogRunner.
inline int32_t ScriptedDialogRunner(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block) {
  return RunDialogWith(&ScriptedToolkit, host, run, block);
}

// The timer, turned until `done`: bounded generously so that a slow machine
// never fails it and a hang still ends.
template <class Done>
bool TickUntil(toolkit::DialogSession& session, Done done) {
  for (int i = 0; i < 20000; ++i) {
    if (done()) return true;
    session.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

}  // namespace kv::test
