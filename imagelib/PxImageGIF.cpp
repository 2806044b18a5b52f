// The GIF reader: block scanning, extensions, frame counting and the
// composition of frames on the logical screen.
#include "imagelib/PxImageGIF.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIFWork.h"
#include "platform/byteorder.h"

namespace {

constexpr char kNoMemory[] = "GIF: not enough memory";

// Every kept frame is a whole screen; together they stay below this.
constexpr double kFrameListLimit = 4.0 * kPxImageMaxMemory;

// Composing frames touches whole screens or whole frame rectangles (a copy
// kept for disposal 3, a screen given back to the background, a screen drawn
// again in true colour), so tiny frames on a huge screen would make a small
// file cost hours. The bytes so touched stay within a budget bound by the
// file: four screens at the memory limit for any file, and 65536 bytes per
// byte of a larger file. Real animations stay below it: 300 small frames
// in colours of their own on a 1000 x 1000 screen, each undone by disposal
// 3, touch 4.2 GB, which a file of 64 KB (about 210 bytes a frame) allows.
constexpr double kScreenWorkFloor = 4.0 * kPxImageMaxMemory;
constexpr double kScreenWorkPerFileByte = 65536.0;
constexpr char kTooMuchWork[] = "GIF: the frames cost too much work to compose for the size of the file";

// The byte that fills a palette image's rows with one index at its depth.
uint8_t FillByte(uint32_t bpp, int32_t index) {
  if (index < 0) return 0xFF;
  const uint8_t i = static_cast<uint8_t>(index);
  if (bpp == 1) return i ? 0xFF : 0x00;
  if (bpp == 4) return static_cast<uint8_t>((i & 0x0F) * 0x11);
  return i;
}

// Gives a rectangle of a screen (rows from the top) back to the background:
// the fill index on a palette screen (-1: the highest index, as a filled
// new screen), the transparent colour on a true-colour one.
void ClearRect(PxImage& screen, int32_t left, int32_t top, int32_t width, int32_t height, int32_t index) {
  const int32_t sw = static_cast<int32_t>(screen.Width()), sh = static_cast<int32_t>(screen.Height());
  const int32_t right = std::min(sw, left + width), bottom = std::min(sh, top + height);
  if (left < 0 || top < 0 || left >= right || top >= bottom) return;
  const uint32_t bpp = screen.Bpp();
  if (bpp == 24) {
    const RGBQUAD c = screen.info.backgroundIndex >= 0 ? screen.info.backgroundColor : RGBQUAD{0, 0, 0, 0};
    for (int32_t t = top; t < bottom; ++t) {
      uint8_t* p = screen.RowAt(static_cast<uint32_t>(sh - 1 - t)) + 3 * size_t(left);
      for (int32_t x = left; x < right; ++x, p += 3) {
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
      }
    }
    return;
  }
  const uint8_t fill = FillByte(bpp, index);
  const uint8_t value = bpp == 8 ? fill : static_cast<uint8_t>(fill & (bpp == 4 ? 0x0F : 0x01));
  const int32_t perByte = static_cast<int32_t>(8 / bpp);
  for (int32_t t = top; t < bottom; ++t) {
    const int32_t y = sh - 1 - t;
    int32_t x = left;
    for (; x < right && x % perByte != 0; ++x) screen.StorePixelIndexUnchecked(x, y, value);
    const int32_t whole = (right - x) / perByte;
    if (whole > 0) {
      std::memset(screen.RowAt(static_cast<uint32_t>(y)) + x / perByte, fill, static_cast<size_t>(whole));
      x += whole * perByte;
    }
    for (; x < right; ++x) screen.StorePixelIndexUnchecked(x, y, value);
  }
}

}  // namespace

// The work buffers are allocated without throwing: a failure shows as a
// missing buffer, which every read and write refuses with a text.
PxImageGIF::PxImageGIF() : m_work(new (std::nothrow) Work()) {
  InitDefaults(kFormatGif);
  info.disposal = 0;
}

PxImageGIF::~PxImageGIF() = default;

void PxImageGIF::SetComment(const char* text) {
  std::snprintf(m_comment, sizeof m_comment, "%s", text ? text : "");
}

