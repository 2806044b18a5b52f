// The other makers' containers: Minolta MRW blocks, the Rollei text header,
// Sinar IA, Phase One, the Fuji RAF directory, RIFF chunk trees, the SMaL,
// CINE and Foveon headers, the side JPEG some cameras write, and the guess
// of the byte order of 16-bit samples.
#include <cctype>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <strings.h>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_parse_util.h"

namespace {

int64_t file_end(const raw_decode_context* ctx) { return ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size; }

}  // namespace

void read_minolta_blocks(raw_decode_context* ctx, int64_t base) {
  parse_level level(ctx);
  if (!level.ok) return;
  const uint16_t order = ctx->byte_order;
  raw_seek(ctx, base, 0);
  if (!parse_first_visit(ctx, parse_minolta)) return;
  if (raw_getc(ctx) != 0 || raw_getc(ctx) != 'M' || raw_getc(ctx) != 'R') return;
  const uint16_t block_order = uint16_t((raw_getc(ctx) & 0xFF) * 0x101);
  ctx->byte_order = block_order;
  const int64_t end = std::min<int64_t>(base + int64_t{read_u32(ctx)} + 8, file_end(ctx));
  unsigned h = 0, w = 0;
  for (int64_t p; (p = raw_tell(ctx)) < end;) {
    if (!parse_charge(ctx)) break;
    uint32_t name = 0;
    for (int i = 0; i < 4; ++i) name = name << 8 | uint32_t(raw_getc(ctx) & 0xFF);
    const int64_t len = read_u32(ctx);
    switch (name) {
      case 0x00505244:  // PRD
        parse_skip(ctx, 8);
        h = read_u16(ctx);
        w = read_u16(ctx);
        break;
      case 0x00574247: {  // WBG
        parse_skip(ctx, 4);
        const int i = strcmp(ctx->camera_model, "DiMAGE A200") ? 0 : 3;
        for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1) ^ i] = read_u16(ctx);
        break;
      }
      case 0x00545457:  // TTW
        read_tiff_container(ctx, uint32_t(raw_tell(ctx)));
        ctx->raw_data_offset = uint32_t(end);
        ctx->byte_order = block_order;  // the block list goes on in its own order
        break;
      default: break;
    }
    raw_seek(ctx, p + len + 8, 0);  // always forward: the 8 header bytes at least
  }
  ctx->sensor_height = uint16_t(h);
  ctx->sensor_width = uint16_t(w);
  ctx->byte_order = order;
}

void read_rollei_header(raw_decode_context* ctx) {
  raw_seek(ctx, 0, 0);
  long long day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  char line[128];
  for (;;) {
    if (!parse_charge(ctx)) break;
    line[0] = 0;
    if (!ctx->ops->gets(ctx->stream, line, 128)) break;  // the end of the data ends the header too
    line[127] = 0;
    char* value = strchr(line, '=');
    if (value) *value++ = 0;
    else value = line + strlen(line);
    const char* v = value;
    if (!strcmp(line, "DAT")) {
      parse_int(v, &day) && *v == '.' && parse_int(++v, &month) && *v == '.' && parse_int(++v, &year);
    }
    if (!strcmp(line, "TIM")) {
      parse_int(v, &hour) && *v == ':' && parse_int(++v, &minute) && *v == ':' && parse_int(++v, &second);
    }
    if (!strcmp(line, "HDR")) ctx->thumb_data_offset = uint32_t(text_to_int(value));
    if (!strcmp(line, "X  ")) ctx->sensor_width = uint16_t(text_to_int(value));
    if (!strcmp(line, "Y  ")) ctx->sensor_height = uint16_t(text_to_int(value));
    if (!strcmp(line, "TX ")) ctx->thumb_width = uint16_t(text_to_int(value));
    if (!strcmp(line, "TY ")) ctx->thumb_height = uint16_t(text_to_int(value));
    if (!strncmp(line, "EOHD", 4)) break;
  }
  ctx->raw_data_offset = ctx->thumb_data_offset + uint32_t(ctx->thumb_width) * ctx->thumb_height * 2;
  int64_t t = local_time_seconds(year, month, day, hour, minute, second);
  if (t > 0) ctx->shot_time = t;
  set_text(ctx->camera_make, "Rollei");
  set_text(ctx->camera_model, "d530flex");
  choose_thumb_writer(ctx, raw_thumb_name::rollei_thumb);
}

