#include "device_report.h"

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "vulkan_context.h"

namespace render {
namespace {

using vulkan::g_commands;

struct FlagName {
  std::uint32_t bit;
  const char* name;
};

constexpr FlagName kQueueFlags[] = {
    {0x001, "GRAPHICS"},       {0x002, "COMPUTE"},   {0x004, "TRANSFER"},         {0x008, "SPARSE_BINDING"},
    {0x010, "PROTECTED"},      {0x020, "VIDEO_DECODE_KHR"}, {0x040, "VIDEO_ENCODE_KHR"}, {0x100, "OPTICAL_FLOW_NV"},
};

constexpr FlagName kMemoryFlags[] = {
    {0x001, "DEVICE_LOCAL"},        {0x002, "HOST_VISIBLE"},        {0x004, "HOST_COHERENT"},
    {0x008, "HOST_CACHED"},         {0x010, "LAZILY_ALLOCATED"},    {0x020, "PROTECTED"},
    {0x040, "DEVICE_COHERENT_AMD"}, {0x080, "DEVICE_UNCACHED_AMD"}, {0x100, "RDMA_CAPABLE_NV"},
};

template <std::size_t N>
void SetFlagNames(StringList& out, std::uint32_t flags, const FlagName (&table)[N]) {
  for (const auto& f : table) {
    if (flags & f.bit) out.emplace_back(f.name);
  }
}

const char* DeviceTypeName(VkPhysicalDeviceType type) {
  switch (static_cast<int>(type)) {
    case 0:
      return "OTHER";
    case 1:
      return "INTEGRATED_GPU";
    case 2:
      return "DISCRETE_GPU";
    case 3:
      return "VIRTUAL_GPU";
    case 4:
      return "CPU";
    default:
      return "";
  }
}

constexpr std::uint32_t kVersion11 = 0x00401000;

// One survey: owns the loader and the instance while it runs, whatever way
// it ends.
class Survey {
 public:
  Survey(VulkanDeviceReport& report, std::pmr::memory_resource* mr, const Logger& logger)
      : report_(report), mr_(mr), logger_(logger) {}
  ~Survey() {
    if (instance_ != VK_NULL_HANDLE && g_commands.DestroyInstance != nullptr) g_commands.DestroyInstance(instance_, nullptr);
    if (loaded_) vulkan::UnloadLoader();
  }

  void Run() {
    report_.type = "Vulkan";
    std::string system_error;
    if (!vulkan::LoadLoader(system_error)) return Fail("Failed to load vulkan library:", system_error);
    loaded_ = true;
    if (!vulkan::LoadEntryPoint(system_error)) return Fail("Failed to load vkGetInstanceProcAddr:", system_error);
    vulkan::LoadGlobalCommands();

    // A 1.0 loader has no vkEnumerateInstanceVersion: it is then 1.0.0.
    std::uint32_t version = VK_API_VERSION_1_0;
    if (g_commands.EnumerateInstanceVersion != nullptr &&
        !Check(g_commands.EnumerateInstanceVersion(&version), "Failed to get instance version:")) {
      return;
    }
    instance_version_ = version;
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u", VK_API_VERSION_MAJOR(version), VK_API_VERSION_MINOR(version),
                  VK_API_VERSION_PATCH(version));
    report_.version = text;
    if (VK_API_VERSION_VARIANT(version) != 0) {
      std::snprintf(text, sizeof text, " variant %u", VK_API_VERSION_VARIANT(version));
      report_.version += text;
    }

    std::uint32_t count = 0;
    if (!Check(g_commands.EnumerateInstanceExtensionProperties(nullptr, &count, nullptr),
               "Failed to get instance extension count:")) {
      return;
    }
    std::pmr::vector<VkExtensionProperties> extensions(count, mr_);
    if (!Check(g_commands.EnumerateInstanceExtensionProperties(nullptr, &count, extensions.data()),
               "Failed to get instance extensions:")) {
      return;
    }
    for (std::uint32_t i = 0; i < count && i < extensions.size(); ++i) {
      report_.instance_extensions.emplace_back(extensions[i].extensionName);
    }

