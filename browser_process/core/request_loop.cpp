#include "request_loop.h"

#include <chrono>
#include <cstdio>

#include "browser_client.h"
#include "client_app.h"
#include "event_queues.h"
#include "request_dispatch.h"
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
    std::optional<Reply> reply;
    bool sent = DispatchRequest(context, type, payload, reply);
    if (sent && reply && !context.channel->Send(static_cast<std::uint32_t>(reply->type), reply->payload)) {
      std::fprintf(stderr, "%s", reply->failure);
      sent = false;
    }
    if (!sent) {
      ShutdownSequence(context, engine);
      return;
    }
  }
}
