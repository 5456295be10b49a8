#include "network_errors.h"

#include <gio/gio.h>
#include <webkit2/webkit2.h>

namespace engine::webkit {

int NetworkErrorCode(GQuark domain, int code) {
  constexpr int kFailed = -2, kAborted = -3, kFileNotFound = -6, kTimedOut = -7, kConnectionClosed = -100,
                kConnectionRefused = -102, kNameNotResolved = -105,
                kInternetDisconnected = -106, kAddressUnreachable = -109, kUnknownUrlScheme = -301;
  if (domain == WEBKIT_NETWORK_ERROR) {
    switch (code) {
      case WEBKIT_NETWORK_ERROR_CANCELLED:
        return kAborted;
      case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
        return kUnknownUrlScheme;
      case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
        return kFileNotFound;
      default:
        return kFailed;
    }
  }
  if (domain == WEBKIT_POLICY_ERROR && code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) {
    return kAborted;  // another navigation took over
  }
  if (domain == G_IO_ERROR) {
    switch (code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
        return kConnectionRefused;
      case G_IO_ERROR_TIMED_OUT:
        return kTimedOut;
      case G_IO_ERROR_CANCELLED:
        return kAborted;
      case G_IO_ERROR_CONNECTION_CLOSED:  // also a reset: GIO has one code for both
        return kConnectionClosed;
      case G_IO_ERROR_HOST_UNREACHABLE:
        return kAddressUnreachable;
      case G_IO_ERROR_NETWORK_UNREACHABLE:
        return kInternetDisconnected;
      case G_IO_ERROR_NOT_FOUND:
        return kFileNotFound;
      default:
        return kFailed;
    }
  }
  if (domain == G_RESOLVER_ERROR) return kNameNotResolved;
  return kFailed;
}

}  // namespace engine::webkit