    VkApplicationInfo application{};
    application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    application.pApplicationName = "Kelvara 3D";
    application.applicationVersion = VK_MAKE_VERSION(3, 0, 0);
    application.pEngineName = "TEV";
    application.engineVersion = VK_MAKE_VERSION(3, 0, 0);
    application.apiVersion = version;
    VkInstanceCreateInfo create{};
    create.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    create.pApplicationInfo = &application;
    if (!Check(g_commands.CreateInstance(&create, nullptr, &instance_), "Failed to create instance:")) {
      instance_ = VK_NULL_HANDLE;
      return;
    }
    vulkan::LoadInstanceCommands(instance_);

    if (!Check(g_commands.EnumeratePhysicalDevices(instance_, &count, nullptr), "Failed to get physical device count:")) {
      return;
    }
    std::pmr::vector<VkPhysicalDevice> handles(count, mr_);
    if (!Check(g_commands.EnumeratePhysicalDevices(instance_, &count, handles.data()), "Failed to get physical devices:")) {
      return;
    }
    handles.resize(std::min<std::size_t>(count, handles.size()));
    report_.devices.reserve(handles.size());
    for (std::size_t i = 0; i < handles.size(); ++i) report_.devices.emplace_back(mr_);
    for (std::size_t i = 0; i < handles.size(); ++i) {
      if (!SurveyDevice(handles[i], report_.devices[i])) return;
    }
  }

 private:
  // Logged with the location of the step that failed.
  void Fail(std::string_view what, std::string_view name,
            std::source_location where = std::source_location::current()) {
    report_.error.assign(what);
    report_.error.append(" ");
    report_.error.append(name);
    logger_.Log(LogLevel::Error, report_.error, where);
  }

  bool Check(VkResult result, const char* what, std::source_location where = std::source_location::current()) {
    if (result == VK_SUCCESS) return true;
    Fail(what, vulkan::ResultName(result), where);
    return false;
  }

