// The LZW decoder of the GIF reader: codes read least significant bit first
// across data sub-blocks, decoded into rows handed to StoreDecodedRow.
#include <cstring>
#include <vector>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIFWork.h"

int PxImageGIF::NextDataByte(PxFile* file) {
  Work& w = *m_work;
  if (w.readPos > Work::kReadAheadSize - 2) {
    const size_t n = file->ReadBlock(w.readAhead, 1, Work::kReadAheadSize - 1);
    w.readFill = static_cast<int32_t>(n);
    if (n < static_cast<size_t>(Work::kReadAheadSize - 1)) w.readAhead[n] = 0xFF;
    w.readPos = 0;
  }
  if (w.readPos >= w.readFill) return -1;
  return w.readAhead[w.readPos++];
}

int PxImageGIF::NextCode(PxFile* file) {
  Work& w = *m_work;
  while (w.bitsInBuffer < w.codeSize) {
    if (w.blockBytesLeft == 0) {
      const int size = NextDataByte(file);
      if (size < 0) return -1;
      if (size == 0) {
        // The data ended without an end code.
        w.terminatorRead = true;
        return w.endCode;
      }
      for (int i = 0; i < size; ++i) {
        const int b = NextDataByte(file);
        if (b < 0) return -1;
        w.block[i] = static_cast<uint8_t>(b);
      }
      w.blockBytesLeft = size;
      w.blockPos = 0;
    }
    w.bitBuffer |= uint32_t{w.block[w.blockPos++]} << w.bitsInBuffer;
    w.bitsInBuffer += 8;
    --w.blockBytesLeft;
  }
  const int code = static_cast<int>(w.bitBuffer & ((1u << w.codeSize) - 1));
  w.bitBuffer >>= w.codeSize;
  w.bitsInBuffer -= w.codeSize;
  return code;
}

int PxImageGIF::StoreDecodedRow(GifRowIterator* rows, uint8_t* pixels, int32_t length) {
  PxImage* image = rows->image;
  const uint32_t bpp = image->Bpp();
  size_t bytes = static_cast<size_t>(length);
  if (bpp == 1) {
    for (int32_t i = 0; i < length; ++i) {
      const uint8_t bit = static_cast<uint8_t>((pixels[i] & 1) << (7 - (i & 7)));
      pixels[i / 8] = (i & 7) == 0 ? bit : static_cast<uint8_t>(pixels[i / 8] | bit);
    }
    bytes = (static_cast<size_t>(length) + 7) / 8;
  } else if (bpp == 4) {
    for (int32_t i = 0; i < length; ++i) {
      const uint8_t v = pixels[i] & 0x0F;
      pixels[i / 2] = (i & 1) == 0 ? static_cast<uint8_t>(v << 4) : static_cast<uint8_t>(pixels[i / 2] | v);
    }
    bytes = (static_cast<size_t>(length) + 1) / 2;
  }

  int32_t y;
  if (m_interlaced) {
    static constexpr int32_t kStart[4] = {0, 4, 2, 1};
    static constexpr int32_t kStep[4] = {8, 8, 4, 2};
    // Rows beyond the last pass belong nowhere: drop them.
    if (m_interlacePass >= 4) return 0;
    y = m_interlaceHeight - 1 - m_interlaceRow;
    m_interlaceRow += m_interlaceStep;
    while (m_interlaceRow >= m_interlaceHeight) {
      if (++m_interlacePass >= 4) break;
      m_interlaceRow = kStart[m_interlacePass];
      m_interlaceStep = kStep[m_interlacePass];
    }
  } else {
    if (rows->y < 0) return -1;
    y = rows->y--;
  }
  if (y < 0 || static_cast<uint32_t>(y) >= image->Height()) return -1;
  const size_t fromTop = image->Height() - 1 - static_cast<uint32_t>(y);
  if (fromTop < m_rowDrawn.size()) m_rowDrawn[fromTop] = 1;
  const uint32_t stride = image->RowStride();
  std::memcpy(image->RowAt(static_cast<uint32_t>(y)), pixels, bytes < stride ? bytes : stride);
  return 0;
}

int PxImageGIF::DecodeLzw(PxFile* file, GifRowIterator* rows, int32_t width, int32_t* badCodes) {
  Work& w = *m_work;
  *badCodes = 0;
  w.readPos = Work::kReadAheadSize;
  w.readFill = 0;
  w.blockBytesLeft = 0;
  w.bitBuffer = 0;
  w.bitsInBuffer = 0;
  w.terminatorRead = false;

  const int minSize = NextDataByte(file);
  if (minSize < 0) return minSize;
  if (minSize < 2 || minSize > 9) return -20;
  w.clearCode = 1 << minSize;
  w.endCode = w.clearCode + 1;
  w.firstFree = w.nextFree = w.clearCode + 2;
  w.codeSize = minSize + 1;
  w.codeLimit = 1 << w.codeSize;
  std::memset(w.stack, 0, sizeof w.stack);
  std::memset(w.suffix, 0, sizeof w.suffix);
  std::memset(w.prefix, 0, sizeof w.prefix);

  std::vector<uint8_t> line(static_cast<size_t>(width > 0 ? width : 0) + 1);
  int32_t filled = 0;
  // Puts one pixel into the row; a full row goes to the image.
  auto emit = [&](uint8_t pixel) -> int {
    if (width <= 0) return 0;
    line[static_cast<size_t>(filled++)] = pixel;
    if (filled < width) return 0;
    filled = 0;
    return rows ? StoreDecodedRow(rows, line.data(), width) : 0;
  };

  int oldCode = 0, firstChar = 0, sp = 0;
  for (;;) {
    int c = NextCode(file);
    if (c == w.endCode) break;
    if (c < 0) return 0;
    if (c == w.clearCode) {
      w.codeSize = minSize + 1;
      w.nextFree = w.firstFree;
      w.codeLimit = 1 << w.codeSize;
      do {
        c = NextCode(file);
      } while (c == w.clearCode);
      if (c == w.endCode) break;
      if (c < 0) return 0;
      if (c >= w.nextFree) c = 0;
      oldCode = firstChar = c;
      const int r = emit(static_cast<uint8_t>(c));
      if (r < 0) return r;
      continue;
    }
    int code = c;
    if (code >= w.nextFree && sp < Work::kMaxCodes - 1) {
      if (code > w.nextFree) ++*badCodes;
      code = oldCode;
      w.stack[sp++] = static_cast<uint8_t>(firstChar);
    }
    while (code >= w.firstFree && sp < Work::kMaxCodes - 2) {
      w.stack[sp++] = w.suffix[code];
      code = w.prefix[code];
    }
    w.stack[sp++] = static_cast<uint8_t>(code);
    if (w.nextFree < w.codeLimit) {
      firstChar = code;
      w.suffix[w.nextFree] = static_cast<uint8_t>(code);
      w.prefix[w.nextFree++] = static_cast<uint16_t>(oldCode);
      oldCode = c;
    }
    if (w.nextFree >= w.codeLimit && w.codeSize < 12) {
      w.codeLimit <<= 1;
      ++w.codeSize;
    }
    while (sp > 0) {
      const int r = emit(w.stack[--sp]);
      if (r < 0) return r;
    }
  }
  if (filled > 0 && rows) StoreDecodedRow(rows, line.data(), filled);
  return 0;
}
