// The <select> list drawn into the frame: placement, highlight, keys,
// clicks, scrolling and the pixels it paints.
#include <gtest/gtest.h>

#include "engine/webkit/option_popup.h"

namespace {

using engine::Rect;
using engine::webkit::OptionPopup;
using engine::webkit::PopupItem;
using Key = OptionPopup::KeyOutcome;

std::vector<PopupItem> Items(int count, int selected = -1) {
  std::vector<PopupItem> items;
  for (int i = 0; i < count; ++i) items.push_back({"option " + std::to_string(i), true, false, false, i == selected});
  return items;
}

TEST(OptionPopup, PlacementBelowAboveOrOnTheRoomierSide) {
  const int row = OptionPopup::kRowHeight;
  struct Case {
    Rect element;
    int items, view_h;
    Rect bounds;
  } cases[] = {
      {{10, 10, 150, 24}, 5, 300, {10, 34, 150, 5 * row}},                  // fits below
      {{10, 250, 150, 24}, 5, 300, {10, 250 - 5 * row, 150, 5 * row}},      // no room below: above
      {{10, 100, 40, 24}, 50, 300, {10, 124, OptionPopup::kMinWidth, 8 * row}},  // clipped below, scrolls
      {{350, 10, 100, 24}, 2, 300, {300, 34, 100, 2 * row}},                // kept inside the view
  };
  for (const Case& c : cases) {
    const OptionPopup popup(Items(c.items), c.element, 400, c.view_h);
    const Rect b = popup.bounds();
    EXPECT_EQ(std::vector<int>({b.x, b.y, b.width, b.height}),
              std::vector<int>({c.bounds.x, c.bounds.y, c.bounds.width, c.bounds.height}))
        << c.element.x << "," << c.element.y;
  }
}

TEST(OptionPopup, KeysMoveOverChoosableItemsOnly) {
  auto items = Items(6, 2);
  items[3].enabled = false;
  items[0].group_label = true;
  OptionPopup popup(items, {0, 0, 100, 20}, 400, 400);
  EXPECT_EQ(popup.highlighted(), 2);  // the selected one
  struct Step {
    int key;
    Key outcome;
    int highlighted;
  } steps[] = {
      {0x28, Key::Moved, 4},    // Down skips the disabled item
      {0x26, Key::Moved, 2},    // Up skips it back
      {0x24, Key::Moved, 1},    // Home: the first choosable, not the group heading
      {0x26, Key::Ignored, 1},  // nothing above
      {0x23, Key::Moved, 5},    // End
      {0x28, Key::Ignored, 5},
      {0x41, Key::Ignored, 5},  // other keys do nothing
      {0x0D, Key::Choose, 5},
      {0x1B, Key::Close, 5},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(popup.Key(s.key), s.outcome) << s.key;
    EXPECT_EQ(popup.highlighted(), s.highlighted) << s.key;
  }
  // With nothing choosable, Enter only closes.
  auto none = Items(2);
  none[0].enabled = none[1].enabled = false;
  OptionPopup empty(none, {0, 0, 100, 20}, 400, 400);
  EXPECT_EQ(empty.highlighted(), -1);
  EXPECT_EQ(empty.Key(0x0D), Key::Close);
}

TEST(OptionPopup, PointerAndWheel) {
  const int row = OptionPopup::kRowHeight;
  OptionPopup popup(Items(20), {0, 0, 100, 20}, 400, 20 + 5 * row);
  EXPECT_EQ(popup.visible_rows(), 5);
  EXPECT_EQ(popup.highlighted(), 0);
  EXPECT_EQ(popup.ItemAt(50, 20 + 2 * row + 3), 2);
  EXPECT_EQ(popup.ItemAt(150, 20 + 2 * row), -1);  // outside
  EXPECT_TRUE(popup.Hover(50, 20 + 3 * row));
  EXPECT_EQ(popup.highlighted(), 3);
  EXPECT_FALSE(popup.Hover(50, 20 + 3 * row + 5));
  EXPECT_TRUE(popup.Scroll(3));
  EXPECT_EQ(popup.ItemAt(50, 20 + 1), 3);
  EXPECT_TRUE(popup.Scroll(100));
  EXPECT_EQ(popup.first_row(), 15);  // the last rows fill the list
  EXPECT_FALSE(popup.Scroll(1));
  EXPECT_TRUE(popup.Scroll(-100));
  EXPECT_EQ(popup.first_row(), 0);
  // Keys keep the highlight in view.
  EXPECT_EQ(popup.Key(0x23), Key::Moved);
  EXPECT_EQ(popup.first_row(), 15);
}

TEST(OptionPopup, PaintsBackgroundHighlightAndBorder) {
  const int w = 200, h = 150;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  OptionPopup popup(Items(3, 1), {10, 10, 150, 24}, w, h);
  engine::webkit::PaintOptionPopup(cr, popup);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  auto pixel = [&](int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                  y * cairo_image_surface_get_stride(surface))[x];
  };
  const int row = OptionPopup::kRowHeight;
  EXPECT_EQ(pixel(150, 34 + row / 2), engine::webkit::kPopupBackground);
  EXPECT_EQ(pixel(150, 34 + row + row / 2), engine::webkit::kPopupHighlight);
  EXPECT_EQ(pixel(10, 40), engine::webkit::kPopupBorder);
  EXPECT_EQ(pixel(5, 40), 0xFFFF0000u);               // untouched beside it
  EXPECT_EQ(pixel(150, 34 + 3 * row + 2), 0xFFFF0000u);  // and below it
  bool text = false;  // some dark label pixels in the first row
  for (int x = 16; x < 80 && !text; ++x) {
    for (int y = 34; y < 34 + row && !text; ++y) text = (pixel(x, y) & 0xFF) < 0x80;
  }
  EXPECT_TRUE(text);
  cairo_surface_destroy(surface);
}

}  // namespace
