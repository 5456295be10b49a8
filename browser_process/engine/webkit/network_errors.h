#pragma once
// Load failures in the network-error numbering that hosts know: refused
// -102, name not resolved -105, aborted -3 ... every other failure -2.
#include <glib.h>

namespace engine::webkit {

int NetworkErrorCode(GQuark domain, int code);

}  // namespace engine::webkit
