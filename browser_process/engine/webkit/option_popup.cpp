#include "option_popup.h"

#include <algorithm>

namespace engine::webkit {

OptionPopup::OptionPopup(std::vector<PopupItem> items, Rect element, int view_width, int view_height)
    : items_(std::move(items)) {
  const int rows = static_cast<int>(items_.size());
  const int below = std::max(0, view_height - (element.y + element.height)) / kRowHeight;
  const int above = std::max(0, element.y) / kRowHeight;
  const bool down = below >= rows || below >= above;
  visible_rows_ = std::max(1, std::min(rows, down ? below : above));
  bounds_.width = std::min(std::max(element.width, kMinWidth), std::max(view_width, 1));
  bounds_.height = visible_rows_ * kRowHeight;
  bounds_.x = std::clamp(element.x, 0, std::max(0, view_width - bounds_.width));
  bounds_.y = down ? element.y + element.height : element.y - bounds_.height;
  for (int i = 0; i < rows; ++i) {
    if (items_[i].selected && Choosable(i)) highlighted_ = i;
  }
  if (highlighted_ < 0) highlighted_ = Step(-1, 1);  // the first choosable one, or none
  Highlight(highlighted_);
}

bool OptionPopup::Choosable(int index) const {
  return index >= 0 && index < static_cast<int>(items_.size()) && items_[index].enabled && !items_[index].group_label;
}

int OptionPopup::Step(int from, int direction) const {
  for (int i = from + direction; i >= 0 && i < static_cast<int>(items_.size()); i += direction) {
    if (Choosable(i)) return i;
  }
  return from;
}

void OptionPopup::Highlight(int index) {
  highlighted_ = index;
  if (index < 0) return;
  if (index < first_row_) first_row_ = index;
  if (index >= first_row_ + visible_rows_) first_row_ = index - visible_rows_ + 1;
}

bool OptionPopup::Contains(int x, int y) const {
  return x >= bounds_.x && x < bounds_.x + bounds_.width && y >= bounds_.y && y < bounds_.y + bounds_.height;
}

int OptionPopup::ItemAt(int x, int y) const {
  if (!Contains(x, y)) return -1;
  const int index = first_row_ + (y - bounds_.y) / kRowHeight;
  return Choosable(index) ? index : -1;
}

bool OptionPopup::Hover(int x, int y) {
  const int index = ItemAt(x, y);
  if (index < 0 || index == highlighted_) return false;
  Highlight(index);
  return true;
}

bool OptionPopup::Scroll(int rows) {
  const int last = std::max(0, static_cast<int>(items_.size()) - visible_rows_);
  const int first = std::clamp(first_row_ + rows, 0, last);
  if (first == first_row_) return false;
  first_row_ = first;
  return true;
}

OptionPopup::KeyOutcome OptionPopup::Key(int windows_key_code) {
  const int count = static_cast<int>(items_.size());
  int target = highlighted_;
  switch (windows_key_code) {
    case 0x0D:  // Enter
      return Choosable(highlighted_) ? KeyOutcome::Choose : KeyOutcome::Close;
    case 0x1B:  // Escape
      return KeyOutcome::Close;
    case 0x26:  // Up
      target = Step(highlighted_ < 0 ? count : highlighted_, -1);
      break;
    case 0x28:  // Down
      target = Step(highlighted_, 1);
      break;
    case 0x24:  // Home
      target = Step(-1, 1);
      break;
    case 0x23:  // End
      target = Step(count, -1);
      break;
    default:
      return KeyOutcome::Ignored;
  }
  if (!Choosable(target) || target == highlighted_) return KeyOutcome::Ignored;
  Highlight(target);
  return KeyOutcome::Moved;
}

namespace {

void SetColour(cairo_t* cr, std::uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xff) / 255.0, ((argb >> 8) & 0xff) / 255.0, (argb & 0xff) / 255.0,
                        ((argb >> 24) & 0xff) / 255.0);
}

}  // namespace

void PaintOptionPopup(cairo_t* cr, const OptionPopup& popup) {
  const Rect& b = popup.bounds();
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_rectangle(cr, b.x, b.y, b.width, b.height);
  cairo_clip(cr);
  SetColour(cr, kPopupBackground);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_set_font_size(cr, 13);
  const int end = std::min(static_cast<int>(popup.items().size()), popup.first_row() + popup.visible_rows());
  for (int i = popup.first_row(); i < end; ++i) {
    const PopupItem& item = popup.items()[i];
    const int top = b.y + (i - popup.first_row()) * OptionPopup::kRowHeight;
    const bool lit = i == popup.highlighted();
    if (lit) {
      SetColour(cr, kPopupHighlight);
      cairo_rectangle(cr, b.x, top, b.width, OptionPopup::kRowHeight);
      cairo_fill(cr);
    }
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           item.group_label ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    SetColour(cr, lit ? 0xFFFFFFFF : item.enabled ? 0xFF000000 : 0xFF8C8C8C);
    cairo_move_to(cr, b.x + (item.group_child ? 18 : 6), top + OptionPopup::kRowHeight - 7);
    cairo_show_text(cr, item.label.c_str());
  }
  // The border, inside the bounds.
  SetColour(cr, kPopupBorder);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.width - 1, b.height - 1);
  cairo_stroke(cr);
  cairo_restore(cr);
}

}  // namespace engine::webkit
