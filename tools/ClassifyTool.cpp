#include "tools/ClassifyTool.h"


#include <algorithm>
#include <cerrno>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "imagelib/PxImage.h"
#include "platform/batch_runner.h"
#include "platform/files.h"
#include "tools/MoveLog.h"
#include "tools/PictureOps.h"
#include "tools/StagedPicture.h"

std::wstring g_ClassifyBaseDir;
std::mutex g_ClassifyMutex;
std::map<std::wstring, std::wstring> g_MovedFiles;
void (*g_ClassifyStepHook)() = nullptr;

namespace {

void Step() {
  if (g_ClassifyStepHook) g_ClassifyStepHook();
}

// The move log of the group being sorted; workers append under the mutex.
MoveLogWriter g_MoveLog;
// Outcome of each restore index of the group being restored: 0 failed,
// else one of these.
std::vector<uint8_t> g_RestoreDone;
constexpr uint8_t kMovedBack = 1;
constexpr uint8_t kAlreadyBack = 2;
// 1 for each index of the group being sorted whose file stayed put.
std::vector<uint8_t> g_SortFailed;

// How many numbered names ("a1.jpg", "a2.jpg", ...) a move tries before it
// gives up on a file.
constexpr int kMaxNameCounter = 100000;

bool IsMonthText(const std::wstring& text) {
  if (text.size() != 6) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  const int month = (text[4] - L'0') * 10 + (text[5] - L'0');
  return month >= 1 && month <= 12;
}

bool EnsureFolder(const std::wstring& folder) {
  const std::string narrow = WideToNarrow(folder);
  if (narrow.empty()) return false;
  return pw::FolderExists(narrow) || CreateDirectoryTree(folder);
}

bool Exists(const std::wstring& path) { return pw::NameTaken(WideToNarrow(path)); }

// Moves `path` into the sub-folder `sub` of the base folder under the first
// free name. The log line goes first: a run killed between the line and the
// move leaves a line that restore takes as already undone, while a move
// without its line could never be undone.
int MoveIntoSubFolder(const std::wstring& path, const std::wstring& sub) {
  if (sub.empty()) return -1;
  const std::wstring base = EnsureTrailingSeparator(g_ClassifyBaseDir);
  const std::wstring folder = base + sub;
  const std::string from = WideToNarrow(path);
  if (from.empty()) return -1;
  const std::wstring stem = GetFileName(path, false);
  const std::wstring extension = GetExtension(path, true);
  const std::wstring first = EnsureTrailingSeparator(folder) + GetFileName(path, true);

  std::lock_guard<std::mutex> lock(g_ClassifyMutex);
  if (first == path) return 0;  // already where it belongs: sorting twice moves nothing
  for (int k = 0; k < kMaxNameCounter; ++k) {
    const std::wstring target =
        k == 0 ? first : EnsureTrailingSeparator(folder) + stem + ToWideString(k) + extension;
    const std::string to = WideToNarrow(target);
    if (to.empty()) return -1;
    if (Exists(target)) continue;  // taken: try the next number
    // A name the log cannot hold unambiguously ("->" or a line break in
    // it) would be moved for good: such a file stays where it is.
    if (!g_MoveLog.Append(path, target)) return -1;
    Step();
    if (!EnsureFolder(folder)) {
      g_MoveLog.Retract();
      return -1;
    }
    Step();
    const int rc = pw::MoveFileNoReplace(from, to);
    if (rc != 0) g_MoveLog.Retract();
    if (rc == EEXIST || rc == ENOTEMPTY) continue;  // taken meanwhile
    if (rc != 0) return -1;
    g_MovedFiles.emplace(path, target);
    Step();
    return 0;
  }
  return -1;
}

// The tool's own log and the working files of other runs are never sorted.
bool IsToolFile(const std::wstring& path) {
  return GetFileName(path, true) == kMoveLogName || IsStagedName(path);
}

void RunSortGroup(const std::wstring& base, std::vector<std::wstring> files,
                  BatchFileCallback worker, int barPosition, CProgressInterface* progress,
                  ToolRunObserver* observer, ClassifyOutcome& outcome) {
  g_ClassifyBaseDir = base;
  g_MovedFiles.clear();
  files.erase(std::remove_if(files.begin(), files.end(), IsToolFile), files.end());
  if (!EnsureFolder(base) || !g_MoveLog.Open(MoveLogPath(base))) {
    // Nothing can be recorded (or "log.log" is someone else's file), so
    // nothing moves.
    outcome.failed += files.size();
    outcome.report.unloggedFailures.insert(outcome.report.unloggedFailures.end(), files.begin(),
                                           files.end());
    outcome.report.unwrittenLogs.push_back(MoveLogPath(base));
    return;
  }
  g_SortFailed.assign(files.size(), 0);
  ++outcome.groups;
  if (progress) progress->BeginProgress();
  if (observer) observer->GroupStarted(barPosition);
  const int failures = ProcessVector(files, files, worker, progress, 1);
  if (observer) observer->GroupFinished();
  if (progress) progress->EndProgress();
  g_MoveLog.Close();
  outcome.moved += g_MovedFiles.size();
  if (failures > 0) outcome.failed += static_cast<size_t>(failures);
  for (size_t i = 0; i < files.size(); ++i)
    if (g_SortFailed[i]) outcome.report.unloggedFailures.push_back(files[i]);
  g_SortFailed.clear();
}

void RunRestoreGroup(const std::wstring& folder, int barPosition, CProgressInterface* progress,
                     ToolRunObserver* observer, ClassifyOutcome& outcome) {
  const std::wstring logPath = MoveLogPath(folder);
  if (!FileExists(logPath)) return;  // a folder without a log is passed over
  std::vector<std::wstring> lines;
  bool complete = true;
  ReadLines(logPath, lines, &complete);
  if (!complete) {
    // A log read only in part would be rewritten with only that part: the
    // moves it did not give back would be lost for good. Leave it whole.
    ++outcome.failed;
    outcome.report.failureLogs.push_back(logPath);
    return;
  }
  // Another tool's result log, or the user's own file: not ours to act on.
  if (!IsMoveLogText(lines)) return;

  // Undo the moves last first, so a file moved twice comes back through the
  // same steps. A line that does not name two places inside this folder is
  // kept and counts as failed.
  FileList newPaths, oldPaths;
  std::vector<size_t> lineOf;
  std::vector<bool> keep(lines.size(), false);
  g_MovedFiles.clear();
  for (size_t i = lines.size(); i-- > 1;) {
    if (TrimSpaces(lines[i], L' ').empty()) continue;
    MoveLogEntry entry;
    if (!ParseMoveLine(lines[i], folder, entry)) {
      keep[i] = true;
      ++outcome.failed;
      continue;
    }
    newPaths.push_back(entry.newPath);
    oldPaths.push_back(entry.oldPath);
    lineOf.push_back(i);
    g_MovedFiles.emplace(entry.newPath, entry.oldPath);
  }
  g_RestoreDone.assign(newPaths.size(), 0);

  ++outcome.groups;
  if (progress) progress->BeginProgress();
  if (observer) observer->GroupStarted(barPosition);
  ProcessVector(newPaths, oldPaths, RestoreMovedFile, progress, 1);
  if (observer) observer->GroupFinished();
  if (progress) progress->EndProgress();

  // Lines that could not be restored stay in the log; it goes only when
  // every file came back.
  std::vector<std::wstring> emptied;
  for (size_t k = 0; k < newPaths.size(); ++k) {
    if (!g_RestoreDone[k]) {
      ++outcome.failed;
      keep[lineOf[k]] = true;
      continue;
    }
    if (g_RestoreDone[k] == kMovedBack) ++outcome.moved;
    emptied.push_back(GetParentDir(newPaths[k]));
  }
  Step();
  std::vector<std::wstring> remaining;
  for (size_t i = 1; i < lines.size(); ++i)
    if (keep[i]) remaining.push_back(lines[i] + L"\n");
  if (remaining.empty()) {
    pw::RemoveFile(WideToNarrow(logPath));
  } else {
    remaining.insert(remaining.begin(), std::wstring(kMoveLogHeader) + L"\n");
    if (WriteLines(logPath, remaining) != 0) outcome.report.unwrittenLogs.push_back(logPath);
    outcome.report.failureLogs.push_back(logPath);
  }

  // The sub-folders the sort made go again once they are empty (rmdir
  // refuses any folder that still holds something).
  std::sort(emptied.begin(), emptied.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  emptied.erase(std::unique(emptied.begin(), emptied.end()), emptied.end());
  const std::wstring base = TrimTrailingSeparators(folder);
  for (const std::wstring& dir : emptied)
    if (dir != base && IsSameOrBelow(dir, base)) pw::RemoveEmptyFolder(WideToNarrow(dir));
}

bool KeepsDroppedFile(const std::wstring& file, const std::vector<std::wstring>& patterns,
                      ClassifyMode mode) {
  if (mode == ClassifyMode::kCustom && IndexOfString(patterns, L"*.*") >= 0) return true;
  const std::wstring wanted = L"*" + ChangeCase(GetExtension(file, true), true);
  return IndexOfString(patterns, wanted) >= 0;
}

}  // namespace

std::wstring ShootingMonthFolder(const std::wstring& path) {
  std::wstring text;
  if (ReadShootingTime(path, text)) {
    const std::wstring month = ReplaceAll(text.substr(0, 7), L":", L"");
    if (IsMonthText(month)) return month;
  }
  const std::wstring month = GetModifyMonth(path);
  return IsMonthText(month) ? month : std::wstring();
}

std::wstring ResolutionFolder(const std::wstring& path) {
  PxImage image;
  uint32_t width = 0, height = 0;
  if (ImageTypeFromPath(path) == kFormatJpg && ReadJpegHeader(path, image)) {
    // The size as the picture stands upright, without decoding it.
    const bool turned = StoredOnItsSide(image.info.exif.orientation);
    width = turned ? image.Height() : image.Width();
    height = turned ? image.Width() : image.Height();
  } else {
    if (!image.LoadFile(path, ImageTypeFromPath(path)) || !image.HasPixels()) return std::wstring();
    ApplyExifOrientation(image);
    width = image.Width();
    height = image.Height();
  }
  return UnsignedToWideString(width) + L"_" + UnsignedToWideString(height);
}

namespace {

int NoteSorted(const uint64_t& index, int result) {
  if (result != 0 && index < g_SortFailed.size()) g_SortFailed[index] = 1;
  return result;
}

}  // namespace

int ClassifyByShootingTime(const std::wstring& source, const std::wstring&, const uint64_t& index) {
  return NoteSorted(index, MoveIntoSubFolder(source, ShootingMonthFolder(source)));
}

int ClassifyByResolution(const std::wstring& source, const std::wstring&, const uint64_t& index) {
  return NoteSorted(index, MoveIntoSubFolder(source, ResolutionFolder(source)));
}

int ClassifyByModifyTime(const std::wstring& source, const std::wstring&, const uint64_t& index) {
  const std::wstring month = GetModifyMonth(source);
  return NoteSorted(index, MoveIntoSubFolder(source, IsMonthText(month) ? month : std::wstring()));
}

int RestoreMovedFile(const std::wstring& source, const std::wstring& destination,
                     const uint64_t& index) {
  uint8_t done = 0;
  if (source == destination) {
    done = kAlreadyBack;
  } else if (!Exists(source) && Exists(destination)) {
    // Undone by an earlier restore that was stopped, or never moved by a
    // sort that was stopped right after writing the line.
    done = kAlreadyBack;
  } else if (Exists(source) && EnsureFolder(GetParentDir(destination))) {
    const std::string from = WideToNarrow(source), to = WideToNarrow(destination);
    if (!from.empty() && !to.empty() && pw::MoveFileNoReplace(from, to) == 0) done = kMovedBack;
    Step();
  }
  if (index < g_RestoreDone.size()) g_RestoreDone[index] = done;
  return done ? 0 : -1;
}

std::vector<std::wstring> PicturePatterns(bool bmp, bool jpg, bool png, bool gif) {
  std::vector<std::wstring> patterns;
  if (bmp) patterns.push_back(L"*.bmp");
  if (jpg) {
    patterns.push_back(L"*.jpg");
    patterns.push_back(L"*.jpeg");
  }
  if (png) patterns.push_back(L"*.png");
  if (gif) patterns.push_back(L"*.gif");
  return patterns;
}

ClassifyOutcome RunClassify(const ClassifyRequest& request, CProgressInterface* progress,
                            ToolRunObserver* observer) {
  ClassifyOutcome outcome;
  // The base of an earlier run is not this run's: the run log names only
  // folders this run worked in.
  g_ClassifyBaseDir.clear();
  BatchFileCallback worker = nullptr;
  if (request.mode == ClassifyMode::kPicture)
    worker = request.method == 0   ? ClassifyByShootingTime
             : request.method == 1 ? ClassifyByResolution
                                   : nullptr;
  else if (request.mode == ClassifyMode::kCustom)
    worker = ClassifyByModifyTime;

  const SourceEntries& sources = request.sources;
  if (request.mode != ClassifyMode::kRestore && !sources.files.empty()) {
    std::vector<std::wstring> kept;
    for (const std::wstring& file : sources.files)
      if (KeepsDroppedFile(file, request.patterns, request.mode)) kept.push_back(file);
    if (!kept.empty()) {
      RemoveAbandonedStagedFilesBeside(kept);
      const std::wstring base = GetCommonParentDir(kept);
      if (worker)
        RunSortGroup(base, kept, worker, FileGroupBarPosition(), progress, observer, outcome);
      else
        g_ClassifyBaseDir = base;
    }
  }

  for (size_t i = 0; i < sources.folders.size(); ++i) {
    const std::wstring& folder = sources.folders[i];
    g_ClassifyBaseDir = folder;
    g_MovedFiles.clear();
    const std::string narrow = WideToNarrow(folder);
    if (narrow.empty() || !pw::FolderExists(narrow)) continue;  // gone since Start
    const int bar = FolderBarPosition(i, sources.entryCount);
    RemoveAbandonedStagedFiles(folder);
    if (request.mode == ClassifyMode::kRestore) {
      RunRestoreGroup(folder, bar, progress, observer, outcome);
      continue;
    }
    if (!worker) continue;
    std::vector<std::wstring> files, unlisted;
    if (request.mode == ClassifyMode::kPicture) {
      CollectFiles(folder, files, request.patterns, true, &unlisted);
    } else {
      for (const std::wstring& pattern : request.patterns) {
        const std::string narrowPattern = WideToNarrow(pattern);
        if (!narrowPattern.empty()) FindFiles(folder, files, narrowPattern, true, &unlisted);
      }
    }
    // The move log holds moves only (restore reads it): a folder that could
    // not be listed is told in the end box, which then tells a failed run.
    for (const std::wstring& path : unlisted)
      if (std::find(outcome.report.unlistedFolders.begin(), outcome.report.unlistedFolders.end(), path) ==
          outcome.report.unlistedFolders.end())
        outcome.report.unlistedFolders.push_back(path);
    RunSortGroup(folder, files, worker, bar, progress, observer, outcome);
  }
  outcome.lastBaseDir = g_ClassifyBaseDir;
  // With no group run the run log still names what was asked for.
  if (outcome.lastBaseDir.empty() && !sources.missing.empty())
    outcome.lastBaseDir = sources.missing.back();
  outcome.report.failed = outcome.failed;
  if (request.mode == ClassifyMode::kRestore && outcome.moved == 0) {
    outcome.report.missingPaths = sources.missing;
    outcome.report.notes.push_back(kNothingRestoredText);
  } else {
    ReportSources(sources, outcome.moved + outcome.failed, outcome.report);
  }
  return outcome;
}
