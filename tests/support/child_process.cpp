#include "child_process.h"

#include <stdexcept>
#include <sys/wait.h>

namespace tev_test {

std::string BinaryDir() { return TEV_TEST_BINARY_DIR; }

platform::ProcessId Start(const std::string& program, const std::string& command_line) {
  platform::ProcessId pid = platform::kNoProcess;
  int error = 0;
  if (!platform::StartProcessWithInheritance(program, command_line, pid, error)) {
    throw std::runtime_error("cannot start " + program + ": " + std::to_string(error));
  }
  return pid;
}

int Wait(platform::ProcessId pid) {
  int status = 0;
  if (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace tev_test
