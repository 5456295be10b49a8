// libTEVBrowser.so driven as an application drives it, against a scripted
// browser process started by the real TEVBrowser_Initialize.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "TEVBrowser.h"
#include "child_process.h"
#include "ipc/messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
  std::uint32_t type;
  Bytes payload;
};

std::string PeerPath() { return tev_test::BinaryDir() + "/scripted_browser_process"; }

bool Start(const char* mode = nullptr) {
  if (mode) {
    setenv("TEV_PEER_MODE", mode, 1);
  } else {
    unsetenv("TEV_PEER_MODE");
  }
  return TEVBrowser_Initialize(PeerPath().c_str(), "res", "fw", "bundle", "log", "cache", nullptr, "UA", false);
}

using tev_test::Children;

// Waits until none of our children is running any more (zombies may remain).
void WaitForChildrenToEnd() {
  for (int i = 0; i < 200; ++i) {
    bool running = false;
    for (const auto& [pid, state] : Children()) running |= state != 'Z';
    if (!running) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class HostLibrary : public testing::Test {
 protected:
  void SetUp() override {
    log_path_ = std::filesystem::temp_directory_path() / ("tev_peer_" + std::to_string(getpid()) + "_" +
                                                         testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove(log_path_);
    setenv("TEV_PEER_LOG", log_path_.c_str(), 1);
  }
  void TearDown() override {
    TEVBrowser_Shutdown();
    std::filesystem::remove(log_path_);
  }

  // The frames the peer has received so far; a round trip first makes sure
  // everything sent before it has been logged.
  std::vector<Frame> Received(bool sync = true) {
    if (sync) TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    std::vector<Frame> frames;
    std::ifstream in(log_path_);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("pid ", 0) == 0) continue;
      Frame f;
      const auto space = line.find(' ');
      f.type = static_cast<std::uint32_t>(std::stoul(line.substr(0, space)));
      const std::string hex = line.substr(space + 1);
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) f.payload.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
      frames.push_back(f);
    }
    return frames;
  }

  std::string PeerHeader() {
    std::ifstream in(log_path_);
    std::string line;
    std::getline(in, line);
    return line;
  }

  std::string log_path_;
};

TEST_F(HostLibrary, InitializeSendsTheStartRecordAndTheCommandLine) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const char* dangling = reinterpret_cast<const char*>(0x10);  // argument 7 is never read
  ASSERT_TRUE(TEVBrowser_Initialize(PeerPath().c_str(), "res", nullptr, "bundle", "log.txt", "cache", dangling,
                                    nullptr, true));
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TEVBrowser_ConnectionValid());

  const auto frames = Received();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[0].type, 0u);
  IPCInitialize init;
  ASSERT_FALSE(ipc::Decode(frames[0].payload, init));
  EXPECT_TRUE(init.debug);
  EXPECT_TRUE(std::regex_match(init.section_name, std::regex("TEVBrowserIPC_[1-9][0-9]{5}"))) << init.section_name;
  EXPECT_EQ(init.browser_subprocess_path, PeerPath());
  EXPECT_EQ(init.resources_dir_path, "res");
  EXPECT_EQ(init.framework_dir_path, "");
  EXPECT_EQ(init.main_bundle_path, "bundle");
  EXPECT_EQ(init.log_file, "log.txt");
  EXPECT_EQ(init.cache_path, "cache");
  EXPECT_EQ(init.user_agent, "");
  EXPECT_EQ(frames[1].type, 3u);  // our synchronising ProcessEvents

  EXPECT_EQ(out, "HOST: Creating shared memory: " + init.section_name + "\n");
  std::smatch digits;
  ASSERT_TRUE(std::regex_match(err, digits, std::regex("HOST: IPC connection: ([0-9]+)\n"))) << err;
  // The child's whole command line is the prefix and the handle digits.
  EXPECT_EQ(PeerHeader().substr(PeerHeader().find(" argc")),
            " argc 1 argv0 --main-browser-process=" + digits[1].str());
  EXPECT_TRUE(std::filesystem::exists("/dev/shm/" + init.section_name));
  TEVBrowser_Shutdown();
  EXPECT_FALSE(std::filesystem::exists("/dev/shm/" + init.section_name));
}

