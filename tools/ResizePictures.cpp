#include "tools/ResizePictures.h"

#include <cmath>
#include <sstream>
#include <unordered_set>

#include "core/FileHelpers.h"
#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "imagelib/PxImage.h"
#include "platform/batch_runner.h"
#include "platform/files.h"
#include "core/ExifHelpers.h"
#include "tools/PictureOps.h"
#include "tools/StagedPicture.h"

bool g_ResizeFixedWidth = false;
bool g_ResizeKeepRatio = false;
bool g_ResizeFixedHeight = false;
bool g_ResizeGrayscale = false;
bool g_ResizeIgnoreMin = false;
int32_t g_ResizeWidth = 0;
int32_t g_ResizeHeight = 0;
double g_ResizeAspect = 0.0;
std::vector<std::wstring> g_ResizeLog;

namespace {

// round(other * target / base), made even, at least 1.
int32_t ProportionalSide(int32_t other, int32_t target, int32_t base) {
  const double scaled = static_cast<double>(other) * (static_cast<double>(target) / base) + 0.5;
  int64_t side = scaled >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int64_t>(scaled);
  if (side % 2 != 0) ++side;
  if (side < 1) side = 1;
  return static_cast<int32_t>(std::min<int64_t>(side, INT32_MAX - 1));
}

void SetLine(const uint64_t& index, std::wstring line) {
  if (index < g_ResizeLog.size()) g_ResizeLog[index] = std::move(line);
}

int Failed(const std::wstring& source, const uint64_t& index) {
  SetLine(index, L"Resize" + source + L" Failed!\n");
  return -1;
}

int FailedBecause(const std::wstring& source, const uint64_t& index, const wchar_t* reason) {
  SetLine(index, L"Resize" + source + L" Failed! " + reason + L"\n");
  return -1;
}

// Icons and TIFF files may hold several pictures; the picture operations
// write one. An icon's result beside it is made from its widest frame; over
// the original that would drop the other frames, so there it is refused, as
// is a TIFF of several pages in both modes.
bool HoldsSeveralFrames(const std::wstring& path, ImageFormatId format) {
  if (format != kFormatIco && format != kFormatTif) return false;
  PxImage probe;
  if (format == kFormatTif) probe.info.escape = -1;
  probe.LoadFile(path, format);
  return probe.info.frameCount > 1;
}

// In rename mode the result's name belongs to the tool: an earlier result
// there is replaced whole, so the folder can be resized again at another
// size. A name that is not a plain file (a link, perhaps to the source, a
// folder) is never written through.
bool MayTakeDestination(const std::wstring& destination) {
  return pw::KindOfName(WideToNarrow(destination)) != pw::NameKind::kOther;
}

}  // namespace

ResizeRule ResizeRuleFromGlobals() {
  ResizeRule rule;
  rule.fixedWidth = g_ResizeFixedWidth;
  rule.keepRatio = g_ResizeKeepRatio;
  rule.fixedHeight = g_ResizeFixedHeight;
  rule.width = g_ResizeWidth;
  rule.height = g_ResizeHeight;
  return rule;
}

void ApplySizeRule(const ResizeRule& rule, int32_t w0, int32_t h0, int32_t& w, int32_t& h) {
  const bool byWidth = rule.fixedWidth || (!rule.fixedHeight && rule.keepRatio && w0 < h0);
  const bool byHeight = !byWidth && (rule.fixedHeight || rule.keepRatio);
  if (byWidth && w0 > 0) {
    w = rule.width;
    h = ProportionalSide(h0, rule.width, w0);
  } else if (byHeight && h0 > 0) {
    h = rule.height;
    w = ProportionalSide(w0, rule.height, h0);
  } else {
    w = rule.width;
    h = rule.height;
  }
}

