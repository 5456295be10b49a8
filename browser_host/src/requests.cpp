// The request exports: each builds one record and sends it; CreateBrowser
// also waits for its reply.
#include <cstdio>

#include "TEVBrowser.h"
#include "host_state.h"

namespace host {

bool ReceiveReply(HostState& state, IPCMessageType type, std::vector<std::uint8_t>& payload) {
  std::uint32_t received = 0;
  if (!state.channel || !state.channel->Receive(received, payload)) {
    state.connection_valid = false;
    return false;
  }
  if (received != static_cast<std::uint32_t>(type)) {
    std::fprintf(stderr, "HOST: Expected IPC message %d, got %d\n", static_cast<int>(type), static_cast<int>(received));
    state.connection_valid = false;
    return false;
  }
  return true;
}

void ReportUndecodable(HostState& state, const std::error_code& error) {
  std::fprintf(stderr, "HOST: Failed to unpack IPC message: %s\n", error.message().c_str());
  state.connection_valid = false;
}

}  // namespace host

namespace {

// A one-way request: nothing without a state; otherwise the record that
// `build` makes is sent, and a failed send writes `failure`.
template <typename Build>
void OneWayExport(IPCMessageType type, const char* failure, Build&& build) {
  host::Guarded([&] {
    HostState* state = host::State();
    if (state == nullptr) return;
    if (!host::SendStep(*state, type, build()) && failure != nullptr) std::fprintf(stderr, "%s", failure);
  });
}

}  // namespace

