// A host application that is killed in the middle of its work: it starts a
// browser on a page that spins in a script, waits for the first frame, says
// "ready" on standard output and pumps until it is killed.
//   abandoned_host BROWSER_PROCESS
#include <chrono>
#include <cstdio>
#include <thread>

#include "TEVBrowser.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!TEVBrowser_Initialize(argv[1], "", "", "", "", "", nullptr, "", false)) return 3;
  const int32_t handle = TEVBrowser_CreateBrowser(
      "data:text/html,<body style='background:rgb(9,8,7)'><script>setTimeout(()=>{for(;;){}},200)</script></body>");
  TEVBrowser_SetSize(handle, 320, 200, 1.0f);
  bool ready = false;
  for (;;) {
    TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    bool updated = false;
    int32_t width = 0, height = 0, cursor = 0;
    void* pixels = nullptr;
    if (!TEVBrowser_Render(handle, &updated, &width, &height, &pixels, &cursor)) return 4;
    if (!ready && updated && width == 320) {
      ready = true;
      std::printf("ready\n");
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
  }
}
