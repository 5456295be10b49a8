#pragma once
// Whole pages straight from the system, outside the C allocator: freeing them
// gives the memory back at once, whatever the allocator would keep.
#include <cstddef>

namespace platform {

// `size` bytes of zeroed pages, or nullptr with LastError() set.
void* AllocatePages(std::size_t size);
// Gives back what AllocatePages returned for the same size; nullptr is ignored.
void FreePages(void* pages, std::size_t size);

}  // namespace platform
