// The TIFF container: the directory chain with its sub-directories, the
// choice of raw directory, loader and thumbnail, and the shooting time,
// linearization curve and ROMM matrix readers the directories share.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_parse_tiff_ifd.h"

namespace {

constexpr double romm_to_rgb[3][3] = {
    {2.034193, -0.727420, -0.306766},
    {-0.228811, 1.231729, -0.002922},
    {-0.008565, -0.153273, 1.161839},
};

// Step 7 of the container: the loader for the raw directory's compression.
void choose_loader_by_compression(raw_decode_context* ctx, const raw_ifd_summary& raw) {
  const uint64_t area = uint64_t{ctx->sensor_width} * ctx->sensor_height;
  const uint64_t bytes = uint32_t(raw.byte_count);
  switch (ctx->compression_code) {
    case 0: case 1:
      switch (ctx->bits_per_sample) {
        case 8: choose_loader(ctx, raw_loader_name::eight_bit_load_raw); break;
        case 12:
          if (raw.photometric == 2) ctx->loader_flags = 6;
          if (!starts_with(ctx->camera_make, "PENTAX")) {
            choose_loader(ctx, raw_loader_name::packed_12bit_load_raw);
            break;
          }
          [[fallthrough]];
        case 14: case 16: choose_loader(ctx, raw_loader_name::unpacked_load_raw); break;
        default: break;
      }
      if (5 * bytes == 8 * area) choose_loader(ctx, raw_loader_name::olympus_e300_load_raw);
      break;
    case 6: case 7: case 99: choose_loader(ctx, raw_loader_name::ljpeg_load_raw); break;
    case 262: choose_loader(ctx, raw_loader_name::kodak_262_load_raw); break;
    case 32767:
      if (8 * bytes == uint64_t(uint32_t(ctx->bits_per_sample)) * area) {
        choose_loader(ctx, raw_loader_name::sony_arw2_load_raw);
      } else {
        ctx->sensor_height = uint16_t(ctx->sensor_height + 8);
        choose_loader(ctx, raw_loader_name::sony_arw_load_raw);
      }
      break;
    case 32769:
      ctx->loader_flags = 8;
      choose_loader(ctx, raw_loader_name::packed_12bit_load_raw);
      break;
    case 32773: choose_loader(ctx, raw_loader_name::packed_12bit_load_raw); break;
    case 32867: break;
    case 34713: choose_loader(ctx, raw_loader_name::nikon_compressed_load_raw); break;
    case 65000:
      switch (raw.photometric) {
        case 2:
          choose_loader(ctx, raw_loader_name::kodak_rgb_load_raw);
          ctx->cfa_pattern = 0;
          break;
        case 6:
          choose_loader(ctx, raw_loader_name::kodak_ycbcr_load_raw);
          ctx->cfa_pattern = 0;
          break;
        case 32803: choose_loader(ctx, raw_loader_name::kodak_65000_load_raw); break;
        default: break;
      }
      break;
    case 65535: choose_loader(ctx, raw_loader_name::pentax_k10_load_raw); break;
    default: ctx->raw_image_count = 0; break;
  }
}

// Step 9: the largest other directory, by pixels weighed by bit depth.
void choose_thumbnail(raw_decode_context* ctx, int raw_index, int max_samples) {
  int taken = -1;
  for (int i = 0; i < ctx->ifd_count && i < 10; ++i) {
    const raw_ifd_summary& s = ctx->ifd_summaries[i];
    if (i == raw_index || s.samples != max_samples) continue;
    if (s.bits_per_sample < 1 || s.bits_per_sample > 32 || s.width < 0 || s.height < 0) continue;
    const uint64_t bits = uint32_t(s.bits_per_sample) + 1;
    const uint64_t have_bits = uint64_t(ctx->thumb_format_info & 0xFFFF) + 1;
    const uint64_t mine = uint64_t(uint32_t(s.width)) * uint32_t(s.height) / (bits * bits);
    const uint64_t have = uint64_t{ctx->thumb_width} * ctx->thumb_height / (have_bits * have_bits);
    if (mine <= have) continue;
    ctx->thumb_width = uint16_t(s.width);
    ctx->thumb_height = uint16_t(s.height);
    ctx->thumb_data_offset = uint32_t(s.data_offset);
    ctx->thumb_data_length = uint32_t(s.byte_count);
    ctx->thumb_format_info = uint32_t(s.bits_per_sample);
    taken = i;
  }
  if (taken < 0) return;
  const raw_ifd_summary& t = ctx->ifd_summaries[taken];
  ctx->thumb_format_info |= uint32_t(max_samples) << 5;
  switch (t.compression) {
    case 0: choose_thumb_writer(ctx, raw_thumb_name::layer_thumb); break;
    case 1:
      if (t.bits_per_sample > 8)
        choose_thumb_loader(ctx, raw_loader_name::kodak_thumb_load_raw);
      else
        choose_thumb_writer(ctx, raw_thumb_name::ppm_thumb);
      break;
    case 65000:
      choose_thumb_loader(ctx, t.photometric == 6 ? raw_loader_name::kodak_ycbcr_load_raw
                                                   : raw_loader_name::kodak_rgb_load_raw);
      break;
    default: break;
  }
}

// Tags whose value only says where data lies (strip and tile lists, the
// thumbnail, the colour profile, raw data): their readers bound what they
// read by the file themselves, so a cut file keeps them.
bool notes_where_data_lies(unsigned tag) {
  switch (tag) {
    case 46: case 273: case 279: case 324: case 325: case 34675: case 46275: case 50831: return true;
    default: return false;
  }
}

}  // namespace

