#include "ipc/shared_memory.h"

namespace {

std::int32_t ErrorFor(platform::SectionStatus status, bool creating) {
  switch (status) {
    case platform::SectionStatus::Ok:
      return kSharedMemoryOk;
    case platform::SectionStatus::AlreadyExists:
      return kSharedMemoryAlreadyExists;
    case platform::SectionStatus::CreateFailed:
      return kSharedMemoryCreateFailed;
    case platform::SectionStatus::MapFailed:
      return kSharedMemoryMapFailed;
    case platform::SectionStatus::OpenFailed:
      break;
  }
  return creating ? kSharedMemoryCreateFailed : kSharedMemoryOpenFailed;
}

}  // namespace

SharedMemory SharedMemory::Establish(const char* name, std::uint32_t size, bool creating) {
  SharedMemory record;
  if (name == nullptr || *name == '\0') {
    record.error = kSharedMemoryNoName;
    return record;
  }
  if (size == 0) {
    record.error = kSharedMemoryNoSize;
    return record;
  }
  const auto status = creating ? platform::CreateSection(name, size, record.section_)
                               : platform::OpenSection(name, size, record.section_);
  record.error = ErrorFor(status, creating);
  if (record.error != kSharedMemoryOk) return record;
  record.mapping = record.section_.handle;
  record.view = record.section_.view;
  record.size = size;
  record.name = name;
  return record;
}

SharedMemory SharedMemory::Create(const char* name, std::uint32_t size) { return Establish(name, size, true); }

SharedMemory SharedMemory::Open(const char* name, std::uint32_t size) { return Establish(name, size, false); }

void SharedMemory::RemoveName() { platform::RemoveSectionName(section_); }

void SharedMemory::Release() {
  platform::ReleaseSection(section_);
  *this = SharedMemory{};
}
