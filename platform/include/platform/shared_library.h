#pragma once
// Loading a shared library at run time and finding its entry points.
#include <string>

namespace platform {

// The library `name`, found the system's way; nullptr with `error` set to the
// system's words when it cannot be loaded.
void* LoadSharedLibrary(const char* name, std::string& error);
// The address of `symbol` in `library`; nullptr with `error` set when absent.
void* FindSymbol(void* library, const char* symbol, std::string& error);
// Lets go of what LoadSharedLibrary returned; nullptr is ignored.
void UnloadSharedLibrary(void* library);

}  // namespace platform
