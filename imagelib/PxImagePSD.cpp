// Drives the PSD decoder over a PxFile and copies its merged picture into a
// 24-bit image. The decoder's context is owned here for the whole read and
// released on every path.
#include "imagelib/PxImagePSD.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "psddecode/psd.h"

namespace {

int64_t PsdSizeProc(void* file) { return file ? static_cast<PxFile*>(file)->TotalSize() : 0; }

// The context record, zeroed on allocation and released with the decoder's
// own release before it is freed.
struct ContextDeleter {
  void operator()(psd_file_context* c) const {
    psd_free_context(c);
    std::free(c);
  }
};
using ContextPtr = std::unique_ptr<psd_file_context, ContextDeleter>;

ContextPtr RunDecoder(PxFile* file, int32_t start, int32_t loadMode, psd_status* status) {
  ContextPtr context(static_cast<psd_file_context*>(std::calloc(1, sizeof(psd_file_context))));
  if (!context) return context;
  file->SeekTo(start, 0);
  context->stream = file;
  context->callbacks = {PsdSizeProc, PxFileSeekProc, PxFileReadProc};
  context->state = 0;
  context->load_mode = loadMode;
  context->file_length = file->TotalSize() - start;
  *status = psd_main_loop(context.get());
  return context;
}

}  // namespace

bool PxImagePSD::Decode(PxFile* file) {
  if (!file) return false;
  const int32_t start = file->Position() > 0 ? file->Position() : 0;

  psd_status status = 0;
  ContextPtr context = RunDecoder(file, start, psd_load_everything, &status);
  if (!context) {
    SetLastError("PxImagePSD: psd_status_malloc_failed");
    return false;
  }
  // A damaged or unreadable layer section must not cost the picture: read
  // the file again without the layers and keep the merged image.
  if (status != 0 && context->state == 3) {
    ContextPtr retry = RunDecoder(file, start, psd_load_merged_and_extra_channels, &status);
    if (!retry) {
      SetLastError("PxImagePSD: psd_status_malloc_failed");
      return false;
    }
    context = std::move(retry);
  }

  auto fail = [&](const char* text) {
    SetLastError(text);
    // A dimensions-only request is answered once the header was read.
    if (info.escape == -1 && context->state > 0) {
      header.biWidth = context->width;
      header.biHeight = context->height;
      return true;
    }
    return false;
  };
  if (status != 0) return fail("PxImagePSD: psd_main_loop failed");
  const psd_file_context& c = *context;
  if (!c.merged_image || c.width <= 0 || c.height <= 0)
    return fail("PxImagePSD: psd_main_loop failed");

  const uint32_t width = uint32_t(c.width), height = uint32_t(c.height);
  if (!Create(width, height, 24, kFormatPsd)) return fail("");
  // A document cut short shows what arrived; the rest of the picture is
  // what the decoder filled in for the missing data.
  if (c.merged_image_short) {
    info.bDamaged = true;
    SetLastError("PxImagePSD: the image data ends before the end of the picture");
  }

  // Alpha: the first extra channel when it has its plane, otherwise the
  // merged picture's own transparency plane.
  const uint8_t* extra = nullptr;
  if (c.extra_channels && c.extra_channel_count > 0) extra = c.extra_channels[0].plane;
  const bool mergedAlpha = !extra && psd_merged_has_alpha(&c);
  if ((extra || mergedAlpha) && !alpha && !CreateAlphaPlane()) return fail("");

  for (uint32_t r = 0; r < height; ++r) {
    const psd_argb* src = c.merged_image + size_t(r) * width;
    const uint32_t y = height - 1 - r;
    uint8_t* row = RowAt(y);
    for (uint32_t x = 0; x < width; ++x) {
      const psd_argb v = src[x];
      row[3 * x] = uint8_t(v);
      row[3 * x + 1] = uint8_t(v >> 8);
      row[3 * x + 2] = uint8_t(v >> 16);
    }
    if (alpha) {
      uint8_t* a = alpha + size_t(y) * width;
      if (extra) {
        std::memcpy(a, extra + size_t(r) * width, width);
      } else if (mergedAlpha) {
        for (uint32_t x = 0; x < width; ++x) a[x] = uint8_t(src[x] >> 24);
      }
    }
  }
  return true;
}
