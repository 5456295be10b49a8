// A stand-in Vulkan loader (built as libvulkan.so.1 in its own folder) whose
// answers follow the scenario named by TEV_FAKE_VULKAN:
//   modern       1.3.280, one device: type 5, queue flags 0x107 and 0, heaps of
//                1023, 1024 and 268,369,920 bytes, a memory type without flags
//   variant      variant 1 of 1.2.0, no devices
//   v1_0         1.0.0, one device; vkGetPhysicalDeviceFeatures2 aborts if called
//   no_version   a 1.0 loader without vkEnumerateInstanceVersion
//   two_devices  the second device fails its extension count
//   incomplete   the instance extension list comes back INCOMPLETE
#include <cstdlib>
#include <cstring>
#include <string>
#include <vulkan/vulkan.h>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {

std::string Scenario() {
  const char* s = std::getenv("TEV_FAKE_VULKAN");
  return s ? s : "";
}

VkInstance const kInstance = reinterpret_cast<VkInstance>(0x1000);
VkPhysicalDevice const kDevices[] = {reinterpret_cast<VkPhysicalDevice>(0x2000),
                                     reinterpret_cast<VkPhysicalDevice>(0x3000)};

template <typename T>
VkResult Fill(uint32_t* count, T* out, const T* items, uint32_t n) {
  if (out == nullptr) {
    *count = n;
    return VK_SUCCESS;
  }
  const uint32_t k = *count < n ? *count : n;
  for (uint32_t i = 0; i < k; ++i) out[i] = items[i];
  *count = k;
  return k < n ? VK_INCOMPLETE : VK_SUCCESS;
}

