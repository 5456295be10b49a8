// tev-view [URL]: an interactive window that is a host application of the
// browser: it shows the frames, forwards the pointer and keys, and answers
// dialogs, file choosers and context menus as a person would, using only the
// public C interfaces of libTEVBrowser.so and libtevnative.so.
//
// Prints "frame-area X Y W H" (the page's place in the window) whenever it
// changes, so that scripts driving the window can aim at the page.
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>

#include <csignal>

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "TEVBrowser.h"
#include "browser_process_path.h"
#include "host_dialogs.h"
#include "input_mapping.h"
#include "tevnative.h"

namespace {

using nlohmann::json;
using tev_view::RunFileDialog;
using tev_view::ShowContextMenu;
using tev_view::ShowScriptDialog;

struct Viewer {
  GtkWidget* window = nullptr;
  GtkWidget* area = nullptr;
  GtkWidget* address = nullptr;
  GtkWidget* back = nullptr;
  GtkWidget* forward = nullptr;
  GtkWidget* status = nullptr;
  std::int32_t browser = -1;
  bool created = false;

  // The latest frame, in the shared section until the next Render.
  void* pixels = nullptr;
  int frame_width = 0, frame_height = 0;
  int cursor = -1;
  int size_width = 0, size_height = 0, size_scale = 0;
  int area_x = -1, area_y = -1, printed_width = -1, printed_height = -1;  // as last printed
  float zoom = 0.0f;

  std::deque<std::pair<int, std::string>> events;  // waiting to be handled
  bool handling = false;                            // a blocking file dialog is open
  guint handler = 0;
  GtkWidget* script_dialog = nullptr;
  std::string load_state = "Starting";
  std::string last_error;

