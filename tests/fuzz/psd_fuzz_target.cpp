// libFuzzer entry: one document from memory through the whole state loop in
// each load mode. Run by hand (see CMake option PW_FUZZ); crashers found go
// into tests/data/psd/crashers/ where the replay program runs them in CI.
#include <cstddef>
#include <cstdint>

#include "psd_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pw_fuzz::DecodeAllModes(data, size);
  return 0;
}
