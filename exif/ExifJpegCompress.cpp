// Pixels to JPEG through libjpeg, into a FILE or a caller's buffer.
#include <algorithm>
#include <cstring>

#include "exif/ExifJpegCodec.h"
#include "exif/ExifJpegMemory.h"

int QualityScale(unsigned quality) {
  if (quality == 0) return 5000;
  if (quality < 50) return static_cast<int>(5000 / quality);
  if (quality <= 100) return static_cast<int>(200 - 2 * quality);
  return 0;
}

ExifJpegCompress::ExifJpegCompress() { InitExifJpegErrors(&err_); }

ExifJpegCompress::~ExifJpegCompress() {
  if (created_) jpeg_destroy_compress(&cinfo_);
}

void ExifJpegCompress::SetFileDest(FILE* file) {
  file_ = file;
  memBuffer_ = nullptr;
  memCapacity_ = 0;
}

void ExifJpegCompress::SetMemoryDest(uint8_t* buffer, int64_t capacity) {
  memBuffer_ = buffer;
  memCapacity_ = capacity;
  file_ = nullptr;
}

int64_t ExifJpegCompress::BytesInMemory() const {
  if (!created_ || memBuffer_ == nullptr) return 0;
  return ExifJpegMemoryDestSize(const_cast<j_compress_ptr>(&cinfo_));
}

void ExifJpegCompress::SetQuantTable(int slot, const uint16_t table[64], uint16_t tableQuality) {
  if (tableQuality != 0) {
    ownTableQualitySet_ = true;
    ownTableQuality_ = tableQuality;
  }
  if (!customTables_) customTables_ = std::make_unique<CustomTables>();
  if (slot >= 0 && slot <= 3 && table != nullptr) {
    memcpy(customTables_->table[slot], table, sizeof customTables_->table[slot]);
    customTables_->given[slot] = true;
  }
  tablesGiven_ = true;
}

ExifResult ExifJpegCompress::SetIccProfile(const uint8_t* bytes, uint32_t length) {
  if (bytes == nullptr || length == 0) {
    icc_.clear();
    return kExifOk;
  }
  // The chunk count is a single byte in each segment.
  if ((static_cast<uint64_t>(length) + kIccChunkBytes - 1) / kIccChunkBytes > kIccMaxChunks) {
    icc_.clear();
    return kExifNotDone;
  }
  icc_.assign(bytes, bytes + length);
  return kExifOk;
}

ExifResult ExifJpegCompress::Abort() {
  if (created_) jpeg_abort_compress(&cinfo_);
  state_ = 0;
  return kExifNotDone;
}

ExifResult ExifJpegCompress::Refuse(const char* why) {
  snprintf(err_.message, sizeof err_.message, "%s", why);
  return kExifNotDone;
}

ExifResult ExifJpegCompress::Start() {
  rowsWritten_ = 0;
  rowsNow_ = 0;
  if (!HasDest()) {
    snprintf(err_.message, sizeof err_.message, "no destination for the compressed data");
    return kExifWriteFailed;
  }
  if (created_) {
    jpeg_destroy_compress(&cinfo_);
    created_ = false;
  }
  state_ = 0;
  memset(&cinfo_, 0, sizeof cinfo_);
  cinfo_.err = InitExifJpegErrors(&err_);
  if (setjmp(err_.jump)) return Abort();
  jpeg_create_compress(&cinfo_);
  created_ = true;

  if (file_ != nullptr) jpeg_stdio_dest(&cinfo_, file_);
  else ExifJpegMemoryDest(&cinfo_, memBuffer_, memCapacity_);

  cinfo_.image_width = static_cast<JDIMENSION>(std::max(width, 0));
  cinfo_.image_height = static_cast<JDIMENSION>(std::max(height, 0));
  cinfo_.input_components = components;
  cinfo_.in_color_space = colourType == kJpegRowsYCbCr  ? JCS_YCbCr
                          : colourType == kJpegRowsGrey ? JCS_GRAYSCALE
                                                        : JCS_RGB;
  jpeg_set_defaults(&cinfo_);

  cinfo_.smoothing_factor = std::min<int>(smoothing, 100);
  cinfo_.optimize_coding = optimizeCoding ? TRUE : FALSE;
  if (progressive) jpeg_simple_progression(&cinfo_);
  cinfo_.dct_method = dctMethod == kJpegDctFast ? JDCT_IFAST : dctMethod == kJpegDctFloat ? JDCT_FLOAT : JDCT_ISLOW;
  for (int c = 0; c < cinfo_.num_components; ++c) {
    jpeg_component_info* comp = &cinfo_.comp_info[c];
    if (comp->component_id >= 0 && comp->component_id <= 3 && sampling[comp->component_id] != 0) {
      comp->h_samp_factor = sampling[comp->component_id] >> 4;
      comp->v_samp_factor = sampling[comp->component_id] & 0x0F;
    }
    if (luminance2x1 && comp->component_id == 1) comp->v_samp_factor = 1;
  }
  cinfo_.write_JFIF_header = writeJfif_ ? TRUE : FALSE;

  jpeg_set_linear_quality(&cinfo_, QualityScale(quality), TRUE);
  if (tablesGiven_ && customTables_) {
    const int scale = QualityScale(ownTableQualitySet_ ? ownTableQuality_ : quality);
    unsigned int basic[64];
    // Table 0 from slot 3, or from slot 0 when slot 3 was never given;
    // tables 1 and 2 from slots 1 and 2. Slots never given keep the
    // standard tables set above.
    const int sourceSlot[3] = {customTables_->given[3] ? 3 : 0, 1, 2};
    for (int t = 0; t < 3; ++t) {
      if (!customTables_->given[sourceSlot[t]]) continue;
      for (int i = 0; i < 64; ++i) basic[i] = customTables_->table[sourceSlot[t]][i];
      jpeg_add_quant_table(&cinfo_, t, basic, scale, TRUE);
    }
    if (customTables_->given[2] && cinfo_.num_components > 2) cinfo_.comp_info[2].quant_tbl_no = 2;
  }
  if (writeDensity) {
    cinfo_.density_unit = 1;
    cinfo_.X_density = densityX;
    cinfo_.Y_density = densityY;
  }
  jpeg_start_compress(&cinfo_, TRUE);
  state_ = 1;
  if (!icc_.empty()) WriteIccProfile();
  return kExifOk;
}

