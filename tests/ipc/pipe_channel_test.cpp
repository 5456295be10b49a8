// The channel over a real socket pair, against a second real process.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sstream>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "child_process.h"
#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "platform/duplex_pipe.h"
#include "sample_messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string PeerProgram() { return tev_test::BinaryDir() + "/ipc_peer"; }

TEST(PipeChannel, BothEndsAreCloseOnExecAndOnlyTheNamedEndReachesTheChild) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  EXPECT_EQ(text, std::to_string(channel->peer_end()));
  EXPECT_TRUE(fcntl(static_cast<int>(channel->pipe()), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(static_cast<int>(channel->peer_end()), F_GETFD) & FD_CLOEXEC);
  {
    // A second channel made meanwhile (as for another child) stays behind,
    // and so does our own end.
    std::string other_text;
    auto other = PipeChannel::Create(other_text);
    ASSERT_TRUE(other);
    // Whatever this test process was itself handed without close-on-exec
    // passes on as well; of ours, the named end alone.
    std::set<int> expected{static_cast<int>(channel->peer_end())};
    for (int fd = 3; fd < 1024; ++fd) {
      const int flags = fcntl(fd, F_GETFD);
      if (flags != -1 && !(flags & FD_CLOEXEC)) expected.insert(fd);
    }
    const auto pid = tev_test::Start(PeerProgram(), "fds:" + text, channel->peer_end());
    std::uint32_t type = 0;
    Bytes payload;
    ASSERT_TRUE(channel->Receive(type, payload));
    std::set<int> received;
    std::istringstream list(std::string(payload.begin(), payload.end()));
    for (int fd; list >> fd;) received.insert(fd);
    EXPECT_EQ(received, expected);
    for (const auto own : {channel->pipe(), other->pipe(), other->peer_end()}) {
      EXPECT_EQ(received.count(static_cast<int>(own)), 0u) << own;
    }
    EXPECT_EQ(tev_test::Wait(pid), 0);
    EXPECT_TRUE(fcntl(static_cast<int>(channel->peer_end()), F_GETFD) & FD_CLOEXEC);  // still ours alone
  }
  const int peer = static_cast<int>(channel->peer_end());
  channel->ReleasePeerEnd();
  EXPECT_EQ(channel->peer_end(), platform::kInvalidHandle);
  EXPECT_EQ(fcntl(peer, F_GETFD), -1);
  channel->ReleasePeerEnd();  // a second release is harmless
  const int own = static_cast<int>(channel->pipe());
  channel.reset();
  EXPECT_EQ(fcntl(own, F_GETFD), -1);
}

TEST(PipeChannel, AdoptParsesTheHandleText) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ASSERT_EQ(dup2(fds[0], 1234), 1234);
  const struct {
    const char* text;
    bool adopted;
  } cases[] = {
      {"1234", true},
      {"  1234", true},
      {"1234abc", true},  // digits up to the first non-digit
      {"", false},
      {"abc", false},
      {"-", false},
      {"1235", false},                  // a number, but no open descriptor
      {"18446744073709551615", false},  // fits 64 bits, not a descriptor
      {"18446744073709551616", false},  // beyond 64 bits
      {"99999999999999999999999", false},
  };
  for (const auto& c : cases) {
    auto channel = PipeChannel::Adopt(c.text);
    EXPECT_EQ(channel != nullptr, c.adopted) << '"' << c.text << '"';
    if (channel) {
      EXPECT_EQ(channel->pipe(), 1234);
      EXPECT_TRUE(fcntl(1234, F_GETFD) & FD_CLOEXEC);  // nothing we start later inherits it
      EXPECT_EQ(channel->peer_end(), platform::kInvalidHandle);
      channel.reset();
      EXPECT_EQ(fcntl(1234, F_GETFD), -1);  // the channel owned it
      ASSERT_EQ(dup2(fds[0], 1234), 1234);
    }
  }
  close(1234);
  close(fds[0]);
  close(fds[1]);
}

TEST(PipeChannel, EveryMessageTypeCrossesToAnotherProcessAndBack) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  const auto pid = tev_test::Start(PeerProgram(), "echo:" + text, channel->peer_end());
  channel->ReleasePeerEnd();

  std::set<std::uint32_t> seen;
  tev_test::ForEachSampleRecord([&](std::uint32_t type, bool reply, const auto& record) {
    using R = std::decay_t<decltype(record)>;
    ASSERT_TRUE(channel->Send(type, ipc::Encode(record)));
    std::uint32_t got_type = 99;
    Bytes payload;
    ASSERT_TRUE(channel->Receive(got_type, payload));
    EXPECT_EQ(got_type, type);
    R back;
    EXPECT_FALSE(ipc::Decode(payload, back));
    EXPECT_TRUE(back == record) << type << (reply ? " reply" : "");
    seen.insert(type);
  });
  EXPECT_EQ(seen.size(), kMessageTypeCount);

  // An empty payload, then a frame far above the socket buffer size.
  ASSERT_TRUE(channel->Send(3, Bytes{}));
  std::uint32_t type = 0;
  Bytes payload{1, 2, 3};
  ASSERT_TRUE(channel->Receive(type, payload));
  EXPECT_EQ(type, 3u);
  EXPECT_TRUE(payload.empty());
  Bytes large(5 << 20);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 31 + 7);
  ASSERT_TRUE(channel->Send(10, large));
  ASSERT_TRUE(channel->Receive(type, payload));
  EXPECT_EQ(payload, large);

  channel.reset();  // closing our end ends the peer's loop
  EXPECT_EQ(tev_test::Wait(pid), 0);
}

