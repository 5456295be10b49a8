#include "memory_watchdog.h"

#include <chrono>
#include <cstdio>
#include <vector>

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
  // The list of web processes is read once a second (a walk over every
  // thread's children); the memory of those known is read every tick.
  constexpr int kTicksPerListing = 10;
  std::vector<platform::ProcessId> web_processes;
  int tick = 0;
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, std::chrono::milliseconds(100), [this] { return stop_; })) {
    if (tick++ % kTicksPerListing == 0) {
      web_processes.clear();
      for (const platform::ChildProcess& child : platform::RunningChildren()) {
        if (child.name == kWebProcessName) web_processes.push_back(child.pid);
      }
    }
    for (const platform::ProcessId pid : web_processes) {
      std::size_t resident = 0;
      if (!platform::ChildResidentBytes(pid, resident) || resident <= limit_) continue;
      // The engine reports the process gone to the browsers it served.
      if (platform::EndProcessNow(pid)) {
        std::fprintf(stderr, "CLIENT: Web process %ld passed its memory limit of %zu MiB and was ended\n", pid,
                     limit_ >> 20);
      }
    }
  }
}

}  // namespace engine::webkit
