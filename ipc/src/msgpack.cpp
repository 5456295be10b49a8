#include "ipc/msgpack.h"

#include <cmath>

namespace msgpack {

const char* UnpackerErrCategory::name() const noexcept { return "unpacker"; }

std::string UnpackerErrCategory::message(int value) const {
  if (value == static_cast<int>(UnpackerError::OutOfRange)) {
    return "tried to dereference out of range during deserialization";
  }
  return "(unrecognized error)";
}

const std::error_category& unpacker_category() noexcept {
  static const UnpackerErrCategory category;
  return category;
}

std::error_code make_error_code(UnpackerError error) noexcept {
  return {static_cast<int>(error), unpacker_category()};
}

void Packer::pack_one(float v) {
  // Whole numbers travel as integers. One outside the signed 64-bit range has
  // no integer form, so it keeps its float encoding instead of wrapping.
  if (std::isfinite(v) && std::trunc(v) == v && v >= -9223372036854775808.0f && v < 9223372036854775808.0f) {
    return pack_one(static_cast<std::int64_t>(v));
  }
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put(0xca);
  put_be(bits);
}

}  // namespace msgpack
