#include "tools/Convertor.h"

#include <algorithm>

#include "core/ExifHelpers.h"
#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "platform/batch_runner.h"
#include "platform/files.h"
#include "tools/PictureOps.h"
#include "tools/StagedPicture.h"

bool g_ConvertKeepModifyTime = false;
bool g_ConvertSetPhotoTime = false;
bool g_ConvertGrayscale = false;
std::wstring g_ConvertBaseDir;
std::vector<std::wstring> g_ConvertLog;

namespace {

// The sources of the group being converted, in the order of g_ConvertLog.
std::vector<std::wstring> g_ConvertSources;

void SetLine(const uint64_t& index, std::wstring line) {
  if (index < g_ConvertLog.size()) g_ConvertLog[index] = std::move(line);
}

int Failed(const std::wstring& source, const uint64_t& index) {
  SetLine(index, L"Convert" + source + L" Failed!\n");
  return -1;
}

// The source's path below the base folder.
std::wstring RelativeToBase(const std::wstring& path, const std::wstring& base) {
  const std::wstring prefix = EnsureTrailingSeparator(TrimTrailingSeparators(base));
  if (prefix.size() > 1 && path.compare(0, prefix.size(), prefix) == 0)
    return path.substr(prefix.size());
  if (prefix == L"/" && !path.empty() && path[0] == L'/') return path.substr(1);
  return GetFileName(path, true);
}

}  // namespace

std::vector<std::wstring> TargetExtensions(const ConvertTargets& targets) {
  std::vector<std::wstring> extensions;
  if (targets.bmp) extensions.push_back(L"bmp");
  if (targets.jpg) extensions.push_back(L"jpg");
  if (targets.png) extensions.push_back(L"png");
  if (targets.gif) extensions.push_back(L"gif");
  return extensions;
}

size_t BuildConvertLists(const std::vector<std::wstring>& sources, const ConvertTargets& targets,
                         bool sameFolder, std::vector<std::wstring>& outSources,
                         std::vector<std::wstring>& outDestinations) {
  const bool beside = sameFolder || g_ConvertBaseDir.empty();
  for (const std::wstring& extension : TargetExtensions(targets)) {
    const std::wstring dotted = L"." + extension;
    const std::wstring formatFolder = ChangeCase(extension, false);
    for (const std::wstring& source : WithoutStagedFiles(sources)) {
      std::wstring first;
      if (beside) {
        first = ReplaceExtension(source, dotted);
      } else {
        first = ReplaceExtension(EnsureTrailingSeparator(g_ConvertBaseDir) + formatFolder +
                                     kPathSep + RelativeToBase(source, g_ConvertBaseDir),
                                 dotted);
        CreateDirectoryTree(GetParentDir(first));
      }
      const std::wstring folder = EnsureTrailingSeparator(GetParentDir(first));
      const std::wstring stem = GetFileName(source, false);
      std::wstring destination = first;
      for (uint64_t k = 1;
           std::find(outDestinations.begin(), outDestinations.end(), destination) !=
               outDestinations.end() ||
           FileExists(destination);
           ++k)
        destination = folder + stem + L"_" + std::to_wstring(k) + dotted;
      outSources.push_back(source);
      outDestinations.push_back(destination);
    }
  }
  return outSources.size();
}

int ConvertOne(const std::wstring& source, const std::wstring& destination, const uint64_t& index) {
  pw::FileTimes times;
  const std::string narrowSource = WideToNarrow(source);
  if (g_ConvertKeepModifyTime && (narrowSource.empty() || !pw::GetFileTimes(narrowSource, times)))
    return Failed(source, index);

  StagedPicture staged(destination);
  if (!staged.Create()) return Failed(source, index);
  bool damaged = false;
  if (!ConvertPicture(source, staged.Path(), -1, -1, g_ConvertGrayscale, false, 1, &damaged))
    return Failed(source, index);
  // A JPEG made from a JPEG shows the same picture, not turned: its tags,
  // thumbnail (unless it lost its colours), colour profile and XMP packet
  // go along.
  // Tags that cannot be carried fail the picture: the file time must never
  // stand in for a real shooting time that was lost.
  bool tagsCopied = false;
  if (IsJpegFile(source) && IsJpegFile(destination)) {
    const ExifTagSource tags(source);
    if (tags.Unreadable()) return Failed(source, index);
    tagsCopied = tags.Opened() &&
                 CarryJpegMetadata(staged.Path(), &tags, !g_ConvertGrayscale, &tags);
    if (tags.Opened() && !tagsCopied) return Failed(source, index);
  }
  // A TIFF or PNG that states its shooting time gives that time; the file's
  // time stands in only where the source states none.
  std::wstring stated;
  if (!tagsCopied && IsJpegFile(destination) && ReadStatedShootingTime(source, stated)) {
    if (!WriteShootingTimeText(staged.Path(), WideToNarrow(stated))) return Failed(source, index);
  } else if (!tagsCopied && g_ConvertSetPhotoTime) {
    WriteShootingTime(source, staged.Path());
  }
  // A PNG made from a PNG is not turned: its eXIf chunk (orientation,
  // times, artist) goes along as it is.
  if (!CarryPngExif(source, destination, staged.Path(), 0, 0)) return Failed(source, index);
  // A name taken since the planning is never written over.
  if (!staged.Commit(false, g_ConvertKeepModifyTime ? &times : nullptr))
    return Failed(source, index);
  SetLine(index, DoneLine(source, destination, damaged));
  return 0;
}

