// The information record every PxImage carries and every format object gets a
// copy of: it is what the container and the format classes exchange. It is a
// plain record, copied whole byte for byte.
#pragma once

#include <cstdint>
#include <type_traits>

#include "imagelib/ExifSummary.h"
#include "imagelib/ImageFormatId.h"
#include "imagelib/WinRecords.h"

class PxImage;

constexpr int kLastErrorSize = 256;  // 255 characters and a NUL

struct ImageInfoBlock {
  uint32_t rowStride;        // bytes per pixel row, a multiple of 4
  uint8_t* pixels;           // first pixel row inside the DIB block
  PxImage* owner;            // the image whose buffers are borrowed; null when owning
  ImageFormatId formatId;    // format read from, or format a format object writes
  char lastError[kLastErrorSize];
  int32_t progress;          // percent done of a long operation
  int32_t escape;            // -1 before a read: dimensions only; other non-zero: stop early
  int32_t backgroundIndex;   // palette index that counts as transparent; -1 none
  RGBQUAD backgroundColor;   // transparent colour of true-colour images
  float jpegQuality;         // 0..100
  uint8_t jpegScale;         // decoder scale denominator
  int32_t frame;             // frame to read
  int32_t frameCount;        // frames the reader found
  uint32_t frameDelay;       // GIF delay, hundredths of a second
  int32_t xDpi;
  int32_t yDpi;
  int32_t selectionLeft;
  int32_t selectionTop;
  int32_t selectionRight;
  int32_t selectionBottom;
  uint8_t alphaMax;
  bool alphaPalette;         // set by the PNG reader
  int32_t frameOffsetX;      // position of a GIF image block or a TIFF page
  int32_t frameOffsetY;
  uint32_t codecOptions[kFormatIndexCount];  // one word per dense format index
  RGBQUAD lastColor;         // nearest-colour cache: colour last searched,
  uint8_t lastColorIndex;    // the index found for it,
  bool lastColorValid;       // and whether the cache may be used
  uint8_t disposal;          // GIF disposal method
  bool getAllFrames;         // the GIF reader keeps every frame in the frame list
  bool littleEndianHost;     // header fields are taken as stored when true
  bool bDamaged;             // the last decode had to pad missing or unreadable data
                             // (lastError says what); the picture is still whole in size
  ExifSummary exif;
};

static_assert(std::is_trivially_copyable_v<ImageInfoBlock>,
              "the info block is copied byte for byte between images");
