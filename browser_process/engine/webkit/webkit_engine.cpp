#include "webkit_engine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtk/gtk.h>
#include <string>
#include <utility>

#include "engine_log.h"
#include "page_guards.h"
#include "platform/executable_path.h"
#include "private_display.h"
#include "webkit_browser.h"

namespace engine::webkit {

std::unique_ptr<Engine> CreateEngine() { return std::make_unique<WebKitEngine>(); }

WebKitEngine::WebKitEngine() = default;

WebKitEngine::~WebKitEngine() { Shutdown(); }

bool WebKitEngine::Initialize(const Settings& settings) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    if (!StartPrivateDisplay()) {
      std::fprintf(stderr, "CLIENT: No display, and no private Xvfb could be started\n");
      return false;
    }
  }
  // No sandbox (as root none can be made anyway), no GPU: pictures are read back.
  setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
  // Nothing here draws with OpenGL, so neither the toolkit nor the web
  // processes start the GL driver: it costs a start tens of milliseconds.
  setenv("GDK_GL", "disable", 1);
  setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
  if (settings.remote_debugging_port > 0) {
    const std::string address = "127.0.0.1:" + std::to_string(settings.remote_debugging_port);
    setenv("WEBKIT_INSPECTOR_HTTP_SERVER", address.c_str(), 1);
  }
  // Each view has a scale of its own; one for the whole process would
  // multiply them.
  unsetenv("GDK_SCALE");
  if (!gtk_init_check(nullptr, nullptr)) return false;
  displays_.set_base(gdk_display_get_default());
  cursors_.Load(displays_.base());
  if (!settings.log_file.empty()) OpenEngineLog(settings.log_file, settings.log_severity == LogSeverity::Verbose);

  WebKitWebsiteDataManager* data =
      settings.cache_path.empty()
          ? webkit_website_data_manager_new_ephemeral()
          : webkit_website_data_manager_new("base-data-directory", settings.cache_path.c_str(), "base-cache-directory",
                                            settings.cache_path.c_str(), nullptr);
  if (!settings.cache_path.empty()) {
    // Persistent cookies live under the cache path with everything else
    // and come back on the next run; session cookies end with the process.
    char* cookies = g_build_filename(settings.cache_path.c_str(), "cookies.sqlite", nullptr);
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(data), cookies,
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_free(cookies);
  }
  WebKitMemoryPressureSettings* memory = NewWebProcessMemorySettings();
  context_ = WEBKIT_WEB_CONTEXT(
      g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data, "memory-pressure-settings", memory, nullptr));
  webkit_memory_pressure_settings_free(memory);
  data_manager_ = data;
  GuardDownloads(context_);
  watchdog_ = std::make_unique<MemoryWatchdog>(std::size_t{WebProcessMemoryLimitMiB()} << 20);
  // The web-process extension (console lines, _tev_event) lives beside the program.
  if (const std::string self = platform::ExecutablePath(); !self.empty()) {
    char* folder = g_path_get_dirname(self.c_str());
    char* extensions = g_build_filename(folder, "web-extensions", nullptr);
    webkit_web_context_set_web_extensions_directory(context_, extensions);
    g_free(extensions);
    g_free(folder);
  }
  user_agent_ = settings.user_agent;
  background_ = settings.background_color;
  initialized_ = true;
  // The first browser's web process starts now, while the host is still
  // on its way to CreateBrowser.
  warm_ = NewWarmView(context_);
  return true;
}

void WebKitEngine::DoMessageLoopWork() {
  if (!initialized_) return;
  Announce();
  // Whatever is ready, bounded so one pass never stalls the host.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(12);
  for (int i = 0; i < 2000 && std::chrono::steady_clock::now() < deadline; ++i) {
    if (!g_main_context_iteration(nullptr, FALSE)) break;
  }
  // Closings reach the clients here, never inside the request. Every browser
  // is announced by now: none is made inside the engine's loop.
  for (auto it = browsers_.begin(); it != browsers_.end();) {
    WebKitBrowser& browser = *it->first;
    if (browser.closing()) {
      browser.GiveUpOpenRequests();
      browser.Destroy();
      browser.client().OnBeforeClose();
      it = browsers_.erase(it);
      continue;
    }
    browser.Deliver();
    ++it;
  }
  WarmNextView();
}

WarmView WebKitEngine::TakeWarmView() {
  if (warm_.view == nullptr) return NewWarmView(context_);
  return std::exchange(warm_, WarmView{});
}

void WebKitEngine::WarmNextView() {
  if (warm_.view != nullptr) return;
  for (const auto& [browser, announced] : browsers_) {
    if (!announced || browser->loading()) return;
  }
  warm_ = NewWarmView(context_);
}

void WebKitEngine::Announce() {
  for (auto& [browser, announced] : browsers_) {
    if (announced) continue;
    announced = true;
    browser->client().OnAfterCreated(browser);
    browser->Load(browser->initial_url());
  }
}

void WebKitEngine::Shutdown() {
  if (!initialized_) return;
  initialized_ = false;
  // The clients hold their browsers and the browsers their clients: let go
  // of the clients here so neither outlives the engine.
  for (auto& [browser, announced] : browsers_) {
    browser->Destroy();
    browser->ReleaseClient();
  }
  browsers_.clear();
  if (warm_.window != nullptr) gtk_widget_destroy(warm_.window);
  warm_ = WarmView{};
  watchdog_.reset();
  if (context_) g_object_unref(context_);
  if (data_manager_) g_object_unref(data_manager_);
  context_ = nullptr;
  data_manager_ = nullptr;
  CloseEngineLog();
}

bool WebKitEngine::CreateBrowser(const WindowDescription& window, std::shared_ptr<Client> client,
                                 const std::string& url, const BrowserSettings& settings) {
  if (!initialized_ || !window.windowless || !client) return false;
  auto browser = std::make_shared<WebKitBrowser>(*this, std::move(client), TakeWarmView(), settings);
  browser->set_initial_url(url);  // loaded once the client knows its browser
  browsers_.emplace_back(std::move(browser), false);
  return true;
}

}  // namespace engine::webkit
