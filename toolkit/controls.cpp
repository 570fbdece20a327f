#include "toolkit/controls.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <utility>

namespace kv::toolkit {

namespace {

// A slider's value reaches the session once the drag rests this long: long
// enough to skip the values a moving hand passes, short enough that the
// preview follows at once.
constexpr guint kSettleMs = 25;

// The unit words of a length's value text, in unit order (the list box
// shows their translations), and their size in points so that a change of
// unit keeps the length; a pixel's size comes from the image's resolution.
constexpr std::array<const char*, 6> kUnitWords = {"pixels", "inches", "centimeters", "millimeters", "points", "picas"};
constexpr std::array<double, 6> kUnitPoints = {0.0, 72.0, 72.0 / 2.54, 72.0 / 25.4, 1.0, 12.0};

double Step(int32_t decimals) { return std::pow(10.0, -std::clamp(decimals, 0, 6)); }

// --- numbers on an adjustment ---------------------------------------------------

// The controls whose value is one number on a GtkAdjustment: every change
// of the adjustment waits briefly, so a dragged slider makes one change.
// A slider's track has an adjustment of its own, 0..1, which the session
// maps to values: effects give small values most of the track.
class NumberControl : public Control {
 public:
  using Control::Control;
  ~NumberControl() override {
    if (pending_ != 0) g_source_remove(pending_);
  }

  void Refresh() override {
    ++updating_;
    gtk_adjustment_set_value(adjustment_, session_.Number(index_));
    SyncTrack();  // also when the value stayed: the track may have changed
    --updating_;
  }

  void Detach() override {
    Control::Detach();
    g_signal_handlers_disconnect_by_data(adjustment_, this);
    if (track_ != nullptr) g_signal_handlers_disconnect_by_data(track_, this);
    if (pending_ != 0) g_source_remove(pending_);
    pending_ = 0;
  }

  void Flush() override {
    if (spin_ != nullptr) gtk_spin_button_update(GTK_SPIN_BUTTON(spin_));
    if (pending_ == 0) return;
    g_source_remove(pending_);
    pending_ = 0;
    Commit();
  }

  std::string Enter(std::string_view text) override {
    double value;
    if (!ParseNumber(text, value)) return spec_.name + " takes a number, not \"" + std::string(text) + "\"";
    gtk_adjustment_set_value(adjustment_, value);
    Flush();
    return {};
  }

  std::string Drag(std::optional<double> position) override {
    if (track_ == nullptr) return Control::Drag(position);
    if (!position) {
      Released();
      return {};
    }
    if (!dragging_) Pressed();
    gtk_adjustment_set_value(track_, *position);
    return {};
  }

  bool Pending() const override { return pending_ != 0; }

  std::optional<double> TrackShown() const override {
    return track_ != nullptr ? std::optional<double>(gtk_adjustment_get_value(track_)) : std::nullopt;
  }

  std::string Shown() const override { return spin_ != nullptr ? gtk_entry_get_text(GTK_ENTRY(spin_)) : Control::Shown(); }

 protected:
  void Attach(GtkAdjustment* adjustment, GtkWidget* spin) {
    adjustment_ = adjustment;
    spin_ = spin;
    if (spin != nullptr) gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);  // Enter is OK
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(+[](GtkAdjustment*, gpointer self) {
                       auto* control = static_cast<NumberControl*>(self);
                       control->SyncTrack();
                       control->Changed();
                     }),
                     this);
  }

  void Changed() {
    if (updating_ > 0) return;
    if (pending_ != 0) g_source_remove(pending_);
    pending_ = g_timeout_add(kSettleMs, +[](gpointer self) -> gboolean {
      auto* control = static_cast<NumberControl*>(self);
      control->pending_ = 0;
      control->Commit();
      return G_SOURCE_REMOVE;
    }, this);
  }

  virtual void Commit() { Answer(session_.SetNumber(index_, gtk_adjustment_get_value(adjustment_))); }

  // The track's place of a value of the adjustment, and back.
  virtual double ToTrack(double value) const { return session_.TrackPosition(index_, value); }
  virtual double FromTrack(double position) const { return session_.TrackValue(index_, position); }

