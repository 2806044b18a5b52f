// GIF to GIF frame by frame. Kept apart from the other picture operations
// because it drives the GIF writer's frame-list form directly.
#include <cstring>
#include <memory>
#include <vector>

#include "core/StringHelpers.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIF.h"
#include "platform/atomic_file.h"
#include "tools/PictureOps.h"

namespace {

bool SamePalette(const PxImage& a, const PxImage& b) {
  const uint32_t n = a.PaletteSize();
  return n == b.PaletteSize() && n > 0 &&
         std::memcmp(a.PaletteData(), b.PaletteData(), n * sizeof(RGBQUAD)) == 0;
}

// Brings a frame to the standard 8-bit palette. The background index a
// frame carries names its transparent pixels only in its own palette (or,
// in true colour, stands for its transparent colour), so after the
// reduction those pixels are given an index no opaque pixel uses, and the
// frame is written with that index as its transparent one. When the
// reduction shows every colour of the palette, the frame is written opaque.
void ToStandardPalette(PxImage& frame) {
  const int32_t width = static_cast<int32_t>(frame.Width()), height = static_cast<int32_t>(frame.Height());
  const bool transparency = frame.info.backgroundIndex >= 0;
  std::vector<uint8_t> clear;
  if (transparency) {
    clear.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) clear[size_t(y) * size_t(width) + size_t(x)] = frame.IsPixelTransparent(x, y);
  }
  frame.RaiseBitDepth(24);
  frame.DecreaseBpp(8, true);
  if (!transparency || frame.PaletteSize() == 0) return;
  bool used[256] = {};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if (!clear[size_t(y) * size_t(width) + size_t(x)]) used[frame.PixelIndexAt(x, y)] = true;
  int32_t free = -1;
  for (int32_t i = 0; i < 256 && free < 0; ++i)
    if (!used[i]) free = i;
  frame.info.backgroundIndex = free;
  if (free < 0) return;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if (clear[size_t(y) * size_t(width) + size_t(x)]) frame.StorePixelIndex(x, y, static_cast<uint8_t>(free));
}

}  // namespace

bool ConvertGifFrames(const std::wstring& source, const std::wstring& target, int32_t width,
                      int32_t height, bool grey, CProgressInterface* progress,
                      bool refuseDamaged, bool* damaged, bool* tooLarge) {
  if (damaged) *damaged = false;
  if (tooLarge) *tooLarge = false;
  PxImage first;
  if (!first.LoadFile(source, kFormatGif) || !first.HasPixels()) return false;
  if (refuseDamaged && first.IsDamaged()) return false;
  if (damaged && first.IsDamaged()) *damaged = true;
  const int32_t count = first.info.frameCount > 0 ? first.info.frameCount : 1;

  std::vector<std::unique_ptr<PxImage>> frames;
  for (int32_t i = 0; i < count; ++i) {
    auto frame = std::make_unique<PxImage>();
    frame->info.frame = i;
    if (!frame->LoadFile(source, kFormatGif) || !frame->HasPixels()) return false;
    if (refuseDamaged && frame->IsDamaged()) return false;
    if (damaged && frame->IsDamaged()) *damaged = true;
    // A frame that cannot take the asked size fails the whole picture.
    if (width > 0 && height > 0 &&
        !frame->Rescale(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1)) {
      if (tooLarge) *tooLarge = true;
      return false;
    }
    if (frame->PaletteSize() == 0) ToStandardPalette(*frame);
    if (grey && !frame->ConvertToGray()) return false;
    frames.push_back(std::move(frame));
    if (progress) progress->SetProgress(static_cast<uint64_t>(i), static_cast<uint64_t>(count));
  }
  // Every frame is shown with the first frame's palette: when the frames
  // do not share one, all of them go to the standard palette, so none is
  // shown in another frame's colours.
  bool shared = true;
  for (const auto& frame : frames) shared = shared && SamePalette(*frame, *frames[0]);
  if (!shared) {
    for (const auto& frame : frames) ToStandardPalette(*frame);
  }

  const std::string path = WideToNarrow(target);
  if (path.empty()) return false;
  pw::AtomicFile out(path);
  if (!out.Open() || !out.Stream()) return false;
  PxIOFile file(out.Stream());
  PxImageGIF writer;
  writer.SetLoopCount(-1);  // written as a loop count of 0: play for ever
  writer.info.disposal = first.info.disposal;
  std::vector<PxImage*> list;
  for (const auto& frame : frames) list.push_back(frame.get());
  if (!writer.Encode(&file, list.data(), static_cast<int32_t>(list.size()))) return false;
  return out.Commit();
}
