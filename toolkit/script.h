// A test driver inside the dialog: when KALVERO_TOOLKIT_SCRIPT holds steps
// such as "set Amount=40; wait-preview; screenshot out.png; ok", they are
// played through the same widgets, signals and key events a user's actions
// reach, so that end-to-end tests need no pointer-driving tool. Steps:
//   set NAME=VALUE          a control's value, as typed or picked
//   drag NAME=POSITION      its slider's button held and moved to 0..1 of the track
//   release NAME            the button up again
//   focus NAME              the keyboard to its text field
//   click NAME              a button or menu item ("save-setting", "setting:Soft")
//   page LABEL              the page with that label to the front
//   key KEYS                "ctrl+z", "Page_Down", "Escape" to the window on top
//   ok, cancel              the dialog's buttons
//   type TEXT               into the prompt on top
//   select NAME             a row of the manage-settings window
//   answer NAME             the prompt's button: ok, cancel, yes, no, delete, rename, close
//   expect WHAT=TEXT        a control's shown value, or "zoom", "effect", "status",
//                           "title", "window", "enabled:NAME", "checked:NAME",
//                           "track:NAME" (its slider's place, two decimals)
//   zoom Z                  the preview's zoom, as the view sets it
//   place X,Y,WIDTH,HEIGHT  the window moved and sized
//   wait-preview [SECONDS]  until the preview shows the values; after a drag it
//                           reports how long that took
//   wait MILLISECONDS, screenshot FILE (the window on top), destroy
// A dialog that ends in the middle (a switch to another effect) leaves the
// rest of the steps to the dialog that follows in the same process.
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
  void Stop();

 private:
  // true when the step is done, false while it waits.
  bool Step(const std::string& step);
  void Next();
  void Watch();

  Dialog& dialog_;
  std::vector<std::string> steps_;
  size_t next_ = 0;
  gint64 waitingSince_ = -1;  // monotonic microseconds
  size_t errorsBefore_ = 0;   // the errors shown before the step began
  int dragMoves_ = 0;
  gint64 restedAt_ = -1;     // when a drag last moved
  gint64 lastBeat_ = -1;     // the watch's last turn
  gint64 longestStall_ = 0;  // since the drag rested
  guint source_ = 0, watch_ = 0;
};

}  // namespace kv::toolkit
