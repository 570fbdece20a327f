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
constexpr int kDefaultWidth = 1000, kDefaultHeight = 640;

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

// Text fields, the only controls cut, copy and paste act on.
bool IsTextField(GtkWidget* widget) { return widget != nullptr && GTK_IS_ENTRY(widget); }

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
  // The session's clock goes on while prompts are open: the preview keeps
  // rendering and the worker's host calls keep being answered.
  timer_ = g_timeout_add(kTickMs, +[](gpointer self) -> gboolean {
    static_cast<Dialog*>(self)->session_.Tick();
    return G_SOURCE_CONTINUE;
  }, this);
  if (const int fd = session_.WakeupDescriptor(); fd >= 0) {
    wakeup_ = g_unix_fd_add(fd, G_IO_IN, +[](gint, GIOCondition, gpointer self) -> gboolean {
      static_cast<Dialog*>(self)->session_.Tick();
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
  for (guint id : later_) g_source_remove(id);
  later_.clear();
  if (closed_) return;
  KeepPlace();
  Gone();
  gtk_widget_destroy(window_);  // a toplevel is GTK's until destroyed, shown or not
  // Let the window go from the screen before the run goes on.
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

// Nothing of ours may reach the session or the widgets from here on.
void Dialog::Gone() {
  closed_ = true;
  built_ = false;
  if (script_ != nullptr) script_->Stop();
  if (preview_ != nullptr) preview_->Stop();
  status_ = progress_ = zoomLabel_ = nullptr;
  for (auto& c : controls_) c->Detach();
}

// --- building -------------------------------------------------------------------

void Dialog::Build() {
  built_ = true;
  gtk_window_set_title(GTK_WINDOW(window_), session_.Caption().c_str());
  Place();
  gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
  accelerators_ = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window_), accelerators_);
  g_object_unref(accelerators_);
  // Closed by the window manager: the prompts go first, as if cancelled.
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer p) -> gboolean {
                     auto* self = static_cast<Dialog*>(p);
                     self->DismissPrompts();
                     self->Later([self] { self->RunCommand(kCommandCancelButton); });
                     return TRUE;
                   }),
                   this);
  // Destroyed by another hand than ours: the dialog ends as cancelled.
  g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer p) {
                     auto* self = static_cast<Dialog*>(p);
                     if (self->closed_) return;
                     self->Gone();
                     if (!self->session_.Command(kCommandCancelButton)) self->EndDialog(kCancel);
                   }),
                   this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer self) {
                     return static_cast<gboolean>(static_cast<Dialog*>(self)->KeyPressed(*e));
                   }),
                   this);
  // Told before the window moves the focus: the widget is the new one.
  g_signal_connect(window_, "set-focus", G_CALLBACK(+[](GtkWindow*, GtkWidget* focus, gpointer self) {
                     static_cast<Dialog*>(self)->FocusChanged(focus);
                   }),
                   this);

  preview_ = std::make_unique<PreviewArea>(session_, [this](double zoom) { ShowZoom(zoom); });
  if (auto it = commandChecks_.find(kCommandShowMarkers); it != commandChecks_.end()) preview_->ShowMarkers(it->second);
  GtkWidget* previewFrame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(previewFrame), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(previewFrame), preview_->Widget());

  GtkWidget* left = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_box_pack_start(GTK_BOX(left), BuildToolbar(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(left), previewFrame, TRUE, TRUE, 0);

  // The effect's name and what it does, above its controls.
  heading_ = gtk_label_new(nullptr);
  gchar* markup = g_markup_printf_escaped("<span size='large' weight='bold'>%s</span>", session_.Title().c_str());
  gtk_label_set_markup(GTK_LABEL(heading_), markup);
  g_free(markup);
  gtk_label_set_xalign(GTK_LABEL(heading_), 0.0f);
  GtkWidget* help = gtk_label_new(session_.DialogHelp().c_str());
  gtk_label_set_xalign(GTK_LABEL(help), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(help), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(help), 50);
  gtk_style_context_add_class(gtk_widget_get_style_context(help), "dim-label");

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

  GtkWidget* right = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(right, kPagesWidth, -1);
  gtk_widget_set_hexpand(right, FALSE);  // the sliders' wish to grow is the preview's to have
  gtk_box_pack_start(GTK_BOX(right), heading_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(right), help, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(right), notebook_, TRUE, TRUE, 4);
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
  gtk_box_pack_start(GTK_BOX(all), BuildMenus(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(all), main, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(all), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(all), bar, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window_), all);
  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(ok);
}

