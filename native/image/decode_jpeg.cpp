#include <cstdlib>
#include <turbojpeg.h>

#include "image_decoders.h"

namespace tev::image {

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, TEV_Image& out) {
  if (size > static_cast<std::size_t>(~0ul)) return false;
  tjhandle handle = tjInitDecompress();
  if (handle == nullptr) return false;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  std::size_t bytes = 0;
  void* pixels = nullptr;
  bool ok = tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                                &colorspace) == 0 &&
            PixelBufferSize(width, height, 4, bytes) && (pixels = std::malloc(bytes)) != nullptr;
  // Full size, rows of width x 4 bytes, RGBA with alpha 255, accurate DCT;
  // the stored orientation is kept (no EXIF rotation).
  ok = ok && tjDecompress2(handle, data, static_cast<unsigned long>(size), static_cast<unsigned char*>(pixels), width,
                           width * 4, height, TJPF_RGBA, TJFLAG_ACCURATEDCT) == 0;
  tjDestroy(handle);
  if (!ok) {
    std::free(pixels);
    return false;
  }
  Deliver(out, width, height, pixels, TEV_PIXELS_RGBA8);
  return true;
}

}  // namespace tev::image
