#pragma once
// Keys as the host sends them (Windows virtual-key codes, event-flag
// modifiers, key-down / character / key-up) turned into GDK key events.
#include <cstdint>
#include <vector>

#include "engine/engine.h"

namespace engine::webkit {

// Event-flag bits onto GDK's modifier masks.
unsigned GdkStateFromFlags(std::uint32_t flags);

// The GDK key value of a virtual-key code (shift picks the upper case of a
// letter), or 0 when there is none.
unsigned KeyvalFromVirtualKey(int windows_key_code, bool shift);

struct SyntheticKey {
  bool press;
  unsigned keyval;
  unsigned state;
};

// A key that types a character is pressed when its character arrives, so the
// text is inserted exactly once; other keys, and keys held with control or
// alt, are pressed at key-down. Characters without a key-down of their own
// (composed or pasted text) are pressed and released at once.
class KeyState {
 public:
  std::vector<SyntheticKey> Translate(const KeyEvent& event);

 private:
  int deferred_key_ = 0;          // a character key that is down, waiting for its character
  unsigned pressed_keyval_ = 0;   // what was pressed for it
};

}  // namespace engine::webkit