bool ReadShownSize(const std::wstring& path, int32_t& width, int32_t& height, bool* turned,
                   bool* hasExif) {
  const ImageFormatId format = ImageTypeFromPath(path);
  PxImage image;
  image.info.escape = -1;  // the header is enough where the reader can stop there
  bool ok = image.LoadFile(path, format) && image.Width() > 0 && image.Height() > 0;
  if (!ok) {
    PxImage full;
    ok = full.LoadFile(path, format) && full.HasPixels();
    if (!ok) return false;
    image.CopyFrom(full, false, false, false);
    image.info.exif = full.info.exif;
  }
  const bool quarter = StoredOnItsSide(image.info.exif.orientation);
  width = static_cast<int32_t>(quarter ? image.Height() : image.Width());
  height = static_cast<int32_t>(quarter ? image.Width() : image.Height());
  if (turned) *turned = quarter;
  if (hasExif) *hasExif = image.info.exif.present;
  return width > 0 && height > 0;
}

void StoredTargetSize(const ResizeRule& rule, int32_t w0, int32_t h0, bool turned, int32_t& w,
                      int32_t& h) {
  ApplySizeRule(rule, w0, h0, w, h);
  if (turned) std::swap(w, h);
}

std::wstring ResizeDestination(const std::wstring& source, bool overwrite) {
  if (overwrite) return source;
  return ReplaceExtension(source, L"morvalen" + GetExtension(source, true));
}

bool ReadSizeText(const std::wstring& text, int32_t& value) {
  std::wistringstream in(ReplaceAll(text, L",", L""));
  int32_t read = 0;
  if (!(in >> read)) return false;
  value = read;
  return true;
}

bool HeightForWidth(int32_t width, double aspect, int32_t& height) {
  if (aspect <= 0.00001 || width <= 0) return false;
  auto h = static_cast<int32_t>(std::min(width / aspect + 0.5, 2147483646.0));
  if (h % 2 != 0) ++h;
  height = h;
  return true;
}

bool WidthForHeight(int32_t height, double aspect, int32_t& width) {
  if (aspect <= 0.00001 || height <= 0) return false;
  auto w = static_cast<int32_t>(std::min(height * aspect + 0.5, 2147483646.0));
  if (w % 2 != 0) ++w;
  width = w;
  return true;
}

int ResizeOnePicture(const std::wstring& source, const std::wstring& destination,
                     const uint64_t& index) {
  const std::string narrowSource = WideToNarrow(source);
  pw::FileTimes times;
  if (narrowSource.empty() || !pw::GetFileTimes(narrowSource, times)) return Failed(source, index);

  const ImageFormatId format = ImageTypeFromPath(source);
  int32_t w0 = 0, h0 = 0;
  bool turned = false, hasExif = false;
  if (!ReadShownSize(source, w0, h0, &turned, &hasExif)) return Failed(source, index);
  const bool overwrite = source == destination;
  if (HoldsSeveralFrames(source, format)) {
    if (format != kFormatIco) return Failed(source, index);
    if (overwrite) return FailedBecause(source, index, kResizeIconFramesReason);
    // The widest frame is the picture resized: the rule sizes by it.
    int32_t frame = 0;
    if (!ChooseIcoFrame(source, frame, w0, h0) || w0 < 1 || h0 < 1) return Failed(source, index);
  }

  const ResizeRule rule = ResizeRuleFromGlobals();
  if (g_ResizeIgnoreMin && rule.width >= w0 && rule.height >= h0) {
    SetLine(index, L"Ignore " + source + L" !\n");
    return -1;
  }
  int32_t w = 0, h = 0;
  StoredTargetSize(rule, w0, h0, turned, w, h);

  // The tags are read before anything is written: in overwrite mode the
  // source is the destination.
  std::unique_ptr<ExifTagSource> tags;
  if (IsJpegFile(source)) tags = std::make_unique<ExifTagSource>(source);
  if (!overwrite && !MayTakeDestination(destination)) return Failed(source, index);
  // An EXIF block the tag reader cannot take would be lost: the picture
  // fails rather than giving a result without its tags.
  if (tags && (tags->Unreadable() || (hasExif && !tags->Opened()))) return Failed(source, index);

  StagedPicture staged(destination);
  if (!staged.Create()) return Failed(source, index);
  // A picture that decoded only in part is never written over itself.
  // A JPEG is decoded no larger than the output needs: at the strongest
  // reduction 1/2^k of its stored size that still covers w x h (source and result
  // share the format, so the picture is not turned on the way).
  const int32_t storedW = turned ? h0 : w0, storedH = turned ? w0 : h0;
  const uint8_t jpegScale = format == kFormatJpg ? JpegScaleCovering(storedW, storedH, w, h) : 1;
  bool damaged = false, tooLarge = false;
  if (!ConvertPicture(source, staged.Path(), w, h, g_ResizeGrayscale, overwrite, jpegScale,
                      &damaged, &tooLarge))
    return tooLarge ? FailedBecause(source, index, kResizeSizeTooLargeReason) : Failed(source, index);
  // The result shows the same picture: its tags, thumbnail (unless it lost
  // its colours), colour profile and XMP packet go along.
  // A result whose tags could not be carried (a full disk, a block that no
  // longer fits its segment) is not a success: over the source it would
  // lose them for good, and beside it the log would hide their loss.
  if (tags && tags->Opened() &&
      !CarryJpegMetadata(staged.Path(), tags.get(), !g_ResizeGrayscale, tags.get()))
    return Failed(source, index);
  tags.reset();
  // A PNG's eXIf chunk goes along likewise. In overwrite mode the source is
  // still the original here: the result is only staged.
  if (!CarryPngExif(source, destination, staged.Path(), static_cast<uint32_t>(w),
                    static_cast<uint32_t>(h)))
    return Failed(source, index);
  if (!staged.Commit(true, &times)) return Failed(source, index);
  // Beside a damaged source the result is still made, and says so.
  SetLine(index, DoneLine(source, destination, damaged));
  return 0;
}

