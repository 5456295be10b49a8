#include "child_process.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/pages.h"

namespace tev {
namespace {

// Held from the first pipe of a child until it has started, so children are
// set up one at a time.
std::mutex g_creation_lock;

}  // namespace

constexpr std::size_t kSmallLimit = 1u << 20;
constexpr std::size_t kHugePage = 2u << 20;

ByteStore::~ByteStore() { platform::FreePages(region_, region_capacity_); }

bool ByteStore::GrowRegion(std::size_t needed) {
  std::size_t capacity = region_capacity_ ? region_capacity_ : 4 * kHugePage;
  while (capacity < needed) {
    if (capacity > SIZE_MAX / 2) return false;
    capacity *= 2;
  }
  void* grown = region_ == nullptr ? platform::AllocatePages(capacity)
                                   : platform::ResizePages(region_, region_capacity_, capacity);
  if (grown == nullptr) return false;
  platform::PreferLargePages(grown, capacity);  // a hint; without it the region still works
  region_ = static_cast<char*>(grown);
  region_capacity_ = capacity;
  return true;
}

bool ByteStore::Append(const char* bytes, std::size_t size) {
  if (region_ == nullptr && small_.size() + size <= kSmallLimit) {
    try {
      small_.insert(small_.end(), bytes, bytes + size);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  const std::size_t current = this->size();
  if (size > SIZE_MAX - current) return false;
  if (current + size > region_capacity_) {
    const bool first = region_ == nullptr;
    if (!GrowRegion(current + size)) return false;
    if (first) {
      std::memcpy(region_, small_.data(), small_.size());
      region_size_ = small_.size();
      std::vector<char>().swap(small_);
    }
  }
  std::memcpy(region_ + region_size_, bytes, size);
  region_size_ += size;
  return true;
}

void CaptureBuffer::Append(const char* bytes, std::size_t size) {
  std::lock_guard<std::mutex> hold(lock_);
  bytes_.Append(bytes, size);
}

char* CaptureBuffer::CopyWithTerminator() const {
  std::lock_guard<std::mutex> hold(lock_);
  auto* copy = static_cast<char*>(std::malloc(bytes_.size() + 1));
  if (copy == nullptr) return nullptr;
  if (bytes_.size() != 0) std::memcpy(copy, bytes_.data(), bytes_.size());
  copy[bytes_.size()] = '\0';
  return copy;
}

ChildProcess::ChildProcess(const ChildOptions& options, std::shared_ptr<CaptureBuffers> buffers)
    : buffers_(std::move(buffers)) {
  if (!options.arguments.empty()) Start(options);
  if (!started()) return;
  if (pipes_.stdout_read != platform::kInvalidHandle) {
    StartReader(out_reader_, std::exchange(pipes_.stdout_read, platform::kInvalidHandle), &CaptureBuffers::out);
  }
  if (pipes_.stderr_read != platform::kInvalidHandle) {
    StartReader(err_reader_, std::exchange(pipes_.stderr_read, platform::kInvalidHandle), &CaptureBuffers::err);
  }
}

void ChildProcess::Start(const ChildOptions& options) {
  std::lock_guard<std::mutex> hold(g_creation_lock);
  platform::ProcessId pid = 0;
  const platform::ChildStreams streams{options.open_stdin, options.capture_stdout, options.capture_stderr};
  if (platform::StartProcessWithPipes(options.arguments, options.working_directory, streams, pipes_, pid)) pid_ = pid;
}

void ChildProcess::StartReader(Reader& reader, platform::NativeHandle stream, CaptureBuffer CaptureBuffers::*target) {
  reader.finished = std::make_shared<std::atomic<bool>>(false);
  try {
    // The thread owns the stream and a share of the buffers, so it may
    // outlive a released record.
    reader.thread = std::thread([stream, buffers = buffers_, target, finished = reader.finished] {
      std::unique_ptr<char[]> chunk(new (std::nothrow) char[kReadChunk]);
      while (chunk) {
        const long n = platform::ReadHandle(stream, chunk.get(), kReadChunk);
        if (n <= 0) break;
        ((*buffers).*target).Append(chunk.get(), static_cast<std::size_t>(n));
      }
      platform::CloseHandle(stream);
      finished->store(true);
    });
  } catch (...) {
    platform::CloseHandle(stream);  // no reader: the stream is not captured
    reader.finished->store(true);
  }
}

std::int32_t ChildProcess::Wait() {
  if (exit_code_) return *exit_code_;
  if (!started()) return -1;
  // The child sees the end of its standard input now, so one that reads it to
  // the end can finish.
  platform::CloseHandle(std::exchange(pipes_.stdin_write, platform::kInvalidHandle));
  exit_code_ = platform::WaitForExit(pid_);
  for (Reader* reader : {&out_reader_, &err_reader_}) {
    if (reader->thread.joinable()) reader->thread.join();
  }
  return *exit_code_;
}

void ChildProcess::Release() {
  if (released_) return;
  released_ = true;
  platform::CloseHandle(std::exchange(pipes_.stdin_write, platform::kInvalidHandle));
  for (Reader* reader : {&out_reader_, &err_reader_}) {
    if (!reader->thread.joinable()) continue;
    if (reader->finished->load()) {
      reader->thread.join();
    } else {
      reader->thread.detach();
    }
  }
  if (started() && !exit_code_) platform::CollectWhenExited(pid_);
}

ChildProcess::~ChildProcess() { Release(); }

}  // namespace tev
