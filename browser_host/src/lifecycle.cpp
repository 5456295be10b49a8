// TEVBrowser_Initialize, TEVBrowser_Shutdown, TEVBrowser_ConnectionValid.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "TEVBrowser.h"
#include "host_state.h"
#include "platform/process.h"

namespace {

HostState* g_state = nullptr;

// Browser processes started by this library that have not been collected yet.
// They end on their own once the pipe closes; collecting them without waiting
// (and only them) keeps the application free of zombies without touching its
// own children.
std::vector<platform::ProcessId> g_started;

void ReapFinishedBrowserProcesses() {
  std::erase_if(g_started, [](platform::ProcessId pid) { return platform::ReapIfExited(pid); });
}

void TearDown() {
  if (g_state == nullptr) return;
  g_state->channel.reset();
  g_state->frame_buffer.Release();
  delete g_state;
  g_state = nullptr;
}

bool Initialize(const char* browser_process_path, const char* resources_dir_path, const char* framework_dir_path,
                const char* main_bundle_path, const char* log_file, const char* cache_path, const char* user_agent,
                bool debug) {
  ReapFinishedBrowserProcesses();
  if (g_state != nullptr) {
    std::fprintf(stderr, "HOST: Already initialized; call TEVBrowser_Shutdown first\n");
    return false;
  }
  const std::string section_name = host::NextSectionName();
  g_state = new HostState();

  std::string handle_text;
  g_state->channel = PipeChannel::Create(handle_text);
  if (!g_state->channel) {
    std::fprintf(stdout, "HOST: Failed to create IPC\n");
    TearDown();
    return false;
  }
  std::fprintf(stderr, "HOST: IPC connection: %s\n", handle_text.c_str());

  std::fprintf(stdout, "HOST: Creating shared memory: %s\n", section_name.c_str());
  g_state->frame_buffer = SharedMemory::Create(section_name.c_str(), kFrameBufferSize);
  if (g_state->frame_buffer.error != kSharedMemoryOk) {
    std::fprintf(stdout, "HOST: Failed to create shared memory: %d\n", g_state->frame_buffer.error);
    TearDown();
    return false;
  }

  // Paths are bytes here: the program path goes to the system unchanged.
  platform::ProcessId pid = platform::kNoProcess;
  int error = 0;
  if (!platform::StartProcessWithInheritance(host::OrEmpty(browser_process_path), "--main-browser-process=" + handle_text,
                                             g_state->channel->peer_end(), pid, error)) {
    std::fprintf(stderr, "HOST: Failed to start browser process: %d\n", error);
    TearDown();
    return false;
  }
  g_started.push_back(pid);
  g_state->channel->ReleasePeerEnd();

  const IPCInitialize message{debug,
                              section_name,
                              host::OrEmpty(browser_process_path),
                              host::OrEmpty(resources_dir_path),
                              host::OrEmpty(framework_dir_path),
                              host::OrEmpty(main_bundle_path),
                              host::OrEmpty(log_file),
                              host::OrEmpty(cache_path),
                              host::OrEmpty(user_agent)};
  if (!host::SendStep(*g_state, IPCMessageType::Initialize, message)) {
    std::fprintf(stdout, "HOST: Failed to send initialize message\n");
    TearDown();
    return false;
  }
  return true;
}

}  // namespace

namespace host {

HostState* State() { return g_state; }

std::string NextSectionName() {
  static std::mt19937 generator = [] {
    std::random_device device;
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch();
    std::seed_seq seed{static_cast<std::uint32_t>(device()),
                       static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count())};
    return std::mt19937(seed);
  }();
  std::uniform_int_distribution<int> six_digits(100000, 999999);
  return kSectionNamePrefix + std::to_string(six_digits(generator));
}

}  // namespace host

extern "C" {

TEVBROWSER_API bool TEVBrowser_Initialize(const char* browser_process_path, const char* resources_dir_path,
                                          const char* framework_dir_path, const char* main_bundle_path,
                                          const char* log_file, const char* cache_path, const char* /*unused*/,
                                          const char* user_agent, bool debug) {
  HostState* const existing = g_state;
  try {
    return Initialize(browser_process_path, resources_dir_path, framework_dir_path, main_bundle_path, log_file,
                      cache_path, user_agent, debug);
  } catch (...) {
    if (g_state != existing) TearDown();  // a half-made state must not survive
    return false;
  }
}

TEVBROWSER_API void TEVBrowser_Shutdown(void) {
  host::Guarded([] {
    TearDown();
    ReapFinishedBrowserProcesses();
  });
}

TEVBROWSER_API bool TEVBrowser_ConnectionValid(void) { return g_state != nullptr && g_state->connection_valid; }

}  // extern "C"