namespace {

void RunConvertGroup(const std::vector<std::wstring>& pictures, bool filesGroup,
                     int barPosition, const ConvertRequest& request, CProgressInterface* progress,
                     BatchRunObserver* observer, ConvertOutcome& outcome) {
  const std::wstring gifText = filesGroup ? kConvertFilesGifText : kConvertFolderGifText;
  std::vector<std::wstring> sources, destinations;
  BuildConvertLists(pictures, request.targets, request.sameFolder, sources, destinations);
  ++outcome.groups;
  if (progress) progress->BeginProgress();
  if (observer) {
    observer->GroupText(HasGifFile(pictures) ? gifText : kBusyText);
    observer->GroupStarted(barPosition);
  }
  g_ConvertLog.assign(sources.size(), std::wstring());
  g_ConvertSources = sources;
  const int failures = ProcessVector(sources, destinations, ConvertOne, progress, request.threadCount);
  const size_t failed = failures > 0 ? static_cast<size_t>(failures) : 0;
  outcome.failed += failed;
  outcome.done += sources.size() - std::min(failed, sources.size());
  if (observer) observer->GroupFinished();
  // The group of files ends with the bar full, before the folders start.
  if (observer && filesGroup) observer->BarAt(100);
  if (progress) progress->EndProgress();
}

}  // namespace

ConvertOutcome RunConvert(const ConvertRequest& request, CProgressInterface* progress,
                          BatchRunObserver* observer) {
  ConvertOutcome outcome;
  const SourceEntries& entries = request.sources;
  if (TargetExtensions(request.targets).empty()) {
    // Without a target format there is nothing to write, not even a log.
    outcome.report.missingPaths = entries.missing;
    outcome.report.notes.push_back(kNoTargetFormatText);
    return outcome;
  }
  if (!entries.files.empty()) {
    g_ConvertBaseDir = GetCommonParentDir(entries.files);
    RemoveAbandonedStagedFilesBeside(entries.files);
    RunConvertGroup(entries.files, true, FileGroupBarPosition(), request, progress,
                    observer, outcome);
    // The dropped files get no log: the box names the failed ones.
    const std::vector<std::wstring> failed = FailedSources(g_ConvertLog, g_ConvertSources, L"Convert");
    outcome.report.failed += failed.size();
    outcome.report.unloggedFailures.insert(outcome.report.unloggedFailures.end(), failed.begin(),
                                           failed.end());
    AddDamagedSources(g_ConvertLog, g_ConvertSources, outcome.report.damagedSources);
  }
  for (size_t i = 0; i < entries.folders.size(); ++i) {
    const std::wstring& folder = entries.folders[i];
    g_ConvertBaseDir = folder;
    const std::string narrow = WideToNarrow(folder);
    if (narrow.empty() || !pw::FolderExists(narrow)) continue;  // gone since Start
    g_ConvertLog.clear();
    RemoveAbandonedStagedFiles(folder);
    std::vector<std::wstring> unlisted;
    RunConvertGroup(ListPictures(folder, request.patterns, &unlisted), false,
                    FolderBarPosition(i, entries.entryCount), request, progress, observer,
                    outcome);
    AddUnlistedFolders(unlisted, L"Convert", g_ConvertLog, outcome.report);
    const size_t failed = CountFailedLines(g_ConvertLog, L"Convert");
    outcome.report.failed += failed;
    AddDamagedSources(g_ConvertLog, g_ConvertSources, outcome.report.damagedSources);
    WriteResultLog(folder, g_ConvertLog, failed, outcome.report);
  }
  ReportSources(entries, outcome.done + outcome.failed, outcome.report);
  return outcome;
}
