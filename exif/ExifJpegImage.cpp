#include "exif/ExifJpegImage.h"

#include <algorithm>
#include <cstring>
#include <functional>

const uint16_t kBuiltInQuantTable[64] = {
    2, 2, 3, 3, 3, 4, 3, 4,  //
    2, 2, 4, 3, 2, 3, 4, 3,  //
    2, 2, 2, 2, 2, 5, 3, 4,  //
    2, 2, 2, 2, 5, 3, 5, 7,  //
    2, 3, 4, 2, 6, 6, 6, 8,  //
    3, 4, 2, 6, 7, 5, 9, 6,  //
    3, 3, 5, 8, 4, 4, 5, 8,  //
    4, 4, 3, 3, 4, 4, 9, 11,
};

void BuiltInHuffmanTables(JpegTableRecord::Huffman* dc, JpegTableRecord::Huffman* ac) {
  static const uint8_t kDcCounts[16] = {0, 2, 3, 1, 1, 1, 1, 0, 3};
  static const uint8_t kDcValues[12] = {1, 2, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  // 162 symbols: end of block, the run of sixteen zeros, and every run of
  // 0 to 15 zeros before a coefficient of 1 to 10 bits; 127 of them get
  // 16-bit codes.
  static const uint8_t kAcCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 3, 0, 0, 0, 127};
  *dc = JpegTableRecord::Huffman{};
  memcpy(dc->counts, kDcCounts, 16);
  memcpy(dc->values, kDcValues, sizeof kDcValues);
  DeriveHuffmanLookup(dc->counts, dc->values, true, &dc->lookup);
  dc->set = true;
  *ac = JpegTableRecord::Huffman{};
  memcpy(ac->counts, kAcCounts, 16);
  int n = 0;
  ac->values[n++] = 0x00;
  ac->values[n++] = 0xF0;
  for (int size = 1; size <= 10; ++size) {
    for (int run = 0; run < 16; ++run) ac->values[n++] = static_cast<uint8_t>(run << 4 | size);
  }
  DeriveHuffmanLookup(ac->counts, ac->values, false, &ac->lookup);
  ac->set = true;
}

namespace {

// Codec colour type for a record: by its first component's sample type,
// else by its component count.
int32_t RecordColourType(const ThumbnailImage& image) {
  const int type = image.comp[0].sampleType;
  if (type == 0) return kJpegRowsYCbCr;
  if (type == 5) return kJpegRowsBgr;
  return image.components == 1 ? kJpegRowsGrey : kJpegRowsRgb;
}

// Bytes from the record's first sample to the end of its buffer; -1 when
// it has none. A buffer of the caller's own holds as many rows as the
// record says.
int64_t RecordExtent(const ThumbnailImage& image) {
  const uint8_t* first = image.comp[0].first;
  if (first == nullptr) return -1;
  if (!image.pixels.empty()) {
    const uint8_t* begin = image.pixels.data();
    const uint8_t* end = begin + image.pixels.size();
    if (!std::less<const uint8_t*>()(first, begin) && std::less<const uint8_t*>()(first, end)) return end - first;
  }
  if (image.comp[0].rowStride <= 0 || image.height <= 0) return -1;
  return image.comp[0].rowStride * image.height;
}

bool RowsFit(const ThumbnailImage& image, int32_t rows, int64_t rowBytes) {
  const int64_t extent = RecordExtent(image);
  const int64_t stride = image.comp[0].rowStride;
  if (extent < 0 || rows < 0 || rowBytes <= 0 || stride < rowBytes) return false;
  if (rows == 0) return true;
  return extent >= rowBytes && (extent - rowBytes) / stride >= rows - 1;
}

}  // namespace

ExifJpegImage::ExifJpegImage() = default;
ExifJpegImage::~ExifJpegImage() = default;

