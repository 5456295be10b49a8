// tev-view's translation of GDK input into virtual-key codes and event flags.
#include <gtest/gtest.h>

#include "input_mapping.h"

namespace {

TEST(ViewerInput, VirtualKeys) {
  struct Case {
    guint keyval;
    int vk;
  } cases[] = {
      {GDK_KEY_a, 'A'},          {GDK_KEY_Z, 'Z'},        {GDK_KEY_7, '7'},          {GDK_KEY_exclam, '1'},
      {GDK_KEY_F1, 0x70},        {GDK_KEY_F12, 0x7B},     {GDK_KEY_KP_3, 0x63},      {GDK_KEY_Return, 0x0D},
      {GDK_KEY_KP_Enter, 0x0D},  {GDK_KEY_BackSpace, 0x08}, {GDK_KEY_Tab, 0x09},     {GDK_KEY_ISO_Left_Tab, 0x09},
      {GDK_KEY_Escape, 0x1B},    {GDK_KEY_space, 0x20},   {GDK_KEY_Left, 0x25},      {GDK_KEY_Up, 0x26},
      {GDK_KEY_Right, 0x27},     {GDK_KEY_Down, 0x28},    {GDK_KEY_Home, 0x24},      {GDK_KEY_End, 0x23},
      {GDK_KEY_Page_Up, 0x21},   {GDK_KEY_Delete, 0x2E},  {GDK_KEY_Shift_R, 0x10},   {GDK_KEY_Control_L, 0x11},
      {GDK_KEY_semicolon, 0xBA}, {GDK_KEY_plus, 0xBB},    {GDK_KEY_minus, 0xBD},     {GDK_KEY_question, 0xBF},
      {GDK_KEY_braceleft, 0xDB}, {GDK_KEY_quotedbl, 0xDE}, {GDK_KEY_KP_Add, 0x6B},   {GDK_KEY_eacute, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(tev_view::VirtualKey(c.keyval), c.vk) << gdk_keyval_name(c.keyval);
  EXPECT_TRUE(tev_view::IsKeypad(GDK_KEY_KP_5));
  EXPECT_FALSE(tev_view::IsKeypad(GDK_KEY_5));
}

TEST(ViewerInput, EventFlags) {
  using namespace tev_view;
  struct Case {
    guint state;
    std::uint32_t flags;
  } cases[] = {
      {0, 0},
      {GDK_SHIFT_MASK, kFlagShift},
      {GDK_CONTROL_MASK | GDK_MOD1_MASK, kFlagControl | kFlagAlt},
      {GDK_BUTTON1_MASK | GDK_BUTTON3_MASK, kFlagLeftButton | kFlagRightButton},
      {GDK_LOCK_MASK | GDK_MOD2_MASK, kFlagCapsLock | kFlagNumLock},
      {GDK_MOD5_MASK, kFlagAltGr},
  };
  for (const Case& c : cases) EXPECT_EQ(FlagsFromState(c.state), c.flags) << c.state;
  EXPECT_EQ(kFlagShift, 2u);  // the values TEVBrowser's input calls take
  EXPECT_EQ(kFlagKeypad, 512u);
  EXPECT_EQ(kFlagAltGr, 4096u);
}

}  // namespace