  // A slider on its track and an edit field on `adjustment`, in columns 1 and 2.
  GtkWidget* AddSlider(GtkGrid* grid, int row, GtkAdjustment* adjustment, int decimals) {
    track_ = gtk_adjustment_new(0.0, 0.0, 1.0, 0.01, 0.1, 0.0);
    GtkWidget* scale = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, track_);
    gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
    gtk_widget_set_hexpand(scale, TRUE);
    gtk_widget_set_size_request(scale, 140, -1);
    GtkWidget* spin = gtk_spin_button_new(adjustment, gtk_adjustment_get_step_increment(adjustment), decimals);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), 7);
    gtk_grid_attach(grid, scale, 1, row, 1, 1);
    gtk_grid_attach(grid, spin, 2, row, 1, 1);
    Own(scale);
    Own(spin);
    g_signal_connect(track_, "value-changed", G_CALLBACK(+[](GtkAdjustment*, gpointer self) {
                       static_cast<NumberControl*>(self)->TrackMoved();
                     }),
                     this);
    // A drag's changes are one step to undo.
    g_signal_connect_swapped(scale, "button-press-event", G_CALLBACK(+[](gpointer self) -> gboolean {
                               static_cast<NumberControl*>(self)->Pressed();
                               return FALSE;
                             }),
                             this);
    g_signal_connect_swapped(scale, "button-release-event", G_CALLBACK(+[](gpointer self) -> gboolean {
                               static_cast<NumberControl*>(self)->Released();
                               return FALSE;
                             }),
                             this);
    Attach(adjustment, spin);
    return scale;
  }

  // Moves the slider to show `text`, as a drag to that value would.
  std::string Slide(std::string_view text) {
    double value;
    if (!ParseNumber(text, value)) return spec_.name + " takes a number, not \"" + std::string(text) + "\"";
    gtk_adjustment_set_value(track_, ToTrack(value));
    Flush();
    return {};
  }

  // Puts the slider where the adjustment's value lies on its track.
  void SyncTrack() {
    if (track_ == nullptr || syncing_) return;
    syncing_ = true;
    gtk_adjustment_set_value(track_, ToTrack(gtk_adjustment_get_value(adjustment_)));
    syncing_ = false;
  }

  GtkAdjustment* adjustment_ = nullptr;
  GtkAdjustment* track_ = nullptr;
  GtkWidget* spin_ = nullptr;

 private:
  // The value at the slider's place, in the steps the edit field shows.
  void TrackMoved() {
    if (syncing_) return;
    const double step = Step(spin_ != nullptr ? static_cast<int>(gtk_spin_button_get_digits(GTK_SPIN_BUTTON(spin_))) : 0);
    syncing_ = true;
    gtk_adjustment_set_value(adjustment_, std::round(FromTrack(gtk_adjustment_get_value(track_)) / step) * step);
    syncing_ = false;
  }

  void Pressed() {
    if (dragging_) return;
    dragging_ = true;
    session_.Gesture(true);
  }

  void Released() {
    if (!dragging_) return;
    dragging_ = false;
    Flush();
    session_.Gesture(false);
  }

  guint pending_ = 0;
  bool syncing_ = false;  // set while one adjustment follows the other
  bool dragging_ = false;
};

// A slider with its edit field.
class SliderControl : public NumberControl {
 public:
  SliderControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                int row)
      : NumberControl(session, host, index, spec) {
    AddLabel(grid, row);
    const double step = Step(spec.decimals);
    AddSlider(grid, row,
              gtk_adjustment_new(spec.minimum, spec.minimum, spec.maximum, step,
                                 std::max(step, (spec.maximum - spec.minimum) / 10.0), 0.0),
              std::clamp(spec.decimals, 0, 6));
    Refresh();
  }

  std::string Enter(std::string_view text) override { return Slide(text); }
};

// A length: its slider and edit field in the unit the list box shows.
class LengthControl : public NumberControl {
 public:
  LengthControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                int row)
      : NumberControl(session, host, index, spec) {
    AddLabel(grid, row);
    AddSlider(grid, row, gtk_adjustment_new(0, 0, 1, 1, 10, 0), 0);
    units_ = gtk_combo_box_text_new();
    for (size_t i = 0; i < kUnitWords.size(); ++i)
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(units_),
                                     i < spec.items.size() ? spec.items[i].c_str() : kUnitWords[i]);
    gtk_grid_attach(grid, units_, 3, row, 1, 1);
    Own(units_);
    g_signal_connect(units_, "changed", G_CALLBACK(+[](GtkComboBox*, gpointer self) {
                       static_cast<LengthControl*>(self)->UnitChanged();
                     }),
                     this);
    Refresh();
  }

  void Refresh() override {
    double amount = 0.0;
    int unit = 0;
    if (!Parse(session_.Value(index_), amount, unit)) return;
    ++updating_;
    unit_ = unit;
    const double perPixel = Points(0) / Points(unit);
    const int decimals = unit == 0 ? spec_.decimals : 2;
    const double step = Step(decimals);
    gtk_adjustment_configure(adjustment_, amount, spec_.minimum * perPixel, spec_.maximum * perPixel, step,
                             std::max(step, (spec_.maximum - spec_.minimum) * perPixel / 10.0), 0.0);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin_), decimals);
    gtk_adjustment_set_value(adjustment_, amount);
    SyncTrack();
    gtk_combo_box_set_active(GTK_COMBO_BOX(units_), unit);
    --updating_;
  }

  // "12", "12 cm" or "12 centimeters".
  std::string Enter(std::string_view text) override {
    const std::string t(Trim(text));
    const size_t split = t.find_first_not_of("0123456789+-.eE");
    double amount;
    if (!ParseNumber(t.substr(0, split), amount)) return spec_.name + " takes a length, not \"" + t + "\"";
    if (split != std::string::npos) {
      const std::string word(Trim(t.substr(split)));
      constexpr std::array<const char*, 6> kShort = {"px", "in", "cm", "mm", "pt", "pc"};
      int unit = -1;
      for (size_t i = 0; i < kUnitWords.size(); ++i)
        if (word == kShort[i] || word == kUnitWords[i]) unit = static_cast<int>(i);
      if (unit < 0) return spec_.name + " has no unit \"" + word + "\"";
      gtk_combo_box_set_active(GTK_COMBO_BOX(units_), unit);
    }
    return Slide(t.substr(0, split));
  }

 protected:
  // The track spans the length's range in pixels.
  double ToTrack(double amount) const override {
    return session_.TrackPosition(index_, amount * Points(unit_) / Points(0));
  }
  double FromTrack(double position) const override {
    return session_.TrackValue(index_, position) * Points(0) / Points(unit_);
  }

 private:
  static bool Parse(const std::string& text, double& amount, int& unit) {
    const size_t gap = text.find(' ');
    if (gap == std::string::npos || !ParseNumber(text.substr(0, gap), amount)) return false;
    const std::string word(Trim(text.substr(gap)));
    for (size_t i = 0; i < kUnitWords.size(); ++i)
      if (word == kUnitWords[i]) {
        unit = static_cast<int>(i);
        return true;
      }
    return false;
  }

  void Send(double amount, int unit) {
    const int decimals = unit == 0 ? spec_.decimals : 2;
    Answer(session_.SetValue(index_, FormatNumber(amount, decimals + 1) + " " + kUnitWords[unit]));
  }

  void Commit() override { Send(gtk_adjustment_get_value(adjustment_), unit_); }

  void UnitChanged() {
    if (updating_ > 0) return;
    const int unit = gtk_combo_box_get_active(GTK_COMBO_BOX(units_));
    if (unit < 0 || unit == unit_) return;
    Flush();
    Send(gtk_adjustment_get_value(adjustment_) * Points(unit_) / Points(unit), unit);
  }

  double Points(int unit) const {
    return unit != 0 ? kUnitPoints[unit] : 72.0 / (spec_.pixelsPerInch > 0 ? spec_.pixelsPerInch : 72.0);
  }

  GtkWidget* units_;
  int unit_ = 0;
};

