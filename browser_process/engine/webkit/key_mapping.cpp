#include "key_mapping.h"

#include <gdk/gdk.h>

namespace engine::webkit {
namespace {

bool TypesACharacter(int vk) {
  return vk == 0x20 || (vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5A) || (vk >= 0x60 && vk <= 0x6F) ||
         (vk >= 0xBA && vk <= 0xC0) || (vk >= 0xDB && vk <= 0xDF);
}

}  // namespace

unsigned GdkStateFromFlags(std::uint32_t flags) {
  unsigned state = 0;
  if (flags & (1u << 0)) state |= GDK_LOCK_MASK;
  if (flags & (1u << 1)) state |= GDK_SHIFT_MASK;
  if (flags & (1u << 2)) state |= GDK_CONTROL_MASK;
  if (flags & (1u << 3)) state |= GDK_MOD1_MASK;
  if (flags & (1u << 4)) state |= GDK_BUTTON1_MASK;
  if (flags & (1u << 5)) state |= GDK_BUTTON2_MASK;
  if (flags & (1u << 6)) state |= GDK_BUTTON3_MASK;
  if (flags & (1u << 7)) state |= GDK_META_MASK;
  if (flags & (1u << 8)) state |= GDK_MOD2_MASK;
  if (flags & (1u << 12)) state |= GDK_MOD5_MASK;
  return state;
}

unsigned KeyvalFromVirtualKey(int vk, bool shift) {
  if (vk >= 0x41 && vk <= 0x5A) return (shift ? GDK_KEY_A : GDK_KEY_a) + static_cast<unsigned>(vk - 0x41);
  if (vk >= 0x30 && vk <= 0x39) return GDK_KEY_0 + static_cast<unsigned>(vk - 0x30);
  if (vk >= 0x60 && vk <= 0x69) return GDK_KEY_KP_0 + static_cast<unsigned>(vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return GDK_KEY_F1 + static_cast<unsigned>(vk - 0x70);
  switch (vk) {
    case 0x08: return GDK_KEY_BackSpace;
    case 0x09: return GDK_KEY_Tab;
    case 0x0D: return GDK_KEY_Return;
    case 0x10: return GDK_KEY_Shift_L;
    case 0x11: return GDK_KEY_Control_L;
    case 0x12: return GDK_KEY_Alt_L;
    case 0x13: return GDK_KEY_Pause;
    case 0x14: return GDK_KEY_Caps_Lock;
    case 0x1B: return GDK_KEY_Escape;
    case 0x20: return GDK_KEY_space;
    case 0x21: return GDK_KEY_Page_Up;
    case 0x22: return GDK_KEY_Page_Down;
    case 0x23: return GDK_KEY_End;
    case 0x24: return GDK_KEY_Home;
    case 0x25: return GDK_KEY_Left;
    case 0x26: return GDK_KEY_Up;
    case 0x27: return GDK_KEY_Right;
    case 0x28: return GDK_KEY_Down;
    case 0x2D: return GDK_KEY_Insert;
    case 0x2E: return GDK_KEY_Delete;
    case 0x5B: return GDK_KEY_Super_L;
    case 0x6A: return GDK_KEY_KP_Multiply;
    case 0x6B: return GDK_KEY_KP_Add;
    case 0x6D: return GDK_KEY_KP_Subtract;
    case 0x6E: return GDK_KEY_KP_Decimal;
    case 0x6F: return GDK_KEY_KP_Divide;
    case 0x90: return GDK_KEY_Num_Lock;
    case 0xBA: return shift ? GDK_KEY_colon : GDK_KEY_semicolon;
    case 0xBB: return shift ? GDK_KEY_plus : GDK_KEY_equal;
    case 0xBC: return shift ? GDK_KEY_less : GDK_KEY_comma;
    case 0xBD: return shift ? GDK_KEY_underscore : GDK_KEY_minus;
    case 0xBE: return shift ? GDK_KEY_greater : GDK_KEY_period;
    case 0xBF: return shift ? GDK_KEY_question : GDK_KEY_slash;
    case 0xC0: return shift ? GDK_KEY_asciitilde : GDK_KEY_grave;
    case 0xDB: return shift ? GDK_KEY_braceleft : GDK_KEY_bracketleft;
    case 0xDC: return shift ? GDK_KEY_bar : GDK_KEY_backslash;
    case 0xDD: return shift ? GDK_KEY_braceright : GDK_KEY_bracketright;
    case 0xDE: return shift ? GDK_KEY_quotedbl : GDK_KEY_apostrophe;
    default: return 0;
  }
}

std::vector<SyntheticKey> KeyState::Translate(const KeyEvent& event) {
  const unsigned state = GdkStateFromFlags(event.modifiers);
  const bool shift = (event.modifiers & (1u << 1)) != 0;
  const bool command = (event.modifiers & ((1u << 2) | (1u << 3) | (1u << 7))) != 0 &&
                       (event.modifiers & (1u << 12)) == 0;  // AltGr types characters
  std::vector<SyntheticKey> out;
  switch (event.type) {
    case KeyEventType::RawKeyDown: {
      if (TypesACharacter(event.windows_key_code) && !command) {
        deferred_key_ = event.windows_key_code;  // pressed when its character comes
        pressed_keyval_ = 0;
        break;
      }
      if (const unsigned keyval = KeyvalFromVirtualKey(event.windows_key_code, shift)) out.push_back({true, keyval, state});
      break;
    }
    case KeyEventType::Char: {
      // Control characters are the keys themselves (Enter, Tab, Ctrl+A ...), already pressed.
      if (event.character < 0x20 || event.character == 0x7F) break;
      const unsigned keyval = gdk_unicode_to_keyval(event.character);
      out.push_back({true, keyval, state});
      if (deferred_key_ != 0 && pressed_keyval_ == 0) {
        pressed_keyval_ = keyval;  // released with its key
      } else {
        out.push_back({false, keyval, state});
      }
      break;
    }
    case KeyEventType::KeyUp: {
      if (event.windows_key_code == deferred_key_ && deferred_key_ != 0) {
        if (pressed_keyval_ != 0) out.push_back({false, pressed_keyval_, state});
        deferred_key_ = 0;
        pressed_keyval_ = 0;
        break;
      }
      if (const unsigned keyval = KeyvalFromVirtualKey(event.windows_key_code, shift)) out.push_back({false, keyval, state});
      break;
    }
  }
  return out;
}

}  // namespace engine::webkit
