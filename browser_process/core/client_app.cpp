#include "client_app.h"

#include <cstdio>

namespace {
constexpr int kRemoteDebuggingPort = 9222;
constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;
}  // namespace

engine::Settings BuildEngineSettings(const IPCInitialize& init) {
  engine::Settings s;
  s.no_sandbox = true;
  s.browser_subprocess_path = init.browser_subprocess_path;
  s.framework_dir_path = init.framework_dir_path;
  s.main_bundle_path = init.main_bundle_path;
  s.multi_threaded_message_loop = false;
  s.external_message_pump = true;
  s.windowless_rendering_enabled = true;
  s.cache_path = init.cache_path;
  s.root_cache_path = init.cache_path;
  s.user_agent = init.user_agent;
  s.log_file = init.log_file;
  s.log_severity = init.debug ? engine::LogSeverity::Verbose : engine::LogSeverity::Default;
  s.resources_dir_path = init.resources_dir_path;
  s.remote_debugging_port = init.debug ? kRemoteDebuggingPort : 0;
  s.background_color = kOpaqueBlack;
  return s;
}

engine::BrowserSettings PageBrowserSettings() {
  engine::BrowserSettings s;
  s.windowless_frame_rate = 60;
  s.scripts_may_close_windows = false;
  s.background_color = kOpaqueBlack;
  return s;
}

engine::WindowDescription PageWindow() {
  engine::WindowDescription w;
  w.windowless = true;
  return w;
}

engine::WindowDescription DevToolsWindow() {
  engine::WindowDescription w;
  w.window_name = "Inspector";
  w.style = 0x16CF0000u;  // overlapped, clip children and siblings, visible
  w.x = w.y = w.width = w.height = static_cast<int>(0x80000000u);  // the system chooses
  return w;
}

engine::BrowserSettings DevToolsBrowserSettings() { return engine::BrowserSettings{}; }

bool ClientApp::InitializeEngine(engine::Engine& engine, const IPCInitialize& init) {
  std::fprintf(stderr, "CLIENT: Initialize\n");
  const engine::Settings settings = BuildEngineSettings(init);
  if (init.debug) std::fprintf(stderr, "CLIENT: Remote debugging port: %d\n", kRemoteDebuggingPort);
  return engine.Initialize(settings);
}
