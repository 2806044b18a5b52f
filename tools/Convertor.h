// The conversion tool without its window: planning the destinations of a
// group (a folder per target format, or beside the source; a taken name
// gets "_1", "_2" ...), the per-file worker, and a run over the dropped
// files and folders with a "log.log" per folder.
//
// A destination is never written over: each result is written whole into a
// hidden file beside it, with its EXIF tags and times, and then takes its
// name only when nothing has appeared there meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ToolSettings.h"
#include "platform/progress.h"
#include "tools/BatchCommon.h"

// Options the workers read; set by the Start handler before a run.
extern bool g_ConvertKeepModifyTime;
extern bool g_ConvertSetPhotoTime;
extern bool g_ConvertGrayscale;
// The base folder of the current group.
extern std::wstring g_ConvertBaseDir;
// One result line per index of the current group.
extern std::vector<std::wstring> g_ConvertLog;

inline constexpr const wchar_t* kConvertFilesGifText = L"GIF动画处理相对耗时，请稍后...";
inline constexpr const wchar_t* kConvertFolderGifText = L"GIF处理相对耗时，请稍后...";
// The one default pattern list, kept with the settings.
inline constexpr const wchar_t* kConvertDefaultPatterns = kDefaultPicturePatterns;

struct ConvertTargets {
  bool bmp = false;
  bool jpg = true;
  bool png = false;
  bool gif = false;
};

// The target extensions in planning order: bmp, jpg, png, gif.
std::vector<std::wstring> TargetExtensions(const ConvertTargets& targets);

// Plans the pairs of one group with g_ConvertBaseDir as the base folder:
// for each target format, each source once. Beside the source when
// `sameFolder` or the base folder is empty; else under base/FORMAT/ with
// the source's path relative to the base, whose folders are created here.
// Appends to both lists; returns the size of the source list.
size_t BuildConvertLists(const std::vector<std::wstring>& sources, const ConvertTargets& targets,
                         bool sameFolder, std::vector<std::wstring>& outSources,
                         std::vector<std::wstring>& outDestinations);

// The worker: converts `source` into the new file `destination`; 0 or -1,
// and its line in g_ConvertLog[index] when the index is inside the list.
int ConvertOne(const std::wstring& source, const std::wstring& destination, const uint64_t& index);

struct ConvertRequest {
  SourceEntries sources;
  std::vector<std::wstring> patterns;
  ConvertTargets targets;
  bool sameFolder = false;  // INDEX 1
  int threadCount = 4;      // THREAD_NUM
};

struct ConvertOutcome {
  size_t groups = 0;
  size_t done = 0;
  size_t failed = 0;
  RunReport report;  // failures and logs, for the end box
};

// Runs the group of files (base folder: their common parent; no log), then
// each folder still there (its "log.log" afterwards).
ConvertOutcome RunConvert(const ConvertRequest& request, CProgressInterface* progress,
                          BatchRunObserver* observer);
