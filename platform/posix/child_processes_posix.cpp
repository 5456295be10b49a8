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
  const long page = sysconf(_SC_PAGE_SIZE);
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream children(std::string("/proc/self/task/") + task->d_name + "/children");
    for (long pid; children >> pid;) {
      ChildProcess child;
      child.pid = pid;
      const std::string dir = "/proc/" + std::to_string(pid);
      std::ifstream comm(dir + "/comm");
      std::getline(comm, child.name);
      std::ifstream statm(dir + "/statm");
      std::size_t size = 0, resident = 0;
      if (statm >> size >> resident) child.resident_bytes = resident * static_cast<std::size_t>(page);
      found.push_back(std::move(child));
    }
  }
  closedir(tasks);
  return found;
}

bool EndProcessNow(ProcessId pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0; }

}  // namespace platform