int read_tiff_ifd(raw_decode_context* ctx, int64_t base) {
  if (ctx->ifd_count >= 10) return 1;
  parse_level level(ctx);
  if (!level.ok || !parse_first_visit(ctx, parse_tiff_ifd)) return 1;
  int ifd = ctx->ifd_count++;
  ifd_locals l;
  unsigned entries = read_u16(ctx);
  if (entries > 512) return 1;
  entries = entries_inside(ctx, entries);
  for (unsigned n = 0; n < entries; ++n) {
    if (!parse_charge(ctx)) return 1;
    tiff_entry e;
    read_tiff_entry(ctx, base, &e);
    if (!notes_where_data_lies(e.tag) && tag_value_cut(ctx, e)) {
      raw_seek(ctx, e.end, 0);
      continue;
    }
    read_ifd_entry(ctx, e, base, ifd, l);
    raw_seek(ctx, e.end, 0);
  }
  if (l.sony_length) {
    // Back to the link to the next directory once the block is parsed.
    const int64_t here = raw_tell(ctx);
    read_sony_block(ctx, l);
    raw_seek(ctx, here, 0);
  }
  finish_dng_colour(ctx, l);
  return 0;
}

void read_tiff_container(raw_decode_context* ctx, uint32_t base) {
  // A container read from the top (identification may read a side file more
  // than once) sees its directories afresh; nested ones keep the list, so
  // cycles through them still end. The budget goes on either way.
  if (ctx->parse.depth == 0) ctx->parse.visited_count = 0;
  parse_level level(ctx);
  if (!level.ok) return;
  raw_seek(ctx, base, 0);
  ctx->byte_order = read_u16(ctx);
  if (ctx->byte_order != 0x4949 && ctx->byte_order != 0x4D4D) return;
  read_u16(ctx);
  memset(ctx->ifd_summaries, 0, sizeof ctx->ifd_summaries);
  for (raw_ifd_layout& l : ctx->ifd_layouts) l = raw_ifd_layout{};
  ctx->ifd_count = 0;
  for (uint32_t offset; (offset = read_u32(ctx)) != 0;) {
    raw_seek(ctx, int64_t{base} + offset, 0);
    if (read_tiff_ifd(ctx, base)) break;
  }
  ctx->thumb_format_info = 16;
  if (ctx->thumb_data_offset) {
    raw_seek(ctx, ctx->thumb_data_offset, 0);
    ljpeg_header jh;
    if (quarn_ljpeg_start(ctx, &jh, 1)) {
      ctx->thumb_format_info = uint32_t(jh.bits);
      ctx->thumb_width = uint16_t(jh.wide);
      ctx->thumb_height = uint16_t(jh.high);
    }
  }
  // The raw directory: the largest that is not a JPEG preview.
  int raw_index = -1, max_samples = 0;
  for (int i = 0; i < ctx->ifd_count && i < 10; ++i) {
    const raw_ifd_summary& s = ctx->ifd_summaries[i];
    if (s.samples > max_samples) max_samples = s.samples;
    if (max_samples > 3) max_samples = 3;
    if (s.compression == 6 && s.samples == 3) continue;
    // A DNG keeps its sensor data as a colour filter array or linear raw
    // samples; its RGB previews are never the raw picture, even when the
    // directory that holds the sensor data could not be read.
    if (ctx->dng_version_code && s.photometric != 32803 && s.photometric != 34892) continue;
    // a size beyond the geometry fields cannot be loaded
    if (s.width < 1 || s.height < 1 || s.width > 0xFFFF || s.height > 0xFFFF) continue;
    if (uint64_t(s.width) * uint64_t(s.height) <= uint64_t{ctx->sensor_width} * ctx->sensor_height) continue;
    ctx->sensor_width = uint16_t(s.width);
    ctx->sensor_height = uint16_t(s.height);
    ctx->bits_per_sample = s.bits_per_sample;
    ctx->compression_code = s.compression;
    ctx->raw_data_offset = uint32_t(s.data_offset);
    ctx->ifd_orientation = s.orientation;
    ctx->samples_per_pixel = s.samples;
    ctx->raw_layout = ctx->ifd_layouts[i];
    raw_index = i;
  }
  ctx->fuji_diagonal_width = uint16_t(ctx->fuji_diagonal_width * ((ctx->sensor_width + 1) / 2));
  if (ctx->ifd_summaries[0].orientation) ctx->ifd_orientation = ctx->ifd_summaries[0].orientation;
  const raw_ifd_summary* raw = raw_index >= 0 ? &ctx->ifd_summaries[raw_index] : nullptr;
  if (raw && !loader_chosen(ctx)) choose_loader_by_compression(ctx, *raw);
  if (raw && ctx->dng_version_code && ctx->compression_code != 1 && ctx->compression_code != 7) {
    // A DNG's samples are stored plain (1) or as lossless JPEG (7); any
    // other coding read as plain samples would give a picture of noise
    // that looks like a success. Refused, and the refusal says why.
    ctx->refusal_text = std::string(ctx->message_name) + ": DNG compression " +
                        std::to_string(ctx->compression_code) + " is not supported";
    raw_message(ctx, "%s\n", ctx->refusal_text.c_str());
    ctx->raw_image_count = 0;
  }
  if (ctx->dng_version_code == 0) {
    if (raw && ctx->samples_per_pixel == 3 && raw->byte_count && ctx->bits_per_sample != 14 &&
        ctx->bits_per_sample != 2048)
      ctx->raw_image_count = 0;
    if (raw && ctx->bits_per_sample == 8 && ctx->compression_code == 1 && raw->photometric == 1)
      ctx->raw_image_count = 0;
  } else if (!ctx->cfa_pattern && (ctx->samples_per_pixel < 1 || ctx->samples_per_pixel > 4)) {
    ctx->raw_image_count = 0;  // a DNG without a pattern must carry 1 to 4 samples
  }
  if (ctx->bits_per_sample == 8 && ctx->samples_per_pixel == 4) ctx->raw_image_count = 0;
  choose_thumbnail(ctx, raw_index, max_samples);
}

