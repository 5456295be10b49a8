// browser_process: serves one TEVBrowser host over the inherited pipe, with
// pages rendered by WebKitGTK. The whole command line is argv[0].
#include <cstdio>
#include <string>

#include "core/entry.h"
#include "engine/webkit/webkit_engine.h"
#include "platform/child_lifetime.h"

int main(int argc, char** argv) {
  // The host starts us with exactly one argument, the whole command line;
  // anything else is not a browser-mode start.
  std::string command_line = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
  return RunBrowserProcess(command_line, [] {
    // The engine's processes end with us, even while a page spins in a
    // script and cannot hear that we are gone.
    if (!platform::EndChildrenWithUs()) {
      std::fprintf(stderr, "CLIENT: The engine's processes may outlive this program\n");
    }
    return engine::webkit::CreateEngine();
  });
}
