#pragma once
// The process-wide state of browser mode: the registry, the event queues,
// the handle counter, the channel and the frame-buffer view.
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "engine/engine.h"
#include "event_queues.h"
#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"

class BrowserClient;

class ClientContext {
 public:
  std::unordered_map<std::int32_t, std::shared_ptr<BrowserClient>> registry;
  EventQueues queues;
  std::int32_t handle_counter = 0;
  std::unique_ptr<PipeChannel> channel;
  SharedMemory frame_buffer;

  engine::Engine* engine = nullptr;  // not owned; set while the engine runs

  // The one context of the process, or null.
  static ClientContext* Current();
  static void SetCurrent(ClientContext* context);

  std::shared_ptr<BrowserClient> Find(std::int32_t handle) const;
};
