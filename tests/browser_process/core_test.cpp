// The engine-free core of browser_process, driven against the scripted
// engine: handles, the registry, every handler's checks and engine calls,
// painting and Render, the request loop over a real socket pair, the entry.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <thread>

#include "core/browser_client.h"
#include "core/client_app.h"
#include "core/client_context.h"
#include "core/entry.h"
#include "core/request_handlers.h"
#include "core/request_loop.h"
#include "context_menu.h"
#include "event_queues.h"
#include "scripted_engine.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using T = IPCMessageType;

std::string SectionName() {
  std::random_device device;
  return "TEVBrowserIPC_core_" + std::to_string(getpid()) + "_" + std::to_string(device());
}

class Core : public testing::Test {
 protected:
  void SetUp() override {
    ClientContext::SetCurrent(&context_);
    context_.engine = &engine_;
    section_ = SharedMemory::Create(SectionName().c_str(), kSectionSize);
    ASSERT_EQ(section_.error, 0);
    context_.frame_buffer = SharedMemory::Open(section_.name->c_str(), kSectionSize);
    ASSERT_EQ(context_.frame_buffer.error, 0);
  }
  void TearDown() override {
    context_.registry.clear();
    context_.frame_buffer.Release();
    section_.Release();
    ClientContext::SetCurrent(nullptr);
  }

  // Sends a one-way request and returns what the handlers wrote.
  template <typename R>
  std::string OneWay(T type, const R& record) {
    testing::internal::CaptureStderr();
    HandleOneWayRequest(context_, static_cast<std::uint32_t>(type), ipc::Encode(record));
    return testing::internal::GetCapturedStderr();
  }
  std::int32_t Create(const std::string& url = "https://a.test/") {
    testing::internal::CaptureStderr();
    const std::int32_t handle = HandleCreateBrowser(context_, ipc::Encode(IPCCreateBrowser{url}));
    testing::internal::GetCapturedStderr();
    return handle;
  }
  IPCProcessEventsResponse Pump() { return HandleProcessEvents(context_, ipc::Encode(IPCProcessEvents{0})); }
  // The engine calls made since the last look.
  std::vector<std::string> NewCalls() {
    std::vector<std::string> fresh(engine_.calls.begin() + static_cast<std::ptrdiff_t>(seen_), engine_.calls.end());
    seen_ = engine_.calls.size();
    std::erase(fresh, "DoMessageLoopWork");
    return fresh;
  }
  IPCRenderResponse Render(std::int32_t handle) {
    return HandleRender(context_, ipc::Encode(IPCBrowserRequest{handle}));
  }

  static constexpr std::uint32_t kSectionSize = 4u << 20;
  ClientContext context_;
  ScriptedEngine engine_;
  SharedMemory section_;
  std::size_t seen_ = 0;
};

