#pragma once
// The MessagePack subset both ends of the browser protocol speak. The writer's
// byte choices are fixed (they are what travels); the reader is lenient about
// markers and never reads outside its range.
#include <concepts>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <vector>

namespace msgpack {

enum class UnpackerError { OutOfRange = 1 };

class UnpackerErrCategory final : public std::error_category {
 public:
  const char* name() const noexcept override;
  std::string message(int value) const override;
};

const std::error_category& unpacker_category() noexcept;
std::error_code make_error_code(UnpackerError error) noexcept;

// A record is a struct whose fields() returns std::tie of its fields in wire order.
template <typename T>
concept Record = requires(T& t) { t.fields(); };

class Packer {
 public:
  Packer() = default;

  template <typename... Values>
  Packer& pack(const Values&... values) {
    (pack_one(values), ...);
    return *this;
  }

  const std::vector<std::uint8_t>& bytes() const { return buffer_; }
  std::vector<std::uint8_t> take() { return std::move(buffer_); }

 private:
  void put(std::uint8_t b) { buffer_.push_back(b); }
  template <typename U>
  void put_be(U v) {
    std::uint8_t raw[sizeof(U)];
    for (std::size_t i = 0; i < sizeof(U); ++i) raw[i] = static_cast<std::uint8_t>(v >> (8 * (sizeof(U) - 1 - i)));
    buffer_.insert(buffer_.end(), raw, raw + sizeof(U));
  }

  void pack_one(bool v) { put(v ? 0xc3 : 0xc2); }

  void pack_one(std::uint8_t v) {
    if (v < 128) {
      put(v);
    } else {
      put(0xcc);
      put(v);
    }
  }
  void pack_one(std::uint16_t v) {
    if (v <= 0xff) return pack_one(static_cast<std::uint8_t>(v));
    put(0xcd);
    put_be(v);
  }
  void pack_one(std::uint32_t v) {
    if (v <= 0xffff) return pack_one(static_cast<std::uint16_t>(v));
    put(0xce);
    put_be(v);
  }
  void pack_one(std::uint64_t v) {
    if (v <= 0xffffffffu) return pack_one(static_cast<std::uint32_t>(v));
    put(0xcf);
    put_be(v);
  }

  // The signed rules step down by absolute value, not to the shortest form.
  void pack_one(std::int8_t v) {
    if (v >= -32 && v <= 31) {
      put(static_cast<std::uint8_t>(v));
    } else {
      put(0xd0);
      put(static_cast<std::uint8_t>(v));
    }
  }
  void pack_one(std::int16_t v) {
    if (v > -128 && v < 128) return pack_one(static_cast<std::int8_t>(v));
    put(0xd1);
    put_be(static_cast<std::uint16_t>(v));
  }
  void pack_one(std::int32_t v) {
    if (v > -32768 && v < 32768) return pack_one(static_cast<std::int16_t>(v));
    put(0xd2);
    put_be(static_cast<std::uint32_t>(v));
  }
  void pack_one(std::int64_t v) {
    if (v > -2147483648LL && v < 2147483648LL) return pack_one(static_cast<std::int32_t>(v));
    put(0xd3);
    put_be(static_cast<std::uint64_t>(v));
  }

  void pack_one(float v);

  void pack_one(const std::string& s) {
    const std::size_t n = s.size();
    if (n < 32) {
      put(static_cast<std::uint8_t>(0xa0 + n));
    } else if (n < 255) {
      put(0xd9);
      put(static_cast<std::uint8_t>(n));
    } else if (n < 65535) {
      put(0xda);
      put_be(static_cast<std::uint16_t>(n));
    } else {
      put(0xdb);
      put_be(static_cast<std::uint32_t>(n));
    }
    buffer_.insert(buffer_.end(), s.begin(), s.end());
  }

  void put_bin_header(std::size_t n) {
    if (n < 255) {
      put(0xc4);
      put(static_cast<std::uint8_t>(n));
    } else if (n < 65535) {
      put(0xc5);
      put_be(static_cast<std::uint16_t>(n));
    } else {
      put(0xc6);
      put_be(static_cast<std::uint32_t>(n));
    }
  }
  void pack_one(const std::vector<std::uint8_t>& bin) {
    put_bin_header(bin.size());
    buffer_.insert(buffer_.end(), bin.begin(), bin.end());
  }

