#include "warm_view.h"

namespace engine::webkit {

WarmView NewWarmView(WebKitWebContext* context) {
  WarmView warm;
  warm.view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  warm.window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(warm.window), GTK_WIDGET(warm.view));
  webkit_web_view_evaluate_javascript(warm.view, "0", -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  return warm;
}

}  // namespace engine::webkit
