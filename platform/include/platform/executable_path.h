#pragma once
// Where the running program's file is.
#include <string>

namespace platform {

// The full path of the running executable, UTF-8; empty when the system
// cannot tell.
std::string ExecutablePath();

}  // namespace platform