extern "C" {

TEVBROWSER_API int32_t TEVBrowser_CreateBrowser(const char* url) {
  return host::Guarded(0, [&]() -> int32_t {
    HostState* state = host::State();
    if (state == nullptr) return 0;
    if (!host::SendStep(*state, IPCMessageType::CreateBrowser, IPCCreateBrowser{host::OrEmpty(url)})) {
      std::fprintf(stderr, "HOST: Failed to send CreateBrowser\n");
      return 0;
    }
    IPCCreateBrowserResponse response;
    if (!host::ReplyStep(*state, IPCMessageType::CreateBrowser, response)) {
      std::fprintf(stderr, "HOST: Failed to receive CreateBrowser response\n");
      return 0;
    }
    return response.handle;
  });
}

TEVBROWSER_API void TEVBrowser_DestroyBrowser(int32_t handle) {
  OneWayExport(IPCMessageType::DestroyBrowser, "HOST: Failed to send DestroyBrowser\n",
                                  [&] { return IPCBrowserRequest{handle}; });
}

TEVBROWSER_API void TEVBrowser_SetSize(int32_t handle, int32_t width, int32_t height, float scale_factor) {
  OneWayExport(IPCMessageType::SetSize, "HOST: Failed to send SetSize\n",
                           [&] { return IPCSetSize{handle, width, height, scale_factor}; });
}

TEVBROWSER_API void TEVBrowser_SetZoom(int32_t handle, float zoom) {
  OneWayExport(IPCMessageType::SetZoom, "HOST: Failed to send SetZoom\n",
                           [&] { return IPCSetZoom{handle, zoom}; });
}

TEVBROWSER_API void TEVBrowser_ExecuteJavascript(int32_t handle, const char* code) {
  OneWayExport(IPCMessageType::ExecuteJavascript, "HOST: Failed to send ExecuteJavascript\n",
                                     [&] { return IPCExecuteJavascript{handle, host::OrEmpty(code)}; });
}

TEVBROWSER_API void TEVBrowser_Navigate(int32_t handle, bool forward) {
  OneWayExport(IPCMessageType::Navigate, "HOST: Failed to send Navigate\n",
                               [&] { return IPCBrowserFlag{handle, forward}; });
}

TEVBROWSER_API void TEVBrowser_GoToURL(int32_t handle, const char* url, bool skip_unload) {
  OneWayExport(IPCMessageType::GoToURL, "HOST: Failed to send GoToURL\n",
                               [&] { return IPCLoadContent{handle, host::OrEmpty(url), skip_unload}; });
}

TEVBROWSER_API void TEVBrowser_GoToHTML(int32_t handle, const char* html, bool skip_unload) {
  // This request has never had a line of its own; the channel's line reports it.
  OneWayExport(IPCMessageType::GoToHTML, nullptr,
                               [&] { return IPCLoadContent{handle, host::OrEmpty(html), skip_unload}; });
}

TEVBROWSER_API void TEVBrowser_Reload(int32_t handle, bool ignore_cache) {
  OneWayExport(IPCMessageType::Reload, "HOST: Failed to send Reload\n",
                               [&] { return IPCBrowserFlag{handle, ignore_cache}; });
}

TEVBROWSER_API void TEVBrowser_StopLoading(int32_t handle) {
  OneWayExport(IPCMessageType::StopLoading, "HOST: Failed to send StopLoading\n",
                                  [&] { return IPCBrowserRequest{handle}; });
}

TEVBROWSER_API void TEVBrowser_ShowDevTools(int32_t handle) {
  OneWayExport(IPCMessageType::ShowDevTools, "HOST: Failed to send ShowDevTools\n",
                                  [&] { return IPCBrowserRequest{handle}; });
}

TEVBROWSER_API void TEVBrowser_ClearCookies(int32_t handle) {
  OneWayExport(IPCMessageType::ClearCookies, "HOST: Failed to send ClearCookies\n",
                                  [&] { return IPCBrowserRequest{handle}; });
}

TEVBROWSER_API void TEVBrowser_SetDialogResult(int32_t handle, bool success, const char* user_input) {
  OneWayExport(IPCMessageType::SetDialogResult, "HOST: Failed to send SetDialogResult\n",
                                   [&] { return IPCSetDialogResult{handle, success, host::OrEmpty(user_input)}; });
}

TEVBROWSER_API void TEVBrowser_SetContextMenuResult(int32_t handle, int32_t command_id) {
  OneWayExport(IPCMessageType::SetContextMenuResult, "HOST: Failed to send SetContextMenuResult\n",
                                [&] { return IPCBrowserValue{handle, command_id}; });
}

TEVBROWSER_API void TEVBrowser_SetFileDialogResult(int32_t handle, int32_t count, const char** paths) {
  OneWayExport(IPCMessageType::SetFileDialogResult,
                                       "HOST: Failed to send SetFileDialogResult\n", [&] {
                                         IPCSetFileDialogResult record{handle, {}};
                                         for (int32_t i = 0; i < count; ++i) record.paths.emplace_back(host::OrEmpty(paths[i]));
                                         return record;
                                       });
}

TEVBROWSER_API void TEVBrowser_SendMouseClickEvent(int32_t handle, int32_t x, int32_t y, int32_t button, bool mouse_up,
                                                   int32_t click_count, uint32_t modifiers) {
  OneWayExport(IPCMessageType::SendMouseClickEvent, "HOST: Failed to send MouseClickEvent\n",
                                   [&] { return IPCMouseClickEvent{handle, x, y, button, mouse_up, click_count, modifiers}; });
}

TEVBROWSER_API void TEVBrowser_SendMouseWheelEvent(int32_t handle, int32_t x, int32_t y, int32_t delta_x,
                                                   int32_t delta_y, uint32_t modifiers) {
  OneWayExport(IPCMessageType::SendMouseWheelEvent, "HOST: Failed to send MouseWheelEvent\n",
                                   [&] { return IPCMouseWheelEvent{handle, x, y, delta_x, delta_y, modifiers}; });
}

TEVBROWSER_API void TEVBrowser_SendMouseMoveEvent(int32_t handle, int32_t x, int32_t y, uint32_t modifiers) {
  OneWayExport(IPCMessageType::SendMouseMoveEvent, "HOST: Failed to send MouseMoveEvent\n",
                                  [&] { return IPCMouseMoveEvent{handle, x, y, modifiers}; });
}

TEVBROWSER_API void TEVBrowser_SendKeyEvent(int32_t handle, int32_t windows_key_code, int32_t native_key_code,
                                            bool key_up, uint32_t modifiers) {
  OneWayExport(IPCMessageType::SendKeyEvent, "HOST: Failed to send KeyEvent\n", [&] {
    return IPCKeyEvent{handle, windows_key_code, native_key_code, key_up, modifiers};
  });
}

TEVBROWSER_API void TEVBrowser_SendCharacterEvent(int32_t handle, uint16_t character, uint16_t unmodified_character,
                                                  uint32_t modifiers) {
  OneWayExport(IPCMessageType::SendCharacterEvent, "HOST: Failed to send CharacterEvent\n",
                                  [&] { return IPCCharacterEvent{handle, character, unmodified_character, modifiers}; });
}

TEVBROWSER_API void TEVBrowser_SendFocusEvent(int32_t handle, bool focus) {
  OneWayExport(IPCMessageType::SendFocusEvent, "HOST: Failed to send FocusEvent\n",
                               [&] { return IPCBrowserFlag{handle, focus}; });
}

TEVBROWSER_API void TEVBrowser_SendFrameCommand(int32_t handle, int32_t command) {
  OneWayExport(IPCMessageType::SendFrameCommand, "HOST: Failed to send FrameCommand\n",
                                [&] { return IPCBrowserValue{handle, command}; });
}

}  // extern "C"
