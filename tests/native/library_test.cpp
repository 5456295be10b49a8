// The library heap, the executable path and the xxHash exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>
#define XXH_STATIC_LINKING_ONLY  // XXH128 and the state layouts live there in 0.8.1
#include <xxhash.h>

#include "native_test_support.h"

namespace {

using tev_test::Spawn;
using tev_test::Take;

std::string ProbePath() { return std::string(TEV_TEST_BINARY_DIR) + "/exe_path_probe"; }

TEST(NativeLibrary, HeapRoundTrip) {
  TEV_Free(nullptr);
  void* p = TEV_Malloc(1 << 20);
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xab, 1 << 20);
  TEV_Free(p);
  EXPECT_EQ(TEV_Malloc(~uint64_t{0}), nullptr);
}

TEST(NativeLibrary, ExecutablePathOfThisProgram) {
  TEV_Char* path = TEV_GetExecutablePath();
  ASSERT_NE(path, nullptr);
  const std::u16string wide(path);
  TEV_Free(path);
  const std::string expected = std::filesystem::canonical("/proc/self/exe").string();
  EXPECT_EQ(std::string(wide.begin(), wide.end()), expected);
}

TEST(NativeLibrary, ExecutablePathLongerThanTheFirstBufferIsWhole) {
  // A program whose own path is 3000 units long needs the second attempt.
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tev_long_" + std::to_string(getpid()));
  const std::filesystem::path root = dir;
  const std::string name = "exe_path_probe";
  while (dir.string().size() + 1 + name.size() < 3000) {
    const std::size_t room = 3000 - dir.string().size() - 2 - name.size();
    dir /= std::string(std::min<std::size_t>(200, room), 'd');
  }
  const std::filesystem::path program = dir / name;
  ASSERT_EQ(program.string().size(), 3000u);
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(ProbePath(), program);
  TEV_ProcessRecord* record = Spawn({program.string()}, TEV_CAPTURE_STDOUT);
  EXPECT_EQ(TEV_WaitForProcess(record), 0);
  EXPECT_EQ(Take(TEV_ReadProcessStdout(record)), "3000 " + program.string());
  TEV_FreeProcess(record);
  std::filesystem::remove_all(root);
}

std::string Hex(const unsigned char* bytes, std::size_t n) {
  std::string out;
  char b[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", bytes[i]);
    out += b;
  }
  return out;
}

// xxhsum's answer for `file` with algorithm -H<algorithm>.
std::string Xxhsum(int algorithm, const std::string& file) {
  TEV_ProcessRecord* record = Spawn({"xxhsum", "-H" + std::to_string(algorithm), file}, TEV_CAPTURE_STDOUT);
  EXPECT_EQ(TEV_WaitForProcess(record), 0);
  std::string out = Take(TEV_ReadProcessStdout(record));
  TEV_FreeProcess(record);
  // "HASH  FILE", or "XXH3 (FILE) = HASH" for the 64-bit XXH3.
  if (out.rfind("XXH3 (", 0) == 0) return out.substr(out.rfind(' ') + 1, 16);
  return out.substr(0, out.find(' '));
}

TEST(NativeLibrary, XxhashAgreesWithXxhsum) {
  std::mt19937 random(7);
  for (std::size_t size : {0u, 1u, 3u, 16u, 17u, 128u, 129u, 240u, 241u, 1000u, 65536u, 1000003u}) {
    std::vector<unsigned char> data(size);
    for (auto& b : data) b = static_cast<unsigned char>(random());
    const auto file = std::filesystem::temp_directory_path() / ("tev_xxh_" + std::to_string(getpid()));
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));

    XXH32_canonical_t c32;
    XXH32_canonicalFromHash(&c32, XXH32(data.data(), size, 0));
    EXPECT_EQ(Hex(c32.digest, 4), Xxhsum(0, file)) << size;
    XXH64_canonical_t c64;
    XXH64_canonicalFromHash(&c64, XXH64(data.data(), size, 0));
    EXPECT_EQ(Hex(c64.digest, 8), Xxhsum(1, file)) << size;
    XXH128_canonical_t c128;
    XXH128_canonicalFromHash(&c128, XXH3_128bits(data.data(), size));
    EXPECT_EQ(Hex(c128.digest, 16), Xxhsum(2, file)) << size;
    XXH64_canonicalFromHash(&c64, XXH3_64bits(data.data(), size));
    EXPECT_EQ(Hex(c64.digest, 8), Xxhsum(3, file)) << size;
    std::filesystem::remove(file);

    // XXH128 is the seeded 128-bit XXH3; streaming equals one-shot.
    EXPECT_TRUE(XXH128_isEqual(XXH128(data.data(), size, 99), XXH3_128bits_withSeed(data.data(), size, 99)));
    XXH3_state_t* state = XXH3_createState();
    ASSERT_EQ(XXH3_64bits_reset_withSeed(state, 5), XXH_OK);
    const std::size_t half = size / 2;
    XXH3_64bits_update(state, data.data(), half);
    XXH3_64bits_update(state, data.data() + half, size - half);
    EXPECT_EQ(XXH3_64bits_digest(state), XXH3_64bits_withSeed(data.data(), size, 5)) << size;
    XXH3_freeState(state);
    XXH64_state_t* s64 = XXH64_createState();
    XXH64_reset(s64, 11);
    XXH64_update(s64, data.data(), half);
    XXH64_update(s64, data.data() + half, size - half);
    EXPECT_EQ(XXH64_digest(s64), XXH64(data.data(), size, 11)) << size;
    XXH64_freeState(s64);
  }
  EXPECT_EQ(XXH_versionNumber(), 801u);  // the xxHash compiled in
}

}  // namespace