ExifResult ExifJpegImage::OpenImage(const char* /*mode*/) {
  ExifStream* s = stream_.get();
  if (s == nullptr) return kExifNotDone;
  const uint32_t mode = s->Mode();
  if (mode == ExifStream::kModeRead || mode == ExifStream::kModeEdit) {
    if (OpenDecoder() != kExifOk) return kExifNotDone;
  }
  if (mode == ExifStream::kModeEdit || mode == ExifStream::kModeNew) {
    ExifJpegCompress* c = Compressor();
    if (mode == ExifStream::kModeNew) {
      if (s->File() != nullptr) {
        if (fseeko(s->File(), 0, SEEK_SET) != 0) return kExifNotDone;
        c->SetFileDest(s->File());
      } else if (s->IO() != nullptr && s->IO()->Buffer() != nullptr) {
        c->SetMemoryDest(s->IO()->Buffer(), s->IO()->Capacity());
      }
    }
  }
  return kExifOk;
}

ExifResult ExifJpegImage::Close() {
  if (compressor_) compressor_->Cancel();
  compressing_ = false;
  decompressor_.reset();
  decompressing_ = false;
  return ExifOpenFile::Close();
}

ExifResult ExifJpegImage::OpenDecoder() {
  ExifStream* s = stream_.get();
  if (s == nullptr) return kExifNotDone;
  decompressor_ = std::make_unique<ExifJpegDecompress>();
  decompressing_ = false;
  if (s->File() != nullptr) {
    if (fseeko(s->File(), 0, SEEK_SET) != 0) return kExifNotDone;
    decompressor_->SetFileSource(s->File());
  } else if (s->IO() != nullptr && s->IO()->Buffer() != nullptr) {
    decompressor_->SetMemorySource(s->IO()->Buffer(), s->SizeOf());
  }
  int32_t w = 0, h = 0;
  uint16_t c = 0;
  if (decompressor_->ReadHeader(&w, &h, &c) != kExifOk) return kExifNotDone;
  width = w;
  height = h;
  components = c;
  precision = decompressor_->Precision();
  return kExifOk;
}

void ExifJpegImage::ScaledSize(int scale, int32_t* w, int32_t* h) const {
  const int f = scale == 2 || scale == 4 || scale == 8 ? scale : 1;
  *w = static_cast<int32_t>((static_cast<int64_t>(width) + f - 1) / f);
  *h = static_cast<int32_t>((static_cast<int64_t>(height) + f - 1) / f);
}

ExifJpegCompress* ExifJpegImage::Compressor() {
  if (!compressor_) compressor_ = std::make_unique<ExifJpegCompress>();
  return compressor_.get();
}

ExifResult ExifJpegImage::ReadImage(ThumbnailImage& image, int32_t rows, int32_t* outRead, bool* outDone) {
  if (outRead) *outRead = 0;
  if (outDone) *outDone = false;
  ExifStream* s = stream_.get();
  if (s == nullptr || (s->Mode() != ExifStream::kModeRead && s->Mode() != ExifStream::kModeEdit) || !decompressor_) {
    return kExifReadFailed;
  }
  ExifJpegDecompress* d = decompressor_.get();
  if (!decompressing_) {
    d->SetScale(scale_);
    d->dctMethod = dctMethod_ == 0 ? kJpegDctAccurate : dctMethod_ == 2 ? kJpegDctFloat : kJpegDctFast;
    d->colourType = RecordColourType(image);
    if (d->Start() != kExifOk) return kExifNotDone;
    decompressing_ = true;
  }
  const int64_t rowBytes = static_cast<int64_t>(d->ScaledWidth()) * d->OutputComponents();
  if (image.components != d->OutputComponents() || !RowsFit(image, rows, rowBytes)) {
    d->Finish();
    decompressing_ = false;
    return kExifNotDone;
  }
  int32_t done = 0, scanline = 0;
  const int64_t extent = RecordExtent(image);
  const ExifResult st = d->ReadRows(image.comp[0].first, extent, rows, image.comp[0].rowStride, &done, &scanline);
  if (outRead) *outRead = done;
  if (st != kExifOk) {
    decompressing_ = false;
    return kExifNotDone;
  }
  if (scanline >= d->ScaledHeight()) {
    decompressing_ = false;
    if (outDone) *outDone = true;
    if (d->Finish() != kExifOk) return kExifNotDone;
  }
  return kExifOk;
}

