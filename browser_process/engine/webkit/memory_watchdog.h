#pragma once
// Ends any web process whose resident memory passes the limit, checked ten
// times a second on a thread of its own, whether or not the host pumps (a
// process started since is watched from the next second on). The
// engine's own memory-pressure handling acts first, but it checks less often
// and first tries to free memory, so a page allocating fast would pass the
// limit by far before it.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace engine::webkit {

class MemoryWatchdog {
 public:
  explicit MemoryWatchdog(std::size_t limit_bytes);
  ~MemoryWatchdog();
  MemoryWatchdog(const MemoryWatchdog&) = delete;
  MemoryWatchdog& operator=(const MemoryWatchdog&) = delete;

 private:
  void Watch();

  std::size_t limit_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace engine::webkit