bool PxImageGIF::ReadExtension(PxFile* file) {
  const int label = file->GetByte();
  if (label < 0) return false;
  bool terminated = false;  // the zero-size sub-block was already read
  switch (label) {
    case 0xF9: {
      uint8_t b[4];
      if (file->GetByte() != 4 || file->ReadBlock(b, 1, 4) != 4) return false;
      m_gceFlags = b[0];
      m_gceDelay = pw::LoadLE16(b + 1);
      m_gceTransparent = b[3];
      info.backgroundIndex = (m_gceFlags & 1) ? m_gceTransparent : -1;
      info.frameDelay = m_gceDelay;
      info.disposal = static_cast<uint8_t>((m_gceFlags >> 2) & 7);
      break;
    }
    case 0xFE: {
      const int size = file->GetByte();
      if (size < 0) return false;
      if (size == 0) {
        // An empty comment is still a comment: the scan goes on.
        m_comment[0] = 0;
        terminated = true;
        break;
      }
      if (file->ReadBlock(m_comment, 1, static_cast<size_t>(size)) != static_cast<size_t>(size)) return false;
      m_comment[size] = 0;
      break;
    }
    case 0xFF: {
      uint8_t id[11];
      if (file->GetByte() != 11 || file->ReadBlock(id, 1, 11) != 11) return false;
      const int size = file->GetByte();
      if (size < 0) return false;
      if (size == 0) {
        terminated = true;
        break;
      }
      uint8_t data[256];
      if (file->ReadBlock(data, 1, static_cast<size_t>(size)) != static_cast<size_t>(size)) return false;
      if (size > 2) m_loopCount = pw::LoadLE16(data + 1);
      break;
    }
    default:
      break;
  }
  if (!terminated) {
    for (;;) {
      const int size = file->GetByte();
      if (size <= 0 || !file->SeekTo(size, 1)) break;
    }
  }
  return true;
}

void PxImageGIF::SeekNextImage(PxFile* file, int32_t position) {
  file->SeekTo(position, 0);
  int previous = -1;
  for (;;) {
    const int b = file->GetByte();
    if (b < 0) return;
    if (b == 0x2C && previous == 0) {
      file->SeekTo(-1, 1);
      return;
    }
    previous = b;
  }
}

// Leaves the file right behind an image's data: the rest of the data
// sub-blocks is skipped and the read-ahead gives back what it read beyond.
// After bad codes the data cannot be trusted, so the next image separator
// is searched for instead.
void PxImageGIF::SkipImageData(PxFile* file, int32_t afterTable, int32_t badCodes) {
  if (badCodes > 0) {
    SeekNextImage(file, afterTable);
    return;
  }
  Work& w = *m_work;
  if (!w.terminatorRead) {
    for (; w.blockBytesLeft > 0; --w.blockBytesLeft)
      if (NextDataByte(file) < 0) break;
    for (;;) {
      const int size = NextDataByte(file);
      if (size <= 0) break;
      for (int i = 0; i < size; ++i)
        if (NextDataByte(file) < 0) break;
    }
  }
  const int32_t unread = w.readFill - w.readPos;
  if (unread > 0) file->SeekTo(-unread, 1);
}

// Counts work about to be done on screen memory; false, with the text, when
// it would pass the decode's budget. Once refused, every later step is too:
// a read that ran out stops there.
bool PxImageGIF::SpendScreenWork(double bytes) {
  if (m_screenWorkRefused || m_screenWork + bytes > m_screenWorkBudget) {
    m_screenWorkRefused = true;
    SetLastError(kTooMuchWork);
    return false;
  }
  m_screenWork += bytes;
  return true;
}

int32_t PxImageGIF::CountFrames(PxFile* file, uint8_t* screen) {
  const int32_t start = file->Position();
  int32_t count = 0;
  bool expecting = true;
  bool first = true;
  for (;;) {
    const int b = file->GetByte();
    if (b < 0) break;
    if (!expecting) {
      if (b == 0) expecting = true;
      continue;
    }
    if (b == 0x21) {
      if (!ReadExtension(file)) break;
      continue;
    }
    if (b == 0x2C) {
      uint8_t d[9];
      if (file->ReadBlock(d, 1, 9) != 9) break;
      const int32_t left = pw::LoadLE16(d), top = pw::LoadLE16(d + 2), w = pw::LoadLE16(d + 4), h = pw::LoadLE16(d + 6);
      if (first) {
        first = false;
        m_firstImageWidth = w;
        m_firstImageHeight = h;
        if (m_screenWidth == 0 && m_screenHeight == 0) {
          m_screenWidth = w;
          m_screenHeight = h;
          screen[0] = d[4];
          screen[1] = d[5];
          screen[2] = d[6];
          screen[3] = d[7];
        }
      }
      if (w == 0 || h == 0 || left + w > m_screenWidth || top + h > m_screenHeight) continue;
      if (d[8] & 0x80) file->SeekTo(3 * (2 << (d[8] & 7)), 1);
      const int32_t afterTable = file->Position();
      int32_t bad = 0;
      DecodeLzw(file, nullptr, w, &bad);
      SkipImageData(file, afterTable, bad);
      ++count;
      continue;
    }
    if (b == 0x3B) break;
    if (b != 0) expecting = false;
  }
  file->SeekTo(start, 0);
  return count;
}

