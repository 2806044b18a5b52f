// The EXIF, GPS and Kodak private directories and the Leaf/Mamiya packets
// a TIFF directory points to.
#include <cmath>

#include "rawdecode/raw_parse_util.h"

void read_exif_ifd(raw_decode_context* ctx, int64_t base) {
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_exif_ifd)) return;
  const bool kodak = starts_with(ctx->camera_make, "EASTMAN");
  const unsigned entries = entries_inside(ctx, read_u16(ctx));
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    if (tag_value_cut(ctx, e)) {  // never read bytes the file does not hold
      raw_seek(ctx, e.end, 0);
      continue;
    }
    const int type = int(e.type);
    switch (e.tag) {
      case 33434: set_if_finite(&ctx->shutter_seconds, read_real(ctx, type)); break;
      case 33437: set_if_finite(&ctx->aperture_value, read_real(ctx, type)); break;
      case 34855: ctx->iso_value = float(read_by_type(ctx, e.type)); break;
      case 36867: case 36868: read_exif_datetime(ctx, 0); break;
      case 37377: {
        double exponent = -read_real(ctx, type);
        if (exponent < 128) set_if_finite(&ctx->shutter_seconds, std::pow(2.0, exponent));
        break;
      }
      case 37378: set_if_finite(&ctx->aperture_value, std::pow(2.0, read_real(ctx, type) / 2)); break;
      case 37386: set_if_finite(&ctx->focal_length_mm, read_real(ctx, type)); break;
      case 37500: read_maker_note(ctx, base, 0); break;
      case 40962:
        if (kodak) ctx->sensor_width = uint16_t(read_by_type(ctx, e.type));
        break;
      case 40963:
        if (kodak) ctx->sensor_height = uint16_t(read_by_type(ctx, e.type));
        break;
      case 40965:
        // The interoperability directory holds nothing the decoder uses,
        // but one that lies past the end says the file is not whole.
        if (!outside_data(ctx, int64_t{read_by_type(ctx, e.type)} + base, 2)) break;
        ctx->tag_value_cut = 1;
        break;
      case 41730:
        if (read_u32(ctx) == 0x20002) {
          ctx->exif_cfa_pattern = 0;
          for (int c = 0; c < 8; c += 2)
            ctx->exif_cfa_pattern |= uint32_t(raw_getc(ctx) & 0xFF) * 0x01010101u << c;
        }
        break;
      default: break;
    }
    raw_seek(ctx, e.end, 0);
  }
}

void read_gps_ifd(raw_decode_context* ctx, int64_t base) {
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_gps_ifd)) return;
  const unsigned entries = entries_inside(ctx, read_u16(ctx));
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    if (tag_value_cut(ctx, e)) {
      raw_seek(ctx, e.end, 0);
      continue;
    }
    switch (e.tag) {
      case 1: case 3: case 5: ctx->gps_block[29 + e.tag / 2] = uint32_t(raw_getc(ctx) & 0xFF); break;
      case 2: case 4: case 7:
        for (int c = 0; c < 6; ++c) ctx->gps_block[e.tag / 3 * 6 + c] = read_u32(ctx);
        break;
      case 6:
        for (int c = 0; c < 2; ++c) ctx->gps_block[18 + c] = read_u32(ctx);
        break;
      case 18: case 29: {
        // at most 11 characters and the zero: three words from word 20 or 23
        char text[12] = {};
        read_line(ctx, text, e.count < 12 ? int(e.count) : 12);
        memcpy(&ctx->gps_block[14 + e.tag / 3], text, sizeof text);
        break;
      }
      default: break;
    }
    raw_seek(ctx, e.end, 0);
  }
}

void read_kodak_ifd(raw_decode_context* ctx, int64_t base) {
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_kodak_ifd)) return;
  int64_t wbi = -2;
  double wbtemp = 6500;
  double mul[3] = {1, 1, 1};
  unsigned entries = read_u16(ctx);
  if (entries > 1024) return;
  entries = entries_inside(ctx, entries);
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    const int type = int(e.type);
    const int64_t tag = e.tag;
    if (tag == 1020) wbi = int32_t(read_by_type(ctx, e.type));
    if (tag == 1021 && e.count == 72) {
      parse_skip(ctx, 40);
      for (int c = 0; c < 3; ++c) {
        unsigned v = read_u16(ctx);
        if (v) ctx->camera_multipliers[c] = 2048.0f / float(v);
      }
      wbi = -2;
    }
    if (tag == 2118) wbtemp = read_by_type(ctx, e.type);
    if (tag == 2130 + wbi)
      for (double& m : mul) m = read_real(ctx, type);
    if (tag == 2140 + wbi && wbi >= 0) {
      for (int c = 0; c < 3; ++c) {
        double num = 0;
        for (int i = 0; i < 4; ++i) num += read_real(ctx, type) * std::pow(wbtemp / 100, i);
        set_if_finite(&ctx->camera_multipliers[c], 2048 / (num * mul[c]));
      }
    }
    if (tag == 2317) read_linearization_curve(ctx, e.count);
    if (tag == 6020) ctx->iso_value = float(read_by_type(ctx, e.type));
    raw_seek(ctx, e.end, 0);
  }
}

