#pragma once
// A private X server for a browser process started without a display.

namespace engine::webkit {

// Starts Xvfb on a free display number and points DISPLAY at it. The server
// is ended with SIGTERM when this process ends, however it ends, so it
// removes its own lock and socket. False when no server could be started.
bool StartPrivateDisplay();

}  // namespace engine::webkit
