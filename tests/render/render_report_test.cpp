// The Vulkan device report: against lavapipe and vulkaninfo, against a
// scripted loader, without any loader, and its writer and failure paths.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <unistd.h>

#include "device_report.h"
#include "tevrender.h"

namespace {

using nlohmann::json;

// lavapipe keeps an array it makes once per process (seen on AMD Zen
// processors; by its shape, the CPU survey's level-3 cache masks), reachable
// only from the driver's own globals. The loader unloads the driver when the instance is
// destroyed, so at exit LeakSanitizer would see that array unreferenced, in
// frames of a module no longer mapped. Kept mapped in this test process, the
// driver's globals still hold it, and every allocation of ours stays checked.
class KeepLavapipeMapped : public ::testing::Environment {
 public:
  void SetUp() override { driver_ = dlopen("libvulkan_lvp.so", RTLD_NOW | RTLD_NODELETE); }

 private:
  void* driver_ = nullptr;  // never closed, by design
};
const auto* const kKeepLavapipe = ::testing::AddGlobalTestEnvironment(new KeepLavapipeMapped);

struct CommandRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a shell command line, collecting its output and error streams.
CommandRun Shell(const std::string& command) {
  const auto err_file = std::filesystem::temp_directory_path() / ("tev_render_err_" + std::to_string(getpid()));
  CommandRun run;
  FILE* pipe = popen((command + " 2>" + err_file.string()).c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 65536> chunk;
  for (std::size_t n; (n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) run.out.append(chunk.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(err_file);
  return run;
}

std::string Probe() { return std::string(TEV_TEST_BINARY_DIR) + "/report_probe"; }

CommandRun WithFakeLoader(const std::string& scenario) {
  return Shell("LD_LIBRARY_PATH=" + std::string(TEV_FAKE_VULKAN_DIR) + " TEV_FAKE_VULKAN=" + scenario + " " + Probe());
}

const char* kFlagMembers[] = {"shader_int64",
                              "shader_int16",
                              "shader_int8",
                              "shader_float16",
                              "storage_buffer_16bit_access",
                              "uniform_and_storage_buffer_16bit_access",
                              "uniform_and_storage_buffer_8bit_access",
                              "buffer_device_address",
                              "descriptor_indexing",
                              "synchronization2",
                              "dynamic_rendering",
                              "acceleration_structure",
                              "ray_query",
                              "descriptor_buffer"};

std::vector<std::string> TrueFlags(const json& device) {
  std::vector<std::string> set;
  for (const char* m : kFlagMembers) {
    if (device.at(m).get<bool>()) set.push_back(m);
  }
  return set;
}

TEST(DeviceReport, ScriptedLoaderModernDevice) {
  const CommandRun run = WithFakeLoader("modern");
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["type"], "Vulkan");
  EXPECT_EQ(report["error"], "");
  EXPECT_EQ(report["version"], "1.3.280");
  EXPECT_EQ(report["instance_extensions"], json({"VK_KHR_surface", "VK_EXT_debug_utils"}));
  ASSERT_EQ(report["devices"].size(), 1u);
  const json& d = report["devices"][0];
  EXPECT_EQ(d["api_version"], (1u << 22) | (3u << 12) | 280u);
  EXPECT_EQ(d["driver_version"], 42);
  EXPECT_EQ(d["vendor_id"], 0x1234);
  EXPECT_EQ(d["device_id"], 0x5678);
  EXPECT_EQ(d["device_type"], "");  // type 5 has no name
  EXPECT_EQ(d["device_name"], "Fake \"GPU\" \\ one\n\x01");
  EXPECT_EQ(TrueFlags(d), (std::vector<std::string>{"shader_int64", "shader_int8", "storage_buffer_16bit_access",
                                                    "buffer_device_address", "dynamic_rendering", "ray_query",
                                                    "descriptor_buffer"}));
  EXPECT_EQ(d["queues"], json::parse(R"([{"count":2,"flags":["GRAPHICS","COMPUTE","TRANSFER","OPTICAL_FLOW_NV"]},
                                          {"count":1,"flags":[]}])"));
  EXPECT_EQ(d["memory_heaps"], json::parse(R"([{"size":"1023B","device":true},{"size":"1.00KiB","device":false},
                                                {"size":"255.94MiB","device":false}])"));
  EXPECT_EQ(d["memory_types"], json::parse(R"([{"heap":0,"flags":[]},{"heap":2,"flags":["DEVICE_LOCAL",
      "HOST_VISIBLE","HOST_COHERENT","HOST_CACHED","LAZILY_ALLOCATED","PROTECTED","DEVICE_COHERENT_AMD",
      "DEVICE_UNCACHED_AMD","RDMA_CAPABLE_NV"]}])"));
  EXPECT_EQ(d["extensions"], json({"VK_KHR_swapchain"}));
  // Key order and escapes as written.
  EXPECT_NE(run.out.find("\t\t\t\"device_name\": \"Fake \\\"GPU\\\" \\\\ one\\n\\u0001\",\n"), std::string::npos);
  EXPECT_NE(run.out.find("\t\t\t\t\t\"flags\": [\n\n\t\t\t\t\t]\n"), std::string::npos);
  EXPECT_EQ(run.err, "");
}

TEST(DeviceReport, ScriptedLoaderCases) {
  const struct {
    const char* scenario;
    std::string version;
    std::string error;
    std::size_t devices;
    std::vector<std::string> first_device_flags;
  } cases[] = {
      {"v1_0", "1.0.0", "", 1, {"shader_int64", "shader_int16"}},
      {"no_version", "1.0.0", "", 1, {"shader_int64", "shader_int16"}},
      {"incomplete", "1.3.280", "Failed to get instance extensions: INCOMPLETE", 0, {}},
      {"two_devices", "1.3.280", "Failed to get device extension count: ERROR_OUT_OF_HOST_MEMORY", 2,
       {"shader_int64", "shader_int8", "storage_buffer_16bit_access", "buffer_device_address", "dynamic_rendering",
        "ray_query", "descriptor_buffer"}},
  };
  for (const auto& c : cases) {
    const CommandRun run = WithFakeLoader(c.scenario);
    ASSERT_EQ(run.status, 0) << c.scenario << run.err;
    const json report = json::parse(run.out);
    EXPECT_EQ(report["version"], c.version) << c.scenario;
    EXPECT_EQ(report["error"], c.error) << c.scenario;
    ASSERT_EQ(report["devices"].size(), c.devices) << c.scenario;
    if (c.devices > 0) {
      EXPECT_EQ(TrueFlags(report["devices"][0]), c.first_device_flags) << c.scenario;
    }
    if (c.error.empty()) {
      EXPECT_EQ(run.err, "") << c.scenario;
    } else {
      EXPECT_EQ(run.err.substr(0, run.err.find(" @")), "LOG 2 " + c.error) << c.scenario;
    }
  }
  // The second of two devices: surveyed up to its failing call.
  const json second = json::parse(WithFakeLoader("two_devices").out)["devices"][1];
  EXPECT_EQ(second["device_name"], "Second");
  EXPECT_EQ(second["queues"].size(), 2u);
  EXPECT_EQ(second["memory_heaps"].size(), 3u);
  EXPECT_EQ(second["memory_types"].size(), 2u);
  EXPECT_TRUE(second["extensions"].empty());
  EXPECT_TRUE(TrueFlags(second).empty());
  EXPECT_EQ(json::parse(WithFakeLoader("two_devices").out)["devices"][0]["extensions"], json({"VK_KHR_swapchain"}));
}

TEST(DeviceReport, ExactTextWithoutDevices) {
  const CommandRun run = WithFakeLoader("variant");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\n"
            "\t\"type\": \"Vulkan\",\n"
            "\t\"error\": \"\",\n"
            "\t\"version\": \"1.2.0 variant 1\",\n"
            "\t\"instance_extensions\": [\n"
            "\t\t\"VK_KHR_surface\",\n"
            "\t\t\"VK_EXT_debug_utils\"\n"
            "\t],\n"
            "\t\"devices\": [\n"
            "\n"
            "\t]\n"
            "}");
}

