// GIF to GIF frame by frame. Kept apart from the other picture operations
// because it drives the GIF writer's frame-list form directly.
#include <memory>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIF.h"
#include "platform/atomic_file.h"
#include "platform/text.h"
#include "tools/PictureOps.h"

bool ConvertGifFrames(const std::wstring& source, const std::wstring& target, int32_t width,
                      int32_t height, bool grey, CProgressInterface* progress) {
  PxImage first;
  if (!first.LoadFile(source, kFormatGif) || !first.HasPixels()) return false;
  const int32_t count = first.info.frameCount > 0 ? first.info.frameCount : 1;

  std::vector<std::unique_ptr<PxImage>> frames;
  std::vector<PxImage*> list;
  for (int32_t i = 0; i < count; ++i) {
    auto frame = std::make_unique<PxImage>();
    frame->info.frame = i;
    // A frame that does not load would leave a hole in the animation: the
    // whole conversion fails instead.
    if (!frame->LoadFile(source, kFormatGif) || !frame->HasPixels()) return false;
    if (width > 0 && height > 0)
      frame->Rescale(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 1);
    if (frame->PaletteSize() == 0) frame->DecreaseBpp(8, true);
    if (grey) frame->ConvertToGray();
    list.push_back(frame.get());
    frames.push_back(std::move(frame));
    if (progress) progress->SetProgress(static_cast<uint64_t>(i), static_cast<uint64_t>(count));
  }

  const std::string path = pw::WideToNarrow(target);
  if (path.empty()) return false;
  pw::AtomicFile out(path);
  if (!out.Open() || !out.Stream()) return false;
  PxIOFile file(out.Stream());  // the AtomicFile owns the stream
  PxImageGIF writer;
  writer.SetLoopCount(-1);  // written as a loop count of 0: for ever
  writer.info.disposal = first.info.disposal;
  if (!writer.Encode(&file, list.data(), static_cast<int32_t>(list.size()))) return false;
  return out.Commit();
}
