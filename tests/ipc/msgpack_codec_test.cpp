// The writer's exact byte choices and the reader's rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ipc/messages.h"
#include "ipc/msgpack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes Pack(const T& v) {
  msgpack::Packer p;
  p.pack(v);
  return p.take();
}

template <typename T>
T UnpackAs(const Bytes& bytes, std::error_code* error = nullptr) {
  T v{};
  msgpack::Unpacker u(bytes);
  u.unpack(v);
  if (error) *error = u.error();
  return v;
}

TEST(MsgpackWriter, SignedIntegersStepDownByAbsoluteValue) {
  const struct {
    std::int32_t value;
    Bytes bytes;
  } cases[] = {
      {0, {0x00}},
      {31, {0x1f}},
      {32, {0xd0, 0x20}},
      {127, {0xd0, 0x7f}},
      {128, {0xd1, 0x00, 0x80}},
      {-1, {0xff}},
      {-32, {0xe0}},
      {-33, {0xd0, 0xdf}},
      {-127, {0xd0, 0x81}},
      {-128, {0xd1, 0xff, 0x80}},
      {32767, {0xd1, 0x7f, 0xff}},
      {32768, {0xd2, 0x00, 0x00, 0x80, 0x00}},
      {-32768, {0xd2, 0xff, 0xff, 0x80, 0x00}},
      {std::numeric_limits<std::int32_t>::min(), {0xd2, 0x80, 0x00, 0x00, 0x00}},
      {std::numeric_limits<std::int32_t>::max(), {0xd2, 0x7f, 0xff, 0xff, 0xff}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Pack(c.value), c.bytes) << c.value;
    std::error_code error;
    EXPECT_EQ(UnpackAs<std::int32_t>(c.bytes, &error), c.value);
    EXPECT_FALSE(error);
  }
}

TEST(MsgpackWriter, SixtyFourBitExtremes) {
  EXPECT_EQ(Pack(std::numeric_limits<std::int64_t>::min()), (Bytes{0xd3, 0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Pack(std::int64_t{2147483647}), (Bytes{0xd2, 0x7f, 0xff, 0xff, 0xff}));
  EXPECT_EQ(Pack(std::int64_t{2147483648LL}), (Bytes{0xd3, 0, 0, 0, 0, 0x80, 0, 0, 0}));
  EXPECT_EQ(Pack(std::uint64_t{0x100000000ULL}), (Bytes{0xcf, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(UnpackAs<std::int64_t>(Pack(std::numeric_limits<std::int64_t>::min())),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(UnpackAs<std::uint64_t>(Pack(std::numeric_limits<std::uint64_t>::max())),
            std::numeric_limits<std::uint64_t>::max());
}

TEST(MsgpackWriter, UnsignedIntegers) {
  const struct {
    std::uint32_t value;
    Bytes bytes;
  } cases[] = {
      {127, {0x7f}},
      {128, {0xcc, 0x80}},
      {255, {0xcc, 0xff}},
      {256, {0xcd, 0x01, 0x00}},
      {65535, {0xcd, 0xff, 0xff}},
      {65536, {0xce, 0x00, 0x01, 0x00, 0x00}},
      {0xffffffffu, {0xce, 0xff, 0xff, 0xff, 0xff}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Pack(c.value), c.bytes) << c.value;
    EXPECT_EQ(UnpackAs<std::uint32_t>(c.bytes), c.value);
  }
  EXPECT_EQ(Pack(std::uint16_t{300}), (Bytes{0xcd, 0x01, 0x2c}));
  EXPECT_EQ(UnpackAs<std::uint16_t>(Bytes{0xcc, 0xfe}), 254);
}

TEST(MsgpackWriter, FloatsWithoutFractionTravelAsIntegers) {
  const struct {
    float value;
    Bytes bytes;
  } cases[] = {
      {2.0f, {0x02}},
      {-1.0f, {0xff}},
      {0.0f, {0x00}},
      {1.5f, {0xca, 0x3f, 0xc0, 0x00, 0x00}},
      {0.5f, {0xca, 0x3f, 0x00, 0x00, 0x00}},
      {3000000000.0f, {0xd3, 0x00, 0x00, 0x00, 0x00, 0xb2, 0xd0, 0x5e, 0x00}},
      {200.0f, {0xd1, 0x00, 0xc8}},
      {std::numeric_limits<float>::infinity(), {0xca, 0x7f, 0x80, 0x00, 0x00}},
      // Whole, but beyond 64 bits: keeps the float form rather than wrapping.
      {1e30f, {0xca, 0x71, 0x49, 0xf2, 0xca}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Pack(c.value), c.bytes) << c.value;
    EXPECT_EQ(UnpackAs<float>(c.bytes), c.value) << c.value;
  }
  for (float v : {0.75f, -2.5f, 1e-20f, -123456.789f}) EXPECT_EQ(UnpackAs<float>(Pack(v)), v);
  EXPECT_TRUE(std::isnan(UnpackAs<float>(Pack(std::numeric_limits<float>::quiet_NaN()))));
  EXPECT_EQ(Pack(std::numeric_limits<float>::quiet_NaN())[0], 0xca);
}

TEST(MsgpackWriter, LengthBoundariesAreStrict) {
  const struct {
    std::size_t length;
    Bytes header;
  } strings[] = {
      {0, {0xa0}},           {31, {0xbf}},           {32, {0xd9, 0x20}},
      {254, {0xd9, 0xfe}},   {255, {0xda, 0x00, 0xff}}, {65534, {0xda, 0xff, 0xfe}},
      {65535, {0xdb, 0x00, 0x00, 0xff, 0xff}},
  };
  for (const auto& c : strings) {
    const std::string s(c.length, 'x');
    const Bytes bytes = Pack(s);
    ASSERT_EQ(bytes.size(), c.header.size() + c.length) << c.length;
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), bytes.begin())) << c.length;
    EXPECT_EQ(UnpackAs<std::string>(bytes), s);
  }
  const struct {
    std::size_t length;
    Bytes header;
  } bins[] = {{0, {0xc4, 0x00}}, {254, {0xc4, 0xfe}}, {255, {0xc5, 0x00, 0xff}},
              {65535, {0xc6, 0x00, 0x00, 0xff, 0xff}}};
  for (const auto& c : bins) {
    const Bytes bin(c.length, 0x5a);
    const Bytes bytes = Pack(bin);
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), bytes.begin())) << c.length;
    EXPECT_EQ(UnpackAs<Bytes>(bytes), bin);
  }
  const struct {
    std::size_t count;
    Bytes header;
  } lists[] = {{0, {0x90}}, {15, {0x9f}}, {16, {0xdc, 0x00, 0x10}}, {65535, {0xdd, 0x00, 0x00, 0xff, 0xff}}};
  for (const auto& c : lists) {
    const std::vector<std::string> list(c.count, "");
    const Bytes bytes = Pack(list);
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), bytes.begin())) << c.count;
    EXPECT_EQ(bytes.size(), c.header.size() + c.count);
    EXPECT_EQ(UnpackAs<std::vector<std::string>>(bytes), list);
  }
}

