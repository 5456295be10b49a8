#pragma once
// The option list of an open <select>, drawn into the browser's own frame:
// an off-screen view has no window for the engine's popup. This is the list's
// model (placement, highlight, scrolling, what a click or key does) and its
// painter; the backend feeds it input and tells the engine the outcome.
#include <string>
#include <vector>

#include <cairo.h>

#include "engine/engine.h"

namespace engine::webkit {

struct PopupItem {
  std::string label;
  bool enabled = true;
  bool group_label = false;  // an <optgroup> heading: shown, never chosen
  bool group_child = false;  // indented under its heading
  bool selected = false;
};

class OptionPopup {
 public:
  static constexpr int kRowHeight = 22;
  static constexpr int kMinWidth = 80;
  // Shown below the element when the rows fit there, else on the roomier side.
  OptionPopup(std::vector<PopupItem> items, Rect element, int view_width, int view_height);

  const std::vector<PopupItem>& items() const { return items_; }
  const Rect& bounds() const { return bounds_; }
  int highlighted() const { return highlighted_; }
  int first_row() const { return first_row_; }
  int visible_rows() const { return visible_rows_; }

  bool Contains(int x, int y) const;
  // The choosable item under the point, or -1.
  int ItemAt(int x, int y) const;
  // Pointer over an item: it is highlighted. False when nothing changed.
  bool Hover(int x, int y);
  // Whole rows, positive towards the end of the list.
  bool Scroll(int rows);

  enum class KeyOutcome { Ignored, Moved, Choose, Close };
  // Up, Down, Home, End, Enter and Escape as Windows virtual-key codes.
  KeyOutcome Key(int windows_key_code);

 private:
  bool Choosable(int index) const;
  int Step(int from, int direction) const;  // the next choosable item, or `from`
  void Highlight(int index);

  std::vector<PopupItem> items_;
  Rect bounds_;
  int highlighted_ = -1;
  int first_row_ = 0;
  int visible_rows_ = 0;
};

// Colours the list is drawn with (ARGB), for tests that read frames.
inline constexpr std::uint32_t kPopupBackground = 0xFFFFFFFF;
inline constexpr std::uint32_t kPopupHighlight = 0xFF3366CC;
inline constexpr std::uint32_t kPopupBorder = 0xFF808080;

// Onto a surface of the view's size, in view pixels.
void PaintOptionPopup(cairo_t* cr, const OptionPopup& popup);

}  // namespace engine::webkit
