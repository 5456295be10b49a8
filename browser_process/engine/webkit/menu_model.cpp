#include "menu_model.h"

#include <string>

#include "or_empty.h"

// GtkAction is deprecated, yet only it carries an item's label, visibility
// and accelerator in the GTK 3 build of WebKit.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace engine::webkit {
namespace {

// The accelerator GTK keeps for the item's action, if any.
void ReadAccelerator(GtkAction* action, MenuItem& item) {
  const gchar* path = action ? gtk_action_get_accel_path(action) : nullptr;
  GtkAccelKey key{};
  if (path == nullptr || !gtk_accel_map_lookup_entry(path, &key) || key.accel_key == 0) return;
  item.has_accelerator = true;
  const guint upper = gdk_keyval_to_upper(key.accel_key);
  item.key_code = static_cast<int>(upper < 0x100 ? upper : gdk_keyval_to_unicode(upper));
  item.shift = (key.accel_mods & GDK_SHIFT_MASK) != 0;
  item.ctrl = (key.accel_mods & GDK_CONTROL_MASK) != 0;
  item.alt = (key.accel_mods & GDK_MOD1_MASK) != 0;
}

}  // namespace

std::vector<MenuItem> ConvertMenu(WebKitContextMenu* menu, std::vector<WebKitContextMenuItem*>& customs) {
  std::vector<MenuItem> items;
  const guint count = webkit_context_menu_get_n_items(menu);
  for (guint i = 0; i < count; ++i) {
    WebKitContextMenuItem* source = webkit_context_menu_get_item_at_position(menu, i);
    if (source == nullptr) continue;
    MenuItem item;
    // State and enabling are the GAction's.
    GtkAction* action = webkit_context_menu_item_get_action(source);
    GAction* gaction = webkit_context_menu_item_get_gaction(source);
    if (action != nullptr) {
      const gchar* label = gtk_action_get_label(action);
      item.label = OrEmpty(label);
      item.visible = gtk_action_get_visible(action);
      ReadAccelerator(action, item);
    }
    item.enabled = gaction ? g_action_get_enabled(gaction) : true;
    const int stock = static_cast<int>(webkit_context_menu_item_get_stock_action(source));
    if (stock == WEBKIT_CONTEXT_MENU_ACTION_CUSTOM) {
      item.command_id = kFirstCustomCommand + static_cast<int>(customs.size());
      customs.push_back(source);
    } else {
      item.command_id = stock;
    }
    if (webkit_context_menu_item_is_separator(source)) {
      item.type = MenuItemType::Separator;
    } else if (WebKitContextMenu* submenu = webkit_context_menu_item_get_submenu(source)) {
      item.type = MenuItemType::Submenu;
      item.submenu = ConvertMenu(submenu, customs);
    } else if (GVariant* state = gaction ? g_action_get_state(gaction) : nullptr) {
      if (g_variant_is_of_type(state, G_VARIANT_TYPE_BOOLEAN)) {
        item.type = MenuItemType::Check;
        item.checked = g_variant_get_boolean(state);
      } else if (g_variant_is_of_type(state, G_VARIANT_TYPE_STRING)) {
        item.type = MenuItemType::Radio;
        item.checked = GTK_IS_TOGGLE_ACTION(action) && gtk_toggle_action_get_active(GTK_TOGGLE_ACTION(action));
      }
      g_variant_unref(state);
    } else {
      item.type = MenuItemType::Command;
    }
    items.push_back(std::move(item));
  }
  return items;
}

WebKitContextMenuItem* FindStockItem(WebKitContextMenu* menu, int action) {
  const guint count = webkit_context_menu_get_n_items(menu);
  for (guint i = 0; i < count; ++i) {
    WebKitContextMenuItem* item = webkit_context_menu_get_item_at_position(menu, i);
    if (item == nullptr || webkit_context_menu_item_is_separator(item)) continue;
    if (static_cast<int>(webkit_context_menu_item_get_stock_action(item)) == action) return item;
    if (WebKitContextMenu* submenu = webkit_context_menu_item_get_submenu(item)) {
      if (WebKitContextMenuItem* found = FindStockItem(submenu, action)) return found;
    }
  }
  return nullptr;
}

}  // namespace engine::webkit

G_GNUC_END_IGNORE_DEPRECATIONS
