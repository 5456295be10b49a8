#include "ipc/pipe_channel.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "platform/duplex_pipe.h"
#include "platform/pages.h"
#include "platform/process.h"

namespace {

// Payloads up to this size are allocated at once. A larger one arrives in
// blocks of this size, each allocated when its bytes come, so a peer cannot
// make us reserve gigabytes by announcing them.
constexpr std::size_t kUpFrontPayload = 16u << 20;

// Pages that go back to the system as soon as the block is let go.
struct PageBlock {
  explicit PageBlock(std::size_t bytes)
      : data(bytes ? static_cast<std::uint8_t*>(platform::AllocatePages(bytes)) : nullptr), size(bytes) {}
  PageBlock(PageBlock&& other) noexcept : data(other.data), size(other.size) { other.data = nullptr; }
  PageBlock& operator=(PageBlock&& other) noexcept {
    std::swap(data, other.data);
    std::swap(size, other.size);
    return *this;
  }
  ~PageBlock() { platform::FreePages(data, size); }
  std::uint8_t* data;
  std::size_t size;
};

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
    if (size <= kUpFrontPayload) {
      payload.resize(size);
      return ReadExactly(payload.data(), size);
    }
    // Blocks of pages, then one copy into the payload that gives each block
    // back as it goes: at the peak the payload plus one block is held, never
    // a doubled or zero-filled buffer. The previous payload goes first.
    std::vector<std::uint8_t>().swap(payload);
    std::vector<PageBlock> blocks;
    for (std::size_t filled = 0; filled < size;) {
      PageBlock& block = blocks.emplace_back(std::min(kUpFrontPayload, size - filled));
      if (block.data == nullptr) throw std::bad_alloc();
      if (!ReadExactly(block.data, block.size)) return false;
      filled += block.size;
    }
    payload.reserve(size);
    for (PageBlock& block : blocks) {
      payload.insert(payload.end(), block.data, block.data + block.size);
      block = PageBlock(0);
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