  void put_list_header(std::size_t n) {
    if (n < 16) {
      put(static_cast<std::uint8_t>(0x90 + n));
    } else if (n < 65535) {
      put(0xdc);
      put_be(static_cast<std::uint16_t>(n));
    } else {
      put(0xdd);
      put_be(static_cast<std::uint32_t>(n));
    }
  }
  void pack_one(const std::vector<std::string>& list) {
    put_list_header(list.size());
    for (const auto& s : list) pack_one(s);
  }

  // A record inside a list travels as one bin holding its fields. The fields
  // are packed in place after a short bin header, which is widened afterwards
  // in the rare case the record reached 255 bytes.
  template <Record R>
  void pack_one(const std::vector<R>& list) {
    put_list_header(list.size());
    for (const auto& record : list) {
      const std::size_t header_at = buffer_.size();
      put(0xc4);
      put(0);
      std::apply([&](const auto&... f) { (pack_one(f), ...); }, record.fields());
      const std::size_t n = buffer_.size() - header_at - 2;
      if (n < 255) {
        buffer_[header_at + 1] = static_cast<std::uint8_t>(n);
        continue;
      }
      const std::size_t header_size = n < 65535 ? 3 : 5;
      buffer_.insert(buffer_.begin() + static_cast<std::ptrdiff_t>(header_at + 2), header_size - 2, 0);
      std::uint8_t* h = buffer_.data() + header_at;
      if (header_size == 3) {
        h[0] = 0xc5;
        h[1] = static_cast<std::uint8_t>(n >> 8);
        h[2] = static_cast<std::uint8_t>(n);
      } else {
        h[0] = 0xc6;
        for (int i = 0; i < 4; ++i) h[1 + i] = static_cast<std::uint8_t>(n >> (8 * (3 - i)));
      }
    }
  }

  std::vector<std::uint8_t> buffer_;
};

class Unpacker {
 public:
  Unpacker(const std::uint8_t* data, std::size_t size) : pos_(data), end_(data + size) {}
  explicit Unpacker(const std::vector<std::uint8_t>& bytes) : Unpacker(bytes.data(), bytes.size()) {}
  // The unpacker reads the bytes in place; they must outlive it.
  explicit Unpacker(std::vector<std::uint8_t>&&) = delete;

  template <typename... Values>
  Unpacker& unpack(Values&... values) {
    (unpack_one(values), ...);
    return *this;
  }

  std::error_code error() const { return error_; }

