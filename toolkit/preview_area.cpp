#include "toolkit/preview_area.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv::toolkit {

namespace {

constexpr double kMarkerRadius = 7.0;
constexpr int kMostZoomSteps = 16;  // more than the session has levels

// The frame's straight RGBA as cairo's premultiplied native-endian ARGB.
cairo_surface_t* ToSurface(const PreviewFrame& frame) {
  const int w = frame.size.width, h = frame.size.height;
  if (w <= 0 || h <= 0 || frame.rgba.size() < static_cast<size_t>(w) * h * 4) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < h; ++y) {
    const uint8_t* in = frame.rgba.data() + static_cast<size_t>(y) * w * 4;
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < w; ++x, in += 4) {
      const uint32_t a = in[3];
      auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
      out[x] = a << 24 | pre(in[0]) << 16 | pre(in[1]) << 8 | pre(in[2]);
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace

PreviewArea::PreviewArea(DialogSession& session, std::function<void(double)> zoomShown)
    : session_(session), zoomShown_(std::move(zoomShown)), area_(gtk_drawing_area_new()) {
  gtk_widget_set_size_request(area_, 320, 240);
  gtk_widget_set_hexpand(area_, TRUE);
  gtk_widget_set_vexpand(area_, TRUE);
  gtk_widget_add_events(area_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON1_MOTION_MASK |
                                   GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
  g_signal_connect(area_, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer self) {
                     static_cast<PreviewArea*>(self)->Scroll(*e);
                     return TRUE;
                   }),
                   this);
  g_signal_connect(area_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) -> gboolean {
                     static_cast<PreviewArea*>(self)->Draw(cr);
                     return TRUE;
                   }),
                   this);
  g_signal_connect(area_, "size-allocate", G_CALLBACK(+[](GtkWidget*, GdkRectangle* a, gpointer self) {
                     static_cast<PreviewArea*>(self)->Allocated(a->width, a->height);
                   }),
                   this);
  g_signal_connect(area_, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) {
                     return static_cast<gboolean>(static_cast<PreviewArea*>(self)->Press(*e));
                   }),
                   this);
  g_signal_connect(area_, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer self) {
                     static_cast<PreviewArea*>(self)->Motion(e->x, e->y);
                     return TRUE;
                   }),
                   this);
  g_signal_connect(area_, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton*, gpointer self) {
                     static_cast<PreviewArea*>(self)->Release();
                     return TRUE;
                   }),
                   this);
}

PreviewArea::~PreviewArea() {
  if (sendView_ != 0) g_source_remove(sendView_);
  if (image_ != nullptr) cairo_surface_destroy(image_);
}

void PreviewArea::SetMarkers(std::vector<MarkerControl*> markers) {
  markers_ = std::move(markers);
  drag_ = {};
  gtk_widget_queue_draw(area_);
}

void PreviewArea::SetArrangements(std::vector<ArrangementControl*> arrangements) {
  arrangements_ = std::move(arrangements);
  drag_ = {};
  gtk_widget_queue_draw(area_);
}

void PreviewArea::ShowNew() {
  Fetch();
  current_ = image_ != nullptr;
}

void PreviewArea::ShowUnprocessed(bool unprocessed) {
  unprocessed_ = unprocessed;
  Fetch();
}

void PreviewArea::Fetch() {
  PreviewFrame frame;
  if (!session_.Preview(frame, unprocessed_)) return;
  cairo_surface_t* s = ToSurface(frame);
  if (s == nullptr) return;
  if (image_ != nullptr) cairo_surface_destroy(image_);
  image_ = s;
  imageOrigin_ = frame.origin;
  imageZoom_ = frame.zoom > 0 ? frame.zoom : 1.0;
  gtk_widget_queue_draw(area_);
}

void PreviewArea::SetZoom(double zoom) {
  if (zoom <= 0 || zoom == zoom_) return;
  const PointD centre{origin_.x + width_ / (2 * zoom_), origin_.y + height_ / (2 * zoom_)};
  zoom_ = zoom;
  origin_ = {centre.x - width_ / (2 * zoom_), centre.y - height_ / (2 * zoom_)};
  ClampOrigin();
  if (zoomShown_) zoomShown_(zoom_);
  SendView();
  gtk_widget_queue_draw(area_);
}

