#include "tools/PictureOps.h"

#include <cstring>
#include <memory>

#include "core/PathHelpers.h"
#include "core/PngExifChunk.h"
#include "core/StringHelpers.h"
#include "imagelib/PxFile.h"
#include "platform/atomic_file.h"

std::atomic<int> g_JpegQuality{90};

namespace {

// round(a / b * c), made even, at least 1: the joined and fixed sides stay
// even so that JPEG chroma blocks line up.
uint32_t EvenScaledSide(double a, double b, double c) {
  auto side = static_cast<int64_t>(a / b * c + 0.5);
  if (side % 2 != 0) ++side;
  if (side < 1) side = 1;
  if (side > INT32_MAX) side = INT32_MAX;
  return static_cast<uint32_t>(side);
}

// Depth, quality and size as the target format wants them. False when the
// asked size or grey could not be made (a size beyond the memory limit,
// which sets `tooLarge`): the picture at its old size is not the result the
// user asked for.
bool PrepareForFormat(PxImage& image, ImageFormatId target, int32_t width, int32_t height,
                      bool grey, bool* tooLarge) {
  if (!KeepsPalette(image) && target != kFormatGif) image.RaiseBitDepth(24);
  if (target == kFormatJpg) image.info.jpegQuality = static_cast<float>(g_JpegQuality.load());
  if (target == kFormatGif) image.DecreaseBpp(8, true);
  if (width > 0 && height > 0 &&
      !image.Rescale(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1)) {
    if (tooLarge) *tooLarge = true;
    return false;
  }
  return !grey || image.ConvertToGray();
}

bool LoadUpright(PxImage& image, const std::wstring& path, ImageFormatId format) {
  if (!image.LoadFile(path, format) || !image.HasPixels()) return false;
  ApplyExifOrientation(image);
  return true;
}

// Loads `source`, prepares it for `target` format and writes it.
bool ConvertPictureAs(const std::wstring& source, const std::wstring& target,
                      ImageFormatId targetFormat, int32_t width, int32_t height, bool grey,
                      bool refuseDamaged = false, uint8_t jpegScale = 1,
                      bool* damaged = nullptr, bool* tooLarge = nullptr) {
  const ImageFormatId sourceFormat = ImageTypeFromPath(source);
  PxImage image;
  // Only the JPEG reader looks at the scale; every other one decodes whole.
  if (width > 0 && height > 0) image.info.jpegScale = jpegScale;
  if (!image.LoadFile(source, sourceFormat) || !image.HasPixels()) return false;
  if (refuseDamaged && image.IsDamaged()) return false;
  if (damaged) *damaged = image.IsDamaged();
  // A JPEG written as JPEG keeps its orientation tag's meaning untouched.
  if (sourceFormat != targetFormat) ApplyExifOrientation(image);
  if (!PrepareForFormat(image, targetFormat, width, height, grey, tooLarge)) return false;
  return WritePicture(image, target, targetFormat);
}

// An icon's widest frame, upright.
bool LoadWidestIconFrame(PxImage& image, const std::wstring& path) {
  if (!LoadUpright(image, path, kFormatIco)) return false;
  int32_t frame = 0, frameWidth = 0, frameHeight = 0;
  if (!ChooseIcoFrame(path, frame, frameWidth, frameHeight)) return false;
  image.info.frame = frame;
  return LoadUpright(image, path, kFormatUnknown);
}

// An icon converted from its widest frame into `targetFormat`.
bool ConvertIcoPictureAs(const std::wstring& source, const std::wstring& target, ImageFormatId targetFormat,
                         int32_t width, int32_t height, bool grey, bool refuseDamaged = false,
                         bool* damaged = nullptr, bool* tooLarge = nullptr) {
  PxImage image;
  if (!LoadWidestIconFrame(image, source)) return false;
  if (refuseDamaged && image.IsDamaged()) return false;
  if (damaged) *damaged = image.IsDamaged();
  if (!PrepareForFormat(image, targetFormat, width, height, grey, tooLarge)) return false;
  return WritePicture(image, target, targetFormat);
}

// One picture into `targetFormat`; an icon goes through its widest frame.
bool ConvertPictureTo(const std::wstring& source, const std::wstring& target, ImageFormatId targetFormat,
                      int32_t width, int32_t height, bool grey, bool refuseDamaged = false,
                      uint8_t jpegScale = 1, bool* damaged = nullptr, bool* tooLarge = nullptr) {
  if (ImageTypeFromPath(source) == kFormatIco)
    return ConvertIcoPictureAs(source, target, targetFormat, width, height, grey, refuseDamaged,
                               damaged, tooLarge);
  return ConvertPictureAs(source, target, targetFormat, width, height, grey, refuseDamaged,
                          jpegScale, damaged, tooLarge);
}

}  // namespace