 private:
  void fail() { error_ = make_error_code(UnpackerError::OutOfRange); }
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - pos_); }

  std::uint8_t next() {
    if (pos_ >= end_) {
      fail();
      return 0;
    }
    return *pos_++;
  }
  template <typename U>
  U next_be() {
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) v = static_cast<U>((v << 8) | next());
    return v;
  }

  void unpack_one(bool& v) { v = next() != 0xc2; }

  std::int64_t signed_after(std::uint8_t marker, int widest) {
    switch (marker) {
      case 0xd3:
        if (widest >= 64) return static_cast<std::int64_t>(next_be<std::uint64_t>());
        break;
      case 0xd2:
        if (widest >= 32) return static_cast<std::int32_t>(next_be<std::uint32_t>());
        break;
      case 0xd1:
        if (widest >= 16) return static_cast<std::int16_t>(next_be<std::uint16_t>());
        break;
      case 0xd0:
        return static_cast<std::int8_t>(next());
      default:
        break;
    }
    return static_cast<std::int8_t>(marker);  // a fixint
  }
  std::uint64_t unsigned_after(std::uint8_t marker, int widest) {
    switch (marker) {
      case 0xcf:
        if (widest >= 64) return next_be<std::uint64_t>();
        break;
      case 0xce:
        if (widest >= 32) return next_be<std::uint32_t>();
        break;
      case 0xcd:
        if (widest >= 16) return next_be<std::uint16_t>();
        break;
      case 0xcc:
        return next();
      default:
        break;
    }
    return marker;
  }

  void unpack_one(std::int8_t& v) { v = static_cast<std::int8_t>(signed_after(next(), 8)); }
  void unpack_one(std::int16_t& v) { v = static_cast<std::int16_t>(signed_after(next(), 16)); }
  void unpack_one(std::int32_t& v) { v = static_cast<std::int32_t>(signed_after(next(), 32)); }
  void unpack_one(std::int64_t& v) { v = signed_after(next(), 64); }
  void unpack_one(std::uint8_t& v) { v = static_cast<std::uint8_t>(unsigned_after(next(), 8)); }
  void unpack_one(std::uint16_t& v) { v = static_cast<std::uint16_t>(unsigned_after(next(), 16)); }
  void unpack_one(std::uint32_t& v) { v = static_cast<std::uint32_t>(unsigned_after(next(), 32)); }
  void unpack_one(std::uint64_t& v) { v = unsigned_after(next(), 64); }

  void unpack_one(float& v) {
    const std::uint8_t marker = next();
    if (marker == 0xca) {
      const std::uint32_t bits = next_be<std::uint32_t>();
      std::memcpy(&v, &bits, sizeof v);
    } else if ((marker >= 0xd0 && marker <= 0xd3) || marker >= 0xe0) {
      v = static_cast<float>(signed_after(marker, 64));
    } else {
      v = static_cast<float>(unsigned_after(marker, 64));
    }
  }

  // Returns the payload bytes of a length-prefixed value, or null (error set)
  // when the range does not hold them.
  const std::uint8_t* take(std::size_t length) {
    if (error_ || remaining() < length) {
      fail();
      return nullptr;
    }
    const std::uint8_t* at = pos_;
    pos_ += length;
    return at;
  }

  void unpack_one(std::string& s) {
    const std::uint8_t marker = next();
    std::size_t length;
    if (marker == 0xdb) {
      length = next_be<std::uint32_t>();
    } else if (marker == 0xda) {
      length = next_be<std::uint16_t>();
    } else if (marker == 0xd9) {
      length = next();
    } else {
      length = marker & 0x1f;
    }
    s.clear();
    if (const std::uint8_t* at = take(length)) s.assign(reinterpret_cast<const char*>(at), length);
  }

  std::size_t bin_length() {
    const std::uint8_t marker = next();
    if (marker == 0xc6) return next_be<std::uint32_t>();
    if (marker == 0xc5) return next_be<std::uint16_t>();
    return next();
  }
  void unpack_one(std::vector<std::uint8_t>& bin) {
    const std::size_t length = bin_length();
    bin.clear();
    if (const std::uint8_t* at = take(length)) bin.assign(at, at + length);
  }

  std::size_t list_count() {
    const std::uint8_t marker = next();
    if (marker == 0xdd) return next_be<std::uint32_t>();
    if (marker == 0xdc) return next_be<std::uint16_t>();
    return marker & 0x0f;
  }
  // An announced count is never trusted for reservations: elements are read
  // until the count is reached or the first read falls outside the range.
  void unpack_one(std::vector<std::string>& list) {
    list.clear();
    const std::size_t count = list_count();
    for (std::size_t i = 0; i < count && !error_; ++i) unpack_one(list.emplace_back());
  }
  template <Record R>
  void unpack_one(std::vector<R>& list) {
    list.clear();
    const std::size_t count = list_count();
    for (std::size_t i = 0; i < count && !error_; ++i) {
      const std::size_t length = bin_length();
      const std::uint8_t* at = take(length);
      if (at == nullptr) break;
      Unpacker inner(at, length);
      std::apply([&inner](auto&... f) { inner.unpack(f...); }, list.emplace_back().fields());
      if (inner.error_) error_ = inner.error_;
    }
  }

  const std::uint8_t* pos_;
  const std::uint8_t* end_;
  std::error_code error_;
};

}  // namespace msgpack

template <>
struct std::is_error_code_enum<msgpack::UnpackerError> : std::true_type {};
