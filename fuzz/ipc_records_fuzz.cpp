// Arbitrary bytes decoded as every record of the protocol; whatever decodes
// is encoded again, and that encoding must decode and re-encode to itself
// (compared as bytes, so NaN fields compare too).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ipc/messages.h"

namespace {

template <typename R>
void Check(const std::uint8_t* data, std::size_t size) {
  R record;
  if (ipc::Decode(data, size, record)) return;
  const auto again = ipc::Encode(record);
  R back;
  if (ipc::Decode(again, back) || ipc::Encode(back) != again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check<IPCInitialize>(data, size);
  Check<IPCCreateBrowser>(data, size);
  Check<IPCCreateBrowserResponse>(data, size);
  Check<IPCBrowserRequest>(data, size);
  Check<IPCProcessEvents>(data, size);
  Check<IPCProcessEventsResponse>(data, size);
  Check<IPCRenderResponse>(data, size);
  Check<IPCSetSize>(data, size);
  Check<IPCSetZoom>(data, size);
  Check<IPCExecuteJavascript>(data, size);
  Check<IPCBrowserFlag>(data, size);
  Check<IPCLoadContent>(data, size);
  Check<IPCSetDialogResult>(data, size);
  Check<IPCBrowserValue>(data, size);
  Check<IPCSetFileDialogResult>(data, size);
  Check<IPCMouseClickEvent>(data, size);
  Check<IPCMouseWheelEvent>(data, size);
  Check<IPCMouseMoveEvent>(data, size);
  Check<IPCKeyEvent>(data, size);
  Check<IPCCharacterEvent>(data, size);
  return 0;
}
