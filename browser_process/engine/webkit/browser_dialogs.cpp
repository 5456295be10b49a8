// A browser's script dialogs and file choosers: shown by the host, answered
// through the callbacks it is handed.
#include <gio/gio.h>

#include "file_chooser_answer.h"
#include "mime_extensions.h"
#include "or_empty.h"
#include "webkit_browser.h"

namespace engine::webkit {

gboolean WebKitBrowser::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  const std::string message = OrEmpty(webkit_script_dialog_get_message(dialog));
  auto answer = std::make_shared<ScriptDialogAnswer>(dialog);
  answer->set_in_signal(true);
  struct Leaving {
    ScriptDialogAnswer& answer;
    ~Leaving() { answer.set_in_signal(false); }
  } leaving{*answer};
  const auto type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    b->client_->OnBeforeUnloadDialog(message, false, answer);
  } else {
    const JsDialogType kind = type == WEBKIT_SCRIPT_DIALOG_CONFIRM  ? JsDialogType::Confirm
                              : type == WEBKIT_SCRIPT_DIALOG_PROMPT ? JsDialogType::Prompt
                                                                    : JsDialogType::Alert;
    const std::string prompt =
        kind == JsDialogType::Prompt ? OrEmpty(webkit_script_dialog_prompt_get_default_text(dialog)) : "";
    bool suppress = false;
    if (!b->client_->OnJSDialog(kind, message, prompt, answer, suppress)) {
      return TRUE;  // dropped: our reference goes, the dialog closes unshown
    }
  }
  b->open_dialog_ = answer;
  return TRUE;  // shown by the host; closed when it answers
}

// <input type=file>: one entry per accepted type. This engine does not tell a
// folder picker apart and pages have no save chooser.
gboolean WebKitBrowser::OnRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  std::vector<std::string> extensions, descriptions;
  if (const gchar* const* types = webkit_file_chooser_request_get_mime_types(request)) {
    for (; *types != nullptr; ++types) {
      const std::string type = *types;
      // The accept attribute's own extensions arrive as they were given.
      const bool extension = type.rfind('.', 0) == 0;
      extensions.push_back(extension ? type : MimeExtensions(type));
      gchar* description = extension ? nullptr : g_content_type_get_description(type.c_str());
      descriptions.push_back(OrEmpty(description));
      g_free(description);
    }
  }
  const FileDialogMode mode =
      webkit_file_chooser_request_get_select_multiple(request) ? FileDialogMode::OpenMultiple : FileDialogMode::Open;
  b->client_->OnFileDialog(mode, "", extensions, descriptions, std::make_shared<FileChooserAnswer>(request));
  return TRUE;
}

void WebKitBrowser::AbandonDialog() {
  if (auto open = open_dialog_.lock(); open && !open->answered()) client_->OnResetDialogState();
  open_dialog_.reset();
}

}  // namespace engine::webkit
