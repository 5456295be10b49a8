#include "ipc/pipe_channel.h"

#include <cstdio>
#include <new>

#include "platform/duplex_pipe.h"
#include "platform/process.h"

namespace {

// Payloads up to this size are allocated at once; larger announced sizes grow
// with the bytes that really arrive, so a peer cannot make us reserve gigabytes
// by announcing them.
constexpr std::size_t kUpFrontPayload = 16u << 20;

void PutLittleEndian(std::uint8_t* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetLittleEndian(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

}  // namespace

std::unique_ptr<PipeChannel> PipeChannel::Create(std::string& handle_text) {
  platform::DuplexPipe ends;
  if (!platform::CreateDuplexPipe(ends)) {
    std::fprintf(stderr, "IPC: Failed to create pipe: %d\n", platform::LastError());
    return nullptr;
  }
  handle_text = std::to_string(static_cast<std::uint64_t>(ends.peer));
  return std::unique_ptr<PipeChannel>(new PipeChannel(ends.local, ends.peer));
}

std::unique_ptr<PipeChannel> PipeChannel::Adopt(const std::string& handle_text) {
  std::size_t i = 0;
  while (i < handle_text.size() && (handle_text[i] == ' ' || (handle_text[i] >= '\t' && handle_text[i] <= '\r'))) ++i;
  if (i < handle_text.size() && handle_text[i] == '+') ++i;
  std::uint64_t value = 0;
  bool any_digit = false;
  for (; i < handle_text.size() && handle_text[i] >= '0' && handle_text[i] <= '9'; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(handle_text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return nullptr;  // beyond 64 bits
    value = value * 10 + digit;
    any_digit = true;
  }
  if (!any_digit) return nullptr;
  const auto handle = static_cast<platform::NativeHandle>(value);
  if (value > static_cast<std::uint64_t>(INTPTR_MAX) || !platform::IsOpenHandle(handle)) return nullptr;
  // Whatever this process starts later (a display server, engine processes)
  // must not hold the channel open after we are gone.
  if (!platform::KeepFromChildren(handle)) return nullptr;
  return std::unique_ptr<PipeChannel>(new PipeChannel(handle, platform::kInvalidHandle));
}

PipeChannel::~PipeChannel() {
  platform::CloseHandle(pipe_);
  platform::CloseHandle(peer_end_);
}

void PipeChannel::ReleasePeerEnd() {
  platform::CloseHandle(peer_end_);
  peer_end_ = platform::kInvalidHandle;
}

bool PipeChannel::Send(std::uint32_t type, const std::vector<std::uint8_t>& payload) {
  return Send(type, payload.data(), payload.size());
}

bool PipeChannel::Send(std::uint32_t type, const std::uint8_t* payload, std::size_t size) {
  if (size > kMaxPayload) {
    std::fprintf(stderr, "IPC: Cannot write message of size: %zu\n", size);
    return false;
  }
  std::uint8_t header[sizeof(MessageHeader)];
  PutLittleEndian(header, type);
  PutLittleEndian(header + 4, static_cast<std::uint32_t>(size));
  if (!platform::WriteAll(pipe_, header, sizeof header)) {
    std::fprintf(stderr, "IPC: Failed to write header: %d\n", platform::LastError());
    return false;
  }
  if (size == 0) return true;
  if (!platform::WriteAll(pipe_, payload, size)) {
    std::fprintf(stderr, "IPC: Failed to write data: %d\n", platform::LastError());
    return false;
  }
  return true;
}

bool PipeChannel::ReadExactly(std::uint8_t* into, std::size_t size) {
  while (size > 0) {
    const long n = platform::ReadSome(pipe_, into, size);
    if (n == 0) platform::SetLastError(platform::BrokenPipeError());
    if (n <= 0) return false;
    into += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool PipeChannel::ReadPayload(std::vector<std::uint8_t>& payload, std::size_t size) {
  try {
    std::size_t filled = 0;
    payload.assign(size < kUpFrontPayload ? size : kUpFrontPayload, 0);
    while (filled < size) {
      if (filled == payload.size()) payload.resize(size - filled < filled ? size : filled * 2);
      const std::size_t chunk = payload.size() - filled;
      if (!ReadExactly(payload.data() + filled, chunk)) return false;
      filled += chunk;
    }
    return true;
  } catch (const std::bad_alloc&) {
    platform::SetLastError(platform::OutOfMemoryError());
    return false;
  }
}

bool PipeChannel::Receive(std::uint32_t& type, std::vector<std::uint8_t>& payload) {
  std::uint8_t header[sizeof(MessageHeader)];
  if (!ReadExactly(header, sizeof header)) {
    std::fprintf(stderr, "IPC: Failed to read header: %d\n", platform::LastError());
    return false;
  }
  type = GetLittleEndian(header);
  const std::uint32_t size = GetLittleEndian(header + 4);
  if (size == 0) {
    payload.clear();
    return true;
  }
  if (!ReadPayload(payload, size)) {
    std::fprintf(stderr, "IPC: Failed to read data: %d\n", platform::LastError());
    return false;
  }
  return true;
}
