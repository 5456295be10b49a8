#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tiffio.h>

#include "image_decoders.h"

namespace tev::image {
namespace {

// The caller's bytes as a read-only stream; nothing is copied.
struct MemoryStream {
  const std::uint8_t* data;
  std::uint64_t size;
  std::uint64_t position;
};

tmsize_t Read(thandle_t handle, void* into, tmsize_t wanted) {
  auto* s = static_cast<MemoryStream*>(handle);
  if (wanted <= 0 || s->position >= s->size) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(wanted), s->size - s->position);
  std::memcpy(into, s->data + s->position, n);
  s->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t, void*, tmsize_t) { return 0; }

// Never moves below 0 (and never wraps); a position past the end simply
// reads nothing.
toff_t Seek(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<MemoryStream*>(handle);
  std::uint64_t base;
  switch (whence) {
    case SEEK_SET:
      s->position = offset;
      return s->position;
    case SEEK_CUR:
      base = s->position;
      break;
    case SEEK_END:
      base = s->size;
      break;
    default:
      return s->position;
  }
  const auto delta = static_cast<std::int64_t>(offset);
  if (delta < 0) {
    const std::uint64_t back = 0 - static_cast<std::uint64_t>(delta);
    s->position = back > base ? 0 : base - back;
  } else {
    const auto forward = static_cast<std::uint64_t>(delta);
    s->position = forward > UINT64_MAX - base ? UINT64_MAX : base + forward;
  }
  return s->position;
}

toff_t Size(thandle_t handle) { return static_cast<MemoryStream*>(handle)->size; }
int Close(thandle_t) { return 0; }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

// The schemes of the libtiff configuration this library has always used;
// anything else (Deflate, JPEG, LZMA, ZSTD, WebP, LERC ...) is refused even
// where the system's libtiff could decode it.
bool SupportedCompression(std::uint16_t scheme) {
  switch (scheme) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_THUNDERSCAN:
    case COMPRESSION_NEXT:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_SGILOG:
    case COMPRESSION_SGILOG24:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool DecodeTiff(const std::uint8_t* data, std::size_t size, TEV_Image& out) {
  MemoryStream stream{data, size, 0};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return false;
  // No single allocation beyond what the largest accepted image needs.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPixels * 4));
  TIFF* tiff = TIFFClientOpenExt("in-memory", "r", &stream, Read, Write, Seek, Close, Size, Map, Unmap, options);
  TIFFOpenOptionsFree(options);
  if (tiff == nullptr) return false;
  std::uint32_t width = 0, height = 0;
  std::uint16_t compression = COMPRESSION_NONE;
  std::size_t bytes = 0;
  void* pixels = nullptr;
  bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 1 && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 1;
  ok = ok && TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression) == 1 && SupportedCompression(compression);
  ok = ok && PixelBufferSize(width, height, 4, bytes) && (pixels = std::malloc(bytes)) != nullptr;
  // Each 32-bit word holds red in its lowest byte: R, G, B, A in memory.
  ok = ok && TIFFReadRGBAImageOriented(tiff, width, height, static_cast<std::uint32_t*>(pixels), ORIENTATION_TOPLEFT, 0) == 1;
  TIFFClose(tiff);
  if (!ok) {
    std::free(pixels);
    return false;
  }
  Deliver(out, static_cast<int>(width), static_cast<int>(height), pixels, TEV_PIXELS_RGBA8);
  return true;
}

}  // namespace tev::image