void read_sinar_ia(raw_decode_context* ctx) {
  ctx->byte_order = 0x4949;
  raw_seek(ctx, 4, 0);
  const uint32_t entries = read_u32(ctx);
  raw_seek(ctx, read_u32(ctx), 0);
  const uint64_t n = parse_cap_count(ctx, entries, 16);
  for (uint64_t i = 0; i < n; ++i) {
    if (!parse_charge(ctx)) break;
    const uint32_t off = read_u32(ctx);
    read_u32(ctx);
    char name[9] = {};
    raw_read(ctx, name, 1, 8);
    if (!strcmp(name, "META")) ctx->meta_data_offset = off;
    if (!strcmp(name, "THUMB")) ctx->thumb_data_offset = off;
    if (!strcmp(name, "RAW0")) ctx->raw_data_offset = off;
  }
  raw_seek(ctx, int64_t{ctx->meta_data_offset} + 20, 0);
  read_text(ctx, ctx->camera_make);
  if (char* blank = strchr(ctx->camera_make, ' ')) {
    set_text(ctx->camera_model, blank + 1);
    *blank = 0;
  }
  ctx->sensor_width = read_u16(ctx);
  ctx->sensor_height = read_u16(ctx);
  choose_loader(ctx, raw_loader_name::unpacked_load_raw);
  read_u32(ctx);
  ctx->thumb_width = read_u16(ctx);
  ctx->thumb_height = read_u16(ctx);
  choose_thumb_writer(ctx, raw_thumb_name::ppm_thumb);
  ctx->white_level = 0x3FFF;
}

void read_phase_one_header(raw_decode_context* ctx, int64_t base) {
  ctx->phase_one_params = phase_one_info{};
  phase_one_info& ph1 = ctx->phase_one_params;
  raw_seek(ctx, base, 0);
  ctx->byte_order = uint16_t(read_u32(ctx) & 0xFFFF);
  if (read_u32(ctx) >> 8 != 0x526177) return;  // "Raw"
  raw_seek(ctx, base + read_u32(ctx), 0);
  const uint32_t entries = read_u32(ctx);
  read_u32(ctx);
  const uint64_t n = parse_cap_count(ctx, entries, 16);
  for (uint64_t i = 0; i < n; ++i) {
    if (!parse_charge(ctx)) break;
    const uint32_t tag = read_u32(ctx);
    read_u32(ctx);  // type
    const uint32_t len = read_u32(ctx);
    const uint32_t data = read_u32(ctx);
    const int64_t save = raw_tell(ctx);
    raw_seek(ctx, base + data, 0);
    switch (tag) {
      case 0x100: ctx->orientation_flags = "0653"[data & 3] - '0'; break;
      case 0x106: {
        float m[3][3];
        for (int k = 0; k < 9; ++k) m[k / 3][k % 3] = float(read_real(ctx, 11));
        set_matrix_from_romm(ctx, m);
        break;
      }
      case 0x107:
        for (int c = 0; c < 3; ++c) set_if_finite(&ctx->camera_multipliers[c], read_real(ctx, 11));
        break;
      case 0x108: ctx->sensor_width = uint16_t(data); break;
      case 0x109: ctx->sensor_height = uint16_t(data); break;
      case 0x10A: ctx->left_margin = uint16_t(data); break;
      case 0x10B: ctx->top_margin = uint16_t(data); break;
      case 0x10C: ctx->image_width = uint16_t(data); break;
      case 0x10D: ctx->image_height = uint16_t(data); break;
      case 0x10E: ph1.format = int32_t(data); break;
      case 0x10F: ctx->raw_data_offset = uint32_t(data + base); break;
      case 0x110:
        ctx->meta_data_offset = uint32_t(data + base);
        ctx->meta_data_length = len;
        break;
      case 0x112: ph1.key_offset = int32_t(save - 4); break;
      case 0x210: ph1.tag_210 = float_from_bits(data); break;
      case 0x21A: ph1.tag_21a = int32_t(data); break;
      case 0x21C: ctx->strip_offset = uint32_t(data + base); break;
      case 0x21D: ph1.black_level = int32_t(data); break;
      case 0x222: ph1.split_column = int32_t(data - ctx->left_margin); break;
      case 0x223: ph1.black_offset = int32_t(data + base); break;
      case 0x301: {
        char model[64] = {};
        raw_read(ctx, model, 1, 63);
        if (char* cut = strstr(model, " camera")) *cut = 0;
        set_text(ctx->camera_model, model);
        break;
      }
      default: break;
    }
    raw_seek(ctx, save, 0);
  }
  choose_loader(ctx, ph1.format < 3 ? raw_loader_name::phase_one_load_raw : raw_loader_name::phase_one_load_raw_c);
  ctx->white_level = 0xFFFF;
  set_text(ctx->camera_make, "Phase One");
  if (!ctx->camera_model[0]) {
    switch (ctx->sensor_height) {
      case 2060: set_text(ctx->camera_model, "LightPhase"); break;
      case 2682: set_text(ctx->camera_model, "H 10"); break;
      case 4128: set_text(ctx->camera_model, "H 20"); break;
      case 5488: set_text(ctx->camera_model, "H 25"); break;
      default: break;
    }
  }
}

