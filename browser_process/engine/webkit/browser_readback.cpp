// A browser's pictures: the window's damage, read back from its surface into
// BGRA and handed to the client, with the open <select> list drawn over it.
#include <algorithm>
#include <cmath>
#include <gtk/gtk.h>

#include "webkit_browser.h"
#include "webkit_engine.h"

namespace engine::webkit {

gboolean WebKitBrowser::OnDamageEvent(GtkWidget*, GdkEventExpose* event, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  b->damage_.push_back({event->area.x, event->area.y, event->area.width, event->area.height});
  return FALSE;
}

void WebKitBrowser::Deliver() {
  if (!window_) return;
  // The view is as large as the client says, asked every pass.
  const Rect wanted = client_->GetViewRect();
  if (wanted.width != applied_width_ || wanted.height != applied_height_ ||
      client_->GetDeviceScaleFactor() != applied_scale_) {
    ApplySize();
    return;  // paint at the new size on a later pass
  }
  GtkAllocation allocation;
  gtk_widget_get_allocation(GTK_WIDGET(view_), &allocation);
  if (allocation.width != layout_.widget_width || allocation.height != layout_.widget_height) return;
  // The cursor WebKit last set on the view.
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(view_));
  GdkCursor* cursor = gdk_window ? gdk_window_get_cursor(gdk_window) : nullptr;
  if (cursor != last_cursor_) {
    last_cursor_ = cursor;
    client_->OnCursorChange(engine_.cursors().TypeOf(cursor));
  }
  if (popup_ && !damage_.empty()) full_damage_ = true;  // the list is drawn over the whole picture
  if (damage_.empty() && !full_damage_) return;
  cairo_surface_t* surface = gtk_offscreen_window_get_surface(GTK_OFFSCREEN_WINDOW(window_));
  if (surface == nullptr) return;
  // The frame is in physical pixels: the widget's size times its window
  // scale, copied one to one from the window's surface.
  double surface_scale = 1.0, unused = 1.0;
  cairo_surface_get_device_scale(surface, &surface_scale, &unused);
  const int scale = std::max(1, static_cast<int>(std::lround(surface_scale)));
  if (scale != layout_.window_scale) return;  // the window is still taking its scale
  const int width = layout_.widget_width * scale, height = layout_.widget_height * scale;
  if (!readback_ || cairo_image_surface_get_width(readback_) != width ||
      cairo_image_surface_get_height(readback_) != height) {
    if (readback_) cairo_surface_destroy(readback_);
    readback_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_set_device_scale(readback_, scale, scale);
    full_damage_ = true;
  }
  cairo_t* cr = cairo_create(readback_);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface, 0, 0);
  if (!full_damage_) {
    for (const Rect& r : damage_) cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
  }
  cairo_paint(cr);
  if (popup_) PaintOptionPopup(cr, *popup_);
  cairo_destroy(cr);
  cairo_surface_flush(readback_);
  // ARGB32 in memory on this machine: B, G, R, A, premultiplied. Damage
  // comes in widget coordinates; the client counts physical pixels.
  std::vector<Rect> dirty;
  if (full_damage_) {
    dirty.push_back({0, 0, width, height});
  } else {
    for (const Rect& r : damage_) dirty.push_back({r.x * scale, r.y * scale, r.width * scale, r.height * scale});
  }
  damage_.clear();
  full_damage_ = false;
  client_->OnPaint(dirty, cairo_image_surface_get_data(readback_), width, height);
}

}  // namespace engine::webkit
