#pragma once
// The 128 MiB section through which frames reach the host: one frame at
// offset 0, BGRA, rows top to bottom without padding.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/shared_section.h"

inline constexpr std::uint32_t kFrameBufferSize = 134217728u;  // 0x8000000
inline constexpr const char* kSectionNamePrefix = "TEVBrowserIPC_";

enum SharedMemoryError : std::int32_t {
  kSharedMemoryOk = 0,
  kSharedMemoryNoName = 2,
  kSharedMemoryNoSize = 9,
  kSharedMemoryCreateFailed = 10,
  kSharedMemoryAlreadyExists = 11,
  kSharedMemoryMapFailed = 12,
  kSharedMemoryOpenFailed = 13,
};

struct SharedMemory {
  platform::NativeHandle mapping = platform::kInvalidHandle;
  void* view = nullptr;
  std::uint32_t size = 0;
  std::int32_t error = kSharedMemoryOk;
  std::optional<std::string> name;

  // Host side: a new section; a name already in use is error 11.
  static SharedMemory Create(const char* name, std::uint32_t size);
  // Browser-process side: an existing section; an unknown name is error 13.
  static SharedMemory Open(const char* name, std::uint32_t size);
  // Removes the section's name while both mappings stay: the browser process
  // does this once it has mapped the section, so a crash of either side
  // leaves nothing behind.
  void RemoveName();
  // Unmaps and closes what the record holds; the creator's release also
  // removes the name if it is still there. An empty record is left as it is.
  void Release();

 private:
  static SharedMemory Establish(const char* name, std::uint32_t size, bool creating);
  platform::SectionMapping section_;  // what the platform needs to let go
};
