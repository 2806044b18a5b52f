#include "tools/MergeTool.h"

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "platform/batch_runner.h"
#include "platform/files.h"
#include "tools/BatchCommon.h"
#include "tools/PictureOps.h"
#include "tools/StagedPicture.h"

int32_t g_MergeWidth = 0;
int32_t g_MergeHeight = 0;
std::vector<std::wstring> g_MergeLog;

namespace {

// The group being merged, for the worker (which has no context argument).
struct MergeJob {
  std::vector<std::wstring> pictures;
  const MergeRequest* request = nullptr;
  CProgressInterface* progress = nullptr;
  bool tooLarge = false;  // set by the worker: the size asked could not be made
};
MergeJob g_MergeJob;

// The merged picture is written whole beside its output name and takes that
// name only when nothing is there: an earlier merge, or one of the very
// pictures being merged, is never written over.
int MergeWorker(const std::wstring&, const std::wstring& output, const uint64_t&) {
  const MergeRequest& request = *g_MergeJob.request;
  StagedPicture staged(output);
  if (!staged.Create()) return -1;
  const bool merged = MergePictures(g_MergeJob.pictures, staged.Path(), request.vertical,
                                    request.fixedSize, request.grey, g_MergeJob.progress,
                                    &g_MergeJob.tooLarge);
  // A picture that did not load fails the group, but the others were merged
  // and are kept.
  const bool committed = staged.Commit(false, nullptr);
  return merged && committed ? 0 : -1;
}

// One group is one job of the batch runner, so the window keeps painting
// while a large merge runs.
bool MergeGroup(const std::vector<std::wstring>& pictures, const std::wstring& output,
                const MergeRequest& request, int barPosition, CProgressInterface* progress,
                ToolRunObserver* observer, MergeOutcome& outcome, bool& tooLarge) {
  ++outcome.groups;
  if (progress) progress->BeginProgress();
  if (observer) observer->GroupStarted(barPosition);
  g_MergeJob = MergeJob{pictures, &request, progress};
  const FileList sources = {pictures.front()}, outputs = {output};
  const bool ok = ProcessVector(sources, outputs, MergeWorker, nullptr, 1) == 0;
  tooLarge = !ok && g_MergeJob.tooLarge;
  g_MergeJob = MergeJob{};
  if (observer) observer->GroupFinished();
  if (progress) progress->EndProgress();
  if (ok)
    outcome.outputs.push_back(output);
  else
    ++outcome.failed;
  return ok;
}

}  // namespace

std::wstring MergeSuffix(bool vertical) { return vertical ? L"_Vertical" : L"_Horizontal"; }

std::wstring MergeOutputPath(const std::wstring& folder, const std::wstring& name, bool vertical,
                             const std::wstring& firstPicture) {
  return EnsureTrailingSeparator(folder) + name + MergeSuffix(vertical) +
         GetExtension(firstPicture, true);
}

MergeOutcome RunMerge(const MergeRequest& request, CProgressInterface* progress,
                      ToolRunObserver* observer) {
  MergeOutcome outcome;
  const SourceEntries& sources = request.sources;
  if (request.fixedSize == 0) {
    outcome.report.missingPaths = sources.missing;
    outcome.report.notes.push_back(kMergeSizeInvalidText);
    return outcome;
  }
  bool anyTooLarge = false;
  if (!sources.files.empty()) {
    const std::wstring parent = GetCommonParentDir(sources.files);
    const std::wstring output =
        MergeOutputPath(parent, GetLastComponent(parent), request.vertical, sources.files[0]);
    RemoveAbandonedStagedFilesBeside(sources.files);
    const std::vector<std::wstring> files = WithoutStagedFiles(sources.files);
    bool tooLarge = false;
    if (!files.empty() && !MergeGroup(files, output, request, FileGroupBarPosition(), progress,
                                      observer, outcome, tooLarge)) {
      anyTooLarge = anyTooLarge || tooLarge;
      // The dropped files get no log: the box names their folder's output.
      ++outcome.report.failed;
      outcome.report.unloggedFailures.push_back(output);
    }
  }
  for (size_t i = 0; i < sources.folders.size(); ++i) {
    const std::wstring& folder = sources.folders[i];
    const std::string narrow = WideToNarrow(folder);
    if (narrow.empty() || !pw::FolderExists(narrow)) continue;
    RemoveAbandonedStagedFiles(folder);
    std::vector<std::wstring> pictures, unlisted;
    CollectFiles(folder, pictures, request.patterns, true, &unlisted);
    pictures = WithoutStagedFiles(std::move(pictures));
    if (pictures.empty() && unlisted.empty()) continue;  // nothing to merge: no output, no log
    // The pictures that could be listed are still merged, but a merge that
    // misses those of an unreadable folder is no success.
    g_MergeLog.clear();
    outcome.report.failed += AddUnlistedFolders(unlisted, L"Merge", g_MergeLog, outcome.report);
    if (pictures.empty()) {
      WriteResultLog(folder, g_MergeLog, g_MergeLog.size(), outcome.report);
      continue;
    }
    const std::wstring output = MergeOutputPath(GetParentDir(folder), GetLastComponent(folder),
                                                request.vertical, pictures[0]);
    bool tooLarge = false;
    const bool ok = MergeGroup(pictures, output, request, FolderBarPosition(i, sources.entryCount),
                               progress, observer, outcome, tooLarge);
    anyTooLarge = anyTooLarge || tooLarge;
    g_MergeLog.push_back(ok ? folder + L"合并到" + output + L"\n"
                            : L"Merge" + folder + L" Failed!" +
                                  (tooLarge ? kMergeSizeTooLargeReason : L"") + L"\n");
    if (!ok) ++outcome.report.failed;
    WriteResultLog(folder, g_MergeLog, (ok ? 0 : 1) + unlisted.size(), outcome.report);
  }
  if (anyTooLarge) outcome.report.notes.push_back(kMergeSizeTooLargeText);
  ReportSources(sources, outcome.groups, outcome.report);
  return outcome;
}
