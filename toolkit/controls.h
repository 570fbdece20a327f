// The parameter controls of the dialog's pages: one object per control the
// session describes, showing the session's value and handing the user's
// changes back to it.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/toolkit_api.h"

namespace kv::toolkit {

// What a control needs of the dialog around it.
class ControlHost {
 public:
  virtual ~ControlHost() = default;
  // A change the session refused, or "" to clear the last one.
  virtual void ShowRefusal(const std::string& text) = 0;
  // Something drawn over the preview (a marker, the puzzle's grid) moved or
  // changed its enabled state.
  virtual void MarkersChanged() = 0;
};

class Control : public ControlView {
 public:
  Control(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec);
  ~Control() override;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ControlSpec& Spec() const { return spec_; }
  int32_t Index() const { return index_; }
  bool Enabled() const { return enabled_; }
  void Enable(bool enabled) override;

  // Shows the session's value.
  virtual void Refresh() = 0;
  // Hands a change still waiting (a slider being dragged, a field being
  // typed in) to the session now.
  virtual void Flush() {}
  // A change waits to reach the session.
  virtual bool Pending() const { return false; }
  // What a user does: puts `text` into the widgets and lets them report
  // it. "" or why that could not be done.
  virtual std::string Enter(std::string_view text) = 0;
  // A drag of the control's slider to `position` (0..1 of its track), the
  // button held; without a position the button goes up.
  virtual std::string Drag(std::optional<double> position);
  // The keyboard to the control's text field, else to its first widget.
  std::string Focus();
  // `widget` is one of the control's own, or inside one.
  bool Owns(GtkWidget* widget) const;
  // A value text from the clipboard, as a change of the user's.
  void Paste(const std::string& text) { Answer(session_.SetValue(index_, text)); }
  // The value as the control shows it; the place of its slider, 0..1.
  virtual std::string Shown() const { return session_.Value(index_); }
  virtual std::optional<double> TrackShown() const { return std::nullopt; }
  // Disconnects the widgets, so that their destruction reports nothing.
  virtual void Detach();

 protected:
  // Adds the label in column 0 of `row` and returns it.
  GtkWidget* AddLabel(GtkGrid* grid, int row);
  // The widgets Enable greys out.
  void Own(GtkWidget* widget);
  // Reports the session's answer to a change and shows the value it kept.
  void Answer(const std::string& refusal);

  DialogSession& session_;
  ControlHost& host_;
  const int32_t index_;
  const ControlSpec spec_;
  bool enabled_ = true;
  int updating_ = 0;  // set while Refresh writes the widgets, whose signals then change nothing

 private:
  std::vector<GtkWidget*> widgets_;
};

// A position control: a marker drawn on the preview and dragged there.
class MarkerControl : public Control {
 public:
  MarkerControl(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec);
  void Refresh() override;
  std::string Enter(std::string_view text) override;
  void Enable(bool enabled) override;

  bool Known() const { return known_; }
  PointD Position() const { return position_; }
  // A drag's end: the marker's new place in image pixels.
  void MoveTo(PointD position);

 private:
  PointD position_{};
  bool known_ = false;
};

// The puzzle's control: its commands among the other controls, and the
// knobs' arrows drawn over the preview, where a click on an arrow turns
// that knob and a click elsewhere in a piece knocks it out or puts it back.
class ArrangementControl : public Control {
 public:
  ArrangementControl(DialogSession& session, ControlHost& host, int32_t index, ControlSpec spec, GtkGrid* grid,
                     int row);
  void Refresh() override;
  // "columns N", "knock out half", "restore", "invert", "randomize", or
  // "click X,Y" at an image point as the preview last showed it.
  std::string Enter(std::string_view text) override;
  void Enable(bool enabled) override;

  // Over the preview whose top-left shows image point `origin` at `zoom`.
  void DrawOver(cairo_t* cr, PointD origin, double zoom);
  // A click at an image point; false when it falls outside the grid.
  bool ClickAt(PointD point);

 private:
  // An inner edge's arrow: its place in image pixels, the edge, and which
  // way the knob points.
  struct Arrow {
    PointD at;
    ArrangeCommand flip;
    int32_t x, y;
    PointD way;
  };
  std::vector<Arrow> Arrows() const;
  // The arrows' reach in image pixels at the last zoom; 0 when the pieces
  // are too small on screen to show them.
  double ArrowRadius() const;
  void Send(ArrangeCommand command, int32_t x = 0, int32_t y = 0);

  PuzzleArrangement arrangement_;
  Rect area_;
  bool known_ = false;
  double zoom_ = 1.0;
  GtkWidget* columns_ = nullptr;
};

// Makes the control for `spec`; controls with widgets add them as row `row`
// of `grid` (label, main widget, edit field, extra).
std::unique_ptr<Control> MakeControl(DialogSession& session, ControlHost& host, int32_t index,
                                     const ControlSpec& spec, GtkGrid* grid, int row);

// The lighting control: direction, height, brightness, sharpness and the
// highlight's colour of one parameter, grouped around a disc that places the light.
std::unique_ptr<Control> MakeLightingControl(DialogSession& session, ControlHost& host, int32_t index,
                                             const ControlSpec& spec, GtkGrid* grid, int row);

// A colour swatch: a button that opens the colour chooser titled `title`.
GtkWidget* NewSwatch(const std::string& title);
// Shows a colour text ("#rrggbb", a colour name); false, the swatch as it
// was, for a text it cannot show.
bool ShowColor(GtkWidget* swatch, const std::string& text);
// The swatch's colour as "#rrggbb".
std::string SwatchText(GtkWidget* swatch);

// "x,y" as a point; false for anything else.
bool ParsePoint(std::string_view text, PointD& point);
// A number in the C locale, the whole text; "1.50" with `decimals` places.
bool ParseNumber(std::string_view text, double& value);
std::string FormatNumber(double value, int decimals);

}  // namespace kv::toolkit
