#pragma once
// GDK input in the terms the browser host library takes: Windows
// virtual-key codes and its event-flag bits.
#include <cstdint>

#include <gdk/gdk.h>

namespace tev_view {

// Event-flag bits of TEVBrowser's input calls.
enum : std::uint32_t {
  kFlagCapsLock = 1u << 0,
  kFlagShift = 1u << 1,
  kFlagControl = 1u << 2,
  kFlagAlt = 1u << 3,
  kFlagLeftButton = 1u << 4,
  kFlagMiddleButton = 1u << 5,
  kFlagRightButton = 1u << 6,
  kFlagCommand = 1u << 7,
  kFlagNumLock = 1u << 8,
  kFlagKeypad = 1u << 9,
  kFlagAltGr = 1u << 12,
};

std::uint32_t FlagsFromState(guint state);
// 0 for keys with no virtual-key code.
int VirtualKey(guint keyval);
bool IsKeypad(guint keyval);

}  // namespace tev_view
