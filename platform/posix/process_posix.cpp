#include "platform/process.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform {

bool StartProcessWithInheritance(const std::string& program, const std::string& command_line,
                                 ProcessId& pid, int& error) {
  // The whole command line is the one argument: the child sees no program name,
  // just as a Windows command line built without one.
  std::string argument = command_line;
  char* argv[] = {argument.data(), nullptr};
  pid_t child = 0;
  const int rc = ::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0) {
    error = rc;
    return false;
  }
  pid = child;
  return true;
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
