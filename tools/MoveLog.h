// The sorting tool's move log "log.log": a first line that marks the file as
// a move log, then one line per move, old path + "->" + new path, in UTF-8.
// A line is appended and flushed before its move is made, so a run killed at
// any moment leaves a log that leads every moved file back; a line whose
// move never happened (its new path does not exist while its old path holds
// the file) counts as already undone. A later run adds to the moves of
// earlier ones instead of forgetting them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

inline constexpr wchar_t kMoveLogName[] = L"log.log";
// The first line of every move log. Restore acts on no other file, so the
// other tools' result logs (which look like moves) are never taken for one.
inline constexpr wchar_t kMoveLogHeader[] = L"# Pixelwharf move log: old path, arrow, new path";

// folder + "/" + "log.log".
std::wstring MoveLogPath(const std::wstring& folder);

// True when old + "->" + new can be read back as exactly this pair: both
// absolute, no line break in either, and "->" only once in the line.
bool CanLogMove(const std::wstring& oldPath, const std::wstring& newPath);

class MoveLogWriter {
 public:
  MoveLogWriter() = default;
  ~MoveLogWriter();
  MoveLogWriter(const MoveLogWriter&) = delete;
  MoveLogWriter& operator=(const MoveLogWriter&) = delete;

  // Opens the log for appending: a missing or empty file becomes a move log
  // with its first line; an existing move log is appended to. False for a
  // file that is not a move log (it is left as it is) or cannot be written.
  bool Open(const std::wstring& path);
  bool IsOpen() const { return stream_ != nullptr; }
  // Appends one line and flushes it; false when the pair cannot be logged
  // unambiguously or the line did not reach the file.
  bool Append(const std::wstring& oldPath, const std::wstring& newPath);
  // Takes back the line last appended (its move did not happen).
  void Retract();
  bool Close();

 private:
  FILE* stream_ = nullptr;
  long lastLineStart_ = -1;
};

// One move of a log line.
struct MoveLogEntry {
  std::wstring oldPath;
  std::wstring newPath;
};

// A line usable by restore: it splits at "->" into exactly two absolute
// paths, both strictly inside `tree` (the folder of the log), neither with
// a "." or ".." step.
bool ParseMoveLine(const std::wstring& line, const std::wstring& tree, MoveLogEntry& entry);

// True when the lines begin with the move log's first line.
bool IsMoveLogText(const std::vector<std::wstring>& lines);