TEST(MsgpackWriter, RecordsInAListAreBins) {
  // A record of 300 bytes needs the two-byte bin header; the one after it the short one.
  std::vector<IPCEvent> events{{1, 2, std::string(300, 'z')}, {3, 4, "ok"}};
  const Bytes bytes = Pack(events);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes[0], 0x92);
  EXPECT_EQ(bytes[1], 0xc5);
  const std::size_t first = (std::size_t{bytes[2]} << 8) | bytes[3];
  EXPECT_EQ(first, 2u + 3u + 300u);
  const std::size_t second_at = 4 + first;
  EXPECT_EQ((Bytes(bytes.begin() + second_at, bytes.end())), (Bytes{0xc4, 0x05, 0x03, 0x04, 0xa2, 'o', 'k'}));
  EXPECT_EQ(UnpackAs<std::vector<IPCEvent>>(bytes), events);

  std::vector<IPCEvent> large{{1, 2, std::string(70000, 'q')}};
  const Bytes big = Pack(large);
  EXPECT_EQ(big[1], 0xc6);
  EXPECT_EQ(UnpackAs<std::vector<IPCEvent>>(big), large);
}

TEST(MsgpackReader, MarkersAreReadByTheFieldType) {
  EXPECT_EQ(UnpackAs<std::int32_t>(Bytes{0xff}), -1);
  EXPECT_EQ(UnpackAs<std::uint32_t>(Bytes{0xff}), 255u);
  EXPECT_TRUE(UnpackAs<bool>(Bytes{0x00}));
  EXPECT_TRUE(UnpackAs<bool>(Bytes{0x01}));
  EXPECT_TRUE(UnpackAs<bool>(Bytes{0xc3}));
  EXPECT_FALSE(UnpackAs<bool>(Bytes{0xc2}));
  // A string read of a fixint marker is a fixstr of that length.
  EXPECT_EQ(UnpackAs<std::string>(Bytes{0x05, 'h', 'e', 'l', 'l', 'o'}), "hello");
  EXPECT_EQ(UnpackAs<std::int8_t>(Bytes{0xd0, 0x80}), -128);
  EXPECT_EQ(UnpackAs<std::int16_t>(Bytes{0xd2, 0x00}), static_cast<std::int16_t>(static_cast<std::int8_t>(0xd2)));
  EXPECT_EQ(UnpackAs<float>(Bytes{0xe0}), -32.0f);
  EXPECT_EQ(UnpackAs<float>(Bytes{0xcd, 0x01, 0x00}), 256.0f);
  EXPECT_EQ(UnpackAs<float>(Bytes{0xd1, 0xff, 0x80}), -128.0f);
}

