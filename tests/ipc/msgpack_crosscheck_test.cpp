// Our encoding checked against an independent MessagePack implementation
// (msgpack-cxx): what we write decodes there to the same values, and what it
// writes decodes here.
#define MSGPACK_NO_BOOST
#include <msgpack.hpp>

#include <gtest/gtest.h>

#include "ipc/messages.h"
#include "sample_messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// --- our bytes, read by msgpack-cxx -----------------------------------------

template <typename R>
void ExpectFieldsDecodeThere(const Bytes& bytes, const R& record, const std::string& what);

template <typename T>
void ExpectObjectIs(const msgpack::object& o, const T& value, const std::string& what) {
  if constexpr (std::is_same_v<T, bool>) {
    ASSERT_EQ(o.type, msgpack::type::BOOLEAN) << what;
    EXPECT_EQ(o.as<bool>(), value) << what;
  } else if constexpr (std::is_integral_v<T>) {
    ASSERT_TRUE(o.type == msgpack::type::POSITIVE_INTEGER || o.type == msgpack::type::NEGATIVE_INTEGER) << what;
    EXPECT_EQ(o.as<std::int64_t>(), static_cast<std::int64_t>(value)) << what;
  } else if constexpr (std::is_same_v<T, float>) {
    EXPECT_EQ(o.as<float>(), value) << what;
  } else if constexpr (std::is_same_v<T, std::string>) {
    ASSERT_EQ(o.type, msgpack::type::STR) << what;
    EXPECT_EQ(o.as<std::string>(), value) << what;
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    EXPECT_EQ(o.as<std::vector<std::string>>(), value) << what;
  } else {
    // A list of records: an array of bins, each holding one record's fields.
    ASSERT_EQ(o.type, msgpack::type::ARRAY) << what;
    ASSERT_EQ(o.via.array.size, value.size()) << what;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const msgpack::object& element = o.via.array.ptr[i];
      ASSERT_EQ(element.type, msgpack::type::BIN) << what;
      const Bytes inner(element.via.bin.ptr, element.via.bin.ptr + element.via.bin.size);
      ExpectFieldsDecodeThere(inner, value[i], what + "[" + std::to_string(i) + "]");
    }
  }
}

template <typename R>
void ExpectFieldsDecodeThere(const Bytes& bytes, const R& record, const std::string& what) {
  std::size_t offset = 0;
  std::size_t index = 0;
  std::apply(
      [&](const auto&... field) {
        (
            [&] {
              msgpack::object_handle handle =
                  msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size(), offset);
              ExpectObjectIs(handle.get(), field, what + " field " + std::to_string(index++));
            }(),
            ...);
      },
      record.fields());
  EXPECT_EQ(offset, bytes.size()) << what;
}

TEST(MsgpackCrossCheck, OurRecordsDecodeThere) {
  tev_test::ForEachSampleRecord([](std::uint32_t type, bool reply, const auto& record) {
    ExpectFieldsDecodeThere(ipc::Encode(record), record, std::to_string(type) + (reply ? " reply" : ""));
  });
}

// --- msgpack-cxx's bytes, read by us -----------------------------------------
// Signed fields are read from the signed families only, so signed values are
// written there in their fixed-width signed forms (msgpack-cxx would choose an
// unsigned form for positive numbers otherwise). Its float is always 0xca.

using CxxPacker = msgpack::packer<msgpack::sbuffer>;

template <typename T>
void PackThere(CxxPacker& p, const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    p.pack(value);
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    p.pack_fix_int32(value);
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    p.pack_fix_uint32(value);
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    p.pack_fix_uint16(value);
  } else if constexpr (std::is_same_v<T, float>) {
    p.pack_float(value);
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::vector<std::string>>) {
    p.pack(value);
  } else {
    p.pack_array(static_cast<std::uint32_t>(value.size()));
    for (const auto& element : value) {
      msgpack::sbuffer inner;
      CxxPacker inner_packer(inner);
      std::apply([&](const auto&... f) { (PackThere(inner_packer, f), ...); }, element.fields());
      p.pack_bin(static_cast<std::uint32_t>(inner.size()));
      p.pack_bin_body(inner.data(), static_cast<std::uint32_t>(inner.size()));
    }
  }
}

TEST(MsgpackCrossCheck, TheirRecordsDecodeHere) {
  tev_test::ForEachSampleRecord([](std::uint32_t type, bool reply, const auto& record) {
    using R = std::decay_t<decltype(record)>;
    msgpack::sbuffer buffer;
    CxxPacker packer(buffer);
    std::apply([&](const auto&... f) { (PackThere(packer, f), ...); }, record.fields());
    R back;
    const auto error = ipc::Decode(reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size(), back);
    EXPECT_FALSE(error) << type;
    EXPECT_TRUE(back == record) << type << (reply ? " reply" : "");
  });
}

TEST(MsgpackCrossCheck, ShortestFormsFromThereWhereTheFamiliesAgree) {
  // Strings, bins, lists and small integers in msgpack-cxx's own choice of form.
  for (std::size_t length : {0u, 31u, 32u, 255u, 256u, 65535u, 65536u}) {
    msgpack::sbuffer buffer;
    CxxPacker packer(buffer);
    packer.pack(std::string(length, 's'));
    packer.pack(std::int32_t{-32});
    packer.pack(std::int32_t{100});
    packer.pack(std::uint32_t{4000000000u});
    std::string s;
    std::int32_t a = 0, b = 0;
    std::uint32_t c = 0;
    msgpack::Unpacker u(reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size());
    u.unpack(s, a, b, c);
    EXPECT_FALSE(u.error()) << length;
    EXPECT_EQ(s.size(), length);
    EXPECT_EQ(a, -32);
    EXPECT_EQ(b, 100);
    EXPECT_EQ(c, 4000000000u);
  }
}

}  // namespace
