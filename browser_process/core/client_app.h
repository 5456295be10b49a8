#pragma once
// How the engine is configured. The settings records here are the protocol's
// whole settings, made from the host's start message and kept (and tested)
// in full; the engine is handed only what a backend reads (ForEngine).
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "ipc/messages.h"

// The process-wide settings.
struct ProcessSettings {
  bool no_sandbox = false;
  std::string browser_subprocess_path;
  std::string framework_dir_path;
  std::string main_bundle_path;
  bool multi_threaded_message_loop = false;
  bool external_message_pump = false;
  bool windowless_rendering_enabled = false;
  std::string cache_path;
  std::string root_cache_path;
  std::string user_agent;
  std::string log_file;
  engine::LogSeverity log_severity = engine::LogSeverity::Default;
  std::string resources_dir_path;
  int remote_debugging_port = 0;
  std::uint32_t background_color = 0;  // ARGB
};

// The settings of one browser.
struct PageSettings {
  int windowless_frame_rate = 0;
  bool scripts_may_close_windows = true;
  std::uint32_t background_color = 0;  // ARGB
};

// Where a browser shows; style and placement are the Win32 window's.
struct WindowSettings {
  bool windowless = false;
  bool shared_texture = false;
  bool external_begin_frame = false;
  std::string window_name;
  std::uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

ProcessSettings BuildEngineSettings(const IPCInitialize& init);
PageSettings PageBrowserSettings();
WindowSettings PageWindow();
WindowSettings DevToolsWindow();
PageSettings DevToolsBrowserSettings();

engine::Settings ForEngine(const ProcessSettings& settings);
engine::BrowserSettings ForEngine(const PageSettings& settings);
engine::WindowDescription ForEngine(const WindowSettings& window);

class ClientApp {
 public:
  // Writes "CLIENT: Initialize" (and the debugging port) and starts the engine.
  static bool InitializeEngine(engine::Engine& engine, const IPCInitialize& init);
};
