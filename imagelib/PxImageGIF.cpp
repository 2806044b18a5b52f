// The GIF reader: block scanning, extensions, frame counting and the
// composition of frames on the logical screen.
#include "imagelib/PxImageGIF.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIFWork.h"

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Every kept frame is a whole screen; together they stay below this.
constexpr double kFrameListLimit = 4.0 * kPxImageMaxMemory;

// The byte that fills a palette image's rows with one index at its depth.
uint8_t FillByte(uint32_t bpp, int32_t index) {
  if (index < 0) return 0xFF;
  const uint8_t i = static_cast<uint8_t>(index);
  if (bpp == 1) return i ? 0xFF : 0x00;
  if (bpp == 4) return static_cast<uint8_t>((i & 0x0F) * 0x11);
  return i;
}

}  // namespace

PxImageGIF::PxImageGIF() : m_work(new Work()) {
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
      m_gceDelay = Le16(b + 1);
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
      if (size > 2) m_loopCount = Le16(data + 1);
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
      const int32_t left = Le16(d), top = Le16(d + 2), w = Le16(d + 4), h = Le16(d + 6);
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

void PxImageGIF::OverlayFrame(PxImage* canvas, int32_t left, int32_t top) {
  const int32_t fw = static_cast<int32_t>(Width()), fh = static_cast<int32_t>(Height());
  const int32_t sh = static_cast<int32_t>(canvas->Height());
  for (int32_t y = 0; y < fh; ++y) {
    for (int32_t x = 0; x < fw; ++x) {
      const uint8_t index = PixelIndexAtUnchecked(x, fh - 1 - y);
      if (index != info.backgroundIndex) canvas->StorePixelIndex(left + x, sh - 1 - (top + y), index);
    }
  }
}

bool PxImageGIF::ProcessImage(PxFile* file, const uint8_t* d, int32_t n) {
  const int32_t left = Le16(d), top = Le16(d + 2), fw = Le16(d + 4), fh = Le16(d + 6);
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

  std::unique_ptr<PxImage> canvas;
  // Whether the canvas holds nothing any earlier frame drew.
  const bool blankCanvas = n == 0 || m_previousDisposal == 2 || (m_previousDisposal == 3 && m_previousBlank);
  if (!m_trueColorCanvas) {
    if (n == 0) {
      canvas.reset(new PxImage());
      if (!canvas->Create(static_cast<uint32_t>(m_screenWidth), static_cast<uint32_t>(m_screenHeight), depth,
                          kFormatGif)) {
        SetLastError(canvas->LastError());
        return false;
      }
      std::memset(canvas->PixelRows(), FillByte(depth, m_gceTransparent), canvas->ImageBytes());
      m_fillIndex = info.backgroundIndex;
      m_previous.reset(new PxImage(*canvas, true));
      m_previousBlank = true;
    } else if (m_previousDisposal == 2) {
      // A screen composed in true colour starts again on a palette canvas:
      // after this disposal nothing of it shows.
      canvas.reset(new PxImage());
      if (!canvas->Create(Width(), Height(), Bpp() == 24 ? depth : Bpp(), kFormatGif)) {
        SetLastError(canvas->LastError());
        return false;
      }
      if (PaletteSize() > 0) std::memcpy(canvas->PaletteData(), PaletteData(), 4 * size_t{PaletteSize()});
      std::memset(canvas->PixelRows(), FillByte(Bpp(), m_fillIndex), canvas->ImageBytes());
    } else if (m_previousDisposal == 3) {
      canvas.reset(new PxImage(*m_previous, true));
    } else {
      canvas.reset(new PxImage(*this, true));
    }
    if (!canvas->HasPixels()) {
      SetLastError(canvas->LastError());
      return false;
    }
  }

  // The frame itself, decoded into this object.
  if (!Create(static_cast<uint32_t>(fw), static_cast<uint32_t>(fh), depth, kFormatGif)) return false;
  if (table) LoadPaletteFromTriples(table, tableSize);
  if (info.backgroundIndex >= 0 && tableSize < 256) {
    for (uint32_t i = tableSize; i < PaletteSize(); ++i) StorePaletteEntry(static_cast<uint8_t>(i), 255, 255, 255);
  }
  info.lastColorValid = false;
  // Rows the data does not reach stay transparent (or index 0), never
  // whatever the allocation held.
  std::memset(PixelRows(), FillByte(depth, info.backgroundIndex >= 0 ? info.backgroundIndex : 0), ImageBytes());

  m_interlaced = (flags & 0x40) != 0;
  m_interlaceRow = 0;
  m_interlaceStep = 8;
  m_interlaceHeight = fh;
  m_interlacePass = 0;
  GifRowIterator rows{this, 0, fh - 1, nullptr};
  int32_t badCodes = 0;
  DecodeLzw(file, &rows, fw, &badCodes);
  if (info.escape != 0) return false;

  if (!m_trueColorCanvas && canvas->Bpp() == 24) {
    if (!ComposeTrueColour(*canvas, left, top)) return false;
  } else if (!m_trueColorCanvas) {
    if (canvas->Bpp() < Bpp() && !canvas->RaiseBitDepth(Bpp())) {
      SetLastError(canvas->LastError());
      return false;
    }
    if (!blankCanvas && !PaletteOverlayKeepsColours(*canvas, left, top)) {
      if (!ComposeTrueColour(*canvas, left, top)) return false;
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
  } else {
    if (!m_canvas24) {
      m_canvas24.reset(new PxImage());
      if (!m_canvas24->Create(static_cast<uint32_t>(m_screenWidth), static_cast<uint32_t>(m_screenHeight), 24,
                              kFormatGif)) {
        SetLastError(m_canvas24->LastError());
        return false;
      }
      std::memset(m_canvas24->PixelRows(), 0, m_canvas24->ImageBytes());
    }
    for (int32_t y = 0; y < fh; ++y)
      for (int32_t x = 0; x < fw; ++x)
        m_canvas24->StorePixelColor(left + x, m_screenHeight - 1 - (top + y), PixelColorAt(x, fh - 1 - y, false));
  }

  SkipImageData(file, afterTable, badCodes);

  if (info.getAllFrames && !m_trueColorCanvas) {
    if (n == 0) {
      const int32_t count = info.frameCount;
      ReleaseFrames();
      info.frameCount = count;
      if (static_cast<double>(count) * static_cast<double>(ImageBytes()) > kFrameListLimit) {
        SetLastError("GIF: too many frames to keep in memory");
        return false;
      }
      frames = new (std::nothrow) PxImage*[static_cast<size_t>(count)]();
      if (!frames) return false;
      frameListSize = count;
      m_keptFrameBytes = 0;
    }
    // Screens composed in true colour are three times the size of the first.
    m_keptFrameBytes += static_cast<double>(ImageBytes());
    if (m_keptFrameBytes > kFrameListLimit) {
      SetLastError("GIF: too many frames to keep in memory");
      return false;
    }
    if (frames && n < frameListSize) {
      frames[n] = new (std::nothrow) PxImage(*this, true);
      if (frames[n]) frames[n]->info.getAllFrames = false;
    }
  }

  if (!m_trueColorCanvas && (info.disposal == 0 || info.disposal == 1)) {
    m_previous.reset(new PxImage(*this, true));
    m_previousBlank = false;
  }
  m_previousDisposal = info.disposal;
  return true;
}

bool PxImageGIF::Decode(PxFile* file) {
  // The texts say why a read failed; without them the caller would be left
  // with whatever an earlier operation wrote.
  if (!file) {
    SetLastError("null file handler");
    return false;
  }
  uint8_t header[13];
  if (file->ReadBlock(header, 1, 13) != 13 || std::memcmp(header, "GIF8", 4) != 0) {
    SetLastError("Not a GIF file");
    return false;
  }
  m_screenWidth = Le16(header + 6);
  m_screenHeight = Le16(header + 8);
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
  if (m_trueColorCanvas) info.frame = count - 1;
  const int32_t wanted = info.frame;

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
      const int32_t left = Le16(d), top = Le16(d + 2), w = Le16(d + 4), h = Le16(d + 6);
      if (w == 0 || h == 0 || left + w > m_screenWidth || top + h > m_screenHeight) continue;
      if (!ProcessImage(file, d, frameNumber)) return false;
      composed = true;
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
    RGBQUAD background = m_canvas24->info.backgroundColor;
    int32_t backgroundIndex = -1;
    if (m_gceFlags & 1) {
      background = PaletteSize() > m_gceTransparent ? PaletteData()[m_gceTransparent] : RGBQUAD{0, 0, 0, 0};
      background.rgbReserved = 0;
      backgroundIndex = 0;
    }
    const ImageInfoBlock kept = info;
    AdoptFrom(*m_canvas24, true);
    const uint32_t stride = info.rowStride;
    uint8_t* pixels = info.pixels;
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
