#include <cstdlib>
#include <memory>
#include <spng.h>

#include "image_decoders.h"

namespace tev::image {

bool DecodePng(const std::uint8_t* data, std::size_t size, TEV_Image& out) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), &spng_ctx_free);
  if (!ctx) return false;
  // The decoder's own limits: no dimension beyond what we would accept, and
  // no chunk (or chunk cache) that could exhaust memory.
  spng_set_image_limits(ctx.get(), 1u << 16, 1u << 16);
  spng_set_chunk_limits(ctx.get(), 64u << 20, 256u << 20);
  if (spng_set_png_buffer(ctx.get(), data, size) != 0) return false;
  spng_ihdr header{};
  if (spng_get_ihdr(ctx.get(), &header) != 0) return false;
  std::size_t bytes = 0;
  if (!PixelBufferSize(header.width, header.height, 4, bytes)) return false;
  std::size_t decoded = 0;
  if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &decoded) != 0 || decoded != bytes) return false;
  void* pixels = std::malloc(bytes);
  if (pixels == nullptr) return false;
  if (spng_decode_image(ctx.get(), pixels, bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_GAMMA) != 0) {
    std::free(pixels);
    return false;
  }
  Deliver(out, static_cast<int>(header.width), static_cast<int>(header.height), pixels, TEV_PIXELS_RGBA8);
  return true;
}

}  // namespace tev::image
