// The EXIF library's two libjpeg wrappers, which turn libjpeg's error
// handling into status codes (1 for any codec error or warning), and the
// Huffman table check of the marker scan.
//
// libjpeg reports errors by a non-local jump. Each wrapper operation that
// calls libjpeg sets the jump target at its entry and uses no locals that
// need destructors; a jump back aborts the libjpeg object to its idle
// state, from which it can be finished, restarted or destroyed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "exif/ExifJpegErrors.h"
#include "exif/ExifResult.h"

// How the rows handed to or taken from the codecs are laid out.
enum : int32_t {
  kJpegRowsYCbCr = 0,
  kJpegRowsRgb = 1,
  kJpegRowsBgr = 4,  // converted from and to RGB row by row
  kJpegRowsGrey = 12,
};

// DCT methods as the library stores them.
enum : uint8_t { kJpegDctAccurate = 0, kJpegDctFast = 1, kJpegDctFloat = 2 };

// Quality to libjpeg's linear scale: 5000 for 0, 5000 / q below 50,
// 200 - 2q up to 100, 0 above (every table entry 1).
int QualityScale(unsigned quality);

// The largest ICC profile chunk one APP2 segment carries, and the most
// chunks a profile may have (the chunk count is one byte).
constexpr uint32_t kIccChunkBytes = 65512;
constexpr uint32_t kIccMaxChunks = 255;

class ExifJpegCompress {
 public:
  ExifJpegCompress();
  virtual ~ExifJpegCompress();
  ExifJpegCompress(const ExifJpegCompress&) = delete;
  ExifJpegCompress& operator=(const ExifJpegCompress&) = delete;

  // Settings read by Start.
  uint16_t quality = 90;
  uint16_t smoothing = 0;
  bool optimizeCoding = false;
  bool progressive = false;
  uint8_t dctMethod = kJpegDctAccurate;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t components = 0;
  int32_t colourType = kJpegRowsRgb;
  // Chroma halved horizontally only: component id 1 keeps vertical factor 1.
  bool luminance2x1 = false;
  // Per component id 0 to 3: horizontal factor in the high 4 bits,
  // vertical in the low 4; 0 keeps libjpeg's default for that component.
  uint8_t sampling[4] = {};
  // Output density (unit: dots per inch) when asked for.
  bool writeDensity = false;
  uint16_t densityX = 0;
  uint16_t densityY = 0;

  // Where the compressed bytes go: an open FILE, or a caller's buffer
  // (more than capacity bytes make the compression fail).
  void SetFileDest(FILE* file);
  void SetMemoryDest(uint8_t* buffer, int64_t capacity);
  bool HasDest() const { return file_ != nullptr || memBuffer_ != nullptr; }
  // Bytes delivered into the caller's buffer.
  int64_t BytesInMemory() const;

  // A custom quantisation table (64 values, natural order) for slot 0 to
  // 3; a slot above 3 stores nothing. A non-zero quality scales the custom
  // tables instead of the image quality. Slot 3 (or slot 0 when slot 3 was
  // never given) becomes table 0, slots 1 and 2 tables 1 and 2.
  void SetQuantTable(int slot, const uint16_t table[64], uint16_t tableQuality);
  // Keeps a copy, written in APP2 chunks after Start. 1 for a profile
  // that needs more than 255 chunks (nothing is kept then).
  ExifResult SetIccProfile(const uint8_t* bytes, uint32_t length);

  // 0, 1 for a codec error, 3 without a destination.
  ExifResult Start();
  // count rows, stride bytes apart. Out: rows written now and so far.
  ExifResult WriteRows(const uint8_t* buffer, int64_t stride, int32_t count, int32_t* outRows,
                       int32_t* outTotal);
  // Completes the file (1 when the last bytes cannot be written).
  ExifResult Finish();
  // Drops a compression under way without writing anything more.
  void Cancel();

  int32_t State() const { return state_; }
  int32_t RowsWritten() const { return rowsWritten_; }
  const char* Message() const { return err_.message; }

 private:
  ExifResult Abort();
  ExifResult Refuse(const char* why);
  void WriteIccProfile();