  bool SurveyDevice(VkPhysicalDevice handle, VulkanDeviceInfo& device) {
    VkPhysicalDeviceProperties properties{};
    g_commands.GetPhysicalDeviceProperties(handle, &properties);
    device.api_version = properties.apiVersion;
    device.driver_version = properties.driverVersion;
    device.vendor_id = properties.vendorID;
    device.device_id = properties.deviceID;
    device.device_type = DeviceTypeName(properties.deviceType);
    device.device_name.assign(properties.deviceName, strnlen(properties.deviceName, sizeof properties.deviceName));

    std::uint32_t count = 0;
    g_commands.GetPhysicalDeviceQueueFamilyProperties(handle, &count, nullptr);
    std::pmr::vector<VkQueueFamilyProperties> families(count, mr_);
    g_commands.GetPhysicalDeviceQueueFamilyProperties(handle, &count, families.data());
    device.queues.reserve(count);
    for (std::uint32_t i = 0; i < count && i < families.size(); ++i) {
      auto& queue = device.queues.emplace_back(mr_);
      queue.count = families[i].queueCount;
      SetFlagNames(queue.flags, families[i].queueFlags, kQueueFlags);
    }

    VkPhysicalDeviceMemoryProperties memory{};
    g_commands.GetPhysicalDeviceMemoryProperties(handle, &memory);
    const std::uint32_t heaps = std::min<std::uint32_t>(memory.memoryHeapCount, VK_MAX_MEMORY_HEAPS);
    const std::uint32_t types = std::min<std::uint32_t>(memory.memoryTypeCount, VK_MAX_MEMORY_TYPES);
    device.memory_heaps.reserve(heaps);
    for (std::uint32_t i = 0; i < heaps; ++i) {
      auto& heap = device.memory_heaps.emplace_back(mr_);
      heap.size = FormatMemorySize(memory.memoryHeaps[i].size);
      heap.device = (memory.memoryHeaps[i].flags & VK_MEMORY_HEAP_DEVICE_LOCAL_BIT) != 0;
    }
    device.memory_types.reserve(types);
    for (std::uint32_t i = 0; i < types; ++i) {
      auto& type = device.memory_types.emplace_back(mr_);
      type.heap = memory.memoryTypes[i].heapIndex;
      SetFlagNames(type.flags, memory.memoryTypes[i].propertyFlags, kMemoryFlags);
    }

    if (!Check(g_commands.EnumerateDeviceExtensionProperties(handle, nullptr, &count, nullptr),
               "Failed to get device extension count:")) {
      return false;
    }
    std::pmr::vector<VkExtensionProperties> extensions(count, mr_);
    if (!Check(g_commands.EnumerateDeviceExtensionProperties(handle, nullptr, &count, extensions.data()),
               "Failed to get device extensions:")) {
      return false;
    }
    device.extensions.reserve(count);
    for (std::uint32_t i = 0; i < count && i < extensions.size(); ++i) device.extensions.emplace_back(extensions[i].extensionName);

    if (instance_version_ < kVersion11) {
      VkPhysicalDeviceFeatures core{};
      g_commands.GetPhysicalDeviceFeatures(handle, &core);
      device.shader_int64 = core.shaderInt64;
      device.shader_int16 = core.shaderInt16;
      return true;
    }
    // The same chain whatever the device offers.
    VkPhysicalDeviceRayQueryFeaturesKHR ray_query{};
    ray_query.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_QUERY_FEATURES_KHR;
    VkPhysicalDeviceAccelerationStructureFeaturesKHR acceleration{};
    acceleration.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR;
    acceleration.pNext = &ray_query;
    VkPhysicalDeviceDescriptorBufferFeaturesEXT descriptor_buffer{};
    descriptor_buffer.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DESCRIPTOR_BUFFER_FEATURES_EXT;
    descriptor_buffer.pNext = &acceleration;
    VkPhysicalDeviceVulkan13Features v13{};
    v13.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES;
    v13.pNext = &descriptor_buffer;
    VkPhysicalDeviceVulkan12Features v12{};
    v12.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES;
    v12.pNext = &v13;
    VkPhysicalDeviceVulkan11Features v11{};
    v11.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES;
    v11.pNext = &v12;
    VkPhysicalDeviceFeatures2 features{};
    features.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
    features.pNext = &v11;
    g_commands.GetPhysicalDeviceFeatures2(handle, &features);
    device.shader_int64 = features.features.shaderInt64;
    device.shader_int16 = features.features.shaderInt16;
    device.shader_int8 = v12.shaderInt8;
    device.shader_float16 = v12.shaderFloat16;
    device.storage_buffer_16bit_access = v11.storageBuffer16BitAccess;
    device.uniform_and_storage_buffer_16bit_access = v11.uniformAndStorageBuffer16BitAccess;
    device.uniform_and_storage_buffer_8bit_access = v12.uniformAndStorageBuffer8BitAccess;
    device.buffer_device_address = v12.bufferDeviceAddress;
    device.descriptor_indexing = v12.descriptorIndexing;
    device.synchronization2 = v13.synchronization2;
    device.dynamic_rendering = v13.dynamicRendering;
    device.acceleration_structure = acceleration.accelerationStructure;
    device.ray_query = ray_query.rayQuery;
    device.descriptor_buffer = descriptor_buffer.descriptorBuffer;
    return true;
  }

  VulkanDeviceReport& report_;
  std::pmr::memory_resource* mr_;
  const Logger& logger_;
  VkInstance instance_ = VK_NULL_HANDLE;
  bool loaded_ = false;
  std::uint32_t instance_version_ = 0;
};

}  // namespace

void BuildDeviceReport(VulkanDeviceReport& report, std::pmr::memory_resource* mr, const Logger& logger) {
  Survey(report, mr, logger).Run();
}

