#include "toolkit/dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <glib-unix.h>

#include "toolkit/script.h"

namespace kv::toolkit {

namespace {

constexpr guint kTickMs = 100;
constexpr int kPagesWidth = 400;

struct CommandData {
  Dialog* dialog;
  int32_t command;
};

std::string ZoomText(double zoom) {
  char text[32];
  std::snprintf(text, sizeof text, zoom * 100 >= 10 ? "%.0f%%" : "%.2f%%", zoom * 100);
  return text;
}

GtkWidget* Grid() {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  g_object_set(grid, "margin", 10, nullptr);
  return grid;
}

}  // namespace

Dialog::Dialog(DialogSession& session) : session_(session) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window_);
  loop_ = g_main_loop_new(nullptr, FALSE);
}

Dialog::~Dialog() {
  Close();
  script_.reset();
  preview_.reset();
  controls_.clear();
  g_object_unref(window_);
  g_main_loop_unref(loop_);
}

int32_t Dialog::Run() {
  const int32_t err = session_.Open(*this);
  if (err != 0) return err;
  Build();
  timer_ = g_timeout_add(kTickMs, +[](gpointer self) -> gboolean {
    auto* dialog = static_cast<Dialog*>(self);
    if (dialog->prompting_ == 0) dialog->session_.Tick();
    return G_SOURCE_CONTINUE;
  }, this);
  // A worker waiting for a host call need not wait for the timer too.
  if (const int fd = session_.WakeupDescriptor(); fd >= 0) {
    wakeup_ = g_unix_fd_add(fd, G_IO_IN, +[](gint, GIOCondition, gpointer self) -> gboolean {
      auto* dialog = static_cast<Dialog*>(self);
      if (dialog->prompting_ == 0) dialog->session_.Tick();
      return G_SOURCE_CONTINUE;
    }, this);
  }
  if (const char* steps = std::getenv("KALVERO_TOOLKIT_SCRIPT"); steps != nullptr && *steps != '\0') {
    script_ = std::make_unique<Script>(*this, steps);
    script_->Start();
  }
  g_main_loop_run(loop_);
  Close();
  return scriptFailed_ ? -1 : result_;
}

void Dialog::Close() {
  for (guint* source : {&timer_, &wakeup_}) {
    if (*source != 0) g_source_remove(*source);
    *source = 0;
  }
  if (closed_) return;
  closed_ = true;
  built_ = false;
  // Nothing of ours may reach the session or the widgets from here on.
  script_.reset();
  if (preview_ != nullptr) preview_->Stop();
  status_ = progress_ = zoomLabel_ = nullptr;
  for (auto& c : controls_) c->Detach();
  gtk_widget_destroy(window_);  // a toplevel is GTK's until destroyed, shown or not
  // Let the window go from the screen before the run goes on.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

// --- building -------------------------------------------------------------------

void Dialog::Build() {
  built_ = true;
  title_ = session_.Title();
  gtk_window_set_title(GTK_WINDOW(window_), title_.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window_), 1000, 640);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
  accelerators_ = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window_), accelerators_);
  g_object_unref(accelerators_);
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     static_cast<Dialog*>(self)->RunCommand(kCommandCancelButton);
                     return TRUE;
                   }),
                   this);

  preview_ = std::make_unique<PreviewArea>(session_, [this](double zoom) { ShowZoom(zoom); });
  GtkWidget* previewFrame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(previewFrame), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(previewFrame), preview_->Widget());

  GtkWidget* left = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_box_pack_start(GTK_BOX(left), BuildToolbar(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(left), previewFrame, TRUE, TRUE, 0);

  notebook_ = gtk_notebook_new();
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook_), TRUE);
  BuildPages();

  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 6);
  GtkWidget* cancel = Button("cancel", "Cancel", kCommandCancelButton);
  GtkWidget* ok = Button("ok", "OK", kCommandOKButton);
  gtk_container_add(GTK_CONTAINER(buttons), cancel);
  gtk_container_add(GTK_CONTAINER(buttons), ok);
  gtk_widget_set_can_default(ok, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), ok);
  Accelerator(cancel, "clicked", GDK_KEY_Escape, GdkModifierType(0));

  GtkWidget* right = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_size_request(right, kPagesWidth, -1);
  gtk_box_pack_start(GTK_BOX(right), BuildMenus(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(right), notebook_, TRUE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(right), buttons, FALSE, FALSE, 0);

  GtkWidget* main = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
  g_object_set(main, "margin", 8, nullptr);
  gtk_box_pack_start(GTK_BOX(main), left, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(main), right, FALSE, FALSE, 0);

  // The status bar: the last refusal, the preview's progress, the zoom.
  status_ = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(status_), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(status_), PANGO_ELLIPSIZE_END);
  progress_ = gtk_progress_bar_new();
  gtk_widget_set_size_request(progress_, 160, -1);
  gtk_widget_set_valign(progress_, GTK_ALIGN_CENTER);
  gtk_widget_set_no_show_all(progress_, TRUE);
  zoomLabel_ = gtk_label_new("");
  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  g_object_set(bar, "margin-start", 10, "margin-end", 10, "margin-top", 3, "margin-bottom", 5, nullptr);
  gtk_box_pack_start(GTK_BOX(bar), status_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(bar), progress_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), zoomLabel_, FALSE, FALSE, 0);
  ShowZoom(preview_->Zoom());

  GtkWidget* all = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_pack_start(GTK_BOX(all), main, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(all), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(all), bar, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window_), all);
  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(ok);
}