TEST(DeviceReport, NoLoaderAtAll) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding the system's loader needs a private mount namespace (root)";
  // In a mount namespace of its own the probe finds no usable loader: the
  // real one is covered by /dev/null.
  const CommandRun find = Shell("ldconfig -p | sed -n 's/.*libvulkan.so.1 (libc6,x86-64) => //p' | head -n1");
  std::string loader = find.out.substr(0, find.out.find('\n'));
  if (loader.empty()) loader = "/usr/lib/x86_64-linux-gnu/libvulkan.so.1";
  const CommandRun run = Shell("unshare --mount sh -c 'mount --bind /dev/null " + loader + " && exec " + Probe() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(run.out, m,
                               std::regex("\\{\n\t\"type\": \"Vulkan\",\n\t\"error\": \"(Failed to load vulkan library: "
                                          "[^\"\n]+)\",\n\t\"version\": \"\",\n\t\"instance_extensions\": \\[\n\n\t\\],\n"
                                          "\t\"devices\": \\[\n\n\t\\]\n\\}")))
      << run.out;
  EXPECT_EQ(run.err.substr(0, run.err.find(" @")), "LOG 2 " + m[1].str());
}

TEST(DeviceReport, LavapipeAgreesWithVulkaninfo) {
  Device_Context* context = nullptr;
  ASSERT_TRUE(device_create(nullptr, nullptr, &context));
  char* text = nullptr;
  int32_t length = 0;
  ASSERT_TRUE(device_get_report(context, &text, &length));
  const json report = json::parse(std::string(text, static_cast<std::size_t>(length)));
  device_free_report(context, text);
  device_destroy(context);
  ASSERT_EQ(report["error"], "") << report.dump();

  const auto dir = std::filesystem::temp_directory_path() / ("tev_vulkaninfo_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const CommandRun summary = Shell("cd " + dir.string() + " && vulkaninfo --json >/dev/null && vulkaninfo");
  ASSERT_EQ(summary.status, 0);
  json profile;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".json") profile = json::parse(std::ifstream(entry.path()));
  }
  std::filesystem::remove_all(dir);
  ASSERT_FALSE(profile.is_null());
  const json& caps = profile["capabilities"]["device"];
  const json& props = caps["properties"]["VkPhysicalDeviceProperties"];

  ASSERT_GE(report["devices"].size(), 1u);
  const json& device = report["devices"][0];
  EXPECT_NE(device["device_name"].get<std::string>().find("llvmpipe"), std::string::npos);
  EXPECT_EQ(device["device_name"], props["deviceName"]);
  EXPECT_EQ(device["api_version"], props["apiVersion"]);
  EXPECT_EQ(device["vendor_id"], props["vendorID"]);
  EXPECT_EQ(device["device_id"], props["deviceID"]);
  EXPECT_EQ(device["driver_version"], props["driverVersion"]);
  EXPECT_EQ("VK_PHYSICAL_DEVICE_TYPE_" + device["device_type"].get<std::string>(), props["deviceType"]);
  std::vector<std::string> theirs, ours = device["extensions"].get<std::vector<std::string>>();
  for (const auto& [name, version] : caps["extensions"].items()) theirs.push_back(name);
  std::sort(theirs.begin(), theirs.end());
  std::sort(ours.begin(), ours.end());
  EXPECT_EQ(ours, theirs);
  ASSERT_EQ(device["queues"].size(), caps["queueFamiliesProperties"].size());
  for (std::size_t i = 0; i < device["queues"].size(); ++i) {
    const json& family = caps["queueFamiliesProperties"][i]["VkQueueFamilyProperties"];
    EXPECT_EQ(device["queues"][i]["count"], family["queueCount"]);
    std::vector<std::string> flags;
    for (const auto& f : device["queues"][i]["flags"]) flags.push_back("VK_QUEUE_" + f.get<std::string>() + "_BIT");
    EXPECT_EQ(flags, family["queueFlags"].get<std::vector<std::string>>());
  }
  // Heap sizes and the instance version come from vulkaninfo's text form.
  std::vector<std::string> heap_sizes;
  const std::regex heap("\n\t\tsize += ([0-9]+) \\(0x");
  for (std::sregex_iterator it(summary.out.begin(), summary.out.end(), heap), end; it != end; ++it) {
    heap_sizes.push_back(render::FormatMemorySize(std::stoull((*it)[1].str())));
  }
  std::vector<std::string> ours_heaps;
  for (const auto& h : device["memory_heaps"]) ours_heaps.push_back(h["size"]);
  EXPECT_FALSE(ours_heaps.empty());
  // vulkaninfo lists every device; ours is the first one.
  ASSERT_GE(heap_sizes.size(), ours_heaps.size());
  heap_sizes.resize(ours_heaps.size());
  EXPECT_EQ(ours_heaps, heap_sizes);
  std::smatch version;
  ASSERT_TRUE(std::regex_search(summary.out, version, std::regex("Vulkan Instance Version: ([0-9.]+)")));
  EXPECT_EQ(report["version"], version[1].str());
}

