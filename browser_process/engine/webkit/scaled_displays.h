#pragma once
// One display connection per whole window scale, and the switch that makes
// GTK put a new window on one of them.
#include <gdk/gdk.h>
#include <map>

#include "cursor_table.h"

namespace engine::webkit {

// GTK 3 on X11 gives all windows of one display connection one whole scale,
// so each scale in use has a connection of its own to the same server.
// Scale 1 is the default display.
class ScaledDisplays {
 public:
  void set_base(GdkDisplay* base) { base_ = base; }
  GdkDisplay* base() const { return base_; }
  // The connection for `scale`, opened on first use (its cursors go into
  // `cursors`); the base display where none can be had.
  GdkDisplay* ForScale(int scale, CursorTable& cursors);

 private:
  GdkDisplay* base_ = nullptr;
  std::map<int, GdkDisplay*> scaled_;  // kept open for the process's life
};

// GTK makes new windows on the default display: a view's window goes on the
// display of its scale while it is made and realised.
class DefaultDisplay {
 public:
  explicit DefaultDisplay(GdkDisplay* display);
  ~DefaultDisplay();
  DefaultDisplay(const DefaultDisplay&) = delete;
  DefaultDisplay& operator=(const DefaultDisplay&) = delete;

 private:
  GdkDisplayManager* manager_;
  GdkDisplay* previous_;
};

}  // namespace engine::webkit
