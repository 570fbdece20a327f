// The windows the dialog opens over itself: the prompts for a setting's
// name, the confirmations, the error boxes, the manage-settings window and
// the about box.
#include <cstdio>

#include "toolkit/dialog.h"

namespace kv::toolkit {

namespace {

constexpr gint kResponseDelete = 1, kResponseRename = 2, kResponseHelp = 3;

// A box over `parent` with the product's caption, an icon and a message.
GtkWidget* MessageBox(GtkWidget* parent, const std::string& caption, const char* icon, const std::string& text) {
  GtkWidget* box = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  gtk_window_set_transient_for(GTK_WINDOW(box), GTK_WINDOW(parent));
  gtk_window_set_modal(GTK_WINDOW(box), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(box), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 14);
  g_object_set(row, "margin", 14, nullptr);
  GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_valign(image, GTK_ALIGN_START);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_selectable(GTK_LABEL(label), TRUE);
  gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))), row, TRUE, TRUE, 0);
  gtk_widget_show_all(row);
  return box;
}

// A prompt's window, ours until we are done with it, even when the
// dialog's destruction takes it first.
class Held {
 public:
  explicit Held(GtkWidget* window) : window_(GTK_WIDGET(g_object_ref(window))) {}
  ~Held() {
    gtk_widget_destroy(window_);
    g_object_unref(window_);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  GtkWidget* get() const { return window_; }

 private:
  GtkWidget* window_;
};

}  // namespace

// Each prompt's loop ends as its turn comes; none opens again.
void Dialog::DismissPrompts() {
  dismissing_ = true;
  for (const Prompt& p : prompts_) gtk_dialog_response(GTK_DIALOG(p.window), GTK_RESPONSE_DELETE_EVENT);
}

gint Dialog::RunPrompt(Prompt prompt) {
  if (dismissing_) return GTK_RESPONSE_DELETE_EVENT;
  prompts_.push_back(prompt);
  const gint response = gtk_dialog_run(GTK_DIALOG(prompt.window));
  prompts_.pop_back();
  return response;
}

std::optional<std::string> Dialog::AskText(const std::string& title, const std::string& label,
                                           const std::string& text) {
  if (closed_) return std::nullopt;
  GtkWidget* prompt = gtk_dialog_new_with_buttons(
      title.c_str(), GTK_WINDOW(Top()), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      session_.Text("Cancel").c_str(), GTK_RESPONSE_CANCEL, session_.Text("OK").c_str(), GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(prompt), GTK_RESPONSE_OK);
  gtk_window_set_resizable(GTK_WINDOW(prompt), FALSE);
  GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(prompt));
  gtk_box_set_spacing(GTK_BOX(box), 6);
  g_object_set(box, "margin", 10, nullptr);
  GtkWidget* caption = gtk_label_new(label.c_str());
  gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 32);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(box), caption, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
  gtk_widget_show_all(prompt);
  const Held held(prompt);
  std::optional<std::string> answer;
  if (RunPrompt({prompt, entry, nullptr, {{"ok", GTK_RESPONSE_OK}, {"cancel", GTK_RESPONSE_CANCEL}}}) ==
      GTK_RESPONSE_OK)
    answer = gtk_entry_get_text(GTK_ENTRY(entry));
  return answer;
}

// Yes or No, with No as the answer Enter gives.
bool Dialog::Confirm(const std::string& title, const std::string& text) {
  if (closed_) return false;
  GtkWidget* box = MessageBox(Top(), title, "dialog-warning", text);
  GtkWidget* no = gtk_dialog_add_button(GTK_DIALOG(box), session_.Text("No").c_str(), GTK_RESPONSE_NO);
  gtk_dialog_add_button(GTK_DIALOG(box), session_.Text("Yes").c_str(), GTK_RESPONSE_YES);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_NO);
  gtk_widget_grab_focus(no);
  const Held held(box);
  return RunPrompt({box, nullptr, nullptr, {{"yes", GTK_RESPONSE_YES}, {"no", GTK_RESPONSE_NO}}}) ==
         GTK_RESPONSE_YES;
}

