#pragma once
// One page browser: what the engine reports about it and what the request
// handlers keep for it (view size, pixel buffer, cursor, zoom, flags).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "event_queues.h"

// Cursor codes of the Render reply.
std::int32_t CursorCode(engine::CursorType type);

class BrowserClient : public engine::Client {
 public:
  BrowserClient(std::int32_t handle, EventSinks sinks, engine::BrowserSettings settings, std::string initial_url);
  ~BrowserClient() override;

  // engine::Client
  void OnAfterCreated(std::shared_ptr<engine::Browser> browser) override;
  void OnBeforeClose() override;
  void OnLoadStart(bool main_frame) override;
  void OnLoadEnd(bool main_frame, int http_status, const std::string& url) override;
  engine::Rect GetViewRect() override;
  float GetDeviceScaleFactor() override;
  void OnPaint(const std::vector<engine::Rect>& dirty, const void* buffer, int width, int height) override;
  void OnCursorChange(engine::CursorType type) override;
  void OnAddressChange(bool main_frame, const std::string& url) override;
  void OnTitleChange(const std::string& title) override;
  void OnLoadingStateChange(bool is_loading, bool can_go_back, bool can_go_forward) override;
  void OnLoadError(bool main_frame, int error_code, const std::string& failed_url) override;
  void OnRenderProcessTerminated() override;
  void OnCertificateError() override;
  void OnOpenURL(const std::string& target_url) override;
  void OnConsoleMessage(const std::string& message, const std::string& source, int line) override;
  void OnScriptMessage(int code, const std::string& text) override;
  bool OnJSDialog(engine::JsDialogType type, const std::string& message, const std::string& default_prompt,
                  std::shared_ptr<engine::DialogCallback> callback, bool& suppress) override;
  bool OnBeforeUnloadDialog(const std::string& message, bool is_reload,
                            std::shared_ptr<engine::DialogCallback> callback) override;
  void OnResetDialogState() override;
  bool OnFileDialog(engine::FileDialogMode mode, const std::string& default_path,
                    const std::vector<std::string>& extensions, const std::vector<std::string>& descriptions,
                    std::shared_ptr<engine::FileDialogCallback> callback) override;
  bool RunContextMenu(const engine::ContextMenuParams& params, const std::vector<engine::MenuItem>& model,
                      std::shared_ptr<engine::ContextMenuCallback> callback) override;
  void OnContextMenuDismissed() override;

  // The host's answers (SetDialogResult, SetFileDialogResult): false when no
  // dialog of that kind is pending.
  bool AnswerDialog(bool success, const std::string& user_input);
  bool AnswerFileDialog(const std::vector<std::string>& paths);
  // SetContextMenuResult: the id goes to the engine unchanged.
  bool AnswerContextMenu(int command_id);

  // Forced close of the engine browser, if there is one; the next
  // before-unload is answered without asking.
  void Close();

  bool created() const { return created_; }
  engine::Browser* browser() const { return browser_.get(); }
  const engine::BrowserSettings& settings() const { return settings_; }
  const std::string& initial_url() const { return initial_url_; }

  std::int32_t view_width = 512;
  std::int32_t view_height = 512;
  float scale_factor = 1.0f;
  float zoom = 0.0f;
  std::int32_t cursor = 0;
  bool skip_unload = false;

  // The last painted view, BGRA.
  std::int32_t pixel_width = 512;
  std::int32_t pixel_height = 512;
  std::vector<std::uint8_t> pixels;
  bool frame_dirty = true;

 private:
  void Post(std::int32_t code, const std::string& payload);

  std::int32_t handle_;
  EventSinks sinks_;
  engine::BrowserSettings settings_;
  std::string initial_url_;
  bool created_ = false;
  std::shared_ptr<engine::Browser> browser_;
  std::shared_ptr<engine::DialogCallback> pending_dialog_;
  std::shared_ptr<engine::FileDialogCallback> pending_file_dialog_;
  std::shared_ptr<engine::ContextMenuCallback> pending_menu_;
};