void read_fuji_directory(raw_decode_context* ctx, int64_t offset) {
  raw_seek(ctx, offset, 0);
  const uint32_t entries = read_u32(ctx);
  if (entries > 255) return;
  for (uint32_t i = 0; i < entries; ++i) {
    if (!parse_charge(ctx)) break;
    const unsigned tag = read_u16(ctx);
    const unsigned len = read_u16(ctx);
    const int64_t start = raw_tell(ctx);
    if (tag == 0x100) {
      ctx->sensor_height = read_u16(ctx);
      ctx->sensor_width = read_u16(ctx);
    } else if (tag == 0x121) {
      ctx->image_height = read_u16(ctx);
      ctx->image_width = read_u16(ctx);
      if (ctx->image_width == 4284) ctx->image_width = 4287;
    } else if (tag == 0x130) {
      ctx->fuji_layout_flag = (raw_getc(ctx) & 0xFF) >> 7;
    } else if (tag == 0x2FF0) {
      for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ 1] = read_u16(ctx);
    }
    raw_seek(ctx, start + len, 0);
  }
  ctx->image_height = uint16_t(ctx->image_height << ctx->fuji_layout_flag);
  ctx->image_width = uint16_t(ctx->image_width >> ctx->fuji_layout_flag);
}

// ---- RIFF ------------------------------------------------------------------------

namespace {

void read_riff_datetime(raw_decode_context* ctx, uint32_t size) {
  static constexpr char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[65] = {};
  raw_read(ctx, text, 1, 64);
  text[size] = 0;
  char month_name[16] = {};
  int day, hour, minute, second, year;
  if (sscanf(text, "%*s %15s %d %d:%d:%d %d", month_name, &day, &hour, &minute, &second, &year) != 6) return;
  int month = 0;
  while (month < 12 && strcasecmp(months[month], month_name)) ++month;
  int64_t t = local_time_seconds(year, month + 1, day, hour, minute, second);
  if (t > 0) ctx->shot_time = t;
}

// One chunk at the current position; it must end inside `parent_end`.
void read_riff_chunk(raw_decode_context* ctx, int64_t parent_end) {
  parse_level level(ctx);
  if (!level.ok) return;
  ctx->byte_order = 0x4949;
  char name[5] = {};
  raw_read(ctx, name, 1, 4);
  const uint32_t size = read_u32(ctx);
  const int64_t end = std::min<int64_t>(raw_tell(ctx) + size, parent_end);
  if (!strcmp(name, "RIFF") || !strcmp(name, "LIST")) {
    parse_skip(ctx, 4);
    for (int64_t here; (here = raw_tell(ctx)) + 7 < end;) {
      read_riff_chunk(ctx, end);
      if (raw_tell(ctx) <= here || ctx->parse.records_left == 0) break;  // no progress: stop
    }
  } else if (!strcmp(name, "nctg")) {
    for (int64_t here; (here = raw_tell(ctx)) + 7 < end;) {
      if (!parse_charge(ctx)) break;
      const unsigned id = read_u16(ctx);
      const unsigned record = read_u16(ctx);
      if ((id == 19 || id == 20) && record == 20) read_exif_datetime(ctx, 0);
      raw_seek(ctx, here + 4 + record, 0);
    }
  } else if (!strcmp(name, "IDIT") && size < 64) {
    read_riff_datetime(ctx, size);
  }
  raw_seek(ctx, end, 0);
}

}  // namespace

