// Fuzz target for the JPG reader and writer (image_fuzz_common.h).
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/image_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pwfuzz::FuzzImageFormat(data, size, kFormatJpg, false);
}
