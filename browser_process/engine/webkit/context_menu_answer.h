#pragma once
// A page's context menu, kept while the host chooses from it.
#include <memory>
#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "engine/engine.h"

namespace engine::webkit {

class WebKitBrowser;

// The engine's menu and what was clicked.
struct OpenMenu {
  OpenMenu(WebKitContextMenu* m, WebKitHitTestResult* hit);
  ~OpenMenu();
  OpenMenu(const OpenMenu&) = delete;
  OpenMenu& operator=(const OpenMenu&) = delete;

  WebKitBrowser* browser = nullptr;  // null once answered or given up
  WebKitContextMenu* menu;
  std::vector<WebKitContextMenuItem*> customs;
  std::string link_uri, image_uri, media_uri;
};

// The host's answer goes to the browser that showed the menu, once.
class ContextMenuAnswer : public ContextMenuCallback {
 public:
  explicit ContextMenuAnswer(std::shared_ptr<OpenMenu> menu) : menu_(std::move(menu)) {}
  void Continue(int command_id, std::uint32_t) override { Finish(true, command_id); }
  void Cancel() override { Finish(false, 0); }

 private:
  void Finish(bool chosen, int command_id);
  std::shared_ptr<OpenMenu> menu_;
};

}  // namespace engine::webkit
