#pragma once
// The seam between browser_process and the browser engine, in our own terms:
// an engine (start, one pump pass, stop, asynchronous browser creation), a
// browser (everything the request handlers ask of one) and the client
// interface through which the engine reports back. Texts are UTF-8.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

enum class LogSeverity { Default = 0, Verbose = 1 };

// What a backend needs to start: made once from the host's start message.
struct Settings {
  std::string cache_path;  // empty: nothing is kept on disk
  std::string user_agent;  // empty: the engine's own
  std::string log_file;    // empty: no engine log
  LogSeverity log_severity = LogSeverity::Default;
  int remote_debugging_port = 0;       // 0: none
  std::uint32_t background_color = 0;  // ARGB
};

// Per-browser settings.
struct BrowserSettings {
  int windowless_frame_rate = 0;
  std::uint32_t background_color = 0;  // ARGB; 0: the engine's
};

// Where a browser shows: windowless (pictures through Client::OnPaint) or a
// top-level window of its own (the developer tools), named `window_name`.
struct WindowDescription {
  bool windowless = false;
  std::string window_name;
};

struct MouseEvent {
  int x = 0, y = 0;
  std::uint32_t modifiers = 0;  // event-flag bits
};
enum class MouseButton { Left = 0, Middle = 1, Right = 2 };

enum class KeyEventType { RawKeyDown = 0, KeyUp = 2, Char = 3 };
struct KeyEvent {
  KeyEventType type = KeyEventType::RawKeyDown;
  std::uint32_t modifiers = 0;
  int windows_key_code = 0;
  int native_key_code = 0;
  bool is_system_key = false;
  char16_t character = 0;
  char16_t unmodified_character = 0;
  bool focus_on_editable_field = false;
};

enum class FrameCommand { Undo, Redo, Cut, Copy, Paste, Delete, SelectAll };

enum class CursorType {
  Pointer, Cross, Hand, IBeam, Wait, Help, Move,
  NorthWestResize, SouthEastResize, NorthWestSouthEastResize,
  NorthEastResize, SouthWestResize, NorthEastSouthWestResize,
  EastResize, WestResize, EastWestResize,
  NorthResize, SouthResize, NorthSouthResize,
  Other,
};

// The engine's side of a JavaScript dialog (alert, confirm, prompt or
// before-unload) that waits for an answer.
class DialogCallback {
 public:
  virtual ~DialogCallback() = default;
  virtual void Continue(bool success, const std::string& user_input) = 0;
};

// The engine's side of a page's file chooser.
class FileDialogCallback {
 public:
  virtual ~FileDialogCallback() = default;
  virtual void Continue(const std::vector<std::string>& paths) = 0;
  virtual void Cancel() = 0;
};

// A context menu as the engine built it, and what was clicked.
enum class MenuItemType { None = 0, Command = 1, Check = 2, Radio = 3, Separator = 4, Submenu = 5 };
struct MenuItem {
  MenuItemType type = MenuItemType::Command;
  std::string label;
  int group_id = 0;
  bool visible = true;
  bool enabled = true;
  bool checked = false;
  int command_id = 0;
  bool has_accelerator = false;
  int key_code = 0;  // Windows virtual-key code
  bool shift = false, ctrl = false, alt = false;
  std::vector<MenuItem> submenu;  // for Submenu items
};
inline constexpr std::uint32_t kMenuTypeSelection = 16;  // type flag: a selection was clicked
inline constexpr int kMenuMediaImage = 1;                // media type: an image was clicked
struct ContextMenuParams {
  int x = 0, y = 0;  // view pixels
  bool is_editable = false;
  std::uint32_t type_flags = 0;
  int media_type = 0;
};

// The engine's side of a context menu that waits for the host's choice.
// Continue carries the chosen command out; Cancel closes the menu unused.
class ContextMenuCallback {
 public:
  virtual ~ContextMenuCallback() = default;
  virtual void Continue(int command_id, std::uint32_t event_flags) = 0;
  virtual void Cancel() = 0;
};

enum class JsDialogType { Alert = 0, Confirm = 1, Prompt = 2 };
enum class FileDialogMode { Open = 0, OpenMultiple = 1, OpenFolder = 2, Save = 3 };

