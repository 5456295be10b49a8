#include "webkit_engine.h"

#include <cairo.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>
#include <webkit2/webkit2.h>

#include "key_mapping.h"
#include "memory_watchdog.h"
#include "menu_model.h"
#include "option_popup.h"
#include "page_guards.h"
#include "private_display.h"
#include "view_scale.h"
#include "network_errors.h"

namespace engine::webkit {
namespace {

// ---- cursors ------------------------------------------------------------------

// GDK caches named cursors per display, so the cursor WebKit sets on the view
// is the very object these names give.
class CursorTable {
 public:
  void Load(GdkDisplay* display) {
    static const std::pair<const char*, CursorType> kNames[] = {
        {"default", CursorType::Pointer},       {"pointer", CursorType::Hand},
        {"text", CursorType::IBeam},            {"move", CursorType::Move},
        {"crosshair", CursorType::Cross},       {"wait", CursorType::Wait},
        {"help", CursorType::Help},             {"nwse-resize", CursorType::NorthWestSouthEastResize},
        {"nesw-resize", CursorType::NorthEastSouthWestResize}, {"ew-resize", CursorType::EastWestResize},
        {"ns-resize", CursorType::NorthSouthResize}, {"nw-resize", CursorType::NorthWestResize},
        {"se-resize", CursorType::SouthEastResize}, {"ne-resize", CursorType::NorthEastResize},
        {"sw-resize", CursorType::SouthWestResize}, {"e-resize", CursorType::EastResize},
        {"w-resize", CursorType::WestResize},   {"n-resize", CursorType::NorthResize},
        {"s-resize", CursorType::SouthResize},
    };
    for (const auto& [name, type] : kNames) {
      if (GdkCursor* cursor = gdk_cursor_new_from_name(display, name)) {
        types_[cursor] = type;
        held_.push_back(cursor);
      }
    }
  }
  CursorType TypeOf(GdkCursor* cursor) const {
    if (cursor == nullptr) return CursorType::Pointer;
    const auto it = types_.find(cursor);
    return it == types_.end() ? CursorType::Other : it->second;
  }
  ~CursorTable() {
    for (GdkCursor* c : held_) g_object_unref(c);
  }

 private:
  std::map<GdkCursor*, CursorType> types_;
  std::vector<GdkCursor*> held_;
};

class WebKitEngine;

// GTK makes new windows on the default display: a view's window goes on the
// display of its scale while it is made and realised.
class DefaultDisplay {
 public:
  explicit DefaultDisplay(GdkDisplay* display)
      : manager_(gdk_display_manager_get()), previous_(gdk_display_manager_get_default_display(manager_)) {
    if (display != nullptr) gdk_display_manager_set_default_display(manager_, display);
  }
  ~DefaultDisplay() {
    if (previous_ != nullptr) gdk_display_manager_set_default_display(manager_, previous_);
  }
  DefaultDisplay(const DefaultDisplay&) = delete;
  DefaultDisplay& operator=(const DefaultDisplay&) = delete;

 private:
  GdkDisplayManager* manager_;
  GdkDisplay* previous_;
};

// ---- file choosers -----------------------------------------------------------

// The file extensions the system's MIME database lists for `mime`, each with
// its dot, joined by ';' (".jpg;.jpeg;.jpe"). GIO answers the reverse
// question only, so the shared-MIME globs are read once.
std::string MimeExtensions(const std::string& mime) {
  static const std::map<std::string, std::string> table = [] {
    std::map<std::string, std::string> globs;
    std::ifstream in("/usr/share/mime/globs2");
    std::string line;
    while (std::getline(in, line)) {
      // weight:type:pattern[:flags]
      if (line.empty() || line[0] == '#') continue;
      const auto first = line.find(':');
      const auto second = first == std::string::npos ? first : line.find(':', first + 1);
      if (second == std::string::npos) continue;
      const std::string type = line.substr(first + 1, second - first - 1);
      std::string pattern = line.substr(second + 1);
      pattern = pattern.substr(0, pattern.find(':'));
      if (pattern.rfind("*.", 0) != 0 || pattern.find_first_of("*?[", 2) != std::string::npos) continue;
      std::string& joined = globs[type];
      const std::string extension = pattern.substr(1);
      if ((";" + joined + ";").find(";" + extension + ";") != std::string::npos) continue;
      joined += (joined.empty() ? "" : ";") + extension;
    }
    return globs;
  }();
  const auto it = table.find(mime);
  return it == table.end() ? "" : it->second;
}

// Holds a page's file chooser until the host answers; an empty answer, or
// none, cancels it.
class FileChooserAnswer : public FileDialogCallback {
 public:
  explicit FileChooserAnswer(WebKitFileChooserRequest* request) : request_(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request))) {}
  ~FileChooserAnswer() override {
    if (!answered_) webkit_file_chooser_request_cancel(request_);
    g_object_unref(request_);
  }
  void Continue(const std::vector<std::string>& paths) override {
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
  void Cancel() override {
    if (answered_) return;
    answered_ = true;
    webkit_file_chooser_request_cancel(request_);
  }

 private:
  WebKitFileChooserRequest* request_;
  bool answered_ = false;
};

// ---- JavaScript dialogs ------------------------------------------------------

// Holds a script dialog until the host answers; the page waits meanwhile.
// Let go unanswered, the dialog closes with its defaults.
class ScriptDialogAnswer : public DialogCallback {
 public:
  explicit ScriptDialogAnswer(WebKitScriptDialog* dialog) : dialog_(webkit_script_dialog_ref(dialog)) {}
  ~ScriptDialogAnswer() override { webkit_script_dialog_unref(dialog_); }
  void Continue(bool success, const std::string& user_input) override {
    if (answered_) return;
    answered_ = true;
    switch (webkit_script_dialog_get_dialog_type(dialog_)) {
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:  // confirmed: leave the page
        webkit_script_dialog_confirm_set_confirmed(dialog_, success);
        break;
      case WEBKIT_SCRIPT_DIALOG_PROMPT:
        if (success) webkit_script_dialog_prompt_set_text(dialog_, user_input.c_str());
        break;
      default:
        break;
    }
    if (!in_signal_) {
      webkit_script_dialog_close(dialog_);
      return;
    }
    // Answered inside the engine's own signal: the engine still uses the
    // dialog once the signal returns, so it closes a moment later.
    g_idle_add_full(
        G_PRIORITY_HIGH_IDLE,
        [](gpointer dialog) {
          webkit_script_dialog_close(static_cast<WebKitScriptDialog*>(dialog));
          return G_SOURCE_REMOVE;
        },
        webkit_script_dialog_ref(dialog_), reinterpret_cast<GDestroyNotify>(webkit_script_dialog_unref));
  }
  bool answered() const { return answered_; }
  void set_in_signal(bool in_signal) { in_signal_ = in_signal; }