  // Double clicks as the browser wants them: the second press says 2.
  guint32 last_press_time = 0;
  double last_press_x = -100, last_press_y = -100;
  guint last_press_button = 0;
  GdkEvent* last_press = nullptr;  // what a context menu pops up for
};
Viewer g;

void ShowStatus() {
  std::string text = g.load_state;
  if (!g.last_error.empty()) text += "  ·  last error: " + g.last_error;
  gtk_label_set_text(GTK_LABEL(g.status), text.c_str());
}

json Parse(const std::string& text) {
  json payload = json::parse(text, nullptr, false);
  return payload.is_object() ? payload : json::object();
}

void HandleEvent(int code, const std::string& data) {
  const json payload = Parse(data);
  switch (code) {
    case BrowserCreated:
      g.created = true;
      if (gtk_widget_has_focus(g.area)) TEVBrowser_SendFocusEvent(g.browser, true);
      break;
    case AddressChanged:
      if (!gtk_widget_has_focus(g.address)) gtk_entry_set_text(GTK_ENTRY(g.address), payload.value("url", "").c_str());
      break;
    case TitleChanged: {
      const std::string title = payload.value("title", "");
      gtk_window_set_title(GTK_WINDOW(g.window), title.empty() ? "tev-view" : title.c_str());
      break;
    }
    case LoadingStateChanged:
      gtk_widget_set_sensitive(g.back, payload.value("canGoBack", false));
      gtk_widget_set_sensitive(g.forward, payload.value("canGoForward", false));
      g.load_state = payload.value("isLoading", false) ? "Loading…" : "Done";
      ShowStatus();
      break;
    case LoadEnded:
      g.load_state = "Loaded (status " + std::to_string(payload.value("status", 0)) + ")";
      ShowStatus();
      break;
    case LoadFailed:
      g.last_error = std::to_string(payload.value("error", 0)) + " " + payload.value("url", "");
      ShowStatus();
      break;
    case RenderProcessTerminated:
      g.load_state = "The page's process ended";
      ShowStatus();
      break;
    case CertificateError:
      g.last_error = "certificate refused";
      ShowStatus();
      break;
    case JavaScriptDialog:
      g.script_dialog = ShowScriptDialog(GTK_WINDOW(g.window), g.browser, payload);
      g_object_add_weak_pointer(G_OBJECT(g.script_dialog), reinterpret_cast<gpointer*>(&g.script_dialog));
      break;
    case DialogReset:
      if (g.script_dialog != nullptr) gtk_widget_destroy(g.script_dialog);
      break;
    case ContextMenu:
      ShowContextMenu(g.area, g.browser, payload, g.last_press);
      break;
    case OpenURL:
      TEVBrowser_GoToURL(g.browser, payload.value("url", "").c_str(), false);
      break;
    case FileDialogOpen:
    case FileDialogOpenMultiple:
    case FileDialogOpenFolder:
    case FileDialogSave:
      RunFileDialog(g.browser, code, payload);
      break;
    default:
      break;
  }
}

// Outside the pump: a file dialog runs its own loop, during which frames go
// on and new events wait their turn.
gboolean HandleEvents(gpointer) {
  g.handler = 0;
  if (g.handling) return G_SOURCE_REMOVE;
  g.handling = true;
  while (!g.events.empty()) {
    auto [code, data] = std::move(g.events.front());
    g.events.pop_front();
    HandleEvent(code, data);
  }
  g.handling = false;
  return G_SOURCE_REMOVE;
}

void OnEvent(std::int32_t handle, std::int32_t code, const char* data) {
  if (handle == g.browser) g.events.emplace_back(code, data ? data : "");
}
void OnConsole(std::int32_t, const char* message, const char* source, std::int32_t line) {
  std::printf("console: %s (%s:%d)\n", message, source, line);
  std::fflush(stdout);
}
void OnScript(std::int32_t, std::int32_t code, const char* data) {
  std::printf("script: %d %s\n", code, data);
  std::fflush(stdout);
}

void ApplyCursor(int code) {
  static const char* const kNames[] = {"default", "move", "nwse-resize", "nesw-resize",
                                       "ew-resize", "ns-resize", "pointer", "text"};
  GdkWindow* window = gtk_widget_get_window(g.area);
  if (window == nullptr) return;
  GdkCursor* cursor =
      gdk_cursor_new_from_name(gdk_window_get_display(window), kNames[code >= 0 && code < 8 ? code : 0]);
  gdk_window_set_cursor(window, cursor);
  if (cursor) g_object_unref(cursor);
}

// The browser follows the page area's size and scale.
void ApplySize() {
  GtkAllocation a;
  gtk_widget_get_allocation(g.area, &a);
  const int scale = gtk_widget_get_scale_factor(g.area);
  if (a.width < 1 || a.height < 1) return;
  if (a.width != g.size_width || a.height != g.size_height || scale != g.size_scale) {
    g.size_width = a.width;
    g.size_height = a.height;
    g.size_scale = scale;
    TEVBrowser_SetSize(g.browser, a.width, a.height, static_cast<float>(scale));
  }
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(g.area, g.window, 0, 0, &x, &y);
  if (x != g.area_x || y != g.area_y || a.width != g.printed_width || a.height != g.printed_height) {
    g.area_x = x;
    g.area_y = y;
    g.printed_width = a.width;
    g.printed_height = a.height;
    std::printf("frame-area %d %d %d %d\n", x, y, a.width, a.height);
    std::fflush(stdout);
  }
}

// One pass on every frame of the window's clock: events, then the picture.
gboolean OnTick(GtkWidget*, GdkFrameClock*, gpointer) {
  if (!TEVBrowser_ConnectionValid()) {
    g.load_state = "The browser process has ended";
    ShowStatus();
    return G_SOURCE_REMOVE;
  }
  ApplySize();
  TEVBrowser_ProcessEvents(OnConsole, OnEvent, OnScript);
  if (!g.events.empty() && !g.handling && g.handler == 0) g.handler = g_idle_add(HandleEvents, nullptr);
  bool updated = false;
  std::int32_t width = 0, height = 0, cursor = 0;
  void* pixels = nullptr;
  if (TEVBrowser_Render(g.browser, &updated, &width, &height, &pixels, &cursor)) {
    if (updated) {
      g.pixels = pixels;
      g.frame_width = width;
      g.frame_height = height;
      gtk_widget_queue_draw(g.area);
    }
    if (cursor != g.cursor) {
      g.cursor = cursor;
      ApplyCursor(cursor);
    }
  }
  return G_SOURCE_CONTINUE;
}

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer) {
  if (g.pixels == nullptr) return FALSE;
  // BGRA, premultiplied: cairo's own ARGB32 on this machine, drawn as it lies.
  cairo_surface_t* frame = cairo_image_surface_create_for_data(static_cast<unsigned char*>(g.pixels),
                                                               CAIRO_FORMAT_ARGB32, g.frame_width, g.frame_height,
                                                               g.frame_width * 4);
  const double scale = g.size_scale > 0 ? g.size_scale : 1;
  cairo_surface_set_device_scale(frame, scale, scale);
  cairo_set_source_surface(cr, frame, 0, 0);
  cairo_paint(cr);
  cairo_surface_destroy(frame);
  return TRUE;
}

int Button(guint button) { return button == 1 ? 0 : button == 2 ? 1 : button == 3 ? 2 : -1; }