// ---- Leaf/Mamiya packets ---------------------------------------------------------

namespace {

constexpr char leaf_back_names[21][12] = {
    "",         "DCB2",     "Volare",   "Cantare",  "CMost",     "Valeo 6",   "Valeo 11",
    "Valeo 22", "Valeo 11p", "Valeo 17", "",        "Aptus 17",  "Aptus 22",  "Aptus 75",
    "Aptus 65", "Aptus 54S", "Aptus 65S", "Aptus 75S", "AFi 5", "AFi 6",     "AFi 7",
};

void read_leaf_matrix_floats(raw_decode_context* ctx, bool as_text) {
  float m[3][3] = {};
  for (int i = 0; i < 9; ++i) {
    if (as_text) {
      scan_stream_float(ctx, &m[i / 3][i % 3]);
    } else {
      m[i / 3][i % 3] = float_from_bits(read_u32(ctx));
    }
  }
  set_matrix_from_romm(ctx, m);
}

// One level of packets from `offset`; every packet must start after the one
// before it and end inside `end` (its parent, or the file).
void read_leaf_level(raw_decode_context* ctx, int64_t offset, int64_t end, bool* rotation_seen) {
  parse_level level(ctx);
  if (!level.ok) return;
  int planes = 0, frot = 0;
  raw_seek(ctx, offset, 0);
  while (read_u32(ctx) == 0x504B5453) {  // "PKTS"
    if (!parse_charge(ctx) || !parse_first_visit(ctx, parse_leaf_packet)) break;
    read_u32(ctx);
    char name[41] = {};
    raw_read(ctx, name, 1, 40);
    const uint32_t skip = read_u32(ctx);
    const int64_t from = raw_tell(ctx);
    const int64_t next = from + skip;
    if (next > end) break;
    if (!strcmp(name, "JPEG_preview_data")) {
      ctx->thumb_data_offset = uint32_t(from);
      ctx->thumb_data_length = skip;
    }
    if (!strcmp(name, "icc_camera_profile")) {
      ctx->icc_profile_offset = uint32_t(from);
      ctx->icc_profile_length = skip;
    }
    if (!strcmp(name, "ShootObj_back_type")) {
      int i = -1;
      if (scan_stream_int(ctx, &i) && i >= 0 && i <= 20) set_text(ctx->camera_model, leaf_back_names[i]);
    }
    if (!strcmp(name, "icc_camera_to_tone_matrix")) read_leaf_matrix_floats(ctx, false);
    if (!strcmp(name, "CaptProf_color_matrix")) read_leaf_matrix_floats(ctx, true);
    if (!strcmp(name, "CaptProf_number_of_planes")) scan_stream_int(ctx, &planes);
    if (!strcmp(name, "CaptProf_raw_data_rotation")) *rotation_seen |= scan_stream_int(ctx, &ctx->orientation_flags);
    if (!strcmp(name, "CaptProf_mosaic_pattern")) {
      for (int c = 0; c < 4; ++c) {
        int v = 0;
        if (scan_stream_int(ctx, &v) && v == 1) frot = c ^ (c >> 1);
      }
    }
    if (!strcmp(name, "ImgProf_rotation_angle")) {
      int i = 0;
      if (scan_stream_int(ctx, &i)) {
        ctx->orientation_flags = int32_t(int64_t{i} - ctx->orientation_flags);
        *rotation_seen = true;
      }
    }
    if (!strcmp(name, "NeutObj_neutrals") && ctx->camera_multipliers[0] == 0) {
      int neutral[4] = {0, 0, 0, 0};
      for (int& v : neutral) scan_stream_int(ctx, &v);
      for (int c = 0; c < 3; ++c)
        ctx->camera_multipliers[c] = neutral[c + 1] ? float(neutral[0]) / float(neutral[c + 1]) : 0;
    }
    read_leaf_level(ctx, from, next, rotation_seen);
    raw_seek(ctx, next, 0);
  }
  if (planes) {
    static constexpr uint8_t patterns[4] = {0x94, 0x61, 0x16, 0x49};
    ctx->cfa_pattern = planes == 1 ? 0x01010101u * patterns[(ctx->orientation_flags / 90 + frot) & 3] : 0;
  }
}

}  // namespace

void read_leaf_packets(raw_decode_context* ctx, uint32_t offset) {
  int64_t end = ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size;
  bool rotation_seen = false;
  read_leaf_level(ctx, offset, end, &rotation_seen);
  // The packets give the rotation in degrees.
  if (rotation_seen) ctx->orientation_flags = orientation_from_degrees(ctx->orientation_flags);
}
