#pragma once
// A connected, duplex byte stream whose second end a child process inherits.
#include <cstddef>

#include "platform/handle.h"

namespace platform {

struct DuplexPipe {
  NativeHandle local = kInvalidHandle;  // not inherited by children
  NativeHandle peer = kInvalidHandle;   // inherited by children started later
};

// Makes both ends. On failure returns false with LastError() set.
bool CreateDuplexPipe(DuplexPipe& out);

// Writes every byte (resuming short and interrupted writes). A peer that has
// gone away gives false with LastError() set, never a signal.
bool WriteAll(NativeHandle handle, const void* data, std::size_t size);

// Reads up to `size` bytes. Returns the count (> 0), 0 at end of stream, or
// -1 with LastError() set. Interrupted reads are resumed.
long ReadSome(NativeHandle handle, void* data, std::size_t size);

// The error code reported when the peer has closed its end.
int BrokenPipeError();

}  // namespace platform
