#include <cstdlib>
#include <cstring>
#include <string_view>
#include <tinyexr.h>

#include "image_decoders.h"

namespace tev::image {
namespace {

// Releases tinyexr's storage however the decode ends. A failed header parse
// still leaves channel lists behind, so the header is released after any
// attempt; a failed load has already released the image itself (without
// clearing its pointers), so the image is released only after a success.
struct ExrStorage {
  EXRHeader header;
  EXRImage image;
  bool image_loaded = false;
  ExrStorage() {
    InitEXRHeader(&header);
    InitEXRImage(&image);
  }
  ~ExrStorage() {
    if (image_loaded) FreeEXRImage(&image);
    FreeEXRHeader(&header);
  }
};

void Forget(const char* error) {
  if (error != nullptr) FreeEXRErrorMessage(error);
}

// The system's tinyexr is built with assertions on, and some of them fire on
// malformed headers (an unknown "type", a channel of an unknown pixel type),
// which would end the application. Such headers are refused here first, by a
// bounded walk over the attributes of a single-part scan-line header.
class HeaderWalk {
 public:
  HeaderWalk(const std::uint8_t* data, std::size_t size) : data_(data), size_(size), at_(8) {}

  bool Acceptable() {
    for (;;) {
      std::string_view name, type;
      if (!Text(name)) return false;
      if (name.empty()) return true;  // end of the header
      std::int32_t length = 0;
      if (!Text(type) || !Int(length) || length < 0 || static_cast<std::size_t>(length) > size_ - at_) return false;
      const std::uint8_t* value = data_ + at_;
      at_ += static_cast<std::size_t>(length);
      if (name == "type" && std::string_view(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), static_cast<std::size_t>(length))) != "scanlineimage") {
        return false;
      }
      if (type == "chlist" && !ChannelsKnown(value, static_cast<std::size_t>(length))) return false;
    }
  }

 private:
  bool Text(std::string_view& out) {
    const void* end = std::memchr(data_ + at_, 0, size_ - at_);
    if (end == nullptr) return false;
    const std::size_t n = static_cast<const std::uint8_t*>(end) - (data_ + at_);
    out = std::string_view(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n + 1;
    return true;
  }
  bool Int(std::int32_t& out) {
    if (size_ - at_ < 4) return false;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data_[at_ + static_cast<std::size_t>(i)];
    out = static_cast<std::int32_t>(v);
    at_ += 4;
    return true;
  }
  // Each channel: name, pixel type, linear flag, 3 reserved bytes, x and y sampling.
  static bool ChannelsKnown(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && p[i] != 0) {
      const void* end = std::memchr(p + i, 0, n - i);
      if (end == nullptr) return false;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - p) + 1;
      if (n - i < 16) return false;
      const std::uint32_t pixel_type = p[i] | p[i + 1] << 8 | p[i + 2] << 16 | static_cast<std::uint32_t>(p[i + 3]) << 24;
      if (pixel_type > TINYEXR_PIXELTYPE_FLOAT) return false;
      i += 16;
    }
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_;
};

}  // namespace

bool DecodeOpenExr(const std::uint8_t* data, std::size_t size, TEV_Image& out) {
  if (size < 8 || data[0] != 0x76 || data[1] != 0x2f || data[2] != 0x31 || data[3] != 0x01 || data[4] != 2) {
    return false;
  }
  EXRVersion version{};
  version.version = 2;
  version.tiled = (data[5] & 0x02) != 0;
  version.long_name = (data[5] & 0x04) != 0;
  version.non_image = (data[5] & 0x08) != 0;
  version.multipart = (data[5] & 0x10) != 0;
  // Tiled, deep and multi-part files never give scan-line planes, so they
  // fail whatever tinyexr makes of them; refusing them here keeps them away
  // from tinyexr's assertions on those paths.
  if (version.tiled || version.non_image || version.multipart) return false;
  if (!HeaderWalk(data, size).Acceptable()) return false;

  ExrStorage exr;
  const char* error = nullptr;
  if (ParseEXRHeaderFromMemory(&exr.header, &version, data, size, &error) != TINYEXR_SUCCESS) {
    Forget(error);
    return false;
  }
  // Refuse before decoding an image larger than we would ever hand out.
  const std::int64_t window_w = std::int64_t{exr.header.data_window.max_x} - exr.header.data_window.min_x + 1;
  const std::int64_t window_h = std::int64_t{exr.header.data_window.max_y} - exr.header.data_window.min_y + 1;
  std::size_t bytes = 0;
  if (!PixelBufferSize(window_w, window_h, 16, bytes)) return false;
  for (int i = 0; i < exr.header.num_channels; ++i) {
    if (exr.header.pixel_types[i] == TINYEXR_PIXELTYPE_HALF) exr.header.requested_pixel_types[i] = TINYEXR_PIXELTYPE_FLOAT;
  }
  // On bad scan-line data tinyexr releases the image before it has recorded
  // the channel count, which leaves every channel plane allocated; with the
  // count known beforehand its own clean-up releases them.
  exr.image.num_channels = exr.header.num_channels;
  if (LoadEXRImageFromMemory(&exr.image, &exr.header, data, size, &error) != TINYEXR_SUCCESS) {
    Forget(error);
    return false;
  }
  exr.image_loaded = true;
  // Tiled files deliver tiles, not scan-line planes.
  if (exr.image.images == nullptr) return false;
  if (!PixelBufferSize(exr.image.width, exr.image.height, 16, bytes)) return false;

  const float* sources[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int i = 0; i < exr.header.num_channels && i < exr.image.num_channels; ++i) {
    if (exr.header.requested_pixel_types[i] != TINYEXR_PIXELTYPE_FLOAT) continue;
    static constexpr const char* kNames[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
      if (std::strcmp(exr.header.channels[i].name, kNames[c]) == 0) {
        sources[c] = reinterpret_cast<const float*>(exr.image.images[i]);
      }
    }
  }
  auto* pixels = static_cast<float*>(std::malloc(bytes));
  if (pixels == nullptr) return false;
  const auto width = static_cast<std::size_t>(exr.image.width), height = static_cast<std::size_t>(exr.image.height);
  // tinyexr fills its planes bottom row first for any line order other than
  // increasing, although each chunk names its own row: such planes are read
  // back from their last row so the top row always comes first.
  const bool bottom_up = exr.header.line_order != 0;
  static constexpr float kMissing[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t from = (bottom_up ? height - 1 - y : y) * width;
    float* row = pixels + y * width * 4;
    for (std::size_t x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) row[x * 4 + c] = sources[c] ? sources[c][from + x] : kMissing[c];
    }
  }
  Deliver(out, exr.image.width, exr.image.height, pixels, TEV_PIXELS_RGBA32F);
  return true;
}

}  // namespace tev::image
