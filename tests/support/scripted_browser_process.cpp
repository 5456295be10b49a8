// Stands in for browser_process in the host-library tests: started by the real
// TEVBrowser_Initialize, it adopts the inherited pipe end, opens the section
// by name and answers requests from a script chosen by TEV_PEER_MODE:
//   (unset)     CreateBrowser numbers 1, 2, ...; empty ProcessEvents replies
//   events      ProcessEvents replies carry console lines and events of two browsers
//   wrong-id    CreateBrowser is answered with a Render reply
//   big-frame   every Render of browser 1 copies a fresh 1920x1080 frame
// Every frame received is logged to TEV_PEER_LOG ("TYPE HEX" per line) before
// any reply, so one round trip tells the test that earlier frames arrived.
// ExecuteJavascript with the code "exit" ends the process at once.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "ipc/messages.h"
#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"

namespace {

constexpr const char* kPrefix = "--main-browser-process=";

void Log(std::FILE* log, std::uint32_t type, const std::vector<std::uint8_t>& payload) {
  if (log == nullptr) return;
  std::fprintf(log, "%u ", type);
  for (std::uint8_t b : payload) std::fprintf(log, "%02x", b);
  std::fprintf(log, "\n");
  std::fflush(log);
}

IPCProcessEventsResponse ScriptedEvents() {
  return {{{1, "first line", "https://a.test/one.js", 10}, {2, "second line", "", 20}},
          {{1, 0, ""}, {2, 3, R"({"title":"Two"})"}, {1, 6, R"({"dialogType":0,"messageText":"hi","defaultPromptText":""})"}},
          {{2, 7, "hi"}, {1, -1, ""}}};
}

void Pattern(std::uint8_t* into, std::size_t size, int seed) {
  for (std::size_t i = 0; i < size; ++i) into[i] = static_cast<std::uint8_t>(i * 13 + seed);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 0 ? argv[0] : "";
  if (command.rfind(kPrefix, 0) != 0) return 2;
  auto channel = PipeChannel::Adopt(command.substr(std::strlen(kPrefix)));
  if (!channel) return 3;
  const char* log_path = std::getenv("TEV_PEER_LOG");
  std::FILE* log = log_path ? std::fopen(log_path, "a") : nullptr;
  if (log) {
    std::fprintf(log, "pid %d argc %d argv0 %s\n", static_cast<int>(getpid()), argc, command.c_str());
    std::fflush(log);
  }
  const std::string mode = std::getenv("TEV_PEER_MODE") ? std::getenv("TEV_PEER_MODE") : "";

  std::uint32_t type = 0;
  std::vector<std::uint8_t> payload;
  if (!channel->Receive(type, payload)) return 0;
  Log(log, type, payload);
  IPCInitialize init;
  if (type != 0 || ipc::Decode(payload, init)) return 4;
  SharedMemory section = SharedMemory::Open(init.section_name.c_str(), kFrameBufferSize);
  if (section.error != 0) return 5;
  auto* pixels = static_cast<std::uint8_t*>(section.view);

  std::vector<std::uint8_t> big_frame(1920u * 1080u * 4u);
  Pattern(big_frame.data(), big_frame.size(), 5);
  std::int32_t next_handle = 1;
  bool rendered_one = false;
  while (channel->Receive(type, payload)) {
    Log(log, type, payload);
    switch (static_cast<IPCMessageType>(type)) {
      case IPCMessageType::CreateBrowser:
        if (mode == "wrong-id") {
          channel->Send(4, ipc::Encode(IPCRenderResponse{}));
        } else {
          channel->Send(1, ipc::Encode(IPCCreateBrowserResponse{next_handle++}));
        }
        break;
      case IPCMessageType::ProcessEvents:
        channel->Send(3, ipc::Encode(mode == "events" ? ScriptedEvents() : IPCProcessEventsResponse{}));
        break;
      case IPCMessageType::Render: {
        IPCBrowserRequest request;
        ipc::Decode(payload, request);
        IPCRenderResponse reply{false, 0, 0, 0};
        if (request.handle == 1 && mode == "big-frame") {
          std::memcpy(pixels, big_frame.data(), big_frame.size());
          reply = {true, 1920, 1080, 0};
        } else if (request.handle == 1) {
          if (!rendered_one) Pattern(pixels, 64 * 32 * 4, 1);
          reply = {!rendered_one, rendered_one ? 0 : 64, rendered_one ? 0 : 32, 6};
          rendered_one = true;
        }
        channel->Send(4, ipc::Encode(reply));
        break;
      }
      case IPCMessageType::ExecuteJavascript: {
        IPCExecuteJavascript request;
        ipc::Decode(payload, request);
        if (request.code == "exit") _exit(0);
        break;
      }
      default:
        break;
    }
  }
  section.Release();
  return 0;
}
