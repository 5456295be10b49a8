#pragma once
// The cursors WebKit sets on a view, told apart by identity.
#include <gdk/gdk.h>
#include <map>
#include <vector>

#include "engine/engine.h"

namespace engine::webkit {

// GDK caches named cursors per display, so the cursor WebKit sets on the view
// is the very object these names give.
class CursorTable {
 public:
  CursorTable() = default;
  CursorTable(const CursorTable&) = delete;
  CursorTable& operator=(const CursorTable&) = delete;
  ~CursorTable();
  // Adds the named cursors of `display`; one table serves every display.
  void Load(GdkDisplay* display);
  CursorType TypeOf(GdkCursor* cursor) const;

 private:
  std::map<GdkCursor*, CursorType> types_;
  std::vector<GdkCursor*> held_;
};

}  // namespace engine::webkit
