#pragma once
// The device report: the implementation's version and extensions and one
// entry per physical device, all held in the report's scratch block.
#include <cstdint>
#include <memory_resource>
#include <string>
#include <vector>

#include "runtime_context.h"

namespace render {

using String = std::pmr::string;
using StringList = std::pmr::vector<String>;

struct VulkanQueueInfo {
  explicit VulkanQueueInfo(std::pmr::memory_resource* mr) : flags(mr) {}
  std::uint32_t count = 0;
  StringList flags;
};

struct VulkanMemoryHeap {
  explicit VulkanMemoryHeap(std::pmr::memory_resource* mr) : size(mr) {}
  String size;
  bool device = false;
};

struct VulkanMemoryType {
  explicit VulkanMemoryType(std::pmr::memory_resource* mr) : flags(mr) {}
  std::uint32_t heap = 0;
  StringList flags;
};

struct VulkanDeviceInfo {
  explicit VulkanDeviceInfo(std::pmr::memory_resource* mr)
      : device_type(mr), device_name(mr), queues(mr), memory_heaps(mr), memory_types(mr), extensions(mr) {}
  std::uint32_t api_version = 0;
  std::uint32_t driver_version = 0;
  std::uint32_t vendor_id = 0;
  std::uint32_t device_id = 0;
  String device_type;
  String device_name;
  bool shader_int64 = false;
  bool shader_int16 = false;
  bool shader_int8 = false;
  bool shader_float16 = false;
  bool storage_buffer_16bit_access = false;
  bool uniform_and_storage_buffer_16bit_access = false;
  bool uniform_and_storage_buffer_8bit_access = false;
  bool buffer_device_address = false;
  bool descriptor_indexing = false;
  bool synchronization2 = false;
  bool dynamic_rendering = false;
  bool acceleration_structure = false;
  bool ray_query = false;
  bool descriptor_buffer = false;
  std::pmr::vector<VulkanQueueInfo> queues;
  std::pmr::vector<VulkanMemoryHeap> memory_heaps;
  std::pmr::vector<VulkanMemoryType> memory_types;
  StringList extensions;
};

struct VulkanDeviceReport {
  explicit VulkanDeviceReport(std::pmr::memory_resource* mr)
      : type(mr), error(mr), version(mr), instance_extensions(mr), devices(mr) {}
  String type;
  String error;
  String version;
  StringList instance_extensions;
  std::pmr::vector<VulkanDeviceInfo> devices;
};

// Surveys the machine's Vulkan implementation into `report`. A failing step
// ends the survey with "error" set and logged; what was gathered stays.
void BuildDeviceReport(VulkanDeviceReport& report, std::pmr::memory_resource* mr, const Logger& logger);

// Heap sizes: "512B", "1.00KiB", "255.94MiB" (two decimals, ties to even).
std::string FormatMemorySize(std::uint64_t bytes);

// The JSON text of `report`, laid out with tabs; false when memory ran out.
class JsonText {
 public:
  explicit JsonText(Allocator& heap) : heap_(heap) {}
  ~JsonText();
  JsonText(const JsonText&) = delete;
  JsonText& operator=(const JsonText&) = delete;

  bool Write(const VulkanDeviceReport& report);
  // Hands the text over; the caller frees it through the same allocator.
  char* Release(std::size_t& length);
  const char* error() const { return error_; }

 private:
  void Append(std::string_view text);
  bool failed() const { return error_ != nullptr; }

  Allocator& heap_;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  const char* error_ = nullptr;
};

// The whole procedure behind device_get_report, with the context's parts.
bool GetDeviceReport(RuntimeContext& context, char** out_text, std::int32_t* out_length);

}  // namespace render
