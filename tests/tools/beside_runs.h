// One picture through the conversion or the resizing tool, its result
// written beside it: what the metadata tests carry a picture through.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/Convertor.h"
#include "tools/ResizePictures.h"

namespace tooltest {

// Converts `path` beside itself into the one format asked for; the
// result's path ("x.jpg" from a JPEG becomes "x_1.jpg").
inline std::string ConvertedBeside(const std::string& path, const char* format, bool expectDone = true) {
  ConvertRequest convert;
  convert.sources = SplitSources(W(path));
  convert.sameFolder = true;
  convert.targets = ConvertTargets{};
  convert.targets.jpg = std::string(format) == "jpg";
  convert.targets.png = std::string(format) == "png";
  convert.targets.bmp = std::string(format) == "bmp";
  const ConvertOutcome outcome = RunConvert(convert, nullptr, nullptr);
  EXPECT_EQ(outcome.done, expectDone ? 1u : 0u) << path;
  const std::string stem = path.substr(0, path.rfind('.'));
  const std::string same = stem + "." + format;
  return same == path ? stem + "_1." + format : same;
}

// Resizes `path` beside itself to a fixed width (in grey if asked); the
// result's path.
inline std::string ResizedBeside(const std::string& path, int width, bool grey = false) {
  SetResizeRule(true, false, false, width, width);
  g_ResizeGrayscale = grey;
  ResizeRequest resize;
  resize.sources = SplitSources(W(path));
  const ResizeOutcome outcome = RunResize(resize, nullptr, nullptr);
  g_ResizeGrayscale = false;
  EXPECT_EQ(outcome.done, 1u) << path;
  return N(ResizeDestination(W(path), false));
}

}  // namespace tooltest
