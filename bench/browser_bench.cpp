// Prints, through the real libTEVBrowser.so and browser_process (WebKitGTK):
//   frames/s of an animated page at 1280x720 and 1920x1080, the host sending
//     ProcessEvents + Render in a tight loop;
//   a Render that copies a changed 1920x1080 frame against one memcpy of
//     8,294,400 bytes;
//   CreateBrowser to the first painted frame, in ms;
//   frames/s and CPU use of browser_process for an idle static page, the host
//     pumping once per 60 Hz frame;
//   resident memory (PSS) of browser_process and its engine processes with 1
//     and with 4 views.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TEVBrowser.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

const char* kAnimated =
    "data:text/html,<html><body style='margin:0;background:black'><div id=b style='width:200px;height:200px;"
    "background:rgb(255,128,0);animation:m 1s linear infinite alternate;position:absolute'></div><style>"
    "@keyframes m{from{transform:translateX(0)}to{transform:translateX(900px)}}</style></body></html>";
const char* kStatic = "data:text/html,<html><body style='margin:0;background:rgb(20,40,60)'>static</body></html>";

struct Frames {
  int updated = 0;
  double render_seconds = 0;  // spent in Renders that copied a frame
};

// `pace_ms` 0: as fast as the link goes; otherwise one pass per frame of the host.
Frames Pump(int32_t handle, double seconds, int pace_ms = 0) {
  Frames f;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    bool updated = false;
    int32_t w = 0, h = 0, c = 0;
    void* p = nullptr;
    const auto start = Clock::now();
    TEVBrowser_Render(handle, &updated, &w, &h, &p, &c);
    if (updated) {
      ++f.updated;
      f.render_seconds += Seconds(Clock::now() - start);
    }
    if (pace_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms));
  }
  return f;
}

bool WaitFirstFrame(int32_t handle, int w, int h) {
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < end) {
    TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    bool updated = false;
    int32_t fw = 0, fh = 0, c = 0;
    void* p = nullptr;
    if (TEVBrowser_Render(handle, &updated, &fw, &fh, &p, &c) && updated && fw == w && fh == h) {
      // Painted: not the initial black.
      const auto* px = static_cast<const unsigned char*>(p) + (static_cast<std::size_t>(h / 2) * w + w / 2) * 4;
      if (px[0] || px[1] || px[2]) return true;
    }
  }
  return false;
}

std::vector<int> Descendants(int root) {
  std::vector<int> all{root};
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
      std::istringstream rest(line.substr(line.rfind(')') + 2));
      char state;
      int ppid;
      rest >> state >> ppid;
      if (ppid == all[i]) all.push_back(std::stoi(name));
    }
  }
  return all;
}

int BrowserProcessPid() {
  for (int pid : Descendants(getpid())) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "browser_process") return pid;
  }
  return -1;
}

double PssMegabytes(int root) {
  double kb = 0;
  for (int pid : Descendants(root)) {
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    double value;
    std::string unit;
    while (smaps >> key) {
      if (key == "Pss:") {
        smaps >> value >> unit;
        kb += value;
        break;
      }
      std::getline(smaps, unit);
    }
  }
  return kb / 1024.0;
}

