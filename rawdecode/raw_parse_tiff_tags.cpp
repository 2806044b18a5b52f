// The tags of a TIFF directory: what each one sets in the context, the
// Sony SR2 block and the DNG colour step.
#include <cmath>
#include <memory>
#include <new>
#include <utility>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_parse_tiff_ifd.h"
#include "rawdecode/raw_pipeline.h"

namespace {

constexpr double d65_white[3] = {0.950456, 1.0, 1.088754};

int colours_of(const raw_decode_context* ctx) {
  return ctx->colour_count < 0 ? 0 : ctx->colour_count > 4 ? 4 : ctx->colour_count;
}


// The colour pattern from the pattern bytes and the colour-plane map; a
// pattern of more than 4 colours has no place in the 2-bit cells and is
// left out.
void build_cfa_pattern(raw_decode_context* ctx, const ifd_locals& l) {
  if (ctx->colour_count < 1 || ctx->colour_count > 4 || l.plen < 1) return;
  uint8_t tab[256] = {};  // a byte outside the plane map is colour 0
  for (int c = 0; c < ctx->colour_count; ++c) tab[l.cfa_pc[c]] = uint8_t(c);
  ctx->colour_letters[ctx->colour_count] = 0;
  for (int i = 16; i-- > 0;) ctx->cfa_pattern = ctx->cfa_pattern << 2 | tab[l.cfa_bytes[i % l.plen]];
}

void read_cfa_pattern_tag(raw_decode_context* ctx, const tiff_entry& e, ifd_locals& l) {
  if (e.count == 0) return;  // nothing to repeat: the pattern stays as it was
  uint8_t bytes[16] = {};
  const int plen = e.count < 16 ? int(e.count) : 16;
  raw_read(ctx, bytes, 1, size_t(plen));
  unsigned mask = 0;
  int colours = 0;
  for (int i = 0; i < plen; ++i) {
    // a value's bit, as far as the mask reaches
    unsigned bit = bytes[i] < 32 ? 1u << bytes[i] : 0;
    bool seen = false;
    for (int j = 0; j < i; ++j) seen |= bytes[j] == bytes[i];
    if (!seen) ++colours;
    mask |= bit;
  }
  if (colours > 4) return;  // not a pattern the 2-bit cells can hold
  memcpy(l.cfa_bytes, bytes, sizeof bytes);
  l.plen = plen;
  ctx->colour_count = colours;
  if (mask == 0x38) {
    const uint8_t pc[4] = {3, 4, 5, 3};
    memcpy(l.cfa_pc, pc, 4);
  }
  if (mask == 0x3A) {
    const uint8_t pc[4] = {5, 3, 4, 1};
    memcpy(l.cfa_pc, pc, 4);
  }
  build_cfa_pattern(ctx, l);
}

// 50454/50455: a text block whose lines "Neutral r g b" give the multipliers.
void read_neutral_block(raw_decode_context* ctx, uint32_t count) {
  uint64_t n = parse_cap_count(ctx, count, 1);
  if (!n || !parse_charge(ctx, 1 + n / 1024)) return;
  std::unique_ptr<char[]> block(new (std::nothrow) char[n + 1]);
  if (!block) return;
  n = raw_read(ctx, block.get(), 1, n);
  block[n] = 0;
  for (uint64_t i = 0; i < n; ++i) {
    if (i > 0 && block[i - 1] != '\n') continue;
    if (n - i < 8 || memcmp(block.get() + i, "Neutral ", 8) != 0) continue;
    const char* p = block.get() + i + 8;
    double v[3];
    int got = 0;
    while (got < 3 && parse_float(p, &v[got])) ++got;
    for (int c = 0; c < got; ++c) set_if_finite(&ctx->camera_multipliers[c], v[c]);
  }
}

// The Imacon (Ixpress) header of tag 46279.
void read_imacon_header(raw_decode_context* ctx, const ifd_locals& l) {
  parse_skip(ctx, 78);
  ctx->sensor_width = uint16_t(read_u32(ctx));
  ctx->sensor_height = uint16_t(read_u32(ctx));
  ctx->left_margin = uint16_t(read_u32(ctx) & 7);
  ctx->image_width = uint16_t(ctx->sensor_width - ctx->left_margin - (read_u32(ctx) & 7));
  ctx->top_margin = uint16_t(read_u32(ctx) & 7);
  ctx->image_height = uint16_t(ctx->sensor_height - ctx->top_margin - (read_u32(ctx) & 7));
  if (ctx->sensor_width == 7262) {
    ctx->image_height = 5444;
    ctx->image_width = 7244;
    ctx->left_margin = 7;
  }
  parse_skip(ctx, 52);
  for (int c = 0; c < 3; ++c) set_if_finite(&ctx->camera_multipliers[c], read_real(ctx, 11));
  parse_skip(ctx, 114);
  int degrees = (read_u16(ctx) >> 7) * 90;
  if (uint64_t{ctx->image_width} * ctx->image_height * 6 == l.imacon_length) {
    if (degrees % 180 == 90) std::swap(ctx->image_width, ctx->image_height);
    ctx->cfa_pattern = 0;
    degrees = 0;
  }
  ctx->orientation_flags = orientation_from_degrees(degrees);
  snprintf(ctx->camera_model, sizeof ctx->camera_model, "Ixpress %d-Mp",
           int(uint64_t{ctx->image_height} * ctx->image_width / 1000000));
  choose_loader(ctx, raw_loader_name::imacon_rgb_load_raw);
  if (ctx->cfa_pattern) {
    if (ctx->left_margin & 1) ctx->cfa_pattern = 0x61616161;
    choose_loader(ctx, raw_loader_name::unpacked_load_raw);
  }
  ctx->white_level = 0xFFFF;
}

// Tag 34307: a text "MATRIX" followed by three rows of four numbers.
void read_leaf_matrix(raw_decode_context* ctx) {
  char head[8] = {};
  raw_read(ctx, head, 1, 7);
  if (strncmp(head, "MATRIX", 6) != 0) return;
  ctx->colour_count = 4;
  ctx->raw_colour_flag = 0;
  for (int i = 0; i < 3; ++i) {
    float row[4] = {0, 0, 0, 0};
    for (int c = 0; c < 4; ++c) scan_stream_float(ctx, &row[c ^ 1]);
    double sum = double(row[0]) + row[1] + row[2] + row[3];
    for (int c = 0; c < 4; ++c) {
      double v = row[c];
      if (ctx->options.camera_white_balance) v /= sum;
      if (finite_value(v)) ctx->rgb_from_camera[i][c] = float(v);
    }
  }
}

// The lossless-JPEG header at a directory's data offset gives its geometry
// when the directory did not say its bits. Offsets may be SHORT or LONG.
void read_data_offset(raw_decode_context* ctx, const tiff_entry& e, raw_ifd_summary* s, int64_t base) {
  s->data_offset = int32_t(read_by_type(ctx, e.type) + base);
  if (s->bits_per_sample) return;
  raw_seek(ctx, uint32_t(s->data_offset), 0);
  ljpeg_header jh;
  if (quarn_ljpeg_start(ctx, &jh, 1)) {
    s->compression = 6;
    s->width = jh.clrs == 2 ? jh.wide << 1 : jh.wide;
    s->height = jh.high;
    s->bits_per_sample = jh.bits;
    s->samples = jh.clrs;
  }
}

// Where a list of strip or tile values lies, for the loader to read whole.
void remember_values(raw_decode_context* ctx, const tiff_entry& e, int64_t base, raw_value_list* list) {
  list->position = raw_tell(ctx);
  list->count = e.count;
  list->type = e.type == 3 ? 3 : 4;
  list->base = base;
  list->given = true;
}

void read_sub_directories(raw_decode_context* ctx, const tiff_entry& e, int64_t base, int& ifd,
                          raw_ifd_summary* s) {
  if (strcmp(ctx->camera_model, "DSLR-A100") == 0 && s->width == 3872) {
    choose_loader(ctx, raw_loader_name::sony_arw_load_raw);
    ctx->raw_data_offset = uint32_t(read_u32(ctx) + base);
    ++ifd;
    return;
  }
  for (uint32_t i = 0; i < e.count; ++i) {
    int64_t here = raw_tell(ctx);
    raw_seek(ctx, read_u32(ctx) + base, 0);
    if (read_tiff_ifd(ctx, base)) break;
    raw_seek(ctx, here + 4, 0);
  }
}

// Tag 50459: a TIFF header of its own (byte order, offset) for one directory.
void read_hasselblad_ifd(raw_decode_context* ctx) {
  const uint16_t order = ctx->byte_order;
  const int64_t p = raw_tell(ctx);
  const int32_t count = ctx->ifd_count;
  ctx->byte_order = read_u16(ctx);
  parse_skip(ctx, 2);
  raw_seek(ctx, p + read_u32(ctx), 0);
  read_tiff_ifd(ctx, p);
  ctx->ifd_count = count;
  ctx->white_level = 0xFFFF;
  ctx->byte_order = order;
}

void read_tone_curve_points(raw_decode_context* ctx, unsigned type) {
  unsigned p[6] = {0, 0, 0, 0, 0, 4095};
  for (int i = 1; i < 5; ++i) p[i] = read_by_type(ctx, type) >> 2 & 0xFFF;
  for (int i = 0; i < 5; ++i)
    for (unsigned j = p[i] + 1; j <= p[i + 1]; ++j)
      ctx->tone_curve[j] = uint16_t(ctx->tone_curve[j - 1] + (1 << i));
}

bool is_editor_software(const char* software) {
  return starts_with(software, "Adobe") || starts_with(software, "quarn") ||
         starts_with(software, "UFRaw") || starts_with(software, "Bibble") ||
         starts_with(software, "Nikon Scan") || strcmp(software, "Digital Photo Professional") == 0;
}

}  // namespace

