#include "host_dialogs.h"

#include <string>
#include <vector>

#include "TEVBrowser.h"
#include "tevnative.h"

namespace tev_view {
namespace {

std::string Text(const nlohmann::json& payload, const char* key) {
  const auto it = payload.find(key);
  return it != payload.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int Number(const nlohmann::json& payload, const char* key, int fallback = 0) {
  const auto it = payload.find(key);
  return it != payload.end() && it->is_number_integer() ? it->get<int>() : fallback;
}

std::u16string Utf16(const std::string& text) {
  gunichar2* units = g_utf8_to_utf16(text.c_str(), -1, nullptr, nullptr, nullptr);
  std::u16string out = units ? reinterpret_cast<const char16_t*>(units) : u"";
  g_free(units);
  return out;
}

std::string Utf8(const TEV_Char* text) {
  gchar* bytes = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text), -1, nullptr, nullptr, nullptr);
  std::string out = bytes ? bytes : "";
  g_free(bytes);
  return out;
}

struct ScriptDialog {
  std::int32_t browser;
  int type;
  GtkWidget* entry;
};

}  // namespace

GtkWidget* ShowScriptDialog(GtkWindow* parent, std::int32_t browser, const nlohmann::json& payload) {
  const int type = Number(payload, "dialogType");
  const std::string message = Text(payload, "messageText");
  static const char* const kTitles[] = {"Alert", "Confirm", "Prompt", "Leave page?"};
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT,
                                             type == 0 ? GTK_MESSAGE_INFO : GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
                                             "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), kTitles[type >= 0 && type <= 3 ? type : 0]);
  if (type == 3) {
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Stay on page", GTK_RESPONSE_CANCEL, "_Leave page", GTK_RESPONSE_OK,
                           nullptr);
  } else if (type == 0) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
  } else {
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* entry = nullptr;
  if (type == 2) {
    entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), Text(payload, "defaultPromptText").c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_end(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), entry, FALSE, FALSE, 6);
  }
  auto* state = new ScriptDialog{browser, type, entry};
  g_signal_connect_data(
      dialog, "response",
      G_CALLBACK(+[](GtkDialog* self, gint response, gpointer data) {
        const auto* s = static_cast<ScriptDialog*>(data);
        const bool ok = response == GTK_RESPONSE_OK;
        const char* input = ok && s->entry ? gtk_entry_get_text(GTK_ENTRY(s->entry)) : "";
        TEVBrowser_SetDialogResult(s->browser, ok, input);
        gtk_widget_destroy(GTK_WIDGET(self));
      }),
      state, +[](gpointer data, GClosure*) { delete static_cast<ScriptDialog*>(data); }, GConnectFlags{});
  gtk_widget_show_all(dialog);
  return dialog;
}

void RunFileDialog(std::int32_t browser, int code, const nlohmann::json& payload) {
  // ".jpeg;.jpe;.jpg" becomes "jpeg,jpe,jpg"; each entry is one filter.
  std::vector<std::u16string> names, specs;
  const auto& extensions = payload.value("extensions", nlohmann::json::array());
  const auto& descriptions = payload.value("descriptions", nlohmann::json::array());
  for (std::size_t i = 0; i < extensions.size(); ++i) {
    if (!extensions[i].is_string()) continue;
    std::string spec;
    for (const char c : extensions[i].get<std::string>()) {
      if (c == ';') spec += ',';
      else if (c != '.') spec += c;
    }
    std::string name = i < descriptions.size() && descriptions[i].is_string() ? descriptions[i].get<std::string>() : "";
    names.push_back(Utf16(name.empty() ? extensions[i].get<std::string>() : name));
    specs.push_back(Utf16(spec));
  }
  std::vector<TEV_FilterItem> filters;
  for (std::size_t i = 0; i < names.size(); ++i) filters.push_back({names[i].c_str(), specs[i].c_str()});
  const std::u16string start = Utf16(Text(payload, "default_path"));
  const TEV_Char* default_path = start.empty() ? nullptr : start.c_str();
  const auto count = static_cast<std::uint32_t>(filters.size());

  std::vector<std::string> chosen;
  if (code == 15) {
    TEV_PathSet set{};
    if (TEV_OpenFileDialogMultiple(&set, filters.data(), count, default_path) == TEV_DIALOG_OKAY) {
      for (std::uint64_t i = 0; i < set.count; ++i) chosen.push_back(Utf8(set.paths[i]));
      TEV_FreePathSet(&set);
    }
  } else {
    TEV_Char* path = nullptr;
    TEV_DialogResult result = TEV_DIALOG_CANCEL;
    if (code == 16) result = TEV_PickFolder(&path, default_path);
    else if (code == 17) result = TEV_SaveFileDialog(&path, filters.data(), count, default_path, nullptr);
    else result = TEV_OpenFileDialog(&path, filters.data(), count, default_path);
    if (result == TEV_DIALOG_OKAY && path != nullptr) chosen.push_back(Utf8(path));
    TEV_Free(path);
  }
  std::vector<const char*> paths;
  for (const auto& p : chosen) paths.push_back(p.c_str());
  TEVBrowser_SetFileDialogResult(browser, static_cast<std::int32_t>(paths.size()), paths.data());
}

