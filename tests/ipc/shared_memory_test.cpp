// The shared frame buffer: create, open from another process, error codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "child_process.h"
#include "ipc/shared_memory.h"

namespace {

std::string FreshName() {
  std::random_device device;
  return "TEVBrowserIPC_test_" + std::to_string(getpid()) + "_" + std::to_string(device());
}

bool InDevShm(const std::string& name) { return std::filesystem::exists("/dev/shm/" + name); }

TEST(SharedMemory, AnotherProcessOpensByNameAndWritesWhatWeRead) {
  const std::string name = FreshName();
  SharedMemory section = SharedMemory::Create(name.c_str(), kFrameBufferSize);
  ASSERT_EQ(section.error, 0);
  ASSERT_NE(section.view, nullptr);
  EXPECT_EQ(section.size, kFrameBufferSize);
  EXPECT_EQ(section.name, name);
  EXPECT_TRUE(InDevShm(name));
  EXPECT_EQ(std::filesystem::status("/dev/shm/" + name).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  EXPECT_EQ(tev_test::Wait(tev_test::Start(tev_test::BinaryDir() + "/ipc_peer", "shm:" + name)), 0);
  const auto* bytes = static_cast<const std::uint8_t*>(section.view);
  for (std::uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], static_cast<std::uint8_t>(i * 7)) << i;
  EXPECT_EQ(bytes[kFrameBufferSize - 1], 0xab);

  section.Release();
  EXPECT_EQ(section.view, nullptr);
  EXPECT_FALSE(section.name.has_value());
  EXPECT_FALSE(InDevShm(name));
  section.Release();  // twice: harmless
}

TEST(SharedMemory, AClashFailsAndLeavesTheExistingSectionAlone) {
  const std::string name = FreshName();
  SharedMemory first = SharedMemory::Create(name.c_str(), 4096);
  ASSERT_EQ(first.error, 0);
  static_cast<std::uint8_t*>(first.view)[10] = 42;
  SharedMemory second = SharedMemory::Create(name.c_str(), 4096);
  EXPECT_EQ(second.error, kSharedMemoryAlreadyExists);
  EXPECT_EQ(second.view, nullptr);
  EXPECT_EQ(second.mapping, platform::kInvalidHandle);
  EXPECT_FALSE(second.name.has_value());
  second.Release();  // must not remove the first one's name
  EXPECT_TRUE(InDevShm(name));
  SharedMemory opened = SharedMemory::Open(name.c_str(), 4096);
  ASSERT_EQ(opened.error, 0);
  EXPECT_EQ(static_cast<std::uint8_t*>(opened.view)[10], 42);
  opened.Release();  // the opener leaves the name in place
  EXPECT_TRUE(InDevShm(name));
  first.Release();
  EXPECT_FALSE(InDevShm(name));
}

TEST(SharedMemory, ErrorCodes) {
  const std::string missing = FreshName();
  const struct {
    const char* what;
    bool create;
    const char* name;
    std::uint32_t size;
    std::int32_t error;
  } cases[] = {
      {"create, null name", true, nullptr, 4096, kSharedMemoryNoName},
      {"create, empty name", true, "", 4096, kSharedMemoryNoName},
      {"create, size 0", true, missing.c_str(), 0, kSharedMemoryNoSize},
      {"open, empty name", false, "", 4096, kSharedMemoryNoName},
      {"open, size 0", false, missing.c_str(), 0, kSharedMemoryNoSize},
      {"open, unknown name", false, missing.c_str(), 4096, kSharedMemoryOpenFailed},
      {"create, unusable name", true, "a/b", 4096, kSharedMemoryCreateFailed},
  };
  for (const auto& c : cases) {
    SharedMemory r = c.create ? SharedMemory::Create(c.name, c.size) : SharedMemory::Open(c.name, c.size);
    EXPECT_EQ(r.error, c.error) << c.what;
    EXPECT_EQ(r.view, nullptr) << c.what;
    EXPECT_FALSE(r.name.has_value()) << c.what;
    r.Release();
  }
  EXPECT_FALSE(InDevShm(missing));
}

TEST(SharedMemory, OpeningLargerThanTheSectionIsAMapFailureNotABusError) {
  const std::string name = FreshName();
  SharedMemory small = SharedMemory::Create(name.c_str(), 4096);
  ASSERT_EQ(small.error, 0);
  SharedMemory big = SharedMemory::Open(name.c_str(), kFrameBufferSize);
  EXPECT_EQ(big.error, kSharedMemoryMapFailed);
  EXPECT_EQ(big.view, nullptr);
  small.Release();
}

}  // namespace