gboolean OnButton(GtkWidget* area, GdkEventButton* e, gpointer) {
  const int button = Button(e->button);
  if (button < 0 || e->type == GDK_2BUTTON_PRESS || e->type == GDK_3BUTTON_PRESS) return TRUE;
  const bool up = e->type == GDK_BUTTON_RELEASE;
  int clicks = 1;
  if (!up) {
    gtk_widget_grab_focus(area);
    gint double_time = 400, distance = 5;
    g_object_get(gtk_widget_get_settings(area), "gtk-double-click-time", &double_time, "gtk-double-click-distance",
                 &distance, nullptr);
    if (e->button == g.last_press_button && e->time - g.last_press_time <= static_cast<guint32>(double_time) &&
        std::abs(e->x - g.last_press_x) <= distance && std::abs(e->y - g.last_press_y) <= distance) {
      clicks = 2;
      g.last_press_time = 0;  // a third press starts over
    } else {
      g.last_press_time = e->time;
    }
    if (g.last_press) gdk_event_free(g.last_press);
    g.last_press = gdk_event_copy(reinterpret_cast<GdkEvent*>(e));
    g.last_press_x = e->x;
    g.last_press_y = e->y;
    g.last_press_button = e->button;
  }
  TEVBrowser_SendMouseClickEvent(g.browser, static_cast<int>(e->x), static_cast<int>(e->y), button, up, clicks,
                                 tev_view::FlagsFromState(e->state));
  return TRUE;
}

gboolean OnScroll(GtkWidget*, GdkEventScroll* e, gpointer) {
  // 120 is one notch; positive is up or left.
  int dx = 0, dy = 0;
  switch (e->direction) {
    case GDK_SCROLL_UP: dy = 120; break;
    case GDK_SCROLL_DOWN: dy = -120; break;
    case GDK_SCROLL_LEFT: dx = 120; break;
    case GDK_SCROLL_RIGHT: dx = -120; break;
    case GDK_SCROLL_SMOOTH:
      dx = static_cast<int>(std::lround(-e->delta_x * 120));
      dy = static_cast<int>(std::lround(-e->delta_y * 120));
      break;
  }
  if (dx != 0 || dy != 0) {
    TEVBrowser_SendMouseWheelEvent(g.browser, static_cast<int>(e->x), static_cast<int>(e->y), dx, dy,
                                   tev_view::FlagsFromState(e->state));
  }
  return TRUE;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* e, gpointer) {
  TEVBrowser_SendMouseMoveEvent(g.browser, static_cast<int>(e->x), static_cast<int>(e->y),
                                tev_view::FlagsFromState(e->state));
  return TRUE;
}

gboolean OnLeave(GtkWidget*, GdkEventCrossing* e, gpointer) {
  TEVBrowser_SendMouseMoveEvent(g.browser, -1, -1, tev_view::FlagsFromState(e->state));  // outside: a leave
  return FALSE;
}

void Zoom(float level) {
  g.zoom = level;
  TEVBrowser_SetZoom(g.browser, level);
}

// Keys pressed over the page: the viewer's own shortcuts, else the key and
// the characters it types.
gboolean OnKey(GtkWidget*, GdkEventKey* e, gpointer) {
  const bool press = e->type == GDK_KEY_PRESS;
  const bool ctrl = (e->state & GDK_CONTROL_MASK) != 0;
  if (press && ctrl && (e->keyval == GDK_KEY_plus || e->keyval == GDK_KEY_equal || e->keyval == GDK_KEY_KP_Add)) {
    Zoom(g.zoom + 0.5f);
    return TRUE;
  }
  if (press && ctrl && (e->keyval == GDK_KEY_minus || e->keyval == GDK_KEY_KP_Subtract)) {
    Zoom(g.zoom - 0.5f);
    return TRUE;
  }
  if (press && ctrl && (e->keyval == GDK_KEY_0 || e->keyval == GDK_KEY_KP_0)) {
    Zoom(0.0f);
    return TRUE;
  }
  if (e->keyval == GDK_KEY_F12) {
    if (press) TEVBrowser_ShowDevTools(g.browser);
    return TRUE;
  }
  std::uint32_t flags = tev_view::FlagsFromState(e->state);
  if (tev_view::IsKeypad(e->keyval)) flags |= tev_view::kFlagKeypad;
  const int vk = tev_view::VirtualKey(e->keyval);
  if (vk != 0) TEVBrowser_SendKeyEvent(g.browser, vk, e->hardware_keycode, !press, flags);
  if (!press) return TRUE;
  gunichar ch = gdk_keyval_to_unicode(e->keyval);
  if (e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter) ch = 13;
  if (e->keyval == GDK_KEY_BackSpace) ch = 8;
  if (e->keyval == GDK_KEY_Tab) ch = 9;
  const bool command = (flags & (tev_view::kFlagControl | tev_view::kFlagAlt)) && !(flags & tev_view::kFlagAltGr);
  if (ch == 0 || ch == 0x7f || command) return TRUE;
  gunichar2* units = g_ucs4_to_utf16(&ch, 1, nullptr, nullptr, nullptr);
  for (gunichar2* u = units; u && *u; ++u) TEVBrowser_SendCharacterEvent(g.browser, *u, *u, flags);
  g_free(units);
  return TRUE;
}

