// Camera identification: reset, container dispatch (or the size table), name
// normalisation, default geometry, the DNG rules or the per-camera settings,
// the colour table, and the end checks that decide what may be decoded.
#include "rawdecode/raw_identify.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_camera_tables.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_parsers.h"
#include "rawdecode/raw_stream.h"

namespace {

void reset_file_fields(raw_decode_context* ctx) {
  ctx->cfa_pattern = 0xFFFFFFFFu;
  ctx->orientation_flags = ctx->ifd_orientation = -1;
  ctx->sensor_height = ctx->sensor_width = ctx->image_height = ctx->image_width = 0;
  ctx->top_margin = ctx->left_margin = ctx->fuji_diagonal_width = 0;
  ctx->fuji_layout_flag = 0;
  ctx->canon_slices[0] = 0;
  ctx->white_level = ctx->black_level = 0;
  ctx->colour_letters[0] = ctx->image_description[0] = ctx->artist_name[0] = 0;
  ctx->camera_make[0] = ctx->camera_model[0] = ctx->camera_model_extra[0] = 0;
  ctx->iso_value = ctx->shutter_seconds = ctx->aperture_value = ctx->focal_length_mm = 0;
  ctx->camera_id = 0;
  memset(ctx->gps_block, 0, sizeof ctx->gps_block);
  memset(ctx->white_patch, 0, sizeof ctx->white_patch);
  ctx->thumb_data_offset = ctx->thumb_data_length = 0;
  ctx->thumb_width = ctx->thumb_height = 0;
  ctx->raw_data_offset = ctx->meta_data_length = 0;
  ctx->thumb_writer = jpeg_thumb;
  ctx->raw_loader = ctx->thumb_loader = nullptr;
  ctx->raw_loader_choice = ctx->thumb_loader_choice = raw_loader_name::none;
  ctx->thumb_writer_choice = raw_thumb_name::none;
  ctx->pentax_tree_offset = 0;
  ctx->parse = raw_parse_state{};
  ctx->bits_per_sample = 12;
  ctx->compression_code = ctx->samples_per_pixel = 0;
  ctx->kodak_bit_code = ctx->dng_version_code = 0;
  ctx->loader_flags = 0;
  ctx->shot_time = 0;
  ctx->shot_sequence = 0;
  ctx->foveon_flag = ctx->mixed_green = 0;
  ctx->icc_profile_length = 0;
  ctx->data_error_reported = ctx->zero_is_bad = ctx->ff00_stuffing = 0;
  ctx->tag_value_cut = 0;
  ctx->refusal_text.clear();
  ctx->pixel_aspect_ratio = 1.0;
  ctx->raw_image_count = ctx->raw_colour_flag = ctx->apply_gamma = 1;
  ctx->tile_width = ctx->tile_height = 0x7FFFFFFF;
  const float cam[4] = {0, 1, 0, 0}, pre[4] = {1, 1, 1, 0};
  memcpy(ctx->camera_multipliers, cam, sizeof cam);
  memcpy(ctx->pre_multipliers, pre, sizeof pre);
  memset(ctx->file_colour_matrix, 0, sizeof ctx->file_colour_matrix);
  memset(ctx->rgb_from_camera, 0, sizeof ctx->rgb_from_camera);
  for (int i = 0; i < 3; ++i) ctx->rgb_from_camera[i][i] = 1;
  ctx->colour_count = 3;
  for (int i = 0; i < 0x4000; ++i) ctx->tone_curve[i] = uint16_t(i);
  ctx->linear_table_count = 0;
  ctx->raw_layout = raw_ifd_layout{};
}

bool head_is(const uint8_t* head, int at, const char* text, size_t n) {
  return memcmp(head + at, text, n) == 0;
}

void container_dispatch(raw_decode_context* ctx, const uint8_t* head, uint32_t hlen,
                        int64_t fsize) {
  int phase_one_at = -1;
  for (const char* mark : {"MMMM", "IIII"}) {
    for (int i = 0; i <= 28 && phase_one_at < 0; ++i)
      if (head_is(head, i, mark, 4)) phase_one_at = i;
    if (phase_one_at >= 0) break;
  }
  if (phase_one_at >= 0) {
    read_phase_one_header(ctx, phase_one_at);
    if (phase_one_at) read_tiff_container(ctx, 0);
  } else if (ctx->byte_order == 0x4949 || ctx->byte_order == 0x4D4D) {
    if (head_is(head, 6, "HEAPCCDR", 8)) {
      ctx->raw_data_offset = hlen;
      read_ciff_heap(ctx, hlen, fsize - int64_t{hlen});
    } else {
      read_tiff_container(ctx, 0);
    }
  } else if (head_is(head, 0, "\xFF\xD8\xFF\xE1", 4) && head_is(head, 6, "Exif", 4)) {
    raw_seek(ctx, 4, 0);
    ctx->raw_data_offset = 4 + read_u16(ctx);
    raw_seek(ctx, ctx->raw_data_offset, 0);
    if (raw_getc(ctx) != 0xFF) read_tiff_container(ctx, 12);
    ctx->thumb_data_offset = 0;
  } else if (head_is(head, 25, "ARECOYK", 7)) {
    strcpy(ctx->camera_make, "Contax");
    strcpy(ctx->camera_model, "N Digital");
    raw_seek(ctx, 33, 0);
    read_exif_datetime(ctx, 1);
    raw_seek(ctx, 60, 0);
    for (int c = 0; c < 4; ++c) ctx->camera_multipliers[c ^ (c >> 1)] = float(read_u32(ctx));
  } else if (head_is(head, 0, "PXN", 4)) {
    strcpy(ctx->camera_make, "Logitech");
    strcpy(ctx->camera_model, "Fotoman Pixtura");
  } else if (head_is(head, 0, "qktk", 5)) {
    strcpy(ctx->camera_make, "Apple");
    strcpy(ctx->camera_model, "QuickTake 100");
  } else if (head_is(head, 0, "qktn", 5)) {
    strcpy(ctx->camera_make, "Apple");
    strcpy(ctx->camera_model, "QuickTake 150");
  } else if (head_is(head, 0, "FUJIFILM", 8)) {
    raw_seek(ctx, 84, 0);
    ctx->thumb_data_offset = read_u32(ctx);
    ctx->thumb_data_length = read_u32(ctx);
    raw_seek(ctx, 92, 0);
    read_fuji_directory(ctx, read_u32(ctx));
    if (ctx->thumb_data_offset > 120) {
      raw_seek(ctx, 120, 0);
      uint32_t i = read_u32(ctx);
      ctx->raw_image_count += i != 0;
      if (ctx->raw_image_count == 2 && ctx->options.shot_index) read_fuji_directory(ctx, i);
    }
    raw_seek(ctx, 100, 0);
    ctx->raw_data_offset = read_u32(ctx);
    read_tiff_container(ctx, ctx->thumb_data_offset + 12);
  } else if (head_is(head, 0, "RIFF", 4)) {
    raw_seek(ctx, 0, 0);
    read_riff_chunks(ctx);
  } else if (head_is(head, 0, "\0\001\0\001\0@", 6)) {
    raw_seek(ctx, 6, 0);
    raw_read(ctx, ctx->camera_make, 1, 8);
    raw_read(ctx, ctx->camera_model, 1, 8);
    raw_read(ctx, ctx->camera_model_extra, 1, 16);
    ctx->raw_data_offset = read_u16(ctx);
    read_u16(ctx);
    ctx->sensor_width = read_u16(ctx);
    ctx->sensor_height = read_u16(ctx);
    ctx->raw_loader = nokia_load_raw;
    ctx->cfa_pattern = 0x61616161;
  } else if (head_is(head, 0, "DSC-Image", 9)) {
    read_rollei_header(ctx);
  } else if (head_is(head, 0, "PWAD", 4)) {
    read_sinar_ia(ctx);
  } else if (head_is(head, 0, "\0MRM", 4)) {
    read_minolta_blocks(ctx, 0);
  } else if (head_is(head, 0, "FOVb", 4)) {
    read_foveon_properties(ctx);
  } else if (head_is(head, 0, "CI", 2)) {
    read_cine_header(ctx);
  } else {
    // Known by size alone; every row is tried, the last match wins.
    for (const raw_size_row& row : camera_size_table) {
      if (row.file_size != fsize) continue;
      snprintf(ctx->camera_make, sizeof ctx->camera_make, "%s", row.maker);
      snprintf(ctx->camera_model, sizeof ctx->camera_model, "%s", row.model);
      if (row.side_jpeg) parse_external_jpeg(ctx);
    }
  }
}

void trim_trailing_blanks(char* s) {
  size_t n = strnlen(s, 63);
  s[n] = 0;
  while (n > 0 && s[n - 1] == ' ') s[--n] = 0;
}

void normalise_names(raw_decode_context* ctx) {
  ctx->camera_make[sizeof ctx->camera_make - 1] = 0;
  ctx->camera_model[sizeof ctx->camera_model - 1] = 0;
  for (const char* name : maker_names)
    if (strstr(ctx->camera_make, name)) snprintf(ctx->camera_make, sizeof ctx->camera_make, "%s", name);
  if (!strncmp(ctx->camera_make, "KODAK", 5)) {
    ctx->camera_make[16] = 0;
    ctx->camera_model[16] = 0;
  }
  trim_trailing_blanks(ctx->camera_make);
  trim_trailing_blanks(ctx->camera_model);
  const size_t make_length = strlen(ctx->camera_make);
  if (make_length && !strncasecmp(ctx->camera_model, ctx->camera_make, make_length) &&
      ctx->camera_model[make_length] == ' ')
    memmove(ctx->camera_model, ctx->camera_model + make_length + 1,
            strlen(ctx->camera_model + make_length + 1) + 1);
  if (!strncmp(ctx->camera_model, "Digital Camera ", 15))
    memmove(ctx->camera_model, ctx->camera_model + 15, strlen(ctx->camera_model + 15) + 1);
  ctx->image_description[511] = 0;
  ctx->artist_name[63] = ctx->camera_make[63] = ctx->camera_model[63] = 0;
  ctx->camera_model_extra[63] = 0;
}

// False when the default geometry cannot be formed (a Fuji diagonal that
// would not fit the 16-bit sizes).
bool default_geometry(raw_decode_context* ctx) {
  if (ctx->white_level == 0) {
    const int bits = ctx->bits_per_sample;
    ctx->white_level = bits >= 1 && bits <= 16 ? (1u << bits) - 1 : 0xFFFF;
  }
  if (ctx->image_height == 0) ctx->image_height = ctx->sensor_height;
  if (ctx->image_width == 0) ctx->image_width = ctx->sensor_width;
  if (ctx->fuji_diagonal_width) {
    const uint32_t wide = uint32_t{ctx->image_height} + ctx->fuji_diagonal_width;
    if (wide > 0xFFFF) return false;
    ctx->image_width = uint16_t(wide);
    ctx->image_height = uint16_t(wide - 1);
    ctx->pixel_aspect_ratio = 1;
  }
  if (ctx->image_height == 2624 && ctx->image_width == 3936) {
    ctx->image_height = 2616;
    ctx->image_width = 3896;
  }
  if (ctx->image_height == 3136 && ctx->image_width == 4864) {
    ctx->image_height = 3124;
    ctx->image_width = 4688;
  }
  if (ctx->image_height == 3014 && ctx->image_width == 4096) ctx->image_width = 4014;
  return true;
}

raw_load_fn loader_for(raw_loader_name name) {
  switch (name) {
    case raw_loader_name::none: return nullptr;
    case raw_loader_name::eight_bit_load_raw: return eight_bit_load_raw;
    case raw_loader_name::packed_12bit_load_raw: return packed_12bit_load_raw;
    case raw_loader_name::unpacked_load_raw: return unpacked_load_raw;
    case raw_loader_name::olympus_e300_load_raw: return olympus_e300_load_raw;
    case raw_loader_name::olympus_e410_load_raw: return olympus_e410_load_raw;
    case raw_loader_name::ljpeg_load_raw: return ljpeg_load_raw;
    case raw_loader_name::kodak_262_load_raw: return kodak_262_load_raw;
    case raw_loader_name::kodak_65000_load_raw: return kodak_65000_load_raw;
    case raw_loader_name::kodak_rgb_load_raw: return kodak_rgb_load_raw;
    case raw_loader_name::kodak_ycbcr_load_raw: return kodak_ycbcr_load_raw;
    case raw_loader_name::kodak_thumb_load_raw: return kodak_thumb_load_raw;
    case raw_loader_name::sony_arw_load_raw: return sony_arw_load_raw;
    case raw_loader_name::sony_arw2_load_raw: return sony_arw2_load_raw;
    case raw_loader_name::nikon_compressed_load_raw: return nikon_compressed_load_raw;
    case raw_loader_name::pentax_k10_load_raw: return pentax_k10_load_raw;
    case raw_loader_name::panasonic_load_raw: return panasonic_load_raw;
    case raw_loader_name::sinar_4shot_load_raw: return sinar_4shot_load_raw;
    case raw_loader_name::imacon_rgb_load_raw: return imacon_rgb_load_raw;
    case raw_loader_name::phase_one_load_raw: return phase_one_load_raw;
    case raw_loader_name::phase_one_load_raw_c: return phase_one_load_raw_c;
    case raw_loader_name::smal_v6_load_raw: return smal_v6_load_raw;
    case raw_loader_name::smal_v9_load_raw: return smal_v9_load_raw;
  }
  return nullptr;
}

raw_thumb_writer_fn writer_for(raw_thumb_name name, raw_thumb_writer_fn current) {
  switch (name) {
    case raw_thumb_name::none: return current;
    case raw_thumb_name::layer_thumb: return layer_thumb;
    case raw_thumb_name::ppm_thumb: return ppm_thumb;
    case raw_thumb_name::rollei_thumb: return rollei_thumb;
    case raw_thumb_name::jpeg_thumb: return jpeg_thumb;
  }
  return current;
}

// The last checks before anything is allocated for the file: a size the
// pipeline can work on, the visible window inside the stored one, sample
// sizes and levels that make sense.
const char* geometry_fault(const raw_decode_context* ctx) {
  if (ctx->image_height < 22 || ctx->image_width < 22) return "picture smaller than 22 x 22";
  if (ctx->bits_per_sample < 1 || ctx->bits_per_sample > 16) return "sample size outside 1..16 bits";
  if (ctx->black_level >= ctx->white_level) return "black level not below white level";
  // Olympus files of odd height are read one row further than they declare.
  const uint32_t olympus_row = strcmp(ctx->camera_make, "OLYMPUS") == 0 && (ctx->sensor_height & 1);
  if (!ctx->fuji_diagonal_width && ctx->raw_loader != kodak_ycbcr_load_raw &&
      (uint32_t{ctx->top_margin} + ctx->image_height > ctx->sensor_height + olympus_row ||
       uint32_t{ctx->left_margin} + ctx->image_width > ctx->sensor_width))
    return "visible area outside the sensor";
  return nullptr;
}

}  // namespace

