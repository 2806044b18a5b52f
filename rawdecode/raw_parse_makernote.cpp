// The makers' private directories (maker notes) the EXIF directory points
// to: the variant is told by the first ten bytes, which set the byte order
// and the base that offsets count from.
#include <cctype>
#include <algorithm>
#include <cmath>

#include "rawdecode/raw_parse_util.h"

namespace {

// The byte order of the caller, put back on every way out.
struct byte_order_keeper {
  explicit byte_order_keeper(raw_decode_context* c) : ctx(c), order(c->byte_order) {}
  ~byte_order_keeper() { ctx->byte_order = order; }
  byte_order_keeper(const byte_order_keeper&) = delete;
  byte_order_keeper& operator=(const byte_order_keeper&) = delete;
  raw_decode_context* ctx;
  uint16_t order;
};

// Konica "KC" and Minolta "MLY" notes hold no directory: the multipliers are
// the quadruple (w0, 256, w2, 256) with w0 and w2 inside 256..640.
void scan_konica_multipliers(raw_decode_context* ctx) {
  ctx->byte_order = 0x4D4D;
  unsigned w[4] = {0, 0, 0, 0};
  const int64_t end = std::min<int64_t>(ctx->raw_data_offset, 16384);
  while (raw_tell(ctx) < end && !ctx->ops->eof(ctx->stream)) {
    w[0] = w[2];
    w[2] = w[1];
    w[1] = w[3];
    w[3] = read_u16(ctx);
    if (w[1] == 256 && w[3] == 256 && w[0] > 256 && w[0] < 640 && w[2] > 256 && w[2] < 640)
      for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c] = float(w[c]);
  }
}

void read_pair_256(raw_decode_context* ctx) {
  ctx->byte_order = 0x4D4D;
  ctx->camera_multipliers[0] = read_u16(ctx) / 256.0f;
  ctx->camera_multipliers[2] = read_u16(ctx) / 256.0f;
}

void read_rggb_quadruples(raw_decode_context* ctx) {
  for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1)] = read_u16(ctx);
  parse_skip(ctx, 22);
  for (int c = 0; c < 4; ++c) ctx->sraw_multipliers[c ^ (c >> 1)] = read_u16(ctx);
}

// Nikon capture records (tag 0xE01), little-endian whatever the note says;
// each record must fit in what is left of the entry.
void read_nikon_capture(raw_decode_context* ctx, const tiff_entry& e) {
  const uint16_t order = ctx->byte_order;
  ctx->byte_order = 0x4949;
  const int64_t start = raw_tell(ctx);
  for (int64_t o = 22; o + 22 < int64_t{e.count};) {
    if (!parse_charge(ctx)) break;
    raw_seek(ctx, start + o, 0);
    uint32_t id = read_u32(ctx);
    parse_skip(ctx, 14);
    int64_t n = int64_t{read_u32(ctx)} - 4;
    if (n < 0 || n > int64_t{e.count} - o - 22) break;
    if (id == 0x76A43207) ctx->orientation_flags = read_u16(ctx);
    o += 22 + n;
  }
  ctx->byte_order = order;
}

// The 324-byte white-balance block of versions 200..211, deciphered with
// the serial number and the four bytes after the entry.
void decipher_nikon_wb(raw_decode_context* ctx, uint8_t* block, unsigned serial) {
  uint8_t ci = nikon_wb_table_serial[serial & 0xFF];
  uint8_t key = 0;
  for (int i = 0; i < 4; ++i) key ^= uint8_t(raw_getc(ctx) & 0xFF);
  uint8_t cj = nikon_wb_table_count[key];
  uint8_t ck = 0x60;
  for (int i = 0; i < 324; ++i) {
    cj = uint8_t(cj + ci * ck++);
    block[i] ^= cj;
  }
}

struct note_walk {
  int64_t base;
  int wbi = 0;
  unsigned serial = 0;
  int ver97 = 0;
  uint8_t buf97[324] = {};
};

