#include "script_dialog_answer.h"

namespace engine::webkit {

ScriptDialogAnswer::ScriptDialogAnswer(WebKitScriptDialog* dialog) : dialog_(webkit_script_dialog_ref(dialog)) {}

ScriptDialogAnswer::~ScriptDialogAnswer() { webkit_script_dialog_unref(dialog_); }

void ScriptDialogAnswer::Continue(bool success, const std::string& user_input) {
  if (answered_) return;
  answered_ = true;
  switch (webkit_script_dialog_get_dialog_type(dialog_)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:  // confirmed: leave the page
      webkit_script_dialog_confirm_set_confirmed(dialog_, success);
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      if (success) webkit_script_dialog_prompt_set_text(dialog_, user_input.c_str());
      break;
    default:
      break;
  }
  if (!in_signal_) {
    webkit_script_dialog_close(dialog_);
    return;
  }
  // Answered inside the engine's own signal: the engine still uses the
  // dialog once the signal returns, so it closes a moment later.
  g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer dialog) {
        webkit_script_dialog_close(static_cast<WebKitScriptDialog*>(dialog));
        return G_SOURCE_REMOVE;
      },
      webkit_script_dialog_ref(dialog_), reinterpret_cast<GDestroyNotify>(webkit_script_dialog_unref));
}

}  // namespace engine::webkit