ImageFormatId ImageTypeFromPath(const std::wstring& path) {
  const std::wstring extension = ChangeCase(GetExtension(path, false), true);
  if (extension.empty()) return kFormatUnknown;
  return FormatIdFromExtension(extension);
}

// Orientations 2, 4, 5 and 7 are mirrored as well as turned: 5 is a
// top-bottom mirror, then a clockwise turn; 7 the mirror, then a
// counter-clockwise turn.
void ApplyExifOrientation(PxImage& image) {
  switch (image.info.exif.orientation) {
    case 2:
      image.FlipHorizontal();
      break;
    case 3:
      image.Turn180();
      break;
    case 4:
      image.FlipVertical();
      break;
    case 5:
      image.FlipVertical();
      image.TurnRight();
      break;
    case 6:
      image.TurnRight();
      break;
    case 7:
      image.FlipVertical();
      image.TurnLeft();
      break;
    case 8:
      image.TurnLeft();
      break;
    default:
      break;
  }
  image.info.exif.orientation = 1;
}

bool StoredOnItsSide(int32_t orientation) { return orientation >= 5 && orientation <= 8; }

bool KeepsPalette(const PxImage& image) { return image.HasGrayPalette(); }

bool WritePicture(PxImage& image, const std::wstring& target, ImageFormatId format) {
  const std::string path = WideToNarrow(target);
  if (path.empty() || !image.HasPixels()) return false;
  pw::AtomicFile out(path);
  if (!out.Open()) return false;
  FILE* stream = out.Stream();
  if (!stream) return false;
  PxIOFile file(stream);                           // does not own the stream: the AtomicFile does
  if (!image.Encode(&file, format)) return false;  // the temporary file goes away
  return out.Commit();
}

uint8_t JpegScaleCovering(int32_t storedW, int32_t storedH, int32_t w, int32_t h) {
  if (storedW < 1 || storedH < 1 || w < 1 || h < 1) return 1;
  for (int64_t denom : {8, 4, 2}) {
    // The decoder's size at 1/denom, rounded up as libjpeg rounds it.
    if ((storedW + denom - 1) / denom >= w && (storedH + denom - 1) / denom >= h)
      return static_cast<uint8_t>(denom);
  }
  return 1;
}

bool ConvertPicture(const std::wstring& source, const std::wstring& target, const int32_t& width,
                    const int32_t& height, const bool& grey, bool refuseDamaged,
                    uint8_t jpegScale, bool* damaged, bool* tooLarge) {
  if (damaged) *damaged = false;
  if (tooLarge) *tooLarge = false;
  const ImageFormatId a = ImageTypeFromPath(source);
  const ImageFormatId b = ImageTypeFromPath(target);
  if (a == kFormatGif && b == kFormatGif)
    return ConvertGifFrames(source, target, width, height, grey, nullptr, refuseDamaged, damaged,
                            tooLarge);
  return ConvertPictureTo(source, target, b, width, height, grey, refuseDamaged, jpegScale,
                          damaged, tooLarge);
}

bool ChooseIcoFrame(const std::wstring& path, int32_t& frame, int32_t& width, int32_t& height) {
  PxImage first;
  if (!first.LoadFile(path, kFormatIco) || !first.HasPixels()) return false;
  const int32_t frames = first.info.frameCount;
  frame = 0;
  width = -1;
  height = -1;
  for (int32_t i = 0; i < frames; ++i) {
    PxImage candidate;
    candidate.info.frame = i;
    if (!candidate.LoadFile(path, kFormatUnknown) || !candidate.HasPixels()) continue;
    const auto w = static_cast<int32_t>(candidate.Width());
    if (width < 0 || w >= width) {
      frame = i;
      width = w;
      height = static_cast<int32_t>(candidate.Height());
    }
  }
  return true;
}

