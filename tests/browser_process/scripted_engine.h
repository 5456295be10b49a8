#pragma once
// An engine for tests: records every call made on it as a line of text, and
// plays back what a test scripts (refused creations, paints, cursor changes,
// browsers that never report closing).
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"

class ScriptedEngine;

class ScriptedBrowser : public engine::Browser {
 public:
  ScriptedBrowser(ScriptedEngine& engine, int id) : engine_(engine), id_(id) {}
  void CloseBrowser(bool force) override;
  void WasResized() override { Log("WasResized"); }
  void Invalidate() override { Log("Invalidate"); }
  void NotifyScreenInfoChanged() override { Log("NotifyScreenInfoChanged"); }
  void SetZoomLevel(double level) override { Log("SetZoomLevel " + Num(level)); }
  void SetFocus(bool focus) override { Log(std::string("SetFocus ") + (focus ? "1" : "0")); }
  void SendMouseClickEvent(const engine::MouseEvent& e, engine::MouseButton b, bool up, int count) override {
    Log("MouseClick " + Num(e.x) + " " + Num(e.y) + " " + Num(e.modifiers) + " " + Num(static_cast<int>(b)) + " " +
        (up ? "up" : "down") + " " + Num(count));
  }
  void SendMouseWheelEvent(const engine::MouseEvent& e, int dx, int dy) override {
    Log("MouseWheel " + Num(e.x) + " " + Num(e.y) + " " + Num(dx) + " " + Num(dy));
  }
  void SendMouseMoveEvent(const engine::MouseEvent& e, bool leave) override {
    Log("MouseMove " + Num(e.x) + " " + Num(e.y) + (leave ? " leave" : " inside"));
  }
  void SendKeyEvent(const engine::KeyEvent& k) override {
    Log("Key type=" + Num(static_cast<int>(k.type)) + " mods=" + Num(k.modifiers) + " vk=" + Num(k.windows_key_code) +
        " native=" + Num(k.native_key_code) + " sys=" + Num(k.is_system_key) + " char=" + Num(k.character) +
        " unmod=" + Num(k.unmodified_character) + " editable=" + Num(k.focus_on_editable_field));
  }
  void ExecuteJavaScript(const std::string& code, const std::string& url, int line) override {
    Log("ExecuteJavaScript [" + code + "] " + url + " " + Num(line));
  }
  void LoadURL(const std::string& url) override { Log("LoadURL " + url); }
  void StopLoad() override { Log("StopLoad"); }
  void Reload() override { Log("Reload"); }
  void ReloadIgnoreCache() override { Log("ReloadIgnoreCache"); }
  bool CanGoBack() override { return can_go_back; }
  bool CanGoForward() override { return can_go_forward; }
  void GoBack() override { Log("GoBack"); }
  void GoForward() override { Log("GoForward"); }
  void ShowDevTools(const engine::WindowDescription& w, const engine::BrowserSettings&) override {
    Log("ShowDevTools " + w.window_name + " windowless=" + Num(w.windowless));
  }
  bool DeleteAllCookies() override {
    Log("DeleteAllCookies");
    return cookies_deletable;
  }
  bool ExecuteFrameCommand(engine::FrameCommand c) override {
    Log("FrameCommand " + Num(static_cast<int>(c)));
    return true;
  }

  bool can_go_back = false;
  bool can_go_forward = true;
  bool cookies_deletable = true;

  template <typename T>
  static std::string Num(T v) {
    if constexpr (std::is_floating_point_v<T>) {
      char b[32];
      std::snprintf(b, sizeof b, "%g", static_cast<double>(v));
      return b;
    } else {
      return std::to_string(v);
    }
  }

 private:
  void Log(const std::string& line);
  ScriptedEngine& engine_;
  int id_;
};

class ScriptedEngine : public engine::Engine {
 public:
  // Clients still held here close their browsers as they go: let them go
  // while the rest of the engine is intact.
  ~ScriptedEngine() override {
    pending_creations.clear();
    pending_closes.clear();
    std::vector<std::shared_ptr<engine::Client>> last = std::move(clients);
    clients.clear();
    last.clear();
  }
  bool Initialize(const engine::Settings& settings) override {
    this->settings = settings;
    calls.push_back("Initialize");
    return initialize_result;
  }
  void DoMessageLoopWork() override {
    calls.push_back("DoMessageLoopWork");
    ++passes;
    // Browsers asked for earlier arrive now.
    auto arriving = std::move(pending_creations);
    pending_creations.clear();
    for (auto& client : arriving) {
      auto browser = std::make_shared<ScriptedBrowser>(*this, next_id++);
      browsers.push_back(browser);
      client->OnAfterCreated(browser);
    }
    auto closing = std::move(pending_closes);
    pending_closes.clear();
    for (auto& client : closing) client->OnBeforeClose();
    for (auto& step : std::exchange(next_pass, {})) step();
  }
  void Shutdown() override { calls.push_back("Shutdown"); }
  bool CreateBrowser(const engine::WindowDescription& window, std::shared_ptr<engine::Client> client,
                     const std::string& url, const engine::BrowserSettings& browser_settings) override {
    calls.push_back("CreateBrowser " + url + " windowless=" + std::to_string(window.windowless) +
                    " fps=" + std::to_string(browser_settings.windowless_frame_rate));
    if (!refuse.empty() && refuse.front()) {
      refuse.pop_front();
      return false;
    }
    if (!refuse.empty()) refuse.pop_front();
    clients.push_back(client);
    pending_creations.push_back(client);
    return true;
  }

  // Closing reaches the client at the next pass, unless a test keeps it open.
  // Browser n belongs to the n-th client (browsers arrive in creation order).
  void Closed(int id) {
    if (keep_open) return;
    const auto index = static_cast<std::size_t>(id - 1);
    if (index < clients.size()) pending_closes.push_back(clients[index]);
  }

  bool initialize_result = true;
  bool keep_open = false;
  std::deque<bool> refuse;  // per CreateBrowser call: true refuses it
  engine::Settings settings;
  std::vector<std::string> calls;
  std::vector<std::shared_ptr<engine::Client>> clients;
  std::vector<std::shared_ptr<engine::Client>> pending_creations;
  std::vector<std::shared_ptr<engine::Client>> pending_closes;
  std::vector<std::shared_ptr<ScriptedBrowser>> browsers;
  std::vector<std::function<void()>> next_pass;  // run inside the next pump pass
  int passes = 0;
  int next_id = 1;
};

inline void ScriptedBrowser::Log(const std::string& line) { engine_.calls.push_back("browser" + Num(id_) + " " + line); }
inline void ScriptedBrowser::CloseBrowser(bool force) {
  Log(std::string("CloseBrowser ") + (force ? "force" : ""));
  engine_.Closed(id_);
}
