// Arbitrary bytes through TEV_LoadImage: it must return, touch `out` only on
// success, and hand back a buffer of exactly the reported size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tevnative.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TEV_Image image{-1, -1, nullptr, 200};
  if (TEV_LoadImage(data, size, &image) == 0) {
    if (image.width != -1 || image.pixels != nullptr || image.format != 200) std::abort();
    return 0;
  }
  const std::size_t bytes = static_cast<std::size_t>(image.width) * image.height * (image.format == 0 ? 4 : 16);
  volatile std::uint8_t sink = static_cast<std::uint8_t*>(image.pixels)[bytes - 1];  // ASan checks the extent
  (void)sink;
  std::free(image.pixels);
  return 0;
}
