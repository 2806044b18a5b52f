// The format classes the load and encode dispatch can run, one row per class.
#pragma once

#include <cstddef>

#include "imagelib/ImageFormatId.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"

struct FormatCodec {
  // A new format object (constructed with its class's format id), or null
  // when memory runs out.
  PxImage* (*create)();
  bool (*decode)(PxImage& object, PxFile* file);
  // Null for a format that is only read; `noWriterText` is then the failure.
  bool (*encode)(PxImage& object, PxFile* file, ImageFormatId id);
  const char* noWriterText;
  // Readers that count a file's frames hand the count back even on failure.
  bool reportsFrameCount;
};

// The class that reads and writes the id, or null for 0, 16 and ids above 20.
const FormatCodec* CodecForId(ImageFormatId id);

// The classes tried, in order, when a read names no format.
const FormatCodec* const* CodecsInTryOrder(size_t* count);