// Where the user left the window, when that place is still on a screen;
// else the middle of the screen.
void Dialog::Place() {
  const std::optional<Rect> kept = session_.WindowPlacement();
  if (kept && kept->Width() >= 200 && kept->Height() >= 150) {
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(gtk_widget_get_display(window_),
                                                           kept->left + kept->Width() / 2, kept->top);
    GdkRectangle area{};
    if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
    const bool titleBarShows = kept->top >= area.y && kept->top < area.y + area.height &&
                               kept->right > area.x + 50 && kept->left < area.x + area.width - 50;
    if (titleBarShows) {
      gtk_window_set_default_size(GTK_WINDOW(window_), kept->Width(), kept->Height());
      gtk_window_move(GTK_WINDOW(window_), kept->left, kept->top);
      return;
    }
  }
  gtk_window_set_default_size(GTK_WINDOW(window_), kDefaultWidth, kDefaultHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
}

// A maximised window keeps the place it had before.
void Dialog::KeepPlace() {
  if (!built_ || !gtk_widget_get_realized(window_)) return;
  const GdkWindowState state = gdk_window_get_state(gtk_widget_get_window(window_));
  if ((state & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)) != 0) return;
  int x = 0, y = 0, w = 0, h = 0;
  gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
  gtk_window_get_size(GTK_WINDOW(window_), &w, &h);
  session_.KeepWindowPlacement({x, y, x + w, y + h});
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
  add(Button("zoom-out", "Zoom Out", kCommandZoomOut));
  add(Button("zoom-in", "Zoom In", kCommandZoomIn));
  add(Button("zoom-1", "Actual Pixels", kCommandZoomOne));

  GtkWidget* unprocessed = gtk_toggle_button_new_with_label(session_.Text("Show Unprocessed").c_str());
  Register("unprocessed", unprocessed, 0);
  g_signal_connect(unprocessed, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                     static_cast<Dialog*>(self)->preview_->ShowUnprocessed(gtk_toggle_button_get_active(b));
                   }),
                   this);
  add(unprocessed);

  add(gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  add(Button("undo", "Undo", kCommandUndo));
  add(Button("redo", "Redo", kCommandRedo));
  add(Button("reset", "Reset", kCommandReset));
  return bar;
}

