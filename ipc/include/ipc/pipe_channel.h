#pragma once
// The one duplex pipe between the host library and the browser process, and
// its framing: an 8-byte header {type, size} (little-endian) and the payload.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

struct MessageHeader {
  std::uint32_t type;
  std::uint32_t size;
};
static_assert(sizeof(MessageHeader) == 8);

class PipeChannel {
 public:
  static constexpr std::uint64_t kMaxPayload = 4294967295u;

  // Host side: makes the pipe and the child's inheritable end, whose number
  // is written to `handle_text` in decimal. Null on failure.
  static std::unique_ptr<PipeChannel> Create(std::string& handle_text);
  // Browser-process side: takes the inherited end named by `handle_text`. Null
  // when the text holds no number, a number beyond 64 bits, or no open handle.
  static std::unique_ptr<PipeChannel> Adopt(const std::string& handle_text);

  ~PipeChannel();
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  // Closes the host's copy of the child's end, so the pipe breaks when the
  // child ends.
  void ReleasePeerEnd();

  bool Send(std::uint32_t type, const std::vector<std::uint8_t>& payload);
  bool Send(std::uint32_t type, const std::uint8_t* payload, std::size_t size);
  bool Receive(std::uint32_t& type, std::vector<std::uint8_t>& payload);

  platform::NativeHandle pipe() const { return pipe_; }
  platform::NativeHandle peer_end() const { return peer_end_; }

 private:
  PipeChannel(platform::NativeHandle pipe, platform::NativeHandle peer_end) : pipe_(pipe), peer_end_(peer_end) {}
  bool ReadExactly(std::uint8_t* into, std::size_t size);
  bool ReadPayload(std::vector<std::uint8_t>& payload, std::size_t size);

  platform::NativeHandle pipe_;
  platform::NativeHandle peer_end_;
};
