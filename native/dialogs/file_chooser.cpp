#include "file_chooser.h"

#include <gtk/gtk.h>
#include <sys/stat.h>

namespace tev::dialogs {
namespace {

// Successful Initialize calls not yet undone: one library-wide count, used
// from the dialog thread only.
int g_initialized = 0;

const char* Title(Kind kind) {
  switch (kind) {
    case Kind::Open:
      return "Open File";
    case Kind::OpenMultiple:
      return "Open Files";
    case Kind::Save:
      return "Save File";
    case Kind::Folder:
      return "Select Folder";
  }
  return "";
}

void AddFilters(GtkFileChooser* chooser, const std::vector<Filter>& filters) {
  GtkFileFilter* first = nullptr;
  for (const Filter& f : filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    std::string shown = f.name + " (";
    for (std::size_t i = 0; i < f.extensions.size(); ++i) {
      const std::string pattern = "*." + f.extensions[i];
      gtk_file_filter_add_pattern(filter, pattern.c_str());
      shown += (i ? ", " : "") + pattern;
    }
    shown += ")";
    gtk_file_filter_set_name(filter, shown.c_str());
    gtk_file_chooser_add_filter(chooser, filter);
    if (first == nullptr) first = filter;
  }
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, "All files");
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(chooser, all);
  gtk_file_chooser_set_filter(chooser, first ? first : all);
}

// The typed name gets the first filter's first extension when it has none.
std::string WithDefaultExtension(const std::string& path, const std::vector<Filter>& filters) {
  if (filters.empty() || filters.front().extensions.empty()) return path;
  const std::size_t slash = path.rfind('/');
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.find('.') != std::string::npos) return path;
  return path + "." + filters.front().extensions.front();
}

// Lets GTK take the closed dialog off the screen before we return.
void Drain() {
  while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

bool Initialize() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  ++g_initialized;
  return true;
}

void Shutdown() {
  if (g_initialized > 0) --g_initialized;
}

bool Initialized() { return g_initialized > 0; }

Result Run(const Request& request, std::vector<std::string>& paths) {
  if (!Initialized()) return Result::Error;
  GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
  const char* accept = "_Open";
  if (request.kind == Kind::Save) {
    action = GTK_FILE_CHOOSER_ACTION_SAVE;
    accept = "_Save";
  } else if (request.kind == Kind::Folder) {
    action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
    accept = "_Select";
  }
  GtkWidget* widget = gtk_file_chooser_dialog_new(Title(request.kind), nullptr, action, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, accept, GTK_RESPONSE_ACCEPT, nullptr);
  if (widget == nullptr) return Result::Error;
  auto* chooser = GTK_FILE_CHOOSER(widget);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  if (request.kind == Kind::OpenMultiple) gtk_file_chooser_set_select_multiple(chooser, TRUE);
  if (request.kind != Kind::Folder) AddFilters(chooser, request.filters);
  if (request.kind == Kind::Save) {
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (!request.default_name.empty()) gtk_file_chooser_set_current_name(chooser, request.default_name.c_str());
  }
  // An existing folder is opened; a path that does not exist is ignored.
  struct stat info {};
  if (!request.default_path.empty() && ::stat(request.default_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    gtk_file_chooser_set_current_folder(chooser, request.default_path.c_str());
  }

  const gint response = gtk_dialog_run(GTK_DIALOG(widget));
  Result result = Result::Error;
  if (response == GTK_RESPONSE_ACCEPT) {
    paths.clear();
    GSList* chosen = gtk_file_chooser_get_filenames(chooser);
    for (GSList* item = chosen; item != nullptr; item = item->next) {
      if (item->data != nullptr) paths.emplace_back(static_cast<const char*>(item->data));
    }
    g_slist_free_full(chosen, g_free);
    if (request.kind == Kind::Save && !paths.empty()) paths.front() = WithDefaultExtension(paths.front(), request.filters);
    result = paths.empty() ? Result::Error : Result::Okay;
  } else if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) {
    result = Result::Cancel;
  }
  gtk_widget_destroy(widget);
  Drain();
  return result;
}

}  // namespace tev::dialogs
