#include "context_menu.h"

int ContextMenuOrigin(const engine::ContextMenuParams& params) {
  if (params.is_editable) return kMenuEditable;
  if (params.type_flags & engine::kMenuTypeSelection) return kMenuSelection;
  if (params.media_type == engine::kMenuMediaImage) return kMenuImage;
  return kMenuOther;
}

std::string AcceleratorText(int key_code, bool shift, bool ctrl, bool alt) {
  std::string text;
  if (alt) text += "alt+";
  if (ctrl) text += "ctrl+";
  if (shift) text += "shift+";
  text += static_cast<char>(key_code & 0xff);
  return text;
}

namespace {

const char* TypeName(engine::MenuItemType type) {
  switch (type) {
    case engine::MenuItemType::Command:
      return "Command";
    case engine::MenuItemType::Check:
      return "Check";
    case engine::MenuItemType::Radio:
      return "Radio";
    case engine::MenuItemType::Separator:
      return "Separator";
    case engine::MenuItemType::Submenu:
      return "Submenu";
    default:
      return nullptr;
  }
}

}  // namespace

nlohmann::ordered_json SerializeMenu(const std::vector<engine::MenuItem>& model) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const engine::MenuItem& item : model) {
    const char* type = TypeName(item.type);
    if (type == nullptr) continue;  // no such item: the next one takes its place
    nlohmann::ordered_json entry;
    entry["type"] = type;
    entry["submenu"] = item.type == engine::MenuItemType::Submenu ? SerializeMenu(item.submenu) : nullptr;
    entry["label"] = item.label;
    entry["group"] = item.group_id;
    entry["visible"] = item.visible;
    entry["isEnabled"] = item.enabled;
    entry["isChecked"] = item.checked;
    entry["commandId"] = item.command_id;
    entry["hotkey"] = item.has_accelerator ? nlohmann::ordered_json(AcceleratorText(item.key_code, item.shift, item.ctrl, item.alt))
                                           : nlohmann::ordered_json(nullptr);
    list.push_back(std::move(entry));
  }
  return list;
}
