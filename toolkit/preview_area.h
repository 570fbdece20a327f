// The dialog's preview: the session's last finished preview drawn where the
// view shows it, panned by dragging, with the position markers and the
// puzzle's grid on top; a click that does not drag goes to the grid.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <vector>

#include "toolkit/controls.h"
#include "ui/toolkit_api.h"

namespace kv::toolkit {

class PreviewArea {
 public:
  // `zoomShown` hears every zoom the view takes.
  PreviewArea(DialogSession& session, std::function<void(double)> zoomShown);
  ~PreviewArea();
  PreviewArea(const PreviewArea&) = delete;
  PreviewArea& operator=(const PreviewArea&) = delete;

  GtkWidget* Widget() const { return area_; }
  void SetMarkers(std::vector<MarkerControl*> markers);
  // Controls drawn over the preview that take its clicks.
  void SetArrangements(std::vector<ArrangementControl*> arrangements);
  void MarkersChanged() { gtk_widget_queue_draw(area_); }
  // Hidden markers and grids leave the picture clear and take no clicks.
  void ShowMarkers(bool show) {
    showMarkers_ = show;
    gtk_widget_queue_draw(area_);
  }

  void ShowNew();
  void MarkOutOfDate() { current_ = false; }
  // The finished preview is on screen and no change has made it stale.
  bool Current() const { return current_; }
  void ShowUnprocessed(bool unprocessed);
  // The session's new zoom: the view keeps its centre.
  void SetZoom(double zoom);
  double Zoom() const { return zoom_; }
  // Zooms out until the whole image fits the view, once, when first shown.
  void FitOnce();
  // The session has had the first view: the dialog is as the user sees it.
  bool Ready() const { return viewSent_; }
  // The dialog is closing: no more views for the session.
  void Stop();

 private:
  struct Drag {
    enum Kind { kNone, kPan, kMarker } kind = kNone;
    MarkerControl* marker = nullptr;
    double startX = 0, startY = 0;
    PointD startOrigin, at;
    bool moved = false;  // beyond a click's jitter
  };

  void Fetch();
  void Draw(cairo_t* cr);
  void Allocated(int width, int height);
  bool Press(const GdkEventButton& e);
  void Motion(double x, double y);
  void Release();
  void Scroll(const GdkEventScroll& e);
  void ClampOrigin();
  // Tells the session the view as it is now, from an idle callback so that
  // no call of the session's own reaches back into it.
  void SendView();
  PointD ToImage(double x, double y) const;

  DialogSession& session_;
  std::function<void(double)> zoomShown_;
  GtkWidget* area_;
  std::vector<MarkerControl*> markers_;
  std::vector<ArrangementControl*> arrangements_;
  bool showMarkers_ = true;
  cairo_surface_t* image_ = nullptr;  // the frame, premultiplied for cairo
  PointD imageOrigin_;
  double imageZoom_ = 1.0;
  bool current_ = false;
  bool unprocessed_ = false;
  PointD origin_;
  double zoom_ = 1.0;
  int width_ = 0, height_ = 0;
  bool fitted_ = false;
  guint sendView_ = 0;
  bool viewSent_ = false;
  bool stopped_ = false;
  Drag drag_;
};

}  // namespace kv::toolkit
