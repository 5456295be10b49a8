#pragma once
// A page's alert, confirm, prompt or leave-page dialog, held until the host
// answers.
#include <string>
#include <webkit2/webkit2.h>

#include "engine/engine.h"

namespace engine::webkit {

// The page waits meanwhile. Let go unanswered, the dialog closes with its
// defaults.
class ScriptDialogAnswer : public DialogCallback {
 public:
  explicit ScriptDialogAnswer(WebKitScriptDialog* dialog);
  ~ScriptDialogAnswer() override;
  void Continue(bool success, const std::string& user_input) override;
  bool answered() const { return answered_; }
  // While the engine's "script-dialog" signal runs.
  void set_in_signal(bool in_signal) { in_signal_ = in_signal; }

 private:
  WebKitScriptDialog* dialog_;
  bool answered_ = false;
  bool in_signal_ = false;
};

}  // namespace engine::webkit