 private:
  WebKitScriptDialog* dialog_;
  bool answered_ = false;
  bool in_signal_ = false;
};

// ---- context menus -------------------------------------------------------------

class WebKitBrowser;

// The engine's menu and what was clicked, kept while the host chooses.
struct OpenMenu {
  OpenMenu(WebKitContextMenu* m, WebKitHitTestResult* hit)
      : menu(WEBKIT_CONTEXT_MENU(g_object_ref(m))),
        link_uri(Text(webkit_hit_test_result_get_link_uri(hit))),
        image_uri(Text(webkit_hit_test_result_get_image_uri(hit))),
        media_uri(Text(webkit_hit_test_result_get_media_uri(hit))) {}
  ~OpenMenu() { g_object_unref(menu); }
  static std::string Text(const char* s) { return s ? s : ""; }

  WebKitBrowser* browser = nullptr;  // null once answered or given up
  WebKitContextMenu* menu;
  std::vector<WebKitContextMenuItem*> customs;
  std::string link_uri, image_uri, media_uri;
};

class ContextMenuAnswer : public ContextMenuCallback {
 public:
  explicit ContextMenuAnswer(std::shared_ptr<OpenMenu> menu) : menu_(std::move(menu)) {}
  void Continue(int command_id, std::uint32_t) override { Finish(true, command_id); }
  void Cancel() override { Finish(false, 0); }

 private:
  void Finish(bool chosen, int command_id);
  std::shared_ptr<OpenMenu> menu_;
};

// ---- warm views --------------------------------------------------------------

// A view in its offscreen window, made ahead of the browser that takes it.
struct WarmView {
  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
};

// A view whose web process is already running: starting that process is
// most of the time to a new browser's first frame. A script run starts it
// without a page or a history entry, and the first page the browser loads
// commits in that same process. Each view keeps a process of its own, so a
// page that hangs still hangs only its own browser.
WarmView NewWarmView(WebKitWebContext* context) {
  WarmView warm;
  warm.view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  warm.window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(warm.window), GTK_WIDGET(warm.view));
  webkit_web_view_evaluate_javascript(warm.view, "0", -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  return warm;
}

// ---- one browser --------------------------------------------------------------

class WebKitBrowser : public Browser {
 public:
  WebKitBrowser(WebKitEngine& engine, std::shared_ptr<Client> client, WarmView warm, const BrowserSettings& settings);
  ~WebKitBrowser() override {
    Destroy();
    if (readback_) cairo_surface_destroy(readback_);
  }

  void Load(const std::string& url) {
    if (view_ && !url.empty()) webkit_web_view_load_uri(view_, url.c_str());
  }
  void set_initial_url(const std::string& url) { initial_url_ = url; }
  const std::string& initial_url() const { return initial_url_; }
  // Work for one pump pass: paints and cursor. False once closed.
  void Deliver();
  bool closing() const { return closing_; }
  bool loading() const { return view_ != nullptr && webkit_web_view_is_loading(view_); }
  Client& client() { return *client_; }
  void ReleaseClient() { client_.reset(); }
  void Destroy() {
    if (open_menu_) open_menu_->browser = nullptr;
    open_menu_.reset();
    ForgetOptionMenu();
    if (window_ != nullptr) gtk_widget_destroy(window_);
    window_ = nullptr;
    view_ = nullptr;
  }

  // Browser
  // The view is going: what the host was shown can no longer be answered.
  void GiveUpOpenRequests() {
    AbandonDialog();
    AbandonMenu();
  }
  // The host's choice from the open menu (or none), then its dismissal.
  void FinishMenu(OpenMenu& menu, bool chosen, int command_id);

