#include "client_app.h"

#include <cstdio>

namespace {
constexpr int kRemoteDebuggingPort = 9222;
constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;
}  // namespace

ProcessSettings BuildEngineSettings(const IPCInitialize& init) {
  ProcessSettings s;
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

PageSettings PageBrowserSettings() {
  PageSettings s;
  s.windowless_frame_rate = 60;
  s.scripts_may_close_windows = false;
  s.background_color = kOpaqueBlack;
  return s;
}

WindowSettings PageWindow() {
  WindowSettings w;
  w.windowless = true;
  return w;
}

WindowSettings DevToolsWindow() {
  WindowSettings w;
  w.window_name = "Inspector";
  w.style = 0x16CF0000u;  // overlapped, clip children and siblings, visible
  w.x = w.y = w.width = w.height = static_cast<int>(0x80000000u);  // the system chooses
  return w;
}

PageSettings DevToolsBrowserSettings() { return PageSettings{}; }

engine::Settings ForEngine(const ProcessSettings& settings) {
  engine::Settings e;
  e.cache_path = settings.cache_path;
  e.user_agent = settings.user_agent;
  e.log_file = settings.log_file;
  e.log_severity = settings.log_severity;
  e.remote_debugging_port = settings.remote_debugging_port;
  e.background_color = settings.background_color;
  return e;
}

engine::BrowserSettings ForEngine(const PageSettings& settings) {
  engine::BrowserSettings e;
  e.windowless_frame_rate = settings.windowless_frame_rate;
  e.background_color = settings.background_color;
  return e;
}

engine::WindowDescription ForEngine(const WindowSettings& window) {
  engine::WindowDescription e;
  e.windowless = window.windowless;
  e.window_name = window.window_name;
  return e;
}

bool ClientApp::InitializeEngine(engine::Engine& engine, const IPCInitialize& init) {
  std::fprintf(stderr, "CLIENT: Initialize\n");
  const ProcessSettings settings = BuildEngineSettings(init);
  if (init.debug) std::fprintf(stderr, "CLIENT: Remote debugging port: %d\n", kRemoteDebuggingPort);
  return engine.Initialize(ForEngine(settings));
}
