#include "tools/MoveLog.h"

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "platform/files.h"

namespace {

size_t CountArrows(const std::wstring& text) {
  size_t count = 0;
  for (size_t at = text.find(L"->"); at != std::wstring::npos; at = text.find(L"->", at + 2))
    ++count;
  return count;
}

bool HasLineBreak(const std::wstring& text) {
  return text.find_first_of(L"\r\n") != std::wstring::npos;
}

// "/a/./b" and "/a/../b" name places other than their spelling says.
bool HasDotStep(const std::wstring& path) {
  for (const std::wstring& step : SplitString(path, L"/"))
    if (step == L"." || step == L"..") return true;
  return false;
}

bool StrictlyInside(const std::wstring& path, const std::wstring& tree) {
  const std::wstring root = TrimTrailingSeparators(tree);
  return !root.empty() && path.size() > root.size() + 1 && IsSameOrBelow(path, root) &&
         path.back() != kPathSep && !HasDotStep(path);
}

}  // namespace

std::wstring MoveLogPath(const std::wstring& folder) {
  return EnsureTrailingSeparator(folder) + kMoveLogName;
}

bool CanLogMove(const std::wstring& oldPath, const std::wstring& newPath) {
  if (oldPath.empty() || newPath.empty() || oldPath[0] != kPathSep || newPath[0] != kPathSep)
    return false;
  if (HasLineBreak(oldPath) || HasLineBreak(newPath)) return false;
  return CountArrows(oldPath + L"->" + newPath) == 1;
}

MoveLogWriter::~MoveLogWriter() { Close(); }

bool MoveLogWriter::Open(const std::wstring& path) {
  Close();
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return false;
  std::vector<std::wstring> lines;
  bool complete = true;
  ReadLines(path, lines, &complete);
  if (!complete) return false;
  const bool fresh = lines.empty();
  if (!fresh && !IsMoveLogText(lines)) return false;  // someone else's file
  stream_ = std::fopen(narrow.c_str(), "ab");
  if (!stream_) return false;
  if (fresh) {
    const std::string header = WideToNarrow(std::wstring(kMoveLogHeader) + L"\n");
    if (std::fwrite(header.data(), 1, header.size(), stream_) != header.size() ||
        std::fflush(stream_) != 0) {
      Close();
      return false;
    }
  }
  return true;
}

bool MoveLogWriter::Append(const std::wstring& oldPath, const std::wstring& newPath) {
  lastLineStart_ = -1;
  if (!stream_ || !CanLogMove(oldPath, newPath)) return false;
  const std::string line = WideToNarrow(oldPath + L"->" + newPath + L"\n");
  if (line.size() <= 1) return false;
  const long start = std::ftell(stream_);
  const bool written = std::fwrite(line.data(), 1, line.size(), stream_) == line.size() &&
                       std::fflush(stream_) == 0;
  if (!written) {
    // A part of a line may have reached the file: cut it off again.
    if (start >= 0) pw::TruncateStream(stream_, start);
    std::clearerr(stream_);
    return false;
  }
  lastLineStart_ = start;
  return true;
}

void MoveLogWriter::Retract() {
  if (!stream_ || lastLineStart_ < 0) return;
  // Should the cut fail, the line stays: its new path is free and its old
  // path holds the file, which restore takes as already undone.
  pw::TruncateStream(stream_, lastLineStart_);
  lastLineStart_ = -1;
}

bool MoveLogWriter::Close() {
  lastLineStart_ = -1;
  if (!stream_) return true;
  const bool ok = std::fclose(stream_) == 0;
  stream_ = nullptr;
  return ok;
}

bool ParseMoveLine(const std::wstring& line, const std::wstring& tree, MoveLogEntry& entry) {
  // CanLogMove below rejects a line with more than one arrow.
  const size_t arrow = line.find(L"->");
  if (arrow == std::wstring::npos) return false;
  const std::wstring oldPath = line.substr(0, arrow);
  const std::wstring newPath = line.substr(arrow + 2);
  if (!CanLogMove(oldPath, newPath)) return false;
  if (!StrictlyInside(oldPath, tree) || !StrictlyInside(newPath, tree)) return false;
  entry.oldPath = oldPath;
  entry.newPath = newPath;
  return true;
}

bool IsMoveLogText(const std::vector<std::wstring>& lines) {
  return !lines.empty() && lines.front() == kMoveLogHeader;
}
