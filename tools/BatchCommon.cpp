#include "tools/BatchCommon.h"

#include <algorithm>
#include <unordered_set>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "tools/MoveLog.h"
#include "tools/StagedPicture.h"

std::vector<std::wstring> WithoutStagedFiles(std::vector<std::wstring> files) {
  files.erase(std::remove_if(files.begin(), files.end(), IsStagedName), files.end());
  return files;
}

std::vector<std::wstring> ListPictures(const std::wstring& folder,
                                       const std::vector<std::wstring>& patterns) {
  std::vector<std::wstring> files;
  CollectFiles(folder, files, patterns, true);
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

bool WriteResultLog(const std::wstring& folder, const std::vector<std::wstring>& lines) {
  const std::wstring path = ResultLogPath(folder);
  if (HoldsMoveLog(path)) return false;  // the sorting tool's way back stays
  return WriteLines(path, lines) == 0;
}
