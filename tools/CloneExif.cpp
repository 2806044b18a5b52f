#include "tools/CloneExif.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "platform/batch_runner.h"
#include "platform/files.h"
#include "core/ExifHelpers.h"
#include "tools/PictureOps.h"
#include "tools/StagedPicture.h"

std::vector<std::wstring> g_CloneExifLog;
bool g_CloneExifReplaceOther = false;

namespace {

// A source that names nothing clears the EXIF block: in single mode, and
// in batch mode without a source tree.
bool g_CloneExifClearWithoutSource = false;

namespace fs = std::filesystem;

void SetLine(const uint64_t& index, std::wstring line) {
  if (index < g_CloneExifLog.size()) g_CloneExifLog[index] = std::move(line);
}

int Failed(const std::wstring& source, const uint64_t& index) {
  SetLine(index, L"CloneExif" + source + L" Failed!\n");
  return -1;
}

bool SamePlace(const std::wstring& a, const std::wstring& b) {
  if (a == b) return true;
  const std::string na = WideToNarrow(a), nb = WideToNarrow(b);
  if (na.empty() || nb.empty()) return false;
  std::error_code error;
  return fs::equivalent(na, nb, error) && !error;
}

bool IsFolder(const std::wstring& folder) {
  const std::string narrow = WideToNarrow(folder);
  return !narrow.empty() && pw::FolderExists(narrow);
}

// The folder as the file system resolves it (links, "..", "."), for the
// nesting test; the spelling given when it cannot be resolved.
std::wstring ResolvedFolder(const std::wstring& folder) {
  const std::string narrow = WideToNarrow(folder);
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(narrow, error);
  if (error || resolved.empty()) return TrimTrailingSeparators(folder);
  return TrimTrailingSeparators(NarrowToWide(resolved.string()));
}

}  // namespace

ClonePathCheck CheckClonePair(const std::wstring& source, const std::wstring& receiving) {
  if (receiving.empty()) return ClonePathCheck::kBadOutput;
  if (SamePlace(source, receiving)) return ClonePathCheck::kSameAsInput;
  return ClonePathCheck::kOk;
}

ClonePathCheck CheckCloneFolders(const std::wstring& sourceDir, const std::wstring& receivingDir) {
  if (receivingDir.empty()) return ClonePathCheck::kBadOutput;
  if (!IsFolder(receivingDir)) return ClonePathCheck::kMissingReceiving;
  if (!sourceDir.empty() && !IsFolder(sourceDir)) return ClonePathCheck::kMissingSource;
  if (SamePlace(sourceDir, receivingDir)) return ClonePathCheck::kSameAsInput;
  if (!sourceDir.empty()) {
    const std::wstring s = ResolvedFolder(sourceDir), r = ResolvedFolder(receivingDir);
    if (IsSameOrBelow(s, r) || IsSameOrBelow(r, s)) return ClonePathCheck::kNested;
  }
  return ClonePathCheck::kOk;
}

std::wstring ClonePathCheckText(ClonePathCheck check) {
  switch (check) {
    case ClonePathCheck::kBadOutput: return kCloneBadOutputText;
    case ClonePathCheck::kSameAsInput: return kCloneSameOutputText;
    case ClonePathCheck::kNested: return kCloneNestedText;
    case ClonePathCheck::kMissingSource: return kCloneMissingSourceText;
    case ClonePathCheck::kMissingReceiving: return kCloneMissingReceivingText;
    case ClonePathCheck::kOk: break;
  }
  return std::wstring();
}

std::wstring CloneFoldersCheckText(ClonePathCheck check, const std::wstring& sourceDir,
                                   const std::wstring& receivingDir) {
  if (check == ClonePathCheck::kMissingSource) return kCloneMissingSourceText + sourceDir;
  if (check == ClonePathCheck::kMissingReceiving) return kCloneMissingReceivingText + receivingDir;
  return ClonePathCheckText(check);
}

std::wstring CloneTargetPath(const std::wstring& receiving) {
  // B.JPG is rewritten as itself, as on a file system that ignores case,
  // rather than gaining a B.jpg beside it.
  if (ChangeCase(GetExtension(receiving, true), true) == L".jpg") return receiving;
  return ReplaceExtension(receiving, L".jpg");
}

bool CloneNeedsReplaceConsent(const std::wstring& receiving) {
  const std::wstring target = CloneTargetPath(receiving);
  return target != receiving && FileExists(target);
}

void BuildCloneLists(const std::wstring& sourceDir, const std::wstring& receivingDir,
                     const std::vector<std::wstring>& patterns, std::vector<std::wstring>& sources,
                     std::vector<std::wstring>& receivings, std::vector<std::wstring>* unlisted) {
  const std::wstring receivingRoot = EnsureTrailingSeparator(TrimTrailingSeparators(receivingDir));
  const std::wstring sourceRoot =
      sourceDir.empty() ? std::wstring() : EnsureTrailingSeparator(TrimTrailingSeparators(sourceDir));
  for (const std::wstring& receiving : ListPictures(receivingDir, patterns, unlisted)) {
    // Only the leading tree is exchanged: the same folder name deeper down
    // stays as it is. Without a source tree there is no source.
    std::wstring source;
    if (!sourceRoot.empty() && receiving.compare(0, receivingRoot.size(), receivingRoot) == 0)
      source = sourceRoot + receiving.substr(receivingRoot.size());
    sources.push_back(source);
    receivings.push_back(receiving);
  }
}

bool CloneClearsExif(const std::wstring& source) {
  return source.empty() || !PathExists(source);
}

