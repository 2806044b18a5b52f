// Fuzz target for the RAW decoder's loaders: the first 16 bytes fill a
// context by hand (loader, geometry, CFA pattern, depth, flags, offsets;
// tests/rawdecode/raw_loader_harness.h), the rest is the stream the loader
// reads. Built only with PW_FUZZ; run by hand:
//   build-fuzz/tests/fuzz/raw_loaders_fuzz corpus/ -max_len=4096
#include <cstddef>
#include <cstdint>

#include "tests/rawdecode/raw_loader_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  rawtest::RunLoaderOnBytes(data, size);
  return 0;
}
