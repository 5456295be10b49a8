/* TEVBrowser: off-screen web browsers rendered by the browser_process program.
 *
 * Call TEVBrowser_Initialize once, pump TEVBrowser_ProcessEvents regularly
 * (typically once per frame) and read pictures in place with
 * TEVBrowser_Render. Every function must be called from one thread at a time.
 * Texts are NUL-terminated UTF-8; a null pointer is the empty text. Texts
 * handed to callbacks are valid only during the callback. */
#ifndef TEVBROWSER_H
#define TEVBROWSER_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define TEVBROWSER_API __declspec(dllexport)
#else
#define TEVBROWSER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codes of the browser events delivered to the event callback; the JSON
 * payload of each is described with the event catalogue. */
typedef enum BrowserEventCode {
  BrowserCreated = 0,
  BrowserClosed = 1,
  AddressChanged = 2,
  TitleChanged = 3,
  LoadingStateChanged = 4,
  LoadEnded = 5,
  JavaScriptDialog = 6,
  DialogReset = 7,
  ContextMenu = 8,
  ContextMenuDismissed = 9,
  LoadFailed = 10,
  RenderProcessTerminated = 11,
  CertificateError = 12,
  OpenURL = 13,
  FileDialogOpen = 14,
  FileDialogOpenMultiple = 15,
  FileDialogOpenFolder = 16,
  FileDialogSave = 17
} BrowserEventCode;

typedef void (*TEVBrowser_ConsoleCallback)(int32_t handle, const char* message, const char* source, int32_t line);
typedef void (*TEVBrowser_EventCallback)(int32_t handle, int32_t code, const char* data);
typedef void (*TEVBrowser_ScriptCallback)(int32_t handle, int32_t code, const char* data);

/* Lifecycle. Initialize starts browser_process (argument 1) and returns once
 * the start message is on its way; it never waits for the program. A second
 * Initialize without Shutdown returns false and keeps the existing link.
 * `unused` is never read. */
TEVBROWSER_API bool TEVBrowser_Initialize(const char* browser_process_path, const char* resources_dir_path,
                                          const char* framework_dir_path, const char* main_bundle_path,
                                          const char* log_file, const char* cache_path, const char* unused,
                                          const char* user_agent, bool debug);
/* Closes the link; browser_process ends by itself. Safe to call at any time. */
TEVBROWSER_API void TEVBrowser_Shutdown(void);
/* False once any exchange has failed; stays false until Shutdown. */
TEVBROWSER_API bool TEVBrowser_ConnectionValid(void);

/* Requests. CreateBrowser returns the new browser's handle, or 0. */
TEVBROWSER_API int32_t TEVBrowser_CreateBrowser(const char* url);
TEVBROWSER_API void TEVBrowser_DestroyBrowser(int32_t handle);
TEVBROWSER_API void TEVBrowser_SetSize(int32_t handle, int32_t width, int32_t height, float scale_factor);
TEVBROWSER_API void TEVBrowser_SetZoom(int32_t handle, float zoom);
TEVBROWSER_API void TEVBrowser_ExecuteJavascript(int32_t handle, const char* code);
TEVBROWSER_API void TEVBrowser_Navigate(int32_t handle, bool forward);
TEVBROWSER_API void TEVBrowser_GoToURL(int32_t handle, const char* url, bool skip_unload);
TEVBROWSER_API void TEVBrowser_GoToHTML(int32_t handle, const char* html, bool skip_unload);
TEVBROWSER_API void TEVBrowser_Reload(int32_t handle, bool ignore_cache);
TEVBROWSER_API void TEVBrowser_StopLoading(int32_t handle);
TEVBROWSER_API void TEVBrowser_ShowDevTools(int32_t handle);
TEVBROWSER_API void TEVBrowser_ClearCookies(int32_t handle);
TEVBROWSER_API void TEVBrowser_SetDialogResult(int32_t handle, bool success, const char* user_input);
TEVBROWSER_API void TEVBrowser_SetContextMenuResult(int32_t handle, int32_t command_id);
/* Sends the first `count` entries of `paths` (none when count <= 0). */
TEVBROWSER_API void TEVBrowser_SetFileDialogResult(int32_t handle, int32_t count, const char** paths);
TEVBROWSER_API void TEVBrowser_SendMouseClickEvent(int32_t handle, int32_t x, int32_t y, int32_t button, bool mouse_up,
                                                   int32_t click_count, uint32_t modifiers);
TEVBROWSER_API void TEVBrowser_SendMouseWheelEvent(int32_t handle, int32_t x, int32_t y, int32_t delta_x,
                                                   int32_t delta_y, uint32_t modifiers);
TEVBROWSER_API void TEVBrowser_SendMouseMoveEvent(int32_t handle, int32_t x, int32_t y, uint32_t modifiers);
TEVBROWSER_API void TEVBrowser_SendKeyEvent(int32_t handle, int32_t windows_key_code, int32_t native_key_code,
                                            bool key_up, uint32_t modifiers);
TEVBROWSER_API void TEVBrowser_SendCharacterEvent(int32_t handle, uint16_t character, uint16_t unmodified_character,
                                                  uint32_t modifiers);
TEVBROWSER_API void TEVBrowser_SendFocusEvent(int32_t handle, bool focus);
/* 0 undo, 1 redo, 2 cut, 3 copy, 4 paste, 5 delete, 6 select all. */
TEVBROWSER_API void TEVBrowser_SendFrameCommand(int32_t handle, int32_t command);

/* Runs the engine once and calls the callbacks (each may be null) for
 * everything queued since the last call: console lines, then browser events,
 * then script events. Callbacks may call the request functions. */
TEVBROWSER_API void TEVBrowser_ProcessEvents(TEVBrowser_ConsoleCallback console, TEVBrowser_EventCallback event,
                                             TEVBrowser_ScriptCallback script);
/* Asks for a browser's latest picture. On true, *buffer is the shared frame
 * buffer: when *updated, a *width x *height BGRA frame (rows top to bottom, no
 * padding) lies at its start until the next Render. All outputs must be valid. */
TEVBROWSER_API bool TEVBrowser_Render(int32_t handle, bool* updated, int32_t* width, int32_t* height, void** buffer,
                                      int32_t* cursor);

#ifdef __cplusplus
}
#endif

#endif /* TEVBROWSER_H */