TEST_F(Core, HandlesCountEveryDecodedCreateAndSkipRefusedOnes) {
  engine_.refuse = {false, true, false};
  EXPECT_EQ(Create(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(HandleCreateBrowser(context_, ipc::Encode(IPCCreateBrowser{"https://refused.test/"})), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "CLIENT: CreateBrowser: https://refused.test/\nCLIENT CreateBrowsers: Failed to create browser\n");
  EXPECT_EQ(Create(), 3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(HandleCreateBrowser(context_, Bytes{0xa5, 'x'}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "CLIENT CreateBrowser: Failed to unpack message: tried to dereference out of range during deserialization\n");
  EXPECT_EQ(Create(), 4);  // an undecodable request takes no number
  EXPECT_EQ(context_.registry.size(), 3u);
  EXPECT_FALSE(context_.Find(2));
}

TEST_F(Core, RequestsBeforeTheBrowserExistsAreStoredOrRefused) {
  const std::int32_t h = Create();
  EXPECT_EQ(OneWay(T::ExecuteJavascript, IPCExecuteJavascript{h, "1"}),
            "CLIENT ExecuteJavascript: Browser has not yet been created\n");
  EXPECT_EQ(OneWay(T::SetSize, IPCSetSize{h, 800, 600, 2.0f}), "");
  EXPECT_EQ(OneWay(T::SetZoom, IPCSetZoom{h, 1.5f}), "");
  EXPECT_EQ(OneWay(T::DestroyBrowser, IPCBrowserRequest{h}), "");  // nothing to close yet
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"CreateBrowser https://a.test/ windowless=1 fps=60"}));
  const auto reply = Pump();
  EXPECT_EQ(NewCalls(), (std::vector<std::string>{"browser1 SetZoomLevel 1.5"}));
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_TRUE(reply.browser_events[0] == (IPCEvent{h, 0, ""}));
  const auto client = context_.Find(h);
  EXPECT_TRUE(client->created());
  EXPECT_EQ(client->GetViewRect().width, 800);
  EXPECT_EQ(client->GetDeviceScaleFactor(), 2.0f);
}

TEST_F(Core, ValidationAndLookupLines) {
  const std::int32_t h = Create();
  Pump();
  const struct {
    std::string expected;
    std::function<std::string()> send;
  } cases[] = {
      {"CLIENT SetSize: Width must be greater than 0, is 0\n", [&] { return OneWay(T::SetSize, IPCSetSize{h, 0, 0, 1}); }},
      {"CLIENT SetSize: Height must be greater than 0, is -4\n", [&] { return OneWay(T::SetSize, IPCSetSize{h, 5, -4, 1}); }},
      {"CLIENT SetSize: Scale factor must be greater than 0, is 0.000000\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 5, 5, 0}); }},
      // Frames that could never pass through the 128 MiB section.
      {"CLIENT SetSize: A view of 20000x20000 at scale 1 does not fit the frame buffer\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 20000, 20000, 1}); }},
      {"CLIENT SetSize: A view of 2147483647x1 at scale 1 does not fit the frame buffer\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 2147483647, 1, 1}); }},
      {"CLIENT SetSize: A view of 5793x5793 at scale 1 does not fit the frame buffer\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 5793, 5793, 1}); }},  // one pixel row over
      {"CLIENT SetSize: A view of 2048x2048 at scale 3 does not fit the frame buffer\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 2048, 2048, 3}); }},
      {"CLIENT SetSize: A view of 5x5 at scale inf does not fit the frame buffer\n",
       [&] { return OneWay(T::SetSize, IPCSetSize{h, 5, 5, std::numeric_limits<float>::infinity()}); }},
      {"CLIENT SetZoom: Zoom must be greater than 0, is -1.000000\n", [&] { return OneWay(T::SetZoom, IPCSetZoom{h, -1}); }},
      {"CLIENT GoToURL: URL is empty\n", [&] { return OneWay(T::GoToURL, IPCLoadContent{h, "", false}); }},
      {"CLIENT GoToHTML: URL is empty\n", [&] { return OneWay(T::GoToHTML, IPCLoadContent{h, "", false}); }},
      {"CLIENT GoToURL: Invalid browser handle 99\n", [&] { return OneWay(T::GoToURL, IPCLoadContent{99, "x", false}); }},
      {"CLIENT SendMouseMoveEvent: Invalid browser handle 0\n",
       [&] { return OneWay(T::SendMouseMoveEvent, IPCMouseMoveEvent{0, 1, 1, 0}); }},
      {"CLIENT SetSize: Failed to unpack message: tried to dereference out of range during deserialization\n",
       [&] { return OneWay(T::SetSize, IPCBrowserRequest{h}); }},
  };
  NewCalls();
  for (const auto& c : cases) {
    EXPECT_EQ(c.send(), c.expected);
    EXPECT_EQ(NewCalls(), std::vector<std::string>{}) << c.expected;
  }
  // Refused sizes left the view as it was; a frame of exactly 128 MiB fits.
  EXPECT_EQ(context_.Find(h)->GetViewRect().width, 512);
  EXPECT_EQ(OneWay(T::SetSize, IPCSetSize{h, 8192, 4096, 1}), "");
  EXPECT_EQ(context_.Find(h)->GetViewRect().width, 8192);
}

TEST_F(Core, EveryHandlerMakesItsEngineCalls) {
  const std::int32_t h = Create();
  Pump();
  NewCalls();
  const struct {
    std::function<std::string()> send;
    std::vector<std::string> calls;
  } cases[] = {
      {[&] { return OneWay(T::SetSize, IPCSetSize{h, 512, 512, 1.25f}); }, {"browser1 NotifyScreenInfoChanged"}},
      {[&] { return OneWay(T::SetSize, IPCSetSize{h, 640, 360, 1.25f}); }, {"browser1 WasResized", "browser1 Invalidate"}},
      {[&] { return OneWay(T::SetSize, IPCSetSize{h, 640, 360, 1.25f}); }, {}},
      {[&] { return OneWay(T::SetZoom, IPCSetZoom{h, 2}); }, {"browser1 SetZoomLevel 2"}},
      {[&] { return OneWay(T::ExecuteJavascript, IPCExecuteJavascript{h, ""}); }, {"browser1 ExecuteJavaScript [] Host 0"}},
      {[&] { return OneWay(T::Navigate, IPCBrowserFlag{h, true}); }, {"browser1 GoForward"}},
      {[&] { return OneWay(T::Navigate, IPCBrowserFlag{h, false}); }, {}},  // nothing to go back to
      {[&] { return OneWay(T::GoToURL, IPCLoadContent{h, "https://b.test/", true}); },
       {"browser1 StopLoad", "browser1 LoadURL https://b.test/"}},
      {[&] { return OneWay(T::GoToHTML, IPCLoadContent{h, "\xfb\xff", false}); },
       {"browser1 StopLoad", "browser1 LoadURL data:text/html;base64,%2B%2F8%3D"}},
      {[&] { return OneWay(T::Reload, IPCBrowserFlag{h, true}); }, {"browser1 ReloadIgnoreCache"}},
      {[&] { return OneWay(T::Reload, IPCBrowserFlag{h, false}); }, {"browser1 Reload"}},
      {[&] { return OneWay(T::StopLoading, IPCBrowserRequest{h}); }, {"browser1 StopLoad"}},
      {[&] { return OneWay(T::ShowDevTools, IPCBrowserRequest{h}); }, {"browser1 ShowDevTools Inspector windowless=0"}},
      {[&] { return OneWay(T::ClearCookies, IPCBrowserRequest{h}); }, {"browser1 DeleteAllCookies"}},
      {[&] { return OneWay(T::SendMouseClickEvent, IPCMouseClickEvent{h, -5, 7, 2, true, 2, 0x46}); },
       {"browser1 MouseClick -5 7 70 2 up 2"}},
      {[&] { return OneWay(T::SendMouseWheelEvent, IPCMouseWheelEvent{h, 3, 4, 0, -120, 0}); },
       {"browser1 MouseWheel 3 4 0 -120"}},
      {[&] { return OneWay(T::SendMouseMoveEvent, IPCMouseMoveEvent{h, -1, 10, 0}); }, {"browser1 MouseMove -1 10 leave"}},
      {[&] { return OneWay(T::SendMouseMoveEvent, IPCMouseMoveEvent{h, 639, 359, 0}); },
       {"browser1 MouseMove 639 359 inside"}},
      {[&] { return OneWay(T::SendMouseMoveEvent, IPCMouseMoveEvent{h, 640, 0, 0}); }, {"browser1 MouseMove 640 0 leave"}},
      {[&] { return OneWay(T::SendKeyEvent, IPCKeyEvent{h, 0x41, 30, false, 4}); },
       {"browser1 Key type=0 mods=4 vk=65 native=30 sys=0 char=1 unmod=1 editable=1"}},
      {[&] { return OneWay(T::SendKeyEvent, IPCKeyEvent{h, 0x41, 30, true, 0}); },
       {"browser1 Key type=2 mods=0 vk=65 native=30 sys=0 char=1 unmod=1 editable=1"}},
      {[&] { return OneWay(T::SendCharacterEvent, IPCCharacterEvent{h, 0xe9, 0x45, 2}); },
       {"browser1 Key type=3 mods=2 vk=233 native=0 sys=0 char=233 unmod=69 editable=0"}},
      {[&] { return OneWay(T::SendFocusEvent, IPCBrowserFlag{h, true}); }, {"browser1 SetFocus 1"}},
      {[&] { return OneWay(T::SendFrameCommand, IPCBrowserValue{h, 6}); }, {"browser1 FrameCommand 6"}},
      {[&] { return OneWay(T::SendFrameCommand, IPCBrowserValue{h, 0}); }, {"browser1 FrameCommand 0"}},
      {[&] { return OneWay(T::SendFrameCommand, IPCBrowserValue{h, 7}); }, {}},
      {[&] { return OneWay(T::SendFrameCommand, IPCBrowserValue{h, -1}); }, {}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].send(), "") << i;
    EXPECT_EQ(NewCalls(), cases[i].calls) << i;
  }
  engine_.browsers[0]->cookies_deletable = false;
  EXPECT_EQ(OneWay(T::ClearCookies, IPCBrowserRequest{h}), "CLIENT ClearCookies: Failed to clear cookies\n");
}

TEST_F(Core, DestroyedBrowsersKeepTheirHandle) {
  const std::int32_t h = Create();
  Pump();
  EXPECT_EQ(OneWay(T::DestroyBrowser, IPCBrowserRequest{h}), "");
  EXPECT_TRUE(context_.Find(h)->skip_unload);
  const auto reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_TRUE(reply.browser_events[0] == (IPCEvent{h, 1, ""}));
  EXPECT_EQ(OneWay(T::Reload, IPCBrowserFlag{h, false}), "CLIENT Reload: Browser has not yet been created\n");
  EXPECT_EQ(OneWay(T::DestroyBrowser, IPCBrowserRequest{h}), "");  // already closed: nothing
  // The entry stays, but not its pixels: a closed browser brings nothing new.
  EXPECT_TRUE(context_.Find(h)->pixels.empty());
  const IPCRenderResponse frame = Render(h);
  EXPECT_FALSE(frame.updated);
  EXPECT_EQ(frame.width, 0);
}

TEST_F(Core, PaintsCollectAndRenderCopiesOnce) {
  const std::int32_t a = Create(), b = Create();
  Pump();
  auto* section = static_cast<std::uint8_t*>(context_.frame_buffer.view);
  std::memset(section, 0x5a, 1024);
  IPCRenderResponse r = Render(a);
  EXPECT_TRUE(r.updated);
  EXPECT_EQ(r.width, 512);
  EXPECT_EQ(r.height, 512);
  EXPECT_EQ(section[0], 0);  // 1,048,576 zero bytes before any paint
  r = Render(a);
  EXPECT_FALSE(r.updated);
  EXPECT_EQ(r.width, 0);

  // A paint of the same size copies only the dirty rectangles.
  std::vector<std::uint8_t> paint(512u * 512u * 4u, 0xee);
  context_.Find(a)->OnPaint({{2, 1, 3, 2}, {0, 0, 0, 0}}, paint.data(), 512, 512);
  section[0] = 0x11;
  r = Render(a);
  ASSERT_TRUE(r.updated);
  EXPECT_EQ(section[0], 0);                                  // outside the rectangle: the old zero
  EXPECT_EQ(section[(1 * 512 + 2) * 4], 0xee);               // first dirty pixel
  EXPECT_EQ(section[(2 * 512 + 4) * 4 + 3], 0xee);           // last dirty pixel
  EXPECT_EQ(section[(3 * 512 + 2) * 4], 0);                  // the row after
  // A new size replaces the whole buffer, whatever the rectangles say.
  std::vector<std::uint8_t> small(100u * 50u * 4u, 0x33);
  context_.Find(b)->OnPaint({{0, 0, 1, 1}}, small.data(), 100, 50);
  section[20000] = 0x77;  // what an earlier, larger frame left there
  r = Render(b);
  ASSERT_TRUE(r.updated);
  EXPECT_EQ(r.width, 100);
  EXPECT_EQ(r.height, 50);
  EXPECT_EQ(section[0], 0x33);
  EXPECT_EQ(section[19999], 0x33);
  EXPECT_EQ(section[20000], 0x77);  // from offset 20000 on: untouched

  // Cursor codes travel with every reply.
  context_.Find(a)->OnCursorChange(engine::CursorType::Hand);
  EXPECT_EQ(Render(a).cursor, 6);
  context_.Find(a)->OnCursorChange(engine::CursorType::Cross);
  EXPECT_EQ(Render(a).cursor, 0);
  r = Render(77);
  EXPECT_FALSE(r.updated);
}

TEST_F(Core, AFrameLargerThanTheSectionIsNeverCopied) {
  const std::int32_t h = Create();
  std::vector<std::uint8_t> big(1200u * 1000u * 4u, 0x42);  // 4.8 MB, the section holds 4 MiB
  context_.Find(h)->OnPaint({{0, 0, 1200, 1000}}, big.data(), 1200, 1000);
  testing::internal::CaptureStderr();
  const IPCRenderResponse r = Render(h);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "CLIENT Render: Frame of 1200x1000 does not fit the frame buffer\n");
  EXPECT_FALSE(r.updated);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.height, 0);
}

TEST_F(Core, PageEventsCarryTheirPayloads) {
  const std::int32_t h = Create();
  Pump();
  auto c = context_.Find(h);
  c->OnAddressChange(true, "https://a.test/x?q=\"1\"");
  c->OnAddressChange(false, "https://sub.test/");  // sub-frames are dropped
  c->OnTitleChange("T\xff");                       // not UTF-8: replaced, not passed on broken
  c->OnLoadingStateChange(true, false, true);
  c->OnLoadEnd(true, 200, "https://a.test/");
  c->OnLoadEnd(false, 404, "https://sub.test/");
  c->OnLoadError(true, -102, "http://127.0.0.1:9/");
  c->OnLoadError(false, -105, "https://sub.test/");
  c->OnRenderProcessTerminated();
  c->OnCertificateError();
  c->OnOpenURL("https://popup.test/");
  const auto reply = Pump();
  const std::vector<IPCEvent> expected = {
      {h, 2, R"({"url":"https://a.test/x?q=\"1\""})"},
      {h, 3, "{\"title\":\"T\xef\xbf\xbd\"}"},
      {h, 4, R"({"isLoading":true,"canGoBack":false,"canGoForward":true})"},
      {h, 5, R"({"status":200,"url":"https://a.test/"})"},
      {h, 10, R"({"error":-102,"url":"http://127.0.0.1:9/"})"},
      {h, 11, ""},
      {h, 12, ""},
      {h, 13, R"({"url":"https://popup.test/"})"},
  };
  ASSERT_EQ(reply.browser_events.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(reply.browser_events[i] == expected[i]) << i << ": " << reply.browser_events[i].data;
  }
}

// Answers the engine got, as text.
struct RecordingDialog : engine::DialogCallback {
  std::vector<std::string>* answers;
  explicit RecordingDialog(std::vector<std::string>* a) : answers(a) {}
  void Continue(bool success, const std::string& input) override {
    answers->push_back(std::string(success ? "ok " : "no ") + input);
  }
};
struct RecordingFileDialog : engine::FileDialogCallback {
  std::vector<std::string>* answers;
  explicit RecordingFileDialog(std::vector<std::string>* a) : answers(a) {}
  void Continue(const std::vector<std::string>& paths) override {
    std::string all = "files";
    for (const auto& p : paths) all += " " + p;
    answers->push_back(all);
  }
  void Cancel() override { answers->push_back("cancelled"); }
};

TEST_F(Core, DialogsWaitForTheHostAndFollowTheirRules) {
  const std::int32_t h = Create();
  Pump();
  auto c = context_.Find(h);
  std::vector<std::string> answers;
  auto dialog = [&] { return std::make_shared<RecordingDialog>(&answers); };

  bool suppress = false;
  EXPECT_TRUE(c->OnJSDialog(engine::JsDialogType::Prompt, "Name?", "Ann", dialog(), suppress));
  EXPECT_FALSE(suppress);
  // A second dialog while one is pending is dropped, with no event.
  EXPECT_FALSE(c->OnJSDialog(engine::JsDialogType::Alert, "again", "", dialog(), suppress));
  EXPECT_TRUE(suppress);
  // A before-unload while a dialog is pending stays on the page at once.
  EXPECT_TRUE(c->OnBeforeUnloadDialog("Leave?", false, dialog()));
  EXPECT_EQ(answers, std::vector<std::string>{"no "});
  auto reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_TRUE(reply.browser_events[0] ==
              (IPCEvent{h, 6, R"({"dialogType":2,"messageText":"Name?","defaultPromptText":"Ann"})"}));
  EXPECT_EQ(OneWay(T::SetDialogResult, IPCSetDialogResult{h, true, "Bob"}), "");
  EXPECT_EQ(answers.back(), "ok Bob");
  EXPECT_EQ(OneWay(T::SetDialogResult, IPCSetDialogResult{h, true, "again"}), "");  // nothing pending: nothing
  EXPECT_EQ(answers.size(), 2u);

  // Skip-unload answers the next before-unload with "leave", without the host.
  c->skip_unload = true;
  EXPECT_TRUE(c->OnBeforeUnloadDialog("Leave?", false, dialog()));
  EXPECT_EQ(answers.back(), "ok ");
  EXPECT_FALSE(c->skip_unload);
  EXPECT_TRUE(c->OnBeforeUnloadDialog("Leave?", true, dialog()));
  reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_TRUE(reply.browser_events[0] == (IPCEvent{h, 6, R"({"dialogType":3,"messageText":"Leave?","defaultPromptText":""})"}));
  // The engine gives the dialog up: event 7, and the answer goes nowhere.
  c->OnResetDialogState();
  EXPECT_EQ(OneWay(T::SetDialogResult, IPCSetDialogResult{h, true, ""}), "");
  EXPECT_EQ(answers.size(), 3u);
  EXPECT_EQ(Pump().browser_events.back().code, 7);

  // A newer file chooser cancels the older one; the answer goes to the newer.
  auto file = [&] { return std::make_shared<RecordingFileDialog>(&answers); };
  EXPECT_TRUE(c->OnFileDialog(engine::FileDialogMode::Open, "", {".png"}, {"PNG image"}, file()));
  EXPECT_TRUE(c->OnFileDialog(engine::FileDialogMode::OpenMultiple, "/home", {".png", ".jpg;.jpeg;.jpe"},
                              {"PNG image", ""}, file()));
  EXPECT_EQ(answers.back(), "cancelled");
  reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 2u);
  EXPECT_TRUE(reply.browser_events[1] ==
              (IPCEvent{h, 15, R"({"default_path":"/home","extensions":[".png",".jpg;.jpeg;.jpe"],"descriptions":["PNG image",""]})"}));
  EXPECT_EQ(OneWay(T::SetFileDialogResult, IPCSetFileDialogResult{h, {"/a.png", "/b.png"}}), "");
  EXPECT_EQ(answers.back(), "files /a.png /b.png");
  EXPECT_TRUE(c->OnFileDialog(engine::FileDialogMode::Save, "", {}, {}, file()));
  EXPECT_EQ(OneWay(T::SetFileDialogResult, IPCSetFileDialogResult{h, {}}), "");  // an empty list cancels
  EXPECT_EQ(answers.back(), "files");
  EXPECT_EQ(Pump().browser_events.back().code, 17);

  // Console lines and script messages go to their own queues.
  c->OnConsoleMessage("hello", "https://a.test/app.js", 12);
  c->OnScriptMessage(7, "hi");
  reply = Pump();
  ASSERT_EQ(reply.console_messages.size(), 1u);
  EXPECT_TRUE(reply.console_messages[0] == (IPCConsoleMessage{h, "hello", "https://a.test/app.js", 12}));
  ASSERT_EQ(reply.script_events.size(), 1u);
  EXPECT_TRUE(reply.script_events[0] == (IPCEvent{h, 7, "hi"}));
}

TEST_F(Core, AnswersNeedAnOpenBrowser) {
  const std::int32_t h = Create();
  EXPECT_EQ(OneWay(T::SetDialogResult, IPCSetDialogResult{h, true, ""}),
            "CLIENT SetDialogResult: Browser has not yet been created\n");
  EXPECT_EQ(OneWay(T::SetFileDialogResult, IPCSetFileDialogResult{9, {}}),
            "CLIENT SetFileDialogResult: Invalid browser handle 9\n");
  Pump();
  std::vector<std::string> answers;
  bool suppress = false;
  context_.Find(h)->OnJSDialog(engine::JsDialogType::Alert, "x", "", std::make_shared<RecordingDialog>(&answers),
                               suppress);
  OneWay(T::DestroyBrowser, IPCBrowserRequest{h});
  Pump();  // closed: the pending dialog is dropped unanswered
  EXPECT_EQ(OneWay(T::SetDialogResult, IPCSetDialogResult{h, true, ""}),
            "CLIENT SetDialogResult: Browser has not yet been created\n");
  EXPECT_TRUE(answers.empty());
}

struct RecordingMenu : engine::ContextMenuCallback {
  std::vector<std::string>* answers;
  explicit RecordingMenu(std::vector<std::string>* a) : answers(a) {}
  void Continue(int id, std::uint32_t flags) override {
    answers->push_back("command " + std::to_string(id) + " flags " + std::to_string(flags));
  }
  void Cancel() override { answers->push_back("cancelled"); }
};

TEST(ContextMenuModel, OriginTakesEditableThenSelectionThenImage) {
  struct Case {
    bool editable;
    std::uint32_t flags;
    int media;
    int origin;
  } cases[] = {
      {false, 0, 0, 3},                                  // page text
      {true, 0, 0, 0},                                   // text field
      {false, engine::kMenuTypeSelection, 0, 1},         // selection
      {false, 0, engine::kMenuMediaImage, 2},            // image
      {true, engine::kMenuTypeSelection, 0, 0},          // selected text in a field
      {false, engine::kMenuTypeSelection | 2, 1, 1},     // selected image: selection first
      {false, 15, 2, 3},                                 // link, frame, video: other
  };
  for (const Case& c : cases) {
    engine::ContextMenuParams p;
    p.is_editable = c.editable;
    p.type_flags = c.flags;
    p.media_type = c.media;
    EXPECT_EQ(ContextMenuOrigin(p), c.origin) << c.editable << " " << c.flags << " " << c.media;
  }
}

TEST(ContextMenuModel, AcceleratorText) {
  struct Case {
    int key;
    bool shift, ctrl, alt;
    const char* text;
  } cases[] = {
      {67, false, true, false, "ctrl+C"},
      {65, true, true, true, "alt+ctrl+shift+A"},
      {90, true, false, true, "alt+shift+Z"},
      {0x174, false, false, false, "t"},  // the low byte only
      {49, false, false, false, "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(AcceleratorText(c.key, c.shift, c.ctrl, c.alt), c.text);
}

TEST(ContextMenuModel, SerialiserKeepsTheModelAndItsOrder) {
  using engine::MenuItem;
  using engine::MenuItemType;
  MenuItem back{MenuItemType::Command, "Back", 0, true, false, false, 100, true, 37, false, false, true, {}};
  MenuItem separator{MenuItemType::Separator, "", 4, false, true, false, -1, false, 0, false, false, false, {}};
  MenuItem check{MenuItemType::Check, "Spelling", 2, true, true, true, 10000, true, 83, true, true, true, {}};
  MenuItem radio{MenuItemType::Radio, "UTF-8", 7, true, true, true, 10001, false, 0, false, false, false, {}};
  MenuItem none{MenuItemType::None, "hidden", 0, true, true, false, 5, false, 0, false, false, false, {}};
  MenuItem unknown{static_cast<MenuItemType>(99), "odd", 0, true, true, false, 6, false, 0, false, false, false, {}};
  MenuItem inner{MenuItemType::Submenu, "Deeper", 0, true, true, false, 12, false, 0, false, false, false, {radio}};
  MenuItem outer{MenuItemType::Submenu, "Encoding", 0, true, true, false, 11, false, 0, false, false, false,
                 {radio, none, inner}};
  const auto json = SerializeMenu({back, none, separator, check, unknown, outer}).dump();
  const std::string radio_json =
      R"({"type":"Radio","submenu":null,"label":"UTF-8","group":7,"visible":true,"isEnabled":true,"isChecked":true,"commandId":10001,"hotkey":null})";
  EXPECT_EQ(json,
            "["
            R"({"type":"Command","submenu":null,"label":"Back","group":0,"visible":true,"isEnabled":false,"isChecked":false,"commandId":100,"hotkey":"alt+%"},)"
            R"({"type":"Separator","submenu":null,"label":"","group":4,"visible":false,"isEnabled":true,"isChecked":false,"commandId":-1,"hotkey":null},)"
            R"({"type":"Check","submenu":null,"label":"Spelling","group":2,"visible":true,"isEnabled":true,"isChecked":true,"commandId":10000,"hotkey":"alt+ctrl+shift+S"},)"
            R"({"type":"Submenu","submenu":[)" +
                radio_json +
                R"(,{"type":"Submenu","submenu":[)" + radio_json +
                R"(],"label":"Deeper","group":0,"visible":true,"isEnabled":true,"isChecked":false,"commandId":12,"hotkey":null}],"label":"Encoding","group":0,"visible":true,"isEnabled":true,"isChecked":false,"commandId":11,"hotkey":null})"
                "]");
  EXPECT_EQ(SerializeMenu({}).dump(), "[]");
}

TEST_F(Core, ContextMenusWaitForTheHostOneAtATime) {
  const std::int32_t h = Create();
  Pump();
  auto c = context_.Find(h);
  std::vector<std::string> answers;
  auto menu = [&] { return std::make_shared<RecordingMenu>(&answers); };
  engine::ContextMenuParams params;
  params.x = 40;
  params.y = 17;
  params.is_editable = true;
  const std::vector<engine::MenuItem> model{
      {engine::MenuItemType::Command, "Select All", 0, true, true, false, 18, false, 0, false, false, false, {}}};

  EXPECT_TRUE(c->RunContextMenu(params, model, menu()));
  // A second menu while one is pending is cancelled at once, with no event.
  EXPECT_TRUE(c->RunContextMenu(params, model, menu()));
  EXPECT_EQ(answers, std::vector<std::string>{"cancelled"});
  auto reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_EQ(reply.browser_events[0].code, 8);
  EXPECT_EQ(reply.browser_events[0].data,
            R"({"menu":[{"type":"Command","submenu":null,"label":"Select All","group":0,"visible":true,"isEnabled":true,"isChecked":false,"commandId":18,"hotkey":null}],"x":40,"y":17,"origin":0})");

  // The answer goes to the engine unchanged, with no event flags, once.
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{h, 18}), "");
  EXPECT_EQ(answers.back(), "command 18 flags 0");
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{h, 18}), "");
  EXPECT_EQ(answers.size(), 2u);
  c->OnContextMenuDismissed();
  reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 1u);
  EXPECT_TRUE(reply.browser_events[0] == (IPCEvent{h, 9, ""}));

  // A menu given up by the engine: event 9, and a late answer does nothing.
  EXPECT_TRUE(c->RunContextMenu(params, model, menu()));
  c->OnContextMenuDismissed();
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{h, 7}), "");
  EXPECT_EQ(answers.size(), 2u);
  reply = Pump();
  ASSERT_EQ(reply.browser_events.size(), 2u);
  EXPECT_EQ(reply.browser_events[1].code, 9);

  // Any id is passed on, even one the menu does not have.
  EXPECT_TRUE(c->RunContextMenu(params, model, menu()));
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{h, -5}), "");
  EXPECT_EQ(answers.back(), "command -5 flags 0");

  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{42, 1}),
            "CLIENT SetContextMenuResult: Invalid browser handle 42\n");
  EXPECT_TRUE(c->RunContextMenu(params, model, menu()));
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserRequest{h}),
            "CLIENT SetContextMenuResult: Failed to unpack message: tried to dereference out of range during "
            "deserialization\n");
  EXPECT_EQ(answers.size(), 3u);  // still pending

  // A closed browser drops its pending menu unanswered.
  OneWay(T::DestroyBrowser, IPCBrowserRequest{h});
  Pump();
  EXPECT_EQ(OneWay(T::SetContextMenuResult, IPCBrowserValue{h, 18}),
            "CLIENT SetContextMenuResult: Browser has not yet been created\n");
  EXPECT_EQ(answers.size(), 3u);
}

