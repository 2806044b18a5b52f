#include "exif/JpegMarkers.h"

#include <algorithm>

#include "exif/ExifStream.h"
#include "platform/byteorder.h"

ExifResult JpegMarkerWalker::StartOfImage() {
  uint8_t b[2];
  if (!stream_->SeekTo(0) || !stream_->ReadBytes(b, 2)) return kExifReadFailed;
  if (b[0] != 0xFF || b[1] != 0xD8) return kExifBadData;
  position_ = 2;
  return kExifOk;
}

JpegMarkerWalker::Step JpegMarkerWalker::Next(JpegMarker* marker) {
  const int64_t size = stream_->SizeOf();
  for (;;) {
    if (position_ + 2 > size) return kEnd;
    uint8_t b[2];
    if (!stream_->SeekTo(position_) || !stream_->ReadBytes(b, 2)) return kEnd;
    marker->position = position_;
    marker->length = 0;
    if (b[0] != 0xFF) {
      marker->code = 0;
      return kNotMarker;
    }
    if (b[1] == 0xFF) {  // a fill byte before the marker
      ++position_;
      continue;
    }
    marker->code = b[1];
    return kMarker;
  }
}

bool JpegMarkerWalker::ReadLength(JpegMarker* marker) {
  uint8_t b[2];
  if (!stream_->SeekTo(marker->position + 2) || !stream_->ReadBytes(b, 2)) return false;
  marker->length = pw::LoadBE16(b);
  return true;
}

void JpegMarkerWalker::Pass(const JpegMarker& marker) {
  position_ = marker.position + 2;
  if (!IsStandaloneMarker(marker.code)) position_ += std::max<int64_t>(marker.length, 2);
}

bool JpegMarkerWalker::FindNextMarker(int64_t from) {
  const int64_t size = stream_->SizeOf();
  uint8_t chunk[4096];
  int64_t at = from;
  while (at + 1 < size) {
    const int64_t n = std::min<int64_t>(sizeof chunk, size - at);
    if (!stream_->SeekTo(at) || !stream_->ReadBytes(chunk, n)) return false;
    for (int64_t i = 0; i + 1 < n; ++i) {
      if (chunk[i] == 0xFF && chunk[i + 1] >= 0xC0 && chunk[i + 1] != 0xFF) {
        position_ = at + i;
        return true;
      }
    }
    at += n - 1;  // a 0xFF at the block's end pairs with the next block's first byte
  }
  return false;
}