void read_riff_chunks(raw_decode_context* ctx) { read_riff_chunk(ctx, file_end(ctx)); }

void read_smal_header(raw_decode_context* ctx, int64_t file_size) {
  raw_seek(ctx, 2, 0);
  ctx->byte_order = 0x4949;
  const int ver = raw_getc(ctx);
  if (ver == 6) parse_skip(ctx, 5);
  if (int64_t{read_u32(ctx)} != file_size) return;
  if (ver > 6) ctx->raw_data_offset = read_u32(ctx);
  ctx->sensor_height = ctx->image_height = read_u16(ctx);
  ctx->sensor_width = ctx->image_width = read_u16(ctx);
  set_text(ctx->camera_make, "SMaL");
  snprintf(ctx->camera_model, sizeof ctx->camera_model, "v%d %dx%d", ver, ctx->sensor_width, ctx->sensor_height);
  if (ver == 6) choose_loader(ctx, raw_loader_name::smal_v6_load_raw);
  if (ver == 9) choose_loader(ctx, raw_loader_name::smal_v9_load_raw);
}

void read_cine_header(raw_decode_context* ctx) {
  ctx->byte_order = 0x4949;
  raw_seek(ctx, 4, 0);
  int64_t count = read_u16(ctx) == 2;
  parse_skip(ctx, 14);
  count *= read_u32(ctx);
  ctx->raw_image_count = int32_t(count > INT32_MAX ? INT32_MAX : count);
  const uint32_t head = read_u32(ctx), setup = read_u32(ctx), images = read_u32(ctx);
  ctx->shot_time = read_u32(ctx);
  if (uint32_t later = read_u32(ctx)) ctx->shot_time = later;
  raw_seek(ctx, int64_t{head} + 4, 0);
  ctx->sensor_width = uint16_t(read_u32(ctx));
  ctx->sensor_height = uint16_t(read_u32(ctx));
  parse_skip(ctx, 2);
  switch (read_u16(ctx)) {
    case 8: choose_loader(ctx, raw_loader_name::eight_bit_load_raw); break;
    case 16: choose_loader(ctx, raw_loader_name::unpacked_load_raw); break;
    default: break;
  }
  raw_seek(ctx, int64_t{setup} + 792, 0);
  set_text(ctx->camera_make, "CINE");
  snprintf(ctx->camera_model, sizeof ctx->camera_model, "%d", int32_t(read_u32(ctx)));
  parse_skip(ctx, 12);
  switch (read_u32(ctx) & 0xFFFFFF) {
    case 3: ctx->cfa_pattern = 0x94949494; break;
    case 4: ctx->cfa_pattern = 0x49494949; break;
    default: ctx->raw_image_count = 0; break;
  }
  parse_skip(ctx, 72);
  switch (((int64_t{int32_t(read_u32(ctx))} + 3600) % 360 + 360) % 360) {
    case 270: ctx->orientation_flags = 4; break;
    case 180: ctx->orientation_flags = 1; break;
    case 90: ctx->orientation_flags = 7; break;
    case 0: ctx->orientation_flags = 2; break;
    default: break;
  }
  set_if_finite(&ctx->camera_multipliers[0], read_real(ctx, 11));
  set_if_finite(&ctx->camera_multipliers[2], read_real(ctx, 11));
  const uint32_t shift = read_u32(ctx);
  ctx->white_level = (1u << (shift < 1 ? 1 : shift > 16 ? 16 : shift)) - 1;
  parse_skip(ctx, 668);
  ctx->shutter_seconds = float(read_u32(ctx) / 1e9);
  raw_seek(ctx, images, 0);
  if (ctx->options.shot_index >= 0 && ctx->options.shot_index < ctx->raw_image_count)
    parse_skip(ctx, int64_t{ctx->options.shot_index} * 8);
  ctx->raw_data_offset = read_u32(ctx) + 8;
  read_u32(ctx);  // the high half of the offset
}

