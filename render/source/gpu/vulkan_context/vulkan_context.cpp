#include "vulkan_context.h"

#include "platform/shared_library.h"

namespace render::vulkan {

Commands g_commands;

namespace {

// The system's Vulkan loader.
#if defined(_WIN32)
constexpr const char* kLoaderName = "vulkan-1.dll";
#else
constexpr const char* kLoaderName = "libvulkan.so.1";
#endif

void* g_loader = nullptr;

template <typename F>
void Resolve(F& slot, VkInstance instance, const char* name) {
  slot = reinterpret_cast<F>(g_commands.GetInstanceProcAddr(instance, name));
}

}  // namespace

bool LoadLoader(std::string& error) {
  g_loader = platform::LoadSharedLibrary(kLoaderName, error);
  return g_loader != nullptr;
}

bool LoadEntryPoint(std::string& error) {
  g_commands.GetInstanceProcAddr =
      reinterpret_cast<PFN_vkGetInstanceProcAddr>(platform::FindSymbol(g_loader, "vkGetInstanceProcAddr", error));
  return g_commands.GetInstanceProcAddr != nullptr;
}

void LoadGlobalCommands() {
  Resolve(g_commands.CreateInstance, nullptr, "vkCreateInstance");
  Resolve(g_commands.EnumerateInstanceExtensionProperties, nullptr, "vkEnumerateInstanceExtensionProperties");
  Resolve(g_commands.EnumerateInstanceLayerProperties, nullptr, "vkEnumerateInstanceLayerProperties");
  Resolve(g_commands.EnumerateInstanceVersion, nullptr, "vkEnumerateInstanceVersion");
}

void LoadInstanceCommands(VkInstance instance) {
  Resolve(g_commands.DestroyInstance, instance, "vkDestroyInstance");
  Resolve(g_commands.EnumeratePhysicalDevices, instance, "vkEnumeratePhysicalDevices");
  Resolve(g_commands.GetPhysicalDeviceProperties, instance, "vkGetPhysicalDeviceProperties");
  Resolve(g_commands.GetPhysicalDeviceQueueFamilyProperties, instance, "vkGetPhysicalDeviceQueueFamilyProperties");
  Resolve(g_commands.GetPhysicalDeviceMemoryProperties, instance, "vkGetPhysicalDeviceMemoryProperties");
  Resolve(g_commands.EnumerateDeviceExtensionProperties, instance, "vkEnumerateDeviceExtensionProperties");
  Resolve(g_commands.GetPhysicalDeviceFeatures, instance, "vkGetPhysicalDeviceFeatures");
  Resolve(g_commands.GetPhysicalDeviceFeatures2, instance, "vkGetPhysicalDeviceFeatures2");
}

void UnloadLoader() {
  platform::UnloadSharedLibrary(g_loader);
  g_loader = nullptr;
  g_commands = Commands{};
}

const char* ResultName(VkResult result) {
  switch (result) {
#define TEV_RESULT(name) \
  case VK_##name:        \
    return #name;
    TEV_RESULT(SUCCESS)
    TEV_RESULT(NOT_READY)
    TEV_RESULT(TIMEOUT)
    TEV_RESULT(EVENT_SET)
    TEV_RESULT(EVENT_RESET)
    TEV_RESULT(INCOMPLETE)
    TEV_RESULT(ERROR_OUT_OF_HOST_MEMORY)
    TEV_RESULT(ERROR_OUT_OF_DEVICE_MEMORY)
    TEV_RESULT(ERROR_INITIALIZATION_FAILED)
    TEV_RESULT(ERROR_DEVICE_LOST)
    TEV_RESULT(ERROR_MEMORY_MAP_FAILED)
    TEV_RESULT(ERROR_LAYER_NOT_PRESENT)
    TEV_RESULT(ERROR_EXTENSION_NOT_PRESENT)
    TEV_RESULT(ERROR_FEATURE_NOT_PRESENT)
    TEV_RESULT(ERROR_INCOMPATIBLE_DRIVER)
    TEV_RESULT(ERROR_TOO_MANY_OBJECTS)
    TEV_RESULT(ERROR_FORMAT_NOT_SUPPORTED)
    TEV_RESULT(ERROR_FRAGMENTED_POOL)
    TEV_RESULT(ERROR_UNKNOWN)
    TEV_RESULT(ERROR_OUT_OF_POOL_MEMORY)
    TEV_RESULT(ERROR_INVALID_EXTERNAL_HANDLE)
    TEV_RESULT(ERROR_FRAGMENTATION)
    TEV_RESULT(ERROR_INVALID_OPAQUE_CAPTURE_ADDRESS)
    TEV_RESULT(PIPELINE_COMPILE_REQUIRED)
    TEV_RESULT(ERROR_SURFACE_LOST_KHR)
    TEV_RESULT(ERROR_NATIVE_WINDOW_IN_USE_KHR)
    TEV_RESULT(SUBOPTIMAL_KHR)
    TEV_RESULT(ERROR_OUT_OF_DATE_KHR)
    TEV_RESULT(ERROR_INCOMPATIBLE_DISPLAY_KHR)
    TEV_RESULT(ERROR_VALIDATION_FAILED_EXT)
    TEV_RESULT(ERROR_INVALID_SHADER_NV)
    TEV_RESULT(ERROR_INVALID_DRM_FORMAT_MODIFIER_PLANE_LAYOUT_EXT)
    TEV_RESULT(ERROR_NOT_PERMITTED_KHR)
    TEV_RESULT(ERROR_FULL_SCREEN_EXCLUSIVE_MODE_LOST_EXT)
    TEV_RESULT(THREAD_IDLE_KHR)
    TEV_RESULT(THREAD_DONE_KHR)
    TEV_RESULT(OPERATION_DEFERRED_KHR)
    TEV_RESULT(OPERATION_NOT_DEFERRED_KHR)
    TEV_RESULT(ERROR_COMPRESSION_EXHAUSTED_EXT)
#undef TEV_RESULT
    default:
      return "UNKNOWN_RESULT";
  }
}

}  // namespace render::vulkan
