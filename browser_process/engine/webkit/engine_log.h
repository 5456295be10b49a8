#pragma once
// The engine's own log lines (GLib's default handler), into the log file the
// host named.
#include <string>

namespace engine::webkit {

// Appends to `path`; debug and info lines only when `verbose`. Nothing
// happens when the file cannot be opened.
void OpenEngineLog(const std::string& path, bool verbose);
// Gives GLib its handler back and closes the file.
void CloseEngineLog();

}  // namespace engine::webkit
