#include "tools/MoveLog.h"

#include <sys/stat.h>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"

std::wstring MoveLogPath(const std::wstring& folder) {
  return EnsureTrailingSeparator(folder) + kMoveLogName;
}

MoveLogWriter::~MoveLogWriter() { Close(); }

bool MoveLogWriter::Open(const std::wstring& path) {
  Close();
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return false;
  stream_ = std::fopen(narrow.c_str(), "ab");
  return stream_ != nullptr;
}

bool MoveLogWriter::Append(const std::wstring& oldPath, const std::wstring& newPath) {
  if (!stream_) return false;
  const std::string line = WideToNarrow(oldPath + L"->" + newPath + L"\n");
  if (line.size() <= 1) return false;
  return std::fwrite(line.data(), 1, line.size(), stream_) == line.size() &&
         std::fflush(stream_) == 0;
}

bool MoveLogWriter::Close() {
  if (!stream_) return true;
  const bool ok = std::fclose(stream_) == 0;
  stream_ = nullptr;
  return ok;
}

bool ParseMoveLine(const std::wstring& line, MoveLogEntry& entry) {
  const std::vector<std::wstring> pieces = SplitString(line, L"->");
  if (pieces.size() < 2) return false;
  const std::wstring& oldPath = pieces[0];
  const std::wstring& newPath = pieces[1];
  if (oldPath.empty() || newPath.empty() || oldPath[0] != kPathSep || newPath[0] != kPathSep)
    return false;
  entry.oldPath = oldPath;
  entry.newPath = newPath;
  return true;
}

bool HoldsMoveLog(const std::wstring& logPath) {
  std::vector<std::wstring> lines;
  bool complete = true;
  ReadLines(logPath, lines, &complete);
  if (!complete) return true;  // unreadable: it may hold moves, so keep it
  MoveLogEntry entry;
  for (const std::wstring& line : lines) {
    if (!ParseMoveLine(line, entry)) continue;
    // A sorted file has left its old place. The other tools' result lines
    // ("source->result") look the same, but their source is still there;
    // taking those for moves would keep every later run's result log from
    // ever being written.
    const std::string oldPath = WideToNarrow(entry.oldPath);
    struct stat st;
    if (oldPath.empty() || ::lstat(oldPath.c_str(), &st) != 0) return true;
  }
  return false;
}
