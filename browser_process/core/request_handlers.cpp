#include "request_handlers.h"

#include <cstdio>
#include <cstring>

#include "browser_client.h"
#include "client_app.h"

namespace {

// Step 1 of every handler: decode, or report and stop.
template <msgpack::Record R>
bool Unpack(const char* name, const Payload& payload, R& record) {
  if (const auto error = ipc::Decode(payload, record)) {
    std::fprintf(stderr, "CLIENT %s: Failed to unpack message: %s\n", name, error.message().c_str());
    return false;
  }
  return true;
}

// Step 2: the registry entry, or report and stop.
std::shared_ptr<BrowserClient> Lookup(const ClientContext& context, const char* name, std::int32_t handle) {
  auto client = context.Find(handle);
  if (!client) std::fprintf(stderr, "CLIENT %s: Invalid browser handle %d\n", name, handle);
  return client;
}

// Step 4, for requests that need the engine browser.
bool Created(const BrowserClient& client, const char* name) {
  if (client.created()) return true;
  std::fprintf(stderr, "CLIENT %s: Browser has not yet been created\n", name);
  return false;
}

// Decode and look up; for `needs_browser` also require the engine browser.
template <msgpack::Record R>
std::shared_ptr<BrowserClient> Frame(const ClientContext& context, const char* name, const Payload& payload, R& record,
                                     bool needs_browser) {
  if (!Unpack(name, payload, record)) return nullptr;
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
  if (!Unpack("CreateBrowser", payload, request)) return 0;
  std::fprintf(stderr, "CLIENT: CreateBrowser: %s\n", request.url.c_str());
  const std::int32_t handle = ++context.handle_counter;
  auto client = std::make_shared<BrowserClient>(handle, ContextEventSinks(), PageBrowserSettings(), request.url);
  if (context.engine == nullptr ||
      !context.engine->CreateBrowser(PageWindow(), client, client->initial_url(), client->settings())) {
    std::fprintf(stderr, "CLIENT CreateBrowsers: Failed to create browser\n");
    return 0;
  }
  context.registry.emplace(handle, std::move(client));
  return handle;
}

IPCRenderResponse HandleRender(ClientContext& context, const Payload& payload) {
  IPCRenderResponse result{false, 0, 0, 0};
  IPCBrowserRequest request;
  auto client = Frame(context, "Render", payload, request, false);
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

void HandleOneWayRequest(ClientContext& context, std::uint32_t type, const Payload& payload) {
  const char* name = MessageTypeName(type);
  switch (static_cast<IPCMessageType>(type)) {
    case IPCMessageType::DestroyBrowser: {
      IPCBrowserRequest r;
      if (auto c = Frame(context, name, payload, r, false)) c->Close();
      break;
    }
    case IPCMessageType::SetSize: {
      IPCSetSize r;
      auto c = Frame(context, name, payload, r, false);
      if (!c) break;
      if (r.width <= 0) {
        std::fprintf(stderr, "CLIENT SetSize: Width must be greater than 0, is %d\n", r.width);
      } else if (r.height <= 0) {
        std::fprintf(stderr, "CLIENT SetSize: Height must be greater than 0, is %d\n", r.height);
      } else if (!(r.scale_factor > 0)) {
        std::fprintf(stderr, "CLIENT SetSize: Scale factor must be greater than 0, is %f\n", r.scale_factor);
      } else if (!FrameFits(r.width, r.height, r.scale_factor)) {
        // The view keeps its size: such a frame could never be delivered,
        // and painting it would cost the engine gigabytes.
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
      break;
    }
    case IPCMessageType::SetZoom: {
      IPCSetZoom r;
      auto c = Frame(context, name, payload, r, false);
      if (!c) break;
      if (!(r.zoom > 0)) {
        std::fprintf(stderr, "CLIENT SetZoom: Zoom must be greater than 0, is %f\n", r.zoom);
        break;
      }
      c->zoom = r.zoom;
      if (c->created()) c->browser()->SetZoomLevel(r.zoom);
      break;
    }
    case IPCMessageType::ExecuteJavascript: {
      IPCExecuteJavascript r;
      if (auto c = Frame(context, name, payload, r, true)) c->browser()->ExecuteJavaScript(r.code, "Host", 0);
      break;
    }
    case IPCMessageType::Navigate: {
      IPCBrowserFlag r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
      engine::Browser& b = *c->browser();
      if (r.flag && b.CanGoForward()) {
        b.GoForward();
      } else if (!r.flag && b.CanGoBack()) {
        b.GoBack();
      }
      break;
    }
    case IPCMessageType::GoToURL:
    case IPCMessageType::GoToHTML: {
      IPCLoadContent r;
      if (!Unpack(name, payload, r)) break;
      auto c = Lookup(context, name, r.handle);
      if (!c) break;
      if (r.content.empty()) {
        std::fprintf(stderr, "CLIENT %s: URL is empty\n", name);
        break;
      }
      if (!Created(*c, name)) break;
      c->skip_unload = r.skip_unload;
      c->browser()->StopLoad();
      c->browser()->LoadURL(type == static_cast<std::uint32_t>(IPCMessageType::GoToURL) ? r.content
                                                                                       : HtmlDataUrl(r.content));
      break;
    }
    case IPCMessageType::Reload: {
      IPCBrowserFlag r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
      r.flag ? c->browser()->ReloadIgnoreCache() : c->browser()->Reload();
      break;
    }
    case IPCMessageType::StopLoading: {
      IPCBrowserRequest r;
      if (auto c = Frame(context, name, payload, r, true)) c->browser()->StopLoad();
      break;
    }
    case IPCMessageType::ShowDevTools: {
      IPCBrowserRequest r;
      if (auto c = Frame(context, name, payload, r, true)) c->browser()->ShowDevTools(DevToolsWindow(), DevToolsBrowserSettings());
      break;
    }
    case IPCMessageType::ClearCookies: {
      IPCBrowserRequest r;
      auto c = Frame(context, name, payload, r, true);
      if (c && !c->browser()->DeleteAllCookies()) std::fprintf(stderr, "CLIENT ClearCookies: Failed to clear cookies\n");
      break;
    }
    case IPCMessageType::SendMouseClickEvent: {
      IPCMouseClickEvent r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
      c->browser()->SendMouseClickEvent(Mouse(r.x, r.y, r.modifiers), static_cast<engine::MouseButton>(r.button),
                                        r.mouse_up, r.click_count);
      break;
    }
    case IPCMessageType::SendMouseWheelEvent: {
      IPCMouseWheelEvent r;
      if (auto c = Frame(context, name, payload, r, true)) {
        c->browser()->SendMouseWheelEvent(Mouse(r.x, r.y, r.modifiers), r.delta_x, r.delta_y);
      }
      break;
    }
    case IPCMessageType::SendMouseMoveEvent: {
      IPCMouseMoveEvent r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
      const bool leave = r.x < 0 || r.x >= c->view_width || r.y < 0 || r.y >= c->view_height;
      c->browser()->SendMouseMoveEvent(Mouse(r.x, r.y, r.modifiers), leave);
      break;
    }
    case IPCMessageType::SendKeyEvent: {
      IPCKeyEvent r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
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
      break;
    }
    case IPCMessageType::SendCharacterEvent: {
      IPCCharacterEvent r;
      auto c = Frame(context, name, payload, r, true);
      if (!c) break;
      engine::KeyEvent k;
      k.type = engine::KeyEventType::Char;
      k.modifiers = r.modifiers;
      k.windows_key_code = r.character;
      k.native_key_code = 0;
      k.character = r.character;
      k.unmodified_character = r.unmodified_character;
      k.focus_on_editable_field = false;
      c->browser()->SendKeyEvent(k);
      break;
    }
    case IPCMessageType::SendFocusEvent: {
      IPCBrowserFlag r;
      if (auto c = Frame(context, name, payload, r, true)) c->browser()->SetFocus(r.flag);
      break;
    }
    case IPCMessageType::SendFrameCommand: {
      IPCBrowserValue r;
      auto c = Frame(context, name, payload, r, true);
      if (!c || r.value < 0 || r.value > 6) break;
      c->browser()->ExecuteFrameCommand(static_cast<engine::FrameCommand>(r.value));
      break;
    }
    case IPCMessageType::SetDialogResult: {
      IPCSetDialogResult r;
      if (auto c = Frame(context, name, payload, r, true)) c->AnswerDialog(r.success, r.user_input);
      break;
    }
    case IPCMessageType::SetContextMenuResult: {
      IPCBrowserValue r;
      if (auto c = Frame(context, name, payload, r, true)) c->AnswerContextMenu(r.value);
      break;
    }
    case IPCMessageType::SetFileDialogResult: {
      IPCSetFileDialogResult r;
      if (auto c = Frame(context, name, payload, r, true)) c->AnswerFileDialog(r.paths);
      break;
    }
    default:
      break;
  }
}
