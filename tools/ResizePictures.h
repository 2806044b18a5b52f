// The resizing tool without its window: the size rule, the output names,
// the per-file worker, the frame-by-frame path for one animated GIF, and a
// run over the dropped files and folders with a "log.log" per folder.
//
// Every result is written whole into a hidden file beside its destination,
// gets the source's EXIF tags (JPEG) and file times there, and only then
// replaces the destination: the source itself (overwrite mode) or the
// tool's own result name (rename mode; a plain file there, an earlier
// result, is replaced whole, anything else under that name is left alone).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ToolSettings.h"
#include "exif/TagDirectory.h"
#include "platform/progress.h"
#include "tools/BatchCommon.h"

// Options the workers read; set by the Start handler before a run.
extern bool g_ResizeFixedWidth;
extern bool g_ResizeKeepRatio;
extern bool g_ResizeFixedHeight;
extern bool g_ResizeGrayscale;
extern bool g_ResizeIgnoreMin;
extern int32_t g_ResizeWidth;
extern int32_t g_ResizeHeight;
// Width / height of the one picture last dropped on the panel; 0 otherwise.
extern double g_ResizeAspect;
// One result line per index of the current group.
extern std::vector<std::wstring> g_ResizeLog;

inline constexpr const wchar_t* kResizeGifText = L"GIF处理非常耗时，请稍后...";
inline constexpr const wchar_t* kResizeOverwriteTitle = L"覆盖模式提示";
inline constexpr const wchar_t* kResizeOverwriteText =
    L"1.已经选择覆盖模式，中途请不要退出程序，否则数据可能丢失！\n"
    L"2.请确保数据已经备份过！请确保所选文件或目录正确！\n"
    L"3.若包含GIF动画，则处理非常耗时，请耐心等待！\n\n是否继续？";
inline constexpr const wchar_t* kResizeBadSizeText = L"宽高不合法！";
inline constexpr const wchar_t* kResizeBadSizeTitle = L"参数非法！";
// Follows "Failed!" in the log line of an icon of several frames in
// overwrite mode: its result would keep only the widest frame.
inline constexpr const wchar_t* kResizeIconFramesReason = L"(覆盖会丢掉图标的其他帧)";
// Follows "Failed!" in the log line of a picture that cannot take the size
// asked (the result beyond the picture size limit); the end box then says
// kResizeSizeTooLargeText.
inline constexpr const wchar_t* kResizeSizeTooLargeReason = L"(超出图片大小上限)";
inline constexpr const wchar_t* kResizeSizeTooLargeText =
    L"宽度或高度太大，缩放后的图片超出大小上限，没有缩放！";
// The one default pattern list, kept with the settings.
inline constexpr const wchar_t* kResizeDefaultPatterns = kDefaultPicturePatterns;

struct ResizeRule {
  bool fixedWidth = false;
  bool keepRatio = true;
  bool fixedHeight = false;
  int32_t width = 1920;
  int32_t height = 1920;
};
ResizeRule ResizeRuleFromGlobals();

// The output size of a w0 x h0 picture by the rule: a fixed side is the
// target; the other side in proportion, rounded, made even, at least 1;
// with only "keep ratio" the fixed side is the width for portrait pictures
// and the height otherwise; with none of them exactly the target.
void ApplySizeRule(const ResizeRule& rule, int32_t w0, int32_t h0, int32_t& w, int32_t& h);

// The size of a picture as it is shown: read from its header, with width and
// height exchanged when its EXIF orientation turns it a quarter (5, 6, 8),
// as the orientation fix-up does. The panel and the worker both size by it.
// `turned` tells whether the stored pixels are the other way round,
// `hasExif` whether the picture carries an EXIF block.
bool ReadShownSize(const std::wstring& path, int32_t& width, int32_t& height, bool* turned = nullptr,
                   bool* hasExif = nullptr);

// The stored pixel size to resample to, for a picture whose shown size is
// w0 x h0 (stored turned a quarter when `turned`).
void StoredTargetSize(const ResizeRule& rule, int32_t w0, int32_t h0, bool turned, int32_t& w,
                      int32_t& h);

// The destination of `source`: itself when overwriting, else the name with
// "morvalen" before the extension (photo.jpg -> photomorvalen.jpg).
std::wstring ResizeDestination(const std::wstring& source, bool overwrite);

// A width or height edit: the text without "," as a decimal number. False
// (value unchanged) when it does not begin with one.
bool ReadSizeText(const std::wstring& text, int32_t& value);

// The side that keeps the dropped picture's aspect when the other side is
// typed: rounded, made even. False when there is nothing to keep (no aspect,
// a side below 1).
bool HeightForWidth(int32_t width, double aspect, int32_t& height);
bool WidthForHeight(int32_t height, double aspect, int32_t& width);

// The worker: resizes `source` into `destination`; 0 or -1, and its line in
// g_ResizeLog[index] when the index is inside the list.
int ResizeOnePicture(const std::wstring& source, const std::wstring& destination,
                     const uint64_t& index);

// One animated GIF resized frame by frame: 1 done, 0 the frames could not
// be converted or written (`tooLarge` set when a frame could not take the
// size), -1 not both GIF or the source does not load.
int ResizeSingleGif(const std::wstring& source, const std::wstring& destination,
                    CProgressInterface* progress, bool* damaged = nullptr,
                    bool* tooLarge = nullptr);

struct ResizeRequest {
  SourceEntries sources;
  std::vector<std::wstring> patterns;
  bool overwrite = false;  // INDEX 1
  int threadCount = 4;     // THREAD_NUM
};

struct ResizeOutcome {
  size_t groups = 0;     // groups run
  size_t done = 0;       // pictures resized
  size_t notDone = 0;    // pictures failed or ignored
  size_t tooLarge = 0;   // pictures that could not take the size asked
  RunReport report;      // failures and logs, for the end box
};

// The pictures of one group that the run reads, settled before its first
// worker starts: each once, and in rename mode none that is the result name
// of another picture of the group (an earlier run's result there is
// replaced by this run, so it is never read by it as well).
std::vector<std::wstring> PlanResizeInputs(const std::vector<std::wstring>& sources,
                                           bool overwrite);

// Runs the group of files (no log), then each folder still there (its
// "log.log" afterwards). A group of exactly one file that is a GIF is done
// frame by frame, directly.
ResizeOutcome RunResize(const ResizeRequest& request, CProgressInterface* progress,
                        BatchRunObserver* observer);
