#include "request_loop.h"

#include <chrono>
#include <cstdio>

#include "browser_client.h"
#include "client_app.h"
#include "event_queues.h"
#include "request_handlers.h"

namespace {

// How long the shutdown sequence pumps for browsers to report closing.
constexpr auto kShutdownDrainLimit = std::chrono::seconds(5);

void ShutdownSequence(ClientContext& context, engine::Engine& engine) {
  std::fprintf(stderr, "CLIENT: Shutdown\n");
  for (auto& [handle, client] : context.registry) {
    const std::shared_ptr<BrowserClient> held = client;
    held->Close();
  }
  const auto deadline = std::chrono::steady_clock::now() + kShutdownDrainLimit;
  for (;;) {
    int open = 0;
    for (const auto& [handle, client] : context.registry) open += client->created() ? 1 : 0;
    if (open == 0) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "CLIENT: Shutdown: %d browser(s) did not close; shutting the engine down anyway\n", open);
      break;
    }
    engine.DoMessageLoopWork();
  }
  engine.Shutdown();
  context.engine = nullptr;
}

template <msgpack::Record R>
bool Reply(ClientContext& context, IPCMessageType type, const R& record, const char* failure) {
  if (context.channel->Send(static_cast<std::uint32_t>(type), ipc::Encode(record))) return true;
  std::fprintf(stderr, "%s", failure);
  return false;
}

}  // namespace

void RunRequestLoop(ClientContext& context, const std::string& channel_argument, engine::Engine& engine) {
  std::fprintf(stderr, "CLIENT: Connecting to IPC: %s\n", channel_argument.c_str());
  context.channel = PipeChannel::Adopt(channel_argument);
  if (!context.channel) {
    std::fprintf(stdout, "CLIENT: Failed to connect IPC\n");
    std::fflush(stdout);
    return;
  }
  std::uint32_t type = 0;
  Payload payload;
  if (!context.channel->Receive(type, payload)) {
    std::fprintf(stderr, "CLIENT: Failed to receive initialize message\n");
    return;
  }
  if (type != static_cast<std::uint32_t>(IPCMessageType::Initialize)) {
    std::fprintf(stderr, "CLIENT: Expected initialize as first message\n");
    return;
  }
  IPCInitialize init;
  if (const auto error = ipc::Decode(payload, init)) {
    std::fprintf(stderr, "CLIENT: Failed to unpack IPCInitialize: %s\n", error.message().c_str());
    return;
  }
  context.frame_buffer = SharedMemory::Open(init.section_name.c_str(), kFrameBufferSize);
  if (context.frame_buffer.error != kSharedMemoryOk) {
    std::fprintf(stderr, "CLIENT: Failed to shared memory: %d\n", context.frame_buffer.error);
    return;
  }
  // Mapped on both sides now: with the name gone, nothing stays in the
  // system's shared memory however either side ends.
  context.frame_buffer.RemoveName();
  if (!ClientApp::InitializeEngine(engine, init)) {
    std::fprintf(stderr, "CLIENT: Failed to initialize CEF\n");
    return;
  }
  context.engine = &engine;

  for (;;) {
    if (!context.channel->Receive(type, payload)) {
      std::fprintf(stderr, "CLIENT: Failed to receive message\n");
      return;
    }
    bool sent = true;
    switch (type) {
      case static_cast<std::uint32_t>(IPCMessageType::CreateBrowser):
        sent = Reply(context, IPCMessageType::CreateBrowser, IPCCreateBrowserResponse{HandleCreateBrowser(context, payload)},
                     "CLIENT: Failed send CreateBrowser response\n");
        break;
      case static_cast<std::uint32_t>(IPCMessageType::ProcessEvents):
        sent = Reply(context, IPCMessageType::ProcessEvents, HandleProcessEvents(context, payload),
                     "CLIENT: Failed send ProcessEvents response\n");
        break;
      case static_cast<std::uint32_t>(IPCMessageType::Render):
        sent = Reply(context, IPCMessageType::Render, HandleRender(context, payload),
                     "CLIENT: Failed send Render response\n");
        break;
      default:
        if (type >= 2 && type < kMessageTypeCount) {
          HandleOneWayRequest(context, type, payload);
        } else {
          std::fprintf(stderr, "CLIENT: Unknown message type: %d\n", static_cast<int>(type));
          sent = false;
        }
        break;
    }
    if (!sent) {
      ShutdownSequence(context, engine);
      return;
    }
  }
}
