#include "page_guards.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "or_empty.h"
#include "platform/system_memory.h"

namespace engine::webkit {
namespace {

// Each handler answers the request itself and returns TRUE, so the engine's
// default (a dialog, a window, a D-Bus call) never runs.
gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer) { return TRUE; }
gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  webkit_authentication_request_cancel(request);
  return TRUE;
}
gboolean OnColorChooser(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}
gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}
gboolean OnShowNotification(WebKitWebView*, WebKitNotification*, gpointer) { return TRUE; }
gboolean OnEnterFullscreen(WebKitWebView*, gpointer) { return TRUE; }

gboolean OnDecideDestination(WebKitDownload* download, gchar*, gpointer) {
  webkit_download_cancel(download);
  return TRUE;  // no destination is ever chosen
}
void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
  WebKitURIRequest* request = webkit_download_get_request(download);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  std::fprintf(stderr, "CLIENT: Download cancelled: %s\n", OrEmpty(uri).c_str());
  // Cancelling here stops the transfer; should the engine still ask for a
  // destination, it gets none.
  g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), nullptr);
  webkit_download_cancel(download);
}

}  // namespace

void GuardView(WebKitWebView* view) {
  g_signal_connect(view, "print", G_CALLBACK(OnPrint), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(OnAuthenticate), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(OnColorChooser), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(OnPermissionRequest), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(OnShowNotification), nullptr);
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(OnEnterFullscreen), nullptr);
}

void GuardDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started", G_CALLBACK(OnDownloadStarted), nullptr);
}

unsigned WebProcessMemoryLimitMiB() {
  // An operator (or a test) may set another limit.
  if (const char* set = std::getenv("TEV_WEB_PROCESS_MEMORY_LIMIT_MIB")) {
    char* end = nullptr;
    const unsigned long mib = std::strtoul(set, &end, 10);
    if (end != set && *end == '\0' && mib >= 64 && mib <= (1ul << 20)) return static_cast<unsigned>(mib);
  }
  const std::uint64_t physical = platform::PhysicalMemoryBytes();
  const unsigned long long physical_mib = physical > 0 ? physical / (1024 * 1024) : 4096;
  return static_cast<unsigned>(std::clamp<unsigned long long>(physical_mib / 4, 256, 4096));
}

WebKitMemoryPressureSettings* NewWebProcessMemorySettings() {
  WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(settings, WebProcessMemoryLimitMiB());
  // Ask the page to give memory back from half the limit on, harder from
  // 80 %, and end the process at the limit. Checked four times a second, so a page
  // allocating as fast as it can passes the limit by little.
  // Each threshold must stay below the next one, so they are set from the top.
  webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
  webkit_memory_pressure_settings_set_strict_threshold(settings, 0.8);
  webkit_memory_pressure_settings_set_conservative_threshold(settings, 0.5);
  webkit_memory_pressure_settings_set_poll_interval(settings, 0.25);
  return settings;
}

}  // namespace engine::webkit
