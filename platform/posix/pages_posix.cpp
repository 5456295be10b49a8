#include "platform/pages.h"

#include <sys/mman.h>

namespace platform {

void* AllocatePages(std::size_t size) {
  void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void* ResizePages(void* pages, std::size_t size, std::size_t new_size) {
  void* resized = ::mremap(pages, size, new_size, MREMAP_MAYMOVE);
  return resized == MAP_FAILED ? nullptr : resized;
}

void PreferLargePages(void* pages, std::size_t size) { ::madvise(pages, size, MADV_HUGEPAGE); }

void FreePages(void* pages, std::size_t size) {
  if (pages != nullptr) ::munmap(pages, size);
}

}  // namespace platform
