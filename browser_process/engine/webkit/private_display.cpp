#include "private_display.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace engine::webkit {
namespace {

pid_t g_server = -1;

// Runs at exit, when no GDK call can reach the server any more; waits a
// little for it to tidy up.
void EndServer() {
  if (g_server <= 0) return;
  kill(g_server, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(g_server, nullptr, WNOHANG) != 0) return;
    usleep(10000);
  }
}

}  // namespace

bool StartPrivateDisplay() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Its own process group: when we end, the server is not killed with the
    // engine's processes but gets SIGTERM, and cleans up after itself.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // orphaned before the line above
    // The server writes its display number to descriptor 3, which must
    // survive the exec.
    if (fds[1] == 3) {
      fcntl(3, F_SETFD, 0);
    } else {
      dup2(fds[1], 3);
    }
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    // Nothing draws with GL here; without GLX the server starts sooner.
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten", "tcp", "-extension", "GLX",
           nullptr);
    _exit(127);
  }
  close(fds[1]);
  // The number and its line feed may come in separate writes; the server
  // fails if its reader is gone before the line is complete.
  char number[16] = {};
  std::size_t got = 0;
  while (pid > 0 && got < sizeof number - 1 && std::memchr(number, '\n', got) == nullptr) {
    const ssize_t n = read(fds[0], number + got, sizeof number - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fds[0]);
  if (got == 0 || std::memchr(number, '\n', got) == nullptr) {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    return false;
  }
  number[strcspn(number, "\n")] = 0;
  setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
  g_server = pid;
  std::atexit(EndServer);
  return true;
}

}  // namespace engine::webkit
