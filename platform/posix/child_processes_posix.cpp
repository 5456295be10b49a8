#include "platform/child_processes.h"

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace platform {

std::vector<ChildProcess> RunningChildren() {
  // Each thread lists the children it started; no walk over all of /proc.
  std::vector<ChildProcess> found;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return found;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
    for (long pid; children >> pid;) {
      ChildProcess child;
      child.pid = pid;
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::getline(comm, child.name);
      found.push_back(std::move(child));
    }
  }
  closedir(tasks);
  return found;
}

bool ChildResidentBytes(ProcessId pid, std::size_t& resident_bytes) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  if (close == std::string::npos) return false;
  // After the name: state, parent, 19 more fields, then the resident page
  // count.
  std::istringstream rest(line.substr(close + 2));
  char state = 0;
  long parent = 0;
  rest >> state >> parent;
  if (state == 'Z' || state == 'X' || parent != ::getpid()) return false;
  std::string field;
  for (int i = 0; i < 19 && rest >> field; ++i) {
  }
  long pages = 0;
  if (!(rest >> pages)) return false;
  resident_bytes = static_cast<std::size_t>(pages) * static_cast<std::size_t>(sysconf(_SC_PAGE_SIZE));
  return true;
}

bool EndProcessNow(ProcessId pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0; }

}  // namespace platform
