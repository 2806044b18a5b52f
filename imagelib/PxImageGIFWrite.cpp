// The GIF writer: one palette image, a true-colour image as a mosaic of
// small tiles with local colour tables, or a list of palette frames as an
// animation with a loop block.
#include <algorithm>
#include <cstring>
#include <memory>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIFWork.h"
#include "platform/byteorder.h"

namespace {

constexpr uint32_t kGifOptionIndex = 2;
constexpr uint32_t kMaxGifSide = 65535;  // sizes are 16-bit fields
constexpr char kWriteError[] = "Write Error in GIF file";
constexpr char kTooLarge[] = "GIF: width and height must not exceed 65535";

constexpr char kNoMemoryToWrite[] = "GIF: not enough memory";

}  // namespace

void PxImageGIF::WriteBytes(PxFile* file, const void* data, size_t size) {
  if (size > 0 && file->WriteBlock(data, 1, size) != size) m_writeFailed = true;
}

bool PxImageGIF::CheckWritten(const char* failureText) {
  if (m_writeFailed) {
    SetLastError(failureText);
    return false;
  }
  return true;
}

bool PxImageGIF::WriteHeader(PxFile* file) {
  uint8_t h[13] = {'G', 'I', 'F', '8', '9', 'a'};
  pw::StoreLE16(h + 6, static_cast<uint16_t>(Width()));
  pw::StoreLE16(h + 8, static_cast<uint16_t>(Height()));
  const uint32_t entries = PaletteSize();
  h[10] = entries == 256 ? 0xE7 : entries == 16 ? 0xE3 : entries == 2 ? 0x80 : 0x11;
  WriteBytes(file, h, sizeof h);
  if (entries == 2 || entries == 16 || entries == 256) {
    const RGBQUAD* pal = PaletteData();
    uint8_t table[768];
    for (uint32_t i = 0; i < entries; ++i) {
      table[3 * i] = pal[i].rgbRed;
      table[3 * i + 1] = pal[i].rgbGreen;
      table[3 * i + 2] = pal[i].rgbBlue;
    }
    WriteBytes(file, table, 3 * size_t{entries});
  }
  return !m_writeFailed;
}

void PxImageGIF::WriteLoopBlock(PxFile* file) {
  uint8_t b[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01};
  const int32_t repeats = m_loopCount - 1 > 0 ? m_loopCount - 1 : 0;
  pw::StoreLE16(b + 16, static_cast<uint16_t>(repeats));
  b[18] = 0;
  WriteBytes(file, b, sizeof b);
}

void PxImageGIF::WriteGraphicControl(PxFile* file) {
  uint8_t b[8] = {0x21, 0xF9, 0x04};
  b[3] = static_cast<uint8_t>(((info.disposal << 2) & 0x1C) | (info.backgroundIndex != -1 ? 1 : 0));
  pw::StoreLE16(b + 4, static_cast<uint16_t>(info.frameDelay));
  b[6] = static_cast<uint8_t>(info.backgroundIndex);
  b[7] = 0;
  WriteBytes(file, b, sizeof b);
}

void PxImageGIF::WriteComment(PxFile* file) {
  const size_t length = std::min<size_t>(std::strlen(m_comment), 255);
  if (length == 0) return;
  const uint8_t head[3] = {0x21, 0xFE, static_cast<uint8_t>(length)};
  WriteBytes(file, head, sizeof head);
  WriteBytes(file, m_comment, length);
  const uint8_t end = 0;
  WriteBytes(file, &end, 1);
}

int PxImageGIF::NextPixelIndex() {
  if (m_pixelsLeft <= 0) return -1;
  const int index = PixelIndexAt(m_curX, m_curY);
  if (++m_curX >= static_cast<int32_t>(Width())) {
    m_curX = 0;
    --m_curY;
  }
  --m_pixelsLeft;
  return index;
}

void PxImageGIF::WriteImageBlock(PxFile* file, bool localTable) {
  m_curX = 0;
  m_curY = static_cast<int32_t>(Height()) - 1;
  m_pixelsLeft = int64_t{Width()} * Height();

  uint8_t d[10] = {0x2C};
  pw::StoreLE16(d + 1, static_cast<uint16_t>(info.frameOffsetX));
  pw::StoreLE16(d + 3, static_cast<uint16_t>(info.frameOffsetY));
  pw::StoreLE16(d + 5, static_cast<uint16_t>(Width()));
  pw::StoreLE16(d + 7, static_cast<uint16_t>(Height()));
  d[9] = localTable ? static_cast<uint8_t>((Bpp() - 1) | 0x80) : 0;
  WriteBytes(file, d, sizeof d);
  if (localTable) {
    const RGBQUAD* pal = PaletteData();
    uint8_t table[768];
    const uint32_t entries = PaletteSize();
    for (uint32_t i = 0; i < entries; ++i) {
      table[3 * i] = pal[i].rgbRed;
      table[3 * i + 1] = pal[i].rgbGreen;
      table[3 * i + 2] = pal[i].rgbBlue;
    }
    WriteBytes(file, table, 3 * size_t{entries});
  }
  const int codeSize = std::max<int>(static_cast<int>(Bpp()), 2);
  const uint8_t size = static_cast<uint8_t>(codeSize);
  WriteBytes(file, &size, 1);
  switch (info.codecOptions[kGifOptionIndex]) {
    case 1: WriteRawCodes(codeSize + 1, file); break;
    case 2: CompressRle(codeSize + 1, file); break;
    default: CompressLzw(codeSize + 1, file); break;
  }
  const uint8_t end = 0;
  WriteBytes(file, &end, 1);
}

