#pragma once
// How a view of W x H at scale s is laid out on GTK 3, which knows only whole
// window scales: the view's window takes the whole scale S = ceil(s), its
// widget is W*s/S x H*s/S (rounded), so the frame is W*s x H*s physical
// pixels (the widget size times S), and the page is zoomed by s/S so that it
// still sees a viewport of W x H CSS pixels. For whole scales S = s and
// nothing is zoomed; for a fractional one devicePixelRatio reports S.
namespace engine::webkit {

struct ViewScale {
  int window_scale = 1;  // S
  double fraction = 1.0;  // s / S: the page's extra zoom, and view to widget coordinates
  int widget_width = 1, widget_height = 1;
};

// `window_scale` 0 chooses S = ceil(s); another value is the scale the
// view's window has (when no window of the chosen scale can be had): the
// page is then zoomed by s/S whatever S is.
ViewScale LayOutView(int width, int height, double scale, int window_scale = 0);

}  // namespace engine::webkit