ExifResult ExifJpegImage::WriteImage(const ThumbnailImage& image, int32_t rows, int32_t* outWritten,
                                     int32_t* outTotal) {
  if (outWritten) *outWritten = 0;
  if (outTotal) *outTotal = 0;
  ExifStream* s = stream_.get();
  if (s == nullptr || s->Mode() == ExifStream::kModeRead) return kExifWriteFailed;
  ExifJpegCompress* c = Compressor();
  if (!c->HasDest()) return kExifWriteFailed;
  if (!compressing_) {
    c->width = width;
    c->height = height;
    c->components = components;
    c->colourType = RecordColourType(image);
    c->dctMethod = dctMethod_ == 0 ? kJpegDctAccurate : dctMethod_ == 2 ? kJpegDctFloat : kJpegDctFast;
    c->quality = quality;
    c->smoothing = smoothing_;
    c->optimizeCoding = optimizeCoding_;
    c->progressive = progressive_;
    memcpy(c->sampling, sampling, sizeof c->sampling);
    if (customTables_ && tables) {
      for (int slot = 0; slot < 4; ++slot) {
        if (tables->quantSet[slot]) c->SetQuantTable(slot, tables->quant[slot], slot == 3 ? quality : 0);
      }
    }
    if (image.components != components) return kExifNotDone;
    const ExifResult st = c->Start();
    if (st != kExifOk) return st == kExifWriteFailed ? kExifWriteFailed : kExifNotDone;
    compressing_ = true;
  }
  const int64_t rowBytes = static_cast<int64_t>(width) * components;
  if (image.components != components || !RowsFit(image, rows, rowBytes)) {
    c->Finish();
    compressing_ = false;
    return kExifNotDone;
  }
  int32_t now = 0, total = 0;
  const ExifResult st = c->WriteRows(image.comp[0].first, image.comp[0].rowStride, rows, &now, &total);
  if (outWritten) *outWritten = now;
  if (outTotal) *outTotal = total;
  if (st != kExifOk) {
    compressing_ = false;
    return kExifNotDone;
  }
  if (total >= height) {
    compressing_ = false;
    if (c->Finish() != kExifOk) return kExifNotDone;
  }
  return kExifOk;
}

ExifResult ExifJpegImage::SetImageInfo(int32_t w, int32_t h, uint16_t comps, uint16_t prec, int32_t colour,
                                       const uint8_t samplingBytes[4], const uint8_t tableNumbers[4]) {
  width = w;
  height = h;
  components = comps;
  precision = prec;
  colourType = colour;
  for (int i = 0; i < 4; ++i) {
    sampling[i] = samplingBytes ? samplingBytes[i] : 0;
    quantTableNo[i] = tableNumbers ? tableNumbers[i] : 0;
  }
  return kExifOk;
}

void ExifJpegImage::SetDctMethod(int32_t method) { dctMethod_ = method; }

void ExifJpegImage::SetQuality(uint16_t value) {
  if (value <= 100) quality = value;
}

void ExifJpegImage::SetSmoothing(uint16_t value) {
  if (value <= 100) smoothing_ = value;
}

void ExifJpegImage::SetOptimizeCoding(bool on) { optimizeCoding_ = on; }
void ExifJpegImage::SetProgressive(bool on) { progressive_ = on; }
void ExifJpegImage::SetOption(int32_t value) { option_ = value; }

