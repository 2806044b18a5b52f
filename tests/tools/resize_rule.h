// Sets the resizing tool's size rule as the Start handler does, for the
// tests that run the tool without its panel.
#pragma once

#include <cstdint>

#include "tools/ResizePictures.h"

namespace tooltest {

inline void SetResizeRule(bool fixedWidth, bool keepRatio, bool fixedHeight, int32_t width,
                          int32_t height, bool ignoreMin = false) {
  g_ResizeFixedWidth = fixedWidth;
  g_ResizeKeepRatio = keepRatio;
  g_ResizeFixedHeight = fixedHeight;
  g_ResizeWidth = width;
  g_ResizeHeight = height;
  g_ResizeIgnoreMin = ignoreMin;
  g_ResizeGrayscale = false;
}

}  // namespace tooltest
