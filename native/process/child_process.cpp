#include "child_process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <utility>
#include <unistd.h>

extern char** environ;

namespace tev {
namespace {

// Held from the first pipe of a child until it has started, so children are
// set up one at a time.
std::mutex g_creation_lock;

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

struct Pipe {
  int read = -1;
  int write = -1;
  bool Create() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  // A larger pipe lets a busy child write on while its reader is scheduled
  // out; the system's default of 64 KiB is kept where the change is refused.
  void Widen() { ::fcntl(write, F_SETPIPE_SZ, 1 << 20); }
  void Close() {
    CloseIfOpen(read);
    CloseIfOpen(write);
  }
};

std::int32_t StatusToCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

}  // namespace

constexpr std::size_t kSmallLimit = 1u << 20;
constexpr std::size_t kHugePage = 2u << 20;

ByteStore::~ByteStore() {
  if (region_ != nullptr) ::munmap(region_, region_capacity_);
}

bool ByteStore::GrowRegion(std::size_t needed) {
  std::size_t capacity = region_capacity_ ? region_capacity_ : 4 * kHugePage;
  while (capacity < needed) {
    if (capacity > SIZE_MAX / 2) return false;
    capacity *= 2;
  }
  void* grown = region_ == nullptr
                    ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                    : ::mremap(region_, region_capacity_, capacity, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) return false;
  ::madvise(grown, capacity, MADV_HUGEPAGE);  // a hint; without it the region still works
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
  if (stdout_read_ >= 0) StartReader(out_reader_, std::exchange(stdout_read_, -1), &CaptureBuffers::out);
  if (stderr_read_ >= 0) StartReader(err_reader_, std::exchange(stderr_read_, -1), &CaptureBuffers::err);
}

void ChildProcess::Start(const ChildOptions& options) {
  const bool any_pipe = options.open_stdin || options.capture_stdout || options.capture_stderr;
  std::lock_guard<std::mutex> hold(g_creation_lock);
  Pipe in, out, err;
  auto close_all = [&] {
    in.Close();
    out.Close();
    err.Close();
  };
  if ((options.open_stdin && !in.Create()) || (options.capture_stdout && !out.Create()) ||
      (options.capture_stderr && !err.Create())) {
    close_all();
    return;
  }
  if (out.write >= 0) out.Widen();
  if (err.write >= 0) err.Widen();

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    close_all();
    return;
  }
  // With any pipe wanted, the streams that are not piped are /dev/null; with
  // none, the child shares the caller's streams.
  auto place = [&](int child_end, int target, int null_mode) {
    if (child_end >= 0) return posix_spawn_file_actions_adddup2(&actions, child_end, target);
    return posix_spawn_file_actions_addopen(&actions, target, "/dev/null", null_mode, 0);
  };
  int rc = 0;
  if (any_pipe) {
    rc |= place(in.read, 0, O_RDONLY);
    rc |= place(out.write, 1, O_WRONLY);
    rc |= place(err.write, 2, O_WRONLY);
  }
  if (!options.working_directory.empty()) {
    rc |= posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  }

  std::vector<char*> argv;
  for (const auto& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (rc == 0 && ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);

  CloseIfOpen(in.read);
  CloseIfOpen(out.write);
  CloseIfOpen(err.write);
  if (!started()) {
    close_all();
    return;
  }
  stdin_write_ = in.write;
  stdout_read_ = out.read;
  stderr_read_ = err.read;
}

void ChildProcess::StartReader(Reader& reader, int fd, CaptureBuffer CaptureBuffers::*target) {
  reader.finished = std::make_shared<std::atomic<bool>>(false);
  try {
    // The thread owns the descriptor and a share of the buffers, so it may
    // outlive a released record.
    reader.thread = std::thread([fd, buffers = buffers_, target, finished = reader.finished] {
      std::unique_ptr<char[]> chunk(new (std::nothrow) char[kReadChunk]);
      while (chunk) {
        const ssize_t n = ::read(fd, chunk.get(), kReadChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        ((*buffers).*target).Append(chunk.get(), static_cast<std::size_t>(n));
      }
      ::close(fd);
      finished->store(true);
    });
  } catch (...) {
    ::close(fd);  // no reader: the stream is not captured
    reader.finished->store(true);
  }
}

std::int32_t ChildProcess::Wait() {
  if (exit_code_) return *exit_code_;
  if (!started()) return -1;
  // The child sees the end of its standard input now, so one that reads it to
  // the end can finish.
  CloseIfOpen(stdin_write_);
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(static_cast<pid_t>(pid_), &status, 0);
  } while (r < 0 && errno == EINTR);
  exit_code_ = r == static_cast<pid_t>(pid_) ? StatusToCode(status) : -1;
  for (Reader* reader : {&out_reader_, &err_reader_}) {
    if (reader->thread.joinable()) reader->thread.join();
  }
  return *exit_code_;
}

void ChildProcess::Release() {
  if (released_) return;
  released_ = true;
  CloseIfOpen(stdin_write_);
  for (Reader* reader : {&out_reader_, &err_reader_}) {
    if (!reader->thread.joinable()) continue;
    if (reader->finished->load()) {
      reader->thread.join();
    } else {
      reader->thread.detach();
    }
  }
  if (started() && !exit_code_) {
    const pid_t pid = static_cast<pid_t>(pid_);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      try {
        std::thread([pid] {
          int ignored = 0;
          while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
          }
        }).detach();
      } catch (...) {
        // Without a thread the child is collected by nobody until we exit.
      }
    }
  }
}

ChildProcess::~ChildProcess() { Release(); }

}  // namespace tev
