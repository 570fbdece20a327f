// The lighting control: a disc that shows the lit surface and places the
// light by its direction and height, with fields for both, sliders for the
// highlight's brightness and sharpness, and the highlight's colour. The
// parameter is one value, so every change is one step of undo.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <locale>
#include <numbers>
#include <sstream>

#include "toolkit/controls.h"

namespace kv::toolkit {

namespace {

constexpr guint kSettleMs = 150;  // a drag reaches the session once it rests this long
constexpr double kRadians = std::numbers::pi / 180.0;

enum Part { kDirection, kInclination, kBrightness, kSharpness, kHighlight, kPartCount };

class LightingControl final : public Control {
 public:
  LightingControl(DialogSession& session, ControlHost& host, int32_t index, const ControlSpec& spec, GtkGrid* grid,
                  int row)
      : Control(session, host, index, spec) {
    AddLabel(grid, row);
    GtkWidget* box = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(box), 2);
    gtk_grid_set_column_spacing(GTK_GRID(box), 6);
    gtk_grid_attach(grid, box, 1, row, 3, 1);

    disc_ = gtk_drawing_area_new();
    gtk_widget_set_size_request(disc_, 92, 92);
    gtk_widget_set_valign(disc_, GTK_ALIGN_CENTER);
    gtk_widget_add_events(disc_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON1_MOTION_MASK);
    g_signal_connect(disc_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) -> gboolean {
                       static_cast<LightingControl*>(self)->Draw(w, cr);
                       return TRUE;
                     }),
                     this);
    auto place = +[](GtkWidget* w, GdkEvent* e, gpointer self) -> gboolean {
      double x, y;
      gdk_event_get_coords(e, &x, &y);
      static_cast<LightingControl*>(self)->PlaceLight(w, x, y);
      return TRUE;
    };
    gtk_widget_add_events(disc_, GDK_BUTTON_RELEASE_MASK);
    HoldGesture(disc_);  // before `place`, which ends the press's handling
    g_signal_connect(disc_, "button-press-event", G_CALLBACK(place), this);
    g_signal_connect(disc_, "motion-notify-event", G_CALLBACK(place), this);
    gtk_grid_attach(GTK_GRID(box), disc_, 0, 0, 1, kPartCount);
    Own(disc_);

    AddNumber(box, kDirection, 0.0, 360.0, false);
    AddNumber(box, kInclination, spec.minimum, std::max(spec.minimum, spec.maximum), false);
    AddNumber(box, kBrightness, 0.0, 100.0, true);
    AddNumber(box, kSharpness, 0.0, 100.0, true);
    gtk_spin_button_set_wrap(GTK_SPIN_BUTTON(spins_[kDirection]), TRUE);