TEST_F(Core, RepliesThatWouldOutgrowAFrameLeaveTheRestQueued) {
  for (int i = 0; i < 5; ++i) context_.queues.browser_events.push_back({1, i, std::string(100, 'x')});
  context_.queues.script_events.push_back({1, 9, "s"});
  // Room for two 120-byte events, the small script event and the headers.
  auto reply = HandleProcessEvents(context_, ipc::Encode(IPCProcessEvents{0}), 15 + 2 * 120 + 30);
  ASSERT_EQ(reply.browser_events.size(), 2u);
  EXPECT_EQ(reply.browser_events[0].code, 0);
  EXPECT_EQ(reply.browser_events[1].code, 1);
  EXPECT_EQ(reply.script_events.size(), 1u);
  EXPECT_LE(ipc::Encode(reply).size(), 15u + 2 * 120 + 30);
  reply = Pump();  // the rest, in order
  ASSERT_EQ(reply.browser_events.size(), 3u);
  EXPECT_EQ(reply.browser_events[0].code, 2);
  EXPECT_EQ(reply.browser_events[2].code, 4);
  EXPECT_TRUE(context_.queues.browser_events.empty());
}

TEST_F(Core, CursorTable) {
  using C = engine::CursorType;
  const std::pair<C, int> table[] = {
      {C::Pointer, 0}, {C::Cross, 0}, {C::Wait, 0}, {C::Move, 1},
      {C::NorthWestResize, 2}, {C::SouthEastResize, 2}, {C::NorthWestSouthEastResize, 2},
      {C::NorthEastResize, 3}, {C::SouthWestResize, 3}, {C::NorthEastSouthWestResize, 3},
      {C::EastResize, 4}, {C::WestResize, 4}, {C::EastWestResize, 4},
      {C::NorthResize, 5}, {C::SouthResize, 5}, {C::NorthSouthResize, 5},
      {C::Hand, 6}, {C::IBeam, 7}, {C::Other, 0},
  };
  for (const auto& [type, code] : table) EXPECT_EQ(CursorCode(type), code) << static_cast<int>(type);
}

