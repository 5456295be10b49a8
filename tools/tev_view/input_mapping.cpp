#include "input_mapping.h"

namespace tev_view {

std::uint32_t FlagsFromState(guint state) {
  std::uint32_t flags = 0;
  if (state & GDK_LOCK_MASK) flags |= kFlagCapsLock;
  if (state & GDK_SHIFT_MASK) flags |= kFlagShift;
  if (state & GDK_CONTROL_MASK) flags |= kFlagControl;
  if (state & GDK_MOD1_MASK) flags |= kFlagAlt;
  if (state & GDK_BUTTON1_MASK) flags |= kFlagLeftButton;
  if (state & GDK_BUTTON2_MASK) flags |= kFlagMiddleButton;
  if (state & GDK_BUTTON3_MASK) flags |= kFlagRightButton;
  if (state & (GDK_SUPER_MASK | GDK_META_MASK)) flags |= kFlagCommand;
  if (state & GDK_MOD2_MASK) flags |= kFlagNumLock;
  if (state & GDK_MOD5_MASK) flags |= kFlagAltGr;
  return flags;
}

bool IsKeypad(guint keyval) { return keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_9; }

int VirtualKey(guint keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + static_cast<int>(keyval - GDK_KEY_a);
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return 0x70 + static_cast<int>(keyval - GDK_KEY_F1);
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return 0x60 + static_cast<int>(keyval - GDK_KEY_KP_0);
  switch (keyval) {
    case GDK_KEY_BackSpace: return 0x08;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 0x09;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return 0x0D;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return 0x10;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return 0x11;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_ISO_Level3_Shift: return 0x12;
    case GDK_KEY_Pause: return 0x13;
    case GDK_KEY_Caps_Lock: return 0x14;
    case GDK_KEY_Escape: return 0x1B;
    case GDK_KEY_space: return 0x20;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: return 0x21;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: return 0x22;
    case GDK_KEY_End: case GDK_KEY_KP_End: return 0x23;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: return 0x24;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return 0x25;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return 0x26;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return 0x27;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return 0x28;
    case GDK_KEY_Print: return 0x2C;
    case GDK_KEY_Insert: case GDK_KEY_KP_Insert: return 0x2D;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: return 0x2E;
    case GDK_KEY_Super_L: return 0x5B;
    case GDK_KEY_Super_R: return 0x5C;
    case GDK_KEY_Menu: return 0x5D;
    case GDK_KEY_KP_Multiply: return 0x6A;
    case GDK_KEY_KP_Add: return 0x6B;
    case GDK_KEY_KP_Subtract: return 0x6D;
    case GDK_KEY_KP_Decimal: return 0x6E;
    case GDK_KEY_KP_Divide: return 0x6F;
    case GDK_KEY_Num_Lock: return 0x90;
    case GDK_KEY_Scroll_Lock: return 0x91;
    // US layout punctuation: the key, whichever of its two characters.
    case GDK_KEY_semicolon: case GDK_KEY_colon: return 0xBA;
    case GDK_KEY_equal: case GDK_KEY_plus: return 0xBB;
    case GDK_KEY_comma: case GDK_KEY_less: return 0xBC;
    case GDK_KEY_minus: case GDK_KEY_underscore: return 0xBD;
    case GDK_KEY_period: case GDK_KEY_greater: return 0xBE;
    case GDK_KEY_slash: case GDK_KEY_question: return 0xBF;
    case GDK_KEY_grave: case GDK_KEY_asciitilde: return 0xC0;
    case GDK_KEY_bracketleft: case GDK_KEY_braceleft: return 0xDB;
    case GDK_KEY_backslash: case GDK_KEY_bar: return 0xDC;
    case GDK_KEY_bracketright: case GDK_KEY_braceright: return 0xDD;
    case GDK_KEY_apostrophe: case GDK_KEY_quotedbl: return 0xDE;
    case GDK_KEY_exclam: return '1';
    case GDK_KEY_at: return '2';
    case GDK_KEY_numbersign: return '3';
    case GDK_KEY_dollar: return '4';
    case GDK_KEY_percent: return '5';
    case GDK_KEY_asciicircum: return '6';
    case GDK_KEY_ampersand: return '7';
    case GDK_KEY_asterisk: return '8';
    case GDK_KEY_parenleft: return '9';
    case GDK_KEY_parenright: return '0';
    default: return 0;
  }
}

}  // namespace tev_view
