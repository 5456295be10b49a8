#pragma once
// Whole pages straight from the system, outside the C allocator: freeing them
// gives the memory back at once, whatever the allocator would keep.
#include <cstddef>

namespace platform {

// `size` bytes of zeroed pages, or nullptr with LastError() set.
void* AllocatePages(std::size_t size);
// Resizes what AllocatePages (or this) returned, keeping its bytes; it may
// move. nullptr (the old pages still held) when it cannot.
void* ResizePages(void* pages, std::size_t size, std::size_t new_size);
// Asks for the pages to be backed by large pages where the system can; a hint.
void PreferLargePages(void* pages, std::size_t size);
// Gives back what AllocatePages returned for the same size; nullptr is ignored.
void FreePages(void* pages, std::size_t size);

}  // namespace platform
