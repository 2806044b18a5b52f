// The pixel side of an open JPEG file: its frame description, and reading
// and writing its rows through the library's libjpeg wrappers, with the
// coding settings (quality, DCT method, scale, tables, ICC profile) kept
// between calls. A read or write pass starts with the first call and ends
// when the last row has passed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "exif/ExifJpegCodec.h"
#include "exif/ExifOpenFile.h"
#include "exif/TagDirectory.h"

// Quantisation and Huffman tables: those met while scanning a file's
// markers, or those given for writing.
struct JpegTableRecord {
  uint16_t quant[4][64] = {};  // natural order
  bool quantSet[4] = {};
  struct Huffman {
    uint8_t counts[16] = {};
    uint8_t values[256] = {};
    HuffmanLookup lookup;
    bool set = false;
  };
  Huffman dc[4], ac[4];
};

// The built-in tables installed by UseStandardTables(1).
extern const uint16_t kBuiltInQuantTable[64];
void BuiltInHuffmanTables(JpegTableRecord::Huffman* dc, JpegTableRecord::Huffman* ac);

class ExifJpegImage : public ExifOpenFile {
 public:
  ExifJpegImage();
  ~ExifJpegImage() override;

  // Mode "r" or "r+": reads the header through a new decompressor. Modes
  // "r+" and "w": a compressor; only "w" hands it the stream as its
  // destination, so a file being edited is never written over in place.
  // 0, or 1 when the header cannot be read.
  ExifResult OpenImage(const char* mode) override;
  // Drops a pass under way (nothing more is written) and the decoder,
  // then the stream.
  ExifResult Close() override;
  // rows rows of the record, which must have the image's components. 3 in
  // mode "r" or without a destination, 1 for a codec error or rows that
  // do not fit the record. Out: rows written now and so far.
  virtual ExifResult WriteImage(const ThumbnailImage& image, int32_t rows, int32_t* outWritten,
                                int32_t* outTotal);
  // rows rows (at the scale chosen) into the record's buffer, from its
  // first row. 4 without a decoder, 1 for a codec error or rows that do
  // not fit the record. Out: rows read; whether the pass has ended.
  virtual ExifResult ReadImage(ThumbnailImage& image, int32_t rows, int32_t* outRead, bool* outDone);
  // sampling and tableNumbers: per component id 0 to 3 (null: all 0).
  virtual ExifResult SetImageInfo(int32_t w, int32_t h, uint16_t comps, uint16_t prec, int32_t colour,
                                  const uint8_t sampling[4], const uint8_t tableNumbers[4]);
  virtual void SetDctMethod(int32_t method);
  // Values above 100 are ignored.
  virtual void SetQuality(uint16_t value);
  virtual void SetSmoothing(uint16_t value);
  virtual void SetOptimizeCoding(bool on);
  virtual void SetProgressive(bool on);
  // 1, 2, 4 or 8 (anything else means 1). 1 while a read pass is under
  // way; else 0 with the size at that scale.
  virtual ExifResult SetScale(int scale, int32_t* outWidth, int32_t* outHeight);
  // Tables for writing: quantisation tables 0 to 3 (64 values in natural
  // order each, null for none), DC and AC Huffman tables 0 and 1. 1 when
  // tables of another kind are installed, 23 for a Huffman table no
  // decoder could use.
  virtual ExifResult SetTables(const uint16_t* const quant[4], const JpegTableRecord::Huffman* dc0,
                               const JpegTableRecord::Huffman* dc1, const JpegTableRecord::Huffman* ac0,
                               const JpegTableRecord::Huffman* ac1, int32_t kind);
  virtual ExifResult SetQuantTable(int slot, const uint16_t table[64]);
  // From the decoder; 1 without one or without that table.
  virtual ExifResult GetQuantTable(int slot, uint16_t out[64]);
  virtual void SetOption(int32_t value);
  // 1: the built-in tables; anything else: no custom tables.
  virtual ExifResult UseStandardTables(int on);
  virtual ExifResult SetColourMap(uint32_t count, const uint16_t* red, const uint16_t* green,
                                  const uint16_t* blue, bool present);
  virtual int GetHorizontalSampling(int componentId);
  virtual int GetVerticalSampling(int componentId);
  // The compressor keeps a copy; 1 for a profile too large for the chunk count.
  virtual ExifResult SetIccProfile(const uint8_t* bytes, uint32_t length);

  // The compressor, created when missing.
  ExifJpegCompress* Compressor();
  ExifJpegDecompress* Decompressor() const { return decompressor_.get(); }
  uint16_t Quality() const { return quality; }
  int Scale() const { return scale_; }
  bool CustomTables() const { return customTables_; }
  int32_t TableKind() const { return tableKind_; }
  // The image size at scale 1, 2, 4 or 8.
  void ScaledSize(int scale, int32_t* w, int32_t* h) const;

  // The frame description (filled by the header read, or by the marker
  // scan of a file opened for its tags).
  int32_t width = 0;
  int32_t height = 0;
  uint16_t components = 3;
  uint16_t precision = 8;
  int32_t colourType = kJpegRowsRgb;
  uint8_t sampling[4] = {};
  uint8_t quantTableNo[4] = {};
  uint16_t quality = 90;
  std::unique_ptr<JpegTableRecord> tables;

 protected:
  // A new decompressor on the stream; its header fills the frame fields.
  ExifResult OpenDecoder();

  int32_t dctMethod_ = kJpegDctFast;
  uint16_t smoothing_ = 0;
  bool optimizeCoding_ = false;
  bool progressive_ = false;
  uint8_t scale_ = 1;
  struct ColourMap {
    uint32_t count = 0;
    std::vector<uint16_t> red, green, blue;
  };
  std::unique_ptr<ColourMap> colourMap_;
  bool colourMapPresent_ = false;
  uint8_t colourMapOption_ = 0;
  int32_t option_ = 0;
  bool compressing_ = false;
  bool decompressing_ = false;
  std::unique_ptr<ExifJpegCompress> compressor_;
  std::unique_ptr<ExifJpegDecompress> decompressor_;
  int32_t tableKind_ = 0;
  bool customTables_ = false;
};

// A JPEG thumbnail decoded into a new image (null when the bytes are not
// a decodable JPEG or hold more than 65520 samples), and an image encoded
// as a JPEG thumbnail (empty when it cannot be or does not fit in 65534
// bytes).
std::unique_ptr<ThumbnailImage> DecodeJpegThumbnail(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> EncodeJpegThumbnail(const ThumbnailImage& image, int quality);