bool ConvertIcoPicture(const std::wstring& source, const std::wstring& target, int32_t width,
                       int32_t height, bool grey, bool refuseDamaged) {
  return ConvertIcoPictureAs(source, target, ImageTypeFromPath(target), width, height, grey, refuseDamaged);
}

bool JoinSideBySide(PxImage* left, PxImage* right, PxImage* out) {
  if (!left || !right || !out || !left->HasPixels()) return false;
  const uint32_t depth = left->Bpp();
  if (right->Bpp() > depth)
    right->DecreaseBpp(depth, false);
  else if (right->Bpp() < depth && right->HasPixels())
    right->RaiseBitDepth(depth);
  if (left->Height() > 0 && right->Height() > 0 && right->Width() > 0) {
    const uint32_t newWidth = EvenScaledSide(right->Width(), right->Height(), left->Height());
    if (!right->Rescale(newWidth, left->Height(), 1)) return false;
  }
  const uint64_t width = uint64_t{left->Width()} + (right->HasPixels() ? right->Width() : 0);
  if (width > UINT32_MAX || !out->Create(static_cast<uint32_t>(width), left->Height(), depth, 0))
    return false;
  std::memset(out->PixelRows(), 0, out->ImageBytes());
  // A palette result takes the first picture's palette, so its pixels keep
  // their colours.
  if (left->PaletteSize() > 0) out->LoadPalette(left->PaletteData(), left->PaletteSize());
  out->PasteImage(*left, 0, 0);
  if (right->HasPixels()) out->PasteImage(*right, static_cast<int32_t>(left->Width()), 0);
  return true;
}

bool JoinTopToBottom(PxImage* top, PxImage* bottom, PxImage* out) {
  if (!top || !bottom || !out || !top->HasPixels()) return false;
  const uint32_t depth = top->Bpp();
  if (bottom->Bpp() > depth)
    bottom->DecreaseBpp(depth, false);
  else if (bottom->Bpp() < depth && bottom->HasPixels())
    bottom->RaiseBitDepth(depth);
  if (top->Width() > 0 && bottom->Width() > 0 && bottom->Height() > 0) {
    const uint32_t newHeight = EvenScaledSide(bottom->Height(), bottom->Width(), top->Width());
    if (!bottom->Rescale(top->Width(), newHeight, 1)) return false;
  }
  const uint32_t bottomHeight = bottom->HasPixels() ? bottom->Height() : 0;
  const uint64_t height = uint64_t{top->Height()} + bottomHeight;
  if (height > UINT32_MAX || !out->Create(top->Width(), static_cast<uint32_t>(height), depth, 0))
    return false;
  std::memset(out->PixelRows(), 0, out->ImageBytes());
  if (top->PaletteSize() > 0) out->LoadPalette(top->PaletteData(), top->PaletteSize());
  // Rows count from the bottom: the first picture goes above.
  out->PasteImage(*top, 0, static_cast<int32_t>(bottomHeight));
  if (bottom->HasPixels()) out->PasteImage(*bottom, 0, 0);
  return true;
}

namespace {

// One picture of a merge, upright; an icon through its widest frame.
bool LoadMergePicture(PxImage& image, const std::wstring& path) {
  if (ImageTypeFromPath(path) == kFormatIco) return LoadWidestIconFrame(image, path);
  return LoadUpright(image, path, kFormatUnknown);
}

}  // namespace

