// tev-shot URL OUT.png [--size WxH] [--wait-ms N] [--events]
// Loads a page in an off-screen browser through libTEVBrowser.so and
// browser_process, waits for the load to end (and N ms more) and writes the
// frame as a PNG. With --events every browser event, console line and script
// event is printed as one JSON line on standard output as it arrives.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <spng.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TEVBrowser.h"
#include "browser_process_path.h"

namespace {

bool g_loaded = false;
bool g_print_events = false;

void Print(const nlohmann::ordered_json& line) {
  if (g_print_events) std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void OnConsole(int32_t handle, const char* message, const char* source, int32_t line) {
  Print({{"kind", "console"}, {"handle", handle}, {"message", message}, {"source", source}, {"line", line}});
}

void OnEvent(int32_t handle, int32_t code, const char* data) {
  if (code == LoadEnded) g_loaded = true;
  Print({{"kind", "event"}, {"handle", handle}, {"code", code}, {"data", data}});
}

void OnScript(int32_t handle, int32_t code, const char* data) {
  Print({{"kind", "script"}, {"handle", handle}, {"code", code}, {"data", data}});
}

// BGRA, premultiplied, to straight RGBA.
std::vector<unsigned char> ToRgba(const unsigned char* bgra, int width, int height) {
  std::vector<unsigned char> rgba(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    const unsigned a = bgra[i + 3];
    auto straight = [a](unsigned c) { return a == 0 ? 0u : a == 255 ? c : std::min(255u, (c * 255 + a / 2) / a); };
    rgba[i + 0] = static_cast<unsigned char>(straight(bgra[i + 2]));
    rgba[i + 1] = static_cast<unsigned char>(straight(bgra[i + 1]));
    rgba[i + 2] = static_cast<unsigned char>(straight(bgra[i + 0]));
    rgba[i + 3] = static_cast<unsigned char>(a);
  }
  return rgba;
}

bool WritePng(const std::string& path, const std::vector<unsigned char>& rgba, int width, int height) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  if (ctx == nullptr) return false;
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(width);
  ihdr.height = static_cast<uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  spng_set_ihdr(ctx, &ihdr);
  int error = spng_encode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t size = 0;
  void* png = error == 0 ? spng_get_png_buffer(ctx, &size, &error) : nullptr;
  spng_ctx_free(ctx);
  if (png == nullptr) return false;
  FILE* out = std::fopen(path.c_str(), "wb");
  const bool ok = out && std::fwrite(png, 1, size, out) == size;
  if (out) std::fclose(out);
  std::free(png);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URL OUT.png [--size WxH] [--wait-ms N] [--events]\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1], out = argv[2];
  int width = 1280, height = 720, wait_ms = 0;
  for (int i = 3; i < argc; i += 2) {
    if (std::strcmp(argv[i], "--events") == 0) {
      g_print_events = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "option %s needs a value\n", argv[i]);
      return 2;
    }
    if (std::strcmp(argv[i], "--size") == 0 && std::sscanf(argv[i + 1], "%dx%d", &width, &height) == 2) continue;
    if (std::strcmp(argv[i], "--wait-ms") == 0) {
      wait_ms = std::atoi(argv[i + 1]);
      continue;
    }
    std::fprintf(stderr, "unknown option %s\n", argv[i]);
    return 2;
  }
  const std::string program = BrowserProcessPath();
  if (!TEVBrowser_Initialize(program.c_str(), "", "", "", "", "", nullptr, "", false)) return 1;
  const int32_t browser = TEVBrowser_CreateBrowser(url.c_str());
  if (browser == 0) return 1;
  TEVBrowser_SetSize(browser, width, height, 1.0f);

  using Clock = std::chrono::steady_clock;
  const auto give_up = Clock::now() + std::chrono::seconds(60);
  Clock::time_point done{};
  std::vector<unsigned char> frame;
  int frame_width = 0, frame_height = 0;
  while (Clock::now() < give_up && TEVBrowser_ConnectionValid()) {
    TEVBrowser_ProcessEvents(OnConsole, OnEvent, OnScript);
    bool updated = false;
    int32_t w = 0, h = 0, cursor = 0;
    void* pixels = nullptr;
    if (TEVBrowser_Render(browser, &updated, &w, &h, &pixels, &cursor) && updated && w == width && h == height) {
      const auto* bytes = static_cast<const unsigned char*>(pixels);
      frame.assign(bytes, bytes + static_cast<std::size_t>(w) * h * 4);
      frame_width = w;
      frame_height = h;
    }
    if (g_loaded && done == Clock::time_point{}) done = Clock::now() + std::chrono::milliseconds(wait_ms + 100);
    if (done != Clock::time_point{} && Clock::now() >= done && !frame.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(8));
  }
  TEVBrowser_Shutdown();
  if (frame.empty()) {
    std::fprintf(stderr, "tev-shot: no frame of %dx%d arrived%s\n", width, height, g_loaded ? "" : " (the load never ended)");
    return 1;
  }
  if (!WritePng(out, ToRgba(frame.data(), frame_width, frame_height), frame_width, frame_height)) {
    std::fprintf(stderr, "tev-shot: cannot write %s\n", out.c_str());
    return 1;
  }
  if (!g_print_events) std::printf("%s: %dx%d from %s\n", out.c_str(), frame_width, frame_height, url.c_str());
  return 0;
}