void Dialog::BuildPages() {
  const std::vector<std::string> labels = session_.PageLabels();
  const std::vector<ControlSpec> specs = session_.Controls();
  std::vector<GtkWidget*> grids;
  std::vector<int> rows;
  for (const auto& label : labels) {
    grids.push_back(Grid());
    rows.push_back(0);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroll), grids.back());
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), scroll, gtk_label_new(label.c_str()));
  }
  if (grids.empty()) {  // a session without pages still shows its controls
    grids.push_back(Grid());
    rows.push_back(0);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), grids.back(), gtk_label_new(session_.Text("Basic").c_str()));
  }
  std::vector<MarkerControl*> markers;
  std::vector<ArrangementControl*> arrangements;
  for (size_t i = 0; i < specs.size(); ++i) {
    const size_t page = specs[i].page >= 0 && static_cast<size_t>(specs[i].page) < grids.size() ? specs[i].page : 0;
    auto control = MakeControl(session_, *this, static_cast<int32_t>(i), specs[i], GTK_GRID(grids[page]), rows[page]);
    if (specs[i].kind == ControlKind::kPosition) markers.push_back(static_cast<MarkerControl*>(control.get()));
    else ++rows[page];
    if (specs[i].kind == ControlKind::kArrangement) arrangements.push_back(static_cast<ArrangementControl*>(control.get()));
    controls_.push_back(std::move(control));
  }
  preview_->SetMarkers(markers);
  preview_->SetArrangements(arrangements);
  // Bound last: Bind may grey controls out at once.
  for (auto& c : controls_) session_.Bind(c->Index(), *c);
}