TEST_F(Core, ProcessEventsThatDoesNotDecodeKeepsTheQueues) {
  Create();
  Pump();  // event 0 delivered
  context_.queues.browser_events.push_back({1, 3, "{}"});
  testing::internal::CaptureStderr();
  const auto reply = HandleProcessEvents(context_, Bytes{});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("CLIENT ProcessEvents: Failed to unpack message: "),
            std::string::npos);
  EXPECT_TRUE(reply.browser_events.empty());
  EXPECT_EQ(context_.queues.browser_events.size(), 1u);
  const int passes = engine_.passes;
  EXPECT_EQ(Pump().browser_events.size(), 1u);
  EXPECT_EQ(engine_.passes, passes + 1);
  EXPECT_TRUE(context_.queues.browser_events.empty());
}

TEST(EngineSettings, FromTheStartMessage) {
  IPCInitialize init{false, "s", "/bin/bp", "res", "fw", "bundle", "log.txt", "", "UA"};
  ProcessSettings s = BuildEngineSettings(init);
  EXPECT_TRUE(s.no_sandbox);
  EXPECT_TRUE(s.external_message_pump);
  EXPECT_TRUE(s.windowless_rendering_enabled);
  EXPECT_FALSE(s.multi_threaded_message_loop);
  EXPECT_EQ(s.remote_debugging_port, 0);
  EXPECT_EQ(s.log_severity, engine::LogSeverity::Default);
  EXPECT_EQ(s.cache_path, "");
  EXPECT_EQ(s.root_cache_path, "");
  EXPECT_EQ(s.browser_subprocess_path, "/bin/bp");
  EXPECT_EQ(s.user_agent, "UA");
  EXPECT_EQ(s.background_color, 0xFF000000u);
  init.debug = true;
  init.cache_path = "/tmp/c";
  s = BuildEngineSettings(init);
  EXPECT_EQ(s.remote_debugging_port, 9222);
  EXPECT_EQ(s.log_severity, engine::LogSeverity::Verbose);
  EXPECT_EQ(s.root_cache_path, "/tmp/c");
  const PageSettings page = PageBrowserSettings();
  EXPECT_EQ(page.windowless_frame_rate, 60);
  EXPECT_FALSE(page.scripts_may_close_windows);
  EXPECT_EQ(page.background_color, 0xFF000000u);
  EXPECT_EQ(DevToolsWindow().style, 0x16CF0000u);
}