void kodak_jpeg_stub(raw_decode_context*) {}

void install_chosen_routines(raw_decode_context* ctx) {
  if (!ctx->raw_loader && ctx->raw_loader_choice != raw_loader_name::none)
    ctx->raw_loader = loader_for(ctx->raw_loader_choice);
  if (!ctx->thumb_loader && ctx->thumb_loader_choice != raw_loader_name::none)
    ctx->thumb_loader = loader_for(ctx->thumb_loader_choice);
  ctx->thumb_writer = writer_for(ctx->thumb_writer_choice, ctx->thumb_writer);
  ctx->raw_loader_choice = ctx->thumb_loader_choice = raw_loader_name::none;
  ctx->thumb_writer_choice = raw_thumb_name::none;
}

void probe_raw_file(raw_decode_context* ctx) {
  reset_file_fields(ctx);
  raw_seek(ctx, 0, 0);
  ctx->byte_order = 0x4D4D;
  ctx->byte_order = read_u16(ctx);
  const uint32_t hlen = read_u32(ctx);
  uint8_t head[33] = {};
  raw_seek(ctx, 0, 0);
  raw_read(ctx, head, 1, 32);
  raw_seek(ctx, 0, 2);
  const int64_t fsize = raw_tell(ctx);

  container_dispatch(ctx, head, hlen, fsize);
  if (!ctx->camera_make[0]) read_smal_header(ctx, fsize);
  if (!ctx->camera_make[0]) {
    ctx->raw_image_count = 0;
    read_jpeg_markers(ctx);
  }
  install_chosen_routines(ctx);
  normalise_names(ctx);

  if (ctx->raw_image_count) {
    bool usable = default_geometry(ctx);
    if (usable && ctx->dng_version_code) {
      if (ctx->cfa_pattern == 0xFFFFFFFFu) ctx->cfa_pattern = 0;
      if (ctx->cfa_pattern)
        ctx->raw_image_count = ctx->samples_per_pixel;
      else
        ctx->colour_count = ctx->samples_per_pixel;
      if (ctx->compression_code == 1) ctx->raw_loader = adobe_dng_load_raw_nc;
      if (ctx->compression_code == 7) ctx->raw_loader = dng_lossless_load_raw;
    } else if (usable) {
      apply_camera_settings(ctx, head, fsize);
      install_chosen_routines(ctx);
      if (!ctx->camera_model[0])
        snprintf(ctx->camera_model, sizeof ctx->camera_model, "%dx%d", ctx->image_width,
                 ctx->image_height);
      if (ctx->cfa_pattern == 0xFFFFFFFFu) ctx->cfa_pattern = 0x94949494;
      if (ctx->raw_colour_flag) apply_camera_matrix_table(ctx, ctx->camera_make, ctx->camera_model);
      if (ctx->thumb_data_offset && !ctx->thumb_height) {
        raw_seek(ctx, ctx->thumb_data_offset, 0);
        ljpeg_header jh;
        if (quarn_ljpeg_start(ctx, &jh, 1)) {
          ctx->thumb_width = uint16_t(jh.wide);
          ctx->thumb_height = uint16_t(jh.high);
        }
      }
    }
    if (!usable) ctx->raw_image_count = 0;

    // End checks.
    if (!ctx->raw_loader || ctx->image_height < 22) ctx->raw_image_count = 0;
    if (ctx->raw_loader == kodak_jpeg_stub) {
      raw_message(ctx, "%s: You must link quarn with libjpeg!!\n", ctx->message_name);
      ctx->raw_image_count = 0;
    }
    if (!ctx->colour_letters[0])
      strcpy(ctx->colour_letters, ctx->colour_count == 3 ? "RGB" : "GMCY");
    if (!ctx->sensor_height) ctx->sensor_height = ctx->image_height;
    if (!ctx->sensor_width) ctx->sensor_width = ctx->image_width;
    if (ctx->cfa_pattern && ctx->colour_count == 3)
      for (int shift = 0; shift < 32; shift += 4) {
        uint32_t g = (ctx->cfa_pattern >> shift) & 15;
        if (g == 9) ctx->cfa_pattern |= 2u << shift;
        if (g == 6) ctx->cfa_pattern |= 8u << shift;
      }
    // The Pentax loader decodes with the tree the maker note points at; it
    // is built last, after every header read that uses the tree pool.
    if (ctx->raw_image_count && ctx->raw_loader == pentax_k10_load_raw) {
      if (ctx->pentax_tree_offset) {
        raw_seek(ctx, ctx->pentax_tree_offset, 0);
        pentax_build_tree(ctx);
      } else {
        raw_message(ctx, "%s: no decoding tree for the Pentax data\n", ctx->message_name);
        ctx->raw_image_count = 0;
      }
    }
    if (ctx->raw_image_count && ctx->raw_loader) {
      if (const char* fault = geometry_fault(ctx)) {
        raw_message(ctx, "%s: %s\n", ctx->message_name, fault);
        ctx->raw_image_count = 0;
      }
    }
  }
  if (ctx->orientation_flags == -1) ctx->orientation_flags = ctx->ifd_orientation;
  if (ctx->orientation_flags == -1) ctx->orientation_flags = 0;
}