std::string FormatMemorySize(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%" PRIu64 "B", bytes);
    return text;
  }
  int unit = 0;
  long double divisor = 1024.0L;
  while (unit < 5 && bytes / static_cast<std::uint64_t>(divisor) >= 1024) {
    divisor *= 1024.0L;
    ++unit;
  }
  // The quotient of a power of two is exact, so printf's rounding of the
  // exact value gives ties to even.
  std::snprintf(text, sizeof text, "%.2Lf%s", static_cast<long double>(bytes) / divisor, kUnits[unit]);
  return text;
}

// ---- JSON -------------------------------------------------------------------

namespace {

class Writer {
 public:
  explicit Writer(JsonText& out, void (JsonText::*append)(std::string_view)) : out_(out), append_(append) {}

  void Put(std::string_view s) { (out_.*append_)(s); }
  void Indent(int level) {
    for (int i = 0; i < level; ++i) Put("\t");
  }
  void Key(int level, const char* key, bool first) {
    if (!first) Put(",\n");
    Indent(level);
    Put("\"");
    Put(key);
    Put("\": ");
  }
  void Text(std::string_view s) {
    Put("\"");
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      const char* escape = nullptr;
      char code[8];
      switch (c) {
        case '"': escape = "\\\""; break;
        case '\\': escape = "\\\\"; break;
        case '\b': escape = "\\b"; break;
        case '\f': escape = "\\f"; break;
        case '\n': escape = "\\n"; break;
        case '\r': escape = "\\r"; break;
        case '\t': escape = "\\t"; break;
        default:
          if (c < 0x20) {
            std::snprintf(code, sizeof code, "\\u%04x", c);
            escape = code;
          }
      }
      if (escape == nullptr) continue;
      Put(s.substr(run, i - run));
      Put(escape);
      run = i + 1;
    }
    Put(s.substr(run));
    Put("\"");
  }
  void Number(std::uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, v);
    Put(text);
  }
  void Bool(bool v) { Put(v ? "true" : "false"); }

  template <typename List, typename Each>
  void Array(int level, const List& items, Each&& each) {
    if (items.empty()) {
      Put("[\n\n");
      Indent(level);
      Put("]");
      return;
    }
    Put("[\n");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) Put(",\n");
      Indent(level + 1);
      each(items[i], level + 1);
    }
    Put("\n");
    Indent(level);
    Put("]");
  }
  void Strings(int level, const StringList& items) {
    Array(level, items, [this](const String& s, int) { Text(s); });
  }
  void Close(int level) {
    Put("\n");
    Indent(level);
    Put("}");
  }

 private:
  JsonText& out_;
  void (JsonText::*append_)(std::string_view);
};

}  // namespace

JsonText::~JsonText() {
  if (data_ != nullptr) heap_.Free(data_);
}

