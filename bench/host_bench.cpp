// Prints, through the real libTEVBrowser.so against the scripted peer:
// empty ProcessEvents round trips per second, and a Render of a changed
// 1920x1080 frame (the peer copies it into the section) against one memcpy of
// the same 8,294,400 bytes, and a Render without a new frame.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TEVBrowser.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double SecondsPer(int iterations, F&& f) {
  f();
  const auto start = Clock::now();
  for (int i = 0; i < iterations; ++i) f();
  return std::chrono::duration<double>(Clock::now() - start).count() / iterations;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string peer = argc > 1 ? argv[1] : std::string(TEV_BENCH_PEER);
  setenv("TEV_PEER_MODE", "big-frame", 1);
  unsetenv("TEV_PEER_LOG");
  if (!TEVBrowser_Initialize(peer.c_str(), "", "", "", "", "", nullptr, "", false)) {
    std::fprintf(stderr, "cannot start %s\n", peer.c_str());
    return 1;
  }
  const double pump = SecondsPer(20000, [] { TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr); });
  std::printf("empty ProcessEvents round trips: %.0f/s (%.2f us each)\n", 1 / pump, pump * 1e6);

  bool updated = false;
  int32_t width = 0, height = 0, cursor = 0;
  void* buffer = nullptr;
  const double render = SecondsPer(300, [&] { TEVBrowser_Render(1, &updated, &width, &height, &buffer, &cursor); });
  if (!updated || width != 1920 || height != 1080) std::printf("unexpected Render reply\n");

  // Browser 2 has no new frame: the same exchange without the peer's copy.
  const double unchanged = SecondsPer(2000, [&] { TEVBrowser_Render(2, &updated, &width, &height, &buffer, &cursor); });

  constexpr std::size_t kBytes = 8294400;
  std::vector<std::uint8_t> from(kBytes, 3), to(kBytes);
  const double copy = SecondsPer(300, [&] { std::memcpy(to.data(), from.data(), kBytes); });
  std::printf("Render of a changed 1920x1080 frame: %.3f ms\n", render * 1e3);
  std::printf("Render without a new frame:          %.3f ms\n", unchanged * 1e3);
  std::printf("memcpy of 8,294,400 bytes:           %.3f ms\n", copy * 1e3);
  std::printf("  ratio Render/memcpy: %.2fx (goal <= 1.3x)\n", render / copy);
  TEVBrowser_Shutdown();
  return 0;
}