ExifResult ExifJpegImage::SetScale(int scale, int32_t* outWidth, int32_t* outHeight) {
  if (decompressing_) return kExifNotDone;
  scale_ = static_cast<uint8_t>(scale == 2 || scale == 4 || scale == 8 ? scale : 1);
  int32_t w = 0, h = 0;
  ScaledSize(scale_, &w, &h);
  if (outWidth) *outWidth = w;
  if (outHeight) *outHeight = h;
  return kExifOk;
}

ExifResult ExifJpegImage::SetTables(const uint16_t* const quant[4], const JpegTableRecord::Huffman* dc0,
                                    const JpegTableRecord::Huffman* dc1, const JpegTableRecord::Huffman* ac0,
                                    const JpegTableRecord::Huffman* ac1, int32_t kind) {
  if (tables && tableKind_ != 0 && tableKind_ != kind) return kExifNotDone;
  auto record = std::make_unique<JpegTableRecord>();
  for (int i = 0; i < 4; ++i) {
    if (quant != nullptr && quant[i] != nullptr) {
      memcpy(record->quant[i], quant[i], sizeof record->quant[i]);
      record->quantSet[i] = true;
    }
  }
  const JpegTableRecord::Huffman* given[4] = {dc0, dc1, ac0, ac1};
  JpegTableRecord::Huffman* slot[4] = {&record->dc[0], &record->dc[1], &record->ac[0], &record->ac[1]};
  for (int i = 0; i < 4; ++i) {
    if (given[i] == nullptr) continue;
    *slot[i] = *given[i];
    if (DeriveHuffmanLookup(slot[i]->counts, slot[i]->values, i < 2, &slot[i]->lookup) != kExifOk) {
      return kExifBadHuffman;
    }
    slot[i]->set = true;
  }
  tables = std::move(record);
  tableKind_ = kind;
  customTables_ = true;
  return kExifOk;
}

ExifResult ExifJpegImage::SetQuantTable(int slot, const uint16_t table[64]) {
  Compressor()->SetQuantTable(slot, table, quality);
  return kExifOk;
}

ExifResult ExifJpegImage::GetQuantTable(int slot, uint16_t out[64]) {
  if (!decompressor_) return kExifNotDone;
  return decompressor_->GetQuantTable(slot, out);
}

ExifResult ExifJpegImage::UseStandardTables(int on) {
  tables.reset();
  tableKind_ = 0;
  if (on == 1) {
    tables = std::make_unique<JpegTableRecord>();
    for (int i = 0; i < 3; ++i) {
      memcpy(tables->quant[i], kBuiltInQuantTable, sizeof tables->quant[i]);
      tables->quantSet[i] = true;
    }
    BuiltInHuffmanTables(&tables->dc[0], &tables->ac[0]);
    tableKind_ = 1;
    customTables_ = true;
  } else {
    customTables_ = false;
  }
  return kExifOk;
}

ExifResult ExifJpegImage::SetColourMap(uint32_t count, const uint16_t* red, const uint16_t* green,
                                       const uint16_t* blue, bool present) {
  if (red == nullptr || green == nullptr || blue == nullptr) return kExifNotDone;
  auto map = std::make_unique<ColourMap>();
  map->count = count;
  map->red.assign(red, red + count);
  map->green.assign(green, green + count);
  map->blue.assign(blue, blue + count);
  colourMap_ = std::move(map);
  colourMapPresent_ = present;
  return kExifOk;
}

int ExifJpegImage::GetHorizontalSampling(int componentId) {
  int h = 0, v = 0;
  return decompressor_ && decompressor_->ComponentSampling(componentId, &h, &v) ? h : 0;
}

int ExifJpegImage::GetVerticalSampling(int componentId) {
  int h = 0, v = 0;
  return decompressor_ && decompressor_->ComponentSampling(componentId, &h, &v) ? v : 0;
}

ExifResult ExifJpegImage::SetIccProfile(const uint8_t* bytes, uint32_t length) {
  return Compressor()->SetIccProfile(bytes, length);
}