bool PxImageGIF::EncodeTrueColor(PxFile* file) {
  WriteHeader(file);
  WriteComment(file);
  const int32_t w = static_cast<int32_t>(Width()), h = static_cast<int32_t>(Height());
  for (int32_t top = 0; top < h && !m_writeFailed; top += 15) {
    for (int32_t left = 0; left < w && !m_writeFailed; left += 17) {
      const int32_t tw = std::min(17, w - left), th = std::min(15, h - top);
      std::unique_ptr<PxImageGIF> tile = NewWorker();
      if (!tile) {
        SetLastError(kNoMemoryToWrite);
        return false;
      }
      if (!tile->Create(static_cast<uint32_t>(tw), static_cast<uint32_t>(th), 8, kFormatGif)) {
        SetLastError(tile->LastError());
        return false;
      }
      if (info.backgroundIndex >= 0) {
        tile->info.backgroundIndex = 0;
        const RGBQUAD& t = info.backgroundColor;
        tile->StorePaletteQuad(0, t.rgbBlue, t.rgbGreen, t.rgbRed, t.rgbReserved);
      }
      for (int32_t i = 0; i < th; ++i) {
        for (int32_t j = 0; j < tw; ++j) {
          const RGBQUAD c = PixelColorAt(left + j, h - top - th + i, true);
          const int entry = std::min(i * 17 + j + 1, 255);
          tile->StorePaletteQuad(static_cast<uint8_t>(entry), c.rgbBlue, c.rgbGreen, c.rgbRed, c.rgbReserved);
          tile->StorePixelIndex(j, i, tile->NearestPaletteIndex(c));
        }
      }
      tile->info.frameOffsetX = left;
      tile->info.frameOffsetY = top;
      tile->WriteGraphicControl(file);
      tile->WriteImageBlock(file, true);
      if (tile->m_writeFailed) m_writeFailed = true;
    }
  }
  const uint8_t trailer = 0x3B;
  WriteBytes(file, &trailer, 1);
  if (!file->FlushFile() || file->ErrorState() != 0) m_writeFailed = true;
  return CheckWritten(kWriteError);
}

bool PxImageGIF::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  if (!m_work) {
    SetLastError(kNoMemoryToWrite);
    return false;
  }
  if (Width() > kMaxGifSide || Height() > kMaxGifSide) {
    SetLastError(kTooLarge);
    return false;
  }
  m_writeFailed = false;
  if (Bpp() == 24) return EncodeTrueColor(file);
  if (info.frameCount > 1 && frames) return Encode(file, frames, std::min(info.frameCount, frameListSize));

  WriteHeader(file);
  WriteGraphicControl(file);
  WriteComment(file);
  WriteImageBlock(file, false);
  const uint8_t trailer = 0x3B;
  WriteBytes(file, &trailer, 1);
  if (!file->FlushFile() || file->ErrorState() != 0) m_writeFailed = true;
  return CheckWritten(kWriteError);
}

bool PxImageGIF::Encode(PxFile* file, PxImage** list, int32_t count) {
  const char* problem = nullptr;
  if (!file) problem = "invalid file pointer";
  else if (!list || count <= 0 || !list[0]) problem = "multipage GIF, no images!";
  for (int32_t i = 0; !problem && i < count; ++i) {
    if (!list[i]) problem = "Bad image pointer";
    else if (!list[i]->HasPixels()) problem = "Empty image";
    else if (list[i]->PaletteSize() == 0)
      problem = "PxImageGIF::Encode cannot create animated GIFs with a true color frame. Use DecreaseBpp before";
    else if (list[i]->Width() > kMaxGifSide || list[i]->Height() > kMaxGifSide)
      problem = kTooLarge;
  }
  if (!problem && !m_work) problem = kNoMemoryToWrite;
  if (problem) {
    SetLastError(problem);
    return false;
  }

  m_writeFailed = false;
  for (int32_t i = 0; i < count && !m_writeFailed; ++i) {
    std::unique_ptr<PxImageGIF> frame = NewWorker();
    if (!frame) {
      SetLastError(kNoMemoryToWrite);
      return false;
    }
    frame->BorrowFrom(*list[i]);
    frame->info.disposal = info.disposal;
    if (i == 0) {
      frame->WriteHeader(file);
      if (m_loopCount != 1) {
        frame->m_loopCount = m_loopCount;
        frame->WriteLoopBlock(file);
      }
    }
    frame->WriteGraphicControl(file);
    if (i == 0) {
      std::memcpy(frame->m_comment, m_comment, sizeof m_comment);
      frame->WriteComment(file);
    }
    frame->WriteImageBlock(file, false);
    if (frame->m_writeFailed) m_writeFailed = true;
  }
  const uint8_t trailer = 0x3B;
  WriteBytes(file, &trailer, 1);
  if (!file->FlushFile() || file->ErrorState() != 0) m_writeFailed = true;
  return CheckWritten(kWriteError);
}
