#include "engine_log.h"

#include <cstdio>
#include <glib.h>
#include <mutex>

namespace engine::webkit {
namespace {

// The engine's threads may log at any time, even while the engine shuts
// down, so the log lives outside the engine object and its writes and its
// closing take one lock.
struct Log {
  std::mutex lock;
  FILE* file = nullptr;
  bool verbose = false;
  GLogFunc previous = nullptr;  // GLib's own default takes no data
};

Log& TheLog() {
  static Log* log = new Log;  // never destroyed: a late engine thread may still log
  return *log;
}

}  // namespace

void OpenEngineLog(const std::string& path, bool verbose) {
  Log& log = TheLog();
  FILE* file = std::fopen(path.c_str(), "ae");
  if (file == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(log.lock);
    log.file = file;
    log.verbose = verbose;
  }
  log.previous = g_log_set_default_handler(
      [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
        Log& log = TheLog();
        std::lock_guard<std::mutex> hold(log.lock);
        if (log.file == nullptr || (!log.verbose && (level & (G_LOG_LEVEL_DEBUG | G_LOG_LEVEL_INFO)))) return;
        std::fprintf(log.file, "%s: %s\n", domain ? domain : "engine", message);
        std::fflush(log.file);
      },
      nullptr);
}

void CloseEngineLog() {
  Log& log = TheLog();
  if (log.previous != nullptr) {
    g_log_set_default_handler(log.previous, nullptr);
    log.previous = nullptr;
  }
  std::lock_guard<std::mutex> hold(log.lock);
  if (log.file != nullptr) std::fclose(log.file);
  log.file = nullptr;
}

}  // namespace engine::webkit
