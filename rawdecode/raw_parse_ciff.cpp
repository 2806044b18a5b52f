// Canon's CIFF heaps (CRW files, and JPEG files that carry one) with the
// white-balance block, and the marker segments of a plain JPEG file.
#include <cmath>

#include "rawdecode/raw_parse_util.h"

namespace {

constexpr uint16_t canon_wb_key[2] = {0x3a71, 0x5c2e};

// A digit of an index string, ':' counting as 10; indexes outside the
// string take its first entry.
int index_digit(const char* digits, int index) {
  if (index < 0 || index >= int(strlen(digits))) index = 0;
  return digits[index] - '0';
}

struct ciff_walk {
  int wbi = -1;
  uint16_t key[2] = {canon_wb_key[0], canon_wb_key[1]};
};

void read_ciff_wb_0032(raw_decode_context* ctx, ciff_walk& w, uint32_t len) {
  if (len == 768) {
    parse_skip(ctx, 72);
    for (int c = 0; c < 4; ++c) {
      unsigned v = read_u16(ctx);
      if (v) ctx->camera_multipliers[c ^ (c >> 1)] = 1024.0f / float(v);
    }
    if (w.wbi == 0) ctx->camera_multipliers[0] = -1;
    return;
  }
  if (ctx->camera_multipliers[0] != 0) return;
  int k;
  if (read_u16(ctx) == w.key[0]) {
    k = index_digit(strstr(ctx->camera_model, "Pro1") ? "012346000000000000" : "01345:000000006008", w.wbi) + 2;
  } else {
    k = index_digit("023457000000006000", w.wbi);
    w.key[0] = w.key[1] = 0;
  }
  parse_skip(ctx, 78 + 8 * k);
  for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1) ^ 1] = float(read_u16(ctx) ^ w.key[c & 1]);
  if (w.wbi == 0) ctx->camera_multipliers[0] = -1;
}

void read_ciff_record(raw_decode_context* ctx, ciff_walk& w, unsigned type, uint32_t len) {
  switch (type) {
    case 0x0032: read_ciff_wb_0032(ctx, w, len); break;
    case 0x080A:
      read_text(ctx, ctx->camera_make);
      raw_seek(ctx, int64_t(strlen(ctx->camera_make)) - 63, 1);
      read_text(ctx, ctx->camera_model);
      break;
    case 0x0810: read_text(ctx, ctx->artist_name); break;
    case 0x102A: {
      parse_skip(ctx, 4);
      ctx->iso_value = float(50 * std::pow(2.0, read_u16(ctx) / 32.0 - 4));
      parse_skip(ctx, 2);
      ctx->aperture_value = float(std::pow(2.0, int16_t(read_u16(ctx)) / 64.0));
      ctx->shutter_seconds = float(std::pow(2.0, -int16_t(read_u16(ctx)) / 32.0));
      parse_skip(ctx, 2);
      w.wbi = read_u16(ctx);
      if (w.wbi > 17) w.wbi = 0;
      parse_skip(ctx, 32);
      if (ctx->shutter_seconds > 1e6) ctx->shutter_seconds = read_u16(ctx) / 10.0f;
      break;
    }
    case 0x102C:
      if (read_u16(ctx) > 512) {
        parse_skip(ctx, 118);
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ 2] = read_u16(ctx);
      } else {
        parse_skip(ctx, 98);
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1) ^ 1] = read_u16(ctx);
      }
      break;
    case 0x10A9:
      if (len > 66) {
        w.wbi = index_digit("0134567028", w.wbi);
        parse_skip(ctx, 2 + 8 * w.wbi);
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1)] = read_u16(ctx);
      }
      break;
    case 0x1030:
      if (w.wbi >= 0 && w.wbi < 32 && (0x18040 >> w.wbi & 1)) read_canon_wb_block(ctx);
      break;
    case 0x1031:
      parse_skip(ctx, 2);
      ctx->sensor_width = read_u16(ctx);
      ctx->sensor_height = read_u16(ctx);
      break;
    case 0x180E: ctx->shot_time = read_u32(ctx); break;
    case 0x1810:
      parse_skip(ctx, 12);
      ctx->orientation_flags = orientation_from_degrees(int32_t(read_u32(ctx)));
      break;
    case 0x1818: {
      parse_skip(ctx, 4);
      float f = float_from_bits(read_u32(ctx));
      float g = float_from_bits(read_u32(ctx));
      set_if_finite(&ctx->shutter_seconds, std::pow(2.0, -double(f)));
      set_if_finite(&ctx->aperture_value, std::pow(2.0, double(g) / 2));
      break;
    }
    case 0x1835: ctx->compression_code = int32_t(read_u32(ctx)); break;
    case 0x2007:
      ctx->thumb_data_offset = uint32_t(raw_tell(ctx));
      ctx->thumb_data_length = len;
      break;
    case 0x5029:
      ctx->focal_length_mm = float(int32_t(len) >> 16);
      if ((len & 0xFFFF) == 2) ctx->focal_length_mm /= 32;
      break;
    case 0x580E: ctx->shot_time = len; break;
    case 0x5813: set_if_finite(&ctx->flash_fired, float_from_bits(len)); break;
    case 0x5814: set_if_finite(&ctx->canon_exposure_value, float_from_bits(len)); break;
    case 0x5817: ctx->shot_sequence = len; break;
    case 0x5834: ctx->camera_id = len; break;
    default: break;
  }
}

}  // namespace

