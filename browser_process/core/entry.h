#pragma once
// The program's entry: browser mode when the command line starts with the
// mode prefix, otherwise sub-process mode.
#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"

inline constexpr const char* kBrowserModePrefix = "--main-browser-process=";

using EngineFactory = std::function<std::unique_ptr<engine::Engine>()>;

// Returns the exit status: 0 in browser mode, whatever happened; -1 in
// sub-process mode (this engine starts its helpers itself and has no entry
// for them).
int RunBrowserProcess(const std::string& command_line, const EngineFactory& make_engine);