// A direction: an edit field in degrees and a dial to point with.
class DirectionControl : public NumberControl {
 public:
  DirectionControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                   int row)
      : NumberControl(session, host, index, spec) {
    AddLabel(grid, row);
    GtkAdjustment* adjustment = gtk_adjustment_new(0, 0, 360, 1, 15, 0);
    dial_ = gtk_drawing_area_new();
    gtk_widget_set_size_request(dial_, 44, 44);
    gtk_widget_set_halign(dial_, GTK_ALIGN_START);
    gtk_widget_add_events(dial_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON1_MOTION_MASK);
    g_signal_connect(dial_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) -> gboolean {
                       static_cast<DirectionControl*>(self)->Draw(w, cr);
                       return TRUE;
                     }),
                     this);
    auto point = +[](GtkWidget* w, GdkEvent* e, gpointer self) -> gboolean {
      double x, y;
      gdk_event_get_coords(e, &x, &y);
      static_cast<DirectionControl*>(self)->PointAt(w, x, y);
      return TRUE;
    };
    g_signal_connect(dial_, "button-press-event", G_CALLBACK(point), this);
    g_signal_connect(dial_, "motion-notify-event", G_CALLBACK(point), this);
    GtkWidget* spin = gtk_spin_button_new(adjustment, 1, std::clamp(spec.decimals, 0, 6));
    gtk_spin_button_set_wrap(GTK_SPIN_BUTTON(spin), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), 7);
    gtk_grid_attach(grid, dial_, 1, row, 1, 1);
    gtk_grid_attach(grid, spin, 2, row, 1, 1);
    Own(dial_);
    Own(spin);
    Attach(adjustment, spin);
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(+[](GtkAdjustment*, gpointer self) {
                       gtk_widget_queue_draw(static_cast<DirectionControl*>(self)->dial_);
                     }),
                     this);
    Refresh();
  }

 private:
  // Degrees count anticlockwise from the right, as the effects read them.
  void Draw(GtkWidget* widget, cairo_t* cr) {
    const double w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    const double r = std::min(w, h) / 2.0 - 3.0, cx = w / 2.0, cy = h / 2.0;
    const double a = gtk_adjustment_get_value(adjustment_) * std::numbers::pi / 180.0;
    GdkRGBA colour;
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), gtk_widget_get_state_flags(widget), &colour);
    gdk_cairo_set_source_rgba(cr, &colour);
    cairo_set_line_width(cr, 1.5);
    cairo_arc(cr, cx, cy, r, 0, 2 * std::numbers::pi);
    cairo_stroke(cr);
    cairo_move_to(cr, cx, cy);
    cairo_line_to(cr, cx + r * std::cos(a), cy - r * std::sin(a));
    cairo_stroke(cr);
    cairo_arc(cr, cx + r * std::cos(a), cy - r * std::sin(a), 2.5, 0, 2 * std::numbers::pi);
    cairo_fill(cr);
  }

  void PointAt(GtkWidget* widget, double x, double y) {
    const double dx = x - gtk_widget_get_allocated_width(widget) / 2.0;
    const double dy = gtk_widget_get_allocated_height(widget) / 2.0 - y;
    if (dx == 0.0 && dy == 0.0) return;
    double degrees = std::atan2(dy, dx) * 180.0 / std::numbers::pi;
    if (degrees < 0) degrees += 360.0;
    gtk_adjustment_set_value(adjustment_, std::round(degrees));
  }

  GtkWidget* dial_;
};

// A random seed: its number and a button that draws a new one.
class SeedControl : public NumberControl {
 public:
  SeedControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
              int row, const std::string& newSeedText)
      : NumberControl(session, host, index, spec) {
    AddLabel(grid, row);
    GtkAdjustment* adjustment = gtk_adjustment_new(0, 0, 65535, 1, 100, 0);
    GtkWidget* spin = gtk_spin_button_new(adjustment, 1, 0);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), 7);
    button_ = gtk_button_new_with_label(newSeedText.c_str());
    gtk_widget_set_halign(button_, GTK_ALIGN_START);
    g_signal_connect(button_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                       auto* control = static_cast<SeedControl*>(self);
                       gtk_adjustment_set_value(control->adjustment_, g_random_int_range(0, 65536));
                       control->Flush();
                     }),
                     this);
    gtk_grid_attach(grid, button_, 1, row, 1, 1);
    gtk_grid_attach(grid, spin, 2, row, 1, 1);
    Own(button_);
    Own(spin);
    Attach(adjustment, spin);
    Refresh();
  }

  // A number, or "new" for the button.
  std::string Enter(std::string_view text) override {
    if (Trim(text) != "new") return NumberControl::Enter(text);
    gtk_button_clicked(GTK_BUTTON(button_));
    return {};
  }

 private:
  GtkWidget* button_;
};

// --- the rest -------------------------------------------------------------------