void JsonText::Append(std::string_view text) {
  if (failed() || text.empty()) return;
  if (text.size() > capacity_ - size_) {
    std::size_t capacity = capacity_ ? capacity_ : 4096;
    while (capacity - size_ < text.size()) capacity *= 2;
    void* grown = data_ ? heap_.Reallocate(data_, capacity) : heap_.Allocate(capacity);
    if (grown == nullptr) {
      error_ = heap_.ErrorName();
      return;
    }
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
  }
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

bool JsonText::Write(const VulkanDeviceReport& report) {
  Writer w(*this, &JsonText::Append);
  w.Put("{\n");
  w.Key(1, "type", true);
  w.Text(report.type);
  w.Key(1, "error", false);
  w.Text(report.error);
  w.Key(1, "version", false);
  w.Text(report.version);
  w.Key(1, "instance_extensions", false);
  w.Strings(1, report.instance_extensions);
  w.Key(1, "devices", false);
  w.Array(1, report.devices, [&w](const VulkanDeviceInfo& d, int level) {
    const int in = level + 1;
    w.Put("{\n");
    w.Key(in, "api_version", true);
    w.Number(d.api_version);
    w.Key(in, "driver_version", false);
    w.Number(d.driver_version);
    w.Key(in, "vendor_id", false);
    w.Number(d.vendor_id);
    w.Key(in, "device_id", false);
    w.Number(d.device_id);
    w.Key(in, "device_type", false);
    w.Text(d.device_type);
    w.Key(in, "device_name", false);
    w.Text(d.device_name);
    const std::pair<const char*, bool> flags[] = {
        {"shader_int64", d.shader_int64},
        {"shader_int16", d.shader_int16},
        {"shader_int8", d.shader_int8},
        {"shader_float16", d.shader_float16},
        {"storage_buffer_16bit_access", d.storage_buffer_16bit_access},
        {"uniform_and_storage_buffer_16bit_access", d.uniform_and_storage_buffer_16bit_access},
        {"uniform_and_storage_buffer_8bit_access", d.uniform_and_storage_buffer_8bit_access},
        {"buffer_device_address", d.buffer_device_address},
        {"descriptor_indexing", d.descriptor_indexing},
        {"synchronization2", d.synchronization2},
        {"dynamic_rendering", d.dynamic_rendering},
        {"acceleration_structure", d.acceleration_structure},
        {"ray_query", d.ray_query},
        {"descriptor_buffer", d.descriptor_buffer},
    };
    for (const auto& [key, value] : flags) {
      w.Key(in, key, false);
      w.Bool(value);
    }
    w.Key(in, "queues", false);
    w.Array(in, d.queues, [&w](const VulkanQueueInfo& q, int ql) {
      w.Put("{\n");
      w.Key(ql + 1, "count", true);
      w.Number(q.count);
      w.Key(ql + 1, "flags", false);
      w.Strings(ql + 1, q.flags);
      w.Close(ql);
    });
    w.Key(in, "memory_heaps", false);
    w.Array(in, d.memory_heaps, [&w](const VulkanMemoryHeap& h, int hl) {
      w.Put("{\n");
      w.Key(hl + 1, "size", true);
      w.Text(h.size);
      w.Key(hl + 1, "device", false);
      w.Bool(h.device);
      w.Close(hl);
    });
    w.Key(in, "memory_types", false);
    w.Array(in, d.memory_types, [&w](const VulkanMemoryType& t, int tl) {
      w.Put("{\n");
      w.Key(tl + 1, "heap", true);
      w.Number(t.heap);
      w.Key(tl + 1, "flags", false);
      w.Strings(tl + 1, t.flags);
      w.Close(tl);
    });
    w.Key(in, "extensions", false);
    w.Strings(in, d.extensions);
    w.Close(level);
  });
  w.Close(0);
  if (!failed() && size_ > static_cast<std::size_t>(INT32_MAX)) error_ = "Too_Large";
  return !failed();
}

char* JsonText::Release(std::size_t& length) {
  length = size_;
  char* text = data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return text;
}

bool GetDeviceReport(RuntimeContext& context, char** out_text, std::int32_t* out_length) {
  ScratchBlock scratch(*context.heap);
  if (!scratch.ok()) {
    context.logger.Log(LogLevel::Error, std::string("Failed to allocate memory for report: ") + context.heap->ErrorName());
    return false;
  }
  try {
    VulkanDeviceReport report(scratch.resource());
    BuildDeviceReport(report, scratch.resource(), context.logger);
    JsonText json(*context.heap);
    if (!json.Write(report)) {
      context.logger.Log(LogLevel::Error, std::string("Failed to serialize report: ") + json.error());
      return false;
    }
    std::size_t length = 0;
    *out_text = json.Release(length);
    *out_length = static_cast<std::int32_t>(length);
    return true;
  } catch (const std::bad_alloc&) {
    // The report outgrew its scratch block.
    context.logger.Log(LogLevel::Error, "Failed to allocate memory for report: Out_Of_Memory");
    return false;
  }
}

}  // namespace render
