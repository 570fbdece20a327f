// The effect's dialog window: the preview with its tools, the pages of
// parameter controls, the status bar and the buttons, all showing the
// session and handing every user action to it.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <optional>
#include <memory>
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

  // ControlHost
  void ShowRefusal(const std::string& text) override;
  void MarkersChanged() override;

  // What a test script reaches: controls by name, buttons by their script
  // names, the preview's state and a picture of the window.
  Control* FindControl(std::string_view name) const;
  std::string Click(std::string_view button);
  bool PreviewCurrent() const { return preview_ != nullptr && preview_->Current(); }
  bool Ready() const { return preview_ != nullptr && preview_->Ready(); }
  std::string Screenshot(const std::string& file) const;
  // Brings the page with that label (any letter case) to the front.
  std::string ShowPage(std::string_view label);
  void FailScript(const std::string& reason);
  const std::vector<std::string>& Errors() const { return errors_; }

 private:
  void Build();
  void BuildPages();
  GtkWidget* BuildToolbar();
  GtkWidget* BuildMenus();
  void Connect(GtkWidget* widget, const char* signal, int32_t command);
  GtkWidget* Button(const char* name, const char* key, int32_t command);
  GtkWidget* MenuItem(GtkWidget* menu, const char* name, const char* key, int32_t command);
  void Register(const char* name, GtkWidget* widget, int32_t command);
  void Accelerator(GtkWidget* widget, const char* signal, guint key, GdkModifierType mods);
  void RunCommand(int32_t command);
  void ShowZoom(double zoom);
  void Close();
  // Runs a prompt of the session's: the timer leaves the session alone meanwhile.
  gint RunPrompt(GtkWidget* prompt);

  DialogSession& session_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* progress_ = nullptr;
  GtkWidget* zoomLabel_ = nullptr;
  GtkAccelGroup* accelerators_ = nullptr;
  std::unique_ptr<PreviewArea> preview_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::string title_;
  std::map<std::string, GtkWidget*, std::less<>> buttons_;
  std::multimap<int32_t, GtkWidget*> commandWidgets_;
  std::map<int32_t, bool> commandStates_;
  std::vector<std::string> errors_;
  std::unique_ptr<Script> script_;
  GMainLoop* loop_ = nullptr;
  guint timer_ = 0;
  guint wakeup_ = 0;
  bool built_ = false;
  bool closed_ = false;
  int prompting_ = 0;
  int32_t result_ = kCancel;
  bool scriptFailed_ = false;
};

}  // namespace kv::toolkit
