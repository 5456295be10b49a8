#pragma once
// A connected, duplex byte stream whose second end a child process inherits.
#include <cstddef>

#include "platform/handle.h"

namespace platform {

// Neither end is inherited by children, except by the one start that names
// `peer` as the handle it passes on.
struct DuplexPipe {
  NativeHandle local = kInvalidHandle;
  NativeHandle peer = kInvalidHandle;
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
