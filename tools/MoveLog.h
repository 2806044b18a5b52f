// The sorting tool's move log "log.log": one line per move, old path + "->" +
// new path, in UTF-8. Lines are appended and flushed as the moves happen, so
// a run that stops half way still leaves a log of every move it made, and a
// later run adds to the moves of earlier ones instead of forgetting them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

inline constexpr wchar_t kMoveLogName[] = L"log.log";

// folder + "/" + "log.log".
std::wstring MoveLogPath(const std::wstring& folder);

class MoveLogWriter {
 public:
  MoveLogWriter() = default;
  ~MoveLogWriter();
  MoveLogWriter(const MoveLogWriter&) = delete;
  MoveLogWriter& operator=(const MoveLogWriter&) = delete;

  // Opens the log for appending, creating it when missing.
  bool Open(const std::wstring& path);
  bool IsOpen() const { return stream_ != nullptr; }
  // Appends one line and flushes it; false when it did not reach the file.
  bool Append(const std::wstring& oldPath, const std::wstring& newPath);
  bool Close();

 private:
  FILE* stream_ = nullptr;
};

// One move of a log line.
struct MoveLogEntry {
  std::wstring oldPath;
  std::wstring newPath;
};

// Splits a line at every "->": the first piece is the old path, the second
// the new one. Lines with fewer than two pieces, or whose paths are not
// absolute (a name that itself holds "->" would otherwise send a file to a
// wrong place), are not usable.
bool ParseMoveLine(const std::wstring& line, MoveLogEntry& entry);

// True when the log file holds at least one usable move line. Such a log is
// the only way back for the sorted files, so no other tool writes over it.
bool HoldsMoveLog(const std::wstring& logPath);