// Draws the frame's opaque pixels of the rows its data reached on a palette
// canvas at least as deep as the frame.
void PxImageGIF::OverlayFrame(PxImage* canvas, int32_t left, int32_t top) {
  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  const int32_t sh = static_cast<int32_t>(canvas->Height());
  const bool bytes = Bpp() == 8 && canvas->Bpp() == 8;
  for (int32_t r = 0; r < fh; ++r) {
    if (!FrameRowDrawn(r)) continue;
    const int32_t y = fh - 1 - r, sy = sh - 1 - (top + r);
    if (bytes) {
      const uint8_t* from = RowAt(static_cast<uint32_t>(y));
      uint8_t* to = canvas->RowAt(static_cast<uint32_t>(sy)) + left;
      for (int32_t x = 0; x < fw; ++x)
        if (from[x] != info.backgroundIndex) to[x] = from[x];
      continue;
    }
    for (int32_t x = 0; x < fw; ++x) {
      const uint8_t index = PixelIndexAtUnchecked(x, y);
      if (index != info.backgroundIndex) canvas->StorePixelIndexUnchecked(left + x, sy, index);
    }
  }
}

// The canvas frame n is drawn on, in palette mode: the screen as the frames
// before left it, after the last frame's disposal. Only a frame that will be
// undone (disposal 3) costs a copy of the screen.
bool PxImageGIF::PreparePaletteCanvas(std::unique_ptr<PxImage>& canvas, int32_t n, uint32_t depth,
                                      const uint8_t* table, uint32_t tableSize) {
  if (n == 0) {
    canvas.reset(new (std::nothrow) PxImage());
    if (!canvas) return false;
    if (!canvas->Create(static_cast<uint32_t>(m_screenWidth), static_cast<uint32_t>(m_screenHeight), depth,
                        kFormatGif)) {
      SetLastError(canvas->LastError());
      return false;
    }
    if (!SpendScreenWork(static_cast<double>(canvas->ImageBytes()))) return false;
    std::memset(canvas->PixelRows(), FillByte(depth, m_gceTransparent), canvas->ImageBytes());
    if (table) canvas->LoadPaletteFromTriples(table, tableSize);
    m_fillIndex = info.backgroundIndex;
  } else if (m_previousDisposal == 3 && m_previous) {
    canvas = std::move(m_previous);
  } else if (m_previousDisposal == 2 && m_lastLeft == 0 && m_lastTop == 0 && m_lastWidth == m_screenWidth &&
             m_lastHeight == m_screenHeight) {
    // The whole screen goes back to the background: a screen composed in
    // true colour starts again on a palette canvas, as nothing of it shows.
    canvas.reset(new (std::nothrow) PxImage());
    if (!canvas) return false;
    if (!canvas->Create(Width(), Height(), Bpp() == 24 ? depth : Bpp(), kFormatGif)) {
      SetLastError(canvas->LastError());
      return false;
    }
    if (PaletteSize() > 0) std::memcpy(canvas->PaletteData(), PaletteData(), 4 * size_t{PaletteSize()});
    if (!SpendScreenWork(static_cast<double>(canvas->ImageBytes()))) return false;
    std::memset(canvas->PixelRows(), FillByte(canvas->Bpp(), m_fillIndex), canvas->ImageBytes());
  } else {
    canvas.reset(new (std::nothrow) PxImage());
    if (!canvas) return false;
    const ImageInfoBlock kept = info;
    canvas->AdoptFrom(*this, false);
    info = kept;
    info.pixels = nullptr;
    info.rowStride = 0;
    // A screen composed in true colour keeps the transparency of the screen
    // (its transparent colour), not that of the frame about to be drawn.
    if (canvas->Bpp() == 24) canvas->info.backgroundIndex = m_fillIndex >= 0 ? 0 : -1;
    if (m_previousDisposal == 2) {
      const double rectBytes = static_cast<double>(m_lastWidth) * m_lastHeight * canvas->Bpp() / 8.0;
      if (!SpendScreenWork(rectBytes)) return false;
      ClearRect(*canvas, m_lastLeft, m_lastTop, m_lastWidth, m_lastHeight, m_fillIndex);
    }
  }
  if (!canvas->HasPixels()) {
    SetLastError(canvas->LastError());
    return false;
  }
  if (info.disposal == 3) {
    if (!SpendScreenWork(static_cast<double>(canvas->ImageBytes()))) return false;
    m_previous.reset(new (std::nothrow) PxImage(*canvas, true));
    if (!m_previous || !m_previous->HasPixels()) {
      SetLastError("GIF: not enough memory to keep the screen");
      return false;
    }
  }
  return true;
}

