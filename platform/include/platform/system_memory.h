#pragma once
// How much memory the machine has.
#include <cstdint>

namespace platform {

// The machine's physical memory in bytes; 0 when the system cannot tell.
std::uint64_t PhysicalMemoryBytes();

}  // namespace platform