void PreviewArea::FitOnce() {
  if (fitted_ || width_ <= 0 || height_ <= 0) return;
  fitted_ = true;
  const Size image = session_.ImageSize();
  for (int i = 0; i < kMostZoomSteps && (image.width * zoom_ > width_ || image.height * zoom_ > height_); ++i) {
    const double before = zoom_;
    if (!session_.Command(kCommandZoomOut) || zoom_ == before) break;
  }
  origin_ = session_.StartOrigin({width_, height_}, zoom_);
  ClampOrigin();
  gtk_widget_queue_draw(area_);
}

void PreviewArea::Allocated(int width, int height) {
  if (width == width_ && height == height_) return;
  // The centre stays where it was.
  origin_.x += (width_ - width) / (2 * zoom_);
  origin_.y += (height_ - height) / (2 * zoom_);
  width_ = width;
  height_ = height;
  ClampOrigin();
  SendView();
}

void PreviewArea::ClampOrigin() {
  const Size image = session_.ImageSize();
  auto clamp = [](double& origin, double visible, int32_t extent) {
    // An image smaller than the view sits in its middle.
    origin = visible >= extent ? (extent - visible) / 2 : std::clamp(origin, 0.0, extent - visible);
  };
  clamp(origin_.x, width_ / zoom_, image.width);
  clamp(origin_.y, height_ / zoom_, image.height);
}

void PreviewArea::Stop() {
  stopped_ = true;
  if (sendView_ != 0) g_source_remove(sendView_);
  sendView_ = 0;
}

void PreviewArea::SendView() {
  if (sendView_ != 0 || stopped_) return;
  // At the default priority: GTK's relayout and redraw, above idle ones,
  // can keep an idle callback waiting for long.
  sendView_ = g_idle_add_full(G_PRIORITY_DEFAULT, +[](gpointer p) -> gboolean {
    auto* self = static_cast<PreviewArea*>(p);
    self->sendView_ = 0;
    if (!self->fitted_) {
      self->FitOnce();
      if (self->sendView_ != 0) return G_SOURCE_REMOVE;  // the zoom sends it again
    }
    if (self->width_ > 0 && self->height_ > 0) {
      self->session_.SetView(self->origin_, self->zoom_, {self->width_, self->height_});
      self->viewSent_ = true;
    }
    return G_SOURCE_REMOVE;
  }, this, nullptr);
}

PointD PreviewArea::ToImage(double x, double y) const { return {origin_.x + x / zoom_, origin_.y + y / zoom_}; }

void PreviewArea::Draw(cairo_t* cr) {
  cairo_set_source_rgb(cr, 0.32, 0.32, 0.32);
  cairo_paint(cr);
  const Size size = session_.ImageSize();
  const double x0 = -origin_.x * zoom_, y0 = -origin_.y * zoom_;
  const double w = size.width * zoom_, h = size.height * zoom_;

  // A checkerboard where the preview is transparent.
  cairo_save(cr);
  cairo_rectangle(cr, x0, y0, w, h);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
  constexpr double kCell = 8;
  for (double y = std::max(0.0, y0); y < std::min<double>(height_, y0 + h); y += kCell)
    for (double x = std::max(0.0, x0); x < std::min<double>(width_, x0 + w); x += kCell)
      if ((static_cast<int>((x - x0) / kCell) + static_cast<int>((y - y0) / kCell)) % 2 != 0)
        cairo_rectangle(cr, x, y, kCell, kCell);
  cairo_fill(cr);

  if (image_ != nullptr) {
    cairo_translate(cr, (imageOrigin_.x - origin_.x) * zoom_, (imageOrigin_.y - origin_.y) * zoom_);
    cairo_scale(cr, zoom_ / imageZoom_, zoom_ / imageZoom_);
    cairo_set_source_surface(cr, image_, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), zoom_ >= imageZoom_ ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_paint(cr);
  }
  cairo_restore(cr);

  if (showMarkers_)
    for (ArrangementControl* a : arrangements_) a->DrawOver(cr, origin_, zoom_);
  for (const MarkerControl* m : markers_) {
    if (!m->Known() || !showMarkers_) continue;
    const PointD p = drag_.kind == Drag::kMarker && drag_.marker == m ? drag_.at : m->Position();
    const double x = (p.x - origin_.x) * zoom_, y = (p.y - origin_.y) * zoom_;
    for (int pass = 0; pass < 2; ++pass) {  // a dark outline under a light mark, seen on any image
      cairo_set_line_width(cr, pass == 0 ? 3.5 : 1.5);
      if (pass == 0) cairo_set_source_rgb(cr, 0, 0, 0);
      else if (m->Enabled()) cairo_set_source_rgb(cr, 1.0, 0.9, 0.2);
      else cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
      cairo_new_sub_path(cr);
      cairo_arc(cr, x, y, kMarkerRadius, 0, 2 * std::numbers::pi);
      cairo_move_to(cr, x - 2 * kMarkerRadius, y);
      cairo_line_to(cr, x - kMarkerRadius / 2, y);
      cairo_move_to(cr, x + kMarkerRadius / 2, y);
      cairo_line_to(cr, x + 2 * kMarkerRadius, y);
      cairo_move_to(cr, x, y - 2 * kMarkerRadius);
      cairo_line_to(cr, x, y - kMarkerRadius / 2);
      cairo_move_to(cr, x, y + kMarkerRadius / 2);
      cairo_line_to(cr, x, y + 2 * kMarkerRadius);
      cairo_stroke(cr);
    }
    if (!m->Spec().label.empty()) {
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_move_to(cr, x + kMarkerRadius + 4, y - kMarkerRadius - 2);
      cairo_show_text(cr, m->Spec().label.c_str());
    }
  }
}

