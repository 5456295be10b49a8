#include "child_process.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tev_test {

std::string BinaryDir() { return TEV_TEST_BINARY_DIR; }

platform::ProcessId Start(const std::string& program, const std::string& command_line,
                          platform::NativeHandle inherited) {
  platform::ProcessId pid = platform::kNoProcess;
  int error = 0;
  if (!platform::StartProcessWithInheritance(program, command_line, inherited, pid, error)) {
    throw std::runtime_error("cannot start " + program + ": " + std::to_string(error));
  }
  return pid;
}

int Wait(platform::ProcessId pid) {
  int status = 0;
  if (::waitpid(static_cast<pid_t>(pid), &status, 0) < 0) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::vector<std::pair<int, char>> Children() {
  std::vector<std::pair<int, char>> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    int ppid = 0;
    rest >> state >> ppid;
    if (ppid == getpid()) found.emplace_back(std::stoi(name), state);
  }
  return found;
}

}  // namespace tev_test
