// The catalogue: exact frames, record layouts and round trips of every record.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "platform/duplex_pipe.h"
#include "sample_messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The bytes a channel puts on the wire for one frame, read from the other end.
Bytes FrameOnTheWire(std::uint32_t type, const Bytes& payload) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  EXPECT_TRUE(channel);
  EXPECT_TRUE(channel->Send(type, payload));
  Bytes wire(8 + payload.size());
  std::size_t got = 0;
  while (got < wire.size()) {
    const long n = platform::ReadSome(channel->peer_end(), wire.data() + got, wire.size() - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  wire.resize(got);
  return wire;
}

TEST(MessageCatalogue, ExactFrames) {
  const struct {
    const char* what;
    IPCMessageType type;
    Bytes payload;
    Bytes frame;
  } cases[] = {
      {"SetZoom 1.5 for handle 1", IPCMessageType::SetZoom, ipc::Encode(IPCSetZoom{1, 1.5f}),
       {0x06, 0, 0, 0, 0x06, 0, 0, 0, 0x01, 0xca, 0x3f, 0xc0, 0x00, 0x00}},
      {"Render reply 800x600 cursor 0", IPCMessageType::Render, ipc::Encode(IPCRenderResponse{true, 800, 600, 0}),
       {0x04, 0, 0, 0, 0x08, 0, 0, 0, 0xc3, 0xd1, 0x03, 0x20, 0xd1, 0x02, 0x58, 0x00}},
      {"ProcessEvents reply with one console line", IPCMessageType::ProcessEvents,
       ipc::Encode(IPCProcessEventsResponse{{{1, "hi", "", 3}}, {}, {}}),
       {0x03, 0, 0, 0, 0x0b, 0, 0, 0, 0x91, 0xc4, 0x06, 0x01, 0xa2, 0x68, 0x69, 0xa0, 0x03, 0x90, 0x90}},
      {"empty ProcessEvents reply", IPCMessageType::ProcessEvents, ipc::Encode(IPCProcessEventsResponse{}),
       {0x03, 0, 0, 0, 0x03, 0, 0, 0, 0x90, 0x90, 0x90}},
      {"Render reply, unchanged picture, cursor 6", IPCMessageType::Render,
       ipc::Encode(IPCRenderResponse{false, 0, 0, 6}), {0x04, 0, 0, 0, 0x04, 0, 0, 0, 0xc2, 0x00, 0x00, 0x06}},
      {"SetFileDialogResult without paths", IPCMessageType::SetFileDialogResult,
       ipc::Encode(IPCSetFileDialogResult{1, {}}), {0x11, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0x90}},
      {"mouse leaving the view", IPCMessageType::SendMouseMoveEvent, ipc::Encode(IPCMouseMoveEvent{1, -1, 5, 0}),
       {0x14, 0, 0, 0, 0x04, 0, 0, 0, 0x01, 0xff, 0x05, 0x00}},
      {"SetZoom 2 as an integer", IPCMessageType::SetZoom, ipc::Encode(IPCSetZoom{1, 2.0f}),
       {0x06, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0x02}},
      {"Initialize with empty texts: one bool, eight strings", IPCMessageType::Initialize,
       ipc::Encode(IPCInitialize{}), {0x00, 0, 0, 0, 0x09, 0, 0, 0, 0xc2, 0xa0, 0xa0, 0xa0, 0xa0, 0xa0, 0xa0, 0xa0, 0xa0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FrameOnTheWire(static_cast<std::uint32_t>(c.type), c.payload), c.frame) << c.what;
  }
}

TEST(MessageCatalogue, ReadBackValues) {
  IPCMouseMoveEvent move;
  ASSERT_FALSE(ipc::Decode(ipc::Encode(IPCMouseMoveEvent{1, -1, -5, 7}), move));
  EXPECT_EQ(move.x, -1);
  EXPECT_EQ(move.y, -5);
  IPCSetZoom zoom;
  ASSERT_FALSE(ipc::Decode(ipc::Encode(IPCSetZoom{1, 0.5f}), zoom));
  EXPECT_EQ(zoom.zoom, 0.5f);
  ASSERT_FALSE(ipc::Decode(ipc::Encode(IPCSetZoom{1, 2.0f}), zoom));
  EXPECT_EQ(zoom.zoom, 2.0f);
}

TEST(MessageCatalogue, EveryRecordRoundTrips) {
  tev_test::ForEachSampleRecord([](std::uint32_t type, bool reply, const auto& record) {
    using R = std::decay_t<decltype(record)>;
    const Bytes payload = ipc::Encode(record);
    R back;
    EXPECT_FALSE(ipc::Decode(payload, back)) << type << (reply ? " reply" : "");
    EXPECT_TRUE(back == record) << type << (reply ? " reply" : "");
    // Every proper prefix of a payload is a decoding failure, never a crash.
    for (std::size_t cut = 0; cut < payload.size(); cut += 1 + payload.size() / 64) {
      R partial;
      EXPECT_TRUE(ipc::Decode(payload.data(), cut, partial)) << type << " cut at " << cut;
    }
  });
}

TEST(MessageCatalogue, NamesCoverEveryId) {
  EXPECT_STREQ(MessageTypeName(0), "Initialize");
  EXPECT_STREQ(MessageTypeName(4), "Render");
  EXPECT_STREQ(MessageTypeName(24), "SendFrameCommand");
  EXPECT_EQ(MessageTypeName(25), nullptr);
}

}  // namespace
