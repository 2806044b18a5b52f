// libjpeg source and destination managers over a caller's memory buffer.
// The buffer stays the caller's; the work buffers come from libjpeg's
// image pool and go with the image.
#pragma once

#include <cstdint>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

// Compressed bytes go into buffer[0, capacity); more than that raises
// libjpeg's "buffer too small" error.
void ExifJpegMemoryDest(j_compress_ptr cinfo, uint8_t* buffer, int64_t capacity);
// Bytes delivered to the caller's buffer so far (all of them once the
// compression has finished).
int64_t ExifJpegMemoryDestSize(j_compress_ptr cinfo);

// Reads data[0, size). Running out of data ends the image with a fake end
// marker and the premature-end warning. Every header read starts again
// at the beginning of the buffer.
void ExifJpegMemorySrc(j_decompress_ptr cinfo, const uint8_t* data, int64_t size);
