#pragma once
// How the viewer answers what a page asks of a person: script dialogs as
// GTK dialogs, file choosers through tevnative's dialogs, context menus as a
// GTK menu built from the event.
#include <cstdint>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

namespace tev_view {

// Not modal: the answer goes to the browser from the dialog's response. The
// dialog is returned so that a reset can take it down unanswered.
GtkWidget* ShowScriptDialog(GtkWindow* parent, std::int32_t browser, const nlohmann::json& payload);

// Runs tevnative's dialog for event 14 (open), 15 (several), 16 (folder) or
// 17 (save) and answers; blocks until the person is done.
void RunFileDialog(std::int32_t browser, int code, const nlohmann::json& payload);

// Pops the menu up at the event's position over `area`; the chosen item's
// command id, or an id that is no item's when none was chosen, goes back.
// `trigger` is the press that asked for it, or null.
void ShowContextMenu(GtkWidget* area, std::int32_t browser, const nlohmann::json& payload, const GdkEvent* trigger);

}  // namespace tev_view
