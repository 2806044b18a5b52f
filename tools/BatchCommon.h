// What the resizing, cloning and conversion tools share around their
// workers: the observer through which a run tells its panel which status
// text a group shows, the picture lists of a folder, and the result logs.
#pragma once

#include <string>
#include <vector>

#include "tools/ToolRun.h"

// Status texts of a running group.
inline constexpr const wchar_t* kBusyText = L"正在处理中，请稍后...";
inline constexpr const wchar_t* kTaskbarText = L"任务栏显示当前进度！";
inline constexpr const wchar_t* kDoneText = L"处理完成！";
inline constexpr const wchar_t* kOverText = L"OVER!";

// A ToolRunObserver that is also told the text status pane 0 shows while a
// group runs (the ordinary busy text or a tool's GIF text). Called right
// before GroupStarted.
class BatchRunObserver : public ToolRunObserver {
 public:
  virtual void GroupText(const std::wstring& busyText) { (void)busyText; }
};

// The files of `folder` (searched recursively) that match the patterns, in
// the order CollectFiles gives, each once, without the tools' own hidden
// working files.
// Folders on the way that could not be listed go into `unlisted`.
std::vector<std::wstring> ListPictures(const std::wstring& folder,
                                       const std::vector<std::wstring>& patterns,
                                       std::vector<std::wstring>* unlisted = nullptr);

// Follows "<failure word><folder> Failed!" in a result log for a folder
// that could not be listed.
inline constexpr const wchar_t* kUnlistedFolderReason = L" (无法读取此文件夹)";

// For every folder that could not be listed: a failure line in `lines`
// (the tool's failure word, the folder, " Failed!" and the reason) and the
// folder in the report's list. Returns the number of lines added.
size_t AddUnlistedFolders(const std::vector<std::wstring>& folders, const std::wstring& failureWord,
                          std::vector<std::wstring>& lines, RunReport& report);

// `files` without the tools' own hidden working files.
std::vector<std::wstring> WithoutStagedFiles(std::vector<std::wstring> files);

// True when some path has the extension ".gif" in any letter case.
bool HasGifFile(const std::vector<std::wstring>& files);

// folder + "/" + "log.log".
std::wstring ResultLogPath(const std::wstring& folder);

// True when `path` may be replaced by a result log: it does not exist, is
// empty, or every line is one of the tools' result lines. The sorting
// tool's move log (the only way back for the files it moved, also one
// written before move logs had their first line) and anything else the
// user keeps there is never replaced.
bool IsReplaceableResultLog(const std::wstring& path);

// Writes the result lines (each ending in "\n"; empty ones write nothing)
// as `folder`'s "log.log" (a line end within a line, from a file name that
// holds one, is written as "\n" or "\r", so every entry stays one line), replacing the old one whole when that is a result
// log; otherwise as "log-1.log" (or the next number) beside it. The report
// gets the log that lists failures (when `failed` > 0), a log that could
// not be written, and a log that had to take another name. Returns the path
// written, empty when none.
std::wstring WriteResultLog(const std::wstring& folder, const std::vector<std::wstring>& lines,
                            size_t failed, RunReport& report);

// Result lines that are failures: empty ones (never filled) and those that
// begin with the tool's failure word ("Resize", "Convert", "CloneExif").
size_t CountFailedLines(const std::vector<std::wstring>& lines, const std::wstring& failureWord);
// The sources of those lines.
std::vector<std::wstring> FailedSources(const std::vector<std::wstring>& lines,
                                        const std::vector<std::wstring>& sources,
                                        const std::wstring& failureWord);

// The result line of a picture made from `source`: "source->destination",
// marked when the source was damaged.
std::wstring DoneLine(const std::wstring& source, const std::wstring& destination, bool damaged);
// Adds to `damaged` the sources whose result lines carry the damage mark,
// each once.
void AddDamagedSources(const std::vector<std::wstring>& lines,
                       const std::vector<std::wstring>& sources, std::vector<std::wstring>& damaged);
