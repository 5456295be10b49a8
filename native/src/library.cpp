// The library heap and the running program's path.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/executable_path.h"
#include "tevnative.h"
#include "utf16.h"

namespace {

// Copies the executable's path into `buffer` (at most `capacity` units with
// the terminator) and returns its length, or `capacity` when it was cut
// short, or 0 when it cannot be found: the contract of a capacity-bounded
// platform query.
std::size_t QueryExecutablePath(char16_t* buffer, std::size_t capacity) {
  const std::string bytes = platform::ExecutablePath();
  if (bytes.empty()) return 0;
  const std::u16string path = tev::Utf8ToUtf16(bytes);
  if (path.size() >= capacity) {
    std::memcpy(buffer, path.data(), (capacity - 1) * sizeof(char16_t));
    buffer[capacity - 1] = 0;
    return capacity;
  }
  std::memcpy(buffer, path.data(), path.size() * sizeof(char16_t));
  buffer[path.size()] = 0;
  return path.size();
}

}  // namespace

extern "C" {

TEVNATIVE_API void* TEV_Malloc(uint64_t size) {
  if (size > SIZE_MAX) return nullptr;
  return std::malloc(static_cast<std::size_t>(size));
}

TEVNATIVE_API void TEV_Free(void* pointer) { std::free(pointer); }

TEVNATIVE_API TEV_Char* TEV_GetExecutablePath(void) {
  try {
    std::size_t capacity = 2048;
    auto* buffer = static_cast<char16_t*>(std::malloc(capacity * sizeof(char16_t)));
    if (buffer == nullptr) return nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
      const std::size_t length = QueryExecutablePath(buffer, capacity);
      if (length == 0) {
        std::free(buffer);
        return nullptr;
      }
      if (length < capacity || attempt == 9) return buffer;
      capacity *= 2;
      auto* grown = static_cast<char16_t*>(std::realloc(buffer, capacity * sizeof(char16_t)));
      if (grown == nullptr) {
        std::free(buffer);
        return nullptr;
      }
      buffer = grown;
    }
    return buffer;
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