bool PxImageGIF::ProcessImage(PxFile* file, const uint8_t* d, int32_t n) {
  const int32_t left = pw::LoadLE16(d), top = pw::LoadLE16(d + 2), fw = pw::LoadLE16(d + 4), fh = pw::LoadLE16(d + 6);
  const uint8_t flags = d[8];

  uint8_t localTable[768] = {};
  const uint8_t* table = nullptr;
  uint32_t tableSize = 0;
  if (flags & 0x80) {
    tableSize = 2u << (flags & 7);
    file->ReadBlock(localTable, 3, tableSize);
    table = localTable;
  } else if (m_hasGlobalTable) {
    tableSize = m_globalTableSize;
    table = m_globalTable;
  }
  const uint32_t depth = tableSize <= 2 ? 1 : tableSize <= 16 ? 4 : 8;
  const int32_t afterTable = file->Position();

  // A first frame that covers the whole screen is the screen: it is decoded
  // in place instead of being drawn on a filled copy, so a large picture
  // costs one buffer, not two. (With disposal 3 the filled screen is kept
  // anyway, so that case takes the common road.)
  const bool wholeScreen = !m_trueColorCanvas && n == 0 && left == 0 && top == 0 && fw == m_screenWidth &&
                           fh == m_screenHeight && info.disposal != 3;
  std::unique_ptr<PxImage> canvas;
  if (wholeScreen) {
    m_fillIndex = info.backgroundIndex;
  } else if (m_trueColorCanvas ? !PrepareTrueColourScreen(n)
                               : !PreparePaletteCanvas(canvas, n, depth, table, tableSize)) {
    return false;
  }

  // The frame itself, decoded into this object.
  if (!Create(static_cast<uint32_t>(fw), static_cast<uint32_t>(fh), depth, kFormatGif)) return false;
  if (table) LoadPaletteFromTriples(table, tableSize);
  if (info.backgroundIndex >= 0 && tableSize < 256) {
    for (uint32_t i = tableSize; i < PaletteSize(); ++i) StorePaletteEntry(static_cast<uint8_t>(i), 255, 255, 255);
  }
  info.lastColorValid = false;
  // Rows the data does not reach are transparent (or index 0), never
  // whatever the allocation held; they are not drawn on the screen.
  // (Create hands the block over cleared: a fill of 0 leaves the memory of
  // a large frame untouched until its rows arrive.)
  const uint8_t frameFill = FillByte(depth, info.backgroundIndex >= 0 ? info.backgroundIndex : 0);
  if (frameFill != 0) {
    if (!SpendScreenWork(static_cast<double>(ImageBytes()))) return false;
    std::memset(PixelRows(), frameFill, ImageBytes());
  }
  m_rowDrawn.assign(static_cast<size_t>(fh), 0);

  m_interlaced = (flags & 0x40) != 0;
  m_interlaceRow = 0;
  m_interlaceStep = 8;
  m_interlaceHeight = fh;
  m_interlacePass = 0;
  GifRowIterator rows{this, fh - 1};
  int32_t badCodes = 0;
  DecodeLzw(file, &rows, fw, &badCodes);
  if (info.escape != 0) return false;
  if (badCodes > 0) {
    info.bDamaged = true;
    SetLastError("GIF: damaged image data");
  } else if (std::find(m_rowDrawn.begin(), m_rowDrawn.end(), 0) != m_rowDrawn.end()) {
    info.bDamaged = true;
    SetLastError("GIF: image data ends before the last row");
  }

  if (wholeScreen) {
    // What the filled screen would show: the frame's pixels (its transparent
    // ones have the fill's index), and the fill where the data never reached.
    const uint8_t fill = FillByte(depth, m_gceTransparent);
    for (int32_t r = 0; r < fh; ++r) {
      if (!FrameRowDrawn(r) && fill != frameFill) {
        std::memset(RowAt(static_cast<uint32_t>(fh - 1 - r)), fill, info.rowStride);
      }
    }
    info.backgroundIndex = m_fillIndex < static_cast<int32_t>(PaletteSize()) ? m_fillIndex : 0;
    info.lastColorValid = false;
  } else if (m_trueColorCanvas) {
    if (!DrawOnTrueColourScreen(left, top)) return false;
  } else if (canvas->Bpp() == 24) {
    if (!ComposeTrueColour(*canvas, left, top)) return false;
  } else {
    if (canvas->Bpp() < Bpp()) {
      if (!SpendScreenWork(static_cast<double>(canvas->ImageBytes()) * Bpp() / canvas->Bpp())) return false;
      if (!canvas->RaiseBitDepth(Bpp())) {
        SetLastError(canvas->LastError());
        return false;
      }
    }
    if (n > 0 && !PaletteOverlayKeepsColours(*canvas, left, top)) {
      if (m_screenWorkRefused || !ComposeTrueColour(*canvas, left, top)) return false;
    } else {
      OverlayFrame(canvas.get(), left, top);
      const uint32_t entries = PaletteSize() < canvas->PaletteSize() ? PaletteSize() : canvas->PaletteSize();
      if (entries > 0) std::memcpy(canvas->PaletteData(), PaletteData(), 4 * size_t{entries});
      const int32_t background =
          m_fillIndex < static_cast<int32_t>(canvas->PaletteSize()) ? m_fillIndex : 0;
      const ImageInfoBlock kept = info;
      AdoptFrom(*canvas, false);
      const uint32_t stride = info.rowStride;
      uint8_t* pixels = info.pixels;
      info = kept;
      info.rowStride = stride;
      info.pixels = pixels;
      info.backgroundIndex = background;
      info.lastColorValid = false;
    }
  }
  m_lastLeft = left;
  m_lastTop = top;
  m_lastWidth = fw;
  m_lastHeight = fh;

  SkipImageData(file, afterTable, badCodes);

  if (info.getAllFrames) {
    if (n == 0) {
      const int32_t count = info.frameCount;
      ReleaseFrames();
      info.frameCount = count;
      const double screenBytes = m_trueColorCanvas ? static_cast<double>(m_canvas24->ImageBytes())
                                                   : static_cast<double>(ImageBytes());
      if (static_cast<double>(count) * screenBytes > kFrameListLimit) {
        SetLastError("GIF: too many frames to keep in memory");
        return false;
      }
      frames = new (std::nothrow) PxImage*[static_cast<size_t>(count)]();
      if (!frames) return false;
      frameListSize = count;
      m_keptFrameBytes = 0;
    }
    PxImage* kept = nullptr;
    if (m_trueColorCanvas) {
      kept = new (std::nothrow) PxImage();
      if (kept && !FinishTrueColourScreen(*kept)) {
        delete kept;
        kept = nullptr;
      }
    } else {
      kept = new (std::nothrow) PxImage(*this, true);
    }
    if (!kept || !kept->HasPixels()) {
      delete kept;
      SetLastError("GIF: too many frames to keep in memory");
      return false;
    }
    // Screens composed in true colour are three times the size of the first.
    m_keptFrameBytes += static_cast<double>(kept->ImageBytes());
    if (m_keptFrameBytes > kFrameListLimit || n >= frameListSize) {
      delete kept;
      SetLastError("GIF: too many frames to keep in memory");
      return false;
    }
    kept->info.getAllFrames = false;
    frames[n] = kept;
  }

  m_previousDisposal = info.disposal;
  return true;
}

