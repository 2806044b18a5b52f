#include "psd_test_support.h"

#include <zlib.h>

namespace psdtest {

Bytes Deflate(const Bytes& in) {
  uLongf size = compressBound(uLong(in.size()));
  Bytes out(size);
  compress2(out.data(), &size, in.data(), uLong(in.size()), 9);
  out.resize(size);
  return out;
}

}  // namespace psdtest
