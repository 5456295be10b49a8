#include "file_chooser_answer.h"

namespace engine::webkit {

FileChooserAnswer::FileChooserAnswer(WebKitFileChooserRequest* request)
    : request_(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request))) {}

FileChooserAnswer::~FileChooserAnswer() {
  if (!answered_) webkit_file_chooser_request_cancel(request_);
  g_object_unref(request_);
}

void FileChooserAnswer::Continue(const std::vector<std::string>& paths) {
  if (answered_) return;
  answered_ = true;
  if (paths.empty()) {
    webkit_file_chooser_request_cancel(request_);
    return;
  }
  std::vector<const char*> list;
  for (const auto& p : paths) list.push_back(p.c_str());
  list.push_back(nullptr);
  webkit_file_chooser_request_select_files(request_, list.data());
}

void FileChooserAnswer::Cancel() {
  if (answered_) return;
  answered_ = true;
  webkit_file_chooser_request_cancel(request_);
}

}  // namespace engine::webkit
