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
  int32_t fixedSize = -1;  // width (vertical) or height of the first picture; <= 0: none
  bool grey = false;
};

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
