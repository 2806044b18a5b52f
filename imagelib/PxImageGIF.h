// GIF pictures and animations (format id 2). The reader counts a file's
// frames and produces one chosen frame as it looks on the logical screen,
// earlier frames composed underneath by the disposal rules, or every frame
// on request. The writer writes one image (true colour as a mosaic of small
// tiles with local tables) or a list of palette frames as an animation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imagelib/PxImage.h"

class PxFile;

// Walks the rows of an image from the top row down (y counts from the
// bottom, as the container's rows do).
struct GifRowIterator {
  PxImage* image = nullptr;
  int32_t y = 0;
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
  // Bytes of screen memory the last Decode's composition touched (fills,
  // copies, disposals, passes in true colour); the read stops before this
  // would pass a budget bound by the size of the file.
  double ScreenWork() const { return m_screenWork; }

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
  bool PaletteOverlayKeepsColours(const PxImage& canvas, int32_t left, int32_t top);
  bool SpendScreenWork(double bytes);
  bool ComposeTrueColour(PxImage& canvas, int32_t left, int32_t top);
  bool ProcessImage(PxFile* file, const uint8_t* descriptor, int32_t frameNumber);
  bool DecodeScreen(PxFile* file);
  // A fresh GIF object for the writer's tiles and frames, or null when
  // memory runs out.
  static std::unique_ptr<PxImageGIF> NewWorker();
  bool PreparePaletteCanvas(std::unique_ptr<PxImage>& canvas, int32_t frameNumber, uint32_t depth,
                            const uint8_t* table, uint32_t tableSize);
  bool PrepareTrueColourScreen(int32_t frameNumber);
  bool DrawOnTrueColourScreen(int32_t left, int32_t top);
  bool FinishTrueColourScreen(PxImage& out) const;
  bool FrameRowDrawn(int32_t rowFromTop) const {
    return rowFromTop >= 0 && static_cast<size_t>(rowFromTop) < m_rowDrawn.size() && m_rowDrawn[rowFromTop];
  }

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
  // The screen as it was before the last frame was drawn, kept only when
  // that frame's disposal restores it (3).
  std::unique_ptr<PxImage> m_previous;
  double m_keptFrameBytes = 0;   // screens held by the get-all-frames list
  // Screen work of this decode (see ScreenWork), its budget, and whether a
  // step was refused: nothing after it is composed.
  double m_screenWork = 0;
  double m_screenWorkBudget = 0;
  bool m_screenWorkRefused = false;
  // Where the last frame was drawn: its disposal applies to that rectangle.
  int32_t m_lastLeft = 0;
  int32_t m_lastTop = 0;
  int32_t m_lastWidth = 0;
  int32_t m_lastHeight = 0;
  // Rows (from the top) of the frame being decoded that its data reached;
  // rows it never reached are not drawn.
  std::vector<uint8_t> m_rowDrawn;
  // The true-colour screen of a file without a global table, which of its
  // pixels are transparent (rows from the bottom, as the pixels), and what
  // the last frame covered when its disposal restores it.
  std::unique_ptr<PxImage> m_canvas24;
  std::vector<uint8_t> m_clear24;
  bool m_clearIsTransparent = false;
  std::vector<uint8_t> m_saved24;
  std::vector<uint8_t> m_savedClear24;

  // Writer state.
  int32_t m_curX = 0;
  int32_t m_curY = 0;
  int64_t m_pixelsLeft = 0;
  bool m_writeFailed = false;

  char m_comment[256] = {};
  int32_t m_loopCount = 0;

  std::unique_ptr<Work> m_work;
};
