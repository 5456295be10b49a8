#pragma once
// Browser mode after start-up: connect, accept Initialize, map the frame
// buffer, start the engine, then serve one request at a time.
#include <string>

#include "client_context.h"
#include "engine/engine.h"

// Returns when the host has gone (receive failed) or after the shutdown
// sequence. `context` is left for the caller to release.
void RunRequestLoop(ClientContext& context, const std::string& channel_argument, engine::Engine& engine);