// One entry; the rows are tried in order and several may apply. False when
// the note is not to be read further.
bool read_note_entry(raw_decode_context* ctx, note_walk& w, const tiff_entry& e, uint32_t tag) {
  const unsigned type = e.type;
  const uint32_t count = e.count;
  const int64_t base = w.base;
  if (tag == 0x2 && strstr(ctx->camera_make, "NIKON")) {
    parse_skip(ctx, 2);
    ctx->iso_value = read_u16(ctx);
  }
  if (tag == 0x4 && count >= 27 && count <= 34) {
    parse_skip(ctx, 4);
    int i = read_u16(ctx);
    if (i != 0x7FFF && ctx->iso_value == 0) ctx->iso_value = float(50 * std::pow(2.0, i / 32.0 - 4));
    parse_skip(ctx, 2);
    i = read_u16(ctx);
    if (i != 0x7FFF && ctx->aperture_value == 0) ctx->aperture_value = float(std::pow(2.0, i / 64.0));
    i = read_u16(ctx);
    if (i != 0xFFFF && ctx->shutter_seconds == 0)
      ctx->shutter_seconds = float(std::pow(2.0, int16_t(i) / -32.0));
    parse_skip(ctx, 2);
    w.wbi = read_u16(ctx);
    parse_skip(ctx, 2);
    ctx->shot_sequence = read_u16(ctx);
  }
  if (tag == 0x7 && type == 2 && count > 20) read_line(ctx, ctx->camera_model_extra, 64);
  if (tag == 0x8 && type == 4) ctx->shot_sequence = read_u32(ctx);
  if (tag == 0x9 && !strcmp(ctx->camera_make, "Canon")) read_text(ctx, ctx->artist_name);
  if (tag == 0xC && count == 4) {
    set_if_finite(&ctx->camera_multipliers[0], read_real(ctx, int(type)));
    set_if_finite(&ctx->camera_multipliers[2], read_real(ctx, int(type)));
  }
  if (tag == 0x10 && type == 4) ctx->camera_id = read_u32(ctx);
  if (tag == 0x11 && ctx->raw_image_count && starts_with(ctx->camera_make, "NIKON")) {
    if (!seek_directory(ctx, read_u32(ctx) + base)) return false;
    read_tiff_ifd(ctx, base);
  }
  if (tag == 0x14 && count == 2560 && type == 7) {
    parse_skip(ctx, 1248);
    read_pair_256(ctx);
  }
  if (tag == 0x15 && type == 2 && ctx->raw_image_count) read_text(ctx, ctx->camera_model);
  if (strstr(ctx->camera_make, "PENTAX")) {
    if (tag == 0x1B) tag = 0x1018;
    if (tag == 0x1C) tag = 0x1017;
  }
  if (tag == 0x1D) {
    // the serial number's digits, within the entry's own bytes (a serial
    // is a few characters; the rest of a longer entry is not looked at)
    const uint32_t most = count < 256 ? count : 256;
    for (uint32_t i = 0; i < most; ++i) {
      int c = raw_getc(ctx);
      if (c <= 0) break;
      w.serial = w.serial * 10 + (isdigit(c) ? unsigned(c - '0') : unsigned(c % 10));
    }
  }
  if (tag == 0x29 && type == 1) {
    static constexpr char index[] = "012347800000005896";
    int k = w.wbi >= 0 && w.wbi < 18 ? index[w.wbi] - '0' : 0;
    parse_skip(ctx, 8 + 32 * k);
    for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1) ^ 1] = float(read_u32(ctx));
  }
  if (tag == 0x81 && type == 4) {
    const uint32_t offset = read_u32(ctx);
    if (!seek_directory(ctx, int64_t{offset} + 41)) return false;
    ctx->raw_data_offset = offset;
    ctx->sensor_height = uint16_t(read_u16(ctx) * 2);
    ctx->sensor_width = read_u16(ctx);
    ctx->cfa_pattern = 0x61616161;
  }
  if ((tag == 0x81 && type == 7) || (tag == 0x100 && type == 7) || (tag == 0x280 && type == 1)) {
    ctx->thumb_data_offset = uint32_t(raw_tell(ctx));
    ctx->thumb_data_length = count;
  }
  if (tag == 0x88 && type == 4) {
    uint32_t v = read_u32(ctx);
    ctx->thumb_data_offset = v ? uint32_t(v + base) : 0;
  }
  if (tag == 0x89 && type == 4) ctx->thumb_data_length = read_u32(ctx);
  if (tag == 0x8C || tag == 0x96) ctx->meta_data_offset = uint32_t(raw_tell(ctx));
  if (tag == 0x97) {
    w.ver97 = 0;
    for (int i = 0; i < 4; ++i) w.ver97 = w.ver97 * 10 + (raw_getc(ctx) - '0');
    switch (w.ver97) {
      case 100:
        parse_skip(ctx, 68);
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[(c >> 1) | ((c & 1) << 1)] = read_u16(ctx);
        break;
      case 102:
        parse_skip(ctx, 6);
        read_rggb_quadruples(ctx);
        return true;
      case 103:
        parse_skip(ctx, 16);
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c] = read_u16(ctx);
        break;
      default: break;
    }
    if (w.ver97 >= 200) {
      if (w.ver97 != 205) parse_skip(ctx, 280);
      raw_read(ctx, w.buf97, 1, sizeof w.buf97);
    }
  }
  if (tag == 0xA4 && type == 3) {
    parse_skip(ctx, int64_t{w.wbi} * 48);
    for (int c = 0; c < 3; ++c) ctx->camera_multipliers[c] = read_u16(ctx);
  }
  if (tag == 0xA7 && w.ver97 >= 200 && w.ver97 <= 211 &&
      ctx->camera_multipliers[0] == 0) {
    decipher_nikon_wb(ctx, w.buf97, w.serial);
    static constexpr char offsets[] = "66666>666;6A";
    int i = offsets[w.ver97 - 200] - '0';
    for (int c = 0; c < 4; ++c)
      ctx->camera_multipliers[c ^ (c >> 1) ^ (i & 1)] = u16_in_file_order(ctx, w.buf97 + (i & ~1) + 2 * c);
  }
  if (tag == 0x200 && count == 3) {
    parse_skip(ctx, 4);
    ctx->shot_sequence = read_u32(ctx);
  }
  if (tag == 0x200 && count == 4) {
    uint32_t sum = 0;
    for (int c = 0; c < 4; ++c) sum += read_u16(ctx);
    ctx->black_level = sum >> 2;
  }
  if (tag == 0x201 && count == 4) {
    read_rggb_quadruples(ctx);
    return true;
  }
  if (tag == 0x220 && count == 53) {
    // The tree is built when the loader is installed, into a pool that no
    // other reader empties in between.
    parse_skip(ctx, 14);
    ctx->pentax_tree_offset = uint32_t(raw_tell(ctx));
  }
  if (tag == 0x401 && count == 4) {
    uint64_t sum = 0;
    for (int c = 0; c < 4; ++c) sum += read_u32(ctx);
    ctx->black_level = uint32_t(sum >> 2);
  }
  if (tag == 0xE01) read_nikon_capture(ctx, e);
  if (tag == 0xE80 && count == 256 && type == 7) {
    parse_skip(ctx, 48);
    ctx->camera_multipliers[0] = float(read_u16(ctx) * 508 * 1.078 / 65536);
    ctx->camera_multipliers[2] = float(read_u16(ctx) * 382 * 1.173 / 65536);
  }
  if (tag == 0xF00 && type == 7) {
    if (count == 614) {
      parse_skip(ctx, 176);
    } else if (count == 734 || count == 1502) {
      parse_skip(ctx, 148);
    } else {
      return true;
    }
    read_pair_256(ctx);
  }
  if ((tag == 0x1011 && count == 9) || tag == 0x20400200) {
    for (int i = 0; i < 3; ++i)
      for (int c = 0; c < 3; ++c) ctx->file_colour_matrix[i][c] = int16_t(read_u16(ctx)) / 256.0f;
  }
  if ((tag == 0x1012 || tag == 0x20400600) && count == 4) {
    uint32_t sum = 0;
    for (int c = 0; c < 4; ++c) sum += uint32_t(read_u16(ctx)) << 2;
    ctx->black_level = sum;
  }
  if (tag == 0x1017 || tag == 0x20400100) ctx->camera_multipliers[0] = read_u16(ctx) / 256.0f;
  if (tag == 0x1018 || tag == 0x20400100) ctx->camera_multipliers[2] = read_u16(ctx) / 256.0f;
  if (tag == 0x2011 && count == 2) read_pair_256(ctx);
  if ((tag | 0x70) == 0x2070 && type == 4 && !seek_directory(ctx, read_u32(ctx) + base)) return false;
  if (tag == 0x2010 && type != 7) choose_loader(ctx, raw_loader_name::olympus_e410_load_raw);
  if (tag == 0x2020) read_thumbnail_note(ctx, base, 257, 258);
  if (tag == 0x2040) read_maker_note(ctx, base, 0x2040);
  if (tag == 0xB028) {
    if (!seek_directory(ctx, read_u32(ctx))) return false;
    read_thumbnail_note(ctx, base, 136, 137);
  }
  if (tag == 0x4001 && count > 500) {
    parse_skip(ctx, count == 582 ? 50 : count == 653 ? 68 : count == 5120 ? 142 : 126);
    read_rggb_quadruples(ctx);
  }
  return true;
}

}  // namespace

