// Prints, from one run:
//   capture throughput of 1 GiB written by a child (dd, 1 MiB blocks) through TEV_CreateProcess
//     against reading the same child's output through a plain pipe;
//   start-and-wait of /bin/true against posix_spawn + waitpid;
//   XXH3_64bits through libtevnative.so against Debian's libxxhash.so on 1 MiB.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tevnative.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char* kWriteGiB = "dd if=/dev/zero bs=1M count=1024 status=none";

double CaptureThroughLibrary() {
  const char16_t* args[] = {u"sh", u"-c", u"dd if=/dev/zero bs=1M count=1024 status=none"};
  const auto start = Clock::now();
  TEV_ProcessRecord* record = TEV_CreateProcess(args, 3, u"", TEV_CAPTURE_STDOUT);
  TEV_WaitForProcess(record);
  const double seconds = Since(start);
  TEV_FreeProcess(record);
  return seconds;
}

double CaptureThroughPlainPipe() {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const char* argv[] = {"sh", "-c", kWriteGiB, nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  posix_spawnp(&pid, "sh", &actions, nullptr, const_cast<char**>(argv), environ);
  close(fds[1]);
  // The same work as the library: keep every byte in a growing buffer.
  std::vector<char> all;
  std::vector<char> chunk(131072);
  for (ssize_t n; (n = read(fds[0], chunk.data(), chunk.size())) > 0;) all.insert(all.end(), chunk.data(), chunk.data() + n);
  waitpid(pid, nullptr, 0);
  const double seconds = Since(start);
  close(fds[0]);
  posix_spawn_file_actions_destroy(&actions);
  return all.size() == (1u << 30) ? seconds : 0;
}

double StartAndWaitLibrary(int runs) {
  const char16_t* args[] = {u"/bin/true"};
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    TEV_ProcessRecord* record = TEV_CreateProcess(args, 1, u"", 0);
    TEV_WaitForProcess(record);
    TEV_FreeProcess(record);
  }
  return Since(start) / runs;
}

double StartAndWaitPlain(int runs) {
  const char* argv[] = {"/bin/true", nullptr};
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    pid_t pid = 0;
    posix_spawn(&pid, "/bin/true", nullptr, nullptr, const_cast<char**>(argv), environ);
    waitpid(pid, nullptr, 0);
  }
  return Since(start) / runs;
}

using Xxh3 = unsigned long long (*)(const void*, size_t);

double HashSeconds(Xxh3 hash, const std::vector<unsigned char>& data, int runs) {
  volatile unsigned long long sink = 0;
  sink = sink + hash(data.data(), data.size());
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) sink = sink + hash(data.data(), data.size());
  return Since(start) / runs;
}

}  // namespace

int main() {
  const double gib = static_cast<double>(1u << 30);
  const double library = CaptureThroughLibrary();
  const double plain = CaptureThroughPlainPipe();
  std::printf("capture 1 GiB through TEV_CreateProcess: %.2f s (%.2f GB/s, goal >= 1 GB/s)\n", library, gib / library / 1e9);
  std::printf("capture 1 GiB through a plain pipe:      %.2f s (%.2f GB/s)\n", plain, gib / plain / 1e9);

  const double spawn_library = StartAndWaitLibrary(500);
  const double spawn_plain = StartAndWaitPlain(500);
  std::printf("start and wait /bin/true, tevnative:          %.0f us\n", spawn_library * 1e6);
  std::printf("start and wait /bin/true, posix_spawn+waitpid: %.0f us\n", spawn_plain * 1e6);

  void* ours = dlopen(TEV_BENCH_TEVNATIVE, RTLD_NOW | RTLD_LOCAL);
  void* theirs = dlopen("libxxhash.so.0", RTLD_NOW | RTLD_LOCAL);
  if (ours == nullptr || theirs == nullptr) {
    std::printf("cannot load both xxHash builds: %s\n", dlerror());
    return 1;
  }
  auto our_hash = reinterpret_cast<Xxh3>(dlsym(ours, "XXH3_64bits"));
  auto their_hash = reinterpret_cast<Xxh3>(dlsym(theirs, "XXH3_64bits"));
  std::vector<unsigned char> data(1 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
  if (our_hash(data.data(), data.size()) != their_hash(data.data(), data.size())) std::printf("hashes differ!\n");
  const double t_ours = HashSeconds(our_hash, data, 3000);
  const double t_theirs = HashSeconds(their_hash, data, 3000);
  std::printf("XXH3_64bits 1 MiB, tevnative:   %.1f GB/s\n", data.size() / t_ours / 1e9);
  std::printf("XXH3_64bits 1 MiB, libxxhash:   %.1f GB/s\n", data.size() / t_theirs / 1e9);
  std::printf("  ratio tevnative/libxxhash throughput: %.2fx (goal >= 0.97x)\n", t_theirs / t_ours);
  return 0;
}