TEST(Entry, ModeChoice) {
  const struct {
    std::string command_line;
    int status;
    std::string first_line;
  } cases[] = {
      {"", -1, ""},
      {"--main-browser-process", -1, ""},
      {"/usr/bin/browser_process --main-browser-process=5", -1, ""},
      {" --main-browser-process=5", -1, ""},
      {"--main-browser-process=", 0, "CLIENT: Starting\nCLIENT: Invalid channel argument: \"\"\nCLIENT: Quitting\n"},
      {"--main-browser-process=abc", 0, "CLIENT: Starting\nCLIENT: Invalid channel argument: \"abc\"\nCLIENT: Quitting\n"},
  };
  for (const auto& c : cases) {
    bool made = false;
    testing::internal::CaptureStderr();
    const int status = RunBrowserProcess(c.command_line, [&] {
      made = true;
      return std::make_unique<ScriptedEngine>();
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.first_line) << c.command_line;
    EXPECT_EQ(status, c.status) << c.command_line;
    EXPECT_FALSE(made) << c.command_line;  // neither engine, pipe nor section touched
  }
}

// ---- the request loop over a real socket pair --------------------------------

class Loop : public testing::Test {
 protected:
  void SetUp() override { NewHost(); }
  // A fresh channel; the loop gets its own copy of the child's end, as a
  // started browser_process would.
  void NewHost() {
    std::string peer;
    host_ = PipeChannel::Create(peer);
    ASSERT_TRUE(host_);
    handle_text_ = std::to_string(dup(static_cast<int>(host_->peer_end())));
    host_->ReleasePeerEnd();
  }
  void TearDown() override { section_.Release(); }

  // Runs the loop on its own thread with `engine` until it returns, feeding it
  // through `drive`; returns what the loop wrote on standard error.
  std::string Serve(ScriptedEngine& engine, const std::function<void(PipeChannel&)>& drive) {
    testing::internal::CaptureStderr();
    std::thread loop([&] {
      ClientContext context;
      ClientContext::SetCurrent(&context);
      RunRequestLoop(context, handle_text_, engine);
      context.registry.clear();
      context.frame_buffer.Release();
      context.channel.reset();
      ClientContext::SetCurrent(nullptr);
    });
    drive(*host_);
    host_.reset();  // the host goes away
    loop.join();
    return testing::internal::GetCapturedStderr();
  }

 public:
  // Each start gets a fresh section, as each Initialize does: the loop
  // removes the name once it has mapped it.
  void Start(PipeChannel& host) {
    section_.Release();
    section_ = SharedMemory::Create(SectionName().c_str(), kFrameBufferSize);
    ASSERT_EQ(section_.error, 0);
    IPCInitialize init;
    init.section_name = *section_.name;
    ASSERT_TRUE(host.Send(0, ipc::Encode(init)));
  }

 protected:
  template <typename R>
  R Ask(PipeChannel& host, T type, const Bytes& payload) {
    EXPECT_TRUE(host.Send(static_cast<std::uint32_t>(type), payload));
    std::uint32_t got = 99;
    Bytes reply;
    EXPECT_TRUE(host.Receive(got, reply));
    EXPECT_EQ(got, static_cast<std::uint32_t>(type));
    R record;
    EXPECT_FALSE(ipc::Decode(reply, record));
    return record;
  }

  SharedMemory section_;
  std::string handle_text_;
  std::unique_ptr<PipeChannel> host_;
};

TEST_F(Loop, StartUpFailures) {
  const struct {
    const char* what;
    std::function<void(PipeChannel&, Loop&)> drive;
    bool engine_starts;
    std::string last_line;
  } cases[] = {
      {"host closes at once", [](PipeChannel&, Loop&) {}, true, "CLIENT: Failed to receive initialize message\n"},
      {"first message not Initialize",
       [](PipeChannel& h, Loop&) { h.Send(3, ipc::Encode(IPCProcessEvents{0})); }, true,
       "CLIENT: Expected initialize as first message\n"},
      {"Initialize cut short", [](PipeChannel& h, Loop&) { h.Send(0, Bytes{0xc3, 0xa9}); }, true,
       "CLIENT: Failed to unpack IPCInitialize: tried to dereference out of range during deserialization\n"},
      {"no such section",
       [](PipeChannel& h, Loop&) {
         IPCInitialize init;
         init.section_name = "TEVBrowserIPC_000000_missing";
         h.Send(0, ipc::Encode(init));
       },
       true, "CLIENT: Failed to shared memory: 13\n"},
      {"engine refuses", [](PipeChannel& h, Loop& self) { self.Start(h); }, false, "CLIENT: Failed to initialize CEF\n"},
  };
  for (const auto& c : cases) {
    NewHost();
    ScriptedEngine engine;
    engine.initialize_result = c.engine_starts;
    const std::string err = Serve(engine, [&](PipeChannel& h) { c.drive(h, *this); });
    EXPECT_EQ(err.substr(err.rfind("CLIENT:")), c.last_line) << c.what;
    EXPECT_EQ(err.rfind("CLIENT: Connecting to IPC: " + handle_text_ + "\n", 0), 0u) << c.what;
  }
}

TEST_F(Loop, ServesRepliesEvenForBadRequestsAndEndsWhenTheHostGoes) {
  ScriptedEngine engine;
  const std::string err = Serve(engine, [&](PipeChannel& h) {
    Start(h);
    EXPECT_EQ(Ask<IPCCreateBrowserResponse>(h, T::CreateBrowser, ipc::Encode(IPCCreateBrowser{"about:blank"})).handle, 1);
    EXPECT_EQ(Ask<IPCCreateBrowserResponse>(h, T::CreateBrowser, Bytes{}).handle, 0);
    const auto events = Ask<IPCProcessEventsResponse>(h, T::ProcessEvents, ipc::Encode(IPCProcessEvents{0}));
    ASSERT_EQ(events.browser_events.size(), 1u);
    EXPECT_TRUE(Ask<IPCProcessEventsResponse>(h, T::ProcessEvents, Bytes{}).browser_events.empty());
    EXPECT_TRUE(Ask<IPCRenderResponse>(h, T::Render, Bytes{}) == (IPCRenderResponse{false, 0, 0, 0}));
    const auto frame = Ask<IPCRenderResponse>(h, T::Render, ipc::Encode(IPCBrowserRequest{1}));
    EXPECT_TRUE(frame == (IPCRenderResponse{true, 512, 512, 0}));
    // Mapped on both sides, the section has no name left to leave behind.
    SharedMemory again = SharedMemory::Open(section_.name->c_str(), kFrameBufferSize);
    EXPECT_EQ(again.error, kSharedMemoryOpenFailed);
  });
  EXPECT_NE(err.find("CLIENT: Initialize\n"), std::string::npos);
  EXPECT_EQ(err.substr(err.rfind("CLIENT:")), "CLIENT: Failed to receive message\n");
  EXPECT_EQ(err.find("CLIENT: Shutdown"), std::string::npos);
  EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "Shutdown"), 0);
}

