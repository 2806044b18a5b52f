// The three ways channel planes are compressed: PackBits rows with a row
// count table, zlib, and zlib with per-row delta prediction. Output never
// passes the end of the plane being filled.
#include <zlib.h>

#include <algorithm>
#include <climits>

#include "psddecode/psd_internal.h"

int64_t psd_unpack_rows(const uint8_t* input, int64_t input_length, uint8_t* output,
                        int64_t output_length, int64_t rows) {
  if (!input || !output || rows <= 0) return 0;
  const int64_t table_bytes = 2 * rows;
  int64_t in = std::min(table_bytes, input_length);
  int64_t out = 0;
  for (int64_t r = 0; r < rows && out < output_length; ++r) {
    int64_t count = 0;
    if (2 * r + 1 < input_length) count = int16_t((input[2 * r] << 8) | input[2 * r + 1]);
    if (count <= 0) continue;
    int64_t row_end = in + count;
    while (in < row_end && in < input_length && out < output_length) {
      uint8_t h = input[in++];
      if (h < 128) {
        int64_t n = std::min<int64_t>({int64_t(h) + 1, input_length - in, output_length - out});
        std::memcpy(output + out, input + in, size_t(n));
        in += h + 1;
        out += n;
      } else if (h > 128) {
        if (in >= input_length) break;
        int64_t n = std::min<int64_t>(257 - h, output_length - out);
        std::memset(output + out, input[in++], size_t(n));
        out += n;
      }
    }
    in = std::max(in, std::min(row_end, input_length));
  }
  return out;
}

psd_status psd_inflate(const uint8_t* input, int64_t input_length, uint8_t* output,
                       int64_t output_length) {
  z_stream z{};
  z.next_in = const_cast<Bytef*>(input);
  z.avail_in = uInt(std::min<int64_t>(input_length > 0 ? input_length : 0, UINT_MAX));
  if (inflateInit(&z) != Z_OK) return psd_status_inflate_failed;
  int64_t produced = 0;
  psd_status status = 0;
  while (produced < output_length) {
    int64_t chunk = std::min<int64_t>(output_length - produced, int64_t(1) << 30);
    z.next_out = output + produced;
    z.avail_out = uInt(chunk);
    int r = inflate(&z, Z_PARTIAL_FLUSH);
    produced += chunk - z.avail_out;
    if (r == Z_STREAM_END) break;
    if (r != Z_OK) {
      status = psd_status_inflate_failed;
      break;
    }
    // Nothing more can come: the input is used up and no output appeared.
    if (z.avail_in == 0 && z.avail_out == uInt(chunk)) break;
  }
  inflateEnd(&z);
  return status;
}

psd_status psd_inflate_predicted(const uint8_t* input, int64_t input_length, uint8_t* output,
                                 int64_t output_length, int32_t row_width, int32_t depth) {
  psd_status s = psd_inflate(input, input_length, output, output_length);
  if (s != 0) return s;
  const int64_t width = std::max(row_width, 1);
  if (depth == 16) {
    for (int64_t row = 0; row < output_length; row += 2 * width) {
      int64_t end = std::min(row + 2 * width, output_length) - 1;  // last full sample start + 1
      for (int64_t i = row + 2; i + 1 <= end; i += 2) {
        uint32_t prev = (uint32_t(output[i - 2]) << 8) | output[i - 1];
        uint32_t cur = ((uint32_t(output[i]) << 8) | output[i + 1]) + prev;
        output[i] = uint8_t(cur >> 8);
        output[i + 1] = uint8_t(cur);
      }
    }
  } else {
    for (int64_t row = 0; row < output_length; row += width) {
      int64_t end = std::min(row + width, output_length);
      for (int64_t i = row + 1; i < end; ++i) output[i] = uint8_t(output[i] + output[i - 1]);
    }
  }
  return 0;
}
