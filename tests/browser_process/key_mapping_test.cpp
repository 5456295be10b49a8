// Keys as the host sends them, turned into GDK key events: each character is
// pressed exactly once, editing keys at key-down, modifiers mapped.
#include <gtest/gtest.h>

#include <gdk/gdk.h>

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include "engine/webkit/key_mapping.h"
#include "engine/webkit/network_errors.h"

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

TEST(NetworkErrors, TheEnginesFailuresInTheHostsNumbering) {
  using engine::webkit::NetworkErrorCode;
  const struct {
    GQuark domain;
    int code;
    int expected;
  } cases[] = {
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, -102},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, -105},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, -105},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, -3},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, -3},
      {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, -3},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, -7},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, -100},
      {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, -109},
      {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, -106},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL, -301},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST, -6},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_TRANSPORT, -2},
      {G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, -2},
      {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI, -2},
  };
  for (const auto& c : cases) EXPECT_EQ(NetworkErrorCode(c.domain, c.code), c.expected) << c.code;
}

}  // namespace