GtkWidget* Dialog::BuildMenus() {
  GtkWidget* bar = gtk_menu_bar_new();
  auto submenu = [this, bar](const char* key) {
    GtkWidget* item = gtk_menu_item_new_with_label(session_.Text(key).c_str());
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), accelerators_);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
    return menu;
  };
  auto separator = [](GtkWidget* menu) { gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new()); };
  auto item = [this](GtkWidget* menu, const char* name, const char* key, int32_t command, bool check = false) {
    return MenuItem(menu, name, session_.Text(key), command, check);
  };
  // Items that open a window of their own say so.
  auto opens = [this](const char* key) { return session_.Text(key) + "…"; };
  const auto ctrl = GDK_CONTROL_MASK;
  const auto none = GdkModifierType(0);

  GtkWidget* edit = submenu("Edit");
  Accelerator(item(edit, "edit-undo", "Undo", kCommandUndo), "activate", GDK_KEY_z, ctrl);
  GtkWidget* redo = item(edit, "edit-redo", "Redo", kCommandRedo);
  Accelerator(redo, "activate", GDK_KEY_z, GdkModifierType(ctrl | GDK_SHIFT_MASK));
  Accelerator(redo, "activate", GDK_KEY_y, ctrl);
  separator(edit);
  Accelerator(item(edit, "cut", "Cut", kCommandCut), "activate", GDK_KEY_x, ctrl);
  Accelerator(item(edit, "copy", "Copy", kCommandCopy), "activate", GDK_KEY_c, ctrl);
  Accelerator(item(edit, "paste", "Paste", kCommandPaste), "activate", GDK_KEY_v, ctrl);
  separator(edit);
  item(edit, "edit-reset", "Reset", kCommandReset);

  GtkWidget* view = submenu("View");
  GtkWidget* in = item(view, "view-zoom-in", "Zoom In", kCommandZoomIn);
  for (guint key : {GDK_KEY_plus, GDK_KEY_equal, GDK_KEY_KP_Add}) Accelerator(in, "activate", key, ctrl);
  GtkWidget* out = item(view, "view-zoom-out", "Zoom Out", kCommandZoomOut);
  for (guint key : {GDK_KEY_minus, GDK_KEY_KP_Subtract}) Accelerator(out, "activate", key, ctrl);
  GtkWidget* one = item(view, "view-zoom-1", "Actual Pixels", kCommandZoomOne);
  for (guint key : {GDK_KEY_0, GDK_KEY_KP_0}) Accelerator(one, "activate", key, ctrl);
  separator(view);
  item(view, "show-markers", "Show Markers", kCommandShowMarkers, true);

  settingsMenu_ = submenu("Settings");
  Accelerator(MenuItem(settingsMenu_, "save-setting", opens("Save Setting"), kCommandSaveSetting), "activate",
              GDK_KEY_s, ctrl);
  MenuItem(settingsMenu_, "manage-settings", opens("Manage Settings"), kCommandManageSettings);
  item(settingsMenu_, "last-used", "Last Used", kCommandLastUsed);
  BuildSettingsItems();

  // Page Up and Down are taken in the key handler, which leaves them to
  // the sliders and number fields; the items only show them.
  GtkWidget* effect = submenu("Effect");
  GtkWidget* previous = item(effect, "previous-effect", "Previous Effect", kCommandPreviousEffect);
  GtkWidget* next = item(effect, "next-effect", "Next Effect", kCommandNextEffect);
  gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(previous))), GDK_KEY_Page_Up, none);
  gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(next))), GDK_KEY_Page_Down, none);
  separator(effect);
  const std::vector<std::string> effects = session_.Effects();
  for (size_t n = 0; n < effects.size(); ++n) {
    if (effects[n].empty()) continue;
    GtkWidget* choice = MenuItem(effect, "effect:" + effects[n], effects[n],
                                 kCommandSwitchEffect + static_cast<int32_t>(n), true);
    gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(choice), TRUE);
  }

  GtkWidget* help = submenu("Help");
  Accelerator(item(help, "help", "Effect Help", kCommandEffectHelp), "activate", GDK_KEY_F1, none);
  item(help, "help-contents", "Help Contents", kCommandHelpContents);
  separator(help);
  item(help, "makers-page", "Brightfold Home Page", kCommandMakersPage);
  item(help, "product-page", "Product Home Page", kCommandProductPage);
  separator(help);
  MenuItem(help, "about", opens("About"), kCommandAbout);
  return bar;
}