class CheckboxControl : public Control {
 public:
  CheckboxControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                  int row)
      : Control(session, host, index, spec) {
    box_ = gtk_check_button_new_with_label(spec.label.c_str());
    gtk_grid_attach(grid, box_, 0, row, 4, 1);
    Own(box_);
    g_signal_connect(box_, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                       auto* control = static_cast<CheckboxControl*>(self);
                       if (control->updating_ > 0) return;
                       control->Answer(control->session_.SetNumber(control->index_, gtk_toggle_button_get_active(b)));
                     }),
                     this);
    Refresh();
  }

  void Refresh() override {
    ++updating_;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box_), session_.Number(index_) != 0.0);
    --updating_;
  }

  std::string Enter(std::string_view text) override {
    const std::string t(Trim(text));
    const bool on = t == "1" || t == "on" || t == "true" || t == "yes";
    if (!on && t != "0" && t != "off" && t != "false" && t != "no") return spec_.name + " is on or off";
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box_), on);
    return {};
  }

 private:
  GtkWidget* box_;
};

class ListControl : public Control {
 public:
  ListControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
              int row)
      : Control(session, host, index, spec) {
    AddLabel(grid, row);
    list_ = gtk_combo_box_text_new();
    for (const auto& item : spec.items) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(list_), item.c_str());
    gtk_grid_attach(grid, list_, 1, row, 3, 1);
    Own(list_);
    g_signal_connect(list_, "changed", G_CALLBACK(+[](GtkComboBox* c, gpointer self) {
                       auto* control = static_cast<ListControl*>(self);
                       if (control->updating_ > 0 || gtk_combo_box_get_active(c) < 0) return;
                       control->Answer(control->session_.SetNumber(control->index_, gtk_combo_box_get_active(c)));
                     }),
                     this);
    Refresh();
  }

  void Refresh() override {
    ++updating_;
    gtk_combo_box_set_active(GTK_COMBO_BOX(list_), static_cast<int>(session_.Number(index_)));
    --updating_;
  }

  // An item's text or its number.
  std::string Enter(std::string_view text) override {
    const std::string t(Trim(text));
    for (size_t i = 0; i < spec_.items.size(); ++i)
      if (g_ascii_strcasecmp(spec_.items[i].c_str(), t.c_str()) == 0) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(list_), static_cast<int>(i));
        return {};
      }
    double n;
    if (!ParseNumber(t, n) || n < 0 || n >= static_cast<double>(spec_.items.size()))
      return spec_.name + " has no item \"" + t + "\"";
    gtk_combo_box_set_active(GTK_COMBO_BOX(list_), static_cast<int>(n));
    return {};
  }

 private:
  GtkWidget* list_;
};

class ColorControl : public Control {
 public:
  ColorControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
               int row)
      : Control(session, host, index, spec) {
    AddLabel(grid, row);
    swatch_ = NewSwatch(spec.label);
    gtk_grid_attach(grid, swatch_, 1, row, 1, 1);
    Own(swatch_);
    g_signal_connect_swapped(swatch_, "color-set", G_CALLBACK(+[](gpointer self) {
                               auto* control = static_cast<ColorControl*>(self);
                               control->Answer(control->session_.SetValue(control->index_, SwatchText(control->swatch_)));
                             }),
                             this);
    Refresh();
  }

  // The swatch shows RGB values; a colour in another space keeps its text
  // and the swatch its last colour.
  void Refresh() override { ShowColor(swatch_, session_.Value(index_)); }

  // "#rrggbb" or a colour name; picked as in the swatch's chooser.
  std::string Enter(std::string_view text) override {
    if (!ShowColor(swatch_, std::string(Trim(text)))) return spec_.name + " takes a colour such as #ff8000";
    g_signal_emit_by_name(swatch_, "color-set");
    return {};
  }

 private:
  GtkWidget* swatch_;
};