int CloneExifOne(const std::wstring& source, const std::wstring& receiving, const uint64_t& index) {
  const bool clearing = g_CloneExifClearWithoutSource && CloneClearsExif(source);
  std::unique_ptr<ExifTagSource> tags;
  pw::FileTimes times;
  if (!clearing) {
    // Without a readable JPEG source the receiving picture stays untouched.
    if (source.empty() || !IsJpegFile(source) || !FileExists(source)) return Failed(source, index);
    if (!pw::GetFileTimes(WideToNarrow(source), times)) return Failed(source, index);
    tags = std::make_unique<ExifTagSource>(source);
    // A source whose EXIF block cannot be read has tags, just none to give:
    // the receiving picture keeps its own rather than losing them for none.
    if (!tags->Opened() || tags->Unreadable()) return Failed(source, index);
  } else if (!pw::GetFileTimes(WideToNarrow(receiving), times)) {
    // Cleared, the picture keeps its own times.
    return Failed(source, index);
  }

  const std::wstring target = CloneTargetPath(receiving);
  const bool ownName = target == receiving;
  StagedPicture staged(target);
  if (!staged.Create()) return Failed(source, index);
  // A receiving JPEG keeps its compressed picture byte for byte, and its
  // colour profile and XMP packet: only its EXIF segment is rewritten. A
  // name that says JPEG over other content is converted like any other
  // picture. The source's thumbnail shows another picture: it is dropped.
  const bool keptJpeg = IsJpegFile(receiving) && staged.CopyFrom(receiving) &&
                        CarryJpegMetadata(staged.Path(), tags.get(), false, nullptr);
  if (!keptJpeg) {
    // A picture that decoded only in part never replaces itself.
    if (!ConvertPicture(receiving, staged.Path(), -1, -1, false, ownName))
      return Failed(source, index);
    // A JPEG under another name (".jpeg") brings its own profile along.
    const std::unique_ptr<ExifTagSource> own =
        IsJpegFile(receiving) ? std::make_unique<ExifTagSource>(receiving) : nullptr;
    // A picture of another format was written as it is shown (a TIFF's or
    // PNG's own orientation applied): the Orientation it gets must say so.
    const bool upright = ImageTypeFromPath(receiving) != kFormatJpg;
    if (!CarryJpegMetadata(staged.Path(), tags.get(), false,
                           own && own->Opened() ? own.get() : nullptr, upright))
      return Failed(source, index);
  }
  // Another picture's ".jpg" (a.jpg beside a.png) is never replaced in a
  // batch: the first one there keeps it.
  if (!staged.Commit(ownName || g_CloneExifReplaceOther, ownName ? &times : nullptr))
    return Failed(source, index);
  if (!ownName && !clearing) {
    const std::string narrowReceiving = WideToNarrow(receiving);
    pw::SetFileTimes(narrowReceiving, times.access, times.modification);
  }
  SetLine(index, source + L"->" + target + L"\n");
  return 0;
}

bool RunCloneExifSingle(const std::wstring& source, const std::wstring& receiving,
                        bool replaceOther, bool* cleared) {
  g_CloneExifLog.assign(1, std::wstring());
  pw::IgnoreFileSizeSignal();  // done here, not through the runner
  g_CloneExifReplaceOther = replaceOther;
  g_CloneExifClearWithoutSource = true;
  const int result = CloneExifOne(source, receiving, 0);
  g_CloneExifClearWithoutSource = false;
  g_CloneExifReplaceOther = false;
  if (cleared) *cleared = result == 0 && CloneClearsExif(source);
  return result == 0;
}

CloneBatchOutcome RunCloneExifBatch(const std::wstring& sourceDir,
                                    const std::wstring& receivingDir,
                                    const std::vector<std::wstring>& patterns, int threadCount,
                                    CProgressInterface* progress, BatchRunObserver* observer) {
  CloneBatchOutcome outcome;
  const ClonePathCheck check = CheckCloneFolders(sourceDir, receivingDir);
  if (check != ClonePathCheck::kOk) {
    outcome.report.notes.push_back(CloneFoldersCheckText(check, sourceDir, receivingDir));
    return outcome;
  }
  std::vector<std::wstring> sources, receivings, unlisted;
  BuildCloneLists(sourceDir, receivingDir, patterns, sources, receivings, &unlisted);
  g_CloneExifReplaceOther = false;
  // Without a source tree every receiving picture's EXIF block is cleared;
  // with one, a missing counterpart leaves its picture alone.
  g_CloneExifClearWithoutSource = sourceDir.empty();
  RemoveAbandonedStagedFiles(receivingDir);
  if (progress) progress->BeginProgress();
  if (observer) {
    observer->GroupText(kBusyText);
    observer->GroupStarted(FileGroupBarPosition());
  }
  g_CloneExifLog.assign(sources.size(), std::wstring());
  const int failures = ProcessVector(sources, receivings, CloneExifOne, progress, threadCount);
  g_CloneExifClearWithoutSource = false;
  outcome.failed = failures > 0 ? static_cast<size_t>(failures) : 0;
  outcome.done = sources.size() - std::min(outcome.failed, sources.size());
  if (observer) observer->GroupFinished();
  if (progress) progress->EndProgress();
  // A receiving folder that could not be listed is a failure of the run:
  // its pictures got nothing.
  outcome.failed += AddUnlistedFolders(unlisted, L"CloneExif", g_CloneExifLog, outcome.report);
  const size_t failed = CountFailedLines(g_CloneExifLog, L"CloneExif");
  outcome.report.failed = failed;
  WriteResultLog(receivingDir, g_CloneExifLog, failed, outcome.report);
  return outcome;
}