  void CloseBrowser(bool) override { closing_ = true; }
  void WasResized() override { ApplySize(); }
  void Invalidate() override {
    if (view_) gtk_widget_queue_draw(GTK_WIDGET(view_));
    full_damage_ = true;
  }
  void NotifyScreenInfoChanged() override { ApplySize(); }
  void SetZoomLevel(double level) override {
    zoom_level_ = level;
    ApplyZoom();
  }
  void SetFocus(bool focus) override;
  void SendMouseClickEvent(const MouseEvent& e, MouseButton button, bool mouse_up, int click_count) override;
  void SendMouseWheelEvent(const MouseEvent& e, int delta_x, int delta_y) override;
  void SendMouseMoveEvent(const MouseEvent& e, bool mouse_leave) override;
  void SendKeyEvent(const KeyEvent& e) override;
  void ExecuteJavaScript(const std::string& code, const std::string& script_url, int) override {
    if (view_) webkit_web_view_evaluate_javascript(view_, code.c_str(), -1, nullptr, script_url.c_str(), nullptr, nullptr, nullptr);
  }
  void LoadURL(const std::string& url) override {
    HostNavigation([url](WebKitWebView* view) { webkit_web_view_load_uri(view, url.c_str()); });
  }
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
  static gboolean OnDamage(GtkWidget*, GdkEventExpose* event, gpointer self);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnClose(WebKitWebView*, gpointer) { return TRUE; }  // scripts cannot close a view
  static void OnUri(WebKitWebView* view, GParamSpec*, gpointer self) {
    const char* uri = webkit_web_view_get_uri(view);
    static_cast<WebKitBrowser*>(self)->client_->OnAddressChange(true, uri ? uri : "");
  }
  static void OnTitle(WebKitWebView* view, GParamSpec*, gpointer self) {
    const char* title = webkit_web_view_get_title(view);
    static_cast<WebKitBrowser*>(self)->client_->OnTitleChange(title ? title : "");
  }
  static void OnLoading(WebKitWebView* view, GParamSpec*, gpointer self) {
    static_cast<WebKitBrowser*>(self)->client_->OnLoadingStateChange(
        webkit_web_view_is_loading(view), webkit_web_view_can_go_back(view), webkit_web_view_can_go_forward(view));
  }
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
    const int code = error ? NetworkErrorCode(error->domain, error->code) : -2;
    static_cast<WebKitBrowser*>(self)->client_->OnLoadError(true, code, uri ? uri : "");
    // No error page of the engine's: loaded after the failure, it would
    // replace a navigation the host asks for on hearing of the failure. The
    // host has the failure and decides what to show; the view keeps its page.
    return TRUE;
  }
  static gboolean OnTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags, gpointer self) {
    static_cast<WebKitBrowser*>(self)->client_->OnCertificateError();
    return FALSE;  // the engine's policy fails the load
  }
  // What the web-process extension reports, in batches: _tev_event calls
  // and console lines, each in the order the page made them.
  static gboolean OnUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    const char* name = webkit_user_message_get_name(message);
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (name == nullptr || parameters == nullptr) return FALSE;
    if (g_str_equal(name, "js_events") && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a(is))"))) {
      GVariantIter* events = nullptr;
      g_variant_get(parameters, "(a(is))", &events);
      gint32 code = 0;
      const char* text = nullptr;
      while (g_variant_iter_next(events, "(i&s)", &code, &text)) b->client_->OnScriptMessage(code, text ? text : "");
      g_variant_iter_free(events);
      return TRUE;
    }
    if (g_str_equal(name, "console_lines") && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a(ssu))"))) {
      GVariantIter* lines = nullptr;
      g_variant_get(parameters, "(a(ssu))", &lines);
      const char* text = nullptr;
      const char* source = nullptr;
      guint32 line = 0;
      while (g_variant_iter_next(lines, "(&s&su)", &text, &source, &line)) {
        b->client_->OnConsoleMessage(text ? text : "", source ? source : "", static_cast<int>(line));
      }
      g_variant_iter_free(lines);
      return TRUE;
    }
    return FALSE;
  }
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    b->GiveUpOpenRequests();
    b->client_->OnRenderProcessTerminated();
  }
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    const char* message = webkit_script_dialog_get_message(dialog);
    auto answer = std::make_shared<ScriptDialogAnswer>(dialog);
    answer->set_in_signal(true);
    struct Leaving {
      ScriptDialogAnswer& answer;
      ~Leaving() { answer.set_in_signal(false); }
    } leaving{*answer};
    const auto type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
      b->client_->OnBeforeUnloadDialog(message ? message : "", false, answer);
    } else {
      const JsDialogType kind = type == WEBKIT_SCRIPT_DIALOG_CONFIRM  ? JsDialogType::Confirm
                                : type == WEBKIT_SCRIPT_DIALOG_PROMPT ? JsDialogType::Prompt
                                                                      : JsDialogType::Alert;
      const char* prompt = kind == JsDialogType::Prompt ? webkit_script_dialog_prompt_get_default_text(dialog) : "";
      bool suppress = false;
      if (!b->client_->OnJSDialog(kind, message ? message : "", prompt ? prompt : "", answer, suppress)) {
        return TRUE;  // dropped: our reference goes, the dialog closes unshown
      }
    }
    b->open_dialog_ = answer;
    return TRUE;  // shown by the host; closed when it answers
  }
  // <input type=file>: one entry per accepted type. This engine does not tell
  // a folder picker apart and pages have no save chooser.
  static gboolean OnFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    std::vector<std::string> extensions, descriptions;
    if (const gchar* const* types = webkit_file_chooser_request_get_mime_types(request)) {
      for (; *types != nullptr; ++types) {
        const std::string type = *types;
        // The accept attribute's own extensions arrive as they were given.
        extensions.push_back(type.rfind('.', 0) == 0 ? type : MimeExtensions(type));
        gchar* description = type.rfind('.', 0) == 0 ? nullptr : g_content_type_get_description(type.c_str());
        descriptions.emplace_back(description ? description : "");
        g_free(description);
      }
    }
    const FileDialogMode mode =
        webkit_file_chooser_request_get_select_multiple(request) ? FileDialogMode::OpenMultiple : FileDialogMode::Open;
    b->client_->OnFileDialog(mode, "", extensions, descriptions, std::make_shared<FileChooserAnswer>(request));
    return TRUE;
  }
  // The host draws the menu; the engine shows nothing. A menu asked for
  // while one is open is refused by the client and never reported closed.
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent* event, WebKitHitTestResult* hit,
                                gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    auto open = std::make_shared<OpenMenu>(menu, hit);
    ContextMenuParams params;
    gdouble x = b->ToWidget(b->last_click_x_), y = b->ToWidget(b->last_click_y_);
    if (event != nullptr) gdk_event_get_coords(event, &x, &y);
    params.x = b->ToView(x);
    params.y = b->ToView(y);
    params.is_editable = webkit_hit_test_result_context_is_editable(hit);
    params.type_flags = webkit_hit_test_result_context_is_selection(hit) ? kMenuTypeSelection : 0;
    params.media_type = webkit_hit_test_result_context_is_image(hit) ? kMenuMediaImage : 0;
    const std::vector<MenuItem> model = ConvertMenu(menu, open->customs);
    if (!b->open_menu_) {
      open->browser = b;
      b->open_menu_ = open;
    }
    b->client_->RunContextMenu(params, model, std::make_shared<ContextMenuAnswer>(open));
    return TRUE;
  }
  void AbandonMenu() {
    if (!open_menu_) return;
    open_menu_->browser = nullptr;
    open_menu_.reset();
    client_->OnContextMenuDismissed();
  }
  // Choosing an item's action does nothing once the menu is not shown, so
  // the stock commands are carried out here.
  void RunMenuCommand(const OpenMenu& menu, int command_id);
  // <select>: the list is drawn into the frame and takes the input while open.
  static gboolean OnShowOptionMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle* element,
                                   gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    b->ForgetOptionMenu();
    std::vector<PopupItem> items;
    const guint count = webkit_option_menu_get_n_items(menu);
    for (guint i = 0; i < count; ++i) {
      WebKitOptionMenuItem* item = webkit_option_menu_get_item(menu, i);
      const char* label = webkit_option_menu_item_get_label(item);
      items.push_back({label ? label : "", webkit_option_menu_item_is_enabled(item) != FALSE,
                       webkit_option_menu_item_is_group_label(item) != FALSE,
                       webkit_option_menu_item_is_group_child(item) != FALSE,
                       webkit_option_menu_item_is_selected(item) != FALSE});
    }
    b->option_menu_ = WEBKIT_OPTION_MENU(g_object_ref(menu));
    b->option_menu_closed_ = g_signal_connect(menu, "close", G_CALLBACK(OnOptionMenuClosed), self);
    b->popup_.emplace(std::move(items), Rect{element->x, element->y, element->width, element->height},
                      b->applied_width_, b->applied_height_);
    b->popup_pressed_ = false;
    b->full_damage_ = true;
    return TRUE;
  }
  static void OnOptionMenuClosed(WebKitOptionMenu*, gpointer self) { static_cast<WebKitBrowser*>(self)->ForgetOptionMenu(); }
  void ForgetOptionMenu() {
    if (option_menu_ != nullptr) {
      g_signal_handler_disconnect(option_menu_, option_menu_closed_);
      g_object_unref(option_menu_);
      option_menu_ = nullptr;
    }
    if (popup_) full_damage_ = true;  // the list leaves the frame
    popup_.reset();
  }
  // The page's choice (change fires) or no choice; the list closes either way.
  void ChooseOption(int index) {
    WebKitOptionMenu* menu = option_menu_ ? WEBKIT_OPTION_MENU(g_object_ref(option_menu_)) : nullptr;
    ForgetOptionMenu();
    if (menu == nullptr) return;
    if (index >= 0) {
      webkit_option_menu_activate_item(menu, static_cast<guint>(index));
    } else {
      webkit_option_menu_close(menu);
    }
    g_object_unref(menu);
  }
  // Input while the list is open goes to it alone, as with a real dropdown.
  bool PopupTakesClick(const MouseEvent& e, bool mouse_up);
  bool PopupTakesWheel(const MouseEvent& e, int delta_y);
  bool PopupTakesMove(const MouseEvent& e);
  bool PopupTakesKey(const KeyEvent& e);
  // A dialog the host was shown that the engine has given up.
  void AbandonDialog() {
    if (auto open = open_dialog_.lock(); open && !open->answered()) client_->OnResetDialogState();
    open_dialog_.reset();
  }
  // window.open and friends: the host hears of the URL, no view is made.
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    static_cast<WebKitBrowser*>(self)->client_->OnOpenURL(uri ? uri : "");
    return nullptr;
  }
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    static_cast<WebKitBrowser*>(self)->client_->OnOpenURL(uri ? uri : "");
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  // What the host asked for always happens: a page whose process no longer
  // answers (a script that never ends) has that process ended first, so the
  // host's navigation loads in a fresh one.
  void HostNavigation(std::function<void(WebKitWebView*)> go) {
    if (!view_) return;
    if (!webkit_web_view_get_is_web_process_responsive(view_)) {
      EndUnresponsivePage();
      go(view_);
      return;
    }
    go(view_);
    // Kept until the engine commits the load (a stop commits nothing, so
    // for a while at most): should the page's process turn out not to answer
    // meanwhile, it is ended and this is done again.
    pending_navigation_ = std::move(go);
    pending_since_ = std::chrono::steady_clock::now();
  }
  void EndUnresponsivePage() {
    std::fprintf(stderr, "CLIENT: Page does not respond; ending its process\n");
    webkit_web_view_terminate_web_process(view_);
  }
  static void OnResponsive(WebKitWebView* view, GParamSpec*, gpointer self) {
    auto* b = static_cast<WebKitBrowser*>(self);
    if (webkit_web_view_get_is_web_process_responsive(view) || !b->pending_navigation_) return;
    if (std::chrono::steady_clock::now() - b->pending_since_ > std::chrono::seconds(10)) return;  // long done
    auto go = std::move(b->pending_navigation_);
    b->pending_navigation_ = nullptr;
    b->EndUnresponsivePage();
    go(view);
  }
  void ApplySize();
  void ApplyZoom() {
    if (view_) webkit_web_view_set_zoom_level(view_, std::pow(1.2, zoom_level_) * layout_.fraction);
  }
  // Moves the view into a new window on the display of `window_scale`.
  void MoveToWindowScale(int window_scale);
  // A point of the host's view in the widget's coordinates, and back.
  double ToWidget(double view_coordinate) const { return view_coordinate * layout_.fraction; }
  MouseEvent ToWidget(const MouseEvent& e) const {
    return {static_cast<int>(std::lround(ToWidget(e.x))), static_cast<int>(std::lround(ToWidget(e.y))), e.modifiers};
  }
  int ToView(double widget_coordinate) const { return static_cast<int>(std::lround(widget_coordinate / layout_.fraction)); }
  GdkEvent* NewEvent(GdkEventType type);
  void Dispatch(GdkEvent* event) {
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

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

// ---- the engine ---------------------------------------------------------------

class WebKitEngine : public Engine {
 public:
  ~WebKitEngine() override { Shutdown(); }

  bool Initialize(const Settings& settings) override {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
      if (!StartPrivateDisplay()) {
        std::fprintf(stderr, "CLIENT: No display, and no private Xvfb could be started\n");
        return false;
      }
    }
    // No sandbox (as root none can be made anyway), no GPU: pictures are read back.
    setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
    // Nothing here draws with OpenGL, so neither the toolkit nor the web
    // processes start the GL driver: it costs a start tens of milliseconds.
    setenv("GDK_GL", "disable", 1);
    setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
    if (settings.remote_debugging_port > 0) {
      const std::string address = "127.0.0.1:" + std::to_string(settings.remote_debugging_port);
      setenv("WEBKIT_INSPECTOR_HTTP_SERVER", address.c_str(), 1);
    }
    // Each view has a scale of its own; one for the whole process would
    // multiply them.
    unsetenv("GDK_SCALE");
    if (!gtk_init_check(nullptr, nullptr)) return false;
    base_display_ = gdk_display_get_default();
    cursors_.Load(base_display_);
    if (!settings.log_file.empty()) OpenLog(settings.log_file, settings.log_severity == LogSeverity::Verbose);

    WebKitWebsiteDataManager* data =
        settings.cache_path.empty()
            ? webkit_website_data_manager_new_ephemeral()
            : webkit_website_data_manager_new("base-data-directory", settings.cache_path.c_str(), "base-cache-directory",
                                              settings.cache_path.c_str(), nullptr);
    if (!settings.cache_path.empty()) {
      // Persistent cookies live under the cache path with everything else
      // and come back on the next run; session cookies end with the process.
      char* cookies = g_build_filename(settings.cache_path.c_str(), "cookies.sqlite", nullptr);
      webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(data), cookies,
                                                   WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
      g_free(cookies);
    }
    WebKitMemoryPressureSettings* memory = NewWebProcessMemorySettings();
    context_ = WEBKIT_WEB_CONTEXT(
        g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data, "memory-pressure-settings", memory, nullptr));
    webkit_memory_pressure_settings_free(memory);
    data_manager_ = data;
    GuardDownloads(context_);
    watchdog_ = std::make_unique<MemoryWatchdog>(std::size_t{WebProcessMemoryLimitMiB()} << 20);
    // The web-process extension (console lines, _tev_event) lives beside the program.
    if (char* self = g_file_read_link("/proc/self/exe", nullptr)) {
      char* folder = g_path_get_dirname(self);
      char* extensions = g_build_filename(folder, "web-extensions", nullptr);
      webkit_web_context_set_web_extensions_directory(context_, extensions);
      g_free(extensions);
      g_free(folder);
      g_free(self);
    }
    user_agent_ = settings.user_agent;
    background_ = settings.background_color;
    initialized_ = true;
    // The first browser's web process starts now, while the host is still
    // on its way to CreateBrowser.
    warm_ = NewWarmView(context_);
    return true;
  }

  void DoMessageLoopWork() override {
    if (!initialized_) return;
    Announce();
    // Whatever is ready, bounded so one pass never stalls the host.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(12);
    for (int i = 0; i < 2000 && std::chrono::steady_clock::now() < deadline; ++i) {
      if (!g_main_context_iteration(nullptr, FALSE)) break;
    }
    // Creations and closings reach the clients here, never inside the request.
    for (auto it = browsers_.begin(); it != browsers_.end();) {
      auto& [browser, announced] = *it;
      if (!announced) {
        ++it;  // created during this pass: announced at the next
        continue;
      }
      if (browser->closing()) {
        browser->GiveUpOpenRequests();
        browser->Destroy();
        browser->client().OnBeforeClose();
        it = browsers_.erase(it);
        continue;
      }
      browser->Deliver();
      ++it;
    }
    WarmNextView();
  }

  // The view made ahead for the next browser, or a new one.
  WarmView TakeWarmView() {
    if (warm_.view == nullptr) return NewWarmView(context_);
    return std::exchange(warm_, WarmView{});
  }

  // The next browser's view is made once no page is loading, so that its
  // web process does not compete with a page on its way to the screen.
  void WarmNextView() {
    if (warm_.view != nullptr) return;
    for (const auto& [browser, announced] : browsers_) {
      if (!announced || browser->loading()) return;
    }
    warm_ = NewWarmView(context_);
  }

  // New browsers reach their clients first, then their pages start loading.
  void Announce() {
    for (auto& [browser, announced] : browsers_) {
      if (announced) continue;
      announced = true;
      browser->client().OnAfterCreated(browser);
      browser->Load(browser->initial_url());
    }
  }

  void Shutdown() override {
    if (!initialized_) return;
    initialized_ = false;
    // The clients hold their browsers and the browsers their clients: let go
    // of the clients here so neither outlives the engine.
    for (auto& [browser, announced] : browsers_) {
      browser->Destroy();
      browser->ReleaseClient();
    }
    browsers_.clear();
    if (warm_.window != nullptr) gtk_widget_destroy(warm_.window);
    warm_ = WarmView{};
    watchdog_.reset();
    if (context_) g_object_unref(context_);
    if (data_manager_) g_object_unref(data_manager_);
    context_ = nullptr;
    data_manager_ = nullptr;
    CloseLog();
  }

  bool CreateBrowser(const WindowDescription& window, std::shared_ptr<Client> client, const std::string& url,
                     const BrowserSettings& settings) override {
    if (!initialized_ || !window.windowless || !client) return false;
    auto browser = std::make_shared<WebKitBrowser>(*this, std::move(client), TakeWarmView(), settings);
    browser->set_initial_url(url);  // loaded once the client knows its browser
    browsers_.emplace_back(std::move(browser), false);
    return true;
  }

  const CursorTable& cursors() const { return cursors_; }

  // GTK 3 on X11 gives all windows of one display connection one whole
  // scale, so each scale in use has a connection of its own to the same
  // server. Scale 1 is the default display.
  GdkDisplay* DisplayForScale(int scale) {
    GdkDisplay* base = base_display_;
    if (scale <= 1 || base == nullptr || !GDK_IS_X11_DISPLAY(base)) return base;
    if (const auto it = scaled_displays_.find(scale); it != scaled_displays_.end()) return it->second;
    GdkDisplay* display = gdk_display_open(gdk_display_get_name(base));
    if (display == nullptr) return base;
    gdk_x11_display_set_window_scale(display, scale);
    cursors_.Load(display);
    scaled_displays_.emplace(scale, display);
    return display;
  }
  WebKitWebsiteDataManager* data_manager() const { return data_manager_; }
  const std::string& user_agent() const { return user_agent_; }
  std::uint32_t background() const { return background_; }

 private:
  // The engine's threads may log at any time, even while the engine shuts
  // down, so the log lives outside the engine object and its writes and its
  // closing take one lock.
  struct Log {
    std::mutex lock;
    FILE* file = nullptr;
    bool verbose = false;
    GLogFunc previous = nullptr;  // GLib's own default takes no data
  };
  static Log& TheLog() {
    static Log* log = new Log;  // never destroyed: a late engine thread may still log
    return *log;
  }

  static void OpenLog(const std::string& path, bool verbose) {
    Log& log = TheLog();
    FILE* file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) return;
    {
      std::lock_guard<std::mutex> hold(log.lock);
      log.file = file;
      log.verbose = verbose;
    }
    log.previous = g_log_set_default_handler(
        [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
          Log& log = TheLog();
          std::lock_guard<std::mutex> hold(log.lock);
          if (log.file == nullptr || (!log.verbose && (level & (G_LOG_LEVEL_DEBUG | G_LOG_LEVEL_INFO)))) return;
          std::fprintf(log.file, "%s: %s\n", domain ? domain : "engine", message);
          std::fflush(log.file);
        },
        nullptr);
  }

  static void CloseLog() {
    Log& log = TheLog();
    if (log.previous != nullptr) {
      g_log_set_default_handler(log.previous, nullptr);
      log.previous = nullptr;
    }
    std::lock_guard<std::mutex> hold(log.lock);
    if (log.file != nullptr) std::fclose(log.file);
    log.file = nullptr;
  }

  bool initialized_ = false;
  WebKitWebContext* context_ = nullptr;
  WebKitWebsiteDataManager* data_manager_ = nullptr;
  std::vector<std::pair<std::shared_ptr<WebKitBrowser>, bool>> browsers_;
  CursorTable cursors_;
  std::string user_agent_;
  std::uint32_t background_ = 0xFF000000u;
  std::unique_ptr<MemoryWatchdog> watchdog_;
  GdkDisplay* base_display_ = nullptr;
  std::map<int, GdkDisplay*> scaled_displays_;  // kept open for the process's life
  WarmView warm_;
};