    AddPartLabel(box, kHighlight);
    swatch_ = NewSwatch(spec.items.size() > size_t(kHighlight) ? spec.items[size_t(kHighlight)] : spec.label);
    gtk_grid_attach(GTK_GRID(box), swatch_, 2, kHighlight, 2, 1);
    Own(swatch_);
    g_signal_connect_swapped(swatch_, "color-set", G_CALLBACK(+[](gpointer self) {
                               auto* control = static_cast<LightingControl*>(self);
                               control->colour_ = SwatchText(control->swatch_);
                               control->CommitNow();
                             }),
                             this);
    Refresh();
  }

  ~LightingControl() override {
    if (pending_ != 0) g_source_remove(pending_);
  }

  void Refresh() override {
    double v[4];
    std::string colour;
    if (!Parse(session_.Value(index_), v, colour)) return;
    ++updating_;
    for (int i = 0; i < 4; ++i) gtk_adjustment_set_value(adjustments_[i], v[i]);
    colour_ = colour;
    ShowColor(swatch_, colour);
    --updating_;
    gtk_widget_queue_draw(disc_);
  }

  void Detach() override {
    Control::Detach();
    for (GtkAdjustment* a : adjustments_) g_signal_handlers_disconnect_by_data(a, this);
    if (pending_ != 0) g_source_remove(pending_);
    pending_ = 0;
  }

  void Flush() override {
    TakeTyping();
    if (pending_ == 0) return;
    g_source_remove(pending_);
    pending_ = 0;
    Commit();
  }

  // "direction inclination brightness sharpness [#rrggbb]", as its value text.
  std::string Enter(std::string_view text) override {
    double v[4];
    std::string colour;
    if (!Parse(std::string(text), v, colour))
      return spec_.name + " takes \"direction inclination brightness sharpness [#rrggbb]\"";
    for (int i = 0; i < 4; ++i) gtk_adjustment_set_value(adjustments_[i], v[i]);
    if (!colour.empty()) {
      if (!ShowColor(swatch_, colour)) return spec_.name + " takes a highlight colour such as #ffffff";
      colour_ = SwatchText(swatch_);
    }
    CommitNow();
    return {};
  }

 private:
  // Four numbers, then the colour's text (possibly empty).
  static bool Parse(const std::string& text, double v[4], std::string& colour) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    std::string word;
    for (int i = 0; i < 4; ++i)
      if (!(in >> word) || !ParseNumber(word, v[i])) return false;
    std::getline(in >> std::ws, colour);
    return true;
  }

  void AddPartLabel(GtkWidget* box, Part part) {
    const std::string text = static_cast<size_t>(part) < spec_.items.size() ? spec_.items[part] : std::string();
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_grid_attach(GTK_GRID(box), label, 1, part, 1, 1);
    Own(label);
  }

  // A field for one part, with a slider beside it for the highlight's.
  void AddNumber(GtkWidget* box, Part part, double minimum, double maximum, bool slider) {
    AddPartLabel(box, part);
    GtkAdjustment* adjustment = gtk_adjustment_new(minimum, minimum, maximum, 1.0, 10.0, 0.0);
    GtkWidget* spin = gtk_spin_button_new(adjustment, 1.0, 1);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), 6);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);  // Enter is OK
    gtk_grid_attach(GTK_GRID(box), spin, 2, part, 1, 1);
    Own(spin);
    if (slider) {
      GtkWidget* scale = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, adjustment);
      gtk_scale_set_draw_value(GTK_SCALE(scale), FALSE);
      gtk_widget_set_hexpand(scale, TRUE);
      gtk_widget_set_size_request(scale, 90, -1);
      gtk_grid_attach(GTK_GRID(box), scale, 3, part, 1, 1);
      Own(scale);
      HoldGesture(scale);
    }
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(+[](GtkAdjustment*, gpointer self) {
                       static_cast<LightingControl*>(self)->Changed();
                     }),
                     this);
    adjustments_[part] = adjustment;
    spins_[part] = spin;
  }

  double Value(Part part) const { return gtk_adjustment_get_value(adjustments_[part]); }

  // A number being typed counts once its field is left; only that field is
  // read back, so the shown rounding changes no other part.
  void TakeTyping() {
    for (GtkWidget* spin : spins_)
      if (gtk_widget_has_focus(spin)) gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
  }

  void CommitNow() {
    TakeTyping();
    if (pending_ != 0) g_source_remove(pending_);
    pending_ = 0;
    Commit();
  }

  void Changed() {
    gtk_widget_queue_draw(disc_);
    if (updating_ > 0) return;
    if (pending_ != 0) g_source_remove(pending_);
    pending_ = g_timeout_add(kSettleMs, +[](gpointer self) -> gboolean {
      auto* control = static_cast<LightingControl*>(self);
      control->pending_ = 0;
      control->Commit();
      return G_SOURCE_REMOVE;
    }, this);
  }

  // The value as the widgets hold it; three places keep values the user did
  // not touch as they were.
  std::string Shown() const override {
    std::string text;
    for (int i = 0; i < 4; ++i) {
      std::string number = FormatNumber(Value(static_cast<Part>(i)), 3);
      while (number.back() == '0') number.pop_back();
      if (number.back() == '.') number.pop_back();
      text += number + " ";
    }
    return text + colour_;
  }

  void Commit() { Answer(session_.SetValue(index_, Shown())); }

  // A drag on the disc or a slider is one step of undo, however often it
  // rests on the way.
  void HoldGesture(GtkWidget* widget) {
    g_signal_connect(widget, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                       auto* control = static_cast<LightingControl*>(self);
                       if (!control->dragging_) control->session_.Gesture(true);
                       control->dragging_ = true;
                       return FALSE;
                     }),
                     this);
    g_signal_connect(widget, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                       auto* control = static_cast<LightingControl*>(self);
                       if (!control->dragging_) return FALSE;
                       control->dragging_ = false;
                       control->CommitNow();
                       control->session_.Gesture(false);
                       return FALSE;
                     }),
                     this);
  }

  // The light seen from above: its direction round the disc, its height by
  // how near the centre it stands (overhead at the centre, level at the rim).
  void Geometry(GtkWidget* widget, double& cx, double& cy, double& r) const {
    const double w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    cx = w / 2.0;
    cy = h / 2.0;
    r = std::min(w, h) / 2.0 - 4.0;
  }

  void Draw(GtkWidget* widget, cairo_t* cr) {
    double cx, cy, r;
    Geometry(widget, cx, cy, r);
    const double a = Value(kDirection) * kRadians, b = Value(kInclination) * kRadians;
    const double lx = cx + r * std::cos(b) * std::cos(a), ly = cy - r * std::cos(b) * std::sin(a);
    GdkRGBA highlight{1.0, 1.0, 1.0, 1.0};
    gdk_rgba_parse(&highlight, colour_.c_str());
    // A dome lit from the light: brightest under it, dark on the far side.
    const double shine = 0.35 + 0.65 * Value(kBrightness) / 100.0;
    cairo_pattern_t* dome = cairo_pattern_create_radial(cx + 0.6 * (lx - cx), cy + 0.6 * (ly - cy), 0.0, cx, cy, r * 1.2);
    cairo_pattern_add_color_stop_rgb(dome, 0.0, 0.25 + 0.75 * shine * highlight.red,
                                     0.25 + 0.75 * shine * highlight.green, 0.25 + 0.75 * shine * highlight.blue);
    cairo_pattern_add_color_stop_rgb(dome, 0.15 + 0.5 * Value(kSharpness) / 100.0, 0.55, 0.55, 0.55);
    cairo_pattern_add_color_stop_rgb(dome, 1.0, 0.12, 0.12, 0.12);
    cairo_arc(cr, cx, cy, r, 0, 2 * std::numbers::pi);
    cairo_set_source(cr, dome);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(dome);
    GdkRGBA ink;
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), gtk_widget_get_state_flags(widget), &ink);
    gdk_cairo_set_source_rgba(cr, &ink);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    // The light: a ring with a line to the centre, as a direction's dial has.
    cairo_move_to(cr, cx, cy);
    cairo_line_to(cr, lx, ly);
    cairo_stroke(cr);
    cairo_arc(cr, lx, ly, 4.5, 0, 2 * std::numbers::pi);
    cairo_set_source_rgb(cr, 1.0, 0.85, 0.2);
    cairo_fill_preserve(cr);
    gdk_cairo_set_source_rgba(cr, &ink);
    cairo_stroke(cr);
  }

  void PlaceLight(GtkWidget* widget, double x, double y) {
    double cx, cy, r;
    Geometry(widget, cx, cy, r);
    const double dx = x - cx, dy = cy - y, reach = std::min(1.0, std::hypot(dx, dy) / std::max(r, 1.0));
    if (dx != 0.0 || dy != 0.0) {
      double degrees = std::atan2(dy, dx) / kRadians;
      if (degrees < 0) degrees += 360.0;
      gtk_adjustment_set_value(adjustments_[kDirection], std::round(degrees));
    }
    gtk_adjustment_set_value(adjustments_[kInclination], std::round(std::acos(reach) / kRadians));
  }

  GtkWidget* disc_ = nullptr;
  GtkWidget* swatch_ = nullptr;
  std::array<GtkAdjustment*, 4> adjustments_{};
  std::array<GtkWidget*, 4> spins_{};
  std::string colour_ = "#ffffff";  // the highlight's text, kept as the session gave it until one is picked
  guint pending_ = 0;
  bool dragging_ = false;
};

}  // namespace

std::unique_ptr<Control> MakeLightingControl(DialogSession& session, ControlHost& host, int32_t index,
                                             const ControlSpec& spec, GtkGrid* grid, int row) {
  return std::make_unique<LightingControl>(session, host, index, spec, grid, row);
}

}  // namespace kv::toolkit
