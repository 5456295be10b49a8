#pragma once
// Starting programs: one that inherits a handle of ours, one whose standard
// streams are pipes of ours, and one server child; waiting for them.
#include <string>
#include <vector>

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

// Which of a child's standard streams are pipes to us. With any of them
// piped, the others are /dev/null; with none, the child shares ours.
struct ChildStreams {
  bool open_stdin = false;
  bool capture_stdout = false;
  bool capture_stderr = false;
};

// Our ends of a child's pipes, kInvalidHandle where not piped; each is kept
// from other children.
struct ChildPipes {
  NativeHandle stdin_write = kInvalidHandle;
  NativeHandle stdout_read = kInvalidHandle;
  NativeHandle stderr_read = kInvalidHandle;
};

// Starts arguments[0] (searched for on PATH) with `arguments` as its argument
// vector, in `working_directory` (empty: ours). False, with nothing left
// open, when it cannot be started.
bool StartProcessWithPipes(const std::vector<std::string>& arguments, const std::string& working_directory,
                           const ChildStreams& streams, ChildPipes& pipes, ProcessId& pid);

// Starts a server child: arguments[0] (searched for on PATH) in a process
// group of its own, so that it is not ended with ours but asked to end when
// we die; its standard error goes to /dev/null and descriptor `report_fd` is
// the write end of a pipe whose read end is `report`.
bool StartServerProcess(const std::vector<std::string>& arguments, int report_fd, ProcessId& pid,
                        NativeHandle& report);

// Waits for `pid` to end: its exit code, or minus the signal that ended it;
// -1 when it is not ours to wait for.
int WaitForExit(ProcessId pid);

// Collects `pid` once it ends, without waiting here.
void CollectWhenExited(ProcessId pid);

// Asks `pid` to end (it may tidy up first) and waits for it up to
// `wait_ms` milliseconds. True when it has ended.
bool AskToEnd(ProcessId pid, int wait_ms);

// Marks a handle of ours as not inherited by any child started later.
bool KeepFromChildren(NativeHandle handle);

// Collects `pid` if it has ended, without waiting. True when it is gone (or was
// never ours); false while it still runs.
bool ReapIfExited(ProcessId pid);

}  // namespace platform
