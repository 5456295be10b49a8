#pragma once
// A view made ahead of the browser that takes it.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace engine::webkit {

// A view in its offscreen window (on the default display).
struct WarmView {
  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
};

// A view whose web process is already running: starting that process is
// most of the time to a new browser's first frame. A script run starts it
// without a page or a history entry, and the first page the browser loads
// commits in that same process. Each view keeps a process of its own, so a
// page that hangs still hangs only its own browser.
WarmView NewWarmView(WebKitWebContext* context);

}  // namespace engine::webkit