TEST_F(HostLibrary, LifecycleEdges) {
  // Shutdown without Initialize, and twice, does nothing.
  TEVBrowser_Shutdown();
  TEVBrowser_Shutdown();
  EXPECT_FALSE(TEVBrowser_ConnectionValid());

  // A program that does not exist.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(TEVBrowser_Initialize("/nonexistent/browser_process", "", "", "", "", "", nullptr, "", false));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("HOST: Failed to start browser process: 2\n"),
            std::string::npos);
  EXPECT_FALSE(TEVBrowser_ConnectionValid());
  EXPECT_EQ(TEVBrowser_CreateBrowser("about:blank"), 0);

  // A path that is not UTF-8 is passed on as bytes: it simply does not exist.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(TEVBrowser_Initialize("/nonexistent/\xff\xfe", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, false));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("HOST: Failed to start browser process: 2\n"),
            std::string::npos);

  // A second Initialize keeps the first link untouched.
  ASSERT_TRUE(Start());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Start());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("HOST: "), std::string::npos);
  EXPECT_TRUE(TEVBrowser_ConnectionValid());
  EXPECT_EQ(TEVBrowser_CreateBrowser(nullptr), 1);
  const auto frames = Received();
  ASSERT_EQ(frames.size(), 3u);  // one Initialize: the refused call started nothing
  IPCCreateBrowser create;
  ASSERT_FALSE(ipc::Decode(frames[1].payload, create));
  EXPECT_EQ(create.url, "");
}

