#include "platform/shared_library.h"

#include <dlfcn.h>

namespace platform {
namespace {

std::string LastLoaderError() {
  const char* text = ::dlerror();
  return text ? text : "unknown";
}

}  // namespace

void* LoadSharedLibrary(const char* name, std::string& error) {
  ::dlerror();
  void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = LastLoaderError();
  return library;
}

void* FindSymbol(void* library, const char* symbol, std::string& error) {
  ::dlerror();
  void* address = ::dlsym(library, symbol);
  if (address == nullptr) error = LastLoaderError();
  return address;
}

void UnloadSharedLibrary(void* library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace platform
