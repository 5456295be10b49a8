// The layout of a scaled view on whole window scales.
#include <gtest/gtest.h>

#include "engine/webkit/view_scale.h"

namespace {

TEST(ViewScaleLayout, WholeScalesAreTheWindowsAndFractionsZoom) {
  const struct {
    int width, height;
    double scale;
    int window_scale, widget_width, widget_height;
    double fraction;
  } cases[] = {
      {320, 180, 1.0, 1, 320, 180, 1.0},
      {320, 180, 2.0, 2, 320, 180, 1.0},
      {320, 180, 3.0, 3, 320, 180, 1.0},
      {400, 200, 1.5, 2, 300, 150, 0.75},   // 600 x 300 physical pixels
      {400, 200, 1.25, 2, 250, 125, 0.625}, // 500 x 250
      {401, 201, 1.75, 2, 351, 176, 0.875}, // rounded: 702 x 352
      {320, 180, 0.5, 1, 160, 90, 0.5},
      {320, 180, 2.0000001, 2, 320, 180, 1.0},  // float noise is not the next scale
      {320, 180, 0.0, 1, 320, 180, 1.0},        // nonsense is scale 1
      {1, 1, 1.5, 2, 1, 1, 0.75},               // never an empty widget
  };
  for (const auto& c : cases) {
    const auto v = engine::webkit::LayOutView(c.width, c.height, c.scale);
    EXPECT_EQ(v.window_scale, c.window_scale) << c.width << "x" << c.height << "@" << c.scale;
    EXPECT_EQ(v.widget_width, c.widget_width) << c.width << "@" << c.scale;
    EXPECT_EQ(v.widget_height, c.widget_height) << c.height << "@" << c.scale;
    EXPECT_NEAR(v.fraction, c.fraction, 1e-6) << c.scale;
  }
}

TEST(ViewScaleLayout, AWindowOfAnotherScaleZoomsThePage) {
  // Scale 2 on a window of scale 1: a widget of the physical size, zoomed 2.
  auto v = engine::webkit::LayOutView(320, 180, 2.0, 1);
  EXPECT_EQ(v.window_scale, 1);
  EXPECT_EQ(v.widget_width, 640);
  EXPECT_EQ(v.widget_height, 360);
  EXPECT_DOUBLE_EQ(v.fraction, 2.0);
  // Scale 1 on a window of scale 2: half the widget, zoomed a half.
  v = engine::webkit::LayOutView(320, 180, 1.0, 2);
  EXPECT_EQ(v.widget_width, 160);
  EXPECT_DOUBLE_EQ(v.fraction, 0.5);
}

}  // namespace
