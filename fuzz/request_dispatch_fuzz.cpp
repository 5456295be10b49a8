// Request frames from the input, each handed to the request loop's dispatch
// against the scripted engine, so one target reaches every handler. The
// input is a run of frames: a type byte, a 16-bit little-endian length, then
// that many payload bytes. Each input starts with one browser already made,
// so the per-browser handlers have something to act on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

#include "browser_process/scripted_engine.h"
#include "core/browser_client.h"
#include "core/request_dispatch.h"

namespace {

// One section for the whole run, its name removed at once: Render copies
// into it as it would into the host's.
SharedMemory& Section() {
  static SharedMemory section = [] {
    const std::string name = "TEVBrowserIPC_fuzz_" + std::to_string(getpid());
    SharedMemory s = SharedMemory::Create(name.c_str(), kFrameBufferSize);
    s.RemoveName();
    return s;
  }();
  return section;
}

void Dispatch(ClientContext& context, std::uint32_t type, const Payload& payload) {
  std::optional<Reply> reply;
  if (!DispatchRequest(context, type, payload, reply)) return;
  if (!reply) return;
  // Every reply must be a record its reader accepts.
  bool bad = false;
  switch (reply->type) {
    case IPCMessageType::CreateBrowser: {
      IPCCreateBrowserResponse r;
      bad = static_cast<bool>(ipc::Decode(reply->payload, r));
      break;
    }
    case IPCMessageType::ProcessEvents: {
      IPCProcessEventsResponse r;
      bad = static_cast<bool>(ipc::Decode(reply->payload, r));
      break;
    }
    case IPCMessageType::Render: {
      IPCRenderResponse r;
      bad = static_cast<bool>(ipc::Decode(reply->payload, r));
      break;
    }
    default:
      bad = true;
  }
  if (bad) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ScriptedEngine engine;
  {
    ClientContext context;
    ClientContext::SetCurrent(&context);
    context.engine = &engine;
    context.frame_buffer = Section();
    Dispatch(context, static_cast<std::uint32_t>(IPCMessageType::CreateBrowser),
             ipc::Encode(IPCCreateBrowser{"about:blank"}));
    Dispatch(context, static_cast<std::uint32_t>(IPCMessageType::ProcessEvents), ipc::Encode(IPCProcessEvents{0}));
    std::size_t at = 0;
    while (size - at >= 3) {
      const std::uint32_t type = data[at];
      const std::size_t length = std::min<std::size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
      const Payload payload(data + at + 3, data + at + 3 + length);
      at += 3 + length;
      Dispatch(context, type, payload);
    }
    // The section is the run's, not this context's.
    context.frame_buffer = SharedMemory{};
    context.registry.clear();
    ClientContext::SetCurrent(nullptr);
  }
  return 0;
}
