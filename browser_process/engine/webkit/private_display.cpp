#include "private_display.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/child_processes.h"
#include "platform/handle.h"
#include "platform/process.h"

namespace engine::webkit {
namespace {

platform::ProcessId g_server = platform::kNoProcess;

// Runs at exit, when no GDK call can reach the server any more; waits a
// little for it to tidy up.
void EndServer() { platform::AskToEnd(g_server, 1000); }

}  // namespace

bool StartPrivateDisplay() {
  // The server writes its display number to descriptor 3. Nothing draws with
  // GL here; without GLX the server starts sooner.
  platform::ProcessId pid = platform::kNoProcess;
  platform::NativeHandle report = platform::kInvalidHandle;
  if (!platform::StartServerProcess({"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                                     "-extension", "GLX"},
                                    3, pid, report)) {
    return false;
  }
  // The number and its line feed may come in separate writes; the server
  // fails if its reader is gone before the line is complete.
  char number[16] = {};
  std::size_t got = 0;
  while (got < sizeof number - 1 && std::memchr(number, '\n', got) == nullptr) {
    const long n = platform::ReadHandle(report, number + got, sizeof number - 1 - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  platform::CloseHandle(report);
  if (got == 0 || std::memchr(number, '\n', got) == nullptr) {
    platform::EndProcessNow(pid);
    platform::WaitForExit(pid);
    return false;
  }
  number[std::strcspn(number, "\n")] = 0;
  setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
  g_server = pid;
  std::atexit(EndServer);
  return true;
}

}  // namespace engine::webkit
