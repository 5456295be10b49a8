#include "cursor_table.h"

#include <utility>

namespace engine::webkit {

void CursorTable::Load(GdkDisplay* display) {
  static const std::pair<const char*, CursorType> kNames[] = {
      {"default", CursorType::Pointer},       {"pointer", CursorType::Hand},
      {"text", CursorType::IBeam},            {"move", CursorType::Move},
      {"crosshair", CursorType::Cross},       {"wait", CursorType::Wait},
      {"help", CursorType::Help},             {"nwse-resize", CursorType::NorthWestSouthEastResize},
      {"nesw-resize", CursorType::NorthEastSouthWestResize}, {"ew-resize", CursorType::EastWestResize},
      {"ns-resize", CursorType::NorthSouthResize}, {"nw-resize", CursorType::NorthWestResize},
      {"se-resize", CursorType::SouthEastResize}, {"ne-resize", CursorType::NorthEastResize},
      {"sw-resize", CursorType::SouthWestResize}, {"e-resize", CursorType::EastResize},
      {"w-resize", CursorType::WestResize},   {"n-resize", CursorType::NorthResize},
      {"s-resize", CursorType::SouthResize},
  };
  for (const auto& [name, type] : kNames) {
    if (GdkCursor* cursor = gdk_cursor_new_from_name(display, name)) {
      types_[cursor] = type;
      held_.push_back(cursor);
    }
  }
}

CursorType CursorTable::TypeOf(GdkCursor* cursor) const {
  if (cursor == nullptr) return CursorType::Pointer;
  const auto it = types_.find(cursor);
  return it == types_.end() ? CursorType::Other : it->second;
}

CursorTable::~CursorTable() {
  for (GdkCursor* c : held_) g_object_unref(c);
}

}  // namespace engine::webkit
