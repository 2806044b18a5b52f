#include "tools/ToolRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "core/FileHelpers.h"
#include "core/StringHelpers.h"
#include "platform/paths.h"

SourceEntries SplitSources(const std::wstring& pathField) {
  SourceEntries entries;
  std::vector<std::wstring> pieces;
  entries.entryCount = SplitCString(pathField, L'|', pieces);
  for (const std::wstring& piece : pieces) {
    if (!PathExists(piece)) {
      if (!piece.empty()) entries.missing.push_back(piece);
      continue;
    }
    if (FileExists(piece))
      entries.files.push_back(piece);
    else
      entries.folders.push_back(piece);
  }
  return entries;
}

int FileGroupBarPosition() { return 50; }

int FolderBarPosition(size_t folderIndex, size_t entryCount) {
  if (entryCount == 0) return 1;
  return static_cast<int>(100 * folderIndex / entryCount + 1);
}

std::wstring FormatElapsed(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  const auto minutes = static_cast<long long>(seconds / 60);
  const auto rest = static_cast<long long>(std::fmod(seconds, 60.0));
  return std::to_wstring(minutes) + L"分" + std::to_wstring(rest) + L"秒";
}

std::wstring RunLogLine(const std::wstring& elapsed, const std::tm& localEnd,
                        const std::wstring& path) {
  char when[64];
  if (std::strftime(when, sizeof when, "%Y年%m月%d日 %H:%M:%S", &localEnd) == 0) when[0] = '\0';
  return elapsed + L"\t\t" + NarrowToWide(when) + L"\t\t" + path + L"\n";
}

bool AppendRunLog(const std::wstring& elapsed, const std::wstring& path) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string logPath = pw::RunLogPath(local);
  if (logPath.empty()) return false;
  FILE* log = std::fopen(logPath.c_str(), "ab");
  if (!log) return false;
  const std::string line = WideToNarrow(RunLogLine(elapsed, local, path));
  const bool written = std::fwrite(line.data(), 1, line.size(), log) == line.size();
  const bool closed = std::fclose(log) == 0;
  return written && closed;
}

std::vector<std::wstring> QualityListItems() { return {L"60", L"80", L"90", L"99"}; }

namespace {

// The first item that begins with `text`, letter case ignored (the list
// box's prefix search); items.size() when none.
size_t FindItemByPrefix(const std::vector<std::wstring>& items, const std::wstring& text) {
  const std::wstring wanted = ChangeCase(text, true);
  for (size_t i = 0; i < items.size(); ++i)
    if (ChangeCase(items[i], true).compare(0, wanted.size(), wanted) == 0) return i;
  return items.size();
}

}  // namespace

size_t SelectQualityItem(std::vector<std::wstring>& items, int quality) {
  if (quality < 0 || quality > 100) return FindItemByPrefix(items, L"99");
  const std::wstring text = std::to_wstring(quality);
  size_t index = FindItemByPrefix(items, text);
  if (index == items.size()) {
    // The list is sorted: the new text takes its sorted place.
    items.insert(std::upper_bound(items.begin(), items.end(), text), text);
    index = FindItemByPrefix(items, text);
  }
  return index;
}

int ReadQualityText(const std::wstring& text) {
  std::wistringstream in(text);
  int value = 0;
  if (!(in >> value)) return 90;
  return value;
}

void RunReport::Add(const RunReport& other) {
  failed += other.failed;
  auto append = [](std::vector<std::wstring>& to, const std::vector<std::wstring>& from) {
    to.insert(to.end(), from.begin(), from.end());
  };
  append(notes, other.notes);
  append(missingPaths, other.missingPaths);
  append(failureLogs, other.failureLogs);
  append(unloggedFailures, other.unloggedFailures);
  append(unwrittenLogs, other.unwrittenLogs);
  append(renamedLogs, other.renamedLogs);
  append(damagedSources, other.damagedSources);
  append(unlistedFolders, other.unlistedFolders);
}

bool RunReport::Clean() const {
  return notes.empty() && missingPaths.empty() && failed == 0 && failureLogs.empty() && unloggedFailures.empty() &&
         unwrittenLogs.empty() && renamedLogs.empty() && damagedSources.empty() && unlistedFolders.empty();
}

namespace {

// At most this many paths of one kind are listed; the box must fit the screen.
constexpr size_t kMaxListedPaths = 5;

// One path a line, as the logs write them.
void ListPaths(std::wstring& text, const std::vector<std::wstring>& paths) {
  for (size_t i = 0; i < paths.size() && i < kMaxListedPaths; ++i)
    text += L"  " + WithVisibleLineEnds(paths[i]) + L"\n";
  if (paths.size() > kMaxListedPaths)
    text += L"  ……以及另外 " + std::to_wstring(paths.size() - kMaxListedPaths) + L" 个\n";
}

}  // namespace

std::wstring WithVisibleLineEnds(const std::wstring& text) {
  if (text.find_first_of(L"\r\n") == std::wstring::npos) return text;
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\n') out += L"\\n";
    else if (c == L'\r') out += L"\\r";
    else out += c;
  }
  return out;
}

void ReportSources(const SourceEntries& sources, size_t handled, RunReport& report) {
  report.missingPaths.insert(report.missingPaths.end(), sources.missing.begin(),
                             sources.missing.end());
  // A folder that could not be read is told as such, not as one without files.
  if (handled == 0 && report.unlistedFolders.empty()) report.notes.push_back(kNothingToDoText);
}

std::wstring RunReportText(const RunReport& report) {
  if (report.Clean()) return std::wstring();
  std::wstring text;
  for (const std::wstring& note : report.notes) text += note + L"\n";
  if (!report.missingPaths.empty()) {
    text += L"以下路径不存在：\n";
    ListPaths(text, report.missingPaths);
  }
  if (!report.unlistedFolders.empty()) {
    text += L"以下文件夹无法读取，其中的文件没有处理：\n";
    ListPaths(text, report.unlistedFolders);
  }
  if (report.failed > 0) text += L"有 " + std::to_wstring(report.failed) + L" 个文件处理失败！\n";
  if (!report.failureLogs.empty()) {
    text += L"失败记录见日志：\n";
    ListPaths(text, report.failureLogs);
  }
  if (!report.unloggedFailures.empty()) {
    text += L"没有日志记录的失败文件：\n";
    ListPaths(text, report.unloggedFailures);
  }
  if (!report.unwrittenLogs.empty()) {
    text += L"无法写入日志：\n";
    ListPaths(text, report.unwrittenLogs);
  }
  if (!report.damagedSources.empty()) {
    text += L"以下源文件已损坏，结果不完整：\n";
    ListPaths(text, report.damagedSources);
  }
  if (!report.renamedLogs.empty()) {
    text += L"原有的 log.log 不是本程序写的，未覆盖；结果日志另存为：\n";
    ListPaths(text, report.renamedLogs);
  }
  return text;
}
