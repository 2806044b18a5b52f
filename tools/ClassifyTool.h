// The picture sorting tool without its window: moves the files of chosen
// folders into sub-folders by shooting month, by resolution or by the month
// of the last modification, records every move in the folder's move log, and
// moves them back from that log on restore.
//
// The tool moves people's files, so nothing may be lost or overwritten:
// every move refuses to replace an existing file, a move is logged before it
// is made (a file whose path the log cannot hold is not moved), and a
// restore removes the log only when every file is back in its place.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "tools/ToolRun.h"

// The folder being sorted; set before each group, read by the workers.
extern std::wstring g_ClassifyBaseDir;
// Guards the choice of a target name, the move, the log line and the map.
extern std::mutex g_ClassifyMutex;
// Old path -> new path of every file moved in the current group.
extern std::map<std::wstring, std::wstring> g_MovedFiles;

// Called between the steps of a sort or restore that a stopped run could be
// left between (a log line written, a file moved, a log rewritten); null in
// the program. Tests stop the process there.
extern void (*g_ClassifyStepHook)();

// Sorting workers (the batch runner's per-file callback). Each gets the same
// path as source and destination and returns 0, or -1 when the file stays
// where it is (no sub-folder name, a folder that cannot be made, a move that
// fails). A file already at its target place stays there and counts as done.
int ClassifyByShootingTime(const std::wstring& source, const std::wstring& destination,
                           const uint64_t& index);
int ClassifyByResolution(const std::wstring& source, const std::wstring& destination,
                         const uint64_t& index);
int ClassifyByModifyTime(const std::wstring& source, const std::wstring& destination,
                         const uint64_t& index);
// Restore worker: moves `source` (the new path) back to `destination` (the
// old path) without replacing anything; records the outcome of `index`.
int RestoreMovedFile(const std::wstring& source, const std::wstring& destination,
                     const uint64_t& index);

// The sub-folder names, exposed for the tests: "YYYYMM" or empty.
std::wstring ShootingMonthFolder(const std::wstring& path);
// "width_height" after the EXIF orientation fix-up, or empty.
std::wstring ResolutionFolder(const std::wstring& path);

enum class ClassifyMode { kPicture, kCustom, kRestore };

struct ClassifyRequest {
  ClassifyMode mode = ClassifyMode::kPicture;
  int method = 0;                      // picture mode: 0 shooting time, 1 resolution
  std::vector<std::wstring> patterns;  // picture or custom patterns
  SourceEntries sources;
};

struct ClassifyOutcome {
  std::wstring lastBaseDir;  // the run-log path: the last group's base folder
  size_t moved = 0;          // files moved (sorting) or moved back (restore)
  size_t failed = 0;         // files that stayed where they were
  size_t groups = 0;         // groups run
  // For the end box: the files that stayed (the move log lists moves
  // only), move logs kept with lines restore could not do, logs that could
  // not be written.
  RunReport report;
};

// The picture-mode patterns for the four check boxes, in the tool's order.
std::vector<std::wstring> PicturePatterns(bool bmp, bool jpg, bool png, bool gif);

// Runs every group of the request (the dropped files first, then each folder
// in order) through the batch runner with one thread.
ClassifyOutcome RunClassify(const ClassifyRequest& request, CProgressInterface* progress,
                            ToolRunObserver* observer);