void read_maker_note(raw_decode_context* ctx, int64_t base, uint32_t upper_tag) {
  byte_order_keeper keep(ctx);
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_maker_note)) return;
  char head[10] = {};
  raw_read(ctx, head, 1, 10);
  if (!strncmp(head, "KDK", 3) || !strncmp(head, "VER", 3) || !strncmp(head, "IIII", 4) ||
      !strncmp(head, "MMMM", 4))
    return;
  if (!strncmp(head, "KC", 2) || !strncmp(head, "MLY", 3)) {
    scan_konica_multipliers(ctx);
    return;
  }
  if (!memcmp(head, "Nikon", 6)) {
    base = raw_tell(ctx);
    ctx->byte_order = read_u16(ctx);
    if (read_u16(ctx) != 42) return;
    raw_seek(ctx, int64_t{read_u32(ctx)} - 8, 1);
  } else if (!memcmp(head, "OLYMPUS", 8)) {
    base = raw_tell(ctx) - 10;
    raw_seek(ctx, -2, 1);
    ctx->byte_order = read_u16(ctx);
    parse_skip(ctx, 2);
  } else if (!strncmp(head, "FUJIFILM", 8) || !strncmp(head, "SONY", 4) || !memcmp(head, "Panasonic", 10)) {
    ctx->byte_order = 0x4949;
    parse_skip(ctx, 2);
  } else if (!memcmp(head, "OLYMP", 6) || !memcmp(head, "LEICA", 6) || !memcmp(head, "Ricoh", 6) ||
             !memcmp(head, "EPSON", 6)) {
    raw_seek(ctx, -2, 1);
  } else if (!memcmp(head, "AOC", 4) || !memcmp(head, "QVC", 4)) {
    raw_seek(ctx, -4, 1);
  } else {
    raw_seek(ctx, -10, 1);
  }
  unsigned entries = read_u16(ctx);
  if (entries > 1000) return;
  entries = entries_inside(ctx, entries);
  note_walk w;
  w.base = base;
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    if (tag_value_cut(ctx, e)) {  // bytes the file does not hold are not read
      raw_seek(ctx, e.end, 0);
      continue;
    }
    if (!read_note_entry(ctx, w, e, e.tag | upper_tag << 16)) return;
    raw_seek(ctx, e.end, 0);
  }
}

void read_thumbnail_note(raw_decode_context* ctx, int64_t base, unsigned offset_tag,
                         unsigned length_tag) {
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_thumb_note)) return;
  const unsigned entries = entries_inside(ctx, read_u16(ctx));
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    if (e.tag == offset_tag) ctx->thumb_data_offset = uint32_t(read_u32(ctx) + base);
    if (e.tag == length_tag) ctx->thumb_data_length = read_u32(ctx);
    raw_seek(ctx, e.end, 0);
  }
}
