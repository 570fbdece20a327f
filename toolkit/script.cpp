#include "toolkit/script.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "toolkit/dialog.h"

namespace kv::toolkit {

namespace {

constexpr guint kStepMs = 50;
constexpr guint kWatchMs = 5;
constexpr int kDragMoves = 6;
constexpr double kDragMove = 0.02;  // of the track, between two moves
constexpr double kPreviewWaitSeconds = 120;  // sanitizer builds render slowly

// The steps played so far, for the next dialog of this process.
struct Played {
  std::string text;
  size_t next = 0;
};
Played& SharedPlayed() {
  static Played played;
  return played;
}

}  // namespace

Script::Script(Dialog& dialog, const std::string& text) : dialog_(dialog) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(";\n", start);
    if (end == std::string::npos) end = text.size();
    std::string step(Trim(std::string_view(text).substr(start, end - start)));
    if (!step.empty()) steps_.push_back(std::move(step));
    start = end + 1;
  }
  Played& played = SharedPlayed();
  if (played.text == text && played.next < steps_.size()) next_ = played.next;
  played = {text, next_};
}

Script::~Script() { Stop(); }

void Script::Start() {
  source_ = g_timeout_add(kStepMs, +[](gpointer self) -> gboolean {
    static_cast<Script*>(self)->Next();
    return G_SOURCE_CONTINUE;
  }, this);
  // How long the window's loop goes without a turn: no turn, no repaint.
  watch_ = g_timeout_add_full(G_PRIORITY_HIGH, kWatchMs, +[](gpointer self) -> gboolean {
    static_cast<Script*>(self)->Watch();
    return G_SOURCE_CONTINUE;
  }, this, nullptr);
}

void Script::Stop() {
  for (guint* source : {&source_, &watch_}) {
    if (*source != 0) g_source_remove(*source);
    *source = 0;
  }
}

void Script::Watch() {
  const gint64 now = g_get_monotonic_time();
  if (lastBeat_ >= 0 && now - lastBeat_ > longestStall_) longestStall_ = now - lastBeat_;
  lastBeat_ = now;
}

void Script::Next() {
  if (next_ >= steps_.size()) {
    Stop();
    return;
  }
  // As a user, who starts once the window stands and whose last action has begun.
  if (!dialog_.Ready() || dialog_.Busy()) return;
  if (waitingSince_ < 0) {
    waitingSince_ = g_get_monotonic_time();
    errorsBefore_ = dialog_.Errors().size();
  }
  const std::string step = steps_[next_];
  if (!Step(step)) return;
  ++next_;
  if (next_ > SharedPlayed().next) SharedPlayed().next = next_;
  waitingSince_ = -1;
}

bool Script::Step(const std::string& step) {
  const size_t gap = step.find(' ');
  const std::string verb = step.substr(0, gap);
  const std::string rest = gap == std::string::npos ? std::string() : std::string(Trim(step.substr(gap + 1)));
  const size_t eq = rest.find('=');
  const std::string name = eq == std::string::npos ? rest : std::string(Trim(rest.substr(0, eq)));
  const std::string value = eq == std::string::npos ? std::string() : std::string(Trim(rest.substr(eq + 1)));
  const double waited = (g_get_monotonic_time() - waitingSince_) / 1e6;
  std::string failure;

  if (verb == "set" || verb == "drag" || verb == "release" || verb == "focus") {
    Control* control = dialog_.FindControl(name);
    if (control == nullptr) {
      failure = "no control \"" + name + "\"";
    } else if (!control->Enabled()) {
      failure = control->Spec().name + " is greyed out";
    } else if (verb == "set") {
      failure = control->Enter(value);
    } else if (verb == "release") {
      failure = control->Drag(std::nullopt);
      restedAt_ = -1;
    } else if (verb == "focus") {
      failure = control->Focus();
    } else {
      // A hand that slows to a stop on the place.
      const double to = std::atof(value.c_str());
      failure = control->Drag(to - (kDragMoves - 1 - dragMoves_) * kDragMove);
      restedAt_ = g_get_monotonic_time();
      longestStall_ = 0;
      if (failure.empty() && ++dragMoves_ < kDragMoves) return false;
      dragMoves_ = 0;
    }
  } else if (verb == "click" || verb == "ok" || verb == "cancel") {
    failure = dialog_.Click(verb == "click" ? rest : verb);
  } else if (verb == "key") {
    failure = dialog_.Key(rest);
  } else if (verb == "answer") {
    failure = dialog_.Answer(rest);
  } else if (verb == "type") {
    failure = dialog_.Type(rest);
  } else if (verb == "select") {
    failure = dialog_.Select(rest);
  } else if (verb == "expect") {
    const std::optional<std::string> shown = dialog_.Shown(name);
    if (!shown) failure = "nothing called \"" + name + "\" shows";
    else if (*shown != value) failure = name + " shows \"" + *shown + "\"";
  } else if (verb == "zoom") {
    dialog_.SetPreviewZoom(std::atof(rest.c_str()));
  } else if (verb == "place") {
    int x, y, w, h;
    if (std::sscanf(rest.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) != 4) failure = "place takes x,y,width,height";
    else dialog_.MoveWindow({x, y, x + w, y + h});
  } else if (verb == "destroy") {
    dialog_.Destroy();
  } else if (verb == "wait-preview") {
    const double limit = rest.empty() ? kPreviewWaitSeconds : std::atof(rest.c_str());
    if (dialog_.Errors().size() > errorsBefore_) {
      failure = "the preview failed: " + dialog_.Errors().back();
    } else if (dialog_.Settled() && dialog_.PreviewCurrent()) {
      if (restedAt_ >= 0)
        std::fprintf(stderr, "kalvero-toolkit: preview shown %.0f ms after the pointer rested; longest stall %.0f ms\n",
                     (dialog_.ShownAt() - restedAt_) / 1e3, longestStall_ / 1e3);
      restedAt_ = -1;
      return true;
    } else if (waited < limit) {
      return false;
    } else {
      failure = "no preview after " + std::to_string(static_cast<int>(limit)) + " s";
    }
  } else if (verb == "wait") {
    return waited * 1000 >= std::atof(rest.c_str());
  } else if (verb == "page") {
    failure = dialog_.ShowPage(rest);
  } else if (verb == "screenshot") {
    failure = dialog_.Screenshot(rest);
  } else {
    failure = "unknown step";
  }
  if (!failure.empty()) {
    next_ = steps_.size();
    SharedPlayed().next = next_;
    dialog_.FailScript("\"" + step + "\": " + failure);
  }
  return true;
}

}  // namespace kv::toolkit