// The SR2 sub-directory: read, deciphered in memory and parsed there, its
// offsets counting from the block's place in the file.
void read_sony_block(raw_decode_context* ctx, const ifd_locals& l) {
  raw_seek(ctx, l.sony_offset, 0);
  uint64_t n = parse_cap_count(ctx, l.sony_length, 1);
  if (n < 2 || !parse_charge(ctx, 1 + n / 1024)) return;
  // Held as words so that the loaders' Sony keystream deciphers it in place.
  std::unique_ptr<uint32_t[]> block(new (std::nothrow) uint32_t[(n + 3) / 4]);
  if (!block) return;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(block.get());
  n = raw_read(ctx, bytes, 1, n);
  sony_keystream_apply(ctx, block.get(), n / 4, 1, l.sony_key);
  raw_memory_stream memory;
  memory.data = bytes;
  memory.size = n;
  parse_stream_swap swap(ctx, &raw_memory_ops, &memory);
  read_tiff_ifd(ctx, -int64_t(l.sony_offset));
}

void finish_dng_colour(raw_decode_context* ctx, ifd_locals& l) {
  const int colours = colours_of(ctx);
  for (int i = 0; i < colours; ++i)
    for (int c = 0; c < colours; ++c) l.cc[i][c] *= l.ab[i];
  if (l.use_cm) {
    double cam_xyz[4][3] = {};
    bool finite = true;
    for (int c = 0; c < colours; ++c)
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < colours; ++j) cam_xyz[c][i] += l.cc[c][j] * l.cm[j][i] * l.xyz[i];
        finite &= finite_value(cam_xyz[c][i]);
      }
    if (finite && colours) camera_matrix_from_xyz(ctx, cam_xyz);
  }
  if (l.asn[0] != 0) {
    float mul[4] = {ctx->camera_multipliers[0], ctx->camera_multipliers[1], ctx->camera_multipliers[2], 0};
    bool finite = true;
    for (int c = 0; c < colours; ++c) {
      mul[c] = float(1 / l.asn[c]);
      finite &= finite_value(mul[c]);
    }
    if (finite) memcpy(ctx->camera_multipliers, mul, sizeof mul);
  }
  if (!l.use_cm) {
    for (int c = 0; c < colours; ++c) {
      float v = float(ctx->pre_multipliers[c] / l.cc[c][c]);
      if (finite_value(v)) ctx->pre_multipliers[c] = v;
    }
  }
}

