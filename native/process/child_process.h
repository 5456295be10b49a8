#pragma once
// A started program whose standard streams may be piped to us, read by one
// thread per captured stream into a growing buffer.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/handle.h"
#include "platform/process.h"

namespace tev {

// A growing byte store. Small outputs live in an ordinary vector; past 1 MiB
// they move to a region backed by huge pages and grown in place, because
// faulting in gigabytes of 4 KiB pages costs more than the pipe itself.
class ByteStore {
 public:
  ByteStore() = default;
  ~ByteStore();
  ByteStore(const ByteStore&) = delete;
  ByteStore& operator=(const ByteStore&) = delete;

  // False when memory ran out; the bytes are then dropped.
  bool Append(const char* bytes, std::size_t size);
  const char* data() const { return region_ ? region_ : small_.data(); }
  std::size_t size() const { return region_ ? region_size_ : small_.size(); }

 private:
  bool GrowRegion(std::size_t needed);

  std::vector<char> small_;
  char* region_ = nullptr;
  std::size_t region_size_ = 0;
  std::size_t region_capacity_ = 0;
};

// Bytes a reader thread appends while the application copies them: one lock
// for both, so a copy is always a whole prefix.
class CaptureBuffer {
 public:
  void Append(const char* bytes, std::size_t size);
  // A heap copy of everything so far with one NUL after it (free()d by the caller).
  char* CopyWithTerminator() const;

 private:
  mutable std::mutex lock_;
  ByteStore bytes_;
};

struct CaptureBuffers {
  CaptureBuffer out;
  CaptureBuffer err;
};

struct ChildOptions {
  std::vector<std::string> arguments;  // UTF-8; the first is the program
  std::string working_directory;       // empty: the caller's
  bool capture_stdout = false;
  bool capture_stderr = false;
  bool open_stdin = false;
};

class ChildProcess {
 public:
  static constexpr std::size_t kReadChunk = 131072;

  // Starts the program (if there is one) and its reader threads. Whether it
  // started shows in started().
  ChildProcess(const ChildOptions& options, std::shared_ptr<CaptureBuffers> buffers);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Closes our standard-input end, waits for the child and its readers, and
  // returns its status (-signal when a signal ended it, -1 when it never ran).
  std::int32_t Wait();
  // Lets go without waiting: a running child is collected by a thread of its
  // own when it ends, and readers still busy finish on their own.
  void Release();

 private:
  struct Reader {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  void Start(const ChildOptions& options);
  void StartReader(Reader& reader, platform::NativeHandle stream, CaptureBuffer CaptureBuffers::*target);

  platform::ProcessId pid_ = 0;
  platform::ChildPipes pipes_;
  std::shared_ptr<CaptureBuffers> buffers_;
  Reader out_reader_;
  Reader err_reader_;
  std::optional<std::int32_t> exit_code_;
  bool released_ = false;
};

}  // namespace tev
