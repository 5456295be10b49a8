#pragma once
// Starting a program that inherits the caller's inheritable handles.
#include <string>

#include "platform/handle.h"

namespace platform {

using ProcessId = long;
inline constexpr ProcessId kNoProcess = -1;

// Starts `program` with `command_line` as its whole command line (on POSIX the
// single entry of its argument vector), the caller's environment and working
// directory. `inherited` (or kInvalidHandle for none) is the one handle of
// ours the child receives, under the same number; every other handle stays
// behind. Returns false with `error` set to the system code.
bool StartProcessWithInheritance(const std::string& program, const std::string& command_line,
                                 NativeHandle inherited, ProcessId& pid, int& error);

// Marks a handle of ours as not inherited by any child started later.
bool KeepFromChildren(NativeHandle handle);

// Collects `pid` if it has ended, without waiting. True when it is gone (or was
// never ours); false while it still runs.
bool ReapIfExited(ProcessId pid);

}  // namespace platform
