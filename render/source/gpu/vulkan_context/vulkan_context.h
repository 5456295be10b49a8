#pragma once
// The Vulkan loader, loaded at run time, and the commands the report uses.
// The command addresses are process-wide and reloaded for every report.
#include <string>
#include <vulkan/vulkan.h>

namespace render::vulkan {

struct Commands {
  PFN_vkGetInstanceProcAddr GetInstanceProcAddr = nullptr;
  PFN_vkCreateInstance CreateInstance = nullptr;
  PFN_vkEnumerateInstanceExtensionProperties EnumerateInstanceExtensionProperties = nullptr;
  PFN_vkEnumerateInstanceLayerProperties EnumerateInstanceLayerProperties = nullptr;
  PFN_vkEnumerateInstanceVersion EnumerateInstanceVersion = nullptr;
  PFN_vkDestroyInstance DestroyInstance = nullptr;
  PFN_vkEnumeratePhysicalDevices EnumeratePhysicalDevices = nullptr;
  PFN_vkGetPhysicalDeviceProperties GetPhysicalDeviceProperties = nullptr;
  PFN_vkGetPhysicalDeviceQueueFamilyProperties GetPhysicalDeviceQueueFamilyProperties = nullptr;
  PFN_vkGetPhysicalDeviceMemoryProperties GetPhysicalDeviceMemoryProperties = nullptr;
  PFN_vkEnumerateDeviceExtensionProperties EnumerateDeviceExtensionProperties = nullptr;
  PFN_vkGetPhysicalDeviceFeatures GetPhysicalDeviceFeatures = nullptr;
  PFN_vkGetPhysicalDeviceFeatures2 GetPhysicalDeviceFeatures2 = nullptr;
};

extern Commands g_commands;

// Loads the loader; on failure `error` is the system's text and false returns.
bool LoadLoader(std::string& error);
// Looks up vkGetInstanceProcAddr in the loaded loader.
bool LoadEntryPoint(std::string& error);
// The commands that need no instance, then those of `instance`.
void LoadGlobalCommands();
void LoadInstanceCommands(VkInstance instance);
void UnloadLoader();

// "ERROR_INITIALIZATION_FAILED" for VK_ERROR_INITIALIZATION_FAILED.
const char* ResultName(VkResult result);

}  // namespace render::vulkan
