// What a test script reaches of the dialog: controls by name, buttons and
// menu items by their script names, keys as a keyboard sends them, the
// prompt on top, what the window shows, and pictures of it.
#include <algorithm>
#include <cstdio>

#include "toolkit/dialog.h"

namespace kv::toolkit {

std::string Dialog::Click(std::string_view name) {
  auto it = buttons_.find(name);
  if (it == buttons_.end()) return "no button \"" + std::string(name) + "\"";
  if (!gtk_widget_is_sensitive(it->second)) return std::string(name) + " is greyed out";
  GtkWidget* widget = it->second;
  Later([widget] {
    if (GTK_IS_MENU_ITEM(widget)) gtk_menu_item_activate(GTK_MENU_ITEM(widget));
    else gtk_button_clicked(GTK_BUTTON(widget));
  });
  return {};
}

// "ctrl+shift+z", "Page_Down", "F1": the key as a keyboard would send it
// to the window on top.
std::string Dialog::Key(std::string_view keys) {
  GdkModifierType mods = GdkModifierType(0);
  std::string name(keys);
  for (size_t plus; (plus = name.find('+')) != std::string::npos && plus + 1 < name.size();) {
    const std::string mod = name.substr(0, plus);
    if (mod == "ctrl") mods = GdkModifierType(mods | GDK_CONTROL_MASK);
    else if (mod == "shift") mods = GdkModifierType(mods | GDK_SHIFT_MASK);
    else if (mod == "alt") mods = GdkModifierType(mods | GDK_MOD1_MASK);
    else return "no modifier \"" + mod + "\"";
    name = name.substr(plus + 1);
  }
  const guint keyval = gdk_keyval_from_name(name.c_str());
  if (keyval == GDK_KEY_VoidSymbol || keyval == 0) return "no key \"" + name + "\"";
  GdkWindow* target = gtk_widget_get_window(Top());
  if (target == nullptr) return "no window takes keys";
  g_object_ref(target);
  Later([target, keyval, mods] {
    GdkDisplay* display = gdk_window_get_display(target);
    GdkModifierType state = mods;
    guint16 code = 0;
    guint8 group = 0;
    GdkKeymapKey* found = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &found, &count) && count > 0) {
      code = static_cast<guint16>(found[0].keycode);
      group = static_cast<guint8>(found[0].group);
      if (found[0].level == 1) state = GdkModifierType(state | GDK_SHIFT_MASK);  // '+' is Shift and '='
    }
    g_free(found);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
      GdkEvent* e = gdk_event_new(type);
      e->key.window = GDK_WINDOW(g_object_ref(target));
      e->key.send_event = TRUE;
      e->key.time = GDK_CURRENT_TIME;
      e->key.state = state;
      e->key.keyval = keyval;
      e->key.hardware_keycode = code;
      e->key.group = group;
      gdk_event_set_device(e, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
      gtk_main_do_event(e);
      gdk_event_free(e);
    }
    g_object_unref(target);
  });
  return {};
}

Control* Dialog::FindControl(std::string_view name) const {
  for (auto& c : controls_)
    if (g_ascii_strcasecmp(c->Spec().name.c_str(), std::string(name).c_str()) == 0) return c.get();
  return nullptr;
}

std::optional<std::string> Dialog::Shown(std::string_view what) const {
  if (what == "zoom") {
    char text[32];
    std::snprintf(text, sizeof text, "%g", preview_->Zoom());
    return text;
  }
  if (what == "effect") return gtk_label_get_text(GTK_LABEL(heading_));
  if (what == "title") return gtk_window_get_title(GTK_WINDOW(Top()));
  if (what == "status") return status_ != nullptr ? gtk_label_get_text(GTK_LABEL(status_)) : "";
  if (what == "window") {
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &w, &h);
    return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h);
  }
  for (const std::string_view prefix : {"enabled:", "checked:"}) {
    if (what.substr(0, prefix.size()) != prefix) continue;
    auto it = buttons_.find(what.substr(prefix.size()));
    if (it == buttons_.end()) return std::nullopt;
    const bool on = prefix == "enabled:" ? gtk_widget_is_sensitive(it->second)
                                         : GTK_IS_CHECK_MENU_ITEM(it->second) &&
                                               gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(it->second));
    return on ? "1" : "0";
  }
  if (what.substr(0, 6) == "track:") {
    const Control* c = FindControl(what.substr(6));
    const std::optional<double> place = c != nullptr ? c->TrackShown() : std::nullopt;
    if (!place) return std::nullopt;
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", *place);
    return text;
  }
  if (const Control* c = FindControl(what)) return c->Shown();
  return std::nullopt;
}

bool Dialog::Settled() const {
  return later_.empty() && std::none_of(controls_.begin(), controls_.end(), [](auto& c) { return c->Pending(); });
}

void Dialog::MoveWindow(const Rect& r) {
  gtk_window_move(GTK_WINDOW(window_), r.left, r.top);
  gtk_window_resize(GTK_WINDOW(window_), r.Width(), r.Height());
}

void Dialog::SetPreviewZoom(double zoom) { preview_->SetZoom(zoom); }

void Dialog::FailScript(const std::string& reason) {
  std::fprintf(stderr, "kalvero-toolkit: script step %s\n", reason.c_str());
  scriptFailed_ = true;
  DismissPrompts();
  Later([this] { RunCommand(kCommandCancelButton); });
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

std::string Dialog::Screenshot(const std::string& file) const {
  GtkWidget* top = Top();
  // Laid out first, as the next frame would: a progress bar shown or
  // hidden a moment ago may have asked for room.
  gtk_container_check_resize(GTK_CONTAINER(top));
  const int w = gtk_widget_get_allocated_width(top), h = gtk_widget_get_allocated_height(top);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(s);
  gtk_widget_draw(top, cr);
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(s, file.c_str());
  cairo_surface_destroy(s);
  return status == CAIRO_STATUS_SUCCESS ? "" : "cannot write " + file + ": " + cairo_status_to_string(status);
}

std::string Dialog::Answer(std::string_view response) {
  if (prompts_.empty()) return "no prompt is open";
  const Prompt& top = prompts_.back();
  auto it = top.responses.find(response);
  if (it == top.responses.end()) return "the prompt has no answer \"" + std::string(response) + "\"";
  GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(top.window), it->second);
  if (button != nullptr && !gtk_widget_is_sensitive(button)) return std::string(response) + " is greyed out";
  gtk_dialog_response(GTK_DIALOG(top.window), it->second);
  return {};
}

std::string Dialog::Type(std::string_view text) {
  if (prompts_.empty() || prompts_.back().entry == nullptr) return "no prompt asks for a text";
  gtk_entry_set_text(GTK_ENTRY(prompts_.back().entry), std::string(text).c_str());
  return {};
}

std::string Dialog::Select(std::string_view row) {
  if (prompts_.empty() || prompts_.back().list == nullptr) return "no prompt lists settings";
  GtkListBox* list = GTK_LIST_BOX(prompts_.back().list);
  for (int i = 0; GtkListBoxRow* r = gtk_list_box_get_row_at_index(list, i); ++i) {
    if (gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(r)))) == row) {
      gtk_list_box_select_row(list, r);
      return {};
    }
  }
  return "no setting \"" + std::string(row) + "\" is listed";
}

}  // namespace kv::toolkit
