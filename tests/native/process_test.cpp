// Child processes through libtevnative.so: real programs, real pipes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "child_process.h"
#include "native_test_support.h"

namespace {

using tev_test::Spawn;
using tev_test::Take;
using namespace std::chrono_literals;

constexpr TEV_ProcessFlags kBoth = TEV_CAPTURE_STDOUT | TEV_CAPTURE_STDERR;

using tev_test::Children;

int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
}

TEST(ChildProcess, NullArgumentsGiveNoRecord) {
  const char16_t* args[] = {u"true"};
  EXPECT_EQ(TEV_CreateProcess(nullptr, 1, u"", 0), nullptr);
  EXPECT_EQ(TEV_CreateProcess(args, 1, nullptr, 0), nullptr);
}

TEST(ChildProcess, Cases) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    TEV_ProcessFlags flags;
    std::string cwd;
    int code;
    std::string out;
    std::string err;
  } cases[] = {
      {"count 0", {}, kBoth, "", -1, "", ""},
      {"program that does not exist", {"/nonexistent/tool"}, kBoth, "", -1, "", ""},
      {"program not on PATH", {"tev-no-such-program-anywhere"}, kBoth, "", -1, "", ""},
      {"working directory that does not exist", {"true"}, kBoth, "/nonexistent/dir", -1, "", ""},
      {"flags 0: exit code, nothing captured", {"sh", "-c", "exit 0"}, 0, "", 0, "", ""},
      {"exit code 3", {"sh", "-c", "exit 3"}, kBoth, "", 3, "", ""},
      {"killed by SIGSEGV", {"sh", "-c", "kill -SEGV $$"}, kBoth, "", -11, "", ""},
      {"stdout and stderr apart", {"sh", "-c", "printf out; printf err >&2"}, kBoth, "", 0, "out", "err"},
      {"only stderr captured", {"sh", "-c", "printf out; printf err >&2"}, TEV_CAPTURE_STDERR, "", 0, "", "err"},
      {"an argument with a space stays one", {"sh", "-c", "printf '%s|' \"$@\"", "x", "a b", "c"}, kBoth, "", 0,
       "a b|c|", ""},
      {"working directory used", {"pwd"}, kBoth, "/usr/share", 0, "/usr/share\n", ""},
      {"stdin reaches its end at the wait", {"sh", "-c", "cat; printf done"}, TEV_OPEN_STDIN | kBoth, "", 0, "done",
       ""},
      {"no stdin pipe: /dev/null", {"sh", "-c", "cat; printf done"}, kBoth, "", 0, "done", ""},
  };
  for (const auto& c : cases) {
    TEV_ProcessRecord* record = Spawn(c.args, c.flags, c.cwd);
    ASSERT_NE(record, nullptr) << c.what;
    EXPECT_EQ(TEV_WaitForProcess(record), c.code) << c.what;
    EXPECT_EQ(TEV_WaitForProcess(record), c.code) << c.what << " (second wait)";
    EXPECT_EQ(Take(TEV_ReadProcessStdout(record)), c.out) << c.what;
    EXPECT_EQ(Take(TEV_ReadProcessStderr(record)), c.err) << c.what;
    TEV_FreeProcess(record);
  }
}

TEST(ChildProcess, LargeOutputAndNulBytesAreKeptWhole) {
  TEV_ProcessRecord* record = Spawn({"sh", "-c", "head -c 300000 /dev/zero | tr '\\000' x"}, TEV_CAPTURE_STDOUT);
  ASSERT_EQ(TEV_WaitForProcess(record), 0);
  char* copy = TEV_ReadProcessStdout(record);
  EXPECT_EQ(std::string(copy, 300001), std::string(300000, 'x') + '\0');
  TEV_Free(copy);
  TEV_FreeProcess(record);

  record = Spawn({"printf", "a\\000b"}, TEV_CAPTURE_STDOUT);
  ASSERT_EQ(TEV_WaitForProcess(record), 0);
  copy = TEV_ReadProcessStdout(record);
  EXPECT_EQ(std::string(copy), "a");  // what a caller measuring by NUL sees
  EXPECT_EQ(std::string(copy, 4), std::string("a\0b\0", 4));
  TEV_Free(copy);
  TEV_FreeProcess(record);
}

TEST(ChildProcess, EachReadReturnsEverythingSoFar) {
  const auto gate = std::filesystem::temp_directory_path() / ("tev_gate_" + std::to_string(getpid()));
  std::filesystem::remove(gate);
  TEV_ProcessRecord* record =
      Spawn({"sh", "-c", "printf first; while [ ! -e '" + gate.string() + "' ]; do sleep 0.01; done; printf second"},
            TEV_CAPTURE_STDOUT);
  std::string first;
  for (int i = 0; i < 500 && first.empty(); ++i) {
    first = Take(TEV_ReadProcessStdout(record));
    if (first.empty()) std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(first, "first");
  std::ofstream(gate).put('x');
  EXPECT_EQ(TEV_WaitForProcess(record), 0);
  EXPECT_EQ(Take(TEV_ReadProcessStdout(record)), "firstsecond");
  EXPECT_EQ(Take(TEV_ReadProcessStdout(record)), "firstsecond");
  TEV_FreeProcess(record);
  std::filesystem::remove(gate);
}

TEST(ChildProcess, FreeingARunningChildNeitherBlocksNorLeavesAZombie) {
  for (TEV_ProcessFlags flags : {TEV_ProcessFlags{0}, kBoth | TEV_OPEN_STDIN}) {
    TEV_ProcessRecord* record = Spawn({"sleep", "0.5"}, flags);
    const auto start = std::chrono::steady_clock::now();
    TEV_FreeProcess(record);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms) << flags;
  }
  EXPECT_FALSE(Children().empty());  // still running, not killed
  for (int i = 0; i < 300 && !Children().empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(Children().empty()) << Children().size() << " children left";
}

TEST(ChildProcess, ManyThreadsManyChildrenEveryByteAccountedFor) {
  const int fds = OpenDescriptors();
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      for (int n = 0; n < 50; ++n) {
        const std::string tag = std::to_string(t) + "." + std::to_string(n);
        TEV_ProcessRecord* record =
            Spawn({"sh", "-c", "i=0; while [ $i -lt 20 ]; do echo " + tag + " $i; i=$((i+1)); done; echo e" + tag + " >&2"},
                  kBoth);
        std::string expected;
        for (int i = 0; i < 20; ++i) expected += tag + " " + std::to_string(i) + "\n";
        if (TEV_WaitForProcess(record) != 0 || Take(TEV_ReadProcessStdout(record)) != expected ||
            Take(TEV_ReadProcessStderr(record)) != "e" + tag + "\n") {
          ++failures;
        }
        TEV_FreeProcess(record);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(OpenDescriptors(), fds);
  EXPECT_TRUE(Children().empty());
}

}  // namespace