TEST(DeviceReport, MemorySizeNotation) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0B"},
      {512, "512B"},
      {1023, "1023B"},
      {1024, "1.00KiB"},
      {1152, "1.12KiB"},  // 1.125: the tie goes to the even digit
      {1160, "1.13KiB"},
      {1048575, "1024.00KiB"},
      {268369920, "255.94MiB"},
      {8ull << 30, "8.00GiB"},
      {3ull << 40, "3.00TiB"},
      {1ull << 60, "1.00EiB"},
      {~0ull, "16.00EiB"},
  };
  for (const auto& c : cases) EXPECT_EQ(render::FormatMemorySize(c.bytes), c.text) << c.bytes;
}

TEST(DeviceReport, WriterLayoutAndEscapes) {
  std::pmr::monotonic_buffer_resource arena;
  render::VulkanDeviceReport report(&arena);
  report.type = "Vulkan";
  report.version = "1.3.0";
  auto& d = report.devices.emplace_back(&arena);
  d.api_version = 4206592;
  d.device_type = "CPU";
  d.device_name = "a\"b\\c\td\x1f";
  d.shader_int16 = true;
  auto& q = d.queues.emplace_back(&arena);
  q.count = 1;
  q.flags.emplace_back("COMPUTE");
  auto& h = d.memory_heaps.emplace_back(&arena);
  h.size = "1.00KiB";
  h.device = true;
  d.memory_types.emplace_back(&arena).heap = 0;
  render::HeapAllocator heap;
  render::JsonText text(heap);
  ASSERT_TRUE(text.Write(report));
  std::size_t length = 0;
  char* raw = text.Release(length);
  const std::string written(raw, length);
  heap.Free(raw);
  std::string flags;
  for (const char* m : kFlagMembers) flags += std::string("\t\t\t\"") + m + "\": " + (m == std::string("shader_int16") ? "true" : "false") + ",\n";
  EXPECT_EQ(written,
            "{\n\t\"type\": \"Vulkan\",\n\t\"error\": \"\",\n\t\"version\": \"1.3.0\",\n"
            "\t\"instance_extensions\": [\n\n\t],\n"
            "\t\"devices\": [\n\t\t{\n"
            "\t\t\t\"api_version\": 4206592,\n\t\t\t\"driver_version\": 0,\n\t\t\t\"vendor_id\": 0,\n"
            "\t\t\t\"device_id\": 0,\n\t\t\t\"device_type\": \"CPU\",\n"
            "\t\t\t\"device_name\": \"a\\\"b\\\\c\\td\\u001f\",\n" +
                flags +
                "\t\t\t\"queues\": [\n\t\t\t\t{\n\t\t\t\t\t\"count\": 1,\n\t\t\t\t\t\"flags\": [\n"
                "\t\t\t\t\t\t\"COMPUTE\"\n\t\t\t\t\t]\n\t\t\t\t}\n\t\t\t],\n"
                "\t\t\t\"memory_heaps\": [\n\t\t\t\t{\n\t\t\t\t\t\"size\": \"1.00KiB\",\n"
                "\t\t\t\t\t\"device\": true\n\t\t\t\t}\n\t\t\t],\n"
                "\t\t\t\"memory_types\": [\n\t\t\t\t{\n\t\t\t\t\t\"heap\": 0,\n\t\t\t\t\t\"flags\": [\n\n"
                "\t\t\t\t\t]\n\t\t\t\t}\n\t\t\t],\n"
                "\t\t\t\"extensions\": [\n\n\t\t\t]\n\t\t}\n\t]\n}");
}