gboolean OnFocus(GtkWidget*, GdkEventFocus* e, gpointer) {
  if (g.created) TEVBrowser_SendFocusEvent(g.browser, e->in != 0);
  return FALSE;
}

GtkWidget* ToolButton(const char* icon, const char* tip, void (*clicked)()) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON);
  gtk_widget_set_tooltip_text(button, tip);
  g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer f) { reinterpret_cast<void (*)()>(f)(); }),
                   reinterpret_cast<gpointer>(clicked));
  return button;
}

void BuildWindow(const std::string& url) {
  g.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(g.window), "tev-view");
  gtk_window_set_default_size(GTK_WINDOW(g.window), 1024, 720);
  g_signal_connect(g.window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  g.back = ToolButton("go-previous", "Back", [] { TEVBrowser_Navigate(g.browser, false); });
  g.forward = ToolButton("go-next", "Forward", [] { TEVBrowser_Navigate(g.browser, true); });
  gtk_widget_set_sensitive(g.back, FALSE);
  gtk_widget_set_sensitive(g.forward, FALSE);
  gtk_box_pack_start(GTK_BOX(bar), g.back, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), g.forward, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), ToolButton("view-refresh", "Reload", [] { TEVBrowser_Reload(g.browser, false); }),
                     FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), ToolButton("process-stop", "Stop", [] { TEVBrowser_StopLoading(g.browser); }),
                     FALSE, FALSE, 0);
  g.address = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(g.address), url.c_str());
  g_signal_connect(g.address, "activate", G_CALLBACK(+[](GtkEntry* entry, gpointer) {
                     TEVBrowser_GoToURL(g.browser, gtk_entry_get_text(entry), false);
                     gtk_widget_grab_focus(g.area);
                   }),
                   nullptr);
  gtk_box_pack_start(GTK_BOX(bar), g.address, TRUE, TRUE, 0);

  g.area = gtk_drawing_area_new();
  gtk_widget_set_can_focus(g.area, TRUE);
  gtk_widget_add_events(g.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                    GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_LEAVE_NOTIFY_MASK |
                                    GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
  g_signal_connect(g.area, "draw", G_CALLBACK(OnDraw), nullptr);
  g_signal_connect(g.area, "button-press-event", G_CALLBACK(OnButton), nullptr);
  g_signal_connect(g.area, "button-release-event", G_CALLBACK(OnButton), nullptr);
  g_signal_connect(g.area, "scroll-event", G_CALLBACK(OnScroll), nullptr);
  g_signal_connect(g.area, "motion-notify-event", G_CALLBACK(OnMotion), nullptr);
  g_signal_connect(g.area, "leave-notify-event", G_CALLBACK(OnLeave), nullptr);
  g_signal_connect(g.area, "key-press-event", G_CALLBACK(OnKey), nullptr);
  g_signal_connect(g.area, "key-release-event", G_CALLBACK(OnKey), nullptr);
  g_signal_connect(g.area, "focus-in-event", G_CALLBACK(OnFocus), nullptr);
  g_signal_connect(g.area, "focus-out-event", G_CALLBACK(OnFocus), nullptr);
  gtk_widget_add_tick_callback(g.area, OnTick, nullptr, nullptr);

  g.status = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(g.status), 0);
  gtk_label_set_ellipsize(GTK_LABEL(g.status), PANGO_ELLIPSIZE_END);

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), g.area, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(column), g.status, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(g.window), column);
  gtk_widget_show_all(g.window);
  gtk_widget_grab_focus(g.area);
  ShowStatus();
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  const std::string url = argc > 1 ? argv[1] : "about:blank";
  if (TEV_Initialize() != 1) std::fprintf(stderr, "tev-view: file dialogs are not available\n");
  if (!TEVBrowser_Initialize(BrowserProcessPath().c_str(), "", "", "", "", "", nullptr, "", false)) {
    std::fprintf(stderr, "tev-view: the browser process did not start\n");
    return 1;
  }
  g.browser = TEVBrowser_CreateBrowser(url.c_str());
  BuildWindow(url);
  // Asked to end, the viewer closes the browser and its process in order.
  for (const int signal : {SIGTERM, SIGINT}) {
    g_unix_signal_add(signal, [](gpointer) { gtk_main_quit(); return G_SOURCE_REMOVE; }, nullptr);
  }
  gtk_main();
  if (g.last_press) gdk_event_free(g.last_press);
  TEVBrowser_DestroyBrowser(g.browser);
  TEVBrowser_Shutdown();
  TEV_Shutdown();
  return 0;
}