GtkWidget* Dialog::BuildToolbar() {
  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  auto add = [bar](GtkWidget* w) { gtk_box_pack_start(GTK_BOX(bar), w, FALSE, FALSE, 0); };
  GtkWidget* out = Button("zoom-out", "Zoom Out", kCommandZoomOut);
  GtkWidget* in = Button("zoom-in", "Zoom In", kCommandZoomIn);
  GtkWidget* one = Button("zoom-1", "Actual Pixels", kCommandZoomOne);
  Accelerator(out, "clicked", GDK_KEY_minus, GDK_CONTROL_MASK);
  Accelerator(in, "clicked", GDK_KEY_plus, GDK_CONTROL_MASK);
  Accelerator(in, "clicked", GDK_KEY_equal, GDK_CONTROL_MASK);
  Accelerator(one, "clicked", GDK_KEY_0, GDK_CONTROL_MASK);
  add(out);
  add(in);
  add(one);

  GtkWidget* unprocessed = gtk_toggle_button_new_with_label(session_.Text("Show Unprocessed").c_str());
  Register("unprocessed", unprocessed, 0);
  g_signal_connect(unprocessed, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                     static_cast<Dialog*>(self)->preview_->ShowUnprocessed(gtk_toggle_button_get_active(b));
                   }),
                   this);
  add(unprocessed);

  add(gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  GtkWidget* undo = Button("undo", "Undo", kCommandUndo);
  GtkWidget* redo = Button("redo", "Redo", kCommandRedo);
  Accelerator(undo, "clicked", GDK_KEY_z, GDK_CONTROL_MASK);
  Accelerator(redo, "clicked", GDK_KEY_y, GDK_CONTROL_MASK);
  Accelerator(redo, "clicked", GDK_KEY_z, GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK));
  add(undo);
  add(redo);
  add(Button("reset", "Reset", kCommandReset));
  return bar;
}

GtkWidget* Dialog::BuildMenus() {
  GtkWidget* bar = gtk_menu_bar_new();
  auto submenu = [this, bar](const char* key) {
    GtkWidget* item = gtk_menu_item_new_with_label(session_.Text(key).c_str());
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
    return menu;
  };
  GtkWidget* settings = submenu("Settings");
  MenuItem(settings, "save-setting", "Save Setting", kCommandSaveSetting);
  MenuItem(settings, "last-used", "Last Used", kCommandLastUsed);
  MenuItem(settings, "reset-menu", "Reset", kCommandReset);
  GtkWidget* effect = submenu("Effect");
  GtkWidget* previous = MenuItem(effect, "previous-effect", "Previous Effect", kCommandPreviousEffect);
  GtkWidget* next = MenuItem(effect, "next-effect", "Next Effect", kCommandNextEffect);
  Accelerator(previous, "activate", GDK_KEY_Page_Up, GDK_CONTROL_MASK);
  Accelerator(next, "activate", GDK_KEY_Page_Down, GDK_CONTROL_MASK);
  GtkWidget* help = submenu("Help");
  Accelerator(MenuItem(help, "help", "Effect Help", kCommandEffectHelp), "activate", GDK_KEY_F1, GdkModifierType(0));
  MenuItem(help, "help-contents", "Help Contents", kCommandHelpContents);
  return bar;
}

// `signal` of `widget` runs `command`.
void Dialog::Connect(GtkWidget* widget, const char* signal, int32_t command) {
  g_signal_connect_data(widget, signal, G_CALLBACK(+[](GtkWidget*, gpointer p) {
                          auto* d = static_cast<CommandData*>(p);
                          d->dialog->RunCommand(d->command);
                        }),
                        new CommandData{this, command},
                        +[](gpointer p, GClosure*) { delete static_cast<CommandData*>(p); }, GConnectFlags(0));
}

GtkWidget* Dialog::Button(const char* name, const char* key, int32_t command) {
  GtkWidget* button = gtk_button_new_with_label(session_.Text(key).c_str());
  Connect(button, "clicked", command);
  Register(name, button, command);
  return button;
}

GtkWidget* Dialog::MenuItem(GtkWidget* menu, const char* name, const char* key, int32_t command) {
  GtkWidget* item = gtk_menu_item_new_with_label(session_.Text(key).c_str());
  Connect(item, "activate", command);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  Register(name, item, command);
  return item;
}

// A command's widgets take the state the session last gave the command,
// which it may give before the window is built.
void Dialog::Register(const char* name, GtkWidget* widget, int32_t command) {
  buttons_[name] = widget;
  if (command == 0) return;
  commandWidgets_.emplace(command, widget);
  if (auto it = commandStates_.find(command); it != commandStates_.end()) gtk_widget_set_sensitive(widget, it->second);
}

