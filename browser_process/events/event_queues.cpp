#include "event_queues.h"

#include <cstdio>
#include <iterator>

#include "core/client_context.h"
#include "core/decode_request.h"

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

namespace {

// The most a record can take on the wire: its bin header and each field's
// largest header plus its bytes.
std::uint64_t EncodedBound(const IPCConsoleMessage& m) { return 5 + 5 + 5 + m.message.size() + 5 + m.source.size() + 5; }
std::uint64_t EncodedBound(const IPCEvent& e) { return 5 + 5 + 5 + 5 + e.data.size(); }

// Moves records from the front of `queue` into `out` while they fit `budget`;
// the rest stay queued, in order, for the next reply.
template <typename R>
void TakeWithin(std::vector<R>& queue, std::vector<R>& out, std::uint64_t& budget) {
  std::size_t taken = 0;
  for (; taken < queue.size(); ++taken) {
    const std::uint64_t size = EncodedBound(queue[taken]);
    if (size > budget) break;
    budget -= size;
  }
  if (taken == queue.size()) {
    out.swap(queue);
    queue.clear();
    return;
  }
  out.assign(std::make_move_iterator(queue.begin()), std::make_move_iterator(queue.begin() + static_cast<std::ptrdiff_t>(taken)));
  queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
}

}  // namespace

IPCProcessEventsResponse HandleProcessEvents(ClientContext& context, const std::vector<std::uint8_t>& payload,
                                             std::uint64_t reply_limit) {
  IPCProcessEvents request;
  if (!DecodeRequest("ProcessEvents", payload, request)) return {};
  if (context.engine != nullptr) context.engine->DoMessageLoopWork();
  // A reply never outgrows a frame: what does not fit waits for the next one.
  std::uint64_t budget = reply_limit > 15 ? reply_limit - 15 : 0;  // three list headers
  IPCProcessEventsResponse reply;
  TakeWithin(context.queues.console_messages, reply.console_messages, budget);
  TakeWithin(context.queues.browser_events, reply.browser_events, budget);
  TakeWithin(context.queues.script_events, reply.script_events, budget);
  return reply;
}
