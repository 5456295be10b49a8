#pragma once
// Tying the processes a program starts to the program's own life.

namespace platform {

// From now on every process this one starts, and every process those start,
// ends when this process ends, however it ends (an exit, a crash, SIGKILL):
// an engine process stuck in a page's script cannot outlive us. A child that
// puts itself in a process group of its own (as the private X server does,
// to end by SIGTERM and tidy up) is left to end by itself. Call it once, from
// the thread that lives as long as the process.
// False when the system would not allow it; nothing has changed then.
bool EndChildrenWithUs();

}  // namespace platform