void read_exif_datetime(raw_decode_context* ctx, int reversed) {
  char text[20] = {};
  if (reversed) {
    for (int i = 19; i-- > 0;) text[i] = char(raw_getc(ctx));
  } else {
    raw_read(ctx, text, 1, 19);
  }
  text[19] = 0;
  int v[6];
  if (sscanf(text, "%d:%d:%d %d:%d:%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) return;
  int64_t t = local_time_seconds(v[0], v[1], v[2], v[3], v[4], v[5]);
  if (t > 0) ctx->shot_time = t;
}

void read_linearization_curve(raw_decode_context* ctx, uint32_t count) {
  const unsigned n = count < 4096 ? count : 4096;
  if (n == 0) return;  // no entry to continue the curve with
  for (unsigned i = 0; i < n; ++i) ctx->tone_curve[i] = read_u16(ctx);
  for (unsigned i = n; i < 4096; ++i) ctx->tone_curve[i] = ctx->tone_curve[n - 1];
  ctx->white_level = ctx->tone_curve[4095];
  ctx->linear_table_count = 0;
  if (count <= 4096) return;
  // A DNG table may have up to 65536 entries (one per 16-bit code). Cut to
  // 4096, every code above 4095 would pass unmapped: keep the whole table.
  const uint32_t whole = count < 0x10000 ? count : 0x10000;
  std::unique_ptr<uint16_t[]> table(new (std::nothrow) uint16_t[whole]);
  if (!table) return;
  for (uint32_t i = 0; i < 4096; ++i) table[i] = ctx->tone_curve[i];
  for (uint32_t i = 4096; i < whole; ++i) table[i] = read_u16(ctx);
  ctx->linear_table = std::move(table);
  ctx->linear_table_count = whole;
  ctx->white_level = ctx->linear_table[whole - 1];
}

void set_matrix_from_romm(raw_decode_context* ctx, const float romm_matrix[3][3]) {
  double out[3][3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) out[i][j] += romm_to_rgb[i][k] * romm_matrix[k][j];
      if (!finite_value(out[i][j])) return;
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) ctx->file_colour_matrix[i][j] = float(out[i][j]);
}
