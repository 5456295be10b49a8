#pragma once
// One filled-in record for every message of the protocol (requests and the
// three replies), with values that exercise the encodings: negative numbers,
// fractional floats, empty and long texts, several list entries.
#include <cstdint>
#include <string>

#include "ipc/messages.h"

namespace tev_test {

// Calls f(type, is_reply, record) for each sample.
template <typename F>
void ForEachSampleRecord(F&& f) {
  using T = IPCMessageType;
  auto id = [](T t) { return static_cast<std::uint32_t>(t); };
  f(id(T::Initialize), false,
    IPCInitialize{true, "TEVBrowserIPC_123456", "/opt/tev/browser_process", "res", "", "bundle",
                  "/tmp/log.txt", "/tmp/cache \xc3\xa9", "Agent/1.0"});
  f(id(T::CreateBrowser), false, IPCCreateBrowser{"https://example.test/" + std::string(300, 'a')});
  f(id(T::CreateBrowser), true, IPCCreateBrowserResponse{70000});
  f(id(T::DestroyBrowser), false, IPCBrowserRequest{1});
  f(id(T::ProcessEvents), false, IPCProcessEvents{0});
  f(id(T::ProcessEvents), true,
    IPCProcessEventsResponse{
        {{1, "hello", "https://a.test/x.js", 12}, {2, std::string(40000, 'm'), "", -1}},
        {{1, 0, ""}, {2, 5, R"({"status":200,"url":"about:blank"})"}, {1, 17, std::string(300, 'j')}},
        {{3, -7, "script text"}}});
  f(id(T::Render), false, IPCBrowserRequest{-3});
  f(id(T::Render), true, IPCRenderResponse{true, 1920, 1080, 6});
  f(id(T::SetSize), false, IPCSetSize{1, 800, 600, 1.25f});
  f(id(T::SetZoom), false, IPCSetZoom{1, -0.5f});
  f(id(T::ExecuteJavascript), false, IPCExecuteJavascript{2, "document.title = 'x';"});
  f(id(T::Navigate), false, IPCBrowserFlag{1, true});
  f(id(T::GoToURL), false, IPCLoadContent{1, "about:blank", false});
  f(id(T::GoToHTML), false, IPCLoadContent{1, "<p>" + std::string(70000, 'h') + "</p>", true});
  f(id(T::Reload), false, IPCBrowserFlag{1, false});
  f(id(T::StopLoading), false, IPCBrowserRequest{1});
  f(id(T::ShowDevTools), false, IPCBrowserRequest{2147483647});
  f(id(T::ClearCookies), false, IPCBrowserRequest{1});
  f(id(T::SetDialogResult), false, IPCSetDialogResult{1, true, "typed answer"});
  f(id(T::SetContextMenuResult), false, IPCBrowserValue{1, 26500});
  f(id(T::SetFileDialogResult), false, IPCSetFileDialogResult{1, {"/a b/c.png", "", std::string(40, 'p')}});
  f(id(T::SendMouseClickEvent), false, IPCMouseClickEvent{1, -5, 70000, 2, true, 2, 0x1046u});
  f(id(T::SendMouseWheelEvent), false, IPCMouseWheelEvent{1, 10, 20, -120, 120, 0xffffffffu});
  f(id(T::SendMouseMoveEvent), false, IPCMouseMoveEvent{1, -1, -2147483647 - 1, 0});
  f(id(T::SendKeyEvent), false, IPCKeyEvent{1, 0x41, 30, false, 4});
  f(id(T::SendCharacterEvent), false, IPCCharacterEvent{1, 0xe9, 65535, 2});
  f(id(T::SendFocusEvent), false, IPCBrowserFlag{1, true});
  f(id(T::SendFrameCommand), false, IPCBrowserValue{1, 6});
}

}  // namespace tev_test
