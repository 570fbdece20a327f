#include "toolkit/script.h"

#include <cstdlib>

#include "toolkit/dialog.h"

namespace kv::toolkit {

namespace {

constexpr guint kStepMs = 50;
constexpr double kPreviewWaitSeconds = 120;  // sanitizer builds render slowly


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
}

Script::~Script() {
  if (source_ != 0) g_source_remove(source_);
}

void Script::Start() {
  source_ = g_timeout_add(kStepMs, +[](gpointer self) -> gboolean {
    static_cast<Script*>(self)->Next();
    return G_SOURCE_CONTINUE;
  }, this);
}

void Script::Next() {
  if (next_ >= steps_.size()) {
    g_source_remove(source_);
    source_ = 0;
    return;
  }
  if (!dialog_.Ready()) return;  // as a user, who starts once the window stands
  if (waitingSince_ < 0) {
    waitingSince_ = g_get_monotonic_time();
    errorsBefore_ = dialog_.Errors().size();
  }
  const std::string& step = steps_[next_];
  if (!Step(step)) return;
  ++next_;
  waitingSince_ = -1;
}

bool Script::Step(const std::string& step) {
  const size_t gap = step.find(' ');
  const std::string verb = step.substr(0, gap);
  const std::string rest = gap == std::string::npos ? std::string() : std::string(Trim(step.substr(gap + 1)));
  const double waited = (g_get_monotonic_time() - waitingSince_) / 1e6;
  std::string failure;

  if (verb == "set") {
    const size_t eq = rest.find('=');
    Control* control = eq == std::string::npos ? nullptr : dialog_.FindControl(std::string(Trim(rest.substr(0, eq))));
    if (control == nullptr) failure = "no control \"" + rest.substr(0, eq) + "\"";
    else if (!control->Enabled()) failure = control->Spec().name + " is greyed out";
    else failure = control->Enter(Trim(rest.substr(eq + 1)));
  } else if (verb == "click" || verb == "ok" || verb == "cancel") {
    failure = dialog_.Click(verb == "click" ? rest : verb);
  } else if (verb == "wait-preview") {
    const double limit = rest.empty() ? kPreviewWaitSeconds : std::atof(rest.c_str());
    if (dialog_.Errors().size() > errorsBefore_) failure = "the preview failed: " + dialog_.Errors().back();
    else if (dialog_.PreviewCurrent()) return true;
    else if (waited < limit) return false;
    else failure = "no preview after " + std::to_string(static_cast<int>(limit)) + " s";
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
    dialog_.FailScript("\"" + step + "\": " + failure);
  }
  return true;
}

}  // namespace kv::toolkit
