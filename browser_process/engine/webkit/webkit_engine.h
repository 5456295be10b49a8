#pragma once
// The engine seam on WebKitGTK: one WebKitWebView per browser inside a
// GtkOffscreenWindow, its damage read back as BGRA and handed to the client.
#include <memory>

#include "engine/engine.h"

namespace engine::webkit {

std::unique_ptr<Engine> CreateEngine();

}  // namespace engine::webkit