// The stored settings below the settings menu's fixed items: the user's,
// then those shipped with the product.
void Dialog::BuildSettingsItems() {
  for (auto it = buttons_.begin(); it != buttons_.end();)
    it = it->first.starts_with("setting:") || it->first.starts_with("shipped:") ? buttons_.erase(it) : std::next(it);
  for (auto it = commandWidgets_.begin(); it != commandWidgets_.end();)
    it = it->first >= kCommandUserSetting && it->first < kCommandShippedSetting + 1000 ? commandWidgets_.erase(it)
                                                                                     : std::next(it);
  for (GtkWidget* w : settingsItems_) gtk_widget_destroy(w);
  settingsItems_.clear();
  for (const bool shipped : {false, true}) {
    const std::vector<std::string> names = session_.StoredSettings(shipped);
    if (names.empty()) continue;
    settingsItems_.push_back(gtk_separator_menu_item_new());
    gtk_menu_shell_append(GTK_MENU_SHELL(settingsMenu_), settingsItems_.back());
    const int32_t first = shipped ? kCommandShippedSetting : kCommandUserSetting;
    for (size_t k = 0; k < names.size(); ++k)
      settingsItems_.push_back(MenuItem(settingsMenu_, (shipped ? "shipped:" : "setting:") + names[k], names[k],
                                        first + static_cast<int32_t>(k), true));
  }
  gtk_widget_show_all(settingsMenu_);
}

void Dialog::SettingsChanged() {
  if (built_) BuildSettingsItems();
}

