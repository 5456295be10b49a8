#include "platform/process.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform {

bool StartProcessWithInheritance(const std::string& program, const std::string& command_line,
                                 NativeHandle inherited, ProcessId& pid, int& error) {
  // The whole command line is the one argument: the child sees no program name,
  // just as a Windows command line built without one.
  std::string argument = command_line;
  char* argv[] = {argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  if (const int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) {
    error = rc;
    return false;
  }
  // A descriptor duplicated onto itself loses close-on-exec in the child
  // alone, so ours stays close-on-exec for every other start.
  int rc = 0;
  if (inherited != kInvalidHandle) {
    rc = ::posix_spawn_file_actions_adddup2(&actions, static_cast<int>(inherited), static_cast<int>(inherited));
  }
  pid_t child = 0;
  if (rc == 0) rc = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error = rc;
    return false;
  }
  pid = child;
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
