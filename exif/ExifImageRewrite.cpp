// Closing an edited file: the whole file is written anew into a
// replacement file (start of image, segments, comments, the image data
// copied unchanged) which takes the original's place only when every byte
// of it was written.
#include <algorithm>
#include <utility>
#include <vector>

#include "exif/ExifImageFile.h"
#include "exif/JpegMarkers.h"
#include "platform/atomic_file.h"
#include "platform/byteorder.h"

namespace {
// Marker, length field and the largest body a segment can have.
constexpr int64_t kMaxSegmentBytes = 2 + 0xFFFF;
}  // namespace

ExifResult ExifImageFile::Close() {
  ExifResult status = kExifOk;
  if (stream_ && (stream_->Mode() == ExifStream::kModeEdit || stream_->Mode() == ExifStream::kModeNew)) {
    // A file whose edit-open failed is never rewritten from what little
    // was understood of it.
    if (openStatus_ == kExifOk) status = Rewrite();
  }
  ReleaseAll();
  return status;
}

ExifResult ExifImageFile::FindImageData(int64_t* start) {
  JpegMarkerWalker walker(stream_.get());
  const ExifResult st = walker.StartOfImage();
  if (st != kExifOk) return st;
  for (;;) {
    JpegMarker m;
    if (walker.Next(&m) != JpegMarkerWalker::kMarker) return kExifReadFailed;
    if (!IsAppOrCommentMarker(m.code)) {
      *start = m.position;
      return kExifOk;
    }
    if (!walker.ReadLength(&m) || m.length < 2) return kExifReadFailed;
    walker.Pass(m);
  }
}

ExifResult ExifImageFile::WriteSegment(ExifAppSegment* segment, ExifStream* out) {
  auto* tiff = dynamic_cast<ExifTiffAppSeg*>(segment);
  if (tiff == nullptr) return segment->Write(out);
  // A segment the library made and never filled has nothing to say.
  if (tiff->IsNew() && tiff->Directories().empty()) return kExifOk;

  // The TIFF structure is laid out in a buffer of the largest size a
  // segment may have; when it does not fit, the thumbnail goes first.
  bool hasThumbnail = false;
  for (auto& d : tiff->Directories()) hasThumbnail = hasThumbnail || d->HasThumbnail();
  std::vector<uint8_t> buffer(kMaxSegmentBytes);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ExifResult st = kExifOk;
    ExifStream mem(&st, buffer.data(), kMaxSegmentBytes, "r+", 0);
    if (st != kExifOk) return kExifWriteFailed;
    mem.SetFlags(out->Flags() & ~ExifStream::kMemory);
    mem.SetByteOrder(true);
    if (tiff->Write(&mem) == kExifOk) {
      return out->WriteBytes(buffer.data(), mem.SizeOf()) ? kExifOk : kExifWriteFailed;
    }
    if (!hasThumbnail) break;
    tiff->DropThumbnails();
  }
  return kExifWriteFailed;
}

ExifResult ExifImageFile::Rewrite() {
  ExifStream* s = stream_.get();

  // The pixel dimensions in the EXIF directory follow the frame header,
  // or the new pixels when there are any. They are kept true where the
  // block states them; a block without them does not gain them (a block
  // near the segment limit would no longer fit).
  const int32_t w = writtenThroughTemp_ ? memberImage_.width : width;
  const int32_t h = writtenThroughTemp_ ? memberImage_.height : height;
  if (auto* tiff = dynamic_cast<ExifTiffAppSeg*>(segments_.FindSegment(nullptr, 0xFFE1, "Exif", true))) {
    if (TagDirectory* exifDir = tiff->FindDirectory({{0, 0}, {34665, 0}}); exifDir && w > 0 && h > 0) {
      const std::pair<uint32_t, int32_t> sides[] = {{40962, w}, {40963, h}};
      for (const auto& [tag, side] : sides) {
        const ExifTagEntry* old = exifDir->GetEntry(tag);
        // A SHORT keeps its type while the side fits in it.
        const bool asShort = old && old->Type() == kTiffShort && side <= 0xFFFF;
        if (old && asShort)
          exifDir->SetEntry(std::make_unique<ExifEntryU16>(tag, kTiffShort, 1, static_cast<unsigned short>(side)));
        else if (old)
          exifDir->SetEntry(std::make_unique<ExifEntryU32>(tag, kTiffLong, 1, static_cast<unsigned>(side)));
      }
    }
  }

  int64_t imageStart = -1;
  ExifStream* source = s;  // where the image data comes from
  std::unique_ptr<ExifImageFile> fresh;
  if (!tempName_.empty()) {
    fresh = std::make_unique<ExifImageFile>();
    const ExifResult st = OpenNewPixels(fresh.get(), &imageStart);
    if (st != kExifOk) return st;
    source = fresh->stream_.get();
  } else if (s->Mode() == ExifStream::kModeEdit) {
    const ExifResult st = FindImageData(&imageStart);
    if (st != kExifOk) return st;
  } else {
    return kExifNoImageData;  // a new file has no pixels of its own to end with
  }

  pw::AtomicFile replacement(name_);
  if (!replacement.Open() || replacement.Stream() == nullptr) return kExifOpenFailed;
  std::unique_ptr<ExifStream> out = ExifStream::Adopt(replacement.Stream(), replacement.TempPath(), "w");
  if (!out) return kExifOpenFailed;
  out->SetFlags(s->Flags() & ~ExifStream::kMemory);
  out->SetByteOrder(true);

  const uint8_t soi[2] = {0xFF, 0xD8};
  ExifResult status = out->WriteBytes(soi, 2) ? kExifOk : kExifWriteFailed;
  for (ExifAppSegment* seg : segments_.Segments()) {
    if (status != kExifOk) break;
    out->SeekEnd();
    status = WriteSegment(seg, out.get());
  }
  for (const auto& text : comments_) {
    if (status != kExifOk) break;
    uint8_t head[4] = {0xFF, 0xFE, 0, 0};
    pw::StoreBE16(head + 2, static_cast<uint16_t>(text.size() + 2));
    out->SeekEnd();
    if (!out->WriteBytes(head, 4) || !out->WriteBytes(text.data(), static_cast<int64_t>(text.size()))) {
      status = kExifWriteFailed;
    }
  }
  // The image data, unchanged, from the first marker that is not APPn or COM.
  const int64_t size = source->SizeOf();
  if (status == kExifOk && !source->SeekTo(imageStart)) status = kExifReadFailed;
  std::vector<uint8_t> chunk(1 << 16);
  out->SeekEnd();
  for (int64_t at = imageStart; status == kExifOk && at < size;) {
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(chunk.size()), size - at);
    if (!source->ReadBytes(chunk.data(), n)) status = kExifReadFailed;
    else if (!out->WriteBytes(chunk.data(), n)) status = kExifWriteFailed;
    at += n;
  }
  out->DetachFile();  // the replacement owns its FILE
  if (status != kExifOk) return status;  // the replacement removes its file
  if (!replacement.Commit()) return kExifWriteFailed;
  return kExifOk;
}
