#pragma once
// A thin layer over GTK 3's file chooser: the open, open-several, save and
// folder dialogs, run modally on the calling thread with GTK's own loop.
#include <string>
#include <vector>

namespace tev::dialogs {

enum class Result { Error = 0, Okay = 1, Cancel = 2 };
enum class Kind { Open, OpenMultiple, Save, Folder };

struct Filter {
  std::string name;                     // UTF-8 display name
  std::vector<std::string> extensions;  // without dots: "png", "jpg"
};

struct Request {
  Kind kind = Kind::Open;
  std::vector<Filter> filters;
  std::string default_path;  // empty: GTK's choice
  std::string default_name;  // save dialog only
};

// Prepares GTK on the calling thread; false when no display can be opened.
// Calls are counted; a dialog needs at least one that succeeded.
bool Initialize();
void Shutdown();
bool Initialized();

// Shows the dialog. On Okay `paths` holds the chosen paths (several only for
// OpenMultiple), in the order GTK reports them.
Result Run(const Request& request, std::vector<std::string>& paths);

}  // namespace tev::dialogs