double CpuSeconds(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main() {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const std::string program = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "browser_process").string();
  const auto spawned = Clock::now();
  if (!TEVBrowser_Initialize(program.c_str(), "", "", "", "", "", nullptr, "", false)) return 1;

  // The first reply waits for the program's start: its X server, the
  // toolkit and the engine's context.
  const auto created = Clock::now();
  const int32_t first = TEVBrowser_CreateBrowser(kStatic);
  const auto replied = Clock::now();
  TEVBrowser_SetSize(first, 1280, 720, 1.0f);
  if (!WaitFirstFrame(first, 1280, 720)) return 1;
  const auto painted = Clock::now();
  std::printf("cold: spawn to first painted 1280x720 frame %.0f ms = start and first CreateBrowser reply %.0f ms"
              " + engine processes, load and paint %.0f ms\n",
              Seconds(painted - spawned) * 1e3, Seconds(replied - spawned) * 1e3, Seconds(painted - replied) * 1e3);
  std::printf("CreateBrowser to first painted 1280x720 frame: %.0f ms\n", Seconds(painted - created) * 1e3);

  const int pid = BrowserProcessPid();
  Pump(first, 1.0);  // settle
  {
    // Later browsers of the same process, each beside the ones before it
    // (so each needs a web process of its own), then the same once each is
    // destroyed before the next (the engine may reuse a process).
    for (const bool keep : {true, false}) {
      std::vector<double> warm;
      std::vector<int32_t> kept;
      for (int i = 0; i < 5; ++i) {
        const auto asked = Clock::now();
        const int32_t b = TEVBrowser_CreateBrowser(kStatic);
        TEVBrowser_SetSize(b, 1280, 720, 1.0f);
        if (!WaitFirstFrame(b, 1280, 720)) return 1;
        warm.push_back(Seconds(Clock::now() - asked) * 1e3);
        if (keep) {
          kept.push_back(b);
        } else {
          TEVBrowser_DestroyBrowser(b);
        }
        Pump(first, 0.5);
      }
      for (int32_t b : kept) TEVBrowser_DestroyBrowser(b);
      Pump(first, 1.0);
      std::sort(warm.begin(), warm.end());
      std::printf("CreateBrowser to first painted 1280x720 frame, later browsers %s: median %.0f ms (min %.0f, max %.0f)\n",
                  keep ? "side by side" : "one at a time", warm[warm.size() / 2], warm.front(), warm.back());
    }
  }
  const double cpu_before = CpuSeconds(pid);
  const Frames idle = Pump(first, 5.0, 16);
  const double cpu = (CpuSeconds(pid) - cpu_before) / 5.0 * 100.0;
  std::printf("idle static page, host pumping at 60 Hz: %.1f frames/s, browser_process CPU %.1f %% "
              "(goal 0 frames, near 0 CPU)\n", idle.updated / 5.0, cpu);
  std::printf("PSS, browser_process and its engine processes, 1 view: %.0f MB\n", PssMegabytes(pid));

  for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
    const int32_t b = TEVBrowser_CreateBrowser(kAnimated);
    TEVBrowser_SetSize(b, w, h, 1.0f);
    WaitFirstFrame(b, w, h);
    Pump(b, 1.0);
    const Frames f = Pump(b, 5.0);
    std::printf("animated page %dx%d: %.1f frames/s (goal 60)\n", w, h, f.updated / 5.0);
    if (w == 1920 && f.updated > 0) {
      std::vector<unsigned char> a(8294400, 1), c(8294400);
      const auto start = Clock::now();
      for (int i = 0; i < 200; ++i) std::memcpy(c.data(), a.data(), a.size());
      const double copy = Seconds(Clock::now() - start) / 200;
      const double render = f.render_seconds / f.updated;
      std::printf("Render of a changed 1920x1080 frame: %.3f ms; memcpy of 8,294,400 bytes: %.3f ms; ratio %.2fx "
                  "(goal <= 1.3x)\n", render * 1e3, copy * 1e3, render / copy);
    }
    TEVBrowser_DestroyBrowser(b);
    Pump(first, 0.5);
  }

  std::vector<int32_t> more;
  for (int i = 0; i < 3; ++i) {
    more.push_back(TEVBrowser_CreateBrowser(kStatic));
    TEVBrowser_SetSize(more.back(), 1280, 720, 1.0f);
    WaitFirstFrame(more.back(), 1280, 720);
  }
  Pump(first, 1.0);
  std::printf("PSS, browser_process and its engine processes, 4 views: %.0f MB\n", PssMegabytes(pid));
  TEVBrowser_Shutdown();
  return 0;
}
