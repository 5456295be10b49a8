// A browser's size and scale: the host's view in pixels and its scale
// factor, laid out as a widget size, a whole window scale and a zoom.
#include <cmath>
#include <gtk/gtk.h>

#include "scaled_displays.h"
#include "webkit_browser.h"
#include "webkit_engine.h"

namespace engine::webkit {

void WebKitBrowser::ApplySize() {
  if (!window_) return;
  const Rect r = client_->GetViewRect();
  const float scale = client_->GetDeviceScaleFactor();
  applied_width_ = r.width;
  applied_height_ = r.height;
  applied_scale_ = scale;
  layout_ = LayOutView(r.width, r.height, scale);
  if (gtk_widget_get_scale_factor(window_) != layout_.window_scale) MoveToWindowScale(layout_.window_scale);
  // Without a window of that scale (no display connection for it) the page
  // is zoomed on the window it has.
  const int window_scale = gtk_widget_get_scale_factor(window_);
  if (window_scale != layout_.window_scale) layout_ = LayOutView(r.width, r.height, scale, window_scale);
  gtk_widget_set_size_request(GTK_WIDGET(view_), layout_.widget_width, layout_.widget_height);
  gtk_window_resize(GTK_WINDOW(window_), layout_.widget_width, layout_.widget_height);
  ApplyZoom();
  full_damage_ = true;
}

void WebKitBrowser::MoveToWindowScale(int window_scale) {
  GdkDisplay* display = engine_.DisplayForScale(window_scale);
  if (display == gtk_widget_get_display(window_)) return;  // no connection for that scale: stays as it is
  DefaultDisplay on(display);
  GtkWidget* next = gtk_offscreen_window_new();
  g_object_ref(view_);
  gtk_container_remove(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  gtk_container_add(GTK_CONTAINER(next), GTK_WIDGET(view_));
  g_object_unref(view_);
  gtk_widget_destroy(window_);
  window_ = next;
  g_signal_connect(window_, "damage-event", G_CALLBACK(OnDamageEvent), this);
  gtk_widget_show_all(window_);
  // GTK tells a widget of a new scale only when its own window's scale
  // changes, not when it moves to a window of another scale; the view reads
  // the new one when told.
  g_object_notify(G_OBJECT(view_), "scale-factor");
  damage_.clear();
  last_cursor_ = reinterpret_cast<GdkCursor*>(-1);
}

void WebKitBrowser::ApplyZoom() {
  if (view_) webkit_web_view_set_zoom_level(view_, std::pow(1.2, zoom_level_) * layout_.fraction);
}

MouseEvent WebKitBrowser::ToWidget(const MouseEvent& e) const {
  return {static_cast<int>(std::lround(ToWidget(e.x))), static_cast<int>(std::lround(ToWidget(e.y))), e.modifiers};
}

int WebKitBrowser::ToView(double widget_coordinate) const {
  return static_cast<int>(std::lround(widget_coordinate / layout_.fraction));
}

}  // namespace engine::webkit
