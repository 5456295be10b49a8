// Keys as the host sends them, turned into GDK key events: each character is
// pressed exactly once, editing keys at key-down, modifiers mapped.
#include <gtest/gtest.h>

#include <gdk/gdk.h>

#include "engine/webkit/key_mapping.h"

namespace {

using engine::KeyEvent;
using engine::KeyEventType;
using engine::webkit::KeyState;
using engine::webkit::SyntheticKey;

KeyEvent Key(KeyEventType type, int vk, char16_t ch = 0, std::uint32_t mods = 0) {
  KeyEvent e;
  e.type = type;
  e.windows_key_code = vk;
  e.character = ch;
  e.modifiers = mods;
  return e;
}

std::string Describe(const std::vector<SyntheticKey>& keys) {
  std::string out;
  for (const auto& k : keys) out += std::string(k.press ? "+" : "-") + gdk_keyval_name(k.keyval) + " ";
  return out;
}

TEST(KeyMapping, SequencesBecomeOnePressPerCharacter) {
  const struct {
    const char* what;
    std::vector<KeyEvent> events;
    std::string expected;
  } cases[] = {
      {"a letter", {Key(KeyEventType::RawKeyDown, 'A'), Key(KeyEventType::Char, 'A', u'a'), Key(KeyEventType::KeyUp, 'A')},
       "+a -a "},
      {"shifted letter", {Key(KeyEventType::RawKeyDown, 'A', 0, 2), Key(KeyEventType::Char, 'A', u'A', 2),
                          Key(KeyEventType::KeyUp, 'A', 0, 2)}, "+A -A "},
      {"backspace: pressed at key-down, its character ignored",
       {Key(KeyEventType::RawKeyDown, 0x08), Key(KeyEventType::Char, 0x08, 8), Key(KeyEventType::KeyUp, 0x08)},
       "+BackSpace -BackSpace "},
      {"arrows and enter", {Key(KeyEventType::RawKeyDown, 0x25), Key(KeyEventType::KeyUp, 0x25),
                            Key(KeyEventType::RawKeyDown, 0x0D), Key(KeyEventType::Char, 0x0D, 13),
                            Key(KeyEventType::KeyUp, 0x0D)}, "+Left -Left +Return -Return "},
      {"ctrl+a selects all", {Key(KeyEventType::RawKeyDown, 'A', 0, 4), Key(KeyEventType::Char, 'A', 1, 4),
                              Key(KeyEventType::KeyUp, 'A', 0, 4)}, "+a -a "},
      {"a character without its key", {Key(KeyEventType::Char, 0, u'\u00e9')}, "+eacute -eacute "},
      {"digits and punctuation", {Key(KeyEventType::RawKeyDown, '1', 0, 2), Key(KeyEventType::Char, '1', u'!', 2),
                                  Key(KeyEventType::KeyUp, '1', 0, 2)}, "+exclam -exclam "},
  };
  for (const auto& c : cases) {
    KeyState state;
    std::vector<SyntheticKey> all;
    for (const auto& e : c.events) {
      auto keys = state.Translate(e);
      all.insert(all.end(), keys.begin(), keys.end());
    }
    EXPECT_EQ(Describe(all), c.expected) << c.what;
  }
}

TEST(KeyMapping, ModifierFlags) {
  using engine::webkit::GdkStateFromFlags;
  EXPECT_EQ(GdkStateFromFlags(1u << 1), static_cast<unsigned>(GDK_SHIFT_MASK));
  EXPECT_EQ(GdkStateFromFlags(1u << 2), static_cast<unsigned>(GDK_CONTROL_MASK));
  EXPECT_EQ(GdkStateFromFlags(1u << 3), static_cast<unsigned>(GDK_MOD1_MASK));
  EXPECT_EQ(GdkStateFromFlags((1u << 4) | (1u << 6)), static_cast<unsigned>(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK));
  EXPECT_EQ(GdkStateFromFlags(1u << 0), static_cast<unsigned>(GDK_LOCK_MASK));
  EXPECT_EQ(GdkStateFromFlags(1u << 12), static_cast<unsigned>(GDK_MOD5_MASK));
  EXPECT_EQ(GdkStateFromFlags(0), 0u);
}

}  // namespace