void Dialog::Accelerator(GtkWidget* widget, const char* signal, guint key, GdkModifierType mods) {
  gtk_widget_add_accelerator(widget, signal, accelerators_, key, mods, GTK_ACCEL_VISIBLE);
}

// --- commands -------------------------------------------------------------------

void Dialog::RunCommand(int32_t command) {
  // A value still being typed or dragged belongs to what the command acts on.
  for (auto& c : controls_) c->Flush();
  if (session_.Command(command)) return;
  if (command == kCommandCancelButton) EndDialog(kCancel);  // closing must always work
  else gtk_widget_error_bell(window_);
}

std::string Dialog::Click(std::string_view name) {
  auto it = buttons_.find(name);
  if (it == buttons_.end()) return "no button \"" + std::string(name) + "\"";
  if (!gtk_widget_is_sensitive(it->second)) return std::string(name) + " is greyed out";
  if (GTK_IS_MENU_ITEM(it->second)) gtk_menu_item_activate(GTK_MENU_ITEM(it->second));
  else gtk_button_clicked(GTK_BUTTON(it->second));
  return {};
}

std::string Dialog::ShowPage(std::string_view label) {
  GtkNotebook* pages = GTK_NOTEBOOK(notebook_);
  for (int i = 0; i < gtk_notebook_get_n_pages(pages); ++i) {
    const char* text = gtk_notebook_get_tab_label_text(pages, gtk_notebook_get_nth_page(pages, i));
    if (text != nullptr && g_ascii_strcasecmp(text, std::string(label).c_str()) == 0) {
      gtk_notebook_set_current_page(pages, i);
      return {};
    }
  }
  return "no page \"" + std::string(label) + "\"";
}

Control* Dialog::FindControl(std::string_view name) const {
  for (auto& c : controls_)
    if (g_ascii_strcasecmp(c->Spec().name.c_str(), std::string(name).c_str()) == 0) return c.get();
  return nullptr;
}

void Dialog::FailScript(const std::string& reason) {
  std::fprintf(stderr, "kalvero-toolkit: script step %s\n", reason.c_str());
  scriptFailed_ = true;
  RunCommand(kCommandCancelButton);
}

std::string Dialog::Screenshot(const std::string& file) const {
  const int w = gtk_widget_get_allocated_width(window_), h = gtk_widget_get_allocated_height(window_);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(s);
  gtk_widget_draw(window_, cr);
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(s, file.c_str());
  cairo_surface_destroy(s);
  return status == CAIRO_STATUS_SUCCESS ? "" : "cannot write " + file + ": " + cairo_status_to_string(status);
}

// --- the window's side of the session --------------------------------------------

void Dialog::EndDialog(Result result) {
  result_ = result;
  g_main_loop_quit(loop_);
}

void Dialog::EnableCommand(int32_t command, bool enabled) {
  commandStates_[command] = enabled;
  auto [first, last] = commandWidgets_.equal_range(command);
  for (auto it = first; it != last; ++it) gtk_widget_set_sensitive(it->second, enabled);
}

// After an effect switch the session describes other controls: the pages
// are built anew. Otherwise every control shows the block again.
void Dialog::RefreshControls() {
  if (!built_) return;
  if (session_.Title() == title_) {
    for (auto& c : controls_) c->Refresh();
    return;
  }
  title_ = session_.Title();
  gtk_window_set_title(GTK_WINDOW(window_), title_.c_str());
  for (auto& c : controls_) c->Detach();
  preview_->SetMarkers({});
  preview_->SetArrangements({});
  while (gtk_notebook_get_n_pages(GTK_NOTEBOOK(notebook_)) > 0) gtk_notebook_remove_page(GTK_NOTEBOOK(notebook_), -1);
  controls_.clear();
  BuildPages();
  gtk_widget_show_all(notebook_);
}

