#include "view_scale.h"

#include <algorithm>
#include <cmath>

namespace engine::webkit {

ViewScale LayOutView(int width, int height, double scale, int window_scale) {
  ViewScale v;
  if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0;
  // A scale a hair above a whole number (float rounding) is that number.
  v.window_scale = window_scale > 0 ? window_scale : std::max(1, static_cast<int>(std::ceil(scale - 1e-4)));
  v.fraction = scale / v.window_scale;
  v.widget_width = std::max(1, static_cast<int>(std::lround(width * v.fraction)));
  v.widget_height = std::max(1, static_cast<int>(std::lround(height * v.fraction)));
  return v;
}

}  // namespace engine::webkit
