#pragma once
// The engine seam on WebKitGTK: one WebKitWebView per browser inside a
// GtkOffscreenWindow, its damage read back as BGRA and handed to the client.
// The engine starts the display, the toolkit and the web context, pumps
// GLib's loop, and announces, delivers and closes its browsers.
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <webkit2/webkit2.h>

#include "cursor_table.h"
#include "engine/engine.h"
#include "memory_watchdog.h"
#include "scaled_displays.h"
#include "warm_view.h"

namespace engine::webkit {

class WebKitBrowser;

std::unique_ptr<Engine> CreateEngine();

class WebKitEngine : public Engine {
 public:
  WebKitEngine();
  ~WebKitEngine() override;

  bool Initialize(const Settings& settings) override;
  void DoMessageLoopWork() override;
  void Shutdown() override;
  bool CreateBrowser(const WindowDescription& window, std::shared_ptr<Client> client, const std::string& url,
                     const BrowserSettings& settings) override;

  // What the browsers share.
  CursorTable& cursors() { return cursors_; }
  GdkDisplay* DisplayForScale(int scale) { return displays_.ForScale(scale, cursors_); }
  WebKitWebsiteDataManager* data_manager() const { return data_manager_; }
  const std::string& user_agent() const { return user_agent_; }
  std::uint32_t background() const { return background_; }

 private:
  // New browsers reach their clients first, then their pages start loading.
  void Announce();
  // The view made ahead for the next browser, or a new one.
  WarmView TakeWarmView();
  // The next browser's view is made once no page is loading, so that its
  // web process does not compete with a page on its way to the screen.
  void WarmNextView();

  bool initialized_ = false;
  WebKitWebContext* context_ = nullptr;
  WebKitWebsiteDataManager* data_manager_ = nullptr;
  std::vector<std::pair<std::shared_ptr<WebKitBrowser>, bool>> browsers_;  // with: announced yet
  CursorTable cursors_;
  ScaledDisplays displays_;
  std::string user_agent_;
  std::uint32_t background_ = 0xFF000000u;
  std::unique_ptr<MemoryWatchdog> watchdog_;
  WarmView warm_;
};

}  // namespace engine::webkit
