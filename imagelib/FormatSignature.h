// The format a file's first bytes announce, for the try-every-format road:
// when the format that recognised a file fails to read it, its own error
// says why, where "unknown format" would hide it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagelib/ImageFormatId.h"

// Bytes a signature needs at most.
constexpr size_t kSignatureBytes = 8;

// The format whose signature the bytes start with, or kFormatUnknown.
ImageFormatId FormatBySignature(const uint8_t* head, size_t size);
