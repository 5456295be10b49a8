#include "webkit_browser.h"

#include <cstdio>
#include <gtk/gtk.h>
#include <utility>

#include "network_errors.h"
#include "or_empty.h"
#include "page_guards.h"
#include "webkit_engine.h"

namespace engine::webkit {
namespace {

// The address a page asks to open in a window of its own.
std::string RequestedUri(WebKitNavigationAction* action) {
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  return OrEmpty(request ? webkit_uri_request_get_uri(request) : nullptr);
}

}  // namespace

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
  g_signal_connect(window_, "damage-event", G_CALLBACK(OnDamageEvent), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "close", G_CALLBACK(OnClose), this);
  g_signal_connect(view_, "notify::uri", G_CALLBACK(OnNotifyUri), this);
  g_signal_connect(view_, "notify::title", G_CALLBACK(OnNotifyTitle), this);
  g_signal_connect(view_, "notify::is-loading", G_CALLBACK(OnNotifyIsLoading), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
  g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(OnLoadFailedWithTlsErrors), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(view_, "notify::is-web-process-responsive", G_CALLBACK(OnNotifyIsWebProcessResponsive), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(OnUserMessageReceived), this);
  g_signal_connect(view_, "run-file-chooser", G_CALLBACK(OnRunFileChooser), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view_, "show-option-menu", G_CALLBACK(OnShowOptionMenu), this);
  gtk_widget_show_all(window_);
  ApplySize();
}

WebKitBrowser::~WebKitBrowser() {
  Destroy();
  if (readback_) cairo_surface_destroy(readback_);
}

void WebKitBrowser::Load(const std::string& url) {
  if (view_ && !url.empty()) webkit_web_view_load_uri(view_, url.c_str());
}

void WebKitBrowser::Destroy() {
  if (open_menu_) open_menu_->browser = nullptr;
  open_menu_.reset();
  ForgetOptionMenu();
  if (window_ != nullptr) gtk_widget_destroy(window_);
  window_ = nullptr;
  view_ = nullptr;
}

void WebKitBrowser::GiveUpOpenRequests() {
  AbandonDialog();
  AbandonMenu();
}

void WebKitBrowser::Invalidate() {
  if (view_) gtk_widget_queue_draw(GTK_WIDGET(view_));
  full_damage_ = true;
}

void WebKitBrowser::ExecuteJavaScript(const std::string& code, const std::string& script_url, int) {
  if (view_) {
    webkit_web_view_evaluate_javascript(view_, code.c_str(), -1, nullptr, script_url.c_str(), nullptr, nullptr,
                                        nullptr);
  }
}

void WebKitBrowser::LoadURL(const std::string& url) {
  HostNavigation([url](WebKitWebView* view) { webkit_web_view_load_uri(view, url.c_str()); });
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
    b->client_->OnLoadEnd(true, status, OrEmpty(webkit_web_view_get_uri(view)));
  }
}

void WebKitBrowser::OnNotifyUri(WebKitWebView* view, GParamSpec*, gpointer self) {
  static_cast<WebKitBrowser*>(self)->client_->OnAddressChange(true, OrEmpty(webkit_web_view_get_uri(view)));
}

void WebKitBrowser::OnNotifyTitle(WebKitWebView* view, GParamSpec*, gpointer self) {
  static_cast<WebKitBrowser*>(self)->client_->OnTitleChange(OrEmpty(webkit_web_view_get_title(view)));
}

void WebKitBrowser::OnNotifyIsLoading(WebKitWebView* view, GParamSpec*, gpointer self) {
  static_cast<WebKitBrowser*>(self)->client_->OnLoadingStateChange(
      webkit_web_view_is_loading(view), webkit_web_view_can_go_back(view), webkit_web_view_can_go_forward(view));
}

gboolean WebKitBrowser::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
  const int code = error ? NetworkErrorCode(error->domain, error->code) : -2;
  static_cast<WebKitBrowser*>(self)->client_->OnLoadError(true, code, OrEmpty(uri));
  // No error page of the engine's: loaded after the failure, it would
  // replace a navigation the host asks for on hearing of the failure. The
  // host has the failure and decides what to show; the view keeps its page.
  return TRUE;
}

gboolean WebKitBrowser::OnLoadFailedWithTlsErrors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags,
                                                  gpointer self) {
  static_cast<WebKitBrowser*>(self)->client_->OnCertificateError();
  return FALSE;  // the engine's policy fails the load
}

// What the web-process extension reports, in batches: _tev_event calls and
// console lines, each in the order the page made them.
gboolean WebKitBrowser::OnUserMessageReceived(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  const char* name = webkit_user_message_get_name(message);
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (name == nullptr || parameters == nullptr) return FALSE;
  if (g_str_equal(name, "js_events") && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a(is))"))) {
    GVariantIter* events = nullptr;
    g_variant_get(parameters, "(a(is))", &events);
    gint32 code = 0;
    const char* text = nullptr;
    while (g_variant_iter_next(events, "(i&s)", &code, &text)) b->client_->OnScriptMessage(code, OrEmpty(text));
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
      b->client_->OnConsoleMessage(OrEmpty(text), OrEmpty(source), static_cast<int>(line));
    }
    g_variant_iter_free(lines);
    return TRUE;
  }
  return FALSE;
}

void WebKitBrowser::OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  b->GiveUpOpenRequests();
  b->client_->OnRenderProcessTerminated();
}

// window.open and friends: the host hears of the URL, no view is made.
GtkWidget* WebKitBrowser::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  static_cast<WebKitBrowser*>(self)->client_->OnOpenURL(RequestedUri(action));
  return nullptr;
}

gboolean WebKitBrowser::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                       gpointer self) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  static_cast<WebKitBrowser*>(self)->client_->OnOpenURL(RequestedUri(action));
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

void WebKitBrowser::HostNavigation(std::function<void(WebKitWebView*)> go) {
  if (!view_) return;
  if (!webkit_web_view_get_is_web_process_responsive(view_)) {
    EndUnresponsivePage();
    go(view_);
    return;
  }
  go(view_);
  // Kept until the engine commits the load (a stop commits nothing, so for
  // a while at most): should the page's process turn out not to answer
  // meanwhile, it is ended and this is done again.
  pending_navigation_ = std::move(go);
  pending_since_ = std::chrono::steady_clock::now();
}

void WebKitBrowser::EndUnresponsivePage() {
  std::fprintf(stderr, "CLIENT: Page does not respond; ending its process\n");
  webkit_web_view_terminate_web_process(view_);
}

void WebKitBrowser::OnNotifyIsWebProcessResponsive(WebKitWebView* view, GParamSpec*, gpointer self) {
  auto* b = static_cast<WebKitBrowser*>(self);
  if (webkit_web_view_get_is_web_process_responsive(view) || !b->pending_navigation_) return;
  if (std::chrono::steady_clock::now() - b->pending_since_ > std::chrono::seconds(10)) return;  // long done
  auto go = std::move(b->pending_navigation_);
  b->pending_navigation_ = nullptr;
  b->EndUnresponsivePage();
  go(view);
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

void WebKitBrowser::SetZoomLevel(double level) {
  zoom_level_ = level;
  ApplyZoom();
}

}  // namespace engine::webkit