// `signal` of `widget` runs `command`.
void Dialog::Connect(GtkWidget* widget, const char* signal, int32_t command) {
  g_signal_connect_data(widget, signal, G_CALLBACK(+[](GtkWidget*, gpointer p) {
                          auto* d = static_cast<CommandData*>(p);
                          if (d->dialog->checking_ == 0) d->dialog->RunCommand(d->command);
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

GtkWidget* Dialog::MenuItem(GtkWidget* menu, const std::string& name, const std::string& label, int32_t command,
                            bool check) {
  GtkWidget* item = check ? gtk_check_menu_item_new_with_label(label.c_str()) : gtk_menu_item_new_with_label(label.c_str());
  Connect(item, "activate", command);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  Register(name, item, command);
  return item;
}

// A command's widgets take the state and check mark the session last gave
// the command, which it may give before the window is built.
void Dialog::Register(const std::string& name, GtkWidget* widget, int32_t command) {
  buttons_[name] = widget;
  if (command == 0) return;
  commandWidgets_.emplace(command, widget);
  if (auto it = commandStates_.find(command); it != commandStates_.end()) gtk_widget_set_sensitive(widget, it->second);
  if (auto it = commandChecks_.find(command); it != commandChecks_.end() && GTK_IS_CHECK_MENU_ITEM(widget)) {
    ++checking_;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), it->second);
    --checking_;
  }
}

void Dialog::Accelerator(GtkWidget* widget, const char* signal, guint key, GdkModifierType mods) {
  gtk_widget_add_accelerator(widget, signal, accelerators_, key, mods, GTK_ACCEL_VISIBLE);
}

// --- commands -------------------------------------------------------------------

void Dialog::RunCommand(int32_t command) {
  // A value still being typed or dragged belongs to what the command acts on.
  for (auto& c : controls_) c->Flush();
  bool done = false;
  if (command == kCommandCut || command == kCommandCopy || command == kCommandPaste) {
    done = Clipboard(command);
  } else if (command == kCommandManageSettings) {
    ManageSettings();
    done = true;
  } else {
    done = session_.Command(command);
  }
  if (!done && command == kCommandCancelButton) EndDialog(kCancel);  // closing must always work
  else if (!done && !closed_) gtk_widget_error_bell(window_);
  // A check item turns its mark itself; the session's word stands.
  if (!closed_ && commandChecks_.count(command) != 0) CheckCommand(command, commandChecks_[command]);
}

// After the current event: a prompt the action opens runs a loop of its
// own, from which the script must be free to go on.
void Dialog::Later(std::function<void()> action) {
  struct Pending {
    Dialog* dialog;
    std::function<void()> action;
    guint id = 0;
  };
  auto* pending = new Pending{this, std::move(action)};
  pending->id = g_idle_add_full(G_PRIORITY_DEFAULT, +[](gpointer p) -> gboolean {
    auto* d = static_cast<Pending*>(p);
    d->dialog->later_.erase(d->id);
    if (!d->dialog->closed_) d->action();
    return G_SOURCE_REMOVE;
  }, pending, +[](gpointer p) { delete static_cast<Pending*>(p); });
  later_.insert(pending->id);
}

// On the selection, or on the whole text when nothing is selected; on a
// control without a text field, its whole value text.
bool Dialog::Clipboard(int32_t command) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
  if (Control* control = ValueControl(focus)) {
    GtkClipboard* board = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    if (command == kCommandCopy) {
      gtk_clipboard_set_text(board, session_.Value(control->Index()).c_str(), -1);
    } else if (command == kCommandPaste) {
      gchar* text = gtk_clipboard_wait_for_text(board);
      if (text == nullptr) return false;
      control->Paste(text);
      g_free(text);
    }
    return command != kCommandCut;  // a value cannot be cut away
  }
  if (!IsTextField(focus)) return false;
  GtkEditable* field = GTK_EDITABLE(focus);
  if (!gtk_editable_get_selection_bounds(field, nullptr, nullptr)) gtk_editable_select_region(field, 0, -1);
  if (command == kCommandCut) gtk_editable_cut_clipboard(field);
  else if (command == kCommandCopy) gtk_editable_copy_clipboard(field);
  else gtk_editable_paste_clipboard(field);
  return true;
}

Control* Dialog::ValueControl(GtkWidget* focus) const {
  if (focus == nullptr || IsTextField(focus)) return nullptr;
  for (const auto& c : controls_)
    if (c->Enabled() && c->Owns(focus)) return c.get();
  return nullptr;
}

void Dialog::FocusChanged(GtkWidget* focus) {
  const bool text = IsTextField(focus), value = ValueControl(focus) != nullptr;
  EnableCommand(kCommandCut, text);
  for (int32_t command : {kCommandCopy, kCommandPaste}) EnableCommand(command, text || value);
}

// Page Up and Down switch effects, unless a slider or number field has the
// keyboard: there they page the value.
bool Dialog::KeyPressed(const GdkEventKey& key) {
  const bool up = key.keyval == GDK_KEY_Page_Up || key.keyval == GDK_KEY_KP_Page_Up;
  const bool down = key.keyval == GDK_KEY_Page_Down || key.keyval == GDK_KEY_KP_Page_Down;
  if ((!up && !down) || (key.state & gtk_accelerator_get_default_mod_mask()) != 0) return false;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
  if (focus != nullptr && (GTK_IS_SPIN_BUTTON(focus) || GTK_IS_RANGE(focus))) return false;
  const int32_t command = up ? kCommandPreviousEffect : kCommandNextEffect;
  if (auto it = commandStates_.find(command); it != commandStates_.end() && !it->second) {
    gtk_widget_error_bell(window_);
    return true;
  }
  RunCommand(command);
  return true;
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

void Dialog::CheckCommand(int32_t command, bool checked) {
  commandChecks_[command] = checked;
  ++checking_;
  auto [first, last] = commandWidgets_.equal_range(command);
  for (auto it = first; it != last; ++it)
    if (GTK_IS_CHECK_MENU_ITEM(it->second)) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(it->second), checked);
  --checking_;
  if (command == kCommandShowMarkers && preview_ != nullptr) preview_->ShowMarkers(checked);
}

void Dialog::RefreshControls() {
  if (!built_) return;
  for (auto& c : controls_) c->Refresh();
}

void Dialog::SetZoom(double zoom) {
  if (!closed_ && preview_ != nullptr) preview_->SetZoom(zoom);
}

void Dialog::ShowZoom(double zoom) {
  if (!closed_ && zoomLabel_ != nullptr)
    gtk_label_set_text(GTK_LABEL(zoomLabel_), (session_.Text("Zoom") + " " + ZoomText(zoom)).c_str());
}

void Dialog::ShowNewPreview() {
  shownAt_ = g_get_monotonic_time();
  if (!closed_ && preview_ != nullptr) preview_->ShowNew();
}

void Dialog::MarkPreviewOutOfDate() {
  if (!closed_ && preview_ != nullptr) preview_->MarkOutOfDate();
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
