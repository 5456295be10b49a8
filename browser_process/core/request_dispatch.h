#pragma once
// One request of the host, by its message type, to its handler.
#include <cstdint>
#include <optional>

#include "client_context.h"
#include "ipc/messages.h"
#include "request_handlers.h"

// The reply a request owes the host, and the line written if it cannot be sent.
struct Reply {
  IPCMessageType type;
  Payload payload;
  const char* failure;
};

// Hands the request to its handler. False for a type outside the protocol
// (the caller then shuts down); `reply` is set for the requests that have one.
bool DispatchRequest(ClientContext& context, std::uint32_t type, const Payload& payload, std::optional<Reply>& reply);
