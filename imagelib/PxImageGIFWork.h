// Work buffers of PxImageGIF: the read-ahead under the LZW decoder and the
// tables of the LZW decoder and encoder. Shared by the GIF source files only.
#pragma once

#include <cstdint>

#include "imagelib/PxImageGIF.h"

struct PxImageGIF::Work {
  static constexpr int32_t kReadAheadSize = 16384;
  static constexpr int kHashSize = 5003;
  static constexpr int kMaxCodes = 4096;

  // Read-ahead under the LZW decoder.
  uint8_t readAhead[kReadAheadSize];
  int32_t readPos = kReadAheadSize;
  int32_t readFill = 0;

  // LZW decoder.
  int codeSize = 0;
  int clearCode = 0;
  int endCode = 0;
  int firstFree = 0;
  int codeLimit = 0;
  int nextFree = 0;
  int blockBytesLeft = 0;   // bytes left in the current data sub-block
  int blockPos = 0;
  uint32_t bitBuffer = 0;   // bits not yet handed out, least significant first
  int bitsInBuffer = 0;
  bool terminatorRead = false;  // the data's zero-size sub-block was consumed
  uint8_t block[257];
  uint8_t stack[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint16_t prefix[kMaxCodes];

  // LZW encoder.
  int32_t hashTable[kHashSize];
  uint16_t codeTable[kHashSize];
  uint32_t accumulator = 0;
  int accumulatedBits = 0;
  int initBits = 0;
  int nBits = 0;
  int maxCode = 0;
  int clearCodeOut = 0;
  int eofCode = 0;
  int freeEnt = 0;
  bool clearFlag = false;
  int packetLimit = 254;
  int packetCount = 0;
  uint8_t packet[256];
};
