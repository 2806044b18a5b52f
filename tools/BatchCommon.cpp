#include "tools/BatchCommon.h"


#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "platform/files.h"
#include "tools/MoveLog.h"
#include "tools/StagedPicture.h"

std::vector<std::wstring> WithoutStagedFiles(std::vector<std::wstring> files) {
  files.erase(std::remove_if(files.begin(), files.end(), IsStagedName), files.end());
  return files;
}

std::vector<std::wstring> ListPictures(const std::wstring& folder,
                                       const std::vector<std::wstring>& patterns,
                                       std::vector<std::wstring>* unlisted) {
  std::vector<std::wstring> files;
  CollectFiles(folder, files, patterns, true, unlisted);
  // Patterns match regardless of letter case, so "*.jpg|*.JPG" finds every
  // JPEG twice; two workers on one picture would race over it (and resize
  // it twice over the original), so each picture is listed once, where it
  // was first found.
  std::unordered_set<std::wstring> seen;
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&seen](const std::wstring& file) { return !seen.insert(file).second; }),
              files.end());
  return WithoutStagedFiles(std::move(files));
}

bool HasGifFile(const std::vector<std::wstring>& files) {
  return std::any_of(files.begin(), files.end(), [](const std::wstring& file) {
    return ChangeCase(GetExtension(file, true), true) == L".gif";
  });
}

std::wstring ResultLogPath(const std::wstring& folder) {
  return EnsureTrailingSeparator(folder) + L"log.log";
}

namespace {

bool PathGone(const std::wstring& path) { return !pw::NameTaken(WideToNarrow(path)); }

// One of the lines the tools write into a result log. A "source->result"
// line whose source is gone is how the sorting tool's moves looked before
// its logs had their first line: such a log is not a result log.
bool IsResultLine(const std::wstring& line) {
  for (const wchar_t* word : {L"Resize", L"Convert", L"CloneExif", L"Merge"})
    if (line.starts_with(word) &&
        (line.ends_with(L" Failed!") || line.find(L" Failed! (") != std::wstring::npos))
      return true;
  if (line.starts_with(L"Ignore /") && line.ends_with(L" !")) return true;
  // A picture whose EXIF block a cloning run without a source tree cleared.
  if (line.starts_with(L"->/")) return true;
  if (line.empty() || line[0] != kPathSep) return false;
  const size_t merged = line.find(L"合并到/");
  if (merged != std::wstring::npos) return true;
  const size_t arrow = line.find(L"->/");
  return arrow != std::wstring::npos && !PathGone(line.substr(0, arrow));
}

}  // namespace

bool IsReplaceableResultLog(const std::wstring& path) {
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return false;
  const pw::NameKind kind = pw::KindOfName(narrow);
  if (kind != pw::NameKind::kFile) return kind == pw::NameKind::kNone;
  std::vector<std::wstring> lines;
  bool complete = true;
  ReadLines(path, lines, &complete);
  if (!complete || IsMoveLogText(lines)) return false;
  for (const std::wstring& line : lines)
    if (!line.empty() && !IsResultLine(line)) return false;
  return true;
}

size_t AddUnlistedFolders(const std::vector<std::wstring>& folders, const std::wstring& failureWord,
                          std::vector<std::wstring>& lines, RunReport& report) {
  for (const std::wstring& folder : folders) {
    lines.push_back(failureWord + folder + L" Failed!" + kUnlistedFolderReason + L"\n");
    report.unlistedFolders.push_back(folder);
  }
  return folders.size();
}

namespace {

// A result line with any line end inside it (a file name may hold one)
// written as the two characters "\n" or "\r": one entry, one line.
std::wstring OneLogLine(const std::wstring& line) {
  const bool ended = line.ends_with(L'\n');
  const std::wstring body = WithVisibleLineEnds(ended ? line.substr(0, line.size() - 1) : line);
  return ended ? body + L"\n" : body;
}

}  // namespace

std::wstring WriteResultLog(const std::wstring& folder, const std::vector<std::wstring>& lines,
                            size_t failed, RunReport& report) {
  std::wstring path = ResultLogPath(folder);
  const bool own = IsReplaceableResultLog(path);
  for (int k = 1; !own && k < 1000; ++k) {
    path = EnsureTrailingSeparator(folder) + L"log-" + std::to_wstring(k) + L".log";
    if (IsReplaceableResultLog(path)) break;
    path.clear();
  }
  std::vector<std::wstring> written;
  written.reserve(lines.size());
  for (const std::wstring& line : lines) written.push_back(OneLogLine(line));
  if (path.empty() || WriteLines(path, written) != 0) {
    report.unwrittenLogs.push_back(path.empty() ? ResultLogPath(folder) : path);
    return std::wstring();
  }
  if (!own) report.renamedLogs.push_back(path);
  if (failed > 0) report.failureLogs.push_back(path);
  return path;
}

size_t CountFailedLines(const std::vector<std::wstring>& lines, const std::wstring& failureWord) {
  size_t count = 0;
  for (const std::wstring& line : lines)
    if (line.empty() || line.starts_with(failureWord)) ++count;
  return count;
}

std::wstring DoneLine(const std::wstring& source, const std::wstring& destination, bool damaged) {
  return source + L"->" + destination + (damaged ? kDamagedSourceMark : L"") + L"\n";
}

void AddDamagedSources(const std::vector<std::wstring>& lines,
                       const std::vector<std::wstring>& sources, std::vector<std::wstring>& damaged) {
  const std::wstring marked = std::wstring(kDamagedSourceMark) + L"\n";
  // A source converted into several formats is named once.
  for (size_t i = 0; i < lines.size() && i < sources.size(); ++i)
    if (lines[i].ends_with(marked) &&
        std::find(damaged.begin(), damaged.end(), sources[i]) == damaged.end())
      damaged.push_back(sources[i]);
}

std::vector<std::wstring> FailedSources(const std::vector<std::wstring>& lines,
                                        const std::vector<std::wstring>& sources,
                                        const std::wstring& failureWord) {
  std::vector<std::wstring> failed;
  for (size_t i = 0; i < lines.size() && i < sources.size(); ++i)
    if (lines[i].empty() || lines[i].starts_with(failureWord)) failed.push_back(sources[i]);
  return failed;
}
