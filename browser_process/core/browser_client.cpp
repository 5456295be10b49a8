#include "browser_client.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "context_menu.h"

std::int32_t CursorCode(engine::CursorType type) {
  using engine::CursorType;
  switch (type) {
    case CursorType::Move:
      return 1;
    case CursorType::NorthWestResize:
    case CursorType::SouthEastResize:
    case CursorType::NorthWestSouthEastResize:
      return 2;
    case CursorType::NorthEastResize:
    case CursorType::SouthWestResize:
    case CursorType::NorthEastSouthWestResize:
      return 3;
    case CursorType::EastResize:
    case CursorType::WestResize:
    case CursorType::EastWestResize:
      return 4;
    case CursorType::NorthResize:
    case CursorType::SouthResize:
    case CursorType::NorthSouthResize:
      return 5;
    case CursorType::Hand:
      return 6;
    case CursorType::IBeam:
      return 7;
    default:
      return 0;
  }
}

BrowserClient::BrowserClient(std::int32_t handle, EventSinks sinks, engine::BrowserSettings settings,
                             std::string initial_url)
    : pixels(512u * 512u * 4u, 0),
      handle_(handle),
      sinks_(sinks),
      settings_(settings),
      initial_url_(std::move(initial_url)) {}

BrowserClient::~BrowserClient() {
  if (browser_) Close();
  pending_dialog_.reset();
  pending_file_dialog_.reset();
  pending_menu_.reset();
}

void BrowserClient::OnAfterCreated(std::shared_ptr<engine::Browser> browser) {
  created_ = true;
  browser_ = std::move(browser);
  browser_->SetZoomLevel(zoom);
  Post(kBrowserCreated, "");
}

void BrowserClient::OnBeforeClose() {
  browser_.reset();
  created_ = false;
  // The handle stays registered, but a closed browser paints no more.
  std::vector<std::uint8_t>().swap(pixels);
  pixel_width = pixel_height = 0;
  frame_dirty = false;
  pending_dialog_.reset();  // none of these can be answered any more
  pending_file_dialog_.reset();
  pending_menu_.reset();
  Post(kBrowserClosed, "");
}

void BrowserClient::OnLoadStart(bool main_frame) {
  if (main_frame) skip_unload = false;
}

