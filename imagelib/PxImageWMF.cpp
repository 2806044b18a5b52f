#include "imagelib/PxImageWMF.h"

#include <cstring>
#include <new>

#include "imagelib/MetafilePlayback.h"
#include "imagelib/WmfWindow.h"
#include "platform/byteorder.h"

namespace {

using pw::LoadLE16;
using pw::LoadLE32;

// Bytes from `start` to the end of the file, 0 when unknown.
int64_t BytesLeft(PxFile* file, int32_t start) {
  const int32_t total = file->TotalSize();
  return (start >= 0 && total > start) ? int64_t{total} - start : 0;
}

bool ReadAll(PxFile* file, int32_t start, size_t count, std::vector<uint8_t>* out) {
  try {
    out->resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return file->SeekTo(start, 0) && file->ReadBlock(out->data(), 1, count) == count;
}

// The header record of the first enhanced metafile version: 88 bytes, up to
// the description; later versions add the pixel format and the size in
// micrometres (108 bytes).
constexpr uint64_t kEnhancedHeaderV1 = 88;

// The header's own parts lie inside the header record, and the records
// follow one another inside the bytes up to the end-of-file record: the
// playback library takes both on trust. Bytes after that record are
// dropped.
bool CheckEnhancedRecords(std::vector<uint8_t>* bytes) {
  const uint8_t* b = bytes->data();
  const uint64_t total = bytes->size();
  const uint64_t headerSize = LoadLE32(b + 4);
  if (headerSize < kEnhancedHeaderV1 || headerSize % 4 != 0 || headerSize > total) return false;
  // An offset without a length would be followed up to a terminator the
  // record may not hold: such offsets are cleared.
  uint8_t* header = bytes->data();
  const uint64_t descriptionChars = LoadLE32(b + 60), descriptionAt = LoadLE32(b + 64);
  if (descriptionChars == 0) std::memset(header + 64, 0, 4);
  else if (descriptionAt < 88 || descriptionAt + 2 * descriptionChars > headerSize) return false;
  // The first version's header ends before the pixel format fields.
  if (headerSize >= 100) {
    const uint64_t pixelFormatSize = LoadLE32(b + 88), pixelFormatAt = LoadLE32(b + 92);
    if (pixelFormatSize == 0) std::memset(header + 92, 0, 4);
    else if (pixelFormatAt < 88 || pixelFormatAt + pixelFormatSize > headerSize) return false;
  }
  constexpr uint32_t kLastRecordType = 122, kEndOfFile = 14;
  for (uint64_t at = headerSize; at + 8 <= total;) {
    const uint32_t type = LoadLE32(b + at);
    const uint64_t size = LoadLE32(b + at + 4);
    if (type < 1 || type > kLastRecordType || size < 8 || size % 4 != 0 || size > total - at) return false;
    at += size;
    if (type == kEndOfFile) {
      bytes->resize(static_cast<size_t>(at));
      return true;
    }
  }
  return false;
}

// Half the perimeter of an extent in logical units, 0 for an empty one.
uint32_t ExtentSpan(int32_t x, int32_t y) {
  return static_cast<uint32_t>(x < 0 ? -x : x) + static_cast<uint32_t>(y < 0 ? -y : y);
}

// The playback library draws a wide pen by stamping it along the line, so
// its work grows with the square of the width: a pen claiming 65535 units
// on a small picture took minutes. A pen twice as wide as an extent's half
// perimeter already covers the whole extent from any line inside it, so
// wider pens are narrowed to that, measured on the smallest extent the file
// names (its placeable frame or a window extent).
void NarrowWidePens(std::vector<uint8_t>* bytes, const std::vector<uint64_t>& penWidthsAt, uint32_t smallestSpan) {
  const uint32_t widest = smallestSpan == 0 ? 1 : 2 * smallestSpan;
  const auto limit = static_cast<uint16_t>(widest > 0x7FFF ? 0x7FFF : widest);
  uint8_t* b = bytes->data();
  for (uint64_t at : penWidthsAt) {
    if (LoadLE16(b + at) > limit) {
      b[at] = static_cast<uint8_t>(limit);
      b[at + 1] = static_cast<uint8_t>(limit >> 8);
    }
  }
}

// The records of a 16-bit metafile (after the 22-byte placeable header and
// the 18-byte metafile header) follow one another up to the end record. The
// playback library sizes its record buffer from the header's "largest
// record": that field is set to the largest record actually found.
bool CheckWmfRecords(std::vector<uint8_t>* bytes, bool* explicitWindow) {
  uint8_t* b = bytes->data();
  const uint64_t total = bytes->size();
  const uint64_t headerWords = LoadLE16(b + 22 + 2);
  uint64_t at = 22 + 2 * headerWords;
  if (headerWords < 9 || at > total) return false;
  constexpr uint16_t kSetWindowExt = 0x020C, kCreatePenIndirect = 0x02FA, kSetMapMode = 0x0103, kSetRelAbs = 0x0105;
  const auto Signed16 = [b](uint64_t at) { return int32_t{static_cast<int16_t>(LoadLE16(b + at))}; };
  uint32_t smallestSpan = ExtentSpan(Signed16(10) - Signed16(6), Signed16(12) - Signed16(8));
  std::vector<uint64_t> penWidthsAt, mapModesAt;
  uint64_t largest = 0;
  while (at + 6 <= total) {
    const uint64_t words = LoadLE32(b + at);
    const uint16_t function = LoadLE16(b + at + 4);
    if (words < 3 || words > (total - at) / 2) return false;
    if (words > largest) largest = words;
    if (function == kSetWindowExt && words >= 5) {
      const uint32_t span = ExtentSpan(Signed16(at + 8), Signed16(at + 6));
      if (span != 0 && (smallestSpan == 0 || span < smallestSpan)) smallestSpan = span;
    } else if (function == kCreatePenIndirect && words >= 5) {
      penWidthsAt.push_back(at + 8);
    } else if (function == kSetMapMode) {
      mapModesAt.push_back(at);
    }
    at += 2 * words;
    if (function == 0) {
      const auto word = static_cast<uint32_t>(largest);
      for (int i = 0; i < 4; ++i) b[22 + 12 + i] = static_cast<uint8_t>(word >> (8 * i));
      NarrowWidePens(bytes, penWidthsAt, smallestSpan);
      *explicitWindow = MakeWindowExplicit(bytes);
      if (*explicitWindow) return true;
      // A window that 16-bit records cannot state (an isotropic window
      // centred so far that its origin leaves 16 bits): the frame maps its box onto the picture whatever
      // mode the records ask for, since the playback library would take a
      // mode's own units, or an anisotropic window without a viewport, and
      // draw at a scale unrelated to the frame. Each SetMapMode becomes a
      // record that does nothing (SetRelAbs, of the same size).
      for (uint64_t modeAt : mapModesAt) {
        b[modeAt + 4] = static_cast<uint8_t>(kSetRelAbs);
        b[modeAt + 5] = static_cast<uint8_t>(kSetRelAbs >> 8);
      }
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadPlaceableWmf(PxFile* file, PlaceableWmf* out) {
  const int32_t start = file->Position();
  const int64_t left = BytesLeft(file, start);
  uint8_t head[22 + 18];
  if (left < static_cast<int64_t>(sizeof head) || file->ReadBlock(head, 1, sizeof head) != sizeof head) return false;
  if (LoadLE32(head) != 0x9AC6CDD7u) return false;
  uint16_t checksum = 0;
  for (int i = 0; i < 10; ++i) checksum ^= LoadLE16(head + 2 * i);
  if (checksum != LoadLE16(head + 20)) return false;
  out->left = static_cast<int16_t>(LoadLE16(head + 6));
  out->top = static_cast<int16_t>(LoadLE16(head + 8));
  out->right = static_cast<int16_t>(LoadLE16(head + 10));
  out->bottom = static_cast<int16_t>(LoadLE16(head + 12));
  out->inch = LoadLE16(head + 14);
  if (out->inch < 1 || out->inch > 2540) return false;
  const uint8_t* meta = head + 22;
  const uint16_t type = LoadLE16(meta);
  if (type != 1 && type != 2) return false;
  // The metafile's own size in 16-bit words: at least its header, and no
  // more than the file holds after the placeable header.
  const int64_t bytes = int64_t{LoadLE32(meta + 6)} * 2;
  if (bytes < 18 || bytes > left - 22) return false;
  if (!ReadAll(file, start, static_cast<size_t>(22 + bytes), &out->bytes)) return false;
  return CheckWmfRecords(&out->bytes, &out->explicitWindow);
}

bool ReadEnhancedMetafile(PxFile* file, EnhancedMetafile* out) {
  const int32_t start = file->Position();
  const int64_t left = BytesLeft(file, start);
  uint8_t head[kEnhancedHeaderV1];
  if (left < static_cast<int64_t>(sizeof head) || file->ReadBlock(head, 1, sizeof head) != sizeof head) return false;
  if (LoadLE32(head) != 1 || LoadLE32(head + 40) != 0x464D4520u) return false;
  out->left = static_cast<int32_t>(LoadLE32(head + 8));
  out->top = static_cast<int32_t>(LoadLE32(head + 12));
  out->right = static_cast<int32_t>(LoadLE32(head + 16));
  out->bottom = static_cast<int32_t>(LoadLE32(head + 20));
  // The header's byte count, but never more than the file still holds.
  int64_t bytes = LoadLE32(head + 48);
  if (bytes > left) bytes = left;
  if (bytes < static_cast<int64_t>(sizeof head)) return false;
  if (!ReadAll(file, start, static_cast<size_t>(bytes), &out->bytes)) return false;
  return CheckEnhancedRecords(&out->bytes);
}

bool PxImageWMF::Decode(PxFile* file) {
  if (!file) return false;
  const int32_t start = file->Position();

  PlaceableWmf wmf;
  EnhancedMetafile emf;
  bool placeable = false;
  int64_t width = 0, height = 0;
  if (ReadPlaceableWmf(file, &wmf)) {
    placeable = true;
    const int64_t inch = wmf.inch;
    width = (inch / 2 + (int64_t{wmf.right} - wmf.left) * kMetafileDpi) / inch;
    height = (inch / 2 + (int64_t{wmf.bottom} - wmf.top) * kMetafileDpi) / inch;
  } else if (file->SeekTo(start, 0) && ReadEnhancedMetafile(file, &emf)) {
    // The bounds are inclusive: their last column and row are drawn too.
    width = int64_t{emf.right} - emf.left + 1;
    height = int64_t{emf.bottom} - emf.top + 1;
  } else {
    SetLastError("corrupted WMF");
    return false;
  }
  if (width <= 0 || height <= 0) {
    SetLastError("empty WMF");
    return false;
  }
  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(width > INT32_MAX ? INT32_MAX : width);
    header.biHeight = static_cast<int32_t>(height > INT32_MAX ? INT32_MAX : height);
    info.formatId = kFormatWmf;
    SetLastError("output dimensions returned");
    return true;
  }
  // Scaled down to the limit, keeping the aspect and at least a pixel.
  if (width > kMetafileMaxSide) {
    height = height * kMetafileMaxSide / width;
    width = kMetafileMaxSide;
  }
  if (height > kMetafileMaxSide) {
    width = width * kMetafileMaxSide / height;
    height = kMetafileMaxSide;
  }
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);

  metafile::MetafileRequest request;
  request.width = w;
  request.height = h;
  const std::vector<uint8_t>& bytes = placeable ? wmf.bytes : emf.bytes;
  request.size = bytes.size();
  if (placeable) {
    // The device box is the frame moved to 0,0. With the window stated in
    // the records (WmfWindow.h) the viewport is the frame, and the device
    // counts in the frame's units; otherwise the playback library maps
    // logical units, counted from the window origin, to points.
    const float scale = wmf.explicitWindow ? 1.0f : 72.0f / static_cast<float>(wmf.inch);
    request.kind = metafile::Kind::kPlaceable;
    request.right = static_cast<float>(wmf.right - wmf.left) * scale;
    request.bottom = static_cast<float>(wmf.bottom - wmf.top) * scale;
  } else {
    request.kind = metafile::Kind::kEnhanced;
  }
  if (StopRequested()) {
    SetLastError("Cancelled");
    return false;
  }
  // The player answers in the container's own row layout, straight into
  // the picture.
  if (!Create(w, h, 24, kFormatWmf)) return false;
  if (RowStride() != metafile::RowBytes(w)) return false;
  // A metafile that cannot be played within the player's limits (its
  // records break the playback, or would cost more processor time or
  // memory than any picture should) is as good as corrupted.
  // A batch that is stopped ends a running player at once, not after its
  // processor allowance.
  switch (metafile::PlayInPlayer(request, bytes.data(), PixelRows(), [this] { return StopRequested(); })) {
    case metafile::Playback::kPlayed:
      break;
    case metafile::Playback::kCancelled:
      SetLastError("Cancelled");
      return false;
    case metafile::Playback::kFailed:
      SetLastError("corrupted WMF");
      return false;
    case metafile::Playback::kNoPlayer:
      SetLastError("WMF: the metafile player cannot be started");
      return false;
  }
  if (StopRequested()) {
    SetLastError("Cancelled");
    return false;
  }
  return true;
}
