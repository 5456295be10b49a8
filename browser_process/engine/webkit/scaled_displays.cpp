#include "scaled_displays.h"

#include <gdk/gdkx.h>

namespace engine::webkit {

GdkDisplay* ScaledDisplays::ForScale(int scale, CursorTable& cursors) {
  if (scale <= 1 || base_ == nullptr || !GDK_IS_X11_DISPLAY(base_)) return base_;
  if (const auto it = scaled_.find(scale); it != scaled_.end()) return it->second;
  GdkDisplay* display = gdk_display_open(gdk_display_get_name(base_));
  if (display == nullptr) return base_;
  gdk_x11_display_set_window_scale(display, scale);
  cursors.Load(display);
  scaled_.emplace(scale, display);
  return display;
}

DefaultDisplay::DefaultDisplay(GdkDisplay* display)
    : manager_(gdk_display_manager_get()), previous_(gdk_display_manager_get_default_display(manager_)) {
  if (display != nullptr) gdk_display_manager_set_default_display(manager_, display);
}

DefaultDisplay::~DefaultDisplay() {
  if (previous_ != nullptr) gdk_display_manager_set_default_display(manager_, previous_);
}

}  // namespace engine::webkit