// One engine browser, valid from Client::OnAfterCreated to Client::OnBeforeClose.
class Browser {
 public:
  virtual ~Browser() = default;
  virtual void CloseBrowser(bool force) = 0;
  virtual void WasResized() = 0;
  virtual void Invalidate() = 0;  // the whole view
  virtual void NotifyScreenInfoChanged() = 0;
  virtual void SetZoomLevel(double level) = 0;  // factor 1.2^level
  virtual void SetFocus(bool focus) = 0;
  virtual void SendMouseClickEvent(const MouseEvent& event, MouseButton button, bool mouse_up, int click_count) = 0;
  virtual void SendMouseWheelEvent(const MouseEvent& event, int delta_x, int delta_y) = 0;
  virtual void SendMouseMoveEvent(const MouseEvent& event, bool mouse_leave) = 0;
  virtual void SendKeyEvent(const KeyEvent& event) = 0;
  // In the main frame.
  virtual void ExecuteJavaScript(const std::string& code, const std::string& script_url, int start_line) = 0;
  virtual void LoadURL(const std::string& url) = 0;
  virtual void StopLoad() = 0;
  virtual void Reload() = 0;
  virtual void ReloadIgnoreCache() = 0;
  virtual bool CanGoBack() = 0;
  virtual bool CanGoForward() = 0;
  virtual void GoBack() = 0;
  virtual void GoForward() = 0;
  virtual void ShowDevTools(const WindowDescription& window, const BrowserSettings& settings) = 0;
  // Every cookie of every site; false when the engine refuses.
  virtual bool DeleteAllCookies() = 0;
  // On the focused frame; false when there is no valid one.
  virtual bool ExecuteFrameCommand(FrameCommand command) = 0;
};

// What the engine calls on the program's per-browser object, on the engine's
// UI thread, inside Engine calls (chiefly DoMessageLoopWork).
class Client {
 public:
  virtual ~Client() = default;
  virtual void OnAfterCreated(std::shared_ptr<Browser> browser) = 0;
  virtual void OnBeforeClose() = 0;
  virtual void OnLoadStart(bool main_frame) = 0;
  // A finished load: the HTTP status the response reported, the frame's URL.
  virtual void OnLoadEnd(bool main_frame, int http_status, const std::string& url) = 0;
  // The imaginary view the browser paints: device-independent pixels.
  virtual Rect GetViewRect() = 0;
  virtual float GetDeviceScaleFactor() = 0;
  // BGRA pixels, rows top to bottom, width x 4 bytes each.
  virtual void OnPaint(const std::vector<Rect>& dirty, const void* buffer, int width, int height) = 0;
  virtual void OnCursorChange(CursorType type) = 0;

  // Page events.
  virtual void OnAddressChange(bool main_frame, const std::string& url) = 0;
  virtual void OnTitleChange(const std::string& title) = 0;
  virtual void OnLoadingStateChange(bool is_loading, bool can_go_back, bool can_go_forward) = 0;
  // `error_code` in the network-error numbering hosts know (-102 refused ...).
  virtual void OnLoadError(bool main_frame, int error_code, const std::string& failed_url) = 0;
  virtual void OnRenderProcessTerminated() = 0;
  virtual void OnCertificateError() = 0;
  // A popup or a link the page wants opened in another window; none is made.
  virtual void OnOpenURL(const std::string& target_url) = 0;
  virtual void OnConsoleMessage(const std::string& message, const std::string& source, int line) = 0;
  // What a page passed to its _tev_event function.
  virtual void OnScriptMessage(int code, const std::string& text) = 0;

  // Dialogs: true when the client takes the callback (the page waits for
  // the answer). For a dialog refused while another is open the client sets
  // `suppress` and returns false.
  virtual bool OnJSDialog(JsDialogType type, const std::string& message, const std::string& default_prompt,
                          std::shared_ptr<DialogCallback> callback, bool& suppress) = 0;
  virtual bool OnBeforeUnloadDialog(const std::string& message, bool is_reload,
                                    std::shared_ptr<DialogCallback> callback) = 0;
  // The engine gave up a dialog it had asked for (navigation, reload, ...).
  virtual void OnResetDialogState() = 0;
  virtual bool OnFileDialog(FileDialogMode mode, const std::string& default_path,
                            const std::vector<std::string>& extensions, const std::vector<std::string>& descriptions,
                            std::shared_ptr<FileDialogCallback> callback) = 0;
  // Context menus: true when the client takes the menu (nothing is shown by
  // the engine). Each menu the client took ends with one dismissal notice,
  // answered or given up (navigation, close).
  virtual bool RunContextMenu(const ContextMenuParams& params, const std::vector<MenuItem>& model,
                              std::shared_ptr<ContextMenuCallback> callback) = 0;
  virtual void OnContextMenuDismissed() = 0;
};

class Engine {
 public:
  virtual ~Engine() = default;
  virtual bool Initialize(const Settings& settings) = 0;
  // One pass of the engine's work that is ready now; never waits long.
  virtual void DoMessageLoopWork() = 0;
  virtual void Shutdown() = 0;
  // Asynchronous: the browser arrives later through Client::OnAfterCreated,
  // inside DoMessageLoopWork. False when the engine refuses at once.
  virtual bool CreateBrowser(const WindowDescription& window, std::shared_ptr<Client> client, const std::string& url,
                             const BrowserSettings& settings) = 0;
};

}  // namespace engine
