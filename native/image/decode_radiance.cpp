// Radiance HDR through stb_image's reader, compiled here with every other
// format switched off.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_HDR
// stb's buffer is handed to the caller, who releases it with TEV_Free.
#define STBI_MALLOC(size) std::malloc(size)
#define STBI_REALLOC(block, size) std::realloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STBI_NO_STDIO
#define STBI_NO_FAILURE_STRINGS
#include <stb/stb_image.h>

#include "image_decoders.h"

namespace tev::image {
namespace {

// Reads header lines exactly as stb_image's reader does: byte by byte up to
// a line feed, a byte at the very end of the input left out, at most 1023
// kept, and the line then used as a C string (it ends at its first NUL).
class Lines {
 public:
  Lines(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::string Next() {
    char buffer[1024];
    int length = 0;
    int c = Get();
    while (!AtEnd() && c != '\n') {
      buffer[length++] = static_cast<char>(c);
      if (length == 1023) {
        while (!AtEnd() && Get() != '\n') {
        }
        break;
      }
      c = Get();
    }
    buffer[length] = 0;
    return std::string(buffer);
  }
  std::size_t position() const { return pos_; }

 private:
  int Get() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool AtEnd() const { return pos_ >= size_; }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// stb reads `count` flat pixels from `at`. Two kinds of input would give a
// picture that is not the file's, so they are refused: one too short for
// them (stb leaves the missing pixels unwritten), and one holding a pixel
// whose red, green and blue are all 1, which the older run-length scheme
// uses to repeat the previous pixel and stb takes for a colour.
bool FlatPixelsDecodable(const std::uint8_t* data, std::size_t size, std::size_t at, std::int64_t count) {
  if (at > size || static_cast<std::uint64_t>(count) > (size - at) / 4) return false;
  const std::uint8_t* pixel = data + at;
  for (std::int64_t i = 0; i < count; ++i, pixel += 4) {
    if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) return false;
  }
  return true;
}

}  // namespace

bool RadianceDecodableByStb(const std::uint8_t* data, std::size_t size) {
  Lines lines(data, size);
  const std::string identifier = lines.Next();
  if (identifier != "#?RADIANCE" && identifier != "#?RGBE") return true;  // stb refuses it itself
  while (!lines.Next().empty()) {
  }
  // The resolution line, parsed exactly as stb_image parses it.
  const std::string resolution = lines.Next();
  if (resolution.compare(0, 3, "-Y ") != 0) return true;  // stb refuses it itself
  char* end = nullptr;
  const int height = static_cast<int>(std::strtol(resolution.c_str() + 3, &end, 10));
  while (*end == ' ') ++end;
  if (std::strncmp(end, "+X ", 3) != 0) return true;
  const int width = static_cast<int>(std::strtol(end + 3, nullptr, 10));
  if (width <= 0 || height <= 0) return true;  // stb or the size check refuses it
  if (width < 8 || width >= 32768) {
    return FlatPixelsDecodable(data, size, lines.position(), std::int64_t{width} * height);
  }

  // Walk the scan lines as stb does, where a read past the end yields 0. A
  // zero count does not advance its loop, so one read at the end (where every
  // further read is 0 as well) would never return.
  std::size_t at = lines.position();
  auto next = [&]() -> int { return at < size ? data[at++] : (at++, 0); };
  for (int row = 0; row < height; ++row) {
    const int c1 = next(), c2 = next(), high = next();
    if (c1 != 2 || c2 != 2 || (high & 0x80)) {
      // stb then reads the whole picture as flat pixels from this line's
      // start, which is where they are only when it is the first line.
      return row == 0 && FlatPixelsDecodable(data, size, at - 3, std::int64_t{width} * height);
    }
    if (((high << 8) | next()) != width) return true;       // stb reports the bad length
    for (int component = 0; component < 4; ++component) {
      for (int x = 0; x < width;) {
        const bool past_end = at >= size;
        int count = next();
        if (count == 0) {
          if (past_end) return false;
          continue;
        }
        if (count > 128) {
          count -= 128;
          next();  // the run's value
          if (count > width - x) return true;  // stb reports the bad run
        } else {
          if (count > width - x) return true;
          at += static_cast<std::size_t>(count);
        }
        x += count;
      }
    }
  }
  // Scan lines cut short would decode as zeros.
  return at <= size;
}

bool DecodeRadiance(const std::uint8_t* data, std::size_t size, TEV_Image& out) {
  if (size > static_cast<std::size_t>(INT32_MAX) || !RadianceDecodableByStb(data, size)) return false;
  int width = 0, height = 0, components = 0;
  if (stbi_info_from_memory(data, static_cast<int>(size), &width, &height, &components) == 0) return false;
  std::size_t bytes = 0;
  if (!PixelBufferSize(width, height, 16, bytes)) return false;
  float* pixels = stbi_loadf_from_memory(data, static_cast<int>(size), &width, &height, &components, 4);
  if (pixels == nullptr) return false;
  Deliver(out, width, height, pixels, TEV_PIXELS_RGBA32F);
  return true;
}

}  // namespace tev::image
