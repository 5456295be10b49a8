#pragma once
// The 25 messages of the browser protocol: their ids and records. Each record
// lists its fields once, in wire order; Encode/Decode work from that list.
#include <cstdint>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "ipc/msgpack.h"

#define TEV_IPC_FIELDS(...)                              \
  auto fields() { return std::tie(__VA_ARGS__); }       \
  auto fields() const { return std::tie(__VA_ARGS__); }

enum class IPCMessageType : std::uint32_t {
  Initialize = 0,
  CreateBrowser = 1,
  DestroyBrowser = 2,
  ProcessEvents = 3,
  Render = 4,
  SetSize = 5,
  SetZoom = 6,
  ExecuteJavascript = 7,
  Navigate = 8,
  GoToURL = 9,
  GoToHTML = 10,
  Reload = 11,
  StopLoading = 12,
  ShowDevTools = 13,
  ClearCookies = 14,
  SetDialogResult = 15,
  SetContextMenuResult = 16,
  SetFileDialogResult = 17,
  SendMouseClickEvent = 18,
  SendMouseWheelEvent = 19,
  SendMouseMoveEvent = 20,
  SendKeyEvent = 21,
  SendCharacterEvent = 22,
  SendFocusEvent = 23,
  SendFrameCommand = 24,
};

inline constexpr std::uint32_t kMessageTypeCount = 25;

// Two records are equal when every field is.
template <msgpack::Record R>
bool operator==(const R& a, const R& b) {
  return a.fields() == b.fields();
}

// The name used in diagnostics, or null for an id outside the catalogue.
const char* MessageTypeName(std::uint32_t type);

struct IPCInitialize {
  bool debug = false;
  std::string section_name;
  std::string browser_subprocess_path;
  std::string resources_dir_path;
  std::string framework_dir_path;
  std::string main_bundle_path;
  std::string log_file;
  std::string cache_path;
  std::string user_agent;
  TEV_IPC_FIELDS(debug, section_name, browser_subprocess_path, resources_dir_path, framework_dir_path,
                 main_bundle_path, log_file, cache_path, user_agent)
};

struct IPCCreateBrowser {
  std::string url;
  TEV_IPC_FIELDS(url)
};

struct IPCCreateBrowserResponse {
  std::int32_t handle = 0;
  TEV_IPC_FIELDS(handle)
};

// DestroyBrowser, Render, StopLoading, ShowDevTools, ClearCookies.
struct IPCBrowserRequest {
  std::int32_t handle = 0;
  TEV_IPC_FIELDS(handle)
};

struct IPCProcessEvents {
  std::int32_t unused = 0;  // always 0, ignored by the receiver
  TEV_IPC_FIELDS(unused)
};

struct IPCConsoleMessage {
  std::int32_t handle = 0;
  std::string message;
  std::string source;
  std::int32_t line = 0;
  TEV_IPC_FIELDS(handle, message, source, line)
};

struct IPCEvent {
  std::int32_t handle = 0;
  std::int32_t code = 0;
  std::string data;
  TEV_IPC_FIELDS(handle, code, data)
};

struct IPCProcessEventsResponse {
  std::vector<IPCConsoleMessage> console_messages;
  std::vector<IPCEvent> browser_events;
  std::vector<IPCEvent> script_events;
  TEV_IPC_FIELDS(console_messages, browser_events, script_events)
};

struct IPCRenderResponse {
  bool updated = false;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t cursor = 0;
  TEV_IPC_FIELDS(updated, width, height, cursor)
};

struct IPCSetSize {
  std::int32_t handle = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  float scale_factor = 0;
  TEV_IPC_FIELDS(handle, width, height, scale_factor)
};

struct IPCSetZoom {
  std::int32_t handle = 0;
  float zoom = 0;
  TEV_IPC_FIELDS(handle, zoom)
};

struct IPCExecuteJavascript {
  std::int32_t handle = 0;
  std::string code;
  TEV_IPC_FIELDS(handle, code)
};

// Navigate (forward), Reload (ignore_cache), SendFocusEvent (focus).
struct IPCBrowserFlag {
  std::int32_t handle = 0;
  bool flag = false;
  TEV_IPC_FIELDS(handle, flag)
};

// GoToURL (content is the URL), GoToHTML (content is the document).
struct IPCLoadContent {
  std::int32_t handle = 0;
  std::string content;
  bool skip_unload = false;
  TEV_IPC_FIELDS(handle, content, skip_unload)
};

struct IPCSetDialogResult {
  std::int32_t handle = 0;
  bool success = false;
  std::string user_input;
  TEV_IPC_FIELDS(handle, success, user_input)
};

// SetContextMenuResult (command_id), SendFrameCommand (command).
struct IPCBrowserValue {
  std::int32_t handle = 0;
  std::int32_t value = 0;
  TEV_IPC_FIELDS(handle, value)
};

struct IPCSetFileDialogResult {
  std::int32_t handle = 0;
  std::vector<std::string> paths;
  TEV_IPC_FIELDS(handle, paths)
};

struct IPCMouseClickEvent {
  std::int32_t handle = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t button = 0;
  bool mouse_up = false;
  std::int32_t click_count = 0;
  std::uint32_t modifiers = 0;
  TEV_IPC_FIELDS(handle, x, y, button, mouse_up, click_count, modifiers)
};

struct IPCMouseWheelEvent {
  std::int32_t handle = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t delta_x = 0;
  std::int32_t delta_y = 0;
  std::uint32_t modifiers = 0;
  TEV_IPC_FIELDS(handle, x, y, delta_x, delta_y, modifiers)
};

struct IPCMouseMoveEvent {
  std::int32_t handle = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t modifiers = 0;
  TEV_IPC_FIELDS(handle, x, y, modifiers)
};

struct IPCKeyEvent {
  std::int32_t handle = 0;
  std::int32_t windows_key_code = 0;
  std::int32_t native_key_code = 0;
  bool key_up = false;
  std::uint32_t modifiers = 0;
  TEV_IPC_FIELDS(handle, windows_key_code, native_key_code, key_up, modifiers)
};

struct IPCCharacterEvent {
  std::int32_t handle = 0;
  std::uint16_t character = 0;
  std::uint16_t unmodified_character = 0;
  std::uint32_t modifiers = 0;
  TEV_IPC_FIELDS(handle, character, unmodified_character, modifiers)
};

namespace ipc {

template <msgpack::Record R>
std::vector<std::uint8_t> Encode(const R& record) {
  msgpack::Packer packer;
  std::apply([&packer](const auto&... f) { packer.pack(f...); }, record.fields());
  return packer.take();
}

// Fills `record` from `payload`; bytes after the last field are ignored.
template <msgpack::Record R>
std::error_code Decode(const std::uint8_t* data, std::size_t size, R& record) {
  msgpack::Unpacker unpacker(data, size);
  std::apply([&unpacker](auto&... f) { unpacker.unpack(f...); }, record.fields());
  return unpacker.error();
}

template <msgpack::Record R>
std::error_code Decode(const std::vector<std::uint8_t>& payload, R& record) {
  return Decode(payload.data(), payload.size(), record);
}

}  // namespace ipc
