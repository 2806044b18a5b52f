// The compressors of the GIF writer: LZW with a hashed dictionary (the
// default), raw codes without compression, and a run-length coder that
// writes only codes a standard decoder builds by itself.
#include <cstring>

#include "imagelib/PxFile.h"
#include "imagelib/PxImageGIFWork.h"

namespace {
constexpr int kMaxBits = 12;
constexpr int kMaxMaxCode = 1 << kMaxBits;  // 4096
}  // namespace

void PxImageGIF::ClearHashTable() {
  for (int32_t& slot : m_work->hashTable) slot = -1;
}

// Appends a code (least significant bit first) and writes full sub-blocks.
void PxImageGIF::OutputCode(int code, PxFile* file) {
  Work& w = *m_work;
  w.accumulator &= (1u << w.accumulatedBits) - 1;
  w.accumulator |= static_cast<uint32_t>(code) << w.accumulatedBits;
  w.accumulatedBits += w.nBits;
  auto flushPacket = [&]() {
    if (w.packetCount == 0) return;
    const uint8_t count = static_cast<uint8_t>(w.packetCount);
    WriteBytes(file, &count, 1);
    WriteBytes(file, w.packet, static_cast<size_t>(w.packetCount));
    w.packetCount = 0;
  };
  while (w.accumulatedBits >= 8) {
    w.packet[w.packetCount++] = static_cast<uint8_t>(w.accumulator & 0xFF);
    w.accumulator >>= 8;
    w.accumulatedBits -= 8;
    if (w.packetCount >= w.packetLimit) flushPacket();
  }
  if (w.clearFlag) {
    w.nBits = w.initBits;
    w.maxCode = (1 << w.nBits) - 1;
    w.clearFlag = false;
  } else if (w.freeEnt > w.maxCode) {
    ++w.nBits;
    w.maxCode = w.nBits == kMaxBits ? kMaxMaxCode : (1 << w.nBits) - 1;
  }
  if (code == w.eofCode) {
    while (w.accumulatedBits > 0) {
      w.packet[w.packetCount++] = static_cast<uint8_t>(w.accumulator & 0xFF);
      w.accumulator >>= 8;
      w.accumulatedBits = w.accumulatedBits > 8 ? w.accumulatedBits - 8 : 0;
      if (w.packetCount >= w.packetLimit) flushPacket();
    }
    flushPacket();
    if (!file->FlushFile() || file->ErrorState() != 0) m_writeFailed = true;
  }
}

namespace {
void StartCodes(PxImageGIF::Work& w, int initBits, int packetLimit) {
  w.initBits = initBits;
  w.nBits = initBits;
  w.maxCode = (1 << initBits) - 1;
  w.clearCodeOut = 1 << (initBits - 1);
  w.eofCode = w.clearCodeOut + 1;
  w.freeEnt = w.clearCodeOut + 2;
  w.clearFlag = false;
  w.accumulator = 0;
  w.accumulatedBits = 0;
  w.packetCount = 0;
  w.packetLimit = packetLimit;
}
}  // namespace

void PxImageGIF::CompressLzw(int initBits, PxFile* file) {
  Work& w = *m_work;
  StartCodes(w, initBits, 254);
  int ent = NextPixelIndex();
  if (ent < 0) ent = 0;
  constexpr int kHashShift = 4;  // 8 minus the doublings of 5003 needed to reach 65536
  ClearHashTable();
  OutputCode(w.clearCodeOut, file);

  int c;
  while ((c = NextPixelIndex()) >= 0) {
    const int32_t key = (c << kMaxBits) + ent;
    int i = (c << kHashShift) ^ ent;
    if (w.hashTable[i] == key) {
      ent = w.codeTable[i];
      continue;
    }
    bool found = false;
    if (w.hashTable[i] >= 0) {
      const int step = i == 0 ? 1 : Work::kHashSize - i;
      for (;;) {
        i -= step;
        if (i < 0) i += Work::kHashSize;
        if (w.hashTable[i] == key) {
          ent = w.codeTable[i];
          found = true;
          break;
        }
        if (w.hashTable[i] <= 0) break;
      }
    }
    if (found) continue;
    OutputCode(ent, file);
    if (w.freeEnt < kMaxMaxCode) {
      w.codeTable[i] = static_cast<uint16_t>(w.freeEnt++);
      w.hashTable[i] = key;
    } else {
      ClearHashTable();
      w.freeEnt = w.clearCodeOut + 2;
      w.clearFlag = true;
      OutputCode(w.clearCodeOut, file);
    }
    ent = c;
  }
  OutputCode(ent, file);
  OutputCode(w.eofCode, file);
}