// ---- browser implementation -----------------------------------------------------

WebKitBrowser::WebKitBrowser(WebKitEngine& engine, std::shared_ptr<Client> client, WarmView warm,
                             const BrowserSettings& settings)
    : engine_(engine), client_(std::move(client)), window_(warm.window), view_(warm.view) {
  GuardView(view_);
  WebKitSettings* s = webkit_web_view_get_settings(view_);
  webkit_settings_set_hardware_acceleration_policy(s, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_developer_extras(s, TRUE);
  if (!engine.user_agent().empty()) webkit_settings_set_user_agent(s, engine.user_agent().c_str());
  const std::uint32_t argb = settings.background_color ? settings.background_color : engine.background();
  const GdkRGBA background{((argb >> 16) & 0xff) / 255.0, ((argb >> 8) & 0xff) / 255.0, (argb & 0xff) / 255.0,
                           ((argb >> 24) & 0xff) / 255.0};
  webkit_web_view_set_background_color(view_, &background);
  // The window is on the default display (scale 1); ApplySize moves the
  // view to the display of another scale.
  g_signal_connect(window_, "damage-event", G_CALLBACK(OnDamage), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "close", G_CALLBACK(OnClose), this);
  g_signal_connect(view_, "notify::uri", G_CALLBACK(OnUri), this);
  g_signal_connect(view_, "notify::title", G_CALLBACK(OnTitle), this);
  g_signal_connect(view_, "notify::is-loading", G_CALLBACK(OnLoading), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
  g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(OnTlsErrors), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(view_, "notify::is-web-process-responsive", G_CALLBACK(OnResponsive), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(OnUserMessage), this);
  g_signal_connect(view_, "run-file-chooser", G_CALLBACK(OnFileChooser), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view_, "show-option-menu", G_CALLBACK(OnShowOptionMenu), this);
  gtk_widget_show_all(window_);
  ApplySize();
}

void WebKitBrowser::ApplySize() {
  if (!window_) return;
  const Rect r = client_->GetViewRect();
  const float scale = client_->GetDeviceScaleFactor();
  applied_width_ = r.width;
  applied_height_ = r.height;
  applied_scale_ = scale;
  layout_ = LayOutView(r.width, r.height, scale);
  if (gtk_widget_get_scale_factor(window_) != layout_.window_scale) MoveToWindowScale(layout_.window_scale);
  // Without a window of that scale (no display connection for it) the page
  // is zoomed on the window it has.
  const int window_scale = gtk_widget_get_scale_factor(window_);
  if (window_scale != layout_.window_scale) layout_ = LayOutView(r.width, r.height, scale, window_scale);
  gtk_widget_set_size_request(GTK_WIDGET(view_), layout_.widget_width, layout_.widget_height);
  gtk_window_resize(GTK_WINDOW(window_), layout_.widget_width, layout_.widget_height);
  ApplyZoom();
  full_damage_ = true;
}

void WebKitBrowser::MoveToWindowScale(int window_scale) {
  GdkDisplay* display = engine_.DisplayForScale(window_scale);
  if (display == gtk_widget_get_display(window_)) return;  // no connection for that scale: stays as it is
  DefaultDisplay on(display);
  GtkWidget* next = gtk_offscreen_window_new();
  g_object_ref(view_);
  gtk_container_remove(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  gtk_container_add(GTK_CONTAINER(next), GTK_WIDGET(view_));
  g_object_unref(view_);
  gtk_widget_destroy(window_);
  window_ = next;
  g_signal_connect(window_, "damage-event", G_CALLBACK(OnDamage), this);
  gtk_widget_show_all(window_);
  // GTK tells a widget of a new scale only when its own window's scale
  // changes, not when it moves to a window of another scale; the view reads
  // the new one when told.
  g_object_notify(G_OBJECT(view_), "scale-factor");
  damage_.clear();
  last_cursor_ = reinterpret_cast<GdkCursor*>(-1);
}

gboolean WebKitBrowser::OnDamage(GtkWidget*, GdkEventExpose* event, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  b->damage_.push_back({event->area.x, event->area.y, event->area.width, event->area.height});
  return FALSE;
}

void WebKitBrowser::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  if (event == WEBKIT_LOAD_COMMITTED) b->pending_navigation_ = nullptr;
  if (event == WEBKIT_LOAD_STARTED) {
    b->GiveUpOpenRequests();
    b->client_->OnLoadStart(true);
  }
  if (event == WEBKIT_LOAD_FINISHED) {
    WebKitWebResource* main = webkit_web_view_get_main_resource(view);
    WebKitURIResponse* response = main ? webkit_web_resource_get_response(main) : nullptr;
    const int status = response ? static_cast<int>(webkit_uri_response_get_status_code(response)) : 0;
    const char* uri = webkit_web_view_get_uri(view);
    b->client_->OnLoadEnd(true, status, uri ? uri : "");
  }
}

void WebKitBrowser::Deliver() {
  if (!window_) return;
  // The view is as large as the client says, asked every pass.
  const Rect wanted = client_->GetViewRect();
  if (wanted.width != applied_width_ || wanted.height != applied_height_ ||
      client_->GetDeviceScaleFactor() != applied_scale_) {
    ApplySize();
    return;  // paint at the new size on a later pass
  }
  GtkAllocation allocation;
  gtk_widget_get_allocation(GTK_WIDGET(view_), &allocation);
  if (allocation.width != layout_.widget_width || allocation.height != layout_.widget_height) return;
  // The cursor WebKit last set on the view.
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(view_));
  GdkCursor* cursor = gdk_window ? gdk_window_get_cursor(gdk_window) : nullptr;
  if (cursor != last_cursor_) {
    last_cursor_ = cursor;
    client_->OnCursorChange(engine_.cursors().TypeOf(cursor));
  }
  if (popup_ && !damage_.empty()) full_damage_ = true;  // the list is drawn over the whole picture
  if (damage_.empty() && !full_damage_) return;
  cairo_surface_t* surface = gtk_offscreen_window_get_surface(GTK_OFFSCREEN_WINDOW(window_));
  if (surface == nullptr) return;
  // The frame is in physical pixels: the widget's size times its window
  // scale, copied one to one from the window's surface.
  double surface_scale = 1.0, unused = 1.0;
  cairo_surface_get_device_scale(surface, &surface_scale, &unused);
  const int scale = std::max(1, static_cast<int>(std::lround(surface_scale)));
  if (scale != layout_.window_scale) return;  // the window is still taking its scale
  const int width = layout_.widget_width * scale, height = layout_.widget_height * scale;
  if (!readback_ || cairo_image_surface_get_width(readback_) != width ||
      cairo_image_surface_get_height(readback_) != height) {
    if (readback_) cairo_surface_destroy(readback_);
    readback_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_set_device_scale(readback_, scale, scale);
    full_damage_ = true;
  }
  cairo_t* cr = cairo_create(readback_);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface, 0, 0);
  if (!full_damage_) {
    for (const Rect& r : damage_) cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
  }
  cairo_paint(cr);
  if (popup_) PaintOptionPopup(cr, *popup_);
  cairo_destroy(cr);
  cairo_surface_flush(readback_);
  // ARGB32 in memory on this machine: B, G, R, A, premultiplied. Damage
  // comes in widget coordinates; the client counts physical pixels.
  std::vector<Rect> dirty;
  if (full_damage_) {
    dirty.push_back({0, 0, width, height});
  } else {
    for (const Rect& r : damage_) dirty.push_back({r.x * scale, r.y * scale, r.width * scale, r.height * scale});
  }
  damage_.clear();
  full_damage_ = false;
  client_->OnPaint(dirty, cairo_image_surface_get_data(readback_), width, height);
}

