// A browser's context menu: the host draws it and chooses; the stock
// commands are carried out here.
#include <gtk/gtk.h>

#include "menu_model.h"
#include "webkit_browser.h"

namespace engine::webkit {

// The engine shows nothing. A menu asked for while one is open is refused by
// the client and never reported closed.
gboolean WebKitBrowser::OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent* event,
                                      WebKitHitTestResult* hit, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  auto open = std::make_shared<OpenMenu>(menu, hit);
  ContextMenuParams params;
  gdouble x = b->ToWidget(b->last_click_x_), y = b->ToWidget(b->last_click_y_);
  if (event != nullptr) gdk_event_get_coords(event, &x, &y);
  params.x = b->ToView(x);
  params.y = b->ToView(y);
  params.is_editable = webkit_hit_test_result_context_is_editable(hit);
  params.type_flags = webkit_hit_test_result_context_is_selection(hit) ? kMenuTypeSelection : 0;
  params.media_type = webkit_hit_test_result_context_is_image(hit) ? kMenuMediaImage : 0;
  const std::vector<MenuItem> model = ConvertMenu(menu, open->customs);
  if (!b->open_menu_) {
    open->browser = b;
    b->open_menu_ = open;
  }
  b->client_->RunContextMenu(params, model, std::make_shared<ContextMenuAnswer>(open));
  return TRUE;
}

void WebKitBrowser::AbandonMenu() {
  if (!open_menu_) return;
  open_menu_->browser = nullptr;
  open_menu_.reset();
  client_->OnContextMenuDismissed();
}

void WebKitBrowser::FinishMenu(OpenMenu& menu, bool chosen, int command_id) {
  const auto keep = open_menu_;  // the menu outlives its own command
  if (open_menu_.get() == &menu) open_menu_.reset();
  if (chosen) RunMenuCommand(menu, command_id);
  if (client_) client_->OnContextMenuDismissed();
}

void WebKitBrowser::RunMenuCommand(const OpenMenu& menu, int command_id) {
  if (!view_) return;
  if (command_id >= kFirstCustomCommand) {
    const std::size_t index = static_cast<std::size_t>(command_id - kFirstCustomCommand);
    if (index >= menu.customs.size()) return;
    GAction* action = webkit_context_menu_item_get_gaction(menu.customs[index]);
    if (action != nullptr && g_action_get_parameter_type(action) == nullptr) g_action_activate(action, nullptr);
    return;
  }
  if (FindStockItem(menu.menu, command_id) == nullptr) return;  // not in this menu
  GtkClipboard* clipboard = gtk_widget_get_clipboard(GTK_WIDGET(view_), GDK_SELECTION_CLIPBOARD);
  auto copy_text = [clipboard](const std::string& text) {
    if (!text.empty()) gtk_clipboard_set_text(clipboard, text.c_str(), -1);
  };
  auto open_elsewhere = [this](const std::string& uri) {
    if (!uri.empty()) client_->OnOpenURL(uri);
  };
  switch (command_id) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK:
      Load(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
      open_elsewhere(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
      open_elsewhere(menu.image_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
      open_elsewhere(menu.media_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
      copy_text(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD:
      copy_text(menu.image_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_VIDEO_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_AUDIO_LINK_TO_CLIPBOARD:
      copy_text(menu.media_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD: {
      // The pixels are at hand only for a local image.
      gchar* path = g_filename_from_uri(menu.image_uri.c_str(), nullptr, nullptr);
      if (GdkPixbuf* image = path ? gdk_pixbuf_new_from_file(path, nullptr) : nullptr) {
        gtk_clipboard_set_image(clipboard, image);
        g_object_unref(image);
      }
      g_free(path);
      break;
    }
    case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK:
      GoBack();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD:
      GoForward();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_STOP:
      StopLoad();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_RELOAD:
      Reload();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY:
      ExecuteFrameCommand(FrameCommand::Copy);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_CUT:
      ExecuteFrameCommand(FrameCommand::Cut);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_PASTE:
      ExecuteFrameCommand(FrameCommand::Paste);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_PASTE_AS_PLAIN_TEXT:
      webkit_web_view_execute_editing_command(view_, WEBKIT_EDITING_COMMAND_PASTE_AS_PLAIN_TEXT);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_DELETE:
      ExecuteFrameCommand(FrameCommand::Delete);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL:
      ExecuteFrameCommand(FrameCommand::SelectAll);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
      webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
      break;
    default:
      break;  // downloads, spelling and media controls need a person at a window
  }
}

}  // namespace engine::webkit
