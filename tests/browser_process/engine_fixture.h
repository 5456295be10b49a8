#pragma once
// The fixture of the end-to-end tests: browser_process with the real engine
// (WebKitGTK), driven through the real libTEVBrowser.so the way an
// application drives it, with no display set, so the program starts its own
// private X server. Also a loopback HTTP server and /proc helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TEVBrowser.h"
#include "child_process.h"
#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"

namespace tev_e2e {

using Clock = std::chrono::steady_clock;

inline std::string Program() { return tev_test::BinaryDir() + "/browser_process"; }

inline std::vector<int> g_events;
inline std::vector<std::pair<int, std::string>> g_payloads;
inline std::vector<std::string> g_console;
inline std::vector<std::string> g_scripts;
inline void OnConsole(int32_t, const char* message, const char* source, int32_t line) {
  g_console.push_back(std::string(message) + " @" + source + ":" + std::to_string(line));
}
inline void OnScript(int32_t, int32_t code, const char* data) { g_scripts.push_back(std::to_string(code) + " " + data); }
inline void OnEvent(int32_t, int32_t code, const char* data) {
  g_events.push_back(code);
  g_payloads.emplace_back(code, data);
}

// A small HTTP server on loopback serving `dir`, for the length of a test.
class HttpServer {
 public:
  explicit HttpServer(const std::string& dir) {
    port_ = FreePort();
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/bin/python3", "python3", "-m", "http.server", std::to_string(port_).c_str(), "--bind", "127.0.0.1",
            "--directory", dir.c_str(), nullptr);
      _exit(127);
    }
    // Ready once it accepts.
    for (int i = 0; i < 200 && !Accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~HttpServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

  static int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
  }
  static bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
  }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

// One HTML page in a folder of its own, served from 127.0.0.1 while the
// object lives.
class ServedPage {
 public:
  ServedPage(const std::string& tag, const std::string& html)
      : dir_(std::filesystem::temp_directory_path() / ("tev_" + tag + "_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "page.html") << html;
    server_.emplace(dir_.string());
    url_ = "http://127.0.0.1:" + std::to_string(server_->port()) + "/page.html";
  }
  ~ServedPage() {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }
  const std::string& url() const { return url_; }

 private:
  std::filesystem::path dir_;
  std::optional<HttpServer> server_;
  std::string url_;
};

class Engine : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    g_events.clear();
    g_payloads.clear();
    g_console.clear();
    g_scripts.clear();
  }
  void TearDown() override { TEVBrowser_Shutdown(); }

  bool Start(bool debug = false) {
    return TEVBrowser_Initialize(Program().c_str(), "", "", "", "", "", nullptr, "", debug);
  }

  // Pumps and renders `handle` until `done` holds or `seconds` pass; browser
  // events go to `on_event` (a test's answering callback, say).
  bool PumpUntil(int32_t handle, const std::function<bool()>& done, int seconds = 20,
                 TEVBrowser_EventCallback on_event = OnEvent) {
    const auto give_up = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < give_up) {
      TEVBrowser_ProcessEvents(OnConsole, on_event, OnScript);
      Render(handle);
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Render(int32_t handle) {
    bool updated = false;
    int32_t w = 0, h = 0, c = 0;
    void* pixels = nullptr;
    if (!TEVBrowser_Render(handle, &updated, &w, &h, &pixels, &c)) return;
    cursor_ = c;
    if (updated) {
      width_ = w;
      height_ = h;
      frame_.assign(static_cast<const std::uint8_t*>(pixels), static_cast<const std::uint8_t*>(pixels) + w * h * 4);
    }
  }
  bool Loaded() const { return std::find(g_events.begin(), g_events.end(), LoadEnded) != g_events.end(); }
  // The BGRA pixel at (x, y) of the latest frame, packed as 0xAARRGGBB.
  std::uint32_t Pixel(int x, int y) const {
    if (x >= width_ || y >= height_) return 0;
    const std::uint8_t* p = frame_.data() + (static_cast<std::size_t>(y) * width_ + x) * 4;
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
  }
  // Waits for a frame of the given size whose centre has the given colour.
  bool FrameShows(int32_t handle, int w, int h, std::uint32_t argb, int seconds = 20) {
    return PumpUntil(handle, [&] { return width_ == w && height_ == h && Pixel(w / 2, h / 2) == argb; }, seconds);
  }

  static std::string Solid(const char* colour, const std::string& extra = "") {
    return "data:text/html,<html><body style='margin:0;background:" + std::string(colour) + "'>" + extra + "</body></html>";
  }

  std::vector<std::uint8_t> frame_;
  int width_ = 0, height_ = 0, cursor_ = -1;
};

// The parent of `pid` and whether it still runs (not a zombie, not gone).
inline bool Running(int pid, int* parent = nullptr) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(line.substr(close + 2));
  char state = 0;
  int ppid = 0;
  rest >> state >> ppid;
  if (parent) *parent = ppid;
  return state != 'Z' && state != 'X';
}

// `root` and every process below it.
inline std::vector<int> Tree(int root) {
  std::vector<int> tree{root};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      int parent = 0;
      if (Running(std::stoi(name), &parent) && parent == tree[i]) tree.push_back(std::stoi(name));
    }
  }
  return tree;
}

// The running browser_process this test process started, or -1.
// How many of `pids` still run.
inline std::size_t StillRunning(const std::vector<int>& pids) {
  return static_cast<std::size_t>(std::count_if(pids.begin(), pids.end(), [](int pid) { return Running(pid); }));
}

inline int OurBrowserProcess() {
  for (const auto& [pid, state] : tev_test::Children()) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "browser_process" && state != 'Z') return pid;
  }
  return -1;
}

// Resident memory of `pid` in bytes.
inline std::size_t Resident(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

// The X displays whose sockets are there now.
inline std::set<std::string> DisplaySockets() {
  std::set<std::string> sockets;
  if (!std::filesystem::exists("/tmp/.X11-unix")) return sockets;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp/.X11-unix")) sockets.insert(entry.path().string());
  return sockets;
}

}  // namespace tev_e2e