GdkEvent* WebKitBrowser::NewEvent(GdkEventType type) {
  GdkEvent* event = gdk_event_new(type);
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(view_));
  event->any.window = GDK_WINDOW(g_object_ref(window));
  event->any.send_event = TRUE;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
  gdk_event_set_device(event, type == GDK_KEY_PRESS || type == GDK_KEY_RELEASE ? gdk_seat_get_keyboard(seat)
                                                                                : gdk_seat_get_pointer(seat));
  return event;
}

void WebKitBrowser::SetFocus(bool focus) {
  if (!view_) return;
  if (focus) gtk_widget_grab_focus(GTK_WIDGET(view_));
  GdkEvent* event = NewEvent(GDK_FOCUS_CHANGE);
  event->focus_change.in = focus ? TRUE : FALSE;
  Dispatch(event);
}

void WebKitBrowser::SendMouseClickEvent(const MouseEvent& e, MouseButton button, bool mouse_up, int click_count) {
  if (!view_ || PopupTakesClick(ToWidget(e), mouse_up)) return;
  last_click_x_ = e.x;
  last_click_y_ = e.y;
  auto fill = [&](GdkEvent* event) {
    event->button.x = ToWidget(e.x);
    event->button.y = ToWidget(e.y);
    event->button.state = GdkStateFromFlags(e.modifiers);
    event->button.button = static_cast<guint>(button) + 1;  // left, middle, right: 1, 2, 3
    event->button.time = GDK_CURRENT_TIME;
  };
  GdkEvent* event = NewEvent(mouse_up ? GDK_BUTTON_RELEASE : GDK_BUTTON_PRESS);
  fill(event);
  Dispatch(event);
  if (!mouse_up && click_count == 2) {
    GdkEvent* twice = NewEvent(GDK_2BUTTON_PRESS);
    fill(twice);
    Dispatch(twice);
  }
}

