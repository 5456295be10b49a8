// A browser's input: the host's mouse, wheel, key and focus events as GDK
// events sent to the view, in the widget's coordinates.
#include <gtk/gtk.h>

#include "webkit_browser.h"

namespace engine::webkit {

GdkEvent* WebKitBrowser::NewEvent(GdkEventType type) {
  GdkEvent* event = gdk_event_new(type);
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(view_));
  event->any.window = GDK_WINDOW(g_object_ref(window));
  event->any.send_event = TRUE;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
  gdk_event_set_device(event, type == GDK_KEY_PRESS || type == GDK_KEY_RELEASE ? gdk_seat_get_keyboard(seat)
                                                                                : gdk_seat_get_pointer(seat));
  return event;
}

void WebKitBrowser::SetFocus(bool focus) {
  if (!view_) return;
  if (focus) gtk_widget_grab_focus(GTK_WIDGET(view_));
  GdkEvent* event = NewEvent(GDK_FOCUS_CHANGE);
  event->focus_change.in = focus ? TRUE : FALSE;
  Dispatch(event);
}

void WebKitBrowser::SendMouseClickEvent(const MouseEvent& e, MouseButton button, bool mouse_up, int click_count) {
  if (!view_ || PopupTakesClick(ToWidget(e), mouse_up)) return;
  last_click_x_ = e.x;
  last_click_y_ = e.y;
  auto fill = [&](GdkEvent* event) {
    event->button.x = ToWidget(e.x);
    event->button.y = ToWidget(e.y);
    event->button.state = GdkStateFromFlags(e.modifiers);
    event->button.button = static_cast<guint>(button) + 1;  // left, middle, right: 1, 2, 3
    event->button.time = GDK_CURRENT_TIME;
  };
  GdkEvent* event = NewEvent(mouse_up ? GDK_BUTTON_RELEASE : GDK_BUTTON_PRESS);
  fill(event);
  Dispatch(event);
  if (!mouse_up && click_count == 2) {
    GdkEvent* twice = NewEvent(GDK_2BUTTON_PRESS);
    fill(twice);
    Dispatch(twice);
  }
}

void WebKitBrowser::SendMouseWheelEvent(const MouseEvent& e, int delta_x, int delta_y) {
  if (!view_ || PopupTakesWheel(ToWidget(e), delta_y)) return;
  GdkEvent* event = NewEvent(GDK_SCROLL);
  event->scroll.x = ToWidget(e.x);
  event->scroll.y = ToWidget(e.y);
  event->scroll.state = GdkStateFromFlags(e.modifiers);
  event->scroll.direction = GDK_SCROLL_SMOOTH;
  // 120 is one notch; positive means up or left, the opposite of GDK's sign.
  event->scroll.delta_x = -delta_x / 120.0;
  event->scroll.delta_y = -delta_y / 120.0;
  event->scroll.time = GDK_CURRENT_TIME;
  Dispatch(event);
}

void WebKitBrowser::SendMouseMoveEvent(const MouseEvent& e, bool mouse_leave) {
  if (!view_ || PopupTakesMove(ToWidget(e))) return;
  GdkEvent* event = NewEvent(mouse_leave ? GDK_LEAVE_NOTIFY : GDK_MOTION_NOTIFY);
  if (mouse_leave) {
    event->crossing.x = ToWidget(e.x);
    event->crossing.y = ToWidget(e.y);
    event->crossing.mode = GDK_CROSSING_NORMAL;
    event->crossing.detail = GDK_NOTIFY_ANCESTOR;
    event->crossing.state = GdkStateFromFlags(e.modifiers);
  } else {
    event->motion.x = ToWidget(e.x);
    event->motion.y = ToWidget(e.y);
    event->motion.state = GdkStateFromFlags(e.modifiers);
    event->motion.time = GDK_CURRENT_TIME;
  }
  Dispatch(event);
}

void WebKitBrowser::SendKeyEvent(const KeyEvent& e) {
  if (!view_ || PopupTakesKey(e)) return;
  for (const SyntheticKey& key : keys_.Translate(e)) {
    GdkEvent* event = NewEvent(key.press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
    event->key.keyval = key.keyval;
    event->key.state = key.state;
    event->key.time = GDK_CURRENT_TIME;
    GdkKeymapKey* entries = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gtk_widget_get_display(GTK_WIDGET(view_))), key.keyval, &entries,
                                          &count) &&
        count > 0) {
      event->key.hardware_keycode = static_cast<guint16>(entries[0].keycode);
    }
    g_free(entries);
    const gunichar text = gdk_keyval_to_unicode(key.keyval);
    if (key.press && text >= 0x20) {
      char utf8[8] = {};
      event->key.length = g_unichar_to_utf8(text, utf8);
      event->key.string = g_strdup(utf8);
    } else {
      event->key.string = g_strdup("");
    }
    Dispatch(event);
  }
}

void WebKitBrowser::Dispatch(GdkEvent* event) {
  gtk_main_do_event(event);
  gdk_event_free(event);
}

}  // namespace engine::webkit
