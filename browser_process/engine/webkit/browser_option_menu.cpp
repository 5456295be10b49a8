// A browser's <select> list: an off-screen view has no window for the
// engine's popup, so the list is drawn into the frame and takes the input
// while it is open, as a real dropdown does.
#include <algorithm>
#include <utility>

#include "or_empty.h"
#include "webkit_browser.h"

namespace engine::webkit {

gboolean WebKitBrowser::OnShowOptionMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle* element,
                                         gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  b->ForgetOptionMenu();
  std::vector<PopupItem> items;
  const guint count = webkit_option_menu_get_n_items(menu);
  for (guint i = 0; i < count; ++i) {
    WebKitOptionMenuItem* item = webkit_option_menu_get_item(menu, i);
    items.push_back({OrEmpty(webkit_option_menu_item_get_label(item)), webkit_option_menu_item_is_enabled(item) != FALSE,
                     webkit_option_menu_item_is_group_label(item) != FALSE,
                     webkit_option_menu_item_is_group_child(item) != FALSE,
                     webkit_option_menu_item_is_selected(item) != FALSE});
  }
  b->option_menu_ = WEBKIT_OPTION_MENU(g_object_ref(menu));
  b->option_menu_closed_ = g_signal_connect(menu, "close", G_CALLBACK(OnOptionMenuClose), self);
  b->popup_.emplace(std::move(items), Rect{element->x, element->y, element->width, element->height},
                    b->applied_width_, b->applied_height_);
  b->popup_pressed_ = false;
  b->full_damage_ = true;
  return TRUE;
}

void WebKitBrowser::OnOptionMenuClose(WebKitOptionMenu*, gpointer self) {
  static_cast<WebKitBrowser*>(self)->ForgetOptionMenu();
}

void WebKitBrowser::ForgetOptionMenu() {
  if (option_menu_ != nullptr) {
    g_signal_handler_disconnect(option_menu_, option_menu_closed_);
    g_object_unref(option_menu_);
    option_menu_ = nullptr;
  }
  if (popup_) full_damage_ = true;  // the list leaves the frame
  popup_.reset();
}

void WebKitBrowser::ChooseOption(int index) {
  WebKitOptionMenu* menu = option_menu_ ? WEBKIT_OPTION_MENU(g_object_ref(option_menu_)) : nullptr;
  ForgetOptionMenu();
  if (menu == nullptr) return;
  if (index >= 0) {
    webkit_option_menu_activate_item(menu, static_cast<guint>(index));
  } else {
    webkit_option_menu_close(menu);
  }
  g_object_unref(menu);
}

bool WebKitBrowser::PopupTakesClick(const MouseEvent& e, bool mouse_up) {
  if (!popup_) return false;
  if (!mouse_up) {
    popup_pressed_ = popup_->Contains(e.x, e.y);
    if (!popup_pressed_) ChooseOption(-1);  // a press elsewhere closes the list
    return true;
  }
  // A release chooses only when its press fell on the list: the release of
  // the click that opened it does not.
  const bool pressed = std::exchange(popup_pressed_, false);
  const int index = popup_->ItemAt(e.x, e.y);
  if (pressed && index >= 0) ChooseOption(index);
  return true;
}

bool WebKitBrowser::PopupTakesWheel(const MouseEvent& e, int delta_y) {
  if (!popup_) return false;
  if (popup_->Contains(e.x, e.y) && delta_y != 0) {
    // 120 is one notch, three rows; positive is up.
    const int rows = delta_y > 0 ? -std::max(1, delta_y * 3 / 120) : std::max(1, -delta_y * 3 / 120);
    if (popup_->Scroll(rows)) full_damage_ = true;
  }
  return true;
}

bool WebKitBrowser::PopupTakesMove(const MouseEvent& e) {
  if (!popup_) return false;
  if (popup_->Hover(e.x, e.y)) full_damage_ = true;
  return true;
}

bool WebKitBrowser::PopupTakesKey(const KeyEvent& e) {
  if (!popup_) return false;
  if (e.type != KeyEventType::RawKeyDown) return true;
  switch (popup_->Key(e.windows_key_code)) {
    case OptionPopup::KeyOutcome::Moved:
      full_damage_ = true;
      break;
    case OptionPopup::KeyOutcome::Choose:
      ChooseOption(popup_->highlighted());
      break;
    case OptionPopup::KeyOutcome::Close:
      ChooseOption(-1);
      break;
    case OptionPopup::KeyOutcome::Ignored:
      break;
  }
  return true;
}

}  // namespace engine::webkit
