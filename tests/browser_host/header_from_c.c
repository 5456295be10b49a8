/* The public header compiles as C and its exports link from a C program. */
#include "TEVBrowser.h"

int main(void) {
  BrowserEventCode code = FileDialogSave;
  bool updated = false;
  int32_t width = 0, height = 0, cursor = 0;
  void* buffer = 0;
  /* Without Initialize every export is a harmless no-op. */
  if (TEVBrowser_Render(1, &updated, &width, &height, &buffer, &cursor)) return 1;
  if (TEVBrowser_CreateBrowser("about:blank") != 0) return 2;
  TEVBrowser_ProcessEvents(0, 0, 0);
  TEVBrowser_Shutdown();
  return code == 17 && !TEVBrowser_ConnectionValid() ? 0 : 3;
}
