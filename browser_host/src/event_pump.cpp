// TEVBrowser_ProcessEvents and TEVBrowser_Render: the two round trips that
// bring results back.
#include <string>

#include "TEVBrowser.h"
#include "host_state.h"

extern "C" {

TEVBROWSER_API void TEVBrowser_ProcessEvents(TEVBrowser_ConsoleCallback console, TEVBrowser_EventCallback event,
                                             TEVBrowser_ScriptCallback script) {
  host::Guarded([&] {
    HostState* state = host::State();
    if (state == nullptr) return;
    if (!host::SendStep(*state, IPCMessageType::ProcessEvents, IPCProcessEvents{0})) return;
    IPCProcessEventsResponse reply;
    if (!host::ReplyStep(*state, IPCMessageType::ProcessEvents, reply)) return;
    // The reply is read whole, so callbacks may send requests of their own.
    // Each call gets its own copies of the texts, gone when it returns.
    if (console != nullptr) {
      for (const auto& m : reply.console_messages) {
        const std::string message = m.message, source = m.source;
        console(m.handle, message.c_str(), source.c_str(), m.line);
      }
    }
    if (event != nullptr) {
      for (const auto& e : reply.browser_events) {
        const std::string data = e.data;
        event(e.handle, e.code, data.c_str());
      }
    }
    if (script != nullptr) {
      for (const auto& e : reply.script_events) {
        const std::string data = e.data;
        script(e.handle, e.code, data.c_str());
      }
    }
  });
}

TEVBROWSER_API bool TEVBrowser_Render(int32_t handle, bool* updated, int32_t* width, int32_t* height, void** buffer,
                                      int32_t* cursor) {
  return host::Guarded(false, [&] {
    HostState* state = host::State();
    if (state == nullptr) return false;
    *updated = false;
    *width = 0;
    *height = 0;
    *buffer = nullptr;
    *cursor = 0;
    if (!host::SendStep(*state, IPCMessageType::Render, IPCBrowserRequest{handle})) return false;
    IPCRenderResponse reply;
    if (!host::ReplyStep(*state, IPCMessageType::Render, reply)) return false;
    *updated = reply.updated;
    *width = reply.width;
    *height = reply.height;
    *cursor = reply.cursor;
    *buffer = state->frame_buffer.view;
    return true;
  });
}

}  // extern "C"