// A layer fill: its choices as radio buttons, the swatch beside the solid
// colour. The swatch takes colours only while that choice is on, since no
// other fill uses them.
class LayerFillControl : public Control {
 public:
  LayerFillControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                   int row)
      : Control(session, host, index, spec) {
    // The label lines up with the first choice.
    gtk_widget_set_valign(AddLabel(grid, row), GTK_ALIGN_BASELINE);
    GtkWidget* box = gtk_grid_new();
    gtk_widget_set_valign(box, GTK_ALIGN_BASELINE);
    // A group always has one button on: this unseen one stands for a value
    // none of the choices shows.
    none_ = gtk_radio_button_new(nullptr);
    gtk_widget_set_no_show_all(none_, TRUE);
    gtk_grid_attach(GTK_GRID(box), none_, 1, 0, 1, 1);
    for (size_t i = 0; i < spec.items.size(); ++i) {
      GtkWidget* radio = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(none_), spec.items[i].c_str());
      Own(radio);
      if (i < spec.itemHelp.size()) gtk_widget_set_tooltip_text(radio, spec.itemHelp[i].c_str());
      g_signal_connect(radio, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer self) {
                         auto* control = static_cast<LayerFillControl*>(self);
                         if (control->updating_ > 0 || !gtk_toggle_button_get_active(b)) return;
                         control->Answer(control->session_.SetNumber(control->index_, control->Choice(GTK_WIDGET(b))));
                       }),
                       this);
      radios_.push_back(radio);
      GtkWidget* line = radio;
      if (i == 0 && !spec.swatch.empty()) {
        swatch_ = NewSwatch(spec.swatch);
        Own(swatch_);
        gtk_widget_set_tooltip_text(swatch_, spec.swatchHelp.c_str());
        g_signal_connect_swapped(swatch_, "color-set", G_CALLBACK(+[](gpointer self) {
                                   auto* control = static_cast<LayerFillControl*>(self);
                                   control->Answer(
                                       control->session_.SetValue(control->index_, SwatchText(control->swatch_)));
                                 }),
                                 this);
        line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        gtk_box_pack_start(GTK_BOX(line), radio, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(line), swatch_, FALSE, FALSE, 0);
        gtk_box_set_baseline_position(GTK_BOX(line), GTK_BASELINE_POSITION_CENTER);
        gtk_widget_set_valign(radio, GTK_ALIGN_BASELINE);
        gtk_widget_set_valign(line, GTK_ALIGN_BASELINE);
      }
      gtk_grid_attach(GTK_GRID(box), line, 0, int(i), 1, 1);
    }
    gtk_grid_attach(grid, box, 1, row, 3, 1);
    Refresh();
  }

  void Refresh() override {
    const int choice = static_cast<int>(session_.Number(index_));
    ++updating_;
    const bool shown = choice >= 0 && size_t(choice) < radios_.size();
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(shown ? radios_[size_t(choice)] : none_), TRUE);
    if (swatch_ != nullptr) ShowColor(swatch_, session_.SwatchColor(index_));
    --updating_;
    ShowSwatchState();
  }

  void Enable(bool enabled) override {
    Control::Enable(enabled);
    ShowSwatchState();
  }

  // A choice by its label or number, or a colour, which the solid-colour
  // choice then fills with.
  std::string Enter(std::string_view text) override {
    const std::string t(Trim(text));
    for (size_t i = 0; i < spec_.items.size(); ++i)
      if (g_ascii_strcasecmp(spec_.items[i].c_str(), t.c_str()) == 0) return Pick(i);
    double n;
    if (ParseNumber(t, n) && n >= 0 && n < static_cast<double>(radios_.size())) return Pick(static_cast<size_t>(n));
    GdkRGBA rgba;
    if (swatch_ == nullptr || !gdk_rgba_parse(&rgba, t.c_str()))
      return spec_.name + " takes one of its choices" + (swatch_ != nullptr ? " or a colour such as #ff8000" : "");
    Pick(0);
    if (!gtk_widget_is_sensitive(swatch_)) return spec_.name + ": the swatch is off";
    gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(swatch_), &rgba);
    g_signal_emit_by_name(swatch_, "color-set");
    return {};
  }

 private:
  double Choice(GtkWidget* radio) const {
    return static_cast<double>(std::find(radios_.begin(), radios_.end(), radio) - radios_.begin());
  }
  std::string Pick(size_t i) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radios_[i]), TRUE);
    return {};
  }
  void ShowSwatchState() {
    if (swatch_ != nullptr)
      gtk_widget_set_sensitive(swatch_, Enabled() && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radios_[0])));
  }

  GtkWidget* none_;
  std::vector<GtkWidget*> radios_;
  GtkWidget* swatch_ = nullptr;
};

// Any other parameter: its value text, sent when the field is left or
// Enter is pressed.
class TextControl : public Control {
 public:
  TextControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
              int row)
      : Control(session, host, index, spec) {
    AddLabel(grid, row);
    entry_ = gtk_entry_new();
    gtk_entry_set_activates_default(GTK_ENTRY(entry_), TRUE);  // Enter keeps the text and is OK
    gtk_widget_set_hexpand(entry_, TRUE);
    gtk_grid_attach(grid, entry_, 1, row, 3, 1);
    Own(entry_);
    g_signal_connect_swapped(entry_, "activate", G_CALLBACK(+[](gpointer self) {
                               static_cast<TextControl*>(self)->Flush();
                             }),
                             this);
    g_signal_connect(entry_, "focus-out-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                       static_cast<TextControl*>(self)->Flush();
                       return FALSE;
                     }),
                     this);
    Refresh();
  }

  void Refresh() override {
    shown_ = session_.Value(index_);
    gtk_entry_set_text(GTK_ENTRY(entry_), shown_.c_str());
  }

  void Flush() override {
    const std::string typed = gtk_entry_get_text(GTK_ENTRY(entry_));
    if (typed != shown_) Answer(session_.SetValue(index_, typed));
  }

  std::string Enter(std::string_view text) override {
    // Typed and left, as a click elsewhere does: Enter would also be OK.
    gtk_entry_set_text(GTK_ENTRY(entry_), std::string(text).c_str());
    Flush();
    return {};
  }

 private:
  GtkWidget* entry_;
  std::string shown_;
};

