#include "context_menu_answer.h"

#include "or_empty.h"
#include "webkit_browser.h"

namespace engine::webkit {

OpenMenu::OpenMenu(WebKitContextMenu* m, WebKitHitTestResult* hit)
    : menu(WEBKIT_CONTEXT_MENU(g_object_ref(m))),
      link_uri(OrEmpty(webkit_hit_test_result_get_link_uri(hit))),
      image_uri(OrEmpty(webkit_hit_test_result_get_image_uri(hit))),
      media_uri(OrEmpty(webkit_hit_test_result_get_media_uri(hit))) {}

OpenMenu::~OpenMenu() { g_object_unref(menu); }

void ContextMenuAnswer::Finish(bool chosen, int command_id) {
  WebKitBrowser* browser = menu_->browser;
  if (browser == nullptr) return;  // refused, answered before, or given up
  menu_->browser = nullptr;
  browser->FinishMenu(*menu_, chosen, command_id);
}

}  // namespace engine::webkit