TEST_F(HostLibrary, NothingIsSentWithoutAState) {
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(TEVBrowser_CreateBrowser("about:blank"), 0);
  TEVBrowser_SetSize(1, 2, 3, 1.0f);
  TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
  bool updated = true;
  int32_t width = 7, height = 8, cursor = 9;
  void* buffer = &width;
  EXPECT_FALSE(TEVBrowser_Render(1, &updated, &width, &height, &buffer, &cursor));
  EXPECT_TRUE(updated);
  EXPECT_EQ(width, 7);
  EXPECT_EQ(height, 8);
  EXPECT_EQ(cursor, 9);
  EXPECT_EQ(buffer, &width);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(HostLibrary, EveryOneWayExportSendsExactlyItsRecord) {
  ASSERT_TRUE(Start());
  const char* two_paths[] = {"/tmp/a b.png", nullptr};
  const struct {
    const char* what;
    std::function<void()> call;
    IPCMessageType type;
    Bytes payload;
  } cases[] = {
      {"DestroyBrowser", [] { TEVBrowser_DestroyBrowser(3); }, IPCMessageType::DestroyBrowser,
       ipc::Encode(IPCBrowserRequest{3})},
      {"SetSize", [] { TEVBrowser_SetSize(1, 800, 600, 1.5f); }, IPCMessageType::SetSize,
       ipc::Encode(IPCSetSize{1, 800, 600, 1.5f})},
      {"SetZoom frame", [] { TEVBrowser_SetZoom(1, 1.5f); }, IPCMessageType::SetZoom, {0x01, 0xca, 0x3f, 0xc0, 0x00, 0x00}},
      {"ExecuteJavascript with null code", [] { TEVBrowser_ExecuteJavascript(2, nullptr); },
       IPCMessageType::ExecuteJavascript, {0x02, 0xa0}},
      {"Navigate", [] { TEVBrowser_Navigate(1, true); }, IPCMessageType::Navigate, {0x01, 0xc3}},
      {"GoToURL", [] { TEVBrowser_GoToURL(1, "https://x.test/", true); }, IPCMessageType::GoToURL,
       ipc::Encode(IPCLoadContent{1, "https://x.test/", true})},
      {"GoToHTML", [] { TEVBrowser_GoToHTML(1, "<p>hi</p>", false); }, IPCMessageType::GoToHTML,
       ipc::Encode(IPCLoadContent{1, "<p>hi</p>", false})},
      {"Reload", [] { TEVBrowser_Reload(1, false); }, IPCMessageType::Reload, {0x01, 0xc2}},
      {"StopLoading", [] { TEVBrowser_StopLoading(4); }, IPCMessageType::StopLoading, {0x04}},
      {"ShowDevTools", [] { TEVBrowser_ShowDevTools(5); }, IPCMessageType::ShowDevTools, {0x05}},
      {"ClearCookies", [] { TEVBrowser_ClearCookies(6); }, IPCMessageType::ClearCookies, {0x06}},
      {"SetDialogResult with null input", [] { TEVBrowser_SetDialogResult(1, true, nullptr); },
       IPCMessageType::SetDialogResult, {0x01, 0xc3, 0xa0}},
      {"SetContextMenuResult", [] { TEVBrowser_SetContextMenuResult(1, 26500); },
       IPCMessageType::SetContextMenuResult, ipc::Encode(IPCBrowserValue{1, 26500})},
      {"SetFileDialogResult, none", [] { TEVBrowser_SetFileDialogResult(1, 0, nullptr); },
       IPCMessageType::SetFileDialogResult, {0x01, 0x90}},
      {"SetFileDialogResult, negative count", [] { TEVBrowser_SetFileDialogResult(1, -3, nullptr); },
       IPCMessageType::SetFileDialogResult, {0x01, 0x90}},
      {"SetFileDialogResult, two with a null", [&] { TEVBrowser_SetFileDialogResult(1, 2, two_paths); },
       IPCMessageType::SetFileDialogResult, ipc::Encode(IPCSetFileDialogResult{1, {"/tmp/a b.png", ""}})},
      {"SendMouseClickEvent", [] { TEVBrowser_SendMouseClickEvent(1, -5, 7, 2, true, 2, 0x1046); },
       IPCMessageType::SendMouseClickEvent, ipc::Encode(IPCMouseClickEvent{1, -5, 7, 2, true, 2, 0x1046})},
      {"SendMouseWheelEvent", [] { TEVBrowser_SendMouseWheelEvent(1, 10, 20, 0, -120, 4); },
       IPCMessageType::SendMouseWheelEvent, ipc::Encode(IPCMouseWheelEvent{1, 10, 20, 0, -120, 4})},
      {"SendMouseMoveEvent outside", [] { TEVBrowser_SendMouseMoveEvent(1, -5, -1, 0); },
       IPCMessageType::SendMouseMoveEvent, {0x01, 0xfb, 0xff, 0x00}},
      {"SendKeyEvent", [] { TEVBrowser_SendKeyEvent(1, 0x41, 38, true, 2); }, IPCMessageType::SendKeyEvent,
       ipc::Encode(IPCKeyEvent{1, 0x41, 38, true, 2})},
      {"SendCharacterEvent", [] { TEVBrowser_SendCharacterEvent(1, 0x20ac, 0x65, 0); },
       IPCMessageType::SendCharacterEvent, ipc::Encode(IPCCharacterEvent{1, 0x20ac, 0x65, 0})},
      {"SendFocusEvent", [] { TEVBrowser_SendFocusEvent(1, false); }, IPCMessageType::SendFocusEvent, {0x01, 0xc2}},
      {"SendFrameCommand", [] { TEVBrowser_SendFrameCommand(1, 6); }, IPCMessageType::SendFrameCommand,
       {0x01, 0x06}},
  };
  for (const auto& c : cases) c.call();
  const auto frames = Received();
  ASSERT_EQ(frames.size(), 1 + std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(frames[i + 1].type, static_cast<std::uint32_t>(cases[i].type)) << cases[i].what;
    EXPECT_EQ(frames[i + 1].payload, cases[i].payload) << cases[i].what;
  }
}

TEST_F(HostLibrary, CreateBrowserReturnsTheHandleOrFailsOnAWrongReply) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(TEVBrowser_CreateBrowser("https://one.test/"), 1);
  EXPECT_EQ(TEVBrowser_CreateBrowser("https://two.test/"), 2);
  TEVBrowser_Shutdown();

  ASSERT_TRUE(Start("wrong-id"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(TEVBrowser_CreateBrowser("https://one.test/"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "HOST: Expected IPC message 1, got 4\nHOST: Failed to receive CreateBrowser response\n");
  EXPECT_FALSE(TEVBrowser_ConnectionValid());
  // The link stays usable, the flag stays false.
  TEVBrowser_SetSize(1, 10, 10, 1.0f);
  EXPECT_EQ(Received().back().type, 3u);
  EXPECT_FALSE(TEVBrowser_ConnectionValid());
}

std::vector<std::string> g_calls;

TEST_F(HostLibrary, ProcessEventsCallsConsoleThenEventThenScriptInListOrder) {
  ASSERT_TRUE(Start("events"));
  g_calls.clear();
  auto console = [](int32_t h, const char* m, const char* s, int32_t line) {
    g_calls.push_back("console " + std::to_string(h) + " " + m + " " + s + " " + std::to_string(line));
  };
  auto event = [](int32_t h, int32_t code, const char* data) {
    g_calls.push_back("event " + std::to_string(h) + " " + std::to_string(code) + " " + data);
    if (code == 6) TEVBrowser_SetDialogResult(h, true, "answer from a callback");
  };
  auto script = [](int32_t h, int32_t code, const char* data) {
    g_calls.push_back("script " + std::to_string(h) + " " + std::to_string(code) + " " + data);
  };
  TEVBrowser_ProcessEvents(console, event, script);
  const std::vector<std::string> expected = {
      "console 1 first line https://a.test/one.js 10",
      "console 2 second line  20",
      "event 1 0 ",
      "event 2 3 {\"title\":\"Two\"}",
      "event 1 6 {\"dialogType\":0,\"messageText\":\"hi\",\"defaultPromptText\":\"\"}",
      "script 2 7 hi",
      "script 1 -1 ",
  };
  EXPECT_EQ(g_calls, expected);

  // Null callbacks are skipped; the others still run.
  g_calls.clear();
  TEVBrowser_ProcessEvents(nullptr, nullptr, script);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"script 2 7 hi", "script 1 -1 "}));

  // The request made inside the callback reached the peer, in order.
  const auto frames = Received();
  ASSERT_GE(frames.size(), 4u);
  EXPECT_EQ(frames[2].type, static_cast<std::uint32_t>(IPCMessageType::SetDialogResult));
  IPCSetDialogResult answer;
  ASSERT_FALSE(ipc::Decode(frames[2].payload, answer));
  EXPECT_EQ(answer.user_input, "answer from a callback");
  EXPECT_TRUE(TEVBrowser_ConnectionValid());
}