void PxImageGIF::WriteRawCodes(int initBits, PxFile* file) {
  Work& w = *m_work;
  StartCodes(w, initBits, 254);
  OutputCode(w.clearCodeOut, file);
  int c;
  while ((c = NextPixelIndex()) >= 0) {
    OutputCode(c, file);
    if (w.freeEnt > kMaxMaxCode - 1) {
      w.clearFlag = true;
      w.freeEnt = w.clearCodeOut + 2;
      OutputCode(w.clearCodeOut, file);
    } else {
      ++w.freeEnt;
    }
  }
  OutputCode(w.eofCode, file);
}

// Run-length coding with plain LZW codes. It mirrors the decoder's table:
// right after a clear code, a literal p followed by the codes K+2, K+3, ...
// makes the decoder build runs of p of length 2, 3, ... (each code naming
// the entry it is about to create), so code K+L means "L times p". Later
// runs of the same index reuse those codes; a run of another index long
// enough to pay for it starts again with a clear code.
void PxImageGIF::CompressRle(int initBits, PxFile* file) {
  Work& w = *m_work;
  StartCodes(w, initBits, 255);
  const int clear = w.clearCodeOut;
  int nextFree = clear + 2;  // the entry the decoder will define next
  bool firstAfterClear = true;
  int tableIndex = -1;       // the index whose runs the table holds
  int maxRun = 0;            // codes clear+2 .. clear+maxRun are runs 2 .. maxRun
  int previousRun = 0;       // length of the last code's run of tableIndex, else 0

  auto putBits = [&](int code) {
    w.accumulator &= (1u << w.accumulatedBits) - 1;
    w.accumulator |= static_cast<uint32_t>(code) << w.accumulatedBits;
    w.accumulatedBits += w.nBits;
    while (w.accumulatedBits >= 8) {
      w.packet[w.packetCount++] = static_cast<uint8_t>(w.accumulator & 0xFF);
      w.accumulator >>= 8;
      w.accumulatedBits -= 8;
      if (w.packetCount >= w.packetLimit) {
        const uint8_t count = static_cast<uint8_t>(w.packetCount);
        WriteBytes(file, &count, 1);
        WriteBytes(file, w.packet, static_cast<size_t>(w.packetCount));
        w.packetCount = 0;
      }
    }
  };
  auto emitClear = [&]() {
    putBits(clear);
    w.nBits = initBits;
    nextFree = clear + 2;
    firstAfterClear = true;
    tableIndex = -1;
    maxRun = 0;
    previousRun = 0;
  };
  // One code standing for `length` pixels of index p.
  auto emitRun = [&](int p, int length) {
    putBits(length == 1 ? p : clear + length);
    if (firstAfterClear) {
      tableIndex = p;
      maxRun = 1;
      firstAfterClear = false;
    } else if (nextFree < kMaxMaxCode) {
      // The decoder now defines entry nextFree = last string + p.
      if (p == tableIndex && previousRun == maxRun && nextFree == clear + maxRun + 1) ++maxRun;
      ++nextFree;
      if (nextFree == (1 << w.nBits) && w.nBits < kMaxBits) ++w.nBits;
    }
    previousRun = p == tableIndex ? length : 0;
  };
  auto encodeRun = [&](int p, int n) {
    while (n > 0) {
      if (nextFree >= kMaxMaxCode - 96) emitClear();
      if (p == tableIndex && !firstAfterClear) {
        int available = maxRun;
        if (previousRun == maxRun && nextFree == clear + maxRun + 1 && clear + maxRun + 1 < kMaxMaxCode)
          available = maxRun + 1;
        const int length = n < available ? n : available;
        emitRun(p, length);
        n -= length;
      } else if (n >= 4 && p != tableIndex) {
        emitClear();
        emitRun(p, 1);
        --n;
      } else {
        emitRun(p, 1);
        --n;
      }
    }
  };

  emitClear();
  int run = 0, runIndex = -1, c;
  while ((c = NextPixelIndex()) >= 0) {
    if (c == runIndex) {
      ++run;
      continue;
    }
    if (run > 0) encodeRun(runIndex, run);
    runIndex = c;
    run = 1;
  }
  if (run > 0) encodeRun(runIndex, run);
  putBits(clear + 1);
  while (w.accumulatedBits > 0) {
    w.packet[w.packetCount++] = static_cast<uint8_t>(w.accumulator & 0xFF);
    w.accumulator >>= 8;
    w.accumulatedBits = w.accumulatedBits > 8 ? w.accumulatedBits - 8 : 0;
    if (w.packetCount >= w.packetLimit) {
      const uint8_t count = static_cast<uint8_t>(w.packetCount);
      WriteBytes(file, &count, 1);
      WriteBytes(file, w.packet, static_cast<size_t>(w.packetCount));
      w.packetCount = 0;
    }
  }
  if (w.packetCount > 0) {
    const uint8_t count = static_cast<uint8_t>(w.packetCount);
    WriteBytes(file, &count, 1);
    WriteBytes(file, w.packet, static_cast<size_t>(w.packetCount));
    w.packetCount = 0;
  }
  if (!file->FlushFile() || file->ErrorState() != 0) m_writeFailed = true;
}