// The sides and corners of a flag, held or free: eight checks around a
// square that stands for the flag, each where its side or corner lies.
class ConnectionsControl : public Control {
 public:
  ConnectionsControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec,
                     GtkGrid* grid, int row)
      : Control(session, host, index, spec) {
    AddLabel(grid, row);
    GtkWidget* square = gtk_grid_new();
    gtk_widget_set_halign(square, GTK_ALIGN_START);
    // Top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
    constexpr int kPlaces[kFlagAttachmentCount][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
    for (int i = 0; i < kFlagAttachmentCount; ++i) {
      checks_[i] = gtk_check_button_new();
      gtk_widget_set_halign(checks_[i], GTK_ALIGN_CENTER);
      gtk_grid_attach(GTK_GRID(square), checks_[i], kPlaces[i][0], kPlaces[i][1], 1, 1);
      if (size_t(i) < spec.itemHelp.size()) gtk_widget_set_tooltip_text(checks_[i], spec.itemHelp[size_t(i)].c_str());
      widgets_.push_back(checks_[i]);
      g_signal_connect(checks_[i], "toggled", G_CALLBACK(+[](GtkToggleButton*, gpointer self) {
                         auto* control = static_cast<ConnectionsControl*>(self);
                         if (control->updating_ == 0) control->Answer(control->session_.SetNumber(control->index_, control->Bits()));
                       }),
                       this);
    }
    GtkWidget* flag = gtk_frame_new(nullptr);
    gtk_widget_set_size_request(flag, 36, 24);
    gtk_grid_attach(GTK_GRID(square), flag, 1, 1, 1, 1);
    gtk_grid_attach(grid, square, 1, row, 3, 1);
    for (GtkWidget* w : widgets_) Own(w);
    Refresh();
  }

  void Refresh() override {
    const int bits = static_cast<int>(session_.Number(index_));
    ++updating_;
    for (int i = 0; i < kFlagAttachmentCount; ++i)
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checks_[i]), (bits >> i & 1) != 0);
    --updating_;
  }

  // The held ones by name, as on the command line: "left, top-right" or "none".
  std::string Enter(std::string_view text) override {
    std::string words(text);
    std::replace(words.begin(), words.end(), ',', ' ');
    int bits = 0;
    std::istringstream in(words);
    for (std::string word; in >> word;) {
      if (g_ascii_strcasecmp(word.c_str(), "none") == 0) continue;
      const auto it = std::find_if(spec_.items.begin(), spec_.items.end(), [&](const std::string& name) {
        return g_ascii_strcasecmp(name.c_str(), word.c_str()) == 0;
      });
      if (it == spec_.items.end()) return spec_.name + " has no side or corner \"" + word + "\"";
      bits |= 1 << (it - spec_.items.begin());
    }
    // Clicked one by one, as a user would.
    for (int i = 0; i < kFlagAttachmentCount; ++i)
      if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(checks_[i])) != ((bits >> i & 1) != 0))
        gtk_button_clicked(GTK_BUTTON(checks_[i]));
    return {};
  }

 private:
  int Bits() const {
    int bits = 0;
    for (int i = 0; i < kFlagAttachmentCount; ++i)
      bits |= gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(checks_[i])) ? 1 << i : 0;
    return bits;
  }

  GtkWidget* checks_[kFlagAttachmentCount] = {};
  std::vector<GtkWidget*> widgets_;
};

}  // namespace

// --- the puzzle ------------------------------------------------------------------

namespace {

constexpr double kArrowSize = 5.0;  // screen pixels from an arrow's middle to its tip

}  // namespace

ArrangementControl::ArrangementControl(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec,
                                       GtkGrid* grid, int row)
    : Control(session, host, index, std::move(spec)) {
  GtkWidget* box = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(box), 6);
  gtk_grid_set_column_spacing(GTK_GRID(box), 6);
  GtkWidget* columns = gtk_label_new(session.Text("Columns").c_str());
  gtk_label_set_xalign(GTK_LABEL(columns), 0.0f);
  columns_ = gtk_spin_button_new_with_range(1, kPuzzleMaxSize, 1);
  gtk_widget_set_halign(columns_, GTK_ALIGN_START);
  gtk_entry_set_activates_default(GTK_ENTRY(columns_), TRUE);  // Enter is OK
  gtk_grid_attach(GTK_GRID(box), columns, 0, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(box), columns_, 1, 0, 1, 1);
  Own(columns);
  Own(columns_);
  gtk_widget_set_tooltip_text(columns, session.Text("Columns Help").c_str());
  gtk_widget_set_tooltip_text(columns_, session.Text("Columns Help").c_str());
  g_signal_connect(columns_, "value-changed", G_CALLBACK(+[](GtkSpinButton* b, gpointer self) {
                     // The spin button says its value again once a refresh inside
                     // its own signal has set it: only a change is a command.
                     auto* control = static_cast<ArrangementControl*>(self);
                     const int columns = gtk_spin_button_get_value_as_int(b);
                     if (control->updating_ == 0 && columns != control->arrangement_.columns)
                       control->Send(ArrangeCommand::kColumns, columns);
                   }),
                   this);
  struct Command {
    const char* key;
    ArrangeCommand command;
  };
  constexpr Command kCommands[] = {{"Knockout 50% of Pieces", ArrangeCommand::kKnockOutHalf},
                                   {"Restore All Pieces", ArrangeCommand::kRestoreAll},
                                   {"Invert All Pieces", ArrangeCommand::kInvertAll},
                                   {"Randomize Connectors", ArrangeCommand::kRandomizeConnectors}};
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    GtkWidget* button = gtk_button_new_with_label(session.Text(kCommands[i].key).c_str());
    gtk_grid_attach(GTK_GRID(box), button, int(i % 2), 1 + int(i / 2), 1, 1);
    g_object_set_data(G_OBJECT(button), "kv-command", GINT_TO_POINTER(int(kCommands[i].command)));
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer self) {
                       const int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(b), "kv-command"));
                       static_cast<ArrangementControl*>(self)->Send(ArrangeCommand(command));
                     }),
                     this);
    Own(button);
    gtk_widget_set_tooltip_text(button, session.Text(std::string(kCommands[i].key) + " Help").c_str());
  }
  // How the preview is used is told under the effect's name, with the
  // rest of the dialog's help.
  gtk_grid_attach(grid, box, 0, row, 4, 1);
  Refresh();
}

void ArrangementControl::Refresh() {
  known_ = session_.Arrangement(index_, arrangement_, area_);
  if (known_) {
    ++updating_;
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(columns_), arrangement_.columns);
    --updating_;
  }
  host_.MarkersChanged();
}

void ArrangementControl::Enable(bool enabled) {
  Control::Enable(enabled);
  host_.MarkersChanged();
}

void ArrangementControl::Send(ArrangeCommand command, int32_t x, int32_t y) {
  Answer(session_.Arrange(index_, command, x, y));
}

