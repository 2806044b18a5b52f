// The EXIF cloning tool without its window: one pair of pictures, or every
// picture of a receiving tree paired with the picture of the same relative
// path in a source tree. The receiving picture is rewritten as a JPEG named
// like it with ".jpg", carrying the source's EXIF tags; the source's file
// times go onto the receiving picture's own path.
//
// The result carries exactly the source's tags (the receiving picture's own
// EXIF block goes, its thumbnail with it); a receiving JPEG keeps its image
// data byte for byte, its colour profile and XMP packet. In single mode an
// empty or missing source clears the receiving picture's EXIF block (the
// panel asks first). Nothing is half done: a batch pair whose source is
// missing, and any pair whose source is unreadable or not a JPEG, leaves the
// receiving picture untouched; the new JPEG is written whole,
// with its tags, before it takes its name; an existing ".jpg" that is not the
// receiving picture itself is never written over in batch mode (and only
// after the user agreed in single mode).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "tools/BatchCommon.h"

// One result line per index of the current run.
extern std::vector<std::wstring> g_CloneExifLog;
// Single mode only: the user agreed that an existing ".jpg" other than the
// receiving picture may be replaced. Always false in batch mode.
extern bool g_CloneExifReplaceOther;

inline constexpr const wchar_t* kCloneBadOutputText = L"输出路径不合法！";
inline constexpr const wchar_t* kCloneSameOutputText = L"输出路径不能等于输入路径！";
inline constexpr const wchar_t* kCloneNestedText = L"输入目录与输出目录不能相互包含！";
// Batch mode: followed by the folder's path.
inline constexpr const wchar_t* kCloneMissingSourceText = L"输入目录不存在：\n";
inline constexpr const wchar_t* kCloneMissingReceivingText = L"输出目录不存在：\n";
// Batch mode with an empty source field: followed by the receiving folder
// and kCloneClearConfirmQuestion.
inline constexpr const wchar_t* kCloneClearFolderConfirmText =
    L"输入目录为空，将清除以下目录中所有图片的EXIF信息：\n";
inline constexpr const wchar_t* kCloneHintTitle = L"提示";
inline constexpr const wchar_t* kCloneFailedText = L"克隆EXIF失败！";
inline constexpr const wchar_t* kCloneDoneText = L"克隆EXIF完成！";
inline constexpr const wchar_t* kCloneBatchConfirmText =
    L"1.请确保输入、输出目录正确！\n2.请确保两个文件夹的目录结构一致，文件名完全一致！\n"
    L"3.错误或者不存在的文件会略过并记录到日志中。\n\n是否继续？";
inline constexpr const wchar_t* kCloneClearedText = L"EXIF已清除！";
inline constexpr const wchar_t* kCloneClearConfirmText =
    L"输入为空或不存在，将清除以下图片的EXIF信息：\n";  // followed by the JPEG's path and kCloneClearConfirmQuestion
inline constexpr const wchar_t* kCloneClearConfirmQuestion = L"\n\n是否继续？";
inline constexpr const wchar_t* kCloneReplaceOtherText =
    L" 已经存在，是否覆盖？";  // follows the existing file's path

enum class ClonePathCheck { kOk, kBadOutput, kSameAsInput, kNested, kMissingSource, kMissingReceiving };

// Single mode: the receiving path must not be empty nor the source itself
// (also under another spelling).
ClonePathCheck CheckClonePair(const std::wstring& source, const std::wstring& receiving);
// Batch mode: the receiving folder must not be empty, must exist, and must
// not be the source folder itself, nor inside it or around it; a source
// folder that is given must exist (only an empty source field means "clear
// the EXIF").
ClonePathCheck CheckCloneFolders(const std::wstring& sourceDir, const std::wstring& receivingDir);
// The message box text of a refused check; empty for kOk.
std::wstring ClonePathCheckText(ClonePathCheck check);
// The same for the batch folders, naming a folder that does not exist.
std::wstring CloneFoldersCheckText(ClonePathCheck check, const std::wstring& sourceDir,
                                   const std::wstring& receivingDir);

// The JPEG a receiving picture becomes: its name with ".jpg" (itself when
// its extension is ".jpg" in any letter case).
std::wstring CloneTargetPath(const std::wstring& receiving);
// Single mode: true when that JPEG exists and is not the receiving picture
// itself, so the panel must ask before replacing it.
bool CloneNeedsReplaceConsent(const std::wstring& receiving);

// The pictures of the receiving tree and, for each, the path of the same
// relative path in the source tree (only the leading folder is replaced).
// Receiving folders that could not be listed go into `unlisted`.
void BuildCloneLists(const std::wstring& sourceDir, const std::wstring& receivingDir,
                     const std::vector<std::wstring>& patterns, std::vector<std::wstring>& sources,
                     std::vector<std::wstring>& receivings,
                     std::vector<std::wstring>* unlisted = nullptr);

// Single mode: true when the source field names nothing (empty, or no such
// path), so a run clears the receiving picture's EXIF; the panel asks first.
bool CloneClearsExif(const std::wstring& source);

// The worker: 0 or -1, and its line in g_CloneExifLog[index].
int CloneExifOne(const std::wstring& source, const std::wstring& receiving, const uint64_t& index);

// Single mode: the pair done directly (g_CloneExifLog holds its line).
// `cleared`, when given, tells whether the run cleared the EXIF block (the
// source named nothing) rather than cloning it.
bool RunCloneExifSingle(const std::wstring& source, const std::wstring& receiving,
                        bool replaceOther, bool* cleared = nullptr);

struct CloneBatchOutcome {
  size_t done = 0;
  size_t failed = 0;  // pairs that failed, and receiving folders that could not be listed
  RunReport report;  // failures and the log, for the end box
};

// Batch mode: every pair through the runner, then the receiving root's
// "log.log". Folders that do not pass CheckCloneFolders run nothing: the
// report's note says why. An empty source folder clears the EXIF block of
// every receiving picture.
CloneBatchOutcome RunCloneExifBatch(const std::wstring& sourceDir,
                                    const std::wstring& receivingDir,
                                    const std::vector<std::wstring>& patterns, int threadCount,
                                    CProgressInterface* progress, BatchRunObserver* observer);