void WebKitBrowser::SendMouseWheelEvent(const MouseEvent& e, int delta_x, int delta_y) {
  if (!view_ || PopupTakesWheel(ToWidget(e), delta_y)) return;
  GdkEvent* event = NewEvent(GDK_SCROLL);
  event->scroll.x = ToWidget(e.x);
  event->scroll.y = ToWidget(e.y);
  event->scroll.state = GdkStateFromFlags(e.modifiers);
  event->scroll.direction = GDK_SCROLL_SMOOTH;
  // 120 is one notch; positive means up or left, the opposite of GDK's sign.
  event->scroll.delta_x = -delta_x / 120.0;
  event->scroll.delta_y = -delta_y / 120.0;
  event->scroll.time = GDK_CURRENT_TIME;
  Dispatch(event);
}

void WebKitBrowser::SendMouseMoveEvent(const MouseEvent& e, bool mouse_leave) {
  if (!view_ || PopupTakesMove(ToWidget(e))) return;
  GdkEvent* event = NewEvent(mouse_leave ? GDK_LEAVE_NOTIFY : GDK_MOTION_NOTIFY);
  if (mouse_leave) {
    event->crossing.x = ToWidget(e.x);
    event->crossing.y = ToWidget(e.y);
    event->crossing.mode = GDK_CROSSING_NORMAL;
    event->crossing.detail = GDK_NOTIFY_ANCESTOR;
    event->crossing.state = GdkStateFromFlags(e.modifiers);
  } else {
    event->motion.x = ToWidget(e.x);
    event->motion.y = ToWidget(e.y);
    event->motion.state = GdkStateFromFlags(e.modifiers);
    event->motion.time = GDK_CURRENT_TIME;
  }
  Dispatch(event);
}