int ResizeSingleGif(const std::wstring& source, const std::wstring& destination,
                    CProgressInterface* progress, bool* damaged, bool* tooLarge) {
  if (damaged) *damaged = false;
  if (tooLarge) *tooLarge = false;
  if (ChangeCase(GetExtension(source, false), true) != L"gif" ||
      ChangeCase(GetExtension(destination, false), true) != L"gif")
    return -1;
  pw::IgnoreFileSizeSignal();  // done here, not through the runner
  PxImage first;
  if (!first.LoadFile(source, kFormatGif) || !first.HasPixels()) return -1;
  int32_t w = 0, h = 0;
  ApplySizeRule(ResizeRuleFromGlobals(), static_cast<int32_t>(first.Width()),
                static_cast<int32_t>(first.Height()), w, h);
  if (source != destination && !MayTakeDestination(destination)) return 0;
  StagedPicture staged(destination);
  if (!staged.Create()) return 0;
  if (!ConvertGifFrames(source, staged.Path(), w, h, g_ResizeGrayscale, progress,
                        source == destination, damaged, tooLarge))
    return 0;
  return staged.Commit(true, nullptr) ? 1 : 0;
}

std::vector<std::wstring> PlanResizeInputs(const std::vector<std::wstring>& sources,
                                           bool overwrite) {
  std::unordered_set<std::wstring> seen, results;
  if (!overwrite)
    for (const std::wstring& source : sources) results.insert(ResizeDestination(source, false));
  std::vector<std::wstring> inputs;
  for (const std::wstring& source : sources)
    if (!results.contains(source) && seen.insert(source).second) inputs.push_back(source);
  return inputs;
}

