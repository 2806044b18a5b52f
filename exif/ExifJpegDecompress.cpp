// JPEG to pixels through libjpeg, from a FILE or a caller's buffer.
#include <algorithm>
#include <cstring>

#include "exif/ExifJpegCodec.h"
#include "exif/ExifJpegMemory.h"

ExifJpegDecompress::ExifJpegDecompress() {
  cinfo_.err = InitExifJpegErrors(&err_);
  if (setjmp(err_.jump)) return;  // created_ stays false: every operation then fails
  jpeg_create_decompress(&cinfo_);
  created_ = true;
}

ExifJpegDecompress::~ExifJpegDecompress() {
  if (created_) jpeg_destroy_decompress(&cinfo_);
}

void ExifJpegDecompress::SetFileSource(FILE* file) {
  file_ = file;
  fileStart_ = file != nullptr ? ftello(file) : 0;
  if (fileStart_ < 0) fileStart_ = 0;
  memData_ = nullptr;
  memSize_ = 0;
}

void ExifJpegDecompress::SetMemorySource(const uint8_t* data, int64_t size) {
  memData_ = data;
  memSize_ = size;
  file_ = nullptr;
}

ExifResult ExifJpegDecompress::Abort() {
  if (created_) jpeg_abort_decompress(&cinfo_);
  state_ = 0;
  // The source has been read from: the next pass reads the header again
  // from the start.
  headerRead_ = false;
  return kExifNotDone;
}

ExifResult ExifJpegDecompress::Refuse(const char* why) {
  snprintf(err_.message, sizeof err_.message, "%s", why);
  return kExifNotDone;
}

ExifResult ExifJpegDecompress::ReadHeader(int32_t* width, int32_t* height, uint16_t* components) {
  if (headerRead_ || !created_) return kExifWriteFailed;
  if (file_ == nullptr && memData_ == nullptr) return kExifWriteFailed;
  if (state_ == 1) Abort();
  // A source read before (an earlier pass) starts again at its beginning.
  if (file_ != nullptr && fseeko(file_, fileStart_, SEEK_SET) != 0) return kExifWriteFailed;
  const ExifResult status = ReadHeaderCore();
  headerRead_ = true;
  if (status != kExifOk) return status;
  if (width) *width = width_;
  if (height) *height = height_;
  if (components) *components = components_;
  return kExifOk;
}

ExifResult ExifJpegDecompress::ReadHeaderCore() {
  if (setjmp(err_.jump)) {
    jpeg_abort_decompress(&cinfo_);
    state_ = 0;
    return kExifWriteFailed;
  }
  jpeg_abort_decompress(&cinfo_);
  if (file_ != nullptr) jpeg_stdio_src(&cinfo_, file_);
  else ExifJpegMemorySrc(&cinfo_, memData_, memSize_);
  if (jpeg_read_header(&cinfo_, TRUE) != JPEG_HEADER_OK) {
    jpeg_abort_decompress(&cinfo_);
    return kExifWriteFailed;
  }
  width_ = static_cast<int32_t>(cinfo_.image_width);
  height_ = static_cast<int32_t>(cinfo_.image_height);
  components_ = static_cast<uint16_t>(cinfo_.num_components);
  precision_ = static_cast<uint16_t>(cinfo_.data_precision);
  colourType = cinfo_.out_color_space == JCS_GRAYSCALE ? kJpegRowsGrey : kJpegRowsRgb;
  componentCount_ = std::min(cinfo_.num_components, MAX_COMPONENTS);
  for (int c = 0; c < componentCount_; ++c) {
    componentInfo_[c] = {cinfo_.comp_info[c].component_id, cinfo_.comp_info[c].h_samp_factor,
                         cinfo_.comp_info[c].v_samp_factor};
  }
  SetScale(1 << scale_);
  return kExifOk;
}

void ExifJpegDecompress::SetScale(int factor) {
  int k;
  switch (factor) {
    case 1: k = 0; break;
    case 2: k = 1; break;
    case 4: k = 2; break;
    case 8: k = 3; break;
    default: k = scale_; break;
  }
  scale_ = k;
  scaledWidth_ = static_cast<int32_t>((static_cast<int64_t>(width_) + (1 << k) - 1) >> k);
  scaledHeight_ = static_cast<int32_t>((static_cast<int64_t>(height_) + (1 << k) - 1) >> k);
}

