#include "platform/handle.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int LastError() { return errno; }
void SetLastError(int code) { errno = code; }
int OutOfMemoryError() { return ENOMEM; }

void CloseHandle(NativeHandle handle) {
  if (handle == kInvalidHandle) return;
  const int saved = errno;
  ::close(static_cast<int>(handle));
  errno = saved;
}

long ReadHandle(NativeHandle handle, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

bool IsOpenHandle(NativeHandle handle) {
  if (handle < 0 || handle > 0x7fffffff) return false;
  return ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
}

}  // namespace platform
