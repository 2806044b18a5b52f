// Fuzz target for the WBMP reader (see small_codec_fuzz.h).
#include "small_codec_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzOneFormat(data, size, kFormatWbmp); }
