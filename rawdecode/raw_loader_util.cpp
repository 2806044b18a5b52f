#include "rawdecode/raw_loader_util.h"

#include <cstring>

size_t loader_read_bytes(raw_decode_context* ctx, uint8_t* buffer, size_t count) {
  size_t got = raw_read(ctx, buffer, 1, count);
  if (got < count) {
    report_data_error(ctx);
    memset(buffer + got, 0, count - got);
  }
  return got;
}