double ArrangementControl::ArrowRadius() const {
  if (!known_ || arrangement_.columns < 1 || arrangement_.rows < 1) return 0.0;
  const double cell = std::min(double(area_.Width()) / arrangement_.columns, double(area_.Height()) / arrangement_.rows);
  // Arrows crowding the pieces would hide them; a click then picks pieces.
  return cell * zoom_ >= 6 * kArrowSize ? 2.0 * kArrowSize / zoom_ : 0.0;
}

std::vector<ArrangementControl::Arrow> ArrangementControl::Arrows() const {
  std::vector<Arrow> arrows;
  const PuzzleArrangement& a = arrangement_;
  const double cw = double(area_.Width()) / a.columns, ch = double(area_.Height()) / a.rows;
  for (int32_t y = 0; y < a.rows; ++y)
    for (int32_t x = 0; x < a.columns; ++x) {
      // The knob points up or down across a horizontal edge, left or right
      // across a vertical one.
      if (y > 0)
        arrows.push_back({{area_.left + (x + 0.5) * cw, area_.top + y * ch}, ArrangeCommand::kFlipHorizontalEdge, x, y,
                          {0.0, a.HorizontalEdge(x, y) ? -1.0 : 1.0}});
      if (x > 0)
        arrows.push_back({{area_.left + x * cw, area_.top + (y + 0.5) * ch}, ArrangeCommand::kFlipVerticalEdge, x, y,
                          {a.VerticalEdge(x, y) ? -1.0 : 1.0, 0.0}});
    }
  return arrows;
}

void ArrangementControl::DrawOver(cairo_t* cr, PointD origin, double zoom) {
  zoom_ = zoom;
  if (ArrowRadius() <= 0.0) return;
  for (const Arrow& arrow : Arrows()) {
    const double x = (arrow.at.x - origin.x) * zoom, y = (arrow.at.y - origin.y) * zoom;
    const double px = -arrow.way.y, py = arrow.way.x;  // across the arrow
    for (int pass = 0; pass < 2; ++pass) {  // a dark outline under a light arrow, seen on any image
      cairo_move_to(cr, x + kArrowSize * arrow.way.x, y + kArrowSize * arrow.way.y);
      cairo_line_to(cr, x - 0.6 * kArrowSize * (arrow.way.x - px), y - 0.6 * kArrowSize * (arrow.way.y - py));
      cairo_line_to(cr, x - 0.6 * kArrowSize * (arrow.way.x + px), y - 0.6 * kArrowSize * (arrow.way.y + py));
      cairo_close_path(cr);
      if (pass == 0) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0.7);
        cairo_set_line_width(cr, 2.0);
        cairo_stroke(cr);
      } else {
        if (Enabled()) cairo_set_source_rgba(cr, 1.0, 0.9, 0.2, 0.85);
        else cairo_set_source_rgba(cr, 0.6, 0.6, 0.6, 0.85);
        cairo_fill(cr);
      }
    }
  }
}

bool ArrangementControl::ClickAt(PointD point) {
  if (!known_ || !Enabled() || !area_.Contains(int32_t(std::floor(point.x)), int32_t(std::floor(point.y)))) return false;
  const double reach = ArrowRadius();
  const Arrow* nearest = nullptr;
  double best = reach * reach;
  const std::vector<Arrow> arrows = reach > 0.0 ? Arrows() : std::vector<Arrow>{};
  for (const Arrow& arrow : arrows) {
    const double d = (arrow.at.x - point.x) * (arrow.at.x - point.x) + (arrow.at.y - point.y) * (arrow.at.y - point.y);
    if (d < best) best = d, nearest = &arrow;
  }
  if (nearest != nullptr) {
    Send(nearest->flip, nearest->x, nearest->y);
    return true;
  }
  const int32_t x = std::clamp(int32_t((point.x - area_.left) * arrangement_.columns / area_.Width()), 0, arrangement_.columns - 1);
  const int32_t y = std::clamp(int32_t((point.y - area_.top) * arrangement_.rows / area_.Height()), 0, arrangement_.rows - 1);
  Send(ArrangeCommand::kTogglePiece, x, y);
  return true;
}

std::string ArrangementControl::Enter(std::string_view text) {
  std::string t(Trim(text));
  std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return char(g_ascii_tolower(char(c))); });
  if (t.rfind("columns ", 0) == 0) {
    double n;
    if (!ParseNumber(t.substr(8), n)) return spec_.name + ": columns takes a number";
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(columns_), n);
    return {};
  }
  if (t.rfind("click ", 0) == 0) {
    PointD p;
    if (!ParsePoint(t.substr(6), p)) return spec_.name + ": click takes an image point \"x,y\"";
    return ClickAt(p) ? "" : spec_.name + ": no piece at " + t.substr(6);
  }
  const std::pair<const char*, ArrangeCommand> kWords[] = {{"knock out half", ArrangeCommand::kKnockOutHalf},
                                                           {"restore", ArrangeCommand::kRestoreAll},
                                                           {"invert", ArrangeCommand::kInvertAll},
                                                           {"randomize", ArrangeCommand::kRandomizeConnectors}};
  for (const auto& [word, command] : kWords)
    if (t == word) {
      Send(command);
      return {};
    }
  return spec_.name + " takes columns N, knock out half, restore, invert, randomize or click x,y";
}

// --- base -----------------------------------------------------------------------

Control::Control(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec)
    : session_(session), host_(host), index_(index), spec_(std::move(spec)) {}

Control::~Control() = default;

void Control::Enable(bool enabled) {
  enabled_ = enabled;
  for (GtkWidget* w : widgets_) gtk_widget_set_sensitive(w, enabled);
}