bool MergePictures(std::vector<std::wstring> files, const std::wstring& output, bool vertical,
                   int32_t fixedSize, bool grey, CProgressInterface* progress, bool* tooLarge) {
  if (tooLarge) *tooLarge = false;
  if (files.empty()) return false;
  const ImageFormatId outputFormat = ImageTypeFromPath(output);
  // The first picture is loaded as it is: any staging file on the way would
  // be written by its format's own rules (the TIFF writer compresses true
  // colour as JPEG) and change its pixels. Its depth sets the merged
  // picture's, so it is brought to true colour as a converted picture is.
  PxImage merged;
  if (!LoadMergePicture(merged, files[0])) return false;
  if (!KeepsPalette(merged)) merged.RaiseBitDepth(24);
  if (fixedSize > 0 && merged.Width() > 0 && merged.Height() > 0) {
    const auto s = static_cast<uint32_t>(fixedSize);
    // A size the picture cannot take would leave it at its own: a merge of
    // another size than asked, which is no result.
    const bool scaled = vertical ? merged.Rescale(s, EvenScaledSide(s, merged.Width(), merged.Height()), 1)
                                 : merged.Rescale(EvenScaledSide(s, merged.Height(), merged.Width()), s, 1);
    if (!scaled) {
      if (tooLarge) *tooLarge = true;
      return false;
    }
  }

  bool allLoaded = true;
  const uint64_t total = files.size();
  for (size_t i = 1; i < files.size(); ++i) {
    PxImage next;
    if (!LoadMergePicture(next, files[i])) {
      allLoaded = false;  // the others are still merged, but the group failed
      continue;
    }
    PxImage joined;
    const bool ok = vertical ? JoinTopToBottom(&merged, &next, &joined)
                             : JoinSideBySide(&merged, &next, &joined);
    if (!ok) {
      if (tooLarge) *tooLarge = true;  // the joined picture, or a side of it, is beyond the limit
      return false;
    }
    merged.CopyFrom(joined, true, true, true);
    if (progress) progress->SetProgress(i, total);
  }
  if (outputFormat == kFormatGif) merged.DecreaseBpp(8, true);
  if (outputFormat == kFormatJpg) merged.info.jpegQuality = static_cast<float>(g_JpegQuality.load());
  if (grey) merged.ConvertToGray();
  const bool written = WritePicture(merged, output, outputFormat);
  return written && allLoaded;
}

bool ReadJpegHeader(const std::wstring& path, PxImage& image) {
  image.info.escape = -1;  // the header and the EXIF block, not the pixels
  const bool ok = image.LoadFile(path, kFormatJpg) && image.info.formatId == kFormatJpg &&
                  image.Width() > 0 && image.Height() > 0;
  image.info.escape = 0;
  return ok;
}

namespace {

bool ShootingTimeOf(const ExifSummary& exif, std::wstring& text) {
  if (!exif.present || exif.dateTime[0] == '\0') return false;
  const std::string dateTime(exif.dateTime, strnlen(exif.dateTime, sizeof exif.dateTime));
  text = TrimSpaces(NarrowToWide(dateTime), L' ');
  return !text.empty();
}

}  // namespace

bool ReadShootingTime(std::wstring path, std::wstring& text) {
  // Only the EXIF block is wanted: a JPEG's header gives it without
  // decoding a single pixel.
  PxImage image;
  if (!ReadJpegHeader(path, image)) return false;
  return ShootingTimeOf(image.info.exif, text);
}

bool ReadStatedShootingTime(const std::wstring& path, std::wstring& text) {
  const ImageFormatId format = ImageTypeFromPath(path);
  if (format != kFormatTif && format != kFormatPng) return false;
  PxImage image;
  image.info.escape = -1;  // both readers give their EXIF with the header
  if (!image.LoadFile(path, format) || image.info.formatId != format) return false;
  return ShootingTimeOf(image.info.exif, text);
}

bool CarryPngExif(const std::wstring& source, const std::wstring& destination,
                  const std::wstring& staged, uint32_t width, uint32_t height) {
  if (ImageTypeFromPath(source) != kFormatPng || ImageTypeFromPath(destination) != kFormatPng)
    return true;
  std::vector<uint8_t> block;
  const PngExifRead read = ReadPngExifChunk(source, block);
  if (read == PngExifRead::kNone) return true;
  if (read == PngExifRead::kUnreadable) return false;
  // A block that is no TIFF structure goes along as it is: better its
  // sizes untrue than its tags lost.
  if (width > 0 && height > 0) SetExifPixelSize(block, width, height);
  return WritePngExifChunk(staged, block);
}
