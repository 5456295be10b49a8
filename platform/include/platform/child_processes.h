#pragma once
// The processes this one started, as the system sees them now.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

struct ChildProcess {
  ProcessId pid = kNoProcess;
  std::string name;  // the program's name, as the system shortens it
};

// This process's running children (not their children).
std::vector<ChildProcess> RunningChildren();

// The resident memory of `pid` now, when it is still a running child of
// ours; false when it has ended or is not ours.
bool ChildResidentBytes(ProcessId pid, std::size_t& resident_bytes);

// Ends `pid` at once, whatever it is doing. False when it could not be signalled.
bool EndProcessNow(ProcessId pid);

}  // namespace platform