namespace {

// Compact JSON with the keys in the catalogue's order; text that is not
// valid UTF-8 becomes U+FFFD rather than broken bytes.
std::string Json(const nlohmann::ordered_json& payload) {
  return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void BrowserClient::Post(std::int32_t code, const std::string& payload) {
  if (sinks_.browser_event) sinks_.browser_event(handle_, code, payload);
}

void BrowserClient::OnLoadEnd(bool main_frame, int http_status, const std::string& url) {
  if (main_frame) Post(kLoadEnded, Json({{"status", http_status}, {"url", url}}));
}

void BrowserClient::OnAddressChange(bool main_frame, const std::string& url) {
  if (main_frame) Post(kAddressChanged, Json({{"url", url}}));
}

void BrowserClient::OnTitleChange(const std::string& title) { Post(kTitleChanged, Json({{"title", title}})); }

void BrowserClient::OnLoadingStateChange(bool is_loading, bool can_go_back, bool can_go_forward) {
  Post(kLoadingStateChanged,
       Json({{"isLoading", is_loading}, {"canGoBack", can_go_back}, {"canGoForward", can_go_forward}}));
}

void BrowserClient::OnLoadError(bool main_frame, int error_code, const std::string& failed_url) {
  if (main_frame) Post(kLoadFailed, Json({{"error", error_code}, {"url", failed_url}}));
}

void BrowserClient::OnRenderProcessTerminated() { Post(kRenderProcessTerminated, ""); }

void BrowserClient::OnCertificateError() { Post(kCertificateError, ""); }

void BrowserClient::OnOpenURL(const std::string& target_url) { Post(kOpenURL, Json({{"url", target_url}})); }

void BrowserClient::OnConsoleMessage(const std::string& message, const std::string& source, int line) {
  if (sinks_.console) sinks_.console(handle_, message, source, line);
}

void BrowserClient::OnScriptMessage(int code, const std::string& text) {
  if (sinks_.script_event) sinks_.script_event(handle_, code, text);
}

bool BrowserClient::OnJSDialog(engine::JsDialogType type, const std::string& message,
                               const std::string& default_prompt, std::shared_ptr<engine::DialogCallback> callback,
                               bool& suppress) {
  if (pending_dialog_) {
    suppress = true;  // the open dialog stays; the new one is dropped
    return false;
  }
  pending_dialog_ = std::move(callback);
  Post(kJavaScriptDialog, Json({{"dialogType", static_cast<int>(type)}, {"messageText", message},
                                {"defaultPromptText", default_prompt}}));
  return true;
}

bool BrowserClient::OnBeforeUnloadDialog(const std::string& message, bool, std::shared_ptr<engine::DialogCallback> callback) {
  if (skip_unload) {
    skip_unload = false;
    callback->Continue(true, "");  // leave without asking
    return true;
  }
  if (pending_dialog_) {
    callback->Continue(false, "");  // another dialog is open: stay
    return true;
  }
  pending_dialog_ = std::move(callback);
  Post(kJavaScriptDialog, Json({{"dialogType", 3}, {"messageText", message}, {"defaultPromptText", ""}}));
  return true;
}

void BrowserClient::OnResetDialogState() {
  pending_dialog_.reset();
  Post(kDialogReset, "");
}

bool BrowserClient::OnFileDialog(engine::FileDialogMode mode, const std::string& default_path,
                                 const std::vector<std::string>& extensions, const std::vector<std::string>& descriptions,
                                 std::shared_ptr<engine::FileDialogCallback> callback) {
  if (pending_file_dialog_) pending_file_dialog_->Cancel();  // the newer chooser replaces it
  pending_file_dialog_ = std::move(callback);
  Post(kFileDialogOpen + static_cast<int>(mode),
       Json({{"default_path", default_path}, {"extensions", extensions}, {"descriptions", descriptions}}));
  return true;
}

bool BrowserClient::AnswerDialog(bool success, const std::string& user_input) {
  if (!pending_dialog_) return false;
  const auto callback = std::move(pending_dialog_);
  pending_dialog_.reset();
  callback->Continue(success, user_input);
  return true;
}

bool BrowserClient::AnswerFileDialog(const std::vector<std::string>& paths) {
  if (!pending_file_dialog_) return false;
  const auto callback = std::move(pending_file_dialog_);
  pending_file_dialog_.reset();
  callback->Continue(paths);
  return true;
}

engine::Rect BrowserClient::GetViewRect() { return {0, 0, view_width, view_height}; }

float BrowserClient::GetDeviceScaleFactor() { return scale_factor; }

void BrowserClient::OnPaint(const std::vector<engine::Rect>& dirty, const void* buffer, int width, int height) {
  if (width <= 0 || height <= 0 || buffer == nullptr) return;
  const auto* source = static_cast<const std::uint8_t*>(buffer);
  if (width == pixel_width && height == pixel_height) {
    // Only the damaged rows of each rectangle, clipped to the view.
    for (const auto& r : dirty) {
      const int x0 = std::max(r.x, 0), x1 = std::min(r.x + r.width, width);
      const int y0 = std::max(r.y, 0), y1 = std::min(r.y + r.height, height);
      if (x1 <= x0) continue;
      for (int row = y0; row < y1; ++row) {
        const std::size_t at = (static_cast<std::size_t>(row) * width + x0) * 4;
        std::memcpy(pixels.data() + at, source + at, static_cast<std::size_t>(x1 - x0) * 4);
      }
    }
  } else {
    pixel_width = width;
    pixel_height = height;
    pixels.assign(source, source + static_cast<std::size_t>(width) * height * 4);
  }
  frame_dirty = true;
}

void BrowserClient::OnCursorChange(engine::CursorType type) { cursor = CursorCode(type); }

void BrowserClient::Close() {
  if (!browser_) return;
  skip_unload = true;
  browser_->CloseBrowser(true);
}

bool BrowserClient::RunContextMenu(const engine::ContextMenuParams& params, const std::vector<engine::MenuItem>& model,
                                   std::shared_ptr<engine::ContextMenuCallback> callback) {
  if (pending_menu_) {
    callback->Cancel();  // one menu at a time: the open one stays
    return true;
  }
  pending_menu_ = std::move(callback);
  Post(kContextMenu, Json({{"menu", SerializeMenu(model)},
                           {"x", params.x},
                           {"y", params.y},
                           {"origin", ContextMenuOrigin(params)}}));
  return true;
}

void BrowserClient::OnContextMenuDismissed() {
  pending_menu_.reset();
  Post(kContextMenuDismissed, "");
}

bool BrowserClient::AnswerContextMenu(int command_id) {
  if (!pending_menu_) return false;
  const auto callback = std::move(pending_menu_);
  pending_menu_.reset();
  callback->Continue(command_id, 0);
  return true;
}
