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
// the order CollectFiles gives, without the tools' own hidden working files.
std::vector<std::wstring> ListPictures(const std::wstring& folder,
                                       const std::vector<std::wstring>& patterns);

// `files` without the tools' own hidden working files.
std::vector<std::wstring> WithoutStagedFiles(std::vector<std::wstring> files);

// True when some path has the extension ".gif" in any letter case.
bool HasGifFile(const std::vector<std::wstring>& files);

// folder + "/" + "log.log".
std::wstring ResultLogPath(const std::wstring& folder);

// Writes the result lines (each ending in "\n"; empty ones write nothing)
// as `folder`'s "log.log", replacing the old one whole. A "log.log" that
// holds the sorting tool's moves is left alone (it is the only way to
// restore those files). False when nothing was written.
bool WriteResultLog(const std::wstring& folder, const std::vector<std::wstring>& lines);
