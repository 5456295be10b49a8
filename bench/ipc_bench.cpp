// Prints the costs of the wire protocol against plain baselines:
//   round trip of an empty ProcessEvents request/reply vs a raw 16-byte ping-pong,
//   encode+decode of a large ProcessEvents reply vs msgpack-cxx,
//   a 1920x1080 BGRA frame copied into the section vs memcpy between heap blocks.
#define MSGPACK_NO_BOOST
#include <msgpack.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double SecondsPer(int iterations, F&& f) {
  f();  // warm up
  const auto start = Clock::now();
  for (int i = 0; i < iterations; ++i) f();
  return std::chrono::duration<double>(Clock::now() - start).count() / iterations;
}

void RoundTrips() {
  constexpr int kTrips = 20000;
  std::string text;
  auto host = PipeChannel::Create(text);
  auto client = PipeChannel::Adopt(text);
  std::thread peer([&] {
    std::uint32_t type;
    std::vector<std::uint8_t> payload;
    const auto reply = ipc::Encode(IPCProcessEventsResponse{});
    for (int i = 0; i < kTrips + 1; ++i) {
      if (!client->Receive(type, payload)) return;
      IPCProcessEvents request;
      ipc::Decode(payload, request);
      client->Send(type, reply);
    }
  });
  const double channel = SecondsPer(kTrips, [&] {
    std::uint32_t type;
    std::vector<std::uint8_t> payload;
    host->Send(3, ipc::Encode(IPCProcessEvents{0}));
    host->Receive(type, payload);
    IPCProcessEventsResponse response;
    ipc::Decode(payload, response);
  });
  peer.join();

  int fds[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
  std::thread raw_peer([&] {
    char b[16];
    for (int i = 0; i < kTrips + 1; ++i) {
      if (read(fds[1], b, sizeof b) != 16 || write(fds[1], b, sizeof b) != 16) return;
    }
  });
  const double raw = SecondsPer(kTrips, [&] {
    char b[16] = {};
    if (write(fds[0], b, sizeof b) != 16 || read(fds[0], b, sizeof b) != 16) std::perror("ping");
  });
  raw_peer.join();
  close(fds[0]);
  close(fds[1]);
  std::printf("round trip, empty ProcessEvents over PipeChannel: %.2f us (%.0f/s)\n", channel * 1e6, 1 / channel);
  std::printf("round trip, raw 16-byte socketpair ping-pong:      %.2f us (%.0f/s)\n", raw * 1e6, 1 / raw);
  std::printf("  ratio channel/raw: %.2fx (goal <= 1.5x)\n", channel / raw);
}

IPCProcessEventsResponse LargeReply() {
  IPCProcessEventsResponse reply;
  for (int i = 0; i < 1000; ++i) {
    reply.console_messages.push_back({1 + i % 4, "console line number " + std::to_string(i),
                                      "https://example.test/app.js", i});
    reply.browser_events.push_back({1 + i % 4, i % 18, R"({"url":"https://example.test/page)" + std::to_string(i) + "\"}"});
  }
  return reply;
}

using CxxPacker = msgpack::packer<msgpack::sbuffer>;

// msgpack-cxx producing and reading the same layout: three arrays of bins.
std::size_t CxxRoundTrip(const IPCProcessEventsResponse& reply) {
  msgpack::sbuffer out;
  CxxPacker p(out);
  msgpack::sbuffer inner;
  auto pack_list = [&](const auto& list) {
    p.pack_array(static_cast<std::uint32_t>(list.size()));
    for (const auto& record : list) {
      inner.clear();
      CxxPacker ip(inner);
      std::apply([&](const auto&... f) { (ip.pack(f), ...); }, record.fields());
      p.pack_bin(static_cast<std::uint32_t>(inner.size()));
      p.pack_bin_body(inner.data(), static_cast<std::uint32_t>(inner.size()));
    }
  };
  pack_list(reply.console_messages);
  pack_list(reply.browser_events);
  pack_list(reply.script_events);

  IPCProcessEventsResponse back;
  std::size_t offset = 0;
  auto read_list = [&](auto& list) {
    auto handle = msgpack::unpack(out.data(), out.size(), offset);
    const auto& array = handle.get().via.array;
    list.resize(array.size);
    for (std::uint32_t i = 0; i < array.size; ++i) {
      const auto& bin = array.ptr[i].via.bin;
      std::size_t at = 0;
      std::apply([&](auto&... f) { ((f = msgpack::unpack(bin.ptr, bin.size, at).get().as<std::decay_t<decltype(f)>>()), ...); },
                 list[i].fields());
    }
  };
  read_list(back.console_messages);
  read_list(back.browser_events);
  read_list(back.script_events);
  return back.console_messages.size() + back.browser_events.size();
}

std::size_t OurRoundTrip(const IPCProcessEventsResponse& reply) {
  const auto bytes = ipc::Encode(reply);
  IPCProcessEventsResponse back;
  ipc::Decode(bytes, back);
  return back.console_messages.size() + back.browser_events.size();
}

void Codec() {
  const auto reply = LargeReply();
  volatile std::size_t sink = 0;
  const double ours = SecondsPer(300, [&] { sink = sink + OurRoundTrip(reply); });
  const double theirs = SecondsPer(300, [&] { sink = sink + CxxRoundTrip(reply); });
  std::printf("encode+decode, 1000 console + 1000 events, our codec: %.1f us\n", ours * 1e6);
  std::printf("encode+decode, same reply, msgpack-cxx:             %.1f us\n", theirs * 1e6);
  std::printf("  ratio ours/msgpack-cxx: %.2fx (goal <= 1.0x)\n", ours / theirs);
}

void FrameCopy() {
  constexpr std::size_t kFrame = 1920u * 1080u * 4u;
  const std::string name = "TEVBrowserIPC_bench_" + std::to_string(getpid());
  SharedMemory section = SharedMemory::Create(name.c_str(), kFrameBufferSize);
  if (section.error != 0) {
    std::printf("cannot create section: %d\n", section.error);
    return;
  }
  std::vector<std::uint8_t> frame(kFrame, 0x7f), heap(kFrame);
  std::memset(section.view, 0, kFrame);  // fault the pages in once, as a running browser would have
  const double to_section = SecondsPer(200, [&] { std::memcpy(section.view, frame.data(), kFrame); });
  const double to_heap = SecondsPer(200, [&] { std::memcpy(heap.data(), frame.data(), kFrame); });
  section.Release();
  std::printf("1920x1080 BGRA frame into the section: %.3f ms\n", to_section * 1e3);
  std::printf("1920x1080 BGRA memcpy heap to heap:    %.3f ms\n", to_heap * 1e3);
  std::printf("  ratio section/memcpy: %.2fx\n", to_section / to_heap);
}

}  // namespace

int main() {
  RoundTrips();
  Codec();
  FrameCopy();
  return 0;
}
