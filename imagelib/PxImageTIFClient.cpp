// libtiff reaches our PxFile through these client procedures, so TIFF data
// can live in any PxFile (a stream or a memory buffer).
#include <algorithm>
#include <cstdarg>
#include <cstdint>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageTIFWork.h"

namespace {

constexpr uint32_t kMaxChunk = 1u << 30;

tmsize_t PxFileReadBytesProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<PxFile*>(handle);
  if (!file || !buffer || count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<uint32_t>(std::min<tmsize_t>(count - done, kMaxChunk));
    const size_t got = file->ReadBlock(out + done, 1, chunk);
    done += static_cast<tmsize_t>(got);
    if (got < chunk) break;
  }
  return done;
}

tmsize_t PxFileWriteBytesProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<PxFile*>(handle);
  if (!file || !buffer || count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<uint32_t>(std::min<tmsize_t>(count - done, kMaxChunk));
    const size_t put = file->WriteBlock(in + done, 1, chunk);
    done += static_cast<tmsize_t>(put);
    if (put < chunk) break;
  }
  return done;
}

// PxFile offsets are 32-bit: anything libtiff asks beyond that is refused
// rather than wrapped around.
toff_t TiffSeekProc(thandle_t handle, toff_t offset, int origin) {
  auto* file = static_cast<PxFile*>(handle);
  if ((offset & 0xFFFFFFFFu) == 0xFFFFFFFFu) return static_cast<toff_t>(-1);
  const auto signedOffset = static_cast<int64_t>(offset);
  if (origin == SEEK_SET && (signedOffset < 0 || signedOffset > INT32_MAX))
    return static_cast<toff_t>(-1);
  if (signedOffset > INT32_MAX || signedOffset < INT32_MIN) return static_cast<toff_t>(-1);
  if (!file->SeekTo(static_cast<int32_t>(signedOffset), origin)) return static_cast<toff_t>(-1);
  if (origin == SEEK_SET) return offset;
  const int32_t position = file->Position();
  return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
}

toff_t PxFileSizeProc(thandle_t handle) {
  const int32_t size = static_cast<PxFile*>(handle)->TotalSize();
  return size < 0 ? 0 : static_cast<toff_t>(size);
}

int NoCloseProc(thandle_t) { return 0; }
int NoMapProc(thandle_t, void**, toff_t*) { return 0; }
void NoUnmapProc(thandle_t, void*, toff_t) {}

int DiscardMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's RGBA reader goes on past a strip it cannot read and still
// reports success; its error messages are the only sign of the damage.
int CountError(TIFF*, void* counter, const char*, const char*, va_list) {
  if (counter) ++*static_cast<int*>(counter);
  return 1;
}

}  // namespace

// libtiff's own diagnostics are not ours to print: a per-handle handler
// swallows them instead of the process-wide one.
TIFF* pxtiff::OpenClient(PxFile* file, const char* mode, int* errorCount) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, CountError, errorCount);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DiscardMessage, nullptr);
  // A hostile directory can ask libtiff for huge strip buffers; our own
  // image never exceeds the container's memory limit anyway.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t{1} << 30);
  TIFF* tif = TIFFClientOpenExt("TIFF IMAGE", mode, static_cast<thandle_t>(file),
                                PxFileReadBytesProc, PxFileWriteBytesProc, TiffSeekProc,
                                NoCloseProc, PxFileSizeProc, NoMapProc, NoUnmapProc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}
