#pragma once
// Named shared memory, created by one process and opened by name in another.
#include <cstddef>
#include <string>

#include "platform/handle.h"

namespace platform {

enum class SectionStatus { Ok, AlreadyExists, CreateFailed, MapFailed, OpenFailed };

struct SectionMapping {
  NativeHandle handle = kInvalidHandle;
  void* view = nullptr;
  std::size_t size = 0;
  bool created = false;  // the creator removes the name when it lets go
  std::string system_name;
};

// Creates a new section of `size` bytes; an existing name is never reused.
SectionStatus CreateSection(const std::string& name, std::size_t size, SectionMapping& out);
// Opens an existing section; one smaller than `size` cannot be mapped.
SectionStatus OpenSection(const std::string& name, std::size_t size, SectionMapping& out);
// Removes the name, so no other process can open the section any more and
// nothing is left behind if either side crashes; the mappings stay valid.
void RemoveSectionName(SectionMapping& mapping);
// Unmaps and closes; the creator also removes the name if it still names
// this section. Safe on an empty mapping.
void ReleaseSection(SectionMapping& mapping);

}  // namespace platform
