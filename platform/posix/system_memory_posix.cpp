#include "platform/system_memory.h"

#include <unistd.h>

namespace platform {

std::uint64_t PhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), page_size = ::sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page_size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) : 0;
}

}  // namespace platform
