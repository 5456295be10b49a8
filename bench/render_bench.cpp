// Prints the time of one device_get_report (on whatever Vulkan the machine
// has; lavapipe here) against one run of `vulkaninfo --json`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tevrender.h"

int main() {
  using Clock = std::chrono::steady_clock;
  Device_Context* context = nullptr;
  if (!device_create(nullptr, nullptr, &context)) return 1;
  constexpr int kReports = 20;
  char* text = nullptr;
  int32_t length = 0;
  if (device_get_report(context, &text, &length)) device_free_report(context, text);  // warm up
  auto start = Clock::now();
  for (int i = 0; i < kReports; ++i) {
    if (!device_get_report(context, &text, &length)) return 1;
    device_free_report(context, text);
  }
  const double report = std::chrono::duration<double>(Clock::now() - start).count() / kReports;
  device_destroy(context);

  constexpr int kRuns = 5;
  const std::string command = "cd \"$(mktemp -d)\" && vulkaninfo --json >/dev/null 2>&1 && rm -rf \"$PWD\"";
  start = Clock::now();
  for (int i = 0; i < kRuns; ++i) {
    if (std::system(command.c_str()) != 0) {
      std::printf("vulkaninfo --json failed\n");
      return 1;
    }
  }
  const double vulkaninfo = std::chrono::duration<double>(Clock::now() - start).count() / kRuns;
  std::printf("device_get_report: %.1f ms (%d bytes of JSON)\n", report * 1e3, length);
  std::printf("vulkaninfo --json: %.1f ms (process start included)\n", vulkaninfo * 1e3);
  std::printf("  ratio report/vulkaninfo: %.2fx (goal <= 1.0x)\n", report / vulkaninfo);
  return 0;
}
