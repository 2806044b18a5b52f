// The few JPEG coding jobs the EXIF library needs besides copying bytes:
// decoding a JPEG thumbnail into pixels, encoding pixels as a JPEG
// thumbnail, and reading a picture's frame size. libjpeg errors end the
// job with an empty result instead of leaving the process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "exif/ExifResult.h"

struct ThumbnailImage;

// Null when the bytes are not a decodable JPEG or the image is too large
// for a thumbnail (more than 65520 samples).
std::unique_ptr<ThumbnailImage> DecodeJpegThumbnail(const std::vector<uint8_t>& bytes);
// Empty when the image cannot be encoded or does not fit in 65534 bytes.
std::vector<uint8_t> EncodeJpegThumbnail(const ThumbnailImage& image, int quality);
// Frame size through the decompressor's header read, from the start of
// the file or the buffer. 3 when the header cannot be read.
ExifResult ReadJpegFrameSize(FILE* file, int32_t* width, int32_t* height);
ExifResult ReadJpegFrameSize(const uint8_t* data, int64_t size, int32_t* width, int32_t* height);
