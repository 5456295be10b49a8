// TEV_LoadImage: the signature test and the hand-over to one decoder.
#include <cstring>

#include "image_decoders.h"

namespace tev::image {

bool PixelBufferSize(std::int64_t width, std::int64_t height, std::uint64_t bytes_per_pixel, std::size_t& size) {
  if (width <= 0 || height <= 0) return false;
  const auto w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
  if (w > kMaxPixels || h > kMaxPixels || w * h > kMaxPixels) return false;
  const std::uint64_t bytes = w * h * bytes_per_pixel;  // at most 2^28 * 16
  if (bytes > SIZE_MAX) return false;
  size = static_cast<std::size_t>(bytes);
  return true;
}

void Deliver(TEV_Image& out, int width, int height, void* pixels, TEV_PixelFormat format) {
  out.width = width;
  out.height = height;
  out.pixels = pixels;
  out.format = format;
}

namespace {

enum class Container { None, Png, Jpeg, Tiff, OpenExr, Radiance };

bool StartsWith(const std::uint8_t* data, std::size_t size, const void* prefix, std::size_t n) {
  return size >= n && std::memcmp(data, prefix, n) == 0;
}

Container Recognise(const std::uint8_t* data, std::size_t size) {
  if (StartsWith(data, size, "\xff\xd8", 2)) return Container::Jpeg;
  if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return Container::Png;
  if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4)) return Container::Tiff;
  if (StartsWith(data, size, "\x76\x2f\x31\x01", 4)) return Container::OpenExr;
  if (StartsWith(data, size, "#?RADIANCE", 10) || StartsWith(data, size, "#?RGBE", 6)) return Container::Radiance;
  return Container::None;
}

}  // namespace
}  // namespace tev::image

extern "C" TEVNATIVE_API uint8_t TEV_LoadImage(const void* data, uint64_t size, TEV_Image* out) {
  using namespace tev::image;
  if (data == nullptr || size == 0 || out == nullptr || size > SIZE_MAX) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const auto n = static_cast<std::size_t>(size);
  try {
    switch (Recognise(bytes, n)) {
      case Container::Png:
        return DecodePng(bytes, n, *out);
      case Container::Jpeg:
        return DecodeJpeg(bytes, n, *out);
      case Container::Tiff:
        return DecodeTiff(bytes, n, *out);
      case Container::OpenExr:
        return DecodeOpenExr(bytes, n, *out);
      case Container::Radiance:
        return DecodeRadiance(bytes, n, *out);
      case Container::None:
        break;
    }
  } catch (...) {
  }
  return 0;
}