// Fails the allocation with the given number (1 = the first).
class FailingAllocator final : public render::Allocator {
 public:
  explicit FailingAllocator(int fail_at) : fail_at_(fail_at) {}
  void* Allocate(std::size_t size) override { return ++count_ == fail_at_ ? nullptr : heap_.Allocate(size); }
  void* Reallocate(void* block, std::size_t size) override {
    return ++count_ == fail_at_ ? nullptr : heap_.Reallocate(block, size);
  }
  void Free(void* block) override { heap_.Free(block); }

 private:
  render::HeapAllocator heap_;
  int fail_at_;
  int count_ = 0;
};

std::vector<std::string> g_log;

TEST(DeviceReport, AllocationFailuresReturnZeroWithTheirLine) {
  const struct {
    int fail_at;
    const char* line;
  } cases[] = {
      {1, "Failed to allocate memory for report: Out_Of_Memory"},  // the scratch block
      {2, "Failed to serialize report: Out_Of_Memory"},            // the text's first block
  };
  for (const auto& c : cases) {
    FailingAllocator heap(c.fail_at);
    render::RuntimeContext context{&heap, render::Logger(
                                              [](int32_t level, const Log_Message* m, void*) {
                                                g_log.push_back(std::to_string(level) + " " +
                                                                std::string(m->message, m->message_length) + " @" +
                                                                std::string(m->file, m->file_length));
                                              },
                                              nullptr)};
    g_log.clear();
    char* text = reinterpret_cast<char*>(0x1);
    int32_t length = 77;
    EXPECT_FALSE(render::GetDeviceReport(context, &text, &length)) << c.line;
    EXPECT_EQ(text, reinterpret_cast<char*>(0x1));
    EXPECT_EQ(length, 77);
    ASSERT_FALSE(g_log.empty()) << c.line;
    const std::string& last = g_log.back();
    EXPECT_EQ(last.substr(0, last.find(" @")), std::string("2 ") + c.line);
    EXPECT_NE(last.find("device_report.cpp"), std::string::npos) << last;
  }
}

}  // namespace