VkExtensionProperties Extension(const char* name) {
  VkExtensionProperties e{};
  std::strncpy(e.extensionName, name, sizeof e.extensionName - 1);
  e.specVersion = 1;
  return e;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceVersion(uint32_t* version) {
  const std::string s = Scenario();
  if (s == "variant") {
    *version = VK_MAKE_API_VERSION(1, 1, 2, 0);
  } else if (s == "v1_0") {
    *version = VK_MAKE_API_VERSION(0, 1, 0, 0);
  } else {
    *version = VK_MAKE_API_VERSION(0, 1, 3, 280);
  }
  return VK_SUCCESS;
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceExtensionProperties(const char*, uint32_t* count,
                                                                    VkExtensionProperties* out) {
  const VkExtensionProperties items[] = {Extension("VK_KHR_surface"), Extension("VK_EXT_debug_utils")};
  if (Scenario() == "incomplete" && out != nullptr) {
    *count = 1;
    out[0] = items[0];
    return VK_INCOMPLETE;
  }
  return Fill(count, out, items, 2);
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateInstanceLayerProperties(uint32_t* count, VkLayerProperties*) {
  *count = 0;
  return VK_SUCCESS;
}

VKAPI_ATTR VkResult VKAPI_CALL CreateInstance(const VkInstanceCreateInfo* info, const VkAllocationCallbacks*,
                                              VkInstance* instance) {
  // The application identity and the requested version must be as sent.
  const VkApplicationInfo* app = info->pApplicationInfo;
  if (app == nullptr || std::strcmp(app->pApplicationName, "Kelvara 3D") != 0 ||
      std::strcmp(app->pEngineName, "TEV") != 0 || app->applicationVersion != 0x00C00000u ||
      app->engineVersion != 0x00C00000u || info->enabledExtensionCount != 0 || info->enabledLayerCount != 0) {
    return VK_ERROR_INITIALIZATION_FAILED;
  }
  uint32_t expected = 0;
  EnumerateInstanceVersion(&expected);
  if (Scenario() != "no_version" && app->apiVersion != expected) return VK_ERROR_INCOMPATIBLE_DRIVER;
  *instance = kInstance;
  return VK_SUCCESS;
}

VKAPI_ATTR void VKAPI_CALL DestroyInstance(VkInstance, const VkAllocationCallbacks*) {}

VKAPI_ATTR VkResult VKAPI_CALL EnumeratePhysicalDevices(VkInstance, uint32_t* count, VkPhysicalDevice* out) {
  const std::string s = Scenario();
  const uint32_t n = s == "variant" ? 0 : s == "two_devices" ? 2 : 1;
  return Fill(count, out, kDevices, n);
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceProperties(VkPhysicalDevice device, VkPhysicalDeviceProperties* p) {
  *p = VkPhysicalDeviceProperties{};
  const bool second = device == kDevices[1];
  p->apiVersion = VK_MAKE_API_VERSION(0, 1, 3, 280);
  p->driverVersion = second ? 7 : 42;
  p->vendorID = 0x1234;
  p->deviceID = second ? 0x9999 : 0x5678;
  p->deviceType = static_cast<VkPhysicalDeviceType>(Scenario() == "modern" ? 5 : 2);
  std::strcpy(p->deviceName, second ? "Second" : "Fake \"GPU\" \\ one\n\x01");
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceQueueFamilyProperties(VkPhysicalDevice, uint32_t* count,
                                                                 VkQueueFamilyProperties* out) {
  VkQueueFamilyProperties items[2]{};
  items[0].queueFlags = 0x107;
  items[0].queueCount = 2;
  items[1].queueFlags = 0;
  items[1].queueCount = 1;
  Fill(count, out, items, 2);
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceMemoryProperties(VkPhysicalDevice, VkPhysicalDeviceMemoryProperties* m) {
  *m = VkPhysicalDeviceMemoryProperties{};
  m->memoryHeapCount = 3;
  m->memoryHeaps[0] = {1023, VK_MEMORY_HEAP_DEVICE_LOCAL_BIT};
  m->memoryHeaps[1] = {1024, 0};
  m->memoryHeaps[2] = {268369920, 0};
  m->memoryTypeCount = 2;
  m->memoryTypes[0] = {0, 0};
  m->memoryTypes[1] = {0x1ff, 2};
}

VKAPI_ATTR VkResult VKAPI_CALL EnumerateDeviceExtensionProperties(VkPhysicalDevice device, const char*,
                                                                  uint32_t* count, VkExtensionProperties* out) {
  if (Scenario() == "two_devices" && device == kDevices[1]) return VK_ERROR_OUT_OF_HOST_MEMORY;
  const VkExtensionProperties items[] = {Extension("VK_KHR_swapchain")};
  return Fill(count, out, items, 1);
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceFeatures(VkPhysicalDevice, VkPhysicalDeviceFeatures* f) {
  *f = VkPhysicalDeviceFeatures{};
  f->shaderInt64 = VK_TRUE;
  f->shaderInt16 = VK_TRUE;
}

VKAPI_ATTR void VKAPI_CALL GetPhysicalDeviceFeatures2(VkPhysicalDevice, VkPhysicalDeviceFeatures2* f) {
  if (Scenario() == "v1_0") std::abort();  // a 1.0 instance has no such command
  // The chain must be exactly this, in this order.
  const VkStructureType order[] = {
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES,
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES,
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES,
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DESCRIPTOR_BUFFER_FEATURES_EXT,
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR,
      VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_QUERY_FEATURES_KHR,
  };
  auto* node = static_cast<VkBaseOutStructure*>(f->pNext);
  for (VkStructureType expected : order) {
    if (node == nullptr || node->sType != expected) return;  // leave everything false
    node = node->pNext;
  }
  if (node != nullptr) return;
  f->features.shaderInt64 = VK_TRUE;
  auto* v11 = static_cast<VkPhysicalDeviceVulkan11Features*>(f->pNext);
  v11->storageBuffer16BitAccess = VK_TRUE;
  auto* v12 = static_cast<VkPhysicalDeviceVulkan12Features*>(v11->pNext);
  v12->shaderInt8 = VK_TRUE;
  v12->bufferDeviceAddress = VK_TRUE;
  auto* v13 = static_cast<VkPhysicalDeviceVulkan13Features*>(v12->pNext);
  v13->dynamicRendering = VK_TRUE;
  auto* descriptor = static_cast<VkPhysicalDeviceDescriptorBufferFeaturesEXT*>(v13->pNext);
  descriptor->descriptorBuffer = VK_TRUE;
  auto* acceleration = static_cast<VkPhysicalDeviceAccelerationStructureFeaturesKHR*>(descriptor->pNext);
  auto* ray = static_cast<VkPhysicalDeviceRayQueryFeaturesKHR*>(acceleration->pNext);
  ray->rayQuery = VK_TRUE;
}

}  // namespace

FAKE_API PFN_vkVoidFunction vkGetInstanceProcAddr(VkInstance, const char* name) {
  const std::string n = name;
#define FAKE_COMMAND(command) \
  if (n == "vk" #command) return reinterpret_cast<PFN_vkVoidFunction>(&command);
  if (n == "vkEnumerateInstanceVersion") {
    return Scenario() == "no_version" ? nullptr : reinterpret_cast<PFN_vkVoidFunction>(&EnumerateInstanceVersion);
  }
  FAKE_COMMAND(EnumerateInstanceExtensionProperties)
  FAKE_COMMAND(EnumerateInstanceLayerProperties)
  FAKE_COMMAND(CreateInstance)
  FAKE_COMMAND(DestroyInstance)
  FAKE_COMMAND(EnumeratePhysicalDevices)
  FAKE_COMMAND(GetPhysicalDeviceProperties)
  FAKE_COMMAND(GetPhysicalDeviceQueueFamilyProperties)
  FAKE_COMMAND(GetPhysicalDeviceMemoryProperties)
  FAKE_COMMAND(EnumerateDeviceExtensionProperties)
  FAKE_COMMAND(GetPhysicalDeviceFeatures)
  FAKE_COMMAND(GetPhysicalDeviceFeatures2)
#undef FAKE_COMMAND
  return nullptr;
}