bool PreviewArea::Press(const GdkEventButton& e) {
  if (e.button != 1 || e.type != GDK_BUTTON_PRESS) return false;
  drag_ = {};
  drag_.startX = e.x;
  drag_.startY = e.y;
  drag_.startOrigin = origin_;
  for (MarkerControl* m : markers_) {
    if (!m->Known() || !m->Enabled() || !showMarkers_) continue;
    const double dx = (m->Position().x - origin_.x) * zoom_ - e.x, dy = (m->Position().y - origin_.y) * zoom_ - e.y;
    if (dx * dx + dy * dy <= 4 * kMarkerRadius * kMarkerRadius) {
      drag_.kind = Drag::kMarker;
      drag_.marker = m;
      drag_.at = m->Position();
      return true;
    }
  }
  drag_.kind = Drag::kPan;
  return true;
}

void PreviewArea::Motion(double x, double y) {
  if (drag_.kind == Drag::kMarker) {
    drag_.at = ToImage(x, y);
  } else if (drag_.kind == Drag::kPan) {
    constexpr double kJitter = 3.0;  // screen pixels a click may wander
    drag_.moved = drag_.moved || std::hypot(x - drag_.startX, y - drag_.startY) > kJitter;
    if (!drag_.moved) return;
    origin_ = {drag_.startOrigin.x - (x - drag_.startX) / zoom_, drag_.startOrigin.y - (y - drag_.startY) / zoom_};
    ClampOrigin();
  }
  gtk_widget_queue_draw(area_);
}

// The wheel pans, with Shift across; with Control it zooms.
void PreviewArea::Scroll(const GdkEventScroll& e) {
  double dx = 0, dy = 0;
  if (!gdk_event_get_scroll_deltas(reinterpret_cast<const GdkEvent*>(&e), &dx, &dy)) {
    if (e.direction == GDK_SCROLL_UP) dy = -1;
    else if (e.direction == GDK_SCROLL_DOWN) dy = 1;
    else if (e.direction == GDK_SCROLL_LEFT) dx = -1;
    else if (e.direction == GDK_SCROLL_RIGHT) dx = 1;
  }
  if ((e.state & GDK_CONTROL_MASK) != 0) {
    if (dy != 0) session_.Command(dy < 0 ? kCommandZoomIn : kCommandZoomOut);
    return;
  }
  if ((e.state & GDK_SHIFT_MASK) != 0) std::swap(dx, dy);
  constexpr double kStep = 48;  // view pixels per notch
  const PointD before = origin_;
  origin_.x += dx * kStep / zoom_;
  origin_.y += dy * kStep / zoom_;
  ClampOrigin();
  if (origin_ == before) return;
  gtk_widget_queue_draw(area_);
  SendView();
}

void PreviewArea::Release() {
  const Drag done = drag_;
  drag_ = {};
  if (done.kind == Drag::kMarker) {
    const Size size = session_.ImageSize();
    done.marker->MoveTo({std::clamp(done.at.x, 0.0, size.width - 1.0), std::clamp(done.at.y, 0.0, size.height - 1.0)});
  } else if (done.kind == Drag::kPan && !(origin_ == done.startOrigin)) {
    SendView();
  } else if (done.kind == Drag::kPan && !done.moved && showMarkers_) {
    const PointD at = ToImage(done.startX, done.startY);
    for (ArrangementControl* a : arrangements_)
      if (a->ClickAt(at)) break;
  }
  gtk_widget_queue_draw(area_);
}

}  // namespace kv::toolkit