void WebKitBrowser::SendKeyEvent(const KeyEvent& e) {
  if (!view_ || PopupTakesKey(e)) return;
  for (const SyntheticKey& key : keys_.Translate(e)) {
    GdkEvent* event = NewEvent(key.press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
    event->key.keyval = key.keyval;
    event->key.state = key.state;
    event->key.time = GDK_CURRENT_TIME;
    GdkKeymapKey* entries = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gtk_widget_get_display(GTK_WIDGET(view_))), key.keyval, &entries,
                                          &count) &&
        count > 0) {
      event->key.hardware_keycode = static_cast<guint16>(entries[0].keycode);
    }
    g_free(entries);
    const gunichar text = gdk_keyval_to_unicode(key.keyval);
    if (key.press && text >= 0x20) {
      char utf8[8] = {};
      event->key.length = g_unichar_to_utf8(text, utf8);
      event->key.string = g_strdup(utf8);
    } else {
      event->key.string = g_strdup("");
    }
    Dispatch(event);
  }
}

bool WebKitBrowser::PopupTakesClick(const MouseEvent& e, bool mouse_up) {
  if (!popup_) return false;
  if (!mouse_up) {
    popup_pressed_ = popup_->Contains(e.x, e.y);
    if (!popup_pressed_) ChooseOption(-1);  // a press elsewhere closes the list
    return true;
  }
  // A release chooses only when its press fell on the list: the release of
  // the click that opened it does not.
  const bool pressed = std::exchange(popup_pressed_, false);
  const int index = popup_->ItemAt(e.x, e.y);
  if (pressed && index >= 0) ChooseOption(index);
  return true;
}

