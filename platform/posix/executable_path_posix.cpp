#include "platform/executable_path.h"

#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
  std::string bytes(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
    if (n <= 0) return "";
    if (static_cast<std::size_t>(n) < bytes.size()) {
      bytes.resize(static_cast<std::size_t>(n));
      return bytes;
    }
    bytes.resize(bytes.size() * 2);  // cut short: a longer path
  }
}

}  // namespace platform
