#include "platform/duplex_pipe.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

bool CreateDuplexPipe(DuplexPipe& out) {
  int fds[2];
  // Both ends are close-on-exec from birth: a child started by another thread
  // meanwhile inherits neither. The start that is meant to pass the peer end
  // names it (StartProcessWithInheritance).
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  out.local = fds[0];
  out.peer = fds[1];
  return true;
}

bool WriteAll(NativeHandle handle, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  bool use_send = true;
  while (size > 0) {
    ssize_t n;
    if (use_send) {
      // MSG_NOSIGNAL: a vanished peer is an error code, not a SIGPIPE.
      n = ::send(static_cast<int>(handle), bytes, size, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) {
        use_send = false;
        continue;
      }
    } else {
      n = ::write(static_cast<int>(handle), bytes, size);
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long ReadSome(NativeHandle handle, void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

int BrokenPipeError() { return EPIPE; }

}  // namespace platform
