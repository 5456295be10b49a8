#include "request_handlers.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "browser_client.h"
#include "client_app.h"
#include "decode_request.h"

namespace {

// The registry entry, or report and stop.
std::shared_ptr<BrowserClient> Lookup(const ClientContext& context, const char* name, std::int32_t handle) {
  auto client = context.Find(handle);
  if (!client) std::fprintf(stderr, "CLIENT %s: Invalid browser handle %d\n", name, handle);
  return client;
}

// For requests that need the engine browser.
bool Created(const BrowserClient& client, const char* name) {
  if (client.created()) return true;
  std::fprintf(stderr, "CLIENT %s: Browser has not yet been created\n", name);
  return false;
}

// The three together: the request decoded into `record` and the client
// of the browser it names (for `needs_browser` one whose engine browser
// exists), or null once the failure is reported.
template <msgpack::Record R>
std::shared_ptr<BrowserClient> DecodeAndFind(const ClientContext& context, const char* name, const Payload& payload,
                                             R& record, bool needs_browser) {
  if (!DecodeRequest(name, payload, record)) return nullptr;
  auto client = Lookup(context, name, record.handle);
  if (!client || (needs_browser && !Created(*client, name))) return nullptr;
  return client;
}

std::string Base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 | static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                            static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Whether a view's frame (width x height x scale^2 pixels of 4 bytes) fits
// the section.
bool FrameFits(std::int32_t width, std::int32_t height, float scale) {
  return static_cast<double>(width) * height * scale * scale * 4.0 <= static_cast<double>(kFrameBufferSize);
}

engine::MouseEvent Mouse(std::int32_t x, std::int32_t y, std::uint32_t modifiers) { return {x, y, modifiers}; }

}  // namespace

std::string HtmlDataUrl(const std::string& html) {
  std::string url = "data:text/html;base64,";
  for (char c : Base64(html)) {
    if (c == '+') {
      url += "%2B";
    } else if (c == '/') {
      url += "%2F";
    } else if (c == '=') {
      url += "%3D";
    } else {
      url += c;
    }
  }
  return url;
}

std::int32_t HandleCreateBrowser(ClientContext& context, const Payload& payload) {
  IPCCreateBrowser request;
  if (!DecodeRequest("CreateBrowser", payload, request)) return 0;
  std::fprintf(stderr, "CLIENT: CreateBrowser: %s\n", request.url.c_str());
  const std::int32_t handle = ++context.handle_counter;
  auto client = std::make_shared<BrowserClient>(handle, ContextEventSinks(), ForEngine(PageBrowserSettings()), request.url);
  if (context.engine == nullptr ||
      !context.engine->CreateBrowser(ForEngine(PageWindow()), client, client->initial_url(), client->settings())) {
    std::fprintf(stderr, "CLIENT CreateBrowsers: Failed to create browser\n");
    return 0;
  }
  context.registry.emplace(handle, std::move(client));
  return handle;
}

IPCRenderResponse HandleRender(ClientContext& context, const Payload& payload) {
  IPCRenderResponse result{false, 0, 0, 0};
  IPCBrowserRequest request;
  auto client = DecodeAndFind(context, "Render", payload, request, false);
  if (!client) return result;
  if (client->frame_dirty) {
    const std::size_t bytes = client->pixels.size();
    if (bytes > context.frame_buffer.size || context.frame_buffer.view == nullptr) {
      // Never past the end of the section: the host is told nothing new arrived.
      std::fprintf(stderr, "CLIENT Render: Frame of %dx%d does not fit the frame buffer\n", client->pixel_width,
                   client->pixel_height);
    } else {
      std::memcpy(context.frame_buffer.view, client->pixels.data(), bytes);
      result = {true, client->pixel_width, client->pixel_height, 0};
    }
  }
  result.cursor = client->cursor;
  client->frame_dirty = false;
  return result;
}