TEST_F(HostLibrary, RenderHandsOutTheSectionWithThePeersPixels) {
  ASSERT_TRUE(Start());
  bool updated = false;
  int32_t width = -1, height = -1, cursor = -1;
  void* buffer = nullptr;
  ASSERT_TRUE(TEVBrowser_Render(1, &updated, &width, &height, &buffer, &cursor));
  EXPECT_TRUE(updated);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 32);
  EXPECT_EQ(cursor, 6);
  ASSERT_NE(buffer, nullptr);
  const auto* pixels = static_cast<const std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < 64u * 32u * 4u; ++i) ASSERT_EQ(pixels[i], static_cast<std::uint8_t>(i * 13 + 1)) << i;

  void* again = nullptr;
  ASSERT_TRUE(TEVBrowser_Render(1, &updated, &width, &height, &again, &cursor));
  EXPECT_FALSE(updated);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  EXPECT_EQ(cursor, 6);
  EXPECT_EQ(again, buffer);
  EXPECT_EQ(pixels[100], static_cast<std::uint8_t>(100 * 13 + 1));  // left as the last frame wrote it

  ASSERT_TRUE(TEVBrowser_Render(99, &updated, &width, &height, &again, &cursor));
  EXPECT_FALSE(updated);
  EXPECT_EQ(cursor, 0);
  EXPECT_EQ(again, buffer);
}

TEST_F(HostLibrary, APeerThatExitsBreaksTheLinkWithoutKillingUs) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);  // a SIGPIPE would end this test process
  ASSERT_TRUE(Start());
  ASSERT_EQ(TEVBrowser_CreateBrowser(""), 1);
  const int peer = std::stoi(PeerHeader().substr(4));
  TEVBrowser_ExecuteJavascript(1, "exit");
  for (int i = 0; i < 500; ++i) {
    bool ended = true;
    for (const auto& [pid, state] : Children()) ended &= !(pid == peer && state != 'Z');
    if (ended) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(TEVBrowser_ConnectionValid());  // nothing has failed yet

  testing::internal::CaptureStderr();
  TEVBrowser_SetSize(1, 100, 100, 1.0f);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IPC: Failed to write header: 32\nHOST: Failed to send SetSize\n");
  EXPECT_FALSE(TEVBrowser_ConnectionValid());

  testing::internal::CaptureStderr();
  EXPECT_EQ(TEVBrowser_CreateBrowser("x"), 0);
  TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
  bool updated = true;
  int32_t width = 1, height = 1, cursor = 1;
  void* buffer = &width;
  EXPECT_FALSE(TEVBrowser_Render(1, &updated, &width, &height, &buffer, &cursor));
  EXPECT_FALSE(updated);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "IPC: Failed to write header: 32\nHOST: Failed to send CreateBrowser\n"
            "IPC: Failed to write header: 32\nIPC: Failed to write header: 32\n");
  EXPECT_FALSE(TEVBrowser_ConnectionValid());
}

int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The sections named in the library's "Creating shared memory" lines that
// still exist.
std::vector<std::string> SectionsLeft(const std::string& stdout_text) {
  std::vector<std::string> left;
  const std::regex line("HOST: Creating shared memory: (TEVBrowserIPC_[0-9]{6})");
  for (std::sregex_iterator it(stdout_text.begin(), stdout_text.end(), line), end; it != end; ++it) {
    if (std::filesystem::exists("/dev/shm/" + (*it)[1].str())) left.push_back((*it)[1].str());
  }
  return left;
}

TEST_F(HostLibrary, ManyCyclesLeaveNoDescriptorSectionOrZombie) {
  unsetenv("TEV_PEER_LOG");
  const int fds = OpenDescriptors();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(Start()) << i;
    if (i % 2 == 0) {
      ASSERT_EQ(TEVBrowser_CreateBrowser(""), 1);
    }
    TEVBrowser_Shutdown();
  }
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(OpenDescriptors(), fds);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 200);
  EXPECT_TRUE(SectionsLeft(out).empty());
  WaitForChildrenToEnd();
  // The next call into the library collects what has ended since.
  testing::internal::CaptureStderr();
  TEVBrowser_Initialize("/nonexistent", "", "", "", "", "", nullptr, "", false);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Children().empty()) << Children().size() << " children left";
}

}  // namespace