namespace {

struct MenuAnswer {
  std::int32_t browser;
  bool answered = false;
};

void Answer(MenuAnswer* answer, int command_id) {
  if (answer->answered) return;
  answer->answered = true;
  TEVBrowser_SetContextMenuResult(answer->browser, command_id);
}

GtkWidget* BuildMenu(const nlohmann::json& items, MenuAnswer* answer) {
  GtkWidget* menu = gtk_menu_new();
  GSList* radio_group = nullptr;
  for (const auto& item : items) {
    if (!item.is_object()) continue;
    const std::string type = Text(item, "type");
    const std::string label = Text(item, "label");
    GtkWidget* widget = nullptr;
    if (type == "Separator") {
      widget = gtk_separator_menu_item_new();
      radio_group = nullptr;
    } else if (type == "Check") {
      widget = gtk_check_menu_item_new_with_mnemonic(label.c_str());
    } else if (type == "Radio") {
      widget = gtk_radio_menu_item_new_with_mnemonic(radio_group, label.c_str());
      radio_group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(widget));
    } else {
      widget = gtk_menu_item_new_with_mnemonic(label.c_str());
    }
    if (GTK_IS_CHECK_MENU_ITEM(widget)) {
      gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.value("isChecked", false));
    }
    if (type == "Submenu" && item.contains("submenu") && item["submenu"].is_array()) {
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), BuildMenu(item["submenu"], answer));
    } else if (type != "Separator") {
      g_object_set_data(G_OBJECT(widget), "command-id", GINT_TO_POINTER(Number(item, "commandId")));
      g_signal_connect(widget, "activate", G_CALLBACK(+[](GtkMenuItem* self, gpointer data) {
                         Answer(static_cast<MenuAnswer*>(data),
                                GPOINTER_TO_INT(g_object_get_data(G_OBJECT(self), "command-id")));
                       }),
                       answer);
    }
    gtk_widget_set_sensitive(widget, item.value("isEnabled", true));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    if (item.value("visible", true)) gtk_widget_show(widget);
  }
  return menu;
}

}  // namespace

void ShowContextMenu(GtkWidget* area, std::int32_t browser, const nlohmann::json& payload, const GdkEvent* trigger) {
  auto* answer = new MenuAnswer{browser};
  GtkWidget* menu = BuildMenu(payload.value("menu", nlohmann::json::array()), answer);
  // A menu item's activation comes after the menu's deactivation: the
  // "nothing chosen" answer waits for an idle moment.
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* self, gpointer data) {
                     g_idle_add(
                         [](gpointer d) {
                           auto* a = static_cast<MenuAnswer*>(d);
                           Answer(a, -1);  // no item has this id
                           delete a;
                           return G_SOURCE_REMOVE;
                         },
                         data);
                     g_idle_add(
                         [](gpointer widget) {
                           gtk_widget_destroy(GTK_WIDGET(widget));
                           return G_SOURCE_REMOVE;
                         },
                         self);
                   }),
                   answer);
  gtk_menu_attach_to_widget(GTK_MENU(menu), area, nullptr);
  const GdkRectangle at{Number(payload, "x"), Number(payload, "y"), 1, 1};
  gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_widget_get_window(area), &at, GDK_GRAVITY_NORTH_WEST,
                         GDK_GRAVITY_NORTH_WEST, trigger);
}

}  // namespace tev_view