// ---- Foveon ------------------------------------------------------------------------

namespace {

// A property text: 16-bit characters, the low byte of each, at most 63.
void read_foveon_text(raw_decode_context* ctx, int64_t position, char (&text)[64]) {
  raw_seek(ctx, position, 0);
  int i = 0;
  for (; i < 63; ++i) {
    unsigned c = read_u16(ctx);
    if (!(c & 0xFF) || c == 0xFFFF) break;
    text[i] = char(c & 0xFF);
  }
  text[i] = 0;
}

void read_foveon_props(raw_decode_context* ctx, int64_t off) {
  parse_skip(ctx, 4);
  uint32_t pent = read_u32(ctx);
  parse_skip(ctx, 12);
  const int64_t base = off + 24 + 8 * int64_t{pent};
  if (pent > 256) pent = 256;
  uint32_t where[512];
  for (uint32_t i = 0; i < 2 * pent; ++i) where[i] = read_u32(ctx);
  for (uint32_t i = 0; i < pent; ++i) {
    if (!parse_charge(ctx)) return;
    char name[64], value[64];
    read_foveon_text(ctx, base + 2 * int64_t{where[2 * i]}, name);
    read_foveon_text(ctx, base + 2 * int64_t{where[2 * i + 1]}, value);
    if (!strcmp(name, "ISO")) ctx->iso_value = float(text_to_int(value));
    if (!strcmp(name, "CAMMANUF")) set_text(ctx->camera_make, value);
    if (!strcmp(name, "CAMMODEL")) set_text(ctx->camera_model, value);
    if (!strcmp(name, "WB_DESC")) set_text(ctx->camera_model_extra, value);
    if (!strcmp(name, "TIME")) ctx->shot_time = text_to_int(value);
    if (!strcmp(name, "EXPTIME")) ctx->shutter_seconds = float(text_to_int(value) / 1e6);
    if (!strcmp(name, "APERTURE")) ctx->aperture_value = float(text_to_double(value));
    if (!strcmp(name, "FLENGTH")) ctx->focal_length_mm = float(text_to_double(value));
  }
}

}  // namespace