// Runs inside Start's jump scope.
void ExifJpegCompress::WriteIccProfile() {
  static const char kTag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', '\0'};
  const uint32_t length = static_cast<uint32_t>(icc_.size());
  const uint32_t total = (length + kIccChunkBytes - 1) / kIccChunkBytes;
  for (uint32_t seq = 1, at = 0; seq <= total; ++seq) {
    const uint32_t n = std::min(kIccChunkBytes, length - at);
    jpeg_write_m_header(&cinfo_, JPEG_APP0 + 2, 14 + n);
    for (char c : kTag) jpeg_write_m_byte(&cinfo_, c);
    jpeg_write_m_byte(&cinfo_, static_cast<int>(seq));
    jpeg_write_m_byte(&cinfo_, static_cast<int>(total));
    for (uint32_t i = 0; i < n; ++i) jpeg_write_m_byte(&cinfo_, icc_[at + i]);
    at += n;
  }
}

ExifResult ExifJpegCompress::WriteRows(const uint8_t* buffer, int64_t stride, int32_t count, int32_t* outRows,
                                       int32_t* outTotal) {
  rowsNow_ = 0;
  if (outRows) *outRows = 0;
  if (outTotal) *outTotal = rowsWritten_;
  if (state_ != 1) return Refuse("the compression has not been started");
  const int64_t rowBytes = static_cast<int64_t>(cinfo_.image_width) * cinfo_.input_components;
  if (buffer == nullptr || count < 0 || stride < rowBytes) return Refuse("the rows do not fit their buffer");
  const bool bgr = colourType == kJpegRowsBgr && cinfo_.input_components >= 3;
  if (bgr) {
    swapRow_.resize(static_cast<size_t>(rowBytes));
  } else {
    rowPointers_.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) rowPointers_[i] = const_cast<JSAMPROW>(buffer + i * stride);
  }
  if (setjmp(err_.jump)) {
    const ExifResult status = Abort();
    if (outRows) *outRows = rowsNow_;
    if (outTotal) *outTotal = rowsWritten_;
    return status;
  }
  while (rowsNow_ < count) {
    JDIMENSION done;
    if (bgr) {
      const uint8_t* src = buffer + rowsNow_ * stride;
      const int n = cinfo_.input_components;
      for (int64_t x = 0; x < rowBytes; x += n) {
        swapRow_[x] = src[x + 2];
        swapRow_[x + 1] = src[x + 1];
        swapRow_[x + 2] = src[x];
        for (int k = 3; k < n; ++k) swapRow_[x + k] = src[x + k];
      }
      JSAMPROW row = swapRow_.data();
      done = jpeg_write_scanlines(&cinfo_, &row, 1);
    } else {
      done = jpeg_write_scanlines(&cinfo_, rowPointers_.data() + rowsNow_, static_cast<JDIMENSION>(count - rowsNow_));
    }
    if (done == 0) break;  // no progress: a suspending destination, never ours
    rowsNow_ += static_cast<int32_t>(done);
    rowsWritten_ += static_cast<int32_t>(done);
  }
  if (outRows) *outRows = rowsNow_;
  if (outTotal) *outTotal = rowsWritten_;
  return rowsNow_ == count ? kExifOk : Refuse("not every row was taken");
}

ExifResult ExifJpegCompress::Finish() {
  if (state_ == 2) return kExifOk;
  if (state_ == 0) {
    if (created_) jpeg_abort_compress(&cinfo_);
    state_ = 2;
    return kExifOk;
  }
  if (setjmp(err_.jump)) {
    Abort();
    state_ = 2;
    return kExifNotDone;
  }
  jpeg_finish_compress(&cinfo_);
  state_ = 2;
  return kExifOk;
}

void ExifJpegCompress::Cancel() {
  if (created_ && state_ == 1) jpeg_abort_compress(&cinfo_);
  state_ = 0;
}
