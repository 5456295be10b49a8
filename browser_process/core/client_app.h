#pragma once
// How the engine is configured: the process-wide settings made from the
// host's start message, the page-browser settings and window descriptions,
// and the developer-tools window.
#include "engine/engine.h"
#include "ipc/messages.h"

engine::Settings BuildEngineSettings(const IPCInitialize& init);
engine::BrowserSettings PageBrowserSettings();
engine::WindowDescription PageWindow();
engine::WindowDescription DevToolsWindow();
engine::BrowserSettings DevToolsBrowserSettings();

class ClientApp {
 public:
  // Writes "CLIENT: Initialize" (and the debugging port) and starts the engine.
  static bool InitializeEngine(engine::Engine& engine, const IPCInitialize& init);
};