bool WebKitBrowser::PopupTakesWheel(const MouseEvent& e, int delta_y) {
  if (!popup_) return false;
  if (popup_->Contains(e.x, e.y) && delta_y != 0) {
    // 120 is one notch, three rows; positive is up.
    const int rows = delta_y > 0 ? -std::max(1, delta_y * 3 / 120) : std::max(1, -delta_y * 3 / 120);
    if (popup_->Scroll(rows)) full_damage_ = true;
  }
  return true;
}

bool WebKitBrowser::PopupTakesMove(const MouseEvent& e) {
  if (!popup_) return false;
  if (popup_->Hover(e.x, e.y)) full_damage_ = true;
  return true;
}

bool WebKitBrowser::PopupTakesKey(const KeyEvent& e) {
  if (!popup_) return false;
  if (e.type != KeyEventType::RawKeyDown && e.type != KeyEventType::KeyDown) return true;
  switch (popup_->Key(e.windows_key_code)) {
    case OptionPopup::KeyOutcome::Moved:
      full_damage_ = true;
      break;
    case OptionPopup::KeyOutcome::Choose:
      ChooseOption(popup_->highlighted());
      break;
    case OptionPopup::KeyOutcome::Close:
      ChooseOption(-1);
      break;
    case OptionPopup::KeyOutcome::Ignored:
      break;
  }
  return true;
}

void WebKitBrowser::ShowDevTools(const WindowDescription& window, const BrowserSettings&) {
  if (!view_) return;
  WebKitWebInspector* inspector = webkit_web_view_get_inspector(view_);
  webkit_web_inspector_show(inspector);
  // The inspector gets a top-level window of its own, named as asked.
  if (WebKitWebViewBase* inspector_view = webkit_web_inspector_get_web_view(inspector)) {
    GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(inspector_view));
    if (GTK_IS_WINDOW(top)) gtk_window_set_title(GTK_WINDOW(top), window.window_name.c_str());
  }
}

bool WebKitBrowser::DeleteAllCookies() {
  WebKitWebsiteDataManager* data = engine_.data_manager();
  if (data == nullptr) return false;
  webkit_website_data_manager_clear(data, WEBKIT_WEBSITE_DATA_COOKIES, 0, nullptr, nullptr, nullptr);
  return true;
}

bool WebKitBrowser::ExecuteFrameCommand(FrameCommand command) {
  if (!view_) return false;
  static const char* const kCommands[] = {WEBKIT_EDITING_COMMAND_UNDO,  WEBKIT_EDITING_COMMAND_REDO,
                                          WEBKIT_EDITING_COMMAND_CUT,   WEBKIT_EDITING_COMMAND_COPY,
                                          WEBKIT_EDITING_COMMAND_PASTE, "Delete",
                                          WEBKIT_EDITING_COMMAND_SELECT_ALL};
  webkit_web_view_execute_editing_command(view_, kCommands[static_cast<int>(command)]);
  return true;
}

void ContextMenuAnswer::Finish(bool chosen, int command_id) {
  WebKitBrowser* browser = menu_->browser;
  if (browser == nullptr) return;  // refused, answered before, or given up
  menu_->browser = nullptr;
  browser->FinishMenu(*menu_, chosen, command_id);
}

void WebKitBrowser::FinishMenu(OpenMenu& menu, bool chosen, int command_id) {
  const auto keep = open_menu_;  // the menu outlives its own command
  if (open_menu_.get() == &menu) open_menu_.reset();
  if (chosen) RunMenuCommand(menu, command_id);
  if (client_) client_->OnContextMenuDismissed();
}

void WebKitBrowser::RunMenuCommand(const OpenMenu& menu, int command_id) {
  if (!view_) return;
  if (command_id >= kFirstCustomCommand) {
    const std::size_t index = static_cast<std::size_t>(command_id - kFirstCustomCommand);
    if (index >= menu.customs.size()) return;
    GAction* action = webkit_context_menu_item_get_gaction(menu.customs[index]);
    if (action != nullptr && g_action_get_parameter_type(action) == nullptr) g_action_activate(action, nullptr);
    return;
  }
  if (FindStockItem(menu.menu, command_id) == nullptr) return;  // not in this menu
  GtkClipboard* clipboard = gtk_widget_get_clipboard(GTK_WIDGET(view_), GDK_SELECTION_CLIPBOARD);
  auto copy_text = [clipboard](const std::string& text) {
    if (!text.empty()) gtk_clipboard_set_text(clipboard, text.c_str(), -1);
  };
  auto open_elsewhere = [this](const std::string& uri) {
    if (!uri.empty()) client_->OnOpenURL(uri);
  };
  switch (command_id) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK:
      Load(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
      open_elsewhere(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
      open_elsewhere(menu.image_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
      open_elsewhere(menu.media_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
      copy_text(menu.link_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD:
      copy_text(menu.image_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_VIDEO_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_AUDIO_LINK_TO_CLIPBOARD:
      copy_text(menu.media_uri);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD: {
      // The pixels are at hand only for a local image.
      gchar* path = g_filename_from_uri(menu.image_uri.c_str(), nullptr, nullptr);
      if (GdkPixbuf* image = path ? gdk_pixbuf_new_from_file(path, nullptr) : nullptr) {
        gtk_clipboard_set_image(clipboard, image);
        g_object_unref(image);
      }
      g_free(path);
      break;
    }
    case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK:
      GoBack();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD:
      GoForward();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_STOP:
      StopLoad();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_RELOAD:
      Reload();
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_COPY:
      ExecuteFrameCommand(FrameCommand::Copy);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_CUT:
      ExecuteFrameCommand(FrameCommand::Cut);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_PASTE:
      ExecuteFrameCommand(FrameCommand::Paste);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_PASTE_AS_PLAIN_TEXT:
      webkit_web_view_execute_editing_command(view_, WEBKIT_EDITING_COMMAND_PASTE_AS_PLAIN_TEXT);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_DELETE:
      ExecuteFrameCommand(FrameCommand::Delete);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL:
      ExecuteFrameCommand(FrameCommand::SelectAll);
      break;
    case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
      webkit_web_inspector_show(webkit_web_view_get_inspector(view_));
      break;
    default:
      break;  // downloads, spelling and media controls need a person at a window
  }
}

}  // namespace

std::unique_ptr<Engine> CreateEngine() { return std::make_unique<WebKitEngine>(); }

}  // namespace engine::webkit
