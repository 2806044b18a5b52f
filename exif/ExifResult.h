// Status codes of the EXIF library: a plain integer, 0 for success.
#pragma once

using ExifResult = int;

enum : ExifResult {
  kExifOk = 0,
  kExifNotDone = 1,           // not TIFF-structured, no memory, repeated directory, codec error
  kExifBadData = 2,           // no SOI, TIFF magic, frame component id, bad table
  kExifWriteFailed = 3,       // short write, or the mode does not allow the operation
  kExifReadFailed = 4,        // short read, too many entries, no image data
  kExifOpenFailed = 7,
  kExifCloseFailed = 8,
  kExifBadMode = 9,
  kExifNoFraction = 10,
  kExifNotSubDirTag = 12,
  kExifNoSegment = 14,
  kExifBadByteOrder = 15,
  kExifBadPath = 16,
  kExifNoMainDir = 18,
  kExifNoExifDir = 19,
  kExifBadDirKind = 21,
  kExifNoImageData = 22,
  kExifBadHuffman = 23,
};