std::unique_ptr<PxImageGIF> PxImageGIF::NewWorker() {
  std::unique_ptr<PxImageGIF> gif(new (std::nothrow) PxImageGIF());
  if (gif && !gif->m_work) gif.reset();
  return gif;
}

// No allocation failure leaves the library as an exception: the dispatch
// and the tools expect a false result with a text.
bool PxImageGIF::Decode(PxFile* file) {
  try {
    return DecodeScreen(file);
  } catch (const std::bad_alloc&) {
    SetLastError(kNoMemory);
    return false;
  }
}

bool PxImageGIF::DecodeScreen(PxFile* file) {
  // The texts say why a read failed; without them the caller would be left
  // with whatever an earlier operation wrote.
  if (!file) {
    SetLastError("null file handler");
    return false;
  }
  if (!m_work) {
    SetLastError(kNoMemory);
    return false;
  }
  uint8_t header[13];
  if (file->ReadBlock(header, 1, 13) != 13 || std::memcmp(header, "GIF8", 4) != 0) {
    SetLastError("Not a GIF file");
    return false;
  }
  m_screenWidth = pw::LoadLE16(header + 6);
  m_screenHeight = pw::LoadLE16(header + 8);
  m_screenWork = 0;
  m_screenWorkRefused = false;
  m_screenWorkBudget = std::max(kScreenWorkFloor, kScreenWorkPerFileByte * std::max(file->TotalSize(), 0));
  if (info.escape == -1) {
    this->header.biWidth = m_screenWidth;
    this->header.biHeight = m_screenHeight;
    info.formatId = kFormatGif;
    return true;
  }
  m_hasGlobalTable = (header[10] & 0x80) != 0;
  m_globalTableSize = m_hasGlobalTable ? 2u << (header[10] & 7) : 0;
  if (m_hasGlobalTable) file->ReadBlock(m_globalTable, 3, m_globalTableSize);

  const int32_t count = CountFrames(file, header + 6);
  info.frameCount = count;
  if (info.frame < 0 || info.frame >= count) {
    SetLastError(count == 0 ? "GIF: no image could be read" : "GIF: no such frame in the file");
    return false;
  }
  // Counting read every extension; the scan below reads them again in order.
  m_gceFlags = 0;
  m_gceDelay = 0;
  m_gceTransparent = 0;
  info.backgroundIndex = -1;
  info.frameDelay = 0;
  info.disposal = 0;

  m_trueColorCanvas = !m_hasGlobalTable && count > 1 && m_firstImageWidth < m_screenWidth &&
                      m_firstImageHeight < m_screenHeight;
  int32_t wanted = info.frame;

  bool expecting = true;
  int32_t frameNumber = 0;
  bool composed = false;
  for (;;) {
    if (info.escape > 0) return false;
    const int b = file->GetByte();
    if (b < 0) break;
    if (!expecting) {
      if (b == 0) expecting = true;
      continue;
    }
    if (b == 0x21) {
      if (!ReadExtension(file)) break;
      continue;
    }
    if (b == 0x2C) {
      uint8_t d[9];
      if (file->ReadBlock(d, 1, 9) != 9) break;
      const int32_t left = pw::LoadLE16(d), top = pw::LoadLE16(d + 2), w = pw::LoadLE16(d + 4), h = pw::LoadLE16(d + 6);
      if (w == 0 || h == 0 || left + w > m_screenWidth || top + h > m_screenHeight) continue;
      if (!ProcessImage(file, d, frameNumber)) return false;
      composed = true;
      // A true-colour picture stored as tiles (as this library writes one)
      // is a run of frames without delay: a frame of no delay is never shown
      // alone, the frames after it are drawn at once.
      if (frameNumber == wanted && m_trueColorCanvas && m_gceDelay == 0 && wanted + 1 < count) ++wanted;
      if (frameNumber == wanted && !info.getAllFrames) break;
      ++frameNumber;
      continue;
    }
    if (b == 0x3B) break;
    if (b != 0) expecting = false;
  }
  if (!composed) {
    SetLastError("GIF: no image could be read");
    return false;
  }

  if (m_trueColorCanvas && m_canvas24) {
    PxImage screen;
    if (!FinishTrueColourScreen(screen)) return false;
    const ImageInfoBlock kept = info;
    AdoptFrom(screen, false);
    const uint32_t stride = info.rowStride;
    uint8_t* pixels = info.pixels;
    const int32_t backgroundIndex = info.backgroundIndex;
    const RGBQUAD background = info.backgroundColor;
    info = kept;
    info.rowStride = stride;
    info.pixels = pixels;
    info.backgroundColor = background;
    info.backgroundIndex = backgroundIndex;
    info.lastColorValid = false;
    m_canvas24.reset();
  }
  return true;
}
