#pragma once
// One browser: a WebKitWebView in a GtkOffscreenWindow. Its signal handlers
// are named after the signals they serve and live by concern: the page's
// life here, dialogs, the context menu, the <select> list, input, readback
// and scale each in a file of their own (browser_*.cpp).
#include <cairo.h>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <webkit2/webkit2.h>

#include "context_menu_answer.h"
#include "engine/engine.h"
#include "key_mapping.h"
#include "option_popup.h"
#include "script_dialog_answer.h"
#include "view_scale.h"
#include "warm_view.h"

namespace engine::webkit {

class WebKitEngine;

class WebKitBrowser : public Browser {
 public:
  WebKitBrowser(WebKitEngine& engine, std::shared_ptr<Client> client, WarmView warm, const BrowserSettings& settings);
  ~WebKitBrowser() override;
  WebKitBrowser(const WebKitBrowser&) = delete;
  WebKitBrowser& operator=(const WebKitBrowser&) = delete;

  // What the engine asks of its browsers.
  void Load(const std::string& url);
  void set_initial_url(const std::string& url) { initial_url_ = url; }
  const std::string& initial_url() const { return initial_url_; }
  // Work for one pump pass: paints and cursor.
  void Deliver();
  bool closing() const { return closing_; }
  bool loading() const { return view_ != nullptr && webkit_web_view_is_loading(view_); }
  Client& client() { return *client_; }
  void ReleaseClient() { client_.reset(); }
  void Destroy();
  // The view is going: what the host was shown can no longer be answered.
  void GiveUpOpenRequests();
  // The host's choice from the open menu (or none), then its dismissal.
  void FinishMenu(OpenMenu& menu, bool chosen, int command_id);

  // Browser
  void CloseBrowser(bool) override { closing_ = true; }
  void WasResized() override { ApplySize(); }
  void Invalidate() override;
  void NotifyScreenInfoChanged() override { ApplySize(); }
  void SetZoomLevel(double level) override;
  void SetFocus(bool focus) override;
  void SendMouseClickEvent(const MouseEvent& e, MouseButton button, bool mouse_up, int click_count) override;
  void SendMouseWheelEvent(const MouseEvent& e, int delta_x, int delta_y) override;
  void SendMouseMoveEvent(const MouseEvent& e, bool mouse_leave) override;
  void SendKeyEvent(const KeyEvent& e) override;
  void ExecuteJavaScript(const std::string& code, const std::string& script_url, int) override;
  void LoadURL(const std::string& url) override;
  void StopLoad() override { HostNavigation(webkit_web_view_stop_loading); }
  void Reload() override { HostNavigation(webkit_web_view_reload); }
  void ReloadIgnoreCache() override { HostNavigation(webkit_web_view_reload_bypass_cache); }
  bool CanGoBack() override { return view_ && webkit_web_view_can_go_back(view_); }
  bool CanGoForward() override { return view_ && webkit_web_view_can_go_forward(view_); }
  void GoBack() override { HostNavigation(webkit_web_view_go_back); }
  void GoForward() override { HostNavigation(webkit_web_view_go_forward); }
  void ShowDevTools(const WindowDescription& window, const BrowserSettings&) override;
  bool DeleteAllCookies() override;
  bool ExecuteFrameCommand(FrameCommand command) override;

 private:
  // The page's life (webkit_browser.cpp).
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnClose(WebKitWebView*, gpointer) { return TRUE; }  // scripts cannot close a view
  static void OnNotifyUri(WebKitWebView* view, GParamSpec*, gpointer self);
  static void OnNotifyTitle(WebKitWebView* view, GParamSpec*, gpointer self);
  static void OnNotifyIsLoading(WebKitWebView* view, GParamSpec*, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
  static gboolean OnLoadFailedWithTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                                            gpointer self);
  static gboolean OnUserMessageReceived(WebKitWebView*, WebKitUserMessage* message, gpointer self);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
  static void OnNotifyIsWebProcessResponsive(WebKitWebView* view, GParamSpec*, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer self);
  // What the host asked for always happens: a page whose process no longer
  // answers (a script that never ends) has that process ended first, so the
  // host's navigation loads in a fresh one.
  void HostNavigation(std::function<void(WebKitWebView*)> go);
  void EndUnresponsivePage();

  // Dialogs and file choosers (browser_dialogs.cpp).
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
  static gboolean OnRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self);
  // A dialog the host was shown that the engine has given up.
  void AbandonDialog();

  // The context menu (browser_context_menu.cpp).
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent* event, WebKitHitTestResult* hit,
                                gpointer self);
  void AbandonMenu();
  // Choosing an item's action does nothing once the menu is not shown, so
  // the stock commands are carried out here.
  void RunMenuCommand(const OpenMenu& menu, int command_id);

  // <select>: the list is drawn into the frame and takes the input while
  // open (browser_option_menu.cpp).
  static gboolean OnShowOptionMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle* element,
                                   gpointer self);
  static void OnOptionMenuClose(WebKitOptionMenu*, gpointer self);
  void ForgetOptionMenu();
  // The page's choice (change fires) or no choice; the list closes either way.
  void ChooseOption(int index);
  bool PopupTakesClick(const MouseEvent& e, bool mouse_up);
  bool PopupTakesWheel(const MouseEvent& e, int delta_y);
  bool PopupTakesMove(const MouseEvent& e);
  bool PopupTakesKey(const KeyEvent& e);

  // Synthetic input (browser_input.cpp).
  GdkEvent* NewEvent(GdkEventType type);
  void Dispatch(GdkEvent* event);

  // Readback (browser_readback.cpp).
  static gboolean OnDamageEvent(GtkWidget*, GdkEventExpose* event, gpointer self);

  // Size and scale (browser_scale.cpp).
  void ApplySize();
  void ApplyZoom();
  // Moves the view into a new window on the display of `window_scale`.
  void MoveToWindowScale(int window_scale);
  // A point of the host's view in the widget's coordinates, and back.
  double ToWidget(double view_coordinate) const { return view_coordinate * layout_.fraction; }
  MouseEvent ToWidget(const MouseEvent& e) const;
  int ToView(double widget_coordinate) const;

  WebKitEngine& engine_;
  std::shared_ptr<Client> client_;
  GtkWidget* window_ = nullptr;
  WebKitWebView* view_ = nullptr;
  std::vector<Rect> damage_;
  bool full_damage_ = true;
  bool closing_ = false;
  GdkCursor* last_cursor_ = reinterpret_cast<GdkCursor*>(-1);
  KeyState keys_;
  std::weak_ptr<ScriptDialogAnswer> open_dialog_;
  std::shared_ptr<OpenMenu> open_menu_;
  WebKitOptionMenu* option_menu_ = nullptr;
  gulong option_menu_closed_ = 0;
  std::optional<OptionPopup> popup_;
  bool popup_pressed_ = false;  // the press of the current click fell on the list
  double last_click_x_ = 0, last_click_y_ = 0;
  std::string initial_url_;
  std::function<void(WebKitWebView*)> pending_navigation_;  // the host's, until the engine commits it
  std::chrono::steady_clock::time_point pending_since_;
  cairo_surface_t* readback_ = nullptr;
  int applied_width_ = 0;
  int applied_height_ = 0;
  float applied_scale_ = 1.0f;
  ViewScale layout_;
  double zoom_level_ = 0.0;  // the host's
};

}  // namespace engine::webkit
