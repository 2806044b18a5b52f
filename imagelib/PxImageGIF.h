// GIF pictures and animations (format id 2). The reader counts a file's
// frames and produces one chosen frame as it looks on the logical screen,
// earlier frames composed underneath by the disposal rules, or every frame
// on request. The writer writes one image (true colour as a mosaic of small
// tiles with local tables) or a list of palette frames as an animation.
#pragma once

#include <cstdint>
#include <memory>

#include "imagelib/PxImage.h"

class PxFile;

// Walks the rows of an image from the top row down.
struct GifRowIterator {
  PxImage* image = nullptr;
  int32_t x = 0;
  int32_t y = 0;
  uint8_t* row = nullptr;
};

class PxImageGIF : public PxImage {
 public:
  PxImageGIF();
  ~PxImageGIF() override;

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);
  bool Encode(PxFile* file, PxImage** frames, int32_t count);

  const char* Comment() const { return m_comment; }
  void SetComment(const char* text);
  int32_t LoopCount() const { return m_loopCount; }
  void SetLoopCount(int32_t count) { m_loopCount = count; }

  struct Work;  // read-ahead and LZW tables, allocated once per object

 private:
  // ---- reader
  bool ReadExtension(PxFile* file);
  int32_t CountFrames(PxFile* file, uint8_t* screen);
  int DecodeLzw(PxFile* file, GifRowIterator* rows, int32_t width, int32_t* badCodes);
  int NextCode(PxFile* file);
  int NextDataByte(PxFile* file);
  int StoreDecodedRow(GifRowIterator* rows, uint8_t* pixels, int32_t length);
  void SeekNextImage(PxFile* file, int32_t position);
  void SkipImageData(PxFile* file, int32_t afterTable, int32_t badCodes);
  void OverlayFrame(PxImage* canvas, int32_t left, int32_t top);
  bool PaletteOverlayKeepsColours(const PxImage& canvas, int32_t left, int32_t top) const;
  bool ComposeTrueColour(PxImage& canvas, int32_t left, int32_t top);
  bool ProcessImage(PxFile* file, const uint8_t* descriptor, int32_t frameNumber);

  // ---- writer
  bool WriteHeader(PxFile* file);
  void WriteGraphicControl(PxFile* file);
  void WriteComment(PxFile* file);
  void WriteLoopBlock(PxFile* file);
  void WriteImageBlock(PxFile* file, bool localTable);
  bool EncodeTrueColor(PxFile* file);
  int NextPixelIndex();
  void CompressLzw(int initBits, PxFile* file);
  void WriteRawCodes(int initBits, PxFile* file);
  void CompressRle(int initBits, PxFile* file);
  void OutputCode(int code, PxFile* file);
  void ClearHashTable();
  void WriteBytes(PxFile* file, const void* data, size_t size);
  bool CheckWritten(const char* failureText);

  // Graphic control of the last extension read.
  uint8_t m_gceFlags = 0;
  uint16_t m_gceDelay = 0;
  uint8_t m_gceTransparent = 0;

  // Interlace state.
  bool m_interlaced = false;
  int32_t m_interlaceRow = 0;
  int32_t m_interlaceStep = 8;
  int32_t m_interlaceHeight = 0;
  int32_t m_interlacePass = 0;

  // Reader state across one Decode.
  bool m_hasGlobalTable = false;
  uint32_t m_globalTableSize = 0;
  uint8_t m_globalTable[768] = {};
  int32_t m_screenWidth = 0;
  int32_t m_screenHeight = 0;
  bool m_trueColorCanvas = false;
  int32_t m_fillIndex = -1;
  uint8_t m_previousDisposal = 0;
  int32_t m_firstImageWidth = 0;
  int32_t m_firstImageHeight = 0;
  std::unique_ptr<PxImage> m_previous;
  bool m_previousBlank = false;  // the "previous" screen has no frame drawn on it yet
  double m_keptFrameBytes = 0;   // screens held by the get-all-frames list
  std::unique_ptr<PxImage> m_canvas24;

  // Writer state.
  int32_t m_curX = 0;
  int32_t m_curY = 0;
  int64_t m_pixelsLeft = 0;
  bool m_writeFailed = false;

  char m_comment[256] = {};
  int32_t m_loopCount = 0;

  std::unique_ptr<Work> m_work;
};
