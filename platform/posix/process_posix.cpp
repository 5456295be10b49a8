#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// Every program this system starts goes through here: `prepare` adds the
// descriptor work to the file actions; `search_path` looks the program up
// on PATH. The system's error code, or 0.
template <typename Prepare>
int Spawn(const char* program, char* const* argv, bool search_path, Prepare prepare, pid_t& child) {
  posix_spawn_file_actions_t actions;
  if (const int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) return rc;
  int rc = prepare(actions);
  if (rc == 0) {
    rc = search_path ? ::posix_spawnp(&child, program, &actions, nullptr, argv, environ)
                     : ::posix_spawn(&child, program, &actions, nullptr, argv, environ);
  }
  ::posix_spawn_file_actions_destroy(&actions);
  return rc;
}

std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
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
  void Close() {
    CloseHandle(read);
    CloseHandle(write);
    read = write = -1;
  }
};

}  // namespace

bool StartProcessWithInheritance(const std::string& program, const std::string& command_line,
                                 NativeHandle inherited, ProcessId& pid, int& error) {
  // The whole command line is the one argument: the child sees no program name,
  // just as a Windows command line built without one.
  std::string argument = command_line;
  char* argv[] = {argument.data(), nullptr};
  pid_t child = 0;
  error = Spawn(program.c_str(), argv, false,
                [inherited](posix_spawn_file_actions_t& actions) {
                  // A descriptor duplicated onto itself loses close-on-exec
                  // in the child alone, so ours stays close-on-exec for every
                  // other start.
                  if (inherited == kInvalidHandle) return 0;
                  return ::posix_spawn_file_actions_adddup2(&actions, static_cast<int>(inherited),
                                                            static_cast<int>(inherited));
                },
                child);
  if (error != 0) return false;
  pid = child;
  return true;
}

bool StartProcessWithPipes(const std::vector<std::string>& arguments, const std::string& working_directory,
                           const ChildStreams& streams, ChildPipes& pipes, ProcessId& pid) {
  if (arguments.empty()) return false;
  Pipe in, out, err;
  auto close_all = [&] {
    in.Close();
    out.Close();
    err.Close();
  };
  if ((streams.open_stdin && !in.Create()) || (streams.capture_stdout && !out.Create()) ||
      (streams.capture_stderr && !err.Create())) {
    close_all();
    return false;
  }
  // A larger pipe lets a busy child write on while its reader is scheduled
  // out; the system's default of 64 KiB is kept where the change is refused.
  for (const Pipe* p : {&out, &err}) {
    if (p->write >= 0) ::fcntl(p->write, F_SETPIPE_SZ, 1 << 20);
  }
  const bool any_pipe = streams.open_stdin || streams.capture_stdout || streams.capture_stderr;
  std::vector<char*> argv = ArgumentVector(arguments);
  pid_t child = 0;
  const int rc = Spawn(
      argv[0], argv.data(), true,
      [&](posix_spawn_file_actions_t& actions) {
        auto place = [&](int child_end, int target, int null_mode) {
          if (child_end >= 0) return ::posix_spawn_file_actions_adddup2(&actions, child_end, target);
          return ::posix_spawn_file_actions_addopen(&actions, target, "/dev/null", null_mode, 0);
        };
        int r = 0;
        if (any_pipe) {
          r |= place(in.read, 0, O_RDONLY);
          r |= place(out.write, 1, O_WRONLY);
          r |= place(err.write, 2, O_WRONLY);
        }
        if (!working_directory.empty()) r |= ::posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
        return r;
      },
      child);
  // The child's ends are the child's alone.
  CloseHandle(in.read);
  CloseHandle(out.write);
  CloseHandle(err.write);
  in.read = out.write = err.write = -1;
  if (rc != 0) {
    close_all();
    return false;
  }
  pipes = {in.write, out.read, err.read};
  pid = child;
  return true;
}

bool StartServerProcess(const std::vector<std::string>& arguments, int report_fd, ProcessId& pid,
                        NativeHandle& report) {
  if (arguments.empty()) return false;
  Pipe pipe;
  if (!pipe.Create()) return false;
  std::vector<char*> argv = ArgumentVector(arguments);
  const pid_t parent = ::getpid();
  // A fork, not a spawn: the child asks to hear of our death before exec.
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) _exit(127);  // orphaned before the line above
    if (pipe.write == report_fd) {
      ::fcntl(report_fd, F_SETFD, 0);
    } else {
      ::dup2(pipe.write, report_fd);
    }
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 2);
    ::execvp(argv[0], argv.data());
    _exit(127);
  }
  CloseHandle(pipe.write);
  if (child < 0) {
    CloseHandle(pipe.read);
    return false;
  }
  pid = child;
  report = pipe.read;
  return true;
}

int WaitForExit(ProcessId pid) {
  if (pid <= 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(static_cast<pid_t>(pid), &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r != static_cast<pid_t>(pid)) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

void CollectWhenExited(ProcessId pid) {
  if (ReapIfExited(pid)) return;
  try {
    std::thread([pid] { WaitForExit(pid); }).detach();
  } catch (...) {
    // Without a thread the child is collected by nobody until we exit.
  }
}

bool AskToEnd(ProcessId pid, int wait_ms) {
  if (pid <= 0) return true;
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!ReapIfExited(pid)) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool KeepFromChildren(NativeHandle handle) {
  const int fd = static_cast<int>(handle);
  const int flags = ::fcntl(fd, F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC || ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0);
}

bool ReapIfExited(ProcessId pid) {
  if (pid <= 0) return true;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (r == 0) return false;
    if (r < 0 && errno == EINTR) continue;
    return true;  // collected, or not (or no longer) our child
  }
}

}  // namespace platform