void read_foveon_properties(raw_decode_context* ctx) {
  ctx->byte_order = 0x4949;
  raw_seek(ctx, 36, 0);
  ctx->orientation_flags = int32_t(read_u32(ctx));
  raw_seek(ctx, -4, 2);
  raw_seek(ctx, read_u32(ctx), 0);
  if (read_u32(ctx) != 0x64434553) return;  // "SECd"
  read_u32(ctx);
  const uint64_t entries = parse_cap_count(ctx, read_u32(ctx), 12);
  for (uint64_t n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return;
    const uint32_t off = read_u32(ctx), len = read_u32(ctx), tag = read_u32(ctx);
    const int64_t save = raw_tell(ctx);
    raw_seek(ctx, off, 0);
    if (read_u32(ctx) != (0x20434553u | tag << 24)) return;  // "SEC" and the tag's first letter
    switch (tag) {
      case 0x47414D49:    // IMAG
      case 0x32414D49: {  // IMA2
        parse_skip(ctx, 12);
        const uint32_t wide = read_u32(ctx), high = read_u32(ctx);
        if (wide > ctx->sensor_width && high > ctx->sensor_height && wide <= 0xFFFF && high <= 0xFFFF) {
          ctx->sensor_width = uint16_t(wide);
          ctx->sensor_height = uint16_t(high);
          ctx->raw_data_offset = off + 24;
        }
        raw_seek(ctx, int64_t{off} + 28, 0);
        if (len >= 28 && raw_getc(ctx) == 0xFF && raw_getc(ctx) == 0xD8 && ctx->thumb_data_length < len - 28) {
          ctx->thumb_data_offset = off + 28;
          ctx->thumb_data_length = len - 28;
          choose_thumb_writer(ctx, raw_thumb_name::jpeg_thumb);
        }
        break;
      }
      case 0x464D4143:  // CAMF
        ctx->meta_data_offset = off + 24;
        ctx->meta_data_length = len >= 28 ? std::min<uint32_t>(len - 28, 0x20000) : 0;
        break;
      case 0x504F5250:  // PROP
        read_foveon_props(ctx, off);
        break;
      default: break;
    }
    raw_seek(ctx, save, 0);
  }
  ctx->foveon_flag = 1;
}

// ---- the side JPEG -------------------------------------------------------------------

namespace {

// The side file's name, or "" when the raw name has no 8-character stem and
// 4-character extension.
std::string side_jpeg_name(const std::string& name) {
  const size_t ext = name.rfind('.');
  size_t slash = name.find_last_of("/\\");
  const size_t file = slash == std::string::npos ? 0 : slash + 1;
  if (ext == std::string::npos || name.size() - ext != 4 || ext < file || ext - file != 8) return "";
  std::string side = name;
  if (strcasecmp(name.c_str() + ext, ".jpg")) {
    side.replace(ext, 4, isupper(static_cast<unsigned char>(name[ext + 1])) ? ".JPG" : ".jpg");
    if (isdigit(static_cast<unsigned char>(name[file]))) {
      for (size_t i = 0; i < 4; ++i) std::swap(side[file + i], side[file + 4 + i]);
    }
  } else {
    for (size_t i = ext; i-- > 0 && isdigit(static_cast<unsigned char>(side[i]));) {
      if (side[i] != '9') {
        ++side[i];
        break;
      }
      side[i] = '0';
    }
  }
  return side;
}

struct file_closer {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

void parse_external_jpeg(raw_decode_context* ctx) {
  if (!ctx->message_name) return;
  std::string side;
  try {
    side = side_jpeg_name(ctx->message_name);
  } catch (const std::bad_alloc&) {
    report_out_of_memory(ctx, nullptr, "parse_external_jpeg()");
  }
  if (side.empty()) return;
  if (side != ctx->message_name) {
    std::unique_ptr<FILE, file_closer> file(fopen(side.c_str(), "rb"));
    if (file) {
      raw_verbose(ctx, "Reading metadata from %s ...\n", side.c_str());
      parse_stream_swap swap(ctx, &raw_stdio_ops, file.get());
      read_tiff_container(ctx, 12);
      ctx->thumb_data_offset = 0;
      ctx->raw_image_count = 1;
    }
  }
  if (!ctx->shot_time) raw_message(ctx, "Failed to read metadata from %s\n", side.c_str());
}

uint16_t guess_sample_byte_order(raw_decode_context* ctx) {
  uint8_t test[4][2] = {};
  raw_read(ctx, test[0], 2, 2);
  double sum[2] = {0, 0};
  int t = 2;
  for (int words = 65534; words-- > 0;) {
    raw_read(ctx, test[t], 2, 1);
    for (int msb = 0; msb < 2; ++msb) {
      double diff = double(test[t ^ 2][msb] << 8 | test[t ^ 2][!msb]) - double(test[t][msb] << 8 | test[t][!msb]);
      sum[msb] += diff * diff;
    }
    t = (t + 1) & 3;
  }
  return sum[0] < sum[1] ? 0x4D4D : 0x4949;
}
