// A second process for the IPC tests. Its whole command line (argv[0]) says
// what to do: "echo:FD" returns every frame it receives until the pipe
// closes; "pieces:FD" sends one frame a few bytes at a time; "shm:NAME"
// opens a section and writes a pattern into it; "fds:FD" sends one frame
// naming every descriptor above 2 that it was started with; "swallow:FD"
// receives until its input ends, then sends one frame with its peak resident
// memory before and after, in kB, and the sizes of the messages it received.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/resource.h>
#include <string>
#include <thread>

#include "ipc/pipe_channel.h"
#include "ipc/shared_memory.h"
#include "platform/duplex_pipe.h"

namespace {

int Echo(const std::string& fd) {
  auto channel = PipeChannel::Adopt(fd);
  if (!channel) return 3;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> payload;
  while (channel->Receive(type, payload)) {
    if (!channel->Send(type, payload)) return 4;
  }
  return 0;
}

int Pieces(const std::string& fd) {
  auto channel = PipeChannel::Adopt(fd);
  if (!channel) return 3;
  // type 5, 10 payload bytes 0..9, cut at awkward places.
  const std::uint8_t frame[] = {5, 0, 0, 0, 10, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::size_t cuts[] = {0, 3, 7, 9, 14, sizeof frame};
  for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
    if (!platform::WriteAll(channel->pipe(), frame + cuts[i], cuts[i + 1] - cuts[i])) return 4;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

int OpenDescriptors(const std::string& fd) {
  // Read before the channel is adopted, so nothing of our own is counted.
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return 5;
  while (const dirent* entry = readdir(dir)) {
    const int n = std::atoi(entry->d_name);
    if (n > 2 && n != dirfd(dir)) list += (list.empty() ? "" : " ") + std::string(entry->d_name);
  }
  closedir(dir);
  auto channel = PipeChannel::Adopt(fd);
  if (!channel) return 3;
  return channel->Send(1, reinterpret_cast<const std::uint8_t*>(list.data()), list.size()) ? 0 : 4;
}

int Swallow(const std::string& fd) {
  auto channel = PipeChannel::Adopt(fd);
  if (!channel) return 3;
  auto peak = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::to_string(usage.ru_maxrss);
  };
  std::string report = peak();
  std::uint32_t type = 0;
  std::vector<std::uint8_t> payload;
  std::string sizes;
  while (channel->Receive(type, payload)) sizes += " " + std::to_string(payload.size());
  report += " " + peak() + sizes;
  return channel->Send(1, reinterpret_cast<const std::uint8_t*>(report.data()), report.size()) ? 0 : 4;
}

int WriteSection(const std::string& name) {
  SharedMemory section = SharedMemory::Open(name.c_str(), kFrameBufferSize);
  if (section.error != 0) return 10 + section.error;
  auto* bytes = static_cast<std::uint8_t*>(section.view);
  for (std::uint32_t i = 0; i < 4096; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  bytes[kFrameBufferSize - 1] = 0xab;
  section.Release();
  return 0;
}

}  // namespace

int main(int, char** argv) {
  const std::string command = argv[0];
  const auto colon = command.find(':');
  if (colon == std::string::npos) return 2;
  const std::string mode = command.substr(0, colon), value = command.substr(colon + 1);
  if (mode == "echo") return Echo(value);
  if (mode == "pieces") return Pieces(value);
  if (mode == "shm") return WriteSection(value);
  if (mode == "fds") return OpenDescriptors(value);
  if (mode == "swallow") return Swallow(value);
  return 2;
}