  int32_t state_ = 0;  // 0 new, 1 started, 2 finished
  uint8_t* memBuffer_ = nullptr;
  int64_t memCapacity_ = 0;
  FILE* file_ = nullptr;
  int32_t rowsWritten_ = 0;
  int32_t rowsNow_ = 0;
  bool writeJfif_ = false;  // the wrapper never writes an APP0 segment
  bool ownTableQualitySet_ = false;
  uint16_t ownTableQuality_ = 0;
  struct CustomTables {
    uint16_t table[4][64] = {};
    bool given[4] = {};
  };
  std::unique_ptr<CustomTables> customTables_;
  bool tablesGiven_ = false;
  jpeg_compress_struct cinfo_{};
  bool created_ = false;
  ExifJpegErrorManager err_{};
  std::vector<uint8_t> icc_;
  std::vector<uint8_t> swapRow_;
  std::vector<JSAMPROW> rowPointers_;
};

class ExifJpegDecompress {
 public:
  ExifJpegDecompress();
  virtual ~ExifJpegDecompress();
  ExifJpegDecompress(const ExifJpegDecompress&) = delete;
  ExifJpegDecompress& operator=(const ExifJpegDecompress&) = delete;

  // The source: an open FILE, read from its current position, or a buffer.
  void SetFileSource(FILE* file);
  void SetMemorySource(const uint8_t* data, int64_t size);

  // 0; 3 without a source, for a bad header, or when the header has been
  // read already. A header read after a finished or failed pass starts
  // again at the beginning of the source.
  virtual ExifResult ReadHeader(int32_t* width, int32_t* height, uint16_t* components);
  // rowCount rows into buffer (bufferSize bytes), rowStride bytes apart.
  // 1 for a codec error, for rows past the end, or when the rows do not fit
  // the buffer. Out: rows read now, the scan line reached.
  virtual ExifResult ReadRows(uint8_t* buffer, int64_t bufferSize, int32_t rowCount, int64_t rowStride,
                              int32_t* outRows, int32_t* outScanline);

  // 1, 2, 4 or 8; other values keep the previous choice.
  void SetScale(int factor);
  ExifResult Start();
  ExifResult Finish();
  // 64 values in natural order; 1 when the picture has no such table.
  ExifResult GetQuantTable(int slot, uint16_t out[64]) const;
  // Sampling factors of the component with that id; false when none.
  bool ComponentSampling(int id, int* horizontal, int* vertical) const;

  uint8_t dctMethod = kJpegDctFast;
  int32_t colourType = kJpegRowsRgb;

  int32_t State() const { return state_; }
  bool HeaderRead() const { return headerRead_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t ScaledWidth() const { return scaledWidth_; }
  int32_t ScaledHeight() const { return scaledHeight_; }
  uint16_t Components() const { return components_; }
  uint16_t Precision() const { return precision_; }
  // Samples per output pixel once started.
  int OutputComponents() const { return state_ == 1 ? cinfo_.output_components : 0; }
  const char* Message() const { return err_.message; }

 private:
  ExifResult ReadHeaderCore();
  ExifResult StartCore();
  ExifResult ReadRowsCore(uint8_t* buffer, int32_t rowCount, int64_t rowStride);
  ExifResult FinishCore();
  ExifResult Abort();
  ExifResult Refuse(const char* why);

  int32_t state_ = 0;  // 0 new, 1 started, 2 finished
  const uint8_t* memData_ = nullptr;
  int64_t memSize_ = 0;
  FILE* file_ = nullptr;
  int64_t fileStart_ = 0;
  int32_t width_ = 0, height_ = 0, scaledWidth_ = 0, scaledHeight_ = 0;
  uint16_t components_ = 0, precision_ = 0;
  bool headerRead_ = false;
  int scale_ = 0;  // 0 to 3 for 1/1, 1/2, 1/4, 1/8
  int32_t rowsNow_ = 0;
  struct ComponentInfo {
    int id, horizontal, vertical;
  };
  ComponentInfo componentInfo_[MAX_COMPONENTS] = {};
  int componentCount_ = 0;
  jpeg_decompress_struct cinfo_{};
  bool created_ = false;
  ExifJpegErrorManager err_{};
  std::vector<uint8_t> rowBuffer_;
};

// Decoder lookup data of a Huffman table.
struct HuffmanLookup {
  int32_t valueOffset[17] = {};  // index of the first value of each length minus its first code
  int32_t maxCode[18] = {};      // largest code of each length, -1 for none; [17] is the sentinel
  uint8_t lookLength[256] = {};  // 8-bit lookahead: code length, 0 when longer than 8
  uint8_t lookValue[256] = {};
};

// counts: the 16 code counts; values: their symbols (sum of counts of them).
// 23 when the codes do not fit their lengths, there are more than 256, or
// a DC table holds a value above 15.
ExifResult DeriveHuffmanLookup(const uint8_t counts[16], const uint8_t* values, bool isDc,
                               HuffmanLookup* out);