// Not a loop of its own: the session may show an error from inside its
// Tick, which must not run again inside itself. Over the dialog, not over a
// prompt, which would take it along as it closes. Help opens the help on
// error messages.
void Dialog::ShowError(const std::string& text) {
  errors_.push_back(text);
  if (script_ != nullptr) std::fprintf(stderr, "kalvero-toolkit: error shown: %s\n", text.c_str());
  if (closed_) return;
  GtkWidget* box = MessageBox(window_, session_.Caption(), "dialog-error", text);
  gtk_dialog_add_button(GTK_DIALOG(box), session_.Text("Help").c_str(), kResponseHelp);
  gtk_dialog_add_button(GTK_DIALOG(box), session_.Text("OK").c_str(), GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  g_signal_connect(box, "response", G_CALLBACK(+[](GtkDialog* b, gint response, gpointer self) {
                     auto* dialog = static_cast<Dialog*>(self);
                     if (response == kResponseHelp && !dialog->closed_) dialog->session_.Command(kCommandErrorsHelp);
                     gtk_widget_destroy(GTK_WIDGET(b));
                   }),
                   this);
  gtk_widget_show(box);
}

void Dialog::ShowAbout(const std::vector<std::string>& lines) {
  if (closed_ || lines.empty()) return;
  GtkWidget* box = gtk_dialog_new_with_buttons(session_.Caption().c_str(), GTK_WINDOW(Top()),
                                               GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               session_.Text("Close").c_str(), GTK_RESPONSE_CLOSE, nullptr);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(box));
  gtk_box_set_spacing(GTK_BOX(content), 8);
  g_object_set(content, "margin", 18, nullptr);
  for (size_t i = 0; i < lines.size(); ++i) {
    GtkWidget* label = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped(i == 0 ? "<span size='x-large' weight='bold'>%s</span>" : "%s",
                                            lines[i].c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 56);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    if (i > 2) gtk_style_context_add_class(gtk_widget_get_style_context(label), "dim-label");  // the credits
    gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, i == 3 ? 8 : 0);
  }
  gtk_widget_show_all(content);
  const Held held(box);
  RunPrompt({box, nullptr, nullptr, {{"close", GTK_RESPONSE_CLOSE}}});
}

// The user's own settings, to delete or rename; the shipped ones are not
// theirs to change.
void Dialog::ManageSettings() {
  GtkWidget* box = gtk_dialog_new_with_buttons(
      session_.Text("Manage Settings").c_str(), GTK_WINDOW(Top()),
      GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), session_.Text("Delete").c_str(),
      kResponseDelete, session_.Text("Rename...").c_str(), kResponseRename, session_.Text("Close").c_str(),
      GTK_RESPONSE_CLOSE, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_CLOSE);
  GtkWidget* list = gtk_list_box_new();
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
  gtk_widget_set_size_request(scroll, 320, 240);
  gtk_container_add(GTK_CONTAINER(scroll), list);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(box));
  g_object_set(content, "margin", 10, nullptr);
  gtk_box_pack_start(GTK_BOX(content), scroll, TRUE, TRUE, 0);
  // Delete and Rename act on the chosen row.
  auto chosen = +[](GtkListBox* l, GtkListBoxRow* row, gpointer b) {
    (void)l;
    for (gint response : {kResponseDelete, kResponseRename})
      gtk_dialog_set_response_sensitive(GTK_DIALOG(b), response, row != nullptr);
  };
  g_signal_connect(list, "row-selected", G_CALLBACK(chosen), box);
  gtk_widget_show_all(content);
  const Held held(box);

  std::vector<std::string> names;
  for (;;) {
    gtk_container_foreach(GTK_CONTAINER(list), +[](GtkWidget* row, gpointer) { gtk_widget_destroy(row); }, nullptr);
    names = session_.StoredSettings(false);
    for (const std::string& name : names) {
      GtkWidget* label = gtk_label_new(name.c_str());
      gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
      g_object_set(label, "margin", 6, nullptr);
      gtk_list_box_insert(GTK_LIST_BOX(list), label, -1);
    }
    gtk_widget_show_all(list);
    chosen(GTK_LIST_BOX(list), nullptr, box);
    const gint response = RunPrompt({box,
                                     nullptr,
                                     list,
                                     {{"delete", kResponseDelete},
                                      {"rename", kResponseRename},
                                      {"close", GTK_RESPONSE_CLOSE}}});
    if ((response != kResponseDelete && response != kResponseRename) || closed_ || dismissing_) break;
    GtkListBoxRow* row = gtk_list_box_get_selected_row(GTK_LIST_BOX(list));
    if (row == nullptr) break;
    const std::string& name = names[static_cast<size_t>(gtk_list_box_row_get_index(row))];
    if (response == kResponseDelete) session_.DeleteStoredSetting(name);
    else session_.RenameStoredSetting(name);
    if (closed_ || dismissing_) break;
  }
}

}  // namespace kv::toolkit
