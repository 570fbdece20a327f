// The effect's dialog window: the menus, the preview with its tools, the
// pages of parameter controls, the status bar and the buttons, all showing
// the session and handing every user action to it.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/preview_area.h"
#include "ui/toolkit_api.h"

namespace kv::toolkit {

class Script;

class Dialog final : public DialogWindow, public ControlHost {
 public:
  explicit Dialog(DialogSession& session);
  ~Dialog() override;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Opens the session, shows the dialog and returns when it ends: 0 OK,
  // 1 Cancel, Open's error, or -1 when a test script failed.
  int32_t Run();

  // DialogWindow
  void EndDialog(Result result) override;
  void EnableCommand(int32_t command, bool enabled) override;
  void CheckCommand(int32_t command, bool checked) override;
  void RefreshControls() override;
  void SetZoom(double zoom) override;
  void ShowNewPreview() override;
  void MarkPreviewOutOfDate() override;
  void ShowError(const std::string& text) override;
  void StartProgress() override;
  void SetProgress(double fraction) override;
  void EndProgress() override;
  std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                     const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;
  void SettingsChanged() override;
  void ShowAbout(const std::vector<std::string>& lines) override;

  // ControlHost
  void ShowRefusal(const std::string& text) override;
  void MarkersChanged() override;

  // What a test script reaches: controls by name, buttons and menu items
  // by their script names, keys as typed, the prompt on top, the preview's
  // state and a picture of the window on top.
  Control* FindControl(std::string_view name) const;
  std::string Click(std::string_view button);
  std::string Key(std::string_view keys);
  std::string Answer(std::string_view response);
  std::string Type(std::string_view text);
  std::string Select(std::string_view row);
  // The window's texts a script can check: "zoom", "effect", "status",
  // "title" (of the window on top), "window" ("x,y,width,height"), a
  // command's "enabled:NAME" and "checked:NAME", a slider's "track:NAME".
  std::optional<std::string> Shown(std::string_view what) const;
  void SetPreviewZoom(double zoom);
  // Where a hand on the title bar and the border would put the window.
  void MoveWindow(const Rect& window);
  bool PreviewCurrent() const { return preview_ != nullptr && preview_->Current(); }
  bool Ready() const { return preview_ != nullptr && preview_->Ready(); }
  // Clicks and keys run from the main loop: a prompt they open has a loop
  // of its own, in which the script goes on.
  bool Busy() const { return !later_.empty(); }
  // No action and no change waits: the preview is to show what the window shows.
  bool Settled() const;
  std::string Screenshot(const std::string& file) const;
  // Brings the page with that label (any letter case) to the front.
  std::string ShowPage(std::string_view label);
  void FailScript(const std::string& reason);
  const std::vector<std::string>& Errors() const { return errors_; }
  gint64 ShownAt() const { return shownAt_; }  // monotonic microseconds of the last new preview
  void Destroy() { gtk_widget_destroy(window_); }

 private:
  // A window opened over the dialog, on top until it closes.
  struct Prompt {
    GtkWidget* window;
    GtkWidget* entry = nullptr;  // the text it asks for
    GtkWidget* list = nullptr;   // the settings it manages
    std::map<std::string, gint, std::less<>> responses;
  };

  void Build();
  void Place();
  void KeepPlace();
  void BuildPages();
  GtkWidget* BuildToolbar();
  GtkWidget* BuildMenus();
  void BuildSettingsItems();
  void Connect(GtkWidget* widget, const char* signal, int32_t command);
  GtkWidget* Button(const char* name, const char* key, int32_t command);
  GtkWidget* MenuItem(GtkWidget* menu, const std::string& name, const std::string& label, int32_t command,
                      bool check = false);
  void Register(const std::string& name, GtkWidget* widget, int32_t command);
  void Accelerator(GtkWidget* widget, const char* signal, guint key, GdkModifierType mods);
  void RunCommand(int32_t command);
  void Later(std::function<void()> action);
  bool Clipboard(int32_t command);
  // The control whose widget has the keyboard and no text field of its own:
  // its value text is what the clipboard takes and gives.
  Control* ValueControl(GtkWidget* focus) const;
  void FocusChanged(GtkWidget* focus);
  bool KeyPressed(const GdkEventKey& key);
  void ManageSettings();
  void ShowZoom(double zoom);
  void Gone();
  void Close();
  GtkWidget* Top() const { return prompts_.empty() ? window_ : prompts_.back().window; }
  // Runs a prompt modally; the session's timer goes on meanwhile.
  gint RunPrompt(Prompt prompt);
  void DismissPrompts();

  DialogSession& session_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* heading_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* progress_ = nullptr;
  GtkWidget* zoomLabel_ = nullptr;
  GtkWidget* settingsMenu_ = nullptr;
  std::vector<GtkWidget*> settingsItems_;  // the stored settings' items, rebuilt when they change
  GtkAccelGroup* accelerators_ = nullptr;
  std::unique_ptr<PreviewArea> preview_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<std::string, GtkWidget*, std::less<>> buttons_;
  std::multimap<int32_t, GtkWidget*> commandWidgets_;
  std::map<int32_t, bool> commandStates_, commandChecks_;
  std::vector<Prompt> prompts_;
  std::vector<std::string> errors_;
  std::unique_ptr<Script> script_;
  GMainLoop* loop_ = nullptr;
  guint timer_ = 0;
  guint wakeup_ = 0;
  std::set<guint> later_;  // actions waiting for the main loop
  int checking_ = 0;  // set while the window sets a check mark, whose item then runs nothing
  bool built_ = false;
  bool closed_ = false;
  int32_t result_ = kCancel;
  bool scriptFailed_ = false;
  bool dismissing_ = false;  // the dialog ends: prompts close as they open
  gint64 shownAt_ = 0;
};

}  // namespace kv::toolkit
