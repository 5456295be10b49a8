#include "ipc/messages.h"

const char* MessageTypeName(std::uint32_t type) {
  static constexpr const char* kNames[kMessageTypeCount] = {
      "Initialize",         "CreateBrowser",        "DestroyBrowser",      "ProcessEvents",
      "Render",             "SetSize",              "SetZoom",             "ExecuteJavascript",
      "Navigate",           "GoToURL",              "GoToHTML",            "Reload",
      "StopLoading",        "ShowDevTools",         "ClearCookies",        "SetDialogResult",
      "SetContextMenuResult", "SetFileDialogResult", "SendMouseClickEvent", "SendMouseWheelEvent",
      "SendMouseMoveEvent", "SendKeyEvent",         "SendCharacterEvent",  "SendFocusEvent",
      "SendFrameCommand",
  };
  return type < kMessageTypeCount ? kNames[type] : nullptr;
}
