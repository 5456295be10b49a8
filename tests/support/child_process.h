#pragma once
// Starting and collecting helper processes in tests.
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace tev_test {

// The directory holding the test programs (set by CMake).
std::string BinaryDir();

// Starts `program` (a path) with `command_line` as its only argument; the
// child receives `inherited` and no other handle of ours.
platform::ProcessId Start(const std::string& program, const std::string& command_line,
                          platform::NativeHandle inherited = platform::kInvalidHandle);

// Waits for `pid` and returns its exit status, or -signal when killed.
int Wait(platform::ProcessId pid);

// This process's children still in the process table, as (pid, state)
// pairs; state 'Z' is a zombie.
std::vector<std::pair<int, char>> Children();

}  // namespace tev_test