namespace {

// One function per one-way request, each told the request's name for its
// diagnostics.
using OneWayHandler = void (*)(ClientContext& context, const char* name, const Payload& payload);

void DestroyBrowser(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserRequest r;
  if (auto c = DecodeAndFind(context, name, payload, r, false)) c->Close();
}

void SetSize(ClientContext& context, const char* name, const Payload& payload) {
  IPCSetSize r;
  auto c = DecodeAndFind(context, name, payload, r, false);
  if (!c) return;
  if (r.width <= 0) {
    std::fprintf(stderr, "CLIENT SetSize: Width must be greater than 0, is %d\n", r.width);
  } else if (r.height <= 0) {
    std::fprintf(stderr, "CLIENT SetSize: Height must be greater than 0, is %d\n", r.height);
  } else if (!(r.scale_factor > 0)) {
    std::fprintf(stderr, "CLIENT SetSize: Scale factor must be greater than 0, is %f\n", r.scale_factor);
  } else if (!FrameFits(r.width, r.height, r.scale_factor)) {
    // The view keeps its size: such a frame could never be delivered, and
    // painting it would cost the engine gigabytes.
    std::fprintf(stderr, "CLIENT SetSize: A view of %dx%d at scale %g does not fit the frame buffer\n", r.width,
                 r.height, r.scale_factor);
  } else {
    if (r.width != c->view_width || r.height != c->view_height) {
      c->view_width = r.width;
      c->view_height = r.height;
      if (c->created()) {
        c->browser()->WasResized();
        c->browser()->Invalidate();
      }
    }
    const float previous = c->scale_factor;
    c->scale_factor = r.scale_factor;
    if (r.scale_factor != previous && c->created()) c->browser()->NotifyScreenInfoChanged();
  }
}

void SetZoom(ClientContext& context, const char* name, const Payload& payload) {
  IPCSetZoom r;
  auto c = DecodeAndFind(context, name, payload, r, false);
  if (!c) return;
  if (!(r.zoom > 0)) {
    std::fprintf(stderr, "CLIENT SetZoom: Zoom must be greater than 0, is %f\n", r.zoom);
    return;
  }
  c->zoom = r.zoom;
  if (c->created()) c->browser()->SetZoomLevel(r.zoom);
}

void ExecuteJavascript(ClientContext& context, const char* name, const Payload& payload) {
  IPCExecuteJavascript r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->browser()->ExecuteJavaScript(r.code, "Host", 0);
}

void Navigate(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserFlag r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  engine::Browser& b = *c->browser();
  if (r.flag && b.CanGoForward()) {
    b.GoForward();
  } else if (!r.flag && b.CanGoBack()) {
    b.GoBack();
  }
}

// GoToURL and GoToHTML: an address, or a page's HTML turned into one.
void LoadContent(ClientContext& context, const char* name, const Payload& payload, bool html) {
  IPCLoadContent r;
  if (!DecodeRequest(name, payload, r)) return;
  auto c = Lookup(context, name, r.handle);
  if (!c) return;
  if (r.content.empty()) {
    std::fprintf(stderr, "CLIENT %s: URL is empty\n", name);
    return;
  }
  if (!Created(*c, name)) return;
  c->skip_unload = r.skip_unload;
  c->browser()->StopLoad();
  c->browser()->LoadURL(html ? HtmlDataUrl(r.content) : r.content);
}

void GoToURL(ClientContext& context, const char* name, const Payload& payload) {
  LoadContent(context, name, payload, false);
}

void GoToHTML(ClientContext& context, const char* name, const Payload& payload) {
  LoadContent(context, name, payload, true);
}

void Reload(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserFlag r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  r.flag ? c->browser()->ReloadIgnoreCache() : c->browser()->Reload();
}

void StopLoading(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserRequest r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->browser()->StopLoad();
}

void ShowDevTools(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserRequest r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) {
    c->browser()->ShowDevTools(ForEngine(DevToolsWindow()), ForEngine(DevToolsBrowserSettings()));
  }
}

void ClearCookies(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserRequest r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (c && !c->browser()->DeleteAllCookies()) std::fprintf(stderr, "CLIENT ClearCookies: Failed to clear cookies\n");
}

void SetDialogResult(ClientContext& context, const char* name, const Payload& payload) {
  IPCSetDialogResult r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->AnswerDialog(r.success, r.user_input);
}

void SetContextMenuResult(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserValue r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->AnswerContextMenu(r.value);
}

void SetFileDialogResult(ClientContext& context, const char* name, const Payload& payload) {
  IPCSetFileDialogResult r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->AnswerFileDialog(r.paths);
}

void SendMouseClickEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCMouseClickEvent r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  c->browser()->SendMouseClickEvent(Mouse(r.x, r.y, r.modifiers), static_cast<engine::MouseButton>(r.button),
                                    r.mouse_up, r.click_count);
}

void SendMouseWheelEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCMouseWheelEvent r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) {
    c->browser()->SendMouseWheelEvent(Mouse(r.x, r.y, r.modifiers), r.delta_x, r.delta_y);
  }
}

void SendMouseMoveEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCMouseMoveEvent r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  const bool leave = r.x < 0 || r.x >= c->view_width || r.y < 0 || r.y >= c->view_height;
  c->browser()->SendMouseMoveEvent(Mouse(r.x, r.y, r.modifiers), leave);
}

void SendKeyEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCKeyEvent r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  engine::KeyEvent k;
  k.type = r.key_up ? engine::KeyEventType::KeyUp : engine::KeyEventType::RawKeyDown;
  k.modifiers = r.modifiers;
  k.windows_key_code = r.windows_key_code;
  k.native_key_code = r.native_key_code;
  k.is_system_key = false;
  k.character = 1;
  k.unmodified_character = 1;
  k.focus_on_editable_field = true;
  c->browser()->SendKeyEvent(k);
}

void SendCharacterEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCCharacterEvent r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c) return;
  engine::KeyEvent k;
  k.type = engine::KeyEventType::Char;
  k.modifiers = r.modifiers;
  k.windows_key_code = r.character;
  k.native_key_code = 0;
  k.character = r.character;
  k.unmodified_character = r.unmodified_character;
  k.focus_on_editable_field = false;
  c->browser()->SendKeyEvent(k);
}

void SendFocusEvent(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserFlag r;
  if (auto c = DecodeAndFind(context, name, payload, r, true)) c->browser()->SetFocus(r.flag);
}

void SendFrameCommand(ClientContext& context, const char* name, const Payload& payload) {
  IPCBrowserValue r;
  auto c = DecodeAndFind(context, name, payload, r, true);
  if (!c || r.value < 0 || r.value > 6) return;
  c->browser()->ExecuteFrameCommand(static_cast<engine::FrameCommand>(r.value));
}

// The one-way requests by message type; the others (Initialize,
// CreateBrowser, ProcessEvents, Render) are answered elsewhere.
const std::array<OneWayHandler, kMessageTypeCount>& OneWayHandlers() {
  static const auto table = [] {
    std::array<OneWayHandler, kMessageTypeCount> t{};
    auto at = [&t](IPCMessageType type) -> OneWayHandler& { return t[static_cast<std::uint32_t>(type)]; };
    at(IPCMessageType::DestroyBrowser) = DestroyBrowser;
    at(IPCMessageType::SetSize) = SetSize;
    at(IPCMessageType::SetZoom) = SetZoom;
    at(IPCMessageType::ExecuteJavascript) = ExecuteJavascript;
    at(IPCMessageType::Navigate) = Navigate;
    at(IPCMessageType::GoToURL) = GoToURL;
    at(IPCMessageType::GoToHTML) = GoToHTML;
    at(IPCMessageType::Reload) = Reload;
    at(IPCMessageType::StopLoading) = StopLoading;
    at(IPCMessageType::ShowDevTools) = ShowDevTools;
    at(IPCMessageType::ClearCookies) = ClearCookies;
    at(IPCMessageType::SetDialogResult) = SetDialogResult;
    at(IPCMessageType::SetContextMenuResult) = SetContextMenuResult;
    at(IPCMessageType::SetFileDialogResult) = SetFileDialogResult;
    at(IPCMessageType::SendMouseClickEvent) = SendMouseClickEvent;
    at(IPCMessageType::SendMouseWheelEvent) = SendMouseWheelEvent;
    at(IPCMessageType::SendMouseMoveEvent) = SendMouseMoveEvent;
    at(IPCMessageType::SendKeyEvent) = SendKeyEvent;
    at(IPCMessageType::SendCharacterEvent) = SendCharacterEvent;
    at(IPCMessageType::SendFocusEvent) = SendFocusEvent;
    at(IPCMessageType::SendFrameCommand) = SendFrameCommand;
    return t;
  }();
  return table;
}

}  // namespace

bool IsOneWayRequest(std::uint32_t type) { return type < kMessageTypeCount && OneWayHandlers()[type] != nullptr; }

void HandleOneWayRequest(ClientContext& context, std::uint32_t type, const Payload& payload) {
  if (!IsOneWayRequest(type)) return;
  OneWayHandlers()[type](context, MessageTypeName(type), payload);
}
