#pragma once
// A page's <input type=file> chooser, held until the host answers.
#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "engine/engine.h"

namespace engine::webkit {

// An empty answer, or none, cancels the chooser.
class FileChooserAnswer : public FileDialogCallback {
 public:
  explicit FileChooserAnswer(WebKitFileChooserRequest* request);
  ~FileChooserAnswer() override;
  void Continue(const std::vector<std::string>& paths) override;
  void Cancel() override;

 private:
  WebKitFileChooserRequest* request_;
  bool answered_ = false;
};

}  // namespace engine::webkit