namespace {

// One group through the runner (or the single-GIF path); returns the
// number of pictures done.
void RunResizeGroup(const std::vector<std::wstring>& sources, bool overwrite, bool singleGif,
                    int barPosition, const ResizeRequest& request, CProgressInterface* progress,
                    BatchRunObserver* observer, ResizeOutcome& outcome) {
  std::vector<std::wstring> destinations;
  destinations.reserve(sources.size());
  for (const std::wstring& source : sources)
    destinations.push_back(ResizeDestination(source, overwrite));

  ++outcome.groups;
  if (progress) progress->BeginProgress();
  if (observer) {
    observer->GroupText(HasGifFile(sources) ? kResizeGifText : kBusyText);
    observer->GroupStarted(barPosition);
  }
  g_ResizeLog.assign(sources.size(), std::wstring());
  if (singleGif) {
    bool damaged = false, tooLarge = false;
    const int result = ResizeSingleGif(sources[0], destinations[0], progress, &damaged, &tooLarge);
    (result == 1 ? outcome.done : outcome.notDone) += 1;
    if (result == 1)
      g_ResizeLog[0] = DoneLine(sources[0], destinations[0], damaged);
    else if (tooLarge)
      FailedBecause(sources[0], 0, kResizeSizeTooLargeReason);
    else
      Failed(sources[0], 0);
  } else {
    const int failures =
        ProcessVector(sources, destinations, ResizeOnePicture, progress, request.threadCount);
    const size_t failed = failures > 0 ? static_cast<size_t>(failures) : 0;
    outcome.notDone += failed;
    outcome.done += sources.size() - std::min(failed, sources.size());
  }
  if (observer) observer->GroupFinished();
  if (progress) progress->EndProgress();
  const std::wstring tooLargeEnd = std::wstring(kResizeSizeTooLargeReason) + L"\n";
  for (const std::wstring& line : g_ResizeLog)
    if (line.starts_with(L"Resize") && line.ends_with(tooLargeEnd)) ++outcome.tooLarge;
}

}  // namespace

ResizeOutcome RunResize(const ResizeRequest& request, CProgressInterface* progress,
                        BatchRunObserver* observer) {
  ResizeOutcome outcome;
  const SourceEntries& entries = request.sources;
  if (!entries.files.empty()) {
    RemoveAbandonedStagedFilesBeside(entries.files);
    const std::vector<std::wstring> files =
        PlanResizeInputs(WithoutStagedFiles(entries.files), request.overwrite);
    const bool singleGif = files.size() == 1 && HasGifFile(files);
    if (!files.empty()) {
      RunResizeGroup(files, request.overwrite, singleGif, FileGroupBarPosition(), request,
                     progress, observer, outcome);
      // The dropped files get no log: the box names the failed ones.
      const std::vector<std::wstring> failed = FailedSources(g_ResizeLog, files, L"Resize");
      outcome.report.failed += failed.size();
      outcome.report.unloggedFailures.insert(outcome.report.unloggedFailures.end(),
                                             failed.begin(), failed.end());
      AddDamagedSources(g_ResizeLog, files, outcome.report.damagedSources);
    }
  }
  for (size_t i = 0; i < entries.folders.size(); ++i) {
    const std::wstring& folder = entries.folders[i];
    const std::string narrow = WideToNarrow(folder);
    if (narrow.empty() || !pw::FolderExists(narrow)) continue;  // gone since Start
    RemoveAbandonedStagedFiles(folder);
    std::vector<std::wstring> unlisted;
    const std::vector<std::wstring> pictures =
        PlanResizeInputs(ListPictures(folder, request.patterns, &unlisted), request.overwrite);
    RunResizeGroup(pictures, request.overwrite, false, FolderBarPosition(i, entries.entryCount),
                   request, progress, observer, outcome);
    AddUnlistedFolders(unlisted, L"Resize", g_ResizeLog, outcome.report);
    const size_t failed = CountFailedLines(g_ResizeLog, L"Resize");
    outcome.report.failed += failed;
    AddDamagedSources(g_ResizeLog, pictures, outcome.report.damagedSources);
    WriteResultLog(folder, g_ResizeLog, failed, outcome.report);
  }
  if (outcome.tooLarge > 0) outcome.report.notes.push_back(kResizeSizeTooLargeText);
  ReportSources(entries, outcome.done + outcome.notDone, outcome.report);
  return outcome;
}
