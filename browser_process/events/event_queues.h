#pragma once
// The three process-wide queues that engine callbacks fill and the
// ProcessEvents reply empties, and the sinks through which a browser appends.
#include <cstdint>
#include <string>
#include <vector>

#include "ipc/messages.h"

struct EventQueues {
  std::vector<IPCConsoleMessage> console_messages;
  std::vector<IPCEvent> browser_events;
  std::vector<IPCEvent> script_events;
};

// The appending functions a BrowserClient is given at construction.
struct EventSinks {
  void (*browser_event)(std::int32_t handle, std::int32_t code, const std::string& data) = nullptr;
  void (*console)(std::int32_t handle, const std::string& message, const std::string& source, std::int32_t line) = nullptr;
  void (*script_event)(std::int32_t handle, std::int32_t code, const std::string& data) = nullptr;
};

// Sinks bound to the queues of the process's ClientContext.
EventSinks ContextEventSinks();

// Browser event codes.
enum BrowserEventCode : std::int32_t {
  kBrowserCreated = 0,
  kBrowserClosed = 1,
  kAddressChanged = 2,
  kTitleChanged = 3,
  kLoadingStateChanged = 4,
  kLoadEnded = 5,
  kJavaScriptDialog = 6,
  kDialogReset = 7,
  kContextMenu = 8,
  kContextMenuDismissed = 9,
  kLoadFailed = 10,
  kRenderProcessTerminated = 11,
  kCertificateError = 12,
  kOpenURL = 13,
  kFileDialogOpen = 14,  // 15, 16, 17: open several, open folder, save
};

class ClientContext;
namespace engine {
class Engine;
}

// The ProcessEvents request: one engine pass when the request decodes, then
// everything queued, in arrival order, as far as `reply_limit` bytes allow
// (the largest frame payload); the rest stays queued for the next request.
IPCProcessEventsResponse HandleProcessEvents(ClientContext& context, const std::vector<std::uint8_t>& payload,
                                             std::uint64_t reply_limit = 4294967295u);
