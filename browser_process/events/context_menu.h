#pragma once
// Context menus as the host sees them: the menu model as JSON (submenus
// included, nothing added or dropped but items of no known type), the
// accelerator text and what the click was on.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/engine.h"

enum MenuOrigin : int { kMenuEditable = 0, kMenuSelection = 1, kMenuImage = 2, kMenuOther = 3 };

// Editable first, then selection, then image.
int ContextMenuOrigin(const engine::ContextMenuParams& params);

// "alt+" "ctrl+" "shift+" as needed, then the key code's low byte as a character.
std::string AcceleratorText(int key_code, bool shift, bool ctrl, bool alt);

// One object per item, keys in the order "type", "submenu", "label", "group",
// "visible", "isEnabled", "isChecked", "commandId", "hotkey".
nlohmann::ordered_json SerializeMenu(const std::vector<engine::MenuItem>& model);