TEST(MsgpackReader, OutOfRangeSticksAndNeverReadsPastTheEnd) {
  const struct {
    const char* what;
    Bytes bytes;
  } truncated[] = {
      {"empty", {}},
      {"int32 cut", {0xd2, 0x00, 0x01}},
      {"string cut", {0xa5, 'h', 'e'}},
      {"str8 length missing", {0xd9}},
      {"str32 huge length", {0xdb, 0xff, 0xff, 0xff, 0xff, 'x'}},
  };
  for (const auto& c : truncated) {
    // Copy into an exact-size heap block so ASan catches any read past it.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[c.bytes.size() + 0]);
    std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
    msgpack::Unpacker u(exact.get(), c.bytes.size());
    std::string s;
    std::int32_t i = 7;
    u.unpack(s, i);
    EXPECT_EQ(u.error(), msgpack::UnpackerError::OutOfRange) << c.what;
    EXPECT_TRUE(s.empty()) << c.what;
  }
  // Reading goes on after the error, and the error stays.
  const Bytes cut_string = {0xa9, 'a'};
  msgpack::Unpacker after(cut_string);
  std::string first;
  std::int32_t second = 7;
  bool third = false;
  after.unpack(first, second, third);
  EXPECT_EQ(second, 'a');
  EXPECT_TRUE(third);  // a read past the end yields the byte 0, and only 0xc2 is false
  EXPECT_EQ(after.error(), msgpack::UnpackerError::OutOfRange);

  msgpack::Unpacker u(cut_string);
  std::string s = "untouched";
  u.unpack(s);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(u.error().message(), "tried to dereference out of range during deserialization");
  EXPECT_STREQ(u.error().category().name(), "unpacker");
  EXPECT_EQ(std::error_code(5, msgpack::unpacker_category()).message(), "(unrecognized error)");
  EXPECT_EQ(u.error().default_error_condition().category(), msgpack::unpacker_category());
}

TEST(MsgpackReader, ShortRecordInsideAListFailsTheWholeMessage) {
  // Second bin is complete but holds only the handle of an IPCEvent.
  const Bytes bytes = {0x93, 0xc4, 0x03, 0x01, 0x02, 0xa0, 0xc4, 0x01, 0x05, 0xc4, 0x03, 0x03, 0x04, 0xa0};
  std::vector<IPCEvent> events;
  msgpack::Unpacker u(bytes);
  u.unpack(events);
  EXPECT_EQ(u.error(), msgpack::UnpackerError::OutOfRange);
}

TEST(MsgpackReader, AnnouncedCountBeyondTheBytesStopsAtTheEnd) {
  // Four billion announced elements, three bytes present: no reservation, no hang.
  const Bytes strings = {0xdd, 0xff, 0xff, 0xff, 0xff, 0xa0, 0xa0, 0xa0};
  std::vector<std::string> list;
  msgpack::Unpacker u(strings);
  u.unpack(list);
  EXPECT_EQ(u.error(), msgpack::UnpackerError::OutOfRange);
  EXPECT_LE(list.size(), 4u);
  const Bytes records = {0xdd, 0xff, 0xff, 0xff, 0xff, 0xc4, 0x00};
  std::vector<IPCConsoleMessage> messages;
  msgpack::Unpacker r(records);
  r.unpack(messages);
  EXPECT_EQ(r.error(), msgpack::UnpackerError::OutOfRange);
  EXPECT_LE(messages.size(), 2u);
}

TEST(MsgpackReader, TrailingBytesAreIgnored) {
  IPCSetZoom zoom;
  EXPECT_FALSE(ipc::Decode(Bytes{0x01, 0x02, 0xc3, 0xc3}, zoom));
  EXPECT_EQ(zoom.handle, 1);
  EXPECT_EQ(zoom.zoom, 2.0f);
}

}  // namespace