ExifResult ExifJpegDecompress::Start() {
  if (!created_) return kExifNotDone;
  if (!headerRead_) {
    const ExifResult status = ReadHeader(nullptr, nullptr, nullptr);
    if (status != kExifOk) return status;
  }
  if (state_ == 1) return Refuse("a decompression is already under way");
  const ExifResult status = StartCore();
  if (status != kExifOk) return status;
  rowBuffer_.assign(static_cast<size_t>(cinfo_.output_width) * cinfo_.output_components, 0);
  return kExifOk;
}

ExifResult ExifJpegDecompress::StartCore() {
  if (setjmp(err_.jump)) return Abort();
  cinfo_.scale_num = 1;
  cinfo_.scale_denom = 1u << scale_;
  jpeg_calc_output_dimensions(&cinfo_);
  cinfo_.dct_method = dctMethod == kJpegDctAccurate ? JDCT_ISLOW : dctMethod == kJpegDctFloat ? JDCT_FLOAT : JDCT_IFAST;
  cinfo_.out_color_space = colourType == kJpegRowsYCbCr  ? JCS_YCbCr
                           : colourType == kJpegRowsGrey ? JCS_GRAYSCALE
                                                         : JCS_RGB;
  jpeg_start_decompress(&cinfo_);
  state_ = 1;
  return kExifOk;
}

ExifResult ExifJpegDecompress::ReadRows(uint8_t* buffer, int64_t bufferSize, int32_t rowCount, int64_t rowStride,
                                        int32_t* outRows, int32_t* outScanline) {
  rowsNow_ = 0;
  if (outRows) *outRows = 0;
  if (state_ != 1) return Refuse("the decompression has not been started");
  if (outScanline) *outScanline = static_cast<int32_t>(cinfo_.output_scanline);
  const int64_t rowBytes = static_cast<int64_t>(cinfo_.output_width) * cinfo_.output_components;
  if (buffer == nullptr || rowCount < 0 || rowStride < rowBytes ||
      (rowCount > 0 && (bufferSize < rowBytes || (bufferSize - rowBytes) / rowStride < rowCount - 1))) {
    return Refuse("the rows do not fit the buffer");
  }
  const ExifResult status = ReadRowsCore(buffer, rowCount, rowStride);
  if (outRows) *outRows = rowsNow_;
  if (outScanline) *outScanline = status == kExifOk ? static_cast<int32_t>(cinfo_.output_scanline) : 0;
  return status;
}

ExifResult ExifJpegDecompress::ReadRowsCore(uint8_t* buffer, int32_t rowCount, int64_t rowStride) {
  if (setjmp(err_.jump)) return Abort();
  const size_t rowBytes = rowBuffer_.size();
  const int n = cinfo_.output_components;
  const bool bgr = colourType == kJpegRowsBgr && n >= 3;
  while (rowsNow_ < rowCount) {
    JSAMPROW row = rowBuffer_.data();
    if (jpeg_read_scanlines(&cinfo_, &row, 1) != 1) return Abort();  // a suspending source, never ours
    uint8_t* dst = buffer + rowsNow_ * rowStride;
    if (bgr) {
      for (size_t x = 0; x < rowBytes; x += n) {
        dst[x] = row[x + 2];
        dst[x + 1] = row[x + 1];
        dst[x + 2] = row[x];
        for (int k = 3; k < n; ++k) dst[x + k] = row[x + k];
      }
    } else {
      memcpy(dst, row, rowBytes);
    }
    ++rowsNow_;
  }
  return kExifOk;
}

ExifResult ExifJpegDecompress::Finish() {
  if (state_ == 2) return kExifOk;
  ExifResult status = kExifOk;
  if (state_ == 1) status = FinishCore();
  else if (created_) jpeg_abort_decompress(&cinfo_);
  state_ = 2;
  headerRead_ = false;
  return status;
}

ExifResult ExifJpegDecompress::FinishCore() {
  if (setjmp(err_.jump)) return Abort();
  jpeg_finish_decompress(&cinfo_);
  return kExifOk;
}

ExifResult ExifJpegDecompress::GetQuantTable(int slot, uint16_t out[64]) const {
  if (!created_ || slot < 0 || slot >= NUM_QUANT_TBLS || cinfo_.quant_tbl_ptrs[slot] == nullptr) return kExifNotDone;
  for (int i = 0; i < 64; ++i) out[i] = cinfo_.quant_tbl_ptrs[slot]->quantval[i];
  return kExifOk;
}

bool ExifJpegDecompress::ComponentSampling(int id, int* horizontal, int* vertical) const {
  for (int c = 0; c < componentCount_; ++c) {
    if (componentInfo_[c].id == id) {
      *horizontal = componentInfo_[c].horizontal;
      *vertical = componentInfo_[c].vertical;
      return true;
    }
  }
  return false;
}
