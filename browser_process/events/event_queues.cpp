#include "event_queues.h"

#include <cstdio>

#include "core/client_context.h"

namespace {

void AppendBrowserEvent(std::int32_t handle, std::int32_t code, const std::string& data) {
  if (ClientContext* c = ClientContext::Current()) c->queues.browser_events.push_back({handle, code, data});
}
void AppendConsole(std::int32_t handle, const std::string& message, const std::string& source, std::int32_t line) {
  if (ClientContext* c = ClientContext::Current()) c->queues.console_messages.push_back({handle, message, source, line});
}
void AppendScriptEvent(std::int32_t handle, std::int32_t code, const std::string& data) {
  if (ClientContext* c = ClientContext::Current()) c->queues.script_events.push_back({handle, code, data});
}

}  // namespace

EventSinks ContextEventSinks() { return {&AppendBrowserEvent, &AppendConsole, &AppendScriptEvent}; }

IPCProcessEventsResponse HandleProcessEvents(ClientContext& context, const std::vector<std::uint8_t>& payload) {
  IPCProcessEvents request;
  if (const auto error = ipc::Decode(payload, request)) {
    std::fprintf(stderr, "CLIENT ProcessEvents: Failed to unpack message: %s\n", error.message().c_str());
    return {};
  }
  if (context.engine != nullptr) context.engine->DoMessageLoopWork();
  IPCProcessEventsResponse reply;
  reply.console_messages.swap(context.queues.console_messages);
  reply.browser_events.swap(context.queues.browser_events);
  reply.script_events.swap(context.queues.script_events);
  return reply;
}
