#pragma once
// WebKit's context menus in the seam's terms: the items with their stock
// action ids (custom items numbered from 10000 in menu order) and the way
// back from a chosen id to the item it names.
#include <vector>

#include <webkit2/webkit2.h>

#include "engine/engine.h"

namespace engine::webkit {

inline constexpr int kFirstCustomCommand = WEBKIT_CONTEXT_MENU_ACTION_CUSTOM;

// Custom items, in menu order, are appended to `customs` (borrowed from the menu).
std::vector<MenuItem> ConvertMenu(WebKitContextMenu* menu, std::vector<WebKitContextMenuItem*>& customs);

// The item with this stock action id, anywhere in the menu, or null.
WebKitContextMenuItem* FindStockItem(WebKitContextMenu* menu, int action);

}  // namespace engine::webkit
