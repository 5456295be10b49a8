#pragma once
// Native handles and the system error code, as the rest of the system sees them.
#include <cstddef>
#include <cstdint>

namespace platform {

// A file descriptor on POSIX; a HANDLE value on Win32.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

// The calling thread's last system error (errno / GetLastError()).
int LastError();
void SetLastError(int code);
// The code for an allocation that failed.
int OutOfMemoryError();

// Closes a handle that is not kInvalidHandle; keeps the caller's error code.
void CloseHandle(NativeHandle handle);

// Reads up to `size` bytes: how many came, 0 at the end, -1 on an error.
long ReadHandle(NativeHandle handle, void* buffer, std::size_t size);

// True when `handle` names an open descriptor of this process.
bool IsOpenHandle(NativeHandle handle);

}  // namespace platform
