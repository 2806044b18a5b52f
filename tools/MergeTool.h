// The merge tool without its window: all dropped files give one merged
// picture beside them, each folder (searched recursively) one merged picture
// beside the folder, with a line in the folder's "log.log".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "tools/ToolRun.h"

// The last width and height read from the panel.
extern int32_t g_MergeWidth;
extern int32_t g_MergeHeight;
// The lines of the folder log being written.
extern std::vector<std::wstring> g_MergeLog;

struct MergeRequest {
  SourceEntries sources;
  std::vector<std::wstring> patterns;  // picture patterns for the folders
  bool vertical = false;               // one below the other; else side by side
  // Width (vertical) or height of the first picture; < 0: none. 0 is what
  // the panel reads from a field that holds no number it can take (empty, 0,
  // too long): the run is refused.
  int32_t fixedSize = -1;
  bool grey = false;
};

// End-box notes: a fixed size of 0 (nothing merged), and a fixed size the
// pictures cannot take (the groups that hit it failed, nothing written).
inline constexpr const wchar_t* kMergeSizeInvalidText = L"固定的宽度或高度不合法，什么也没有做！";
inline constexpr const wchar_t* kMergeSizeTooLargeText =
    L"固定的宽度或高度太大，合并后的图片超出大小上限，没有合并！";
// Follows "Merge<folder> Failed!" in the folder log for such a group.
inline constexpr const wchar_t* kMergeSizeTooLargeReason = L" (超出图片大小上限)";

struct MergeOutcome {
  std::vector<std::wstring> outputs;  // every merged picture written
  size_t failed = 0;                  // groups whose merge failed
  size_t groups = 0;                  // groups run
  RunReport report;                   // failures and logs, for the end box
};

// "_Vertical" or "_Horizontal".
std::wstring MergeSuffix(bool vertical);

// The output of a group: `folder` + "/" + `name` + suffix + the first
// picture's extension with its dot.
std::wstring MergeOutputPath(const std::wstring& folder, const std::wstring& name, bool vertical,
                             const std::wstring& firstPicture);

MergeOutcome RunMerge(const MergeRequest& request, CProgressInterface* progress,
                      ToolRunObserver* observer);