TEST(PipeChannel, APieceByPieceFrameIsJoined) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  const auto pid = tev_test::Start(PeerProgram(), "pieces:" + text, channel->peer_end());
  channel->ReleasePeerEnd();
  std::uint32_t type = 0;
  Bytes payload;
  ASSERT_TRUE(channel->Receive(type, payload));
  EXPECT_EQ(type, 5u);
  EXPECT_EQ(payload, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(tev_test::Wait(pid), 0);
  // The peer has gone: the next receive fails at the header.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(channel->Receive(type, payload));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IPC: Failed to read header: 32\n");
}

TEST(PipeChannel, AnEmptyPayloadIsEightBytesAndNoFurtherRead) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  auto adopted = PipeChannel::Adopt(text);
  ASSERT_TRUE(adopted);
  ASSERT_TRUE(channel->Send(3, Bytes{}));
  ASSERT_TRUE(channel->Send(4, Bytes{0xaa}));
  std::uint32_t type = 0;
  Bytes payload;
  ASSERT_TRUE(adopted->Receive(type, payload));
  EXPECT_EQ(type, 3u);
  EXPECT_TRUE(payload.empty());
  // The next frame is still whole on the stream: the empty one consumed 8 bytes.
  ASSERT_TRUE(adopted->Receive(type, payload));
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(payload, Bytes{0xaa});
}

TEST(PipeChannel, SendToAClosedPeerFailsWithoutSigpipe) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), signal(SIGPIPE, SIG_DFL));  // default disposition: would kill us
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  channel->ReleasePeerEnd();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(channel->Send(5, ipc::Encode(IPCSetSize{1, 2, 3, 1.0f})));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IPC: Failed to write header: 32\n");
}

TEST(PipeChannel, OversizedPayloadIsRefusedBeforeAnythingIsWritten) {
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  const std::uint8_t byte = 0;
  testing::internal::CaptureStderr();
  // The size is refused before the data pointer is ever read.
  EXPECT_FALSE(channel->Send(7, &byte, std::size_t{4294967296u}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IPC: Cannot write message of size: 4294967296\n");
  const int peer = static_cast<int>(channel->peer_end());
  fcntl(peer, F_SETFL, O_NONBLOCK);
  std::uint8_t probe;
  EXPECT_EQ(read(peer, &probe, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST(PipeChannel, AnnouncedSizeIsNotAllocatedUpFront) {
  // A header announcing 4 GiB followed by a few bytes and a close must fail at
  // the data read, quickly and without reserving the announced size.
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  const std::uint8_t frame[] = {1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 1, 2, 3};
  ASSERT_TRUE(platform::WriteAll(channel->peer_end(), frame, sizeof frame));
  channel->ReleasePeerEnd();
  std::uint32_t type = 0;
  Bytes payload;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(channel->Receive(type, payload));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IPC: Failed to read data: 32\n");
  EXPECT_LE(payload.capacity(), std::size_t{64} << 20);
}

TEST(PipeChannel, ALargeMessageCostsLittleMoreThanItsSize) {
  // A whole 256 MiB message, then a frame announcing 4 GiB whose sender stops
  // after 256 MiB: the receiver's peak stays within 1.25 times 256 MiB.
  constexpr std::size_t kSize = 256u << 20;
  std::string text;
  auto channel = PipeChannel::Create(text);
  ASSERT_TRUE(channel);
  const auto pid = tev_test::Start(PeerProgram(), "swallow:" + text, channel->peer_end());
  channel->ReleasePeerEnd();
  const Bytes piece(1u << 20, 0x5a);
  auto send_frame = [&](std::uint32_t announced) {
    const std::uint8_t header[8] = {1, 0, 0, 0, static_cast<std::uint8_t>(announced), static_cast<std::uint8_t>(announced >> 8),
                                    static_cast<std::uint8_t>(announced >> 16), static_cast<std::uint8_t>(announced >> 24)};
    ASSERT_TRUE(platform::WriteAll(channel->pipe(), header, sizeof header));
    for (std::size_t sent = 0; sent < kSize; sent += piece.size()) {
      ASSERT_TRUE(platform::WriteAll(channel->pipe(), piece.data(), piece.size()));
    }
  };
  send_frame(static_cast<std::uint32_t>(kSize));
  send_frame(0xFFFFFFFFu);
  ASSERT_EQ(shutdown(static_cast<int>(channel->pipe()), SHUT_WR), 0);  // the rest never comes
  std::uint32_t type = 0;
  Bytes report;
  ASSERT_TRUE(channel->Receive(type, report));
  std::istringstream fields(std::string(report.begin(), report.end()));
  std::size_t before_kb = 0, after_kb = 0, received = 0, extra = 0;
  fields >> before_kb >> after_kb >> received;
  EXPECT_EQ(received, kSize);         // the whole message arrived
  EXPECT_FALSE(fields >> extra);      // the cut one did not
  EXPECT_LE((after_kb - before_kb) * 1024, kSize + kSize / 4) << before_kb << " kB, then " << after_kb << " kB";
  EXPECT_EQ(tev_test::Wait(pid), 0);
}

}  // namespace
