#include "core/FileHelpers.h"

#include <algorithm>
#include <cstdio>

#include "core/PathHelpers.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/folder_search.h"

namespace {

void FindFilesIn(const std::string& folder, const std::wstring& wideFolder, std::vector<std::wstring>& list,
                 const std::string& pattern, bool recursive, std::vector<std::wstring>* unlisted) {
  pw::FolderListing listing;
  if (!pw::ListFolder(folder, pattern, listing)) {
    if (unlisted) unlisted->push_back(TrimTrailingSeparators(wideFolder));
    return;
  }
  for (const std::string& name : listing.files) list.push_back(wideFolder + NarrowToWide(name));
  if (!recursive) return;
  for (const std::string& name : listing.subfolders) {
    FindFilesIn(folder + name + "/", wideFolder + NarrowToWide(name) + kPathSep, list, pattern, true, unlisted);
  }
}

std::string FormatTime(const FileTime& t) {
  std::tm local{};
  const std::time_t seconds = t.tv_sec;
  if (!localtime_r(&seconds, &local)) return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d%02d%02d-%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min);
  return buf;
}

}  // namespace

bool FileExists(const std::wstring& path) { return pw::FileExists(WideToNarrow(path)); }

bool PathExists(const std::wstring& path) { return pw::PathExists(WideToNarrow(path)); }

bool CreateDirectoryTree(const std::wstring& path, wchar_t sep) {
  if (path.empty() || WideToNarrow(path).empty()) return false;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != sep) continue;
    if (path[pos - 1] == sep) continue;  // "//" or a trailing separator: no new level
    std::wstring level = path.substr(0, pos);
    if (sep != kPathSep) {
      for (wchar_t& c : level)
        if (c == sep) c = kPathSep;
    }
    if (!pw::CreateFolder(WideToNarrow(level))) return false;
  }
  return true;
}

size_t FindFiles(const std::wstring& folder, std::vector<std::wstring>& list, const std::string& pattern,
                 bool recursive, std::vector<std::wstring>* unlisted) {
  const std::wstring wideFolder = EnsureTrailingSeparator(folder, kPathSep);
  const std::string narrowFolder = WideToNarrow(wideFolder);
  if (!narrowFolder.empty()) FindFilesIn(narrowFolder, wideFolder, list, pattern, recursive, unlisted);
  return list.size();
}

size_t CollectFiles(const std::wstring& folder, std::vector<std::wstring>& list,
                    const std::vector<std::wstring>& patterns, bool recursive,
                    std::vector<std::wstring>* unlisted) {
  std::vector<std::wstring> normalised;
  bool everything = false;
  for (const std::wstring& p : patterns) {
    if (p == L"*.*" || p == L"*") everything = true;
  }
  if (everything) {
    normalised.push_back(L"*.*");
  } else {
    for (const std::wstring& p : patterns) {
      if (p.empty()) continue;
      if (p.find(L'*') != std::wstring::npos) normalised.push_back(p);
      else if (p[0] == L'.') normalised.push_back(L"*" + p);
      else normalised.push_back(L"*." + p);
    }
  }
  std::vector<std::wstring> failed;
  for (const std::wstring& p : normalised) {
    const std::string narrow = WideToNarrow(p);
    if (!narrow.empty()) FindFiles(folder, list, narrow, recursive, unlisted ? &failed : nullptr);
  }
  if (unlisted) {
    for (const std::wstring& path : failed)
      if (std::find(unlisted->begin(), unlisted->end(), path) == unlisted->end()) unlisted->push_back(path);
  }
  return list.size();
}

size_t ReadLines(const std::wstring& path, std::vector<std::wstring>& lines, bool* complete) {
  lines.clear();
  if (complete) *complete = true;
  const std::string narrowPath = WideToNarrow(path);
  if (!pw::FileExists(narrowPath)) return 0;
  FILE* f = std::fopen(narrowPath.c_str(), "rb");
  if (!f) {
    if (complete) *complete = false;
    return 0;
  }
  std::string line;
  char buf[8192];
  size_t n;
  auto finishLine = [&] {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(NarrowToWide(line));
    line.clear();
  };
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') finishLine();
      else line.push_back(buf[i]);
    }
  }
  if (std::ferror(f) && complete) *complete = false;
  std::fclose(f);
  if (!line.empty()) finishLine();
  return lines.size();
}

int WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
  const std::string narrowPath = WideToNarrow(path);
  if (narrowPath.empty()) return -1;
  std::string bytes;
  for (const std::wstring& text : lines) bytes += WideToNarrow(text);
  return pw::WriteFileAtomically(narrowPath, bytes) ? 0 : -1;
}

bool CopyFileTimes(const std::wstring& source, const std::wstring& target) {
  const std::string from = WideToNarrow(source);
  const std::string to = WideToNarrow(target);
  if (!pw::FileExists(from) || !pw::FileExists(to)) return false;
  pw::FileTimes times;
  return pw::GetFileTimes(from, times) && pw::SetFileTimes(to, times.access, times.modification);
}

bool ClearReadOnly(const std::wstring& path) { return pw::ClearReadOnly(WideToNarrow(path)); }

bool FormatFileTimes(std::wstring& creationText, std::wstring& accessText, std::wstring& writeText,
                     const FileTime& creation, const FileTime& access, const FileTime& write) {
  creationText = NarrowToWide(FormatTime(creation));
  accessText = NarrowToWide(FormatTime(access));
  writeText = NarrowToWide(FormatTime(write));
  return true;
}

std::wstring GetModifyMonth(const std::wstring& path) {
  pw::FileTimes times;
  if (!pw::GetFileTimes(WideToNarrow(path), times)) return std::wstring();
  std::wstring creation, access, write;
  FormatFileTimes(creation, access, write, times.creation, times.access, times.modification);
  return write.substr(0, 6);
}
