#pragma once
// One decoder per container. Each fills `out` and returns true, or releases
// what it allocated and returns false; `out` is only written on success.
#include <cstddef>
#include <cstdint>

#include "tevnative.h"

namespace tev::image {

// The largest image any decoder produces, in pixels (16384 x 16384): a small
// hostile file cannot make the library allocate more than this.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// Checks width x height against the limit and computes the buffer size
// without overflow. False for a zero or negative dimension.
bool PixelBufferSize(std::int64_t width, std::int64_t height, std::uint64_t bytes_per_pixel, std::size_t& size);

// Fills `out` with a finished image.
void Deliver(TEV_Image& out, int width, int height, void* pixels, TEV_PixelFormat format);

bool DecodePng(const std::uint8_t* data, std::size_t size, TEV_Image& out);
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, TEV_Image& out);
bool DecodeTiff(const std::uint8_t* data, std::size_t size, TEV_Image& out);
bool DecodeOpenExr(const std::uint8_t* data, std::size_t size, TEV_Image& out);
bool DecodeRadiance(const std::uint8_t* data, std::size_t size, TEV_Image& out);

// True when stb_image's Radiance reader returns on `data` with the picture
// the file holds. It never returns when the input ends where a run-length
// count should stand; it gives a picture that is not the file's when the
// scan lines are cut short or use the older run-length scheme.
bool RadianceDecodableByStb(const std::uint8_t* data, std::size_t size);

}  // namespace tev::image
