// The pixel road of an edited file: new pixels are written into a
// temporary JPEG file in $TMPDIR, and the rewrite on close takes that
// file's image data (and its APPn segments, e.g. the ICC profile) in
// place of the file's own. Reads go through the file's own decoder.
#include <unistd.h>

#include <cstring>

#include "exif/ExifImageFile.h"
#include "platform/temp_file.h"

void ExifImageFile::ReleasePixelRoad() {
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
  writtenThroughTemp_ = false;
  iccProfile_.clear();
  // The decoder reads from the stream that has just been closed.
  decompressor_.reset();
  decompressing_ = false;
}

ExifResult ExifImageFile::WriteImage(const ThumbnailImage& image, int32_t rows, int32_t* outWritten,
                                     int32_t* outTotal) {
  if (outWritten) *outWritten = 0;
  if (outTotal) *outTotal = 0;
  if (!tempName_.empty()) return kExifNotDone;
  // A file opened for reading is never rewritten, so new pixels would go nowhere.
  if (!stream_ || stream_->Mode() == ExifStream::kModeRead) return kExifWriteFailed;
  const std::string name = pw::CreateTempFile("oet");
  if (name.empty()) return kExifOpenFailed;
  ExifResult status = memberImage_.Open(name, "w");
  if (status == kExifOk && !iccProfile_.empty()) {
    status = memberImage_.SetIccProfile(iccProfile_.data(), static_cast<uint32_t>(iccProfile_.size()));
    iccProfile_.clear();
  }
  int32_t written = 0, total = 0;
  if (status == kExifOk) status = memberImage_.WriteImage(image, rows, &written, &total);
  memberImage_.Close();
  if (outWritten) *outWritten = written;
  if (outTotal) *outTotal = total;
  // Only a temporary file holding every row may replace the image data.
  if (status == kExifOk && (total <= 0 || total != memberImage_.height)) status = kExifNotDone;
  if (status != kExifOk) {
    ::unlink(name.c_str());
    return status;
  }
  tempName_ = name;
  writtenThroughTemp_ = true;
  return kExifOk;
}

ExifResult ExifImageFile::ReadImage(ThumbnailImage& image, int32_t rows, int32_t* outRead, bool* outDone) {
  if (!decompressor_ && stream_ &&
      (stream_->Mode() == ExifStream::kModeRead || stream_->Mode() == ExifStream::kModeEdit)) {
    if (OpenDecoder() != kExifOk) {
      decompressor_.reset();
      if (outRead) *outRead = 0;
      if (outDone) *outDone = false;
      return kExifNotDone;
    }
  }
  return ExifJpegImage::ReadImage(image, rows, outRead, outDone);
}

// The frame description belongs to the file itself: image information and
// tables describe the new pixels and go to the writing image only.
ExifResult ExifImageFile::SetImageInfo(int32_t w, int32_t h, uint16_t comps, uint16_t prec, int32_t colour,
                                       const uint8_t samplingBytes[4], const uint8_t tableNumbers[4]) {
  return memberImage_.SetImageInfo(w, h, comps, prec, colour, samplingBytes, tableNumbers);
}

void ExifImageFile::SetDctMethod(int32_t method) {
  ExifJpegImage::SetDctMethod(method);
  memberImage_.SetDctMethod(method);
}

void ExifImageFile::SetQuality(uint16_t value) {
  ExifJpegImage::SetQuality(value);
  memberImage_.SetQuality(value);
}

void ExifImageFile::SetSmoothing(uint16_t value) {
  ExifJpegImage::SetSmoothing(value);
  memberImage_.SetSmoothing(value);
}

void ExifImageFile::SetOptimizeCoding(bool on) {
  ExifJpegImage::SetOptimizeCoding(on);
  memberImage_.SetOptimizeCoding(on);
}

void ExifImageFile::SetProgressive(bool on) {
  ExifJpegImage::SetProgressive(on);
  memberImage_.SetProgressive(on);
}

ExifResult ExifImageFile::SetScale(int scale, int32_t* outWidth, int32_t* outHeight) {
  memberImage_.SetScale(scale, nullptr, nullptr);
  return ExifJpegImage::SetScale(scale, outWidth, outHeight);
}

ExifResult ExifImageFile::SetTables(const uint16_t* const quant[4], const JpegTableRecord::Huffman* dc0,
                                    const JpegTableRecord::Huffman* dc1, const JpegTableRecord::Huffman* ac0,
                                    const JpegTableRecord::Huffman* ac1, int32_t kind) {
  return memberImage_.SetTables(quant, dc0, dc1, ac0, ac1, kind);
}

ExifResult ExifImageFile::SetQuantTable(int slot, const uint16_t table[64]) {
  return memberImage_.SetQuantTable(slot, table);
}

ExifResult ExifImageFile::UseStandardTables(int on) { return memberImage_.UseStandardTables(on); }

ExifResult ExifImageFile::GetQuantTable(int slot, uint16_t out[64]) {
  if (slot < 0 || slot > 3 || !tables || !tables->quantSet[slot]) return kExifNotDone;
  memcpy(out, tables->quant[slot], sizeof tables->quant[slot]);
  return kExifOk;
}

int ExifImageFile::GetHorizontalSampling(int componentId) {
  return componentId < 0 || componentId > 3 ? 0 : sampling[componentId] >> 4;
}

int ExifImageFile::GetVerticalSampling(int componentId) {
  return componentId < 0 || componentId > 3 ? 0 : sampling[componentId] & 0x0F;
}

ExifResult ExifImageFile::SetIccProfile(const uint8_t* bytes, uint32_t length) {
  if (bytes == nullptr || length == 0) {
    iccProfile_.clear();
    return kExifOk;
  }
  if ((static_cast<uint64_t>(length) + kIccChunkBytes - 1) / kIccChunkBytes > kIccMaxChunks) return kExifNotDone;
  iccProfile_.assign(bytes, bytes + length);
  return kExifOk;
}

ExifResult ExifImageFile::SetQuantTableWithQuality(int slot, const uint16_t table[64], uint16_t value) {
  memberImage_.SetQuality(value);
  return memberImage_.SetQuantTable(slot, table);
}

ExifJpegCompress* ExifImageFile::GetCompressor() {
  ExifJpegCompress* c = memberImage_.Compressor();
  c->luminance2x1 = true;
  return c;
}

ExifResult ExifImageFile::OpenNewPixels(ExifImageFile* fresh, int64_t* imageStart) {
  ExifResult status = fresh->Open(tempName_, "r");
  if (status != kExifOk) return status;
  if (fresh->FindImageData(imageStart) != kExifOk) return kExifReadFailed;
  // The colour transform and the colour profile describe the image data:
  // the old ones go with the old data.
  segments_.Remove(0xFFEE, "Adobe");
  if (fresh->segments_.FindSegment(nullptr, 0xFFE2, "ICC_PROFILE", false) != nullptr) {
    segments_.Remove(0xFFE2, "ICC_PROFILE");
  }
  segments_.TakeAll(&fresh->segments_);
  return kExifOk;
}
