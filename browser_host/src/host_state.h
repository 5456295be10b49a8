#pragma once
// The one per-process link to browser_process: the channel, the shared frame
// buffer and whether every exchange so far has worked.
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"

struct HostState {
  bool connection_valid = true;
  SharedMemory frame_buffer;
  std::unique_ptr<PipeChannel> channel;
};

namespace host {

// Null while the library is not initialised.
HostState* State();

// The C interface's null text is the empty text.
inline const char* OrEmpty(const char* text) { return text ? text : ""; }

// "TEVBrowserIPC_" plus six random digits.
std::string NextSectionName();

// Encodes `record` and sends it as `type`; a failure clears connection_valid.
template <msgpack::Record R>
bool SendStep(HostState& state, IPCMessageType type, const R& record) {
  if (!state.channel || !state.channel->Send(static_cast<std::uint32_t>(type), ipc::Encode(record))) {
    state.connection_valid = false;
    return false;
  }
  return true;
}

// Receives the reply to `type` into `record`; a failed read, another id or an
// undecodable payload clears connection_valid.
bool ReceiveReply(HostState& state, IPCMessageType type, std::vector<std::uint8_t>& payload);
void ReportUndecodable(HostState& state, const std::error_code& error);

template <msgpack::Record R>
bool ReplyStep(HostState& state, IPCMessageType type, R& record) {
  std::vector<std::uint8_t> payload;
  if (!ReceiveReply(state, type, payload)) return false;
  if (const auto error = ipc::Decode(payload, record)) {
    ReportUndecodable(state, error);
    return false;
  }
  return true;
}

// Runs an export body so that no exception reaches the application.
template <typename Result, typename Body>
Result Guarded(Result on_exception, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return on_exception;
  }
}
template <typename Body>
void Guarded(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace host
