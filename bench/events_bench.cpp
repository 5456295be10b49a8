// Prints, through the real libTEVBrowser.so and browser_process: script
// events per second from a page that calls _tev_event 100,000 times in a
// loop, and console lines per second from one that logs 100,000 lines, each
// counted at the host's callback.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "TEVBrowser.h"

namespace {

using Clock = std::chrono::steady_clock;
long g_script = 0, g_console = 0;

void OnConsole(int32_t, const char*, const char*, int32_t) { ++g_console; }
void OnScript(int32_t, int32_t, const char*) { ++g_script; }

double Measure(const char* page, const long& counter, long expected) {
  const int32_t browser = TEVBrowser_CreateBrowser(page);
  TEVBrowser_SetSize(browser, 64, 64, 1.0f);
  Clock::time_point first{};
  const auto give_up = Clock::now() + std::chrono::seconds(120);
  while (counter < expected && Clock::now() < give_up) {
    TEVBrowser_ProcessEvents(OnConsole, nullptr, OnScript);
    if (counter > 0 && first == Clock::time_point{}) first = Clock::now();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
  TEVBrowser_DestroyBrowser(browser);
  return counter >= expected && seconds > 0 ? counter / seconds : 0;
}

}  // namespace

int main() {
  const std::string program = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "browser_process").string();
  if (!TEVBrowser_Initialize(program.c_str(), "", "", "", "", "", nullptr, "", false)) return 1;
  const double script = Measure(
      "data:text/html,<script>for (let i = 0; i < 100000; ++i) _tev_event(i, 'event ' + i);</script>", g_script, 100000);
  std::printf("script events: %.0f per second (goal >= 100,000/s)\n", script);
  const double console = Measure(
      "data:text/html,<script>for (let i = 0; i < 100000; ++i) console.log('line ' + i);</script>", g_console, 100000);
  std::printf("console lines: %.0f per second\n", console);
  TEVBrowser_Shutdown();
  return 0;
}