TEST_F(Loop, AnUnknownTypeShutsDownAfterClosingEveryBrowser) {
  for (bool keep_open : {false, true}) {
    NewHost();
    ScriptedEngine engine;
    engine.keep_open = keep_open;
    const std::string err = Serve(engine, [&](PipeChannel& h) {
      Start(h);
      Ask<IPCCreateBrowserResponse>(h, T::CreateBrowser, ipc::Encode(IPCCreateBrowser{""}));
      Ask<IPCCreateBrowserResponse>(h, T::CreateBrowser, ipc::Encode(IPCCreateBrowser{""}));
      Ask<IPCProcessEventsResponse>(h, T::ProcessEvents, ipc::Encode(IPCProcessEvents{0}));
      h.Send(0, ipc::Encode(IPCInitialize{}));  // a second Initialize is an unknown type
      std::uint32_t type;
      Bytes payload;
      EXPECT_FALSE(h.Receive(type, payload));  // the loop ends without answering
    });
    EXPECT_NE(err.find("CLIENT: Unknown message type: 0\nCLIENT: Shutdown\n"), std::string::npos) << keep_open;
    EXPECT_EQ(std::count(engine.calls.begin(), engine.calls.end(), "Shutdown"), 1) << keep_open;
    EXPECT_EQ(std::count_if(engine.calls.begin(), engine.calls.end(),
                            [](const std::string& c) { return c.find("CloseBrowser force") != std::string::npos; }),
              2)
        << keep_open;
    // Browsers that never report closing are given up after a bounded drain.
    EXPECT_EQ(err.find("did not close") != std::string::npos, keep_open);
  }
}

TEST_F(Loop, ShutdownWithNoBrowsersStopsTheEngineAtOnce) {
  ScriptedEngine engine;
  Serve(engine, [&](PipeChannel& h) {
    Start(h);
    h.Send(99, Bytes{});
    std::uint32_t type;
    Bytes payload;
    EXPECT_FALSE(h.Receive(type, payload));
  });
  EXPECT_EQ(engine.calls, (std::vector<std::string>{"Initialize", "Shutdown"}));
}

}  // namespace