void read_ifd_entry(raw_decode_context* ctx, const tiff_entry& e, int64_t base, int& ifd,
                    ifd_locals& l) {
  raw_ifd_summary scratch = {};
  raw_ifd_summary* s = ifd < 10 ? &ctx->ifd_summaries[ifd] : &scratch;
  raw_ifd_layout layout_scratch = {};
  raw_ifd_layout* layout = ifd < 10 ? &ctx->ifd_layouts[ifd] : &layout_scratch;
  const int colours = colours_of(ctx);
  switch (e.tag) {
    case 2: case 256: s->width = int32_t(read_by_type(ctx, e.type)); break;
    case 3: case 257: s->height = int32_t(read_by_type(ctx, e.type)); break;
    case 17: case 18:
      if (e.type == 3 && e.count == 1) ctx->camera_multipliers[(e.tag - 17) * 2] = read_u16(ctx) / 256.0f;
      break;
    case 23:
      if (e.type == 3) ctx->iso_value = read_u16(ctx);
      break;
    case 36: case 37: case 38: ctx->camera_multipliers[e.tag - 36] = float(read_by_type(ctx, e.type)); break;
    case 39:
      if (e.count >= 50 && ctx->camera_multipliers[0] == 0) {
        parse_skip(ctx, 12);
        for (int c = 0; c < 3; ++c) ctx->camera_multipliers[c] = read_u16(ctx);
      }
      break;
    case 46:
      if (e.type == 7 && raw_getc(ctx) == 0xFF && raw_getc(ctx) == 0xD8) {
        ctx->thumb_data_offset = uint32_t(raw_tell(ctx) - 2);
        ctx->thumb_data_length = e.count;
      }
      break;
    case 11: case 305: {
      char software[64];
      read_line(ctx, software, 64);
      if (is_editor_software(software)) ctx->raw_image_count = 0;
      break;
    }
    case 258:
      s->samples = int32_t(e.count & 7);
      s->bits_per_sample = int32_t(read_by_type(ctx, e.type));
      break;
    case 259: s->compression = int32_t(read_by_type(ctx, e.type)); break;
    case 262: s->photometric = int32_t(read_by_type(ctx, e.type)); break;
    case 270: read_text(ctx, ctx->image_description); break;
    case 271: read_line(ctx, ctx->camera_make, 64); break;
    case 272: read_line(ctx, ctx->camera_model, 64); break;
    case 280:
      if (e.type != 4) break;
      ctx->loader_flags = 0x2008;
      choose_loader(ctx, raw_loader_name::panasonic_load_raw);
      read_data_offset(ctx, e, s, base);
      break;
    case 273:
      remember_values(ctx, e, base, &layout->offsets);
      layout->tiled = false;
      read_data_offset(ctx, e, s, base);
      layout->data_offset = s->data_offset;
      break;
    case 513: read_data_offset(ctx, e, s, base); break;
    case 274: {
      // Only 1-8 are orientations; any other value leaves the picture as stored.
      const uint32_t v = read_by_type(ctx, e.type);
      s->orientation = v >= 1 && v <= 8 ? "50132467"[v & 7] - '0' : 0;
      break;
    }
    case 277: s->samples = int32_t(read_by_type(ctx, e.type) & 7); break;
    case 278: layout->rows_per_strip = read_by_type(ctx, e.type); break;
    case 279: case 325:
      remember_values(ctx, e, 0, &layout->byte_counts);
      if (e.tag == 279) s->byte_count = int32_t(read_by_type(ctx, e.type));
      break;
    case 514: s->byte_count = int32_t(read_by_type(ctx, e.type)); break;
    case 291: case 50712: read_linearization_curve(ctx, e.count); break;
    case 306: read_exif_datetime(ctx, 0); break;
    case 315: read_text(ctx, ctx->artist_name); break;
    case 322: ctx->tile_width = layout->tile_width = read_by_type(ctx, e.type); break;
    case 323: ctx->tile_height = layout->tile_height = read_by_type(ctx, e.type); break;
    case 324:
      remember_values(ctx, e, 0, &layout->offsets);
      layout->tiled = true;
      s->data_offset = e.count > 1 ? int32_t(raw_tell(ctx)) : int32_t(read_by_type(ctx, e.type));
      layout->data_offset = s->data_offset;
      if (e.count == 4) {
        ctx->raw_image_count = 5;
        choose_loader(ctx, raw_loader_name::sinar_4shot_load_raw);
      }
      break;
    case 330: read_sub_directories(ctx, e, base, ifd, s); break;
    case 400:
      set_text(ctx->camera_make, "Sarnoff");
      ctx->white_level = 0xFFF;
      break;
    case 28688: read_tone_curve_points(ctx, e.type); break;
    case 29184: l.sony_offset = read_by_type(ctx, e.type); break;
    case 29185: l.sony_length = read_by_type(ctx, e.type); break;
    case 29217: l.sony_key = read_by_type(ctx, e.type); break;
    case 29264:
      read_minolta_blocks(ctx, raw_tell(ctx));
      ctx->sensor_width = 0;
      break;
    case 29443:
      for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c < 2)] = float(read_by_type(ctx, e.type));
      break;
    case 29459:
      for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1)] = float(read_by_type(ctx, e.type));
      break;
    case 33405: read_line(ctx, ctx->camera_model_extra, 64); break;
    case 33422: case 64777: read_cfa_pattern_tag(ctx, e, l); break;
    case 33424:
      if (seek_directory(ctx, read_by_type(ctx, e.type) + base)) read_kodak_ifd(ctx, base);
      break;
    case 33434: set_if_finite(&ctx->shutter_seconds, read_real(ctx, int(e.type))); break;
    case 33437: set_if_finite(&ctx->aperture_value, read_real(ctx, int(e.type))); break;
    case 34303: set_text(ctx->camera_make, "Leaf"); break;
    case 34306:
      for (int c = 0; c < 4; ++c) {
        const uint32_t v = read_by_type(ctx, e.type);
        if (v) ctx->camera_multipliers[c ^ 1] = 4096.0f / float(v);
      }
      break;
    case 34307: read_leaf_matrix(ctx); break;
    case 34310:
      read_leaf_packets(ctx, uint32_t(raw_tell(ctx)));
      set_text(ctx->camera_make, "Leaf");
      break;
    case 34665:
      if (seek_directory(ctx, read_by_type(ctx, e.type) + base)) read_exif_ifd(ctx, base);
      break;
    case 34675: case 50831:
      ctx->icc_profile_offset = uint32_t(raw_tell(ctx));
      ctx->icc_profile_length = e.count;
      break;
    case 34853:
      if (seek_directory(ctx, read_by_type(ctx, e.type) + base)) read_gps_ifd(ctx, base);
      break;
    case 37122: ctx->kodak_bit_code = read_by_type(ctx, e.type); break;
    case 37386: set_if_finite(&ctx->focal_length_mm, read_real(ctx, int(e.type))); break;
    case 37393: ctx->shot_sequence = read_by_type(ctx, e.type); break;
    case 37400:
      ctx->raw_colour_flag = 0;
      for (int i = 0; i < 3; ++i) {
        read_real(ctx, int(e.type));
        for (int c = 0; c < 3; ++c) set_if_finite(&ctx->rgb_from_camera[i][c], read_real(ctx, int(e.type)));
      }
      break;
    case 46275:
      set_text(ctx->camera_make, "Imacon");
      ctx->raw_data_offset = uint32_t(raw_tell(ctx));
      l.imacon_length = e.count;
      break;
    case 46279:
      if (l.imacon_length) read_imacon_header(ctx, l);
      break;
    case 50454: case 50455: read_neutral_block(ctx, e.count); break;
    case 50458:
      if (!ctx->camera_make[0]) set_text(ctx->camera_make, "Hasselblad");
      break;
    case 50459: read_hasselblad_ifd(ctx); break;
    case 50706: {
      uint32_t v = 0;
      for (int i = 0; i < 4; ++i) v = v << 8 | uint32_t(raw_getc(ctx) & 0xFF);
      ctx->dng_version_code = v;
      if (!ctx->camera_make[0]) set_text(ctx->camera_make, "DNG");
      ctx->raw_image_count = 1;
      break;
    }
    case 50710: {
      const int n = e.count < 4 ? int(e.count) : 4;
      uint8_t pc[4] = {0, 0, 0, 0};
      raw_read(ctx, pc, 1, size_t(n));
      ctx->colour_count = n;
      memcpy(l.cfa_pc, pc, 4);
      build_cfa_pattern(ctx, l);
      break;
    }
    case 50711:
      if (read_by_type(ctx, e.type) == 2) {
        ctx->fuji_diagonal_width = 1;
        ctx->cfa_pattern = 0x49494949;
      }
      break;
    case 50714: case 50715: case 50716: {
      uint64_t n = parse_cap_count(ctx, e.count, tiff_type_size(e.type));
      if (!n || !parse_charge(ctx, parse_cost_of(n))) break;
      double sum = 0;
      for (uint64_t i = 0; i < n; ++i) sum += read_real(ctx, int(e.type));
      double level = double(ctx->black_level) + (sum / double(e.count) + 0.5);
      if (finite_value(level)) ctx->black_level = uint32_t(level < 0 ? 0 : level > 4294967295.0 ? 4294967295.0 : level);
      break;
    }
    case 50717: ctx->white_level = read_by_type(ctx, e.type); break;
    case 50718: {
      double num = read_real(ctx, int(e.type));
      double ratio = num / read_real(ctx, int(e.type));
      if (finite_value(ratio) && ratio > 0) ctx->pixel_aspect_ratio = ratio;
      break;
    }
    case 50721: case 50722:
      for (int c = 0; c < colours; ++c)
        for (int i = 0; i < 3; ++i) l.cm[c][i] = read_real(ctx, int(e.type));
      l.use_cm = true;
      break;
    case 50723: case 50724:
      for (int i = 0; i < colours; ++i)
        for (int c = 0; c < colours; ++c) l.cc[i][c] = read_real(ctx, int(e.type));
      break;
    case 50727:
      for (int c = 0; c < colours; ++c) l.ab[c] = read_real(ctx, int(e.type));
      break;
    case 50728:
      for (int c = 0; c < colours; ++c) l.asn[c] = read_real(ctx, int(e.type));
      break;
    case 50729:
      l.xyz[0] = read_real(ctx, int(e.type));
      l.xyz[1] = read_real(ctx, int(e.type));
      l.xyz[2] = 1 - l.xyz[0] - l.xyz[1];
      for (int c = 0; c < 3; ++c) l.xyz[c] /= d65_white[c];
      break;
    case 50740:
      if (ctx->dng_version_code == 0) {
        int64_t j = read_by_type(ctx, e.type) + base;
        read_minolta_blocks(ctx, j);
        raw_seek(ctx, j, 0);
        read_tiff_ifd(ctx, base);
      }
      break;
    case 50752: {
      uint16_t slices[3];
      for (uint16_t& v : slices) v = uint16_t(read_by_type(ctx, e.type));
      // A slice of width 0 cannot be cut: no slices at all.
      if ((slices[0] && !slices[1]) || !slices[2]) slices[0] = slices[1] = slices[2] = 0;
      memcpy(ctx->canon_slices, slices, sizeof slices);
      break;
    }
    case 50829: {
      ctx->top_margin = uint16_t(read_by_type(ctx, e.type));
      ctx->left_margin = uint16_t(read_by_type(ctx, e.type));
      int64_t bottom = read_by_type(ctx, e.type), right = read_by_type(ctx, e.type);
      ctx->image_height = uint16_t(bottom > ctx->top_margin ? bottom - ctx->top_margin : 0);
      ctx->image_width = uint16_t(right > ctx->left_margin ? right - ctx->left_margin : 0);
      break;
    }
    case 64772:
      parse_skip(ctx, 16);
      ctx->raw_data_offset = read_u32(ctx);
      parse_skip(ctx, 28);
      ctx->raw_data_offset += read_u32(ctx);
      choose_loader(ctx, raw_loader_name::packed_12bit_load_raw);
      break;
    default: break;
  }
}