void Dialog::SetZoom(double zoom) {
  if (!closed_ && preview_ != nullptr) preview_->SetZoom(zoom);
}

void Dialog::ShowZoom(double zoom) {
  if (!closed_ && zoomLabel_ != nullptr) gtk_label_set_text(GTK_LABEL(zoomLabel_), (session_.Text("Zoom") + " " + ZoomText(zoom)).c_str());
}

void Dialog::ShowNewPreview() {
  if (!closed_ && preview_ != nullptr) preview_->ShowNew();
}

void Dialog::MarkPreviewOutOfDate() {
  if (!closed_ && preview_ != nullptr) preview_->MarkOutOfDate();
}

// Not a nested main loop: the timer keeps ticking the session, which must
// not be entered again from inside its own Tick.
void Dialog::ShowError(const std::string& text) {
  errors_.push_back(text);
  if (script_ != nullptr) std::fprintf(stderr, "kalvero-toolkit: error shown: %s\n", text.c_str());
  if (closed_) return;
  GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(window_), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                          GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), session_.Title().c_str());
  g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(box);
}

void Dialog::StartProgress() {
  if (progress_ == nullptr) return;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), 0.0);
  gtk_widget_show(progress_);
}

void Dialog::SetProgress(double fraction) {
  if (progress_ != nullptr) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), std::clamp(fraction, 0.0, 1.0));
}

void Dialog::EndProgress() {
  if (progress_ != nullptr) gtk_widget_hide(progress_);
}

void Dialog::ShowRefusal(const std::string& text) {
  if (status_ != nullptr) gtk_label_set_text(GTK_LABEL(status_), text.c_str());
}

void Dialog::MarkersChanged() {
  if (!closed_ && preview_ != nullptr) preview_->MarkersChanged();
}

}  // namespace kv::toolkit

namespace kv::toolkit {

// The session's prompts come from inside its own commands: a nested loop,
// in which the timer does not enter the session again.
gint Dialog::RunPrompt(GtkWidget* prompt) {
  ++prompting_;
  const gint response = gtk_dialog_run(GTK_DIALOG(prompt));
  --prompting_;
  return response;
}

std::optional<std::string> Dialog::AskText(const std::string& title, const std::string& label,
                                           const std::string& text) {
  if (closed_) return std::nullopt;
  GtkWidget* prompt = gtk_dialog_new_with_buttons(
      title.c_str(), GTK_WINDOW(window_), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      session_.Text("Cancel").c_str(), GTK_RESPONSE_CANCEL, session_.Text("OK").c_str(), GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(prompt), GTK_RESPONSE_OK);
  GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(prompt));
  gtk_box_set_spacing(GTK_BOX(box), 6);
  g_object_set(box, "margin", 10, nullptr);
  GtkWidget* caption = gtk_label_new(label.c_str());
  gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(box), caption, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_widget_show_all(prompt);
  std::optional<std::string> answer;
  if (RunPrompt(prompt) == GTK_RESPONSE_OK) answer = gtk_entry_get_text(GTK_ENTRY(entry));
  gtk_widget_destroy(prompt);
  return answer;
}

bool Dialog::Confirm(const std::string& title, const std::string& text) {
  if (closed_) return false;
  GtkWidget* prompt = gtk_message_dialog_new(GTK_WINDOW(window_),
                                             GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                             GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", text.c_str());
  gtk_dialog_add_buttons(GTK_DIALOG(prompt), session_.Text("Cancel").c_str(), GTK_RESPONSE_CANCEL,
                         session_.Text("OK").c_str(), GTK_RESPONSE_OK, nullptr);
  gtk_window_set_title(GTK_WINDOW(prompt), title.c_str());
  const bool yes = RunPrompt(prompt) == GTK_RESPONSE_OK;
  gtk_widget_destroy(prompt);
  return yes;
}

}  // namespace kv::toolkit