void read_ciff_heap(raw_decode_context* ctx, int64_t offset, int64_t length) {
  parse_level level(ctx);
  const int64_t file_end = ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size;
  // The record table's offset is in the heap's last 4 bytes.
  if (!level.ok || offset < 0 || length < 6 || offset + length > file_end) return;
  raw_seek(ctx, offset + length - 4, 0);
  const int64_t table = offset + read_u32(ctx);
  if (table >= offset + length) return;
  raw_seek(ctx, table, 0);
  if (!parse_first_visit(ctx, parse_ciff_heap)) return;
  const unsigned records = read_u16(ctx);
  if (records > 100) return;
  ciff_walk w;
  for (unsigned n = 0; n < records; ++n) {
    if (!parse_charge(ctx)) return;
    const unsigned type = read_u16(ctx);
    const uint32_t len = read_u32(ctx);
    const int64_t end = raw_tell(ctx) + 4;
    const int64_t data = offset + read_u32(ctx);
    raw_seek(ctx, data, 0);
    // A sub-heap lies inside this heap and is smaller than it.
    if ((((type >> 8) + 8) | 8) == 0x38 && data >= offset && data + len <= offset + length && len < length)
      read_ciff_heap(ctx, data, len);
    raw_seek(ctx, data, 0);
    read_ciff_record(ctx, w, type, len);
    raw_seek(ctx, end, 0);
  }
}

void read_canon_wb_block(raw_decode_context* ctx) {
  parse_skip(ctx, 2);
  if (read_u32(ctx) != 0x80008 || read_u32(ctx) == 0) return;
  const int bpp = read_u16(ctx);
  if (bpp != 10 && bpp != 12) return;
  uint32_t bits = 0;
  int buffered = 0;
  unsigned words = 0;
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col) {
      if (buffered < bpp) {
        bits = bits << 16 | uint32_t(read_u16(ctx) ^ canon_wb_key[words++ & 1]);
        buffered += 16;
      }
      ctx->white_patch[row][col] = uint16_t(bits << (32 - buffered) >> (32 - bpp));
      buffered -= bpp;
    }
}

int read_jpeg_markers(raw_decode_context* ctx) {
  raw_seek(ctx, 0, 0);
  if (raw_getc(ctx) != 0xFF || raw_getc(ctx) != 0xD8) return 0;
  while (raw_getc(ctx) == 0xFF) {
    const int mark = raw_getc(ctx);
    if (mark == 0xDA || mark < 0 || !parse_charge(ctx)) break;
    ctx->byte_order = 0x4D4D;
    const int64_t len = int64_t{read_u16(ctx)} - 2;
    const int64_t p = raw_tell(ctx);
    if (len < 0) break;  // a length below 2 would step back
    if (mark == 0xC0 || mark == 0xC3) {
      raw_getc(ctx);
      ctx->sensor_height = read_u16(ctx);
      ctx->sensor_width = read_u16(ctx);
    }
    ctx->byte_order = read_u16(ctx);
    const int64_t hlen = read_u32(ctx);
    if (read_u32(ctx) == 0x48454150 && hlen <= len)  // "HEAP"
      read_ciff_heap(ctx, p + hlen, len - hlen);
    read_tiff_container(ctx, uint32_t(p + 6));
    raw_seek(ctx, p + len, 0);
  }
  return 1;
}
