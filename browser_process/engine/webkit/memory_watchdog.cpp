#include "memory_watchdog.h"

#include <chrono>
#include <cstdio>

#include "platform/child_processes.h"

namespace engine::webkit {
namespace {

// The name the system gives the engine's web processes (shortened to 15 bytes).
constexpr const char* kWebProcessName = "WebKitWebProces";

}  // namespace

MemoryWatchdog::MemoryWatchdog(std::size_t limit_bytes) : limit_(limit_bytes), thread_([this] { Watch(); }) {}

MemoryWatchdog::~MemoryWatchdog() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void MemoryWatchdog::Watch() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, std::chrono::milliseconds(100), [this] { return stop_; })) {
    for (const platform::ChildProcess& child : platform::RunningChildren()) {
      if (child.name != kWebProcessName || child.resident_bytes <= limit_) continue;
      // The engine reports the process gone to the browsers it served.
      if (platform::EndProcessNow(child.pid)) {
        std::fprintf(stderr, "CLIENT: Web process %ld passed its memory limit of %zu MiB and was ended\n", child.pid,
                     limit_ >> 20);
      }
    }
  }
}

}  // namespace engine::webkit
