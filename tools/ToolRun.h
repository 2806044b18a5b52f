// The window-free part of what every tool panel shares: reading the path
// field, the status-bar position of each group, the elapsed-time text, the
// dated run log, the JPEG quality list, and the observer through which a
// running tool tells its panel that a group starts and ends.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The '|'-separated sources of a path field, sorted into existing files and
// existing folders (entries that do not exist are dropped silently).
struct SourceEntries {
  std::vector<std::wstring> files;
  std::vector<std::wstring> folders;
  std::vector<std::wstring> missing;  // entries that name nothing (empty ones left out)
  size_t entryCount = 0;  // N: every entry of the field, missing ones included
};
SourceEntries SplitSources(const std::wstring& pathField);

// Status-bar progress position of a group: 50 for the group of files,
// 100 * i / N + 1 for the folder at position i of the folder list.
int FileGroupBarPosition();
int FolderBarPosition(size_t folderIndex, size_t entryCount);

// "%d分%d秒" of a run of `seconds`.
std::wstring FormatElapsed(double seconds);

// The line appended to the dated run log: elapsed + "\t\t" + local date and
// time ("%Y年%m月%d日 %H:%M:%S") + "\t\t" + path + "\n".
std::wstring RunLogLine(const std::wstring& elapsed, const std::tm& localEnd,
                        const std::wstring& path);

// Appends the line for a run that ends now to today's dated run log beside
// the program (created when missing, never truncated), in UTF-8. False when
// the log cannot be opened or written.
bool AppendRunLog(const std::wstring& elapsed, const std::wstring& path);

// JPEG quality list: the items added at start, the item to select for a
// stored quality (adding its text when missing), and the value read back.
std::vector<std::wstring> QualityListItems();
// Returns the index to select in `items` for `quality`; may append to items.
size_t SelectQualityItem(std::vector<std::wstring>& items, int quality);
// The list text as a decimal number; 90 when it does not begin with one.
int ReadQualityText(const std::wstring& text);

// What a run tells the user beyond the time it took: how many files failed
// and where to read about them, logs that could not be written, and result
// logs that had to take another name.
struct RunReport {
  // What the run did not do at all, said first (nothing to do, no target
  // format, nothing restored): a run with a note is never told as a success.
  std::vector<std::wstring> notes;
  std::vector<std::wstring> missingPaths;      // sources that named nothing
  size_t failed = 0;
  std::vector<std::wstring> failureLogs;       // logs that list failures
  std::vector<std::wstring> unloggedFailures;  // failed files no log lists (dropped files)
  std::vector<std::wstring> unwrittenLogs;     // logs that could not be written
  std::vector<std::wstring> renamedLogs;       // result logs written beside someone else's log.log
  // Sources the decoder could read only in part: their results were
  // written, with what could not be read filled in.
  std::vector<std::wstring> damagedSources;
  // Folders (or sub-folders) that could not be listed: their files were not
  // handled at all, a failure of the run.
  std::vector<std::wstring> unlistedFolders;

  // Adds the other report's entries to this one.
  void Add(const RunReport& other);
  // True when there is nothing to tell but success.
  bool Clean() const;
};

// Follows a result line whose source was damaged (the decoder had to fill
// in data it could not read, so the result shows a band or block that is
// not the picture).
inline constexpr const wchar_t* kDamagedSourceMark = L" (源文件已损坏，结果不完整)";

// End-box notes of runs that did nothing.
inline constexpr const wchar_t* kNothingToDoText = L"没有找到可处理的文件，什么也没有做！";
inline constexpr const wchar_t* kNoTargetFormatText = L"没有勾选目标格式，什么也没有做！";
inline constexpr const wchar_t* kNothingRestoredText = L"没有恢复任何文件！";

// Adds the source entries that named nothing to the report; and, when the
// run handled no file at all (`handled` is 0) and no folder was unreadable,
// the note that nothing was done.
void ReportSources(const SourceEntries& sources, size_t handled, RunReport& report);

// `text` with every line end in it written as the two characters "\n" (or
// "\r"): a file name that holds one stays on one line of a log or a box.
std::wstring WithVisibleLineEnds(const std::wstring& text);

// The part of the end-of-run box that tells the report (empty for a clean
// run): its notes, the sources that do not exist, the number of failures, the logs that list them or the failed files
// themselves, every log that could not be written, and every result log
// written under another name.
std::wstring RunReportText(const RunReport& report);

// Told by a running tool when each group of work starts and ends, on the
// thread that started the run. The panel moves the status-bar progress bar
// and sets its status texts here; tests record the calls.
class ToolRunObserver {
 public:
  virtual ~ToolRunObserver() = default;
  virtual void GroupStarted(int barPosition) { (void)barPosition; }
  virtual void GroupFinished() {}
  // Moves the status-bar progress bar outside a group's start.
  virtual void BarAt(int barPosition) { (void)barPosition; }
};
