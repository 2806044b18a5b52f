// The thumbnail JPEG writer and the little TIFF structure of the EXIF block
// it puts in front of a thumbnail that has none.
//
// Layout of the structure (offsets from its first byte): main directory at
// 10 (23 entry places), EXIF directory at 294 (4 entries, its next-directory
// link at 344), GPS directory at 348 (10 entries, its link inside the unused
// sample-size words), then the values: rationals at 476, GPS values at 516,
// and the texts from 620. Every directory's link to a next one reads 0.
#include <cmath>
#include <cstring>
#include <ctime>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_stream.h"

namespace {

constexpr int exif_directory = 294;
constexpr int gps_directory = 348;
constexpr int rationals = 476;
constexpr int gps_values = 516;
constexpr int description_at = 620, make_at = 1132, model_at = 1196, software_at = 1260,
              date_at = 1292, artist_at = 1312;

void put16(uint8_t* p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

// Appends an entry to the directory whose count lies at `directory`. Inline
// values of every kind land in the value field as one little-endian word.
void add_entry(uint8_t* h, int directory, unsigned tag, unsigned type, uint32_t count,
               uint32_t value) {
  unsigned n = h[directory] | h[directory + 1] << 8;
  uint8_t* e = h + directory + 2 + 12 * n;
  put16(e, tag);
  put16(e + 2, type);
  put32(e + 4, count);
  put32(e + 8, value);
  put16(h + directory, n + 1);
}

// Truncation of a float to an unsigned 32-bit value, clamped first.
uint32_t to_u32(double v) {
  if (!(v > 0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return uint32_t(v);
}

void copy_text(uint8_t* to, const char* from, size_t field, size_t source_size) {
  size_t n = strnlen(from, source_size < field ? source_size : field);
  memcpy(to, from, n);
}

}  // namespace

void fill_tiff_header(raw_decode_context* ctx, uint8_t* h) {
  memset(h, 0, raw_tiff_header_size);
  put16(h, 0x4949);
  put16(h + 2, 42);
  put32(h + 4, 10);
  const bool gps = ctx->gps_block[1] != 0;
  const unsigned orientation = "12435867"[ctx->orientation_flags & 7] - '0';
  add_entry(h, 10, 270, 2, 512, description_at);
  add_entry(h, 10, 271, 2, 64, make_at);
  add_entry(h, 10, 272, 2, 64, model_at);
  add_entry(h, 10, 274, 3, 1, orientation);
  add_entry(h, 10, 282, 5, 1, rationals);
  add_entry(h, 10, 283, 5, 1, rationals + 8);
  add_entry(h, 10, 284, 3, 1, 1);
  add_entry(h, 10, 296, 3, 1, 2);
  add_entry(h, 10, 305, 2, 32, software_at);
  add_entry(h, 10, 306, 2, 20, date_at);
  add_entry(h, 10, 315, 2, 64, artist_at);
  add_entry(h, 10, 34665, 4, 1, exif_directory);
  if (gps) add_entry(h, 10, 34853, 4, 1, gps_directory);

  add_entry(h, exif_directory, 33434, 5, 1, rationals + 16);
  add_entry(h, exif_directory, 33437, 5, 1, rationals + 24);
  float iso = ctx->iso_value;
  add_entry(h, exif_directory, 34855, 3, 1, iso > 0 ? (iso >= 65535 ? 65535u : unsigned(iso)) : 0u);
  add_entry(h, exif_directory, 37386, 5, 1, rationals + 32);

  if (gps) {
    auto bytes_of = [](uint32_t v) { return v; };  // four bytes, first in the low byte
    add_entry(h, gps_directory, 0, 1, 4, 0x0202);
    add_entry(h, gps_directory, 1, 2, 2, bytes_of(ctx->gps_block[29]));
    add_entry(h, gps_directory, 2, 5, 3, gps_values);
    add_entry(h, gps_directory, 3, 2, 2, bytes_of(ctx->gps_block[30]));
    add_entry(h, gps_directory, 4, 5, 3, gps_values + 24);
    add_entry(h, gps_directory, 5, 1, 1, ctx->gps_block[31] & 0xFF);
    add_entry(h, gps_directory, 6, 5, 1, gps_values + 72);
    add_entry(h, gps_directory, 7, 5, 3, gps_values + 48);
    add_entry(h, gps_directory, 18, 2, 12, gps_values + 80);
    add_entry(h, gps_directory, 29, 2, 12, gps_values + 92);
    for (int i = 0; i < 26; ++i) put32(h + gps_values + 4 * i, ctx->gps_block[i]);
  }

  uint32_t rat[10] = {300, 1, 300, 1, 1000000, 1000000, 1000000, 1000000, 1000000, 1000000};
  rat[4] = to_u32(1000000 * double(float(ctx->shutter_seconds)));
  rat[6] = to_u32(1000000 * double(float(ctx->aperture_value)));
  rat[8] = to_u32(1000000 * double(float(ctx->focal_length_mm)));
  for (int i = 0; i < 10; ++i) put32(h + rationals + 4 * i, rat[i]);

  copy_text(h + description_at, ctx->image_description, 512, sizeof ctx->image_description);
  copy_text(h + make_at, ctx->camera_make, 64, sizeof ctx->camera_make);
  copy_text(h + model_at, ctx->camera_model, 64, sizeof ctx->camera_model);
  copy_text(h + software_at, "quarn v8.93", 32, 12);
  // The shot time was read as local time, so it is written back as local
  // time; the text is clamped to its 19 characters and terminator.
  time_t when = time_t(ctx->shot_time);
  struct tm t = {};
  if (localtime_r(&when, &t)) {
    char date[64];
    snprintf(date, sizeof date, "%04d:%02d:%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    copy_text(h + date_at, date, 20, sizeof date);
  }
  copy_text(h + artist_at, ctx->artist_name, 64, sizeof ctx->artist_name);
}

void jpeg_thumb(raw_decode_context* ctx, FILE* out) {
  const uint32_t length = ctx->thumb_data_length;
  const int64_t left = ctx->stream_size >= 0 ? ctx->stream_size - raw_tell(ctx) : 0;
  // A JPEG needs its start marker and something after it; a length beyond
  // the data is a damaged directory.
  if (length < 11 || int64_t{length} > left) {
    report_data_error(ctx);
    return;
  }
  auto thumb = raw_alloc<uint8_t>(ctx, length, "jpeg_thumb()");
  if (raw_read(ctx, thumb.get(), 1, length) != length) {
    report_data_error(ctx);
    return;
  }
  static const uint8_t start[2] = {0xFF, 0xD8};
  fwrite(start, 1, 2, out);
  if (memcmp(thumb.get() + 6, "Exif", 5) != 0) {
    static const uint8_t app1[10] = {0xFF, 0xE1, (8 + raw_tiff_header_size) >> 8,
                                     (8 + raw_tiff_header_size) & 0xFF, 'E', 'x', 'i', 'f', 0, 0};
    uint8_t header[raw_tiff_header_size];
    fill_tiff_header(ctx, header);
    fwrite(app1, 1, sizeof app1, out);
    fwrite(header, 1, sizeof header, out);
  }
  fwrite(thumb.get() + 2, 1, length - 2, out);
}
