#include "platform/shared_section.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string SystemName(const std::string& name) { return "/" + name; }

void* MapWhole(int fd, std::size_t size) {
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

// Whether the name still leads to the object this mapping holds.
bool NameStillOurs(const SectionMapping& mapping) {
  if (mapping.system_name.empty() || mapping.handle == kInvalidHandle) return false;
  const int fd = ::shm_open(mapping.system_name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd == -1) return false;
  struct stat named {}, ours {};
  const bool same = ::fstat(fd, &named) == 0 && ::fstat(static_cast<int>(mapping.handle), &ours) == 0 &&
                    named.st_dev == ours.st_dev && named.st_ino == ours.st_ino;
  ::close(fd);
  return same;
}

}  // namespace

SectionStatus CreateSection(const std::string& name, std::size_t size, SectionMapping& out) {
  const std::string system_name = SystemName(name);
  // Mode 0600: only this user's processes can open the pictures.
  const int fd = ::shm_open(system_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd == -1) return errno == EEXIST ? SectionStatus::AlreadyExists : SectionStatus::CreateFailed;
  // A half-made section is removed again; the caller sees the first error.
  auto abandon = [&](SectionStatus status) {
    const int saved = errno;
    ::shm_unlink(system_name.c_str());
    errno = saved;
    CloseHandle(fd);
    return status;
  };
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return abandon(SectionStatus::CreateFailed);
  void* view = MapWhole(fd, size);
  if (view == nullptr) return abandon(SectionStatus::MapFailed);
  out = SectionMapping{fd, view, size, true, system_name};
  return SectionStatus::Ok;
}

SectionStatus OpenSection(const std::string& name, std::size_t size, SectionMapping& out) {
  const std::string system_name = SystemName(name);
  const int fd = ::shm_open(system_name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd == -1) return SectionStatus::OpenFailed;
  // Touching pages past the end of a shorter object would raise SIGBUS.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || static_cast<std::size_t>(info.st_size) < size) {
    CloseHandle(fd);
    errno = EINVAL;
    return SectionStatus::MapFailed;
  }
  void* view = MapWhole(fd, size);
  if (view == nullptr) {
    CloseHandle(fd);
    return SectionStatus::MapFailed;
  }
  out = SectionMapping{fd, view, size, false, system_name};
  return SectionStatus::Ok;
}

void RemoveSectionName(SectionMapping& mapping) {
  if (NameStillOurs(mapping)) ::shm_unlink(mapping.system_name.c_str());
  mapping.created = false;
}

void ReleaseSection(SectionMapping& mapping) {
  // The name may be gone already (the other side removed it once mapped),
  // and even taken by a newer section of someone else's, which stays.
  if (mapping.created) RemoveSectionName(mapping);
  if (mapping.handle != kInvalidHandle) ::close(static_cast<int>(mapping.handle));
  if (mapping.view != nullptr) ::munmap(mapping.view, mapping.size);
  mapping = SectionMapping{};
}

}  // namespace platform
