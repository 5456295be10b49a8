#include "request_dispatch.h"

#include <cstdio>

bool DispatchRequest(ClientContext& context, std::uint32_t type, const Payload& payload, std::optional<Reply>& reply) {
  reply.reset();
  switch (type) {
    case static_cast<std::uint32_t>(IPCMessageType::CreateBrowser):
      reply = Reply{IPCMessageType::CreateBrowser,
                    ipc::Encode(IPCCreateBrowserResponse{HandleCreateBrowser(context, payload)}),
                    "CLIENT: Failed send CreateBrowser response\n"};
      return true;
    case static_cast<std::uint32_t>(IPCMessageType::ProcessEvents):
      reply = Reply{IPCMessageType::ProcessEvents, ipc::Encode(HandleProcessEvents(context, payload)),
                    "CLIENT: Failed send ProcessEvents response\n"};
      return true;
    case static_cast<std::uint32_t>(IPCMessageType::Render):
      reply = Reply{IPCMessageType::Render, ipc::Encode(HandleRender(context, payload)),
                    "CLIENT: Failed send Render response\n"};
      return true;
    default:
      if (IsOneWayRequest(type)) {
        HandleOneWayRequest(context, type, payload);
        return true;
      }
      std::fprintf(stderr, "CLIENT: Unknown message type: %d\n", static_cast<int>(type));
      return false;
  }
}