GtkWidget* Control::AddLabel(GtkGrid* grid, int row) {
  GtkWidget* label = gtk_label_new(spec_.label.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_grid_attach(grid, label, 0, row, 1, 1);
  Own(label);
  return label;
}

void Control::Own(GtkWidget* widget) {
  if (!spec_.help.empty()) gtk_widget_set_tooltip_text(widget, spec_.help.c_str());
  widgets_.push_back(widget);
}

void Control::Detach() {
  for (GtkWidget* w : widgets_) g_signal_handlers_disconnect_by_data(w, this);
}

std::string Control::Drag(std::optional<double>) { return spec_.name + " has no slider"; }

std::string Control::Focus() {
  const auto field = std::find_if(widgets_.begin(), widgets_.end(), [](GtkWidget* w) { return GTK_IS_ENTRY(w); });
  const auto first = std::find_if(widgets_.begin(), widgets_.end(), [](GtkWidget* w) { return gtk_widget_get_can_focus(w); });
  GtkWidget* target = field != widgets_.end() ? *field : first != widgets_.end() ? *first : nullptr;
  if (target == nullptr) return spec_.name + " takes no keyboard";
  gtk_widget_grab_focus(target);
  return {};
}

bool Control::Owns(GtkWidget* widget) const {
  return widget != nullptr && std::any_of(widgets_.begin(), widgets_.end(), [&](GtkWidget* w) {
           return w == widget || gtk_widget_is_ancestor(widget, w);
         });
}

void Control::Answer(const std::string& refusal) {
  host_.ShowRefusal(refusal);
  Refresh();
}

// --- colours --------------------------------------------------------------------

GtkWidget* NewSwatch(const std::string& title) {
  GtkWidget* swatch = gtk_color_button_new();
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(swatch), FALSE);
  gtk_color_button_set_title(GTK_COLOR_BUTTON(swatch), title.c_str());
  gtk_widget_set_halign(swatch, GTK_ALIGN_START);
  gtk_widget_set_valign(swatch, GTK_ALIGN_CENTER);
  return swatch;
}

bool ShowColor(GtkWidget* swatch, const std::string& text) {
  GdkRGBA rgba;
  if (!gdk_rgba_parse(&rgba, text.c_str())) return false;
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(swatch), &rgba);
  return true;
}

std::string SwatchText(GtkWidget* swatch) {
  GdkRGBA rgba;
  gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(swatch), &rgba);
  auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(rgba.red), byte(rgba.green), byte(rgba.blue));
  return text;
}

// --- texts ----------------------------------------------------------------------

bool ParseNumber(std::string_view text, double& value) {
  const std::string t(Trim(text));
  if (t.empty()) return false;
  char* end = nullptr;
  value = g_ascii_strtod(t.c_str(), &end);
  return end != nullptr && *end == '\0' && std::isfinite(value);
}

std::string FormatNumber(double value, int decimals) {
  char format[16], buffer[G_ASCII_DTOSTR_BUF_SIZE];
  std::snprintf(format, sizeof format, "%%.%df", std::clamp(decimals, 0, 9));
  return g_ascii_formatd(buffer, sizeof buffer, format, value);
}

// --- markers --------------------------------------------------------------------

bool ParsePoint(std::string_view text, PointD& point) {
  const size_t comma = text.find(',');
  return comma != std::string_view::npos && ParseNumber(text.substr(0, comma), point.x) &&
         ParseNumber(text.substr(comma + 1), point.y);
}

MarkerControl::MarkerControl(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec)
    : Control(session, host, index, std::move(spec)) {
  Refresh();
}

void MarkerControl::Refresh() {
  known_ = ParsePoint(session_.Value(index_), position_);
  host_.MarkersChanged();
}

void MarkerControl::Enable(bool enabled) {
  Control::Enable(enabled);
  host_.MarkersChanged();
}

void MarkerControl::MoveTo(PointD position) {
  Answer(session_.SetValue(index_, FormatNumber(position.x, 0) + "," + FormatNumber(position.y, 0)));
}

std::string MarkerControl::Enter(std::string_view text) {
  PointD p;
  if (!ParsePoint(text, p)) return spec_.name + " takes a position \"x,y\"";
  MoveTo(p);
  return {};
}

std::unique_ptr<Control> MakeControl(DialogSession& session, ControlHost& host, int32_t index,
                                     const ControlSpec& spec, GtkGrid* grid, int row) {
  switch (spec.kind) {
    case ControlKind::kSlider: return std::make_unique<SliderControl>(session, host, index, spec, grid, row);
    case ControlKind::kLength: return std::make_unique<LengthControl>(session, host, index, spec, grid, row);
    case ControlKind::kCheckbox: return std::make_unique<CheckboxControl>(session, host, index, spec, grid, row);
    case ControlKind::kListbox: return std::make_unique<ListControl>(session, host, index, spec, grid, row);
    case ControlKind::kColor: return std::make_unique<ColorControl>(session, host, index, spec, grid, row);
    case ControlKind::kDirection: return std::make_unique<DirectionControl>(session, host, index, spec, grid, row);
    case ControlKind::kSeed:
      return std::make_unique<SeedControl>(session, host, index, spec, grid, row, session.Text("New Seed"));
    case ControlKind::kPosition: return std::make_unique<MarkerControl>(session, host, index, spec);
    case ControlKind::kLighting: return MakeLightingControl(session, host, index, spec, grid, row);
    case ControlKind::kConnections:
      return std::make_unique<ConnectionsControl>(session, host, index, spec, grid, row);
    case ControlKind::kArrangement:
      return std::make_unique<ArrangementControl>(session, host, index, spec, grid, row);
    case ControlKind::kLayerFill: return std::make_unique<LayerFillControl>(session, host, index, spec, grid, row);
    case ControlKind::kText: break;
  }
  return std::make_unique<TextControl>(session, host, index, spec, grid, row);
}

}  // namespace kv::toolkit
