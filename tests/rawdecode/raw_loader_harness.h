// Runs any raw loader on bytes over a context filled by hand from the first
// bytes of the input: the hostile-input tests and the loader fuzz target
// share it. Header bytes (16): loader, geometry, CFA pattern, bit depth,
// flags and the option bits; the rest is the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_stream.h"

namespace rawtest {

struct NamedLoader {
  const char* name;
  raw_load_fn load;
};

inline const std::vector<NamedLoader>& AllLoaders() {
  static const std::vector<NamedLoader> loaders = {
      {"canon_600", canon_600_load_raw},         {"canon_10bit", canon_10bit_load_raw},
      {"ljpeg", ljpeg_load_raw},                 {"canon_sraw", canon_sraw_load_raw},
      {"dng_lossless", dng_lossless_load_raw},   {"adobe_dng_nc", adobe_dng_load_raw_nc},
      {"pentax_k10", pentax_k10_load_raw},       {"nikon_compressed", nikon_compressed_load_raw},
      {"nikon_e900", nikon_e900_load_raw},       {"fuji", fuji_load_raw},
      {"rollei", rollei_load_raw},               {"phase_one", phase_one_load_raw},
      {"phase_one_c", phase_one_load_raw_c},     {"hasselblad", hasselblad_load_raw},
      {"leaf_hdr", leaf_hdr_load_raw},           {"sinar_4shot", sinar_4shot_load_raw},
      {"imacon", imacon_rgb_load_raw},           {"packed_12bit", packed_12bit_load_raw},
      {"unpacked", unpacked_load_raw},           {"nokia", nokia_load_raw},
      {"panasonic", panasonic_load_raw},         {"olympus_e300", olympus_e300_load_raw},
      {"olympus_e410", olympus_e410_load_raw},   {"minolta_rd175", minolta_rd175_load_raw},
      {"casio_qv5700", casio_qv5700_load_raw},   {"quicktake_100", quicktake_100_load_raw},
      {"kodak_radc", kodak_radc_load_raw},       {"kodak_dc120", kodak_dc120_load_raw},
      {"eight_bit", eight_bit_load_raw},         {"kodak_yrgb", kodak_yrgb_load_raw},
      {"kodak_262", kodak_262_load_raw},         {"kodak_65000", kodak_65000_load_raw},
      {"kodak_ycbcr", kodak_ycbcr_load_raw},     {"kodak_rgb", kodak_rgb_load_raw},
      {"kodak_thumb", kodak_thumb_load_raw},     {"sony", sony_load_raw},
      {"sony_arw", sony_arw_load_raw},           {"sony_arw2", sony_arw2_load_raw},
      {"smal_v6", smal_v6_load_raw},             {"smal_v9", smal_v9_load_raw},
      {"pentax_tree_then_k10",
       [](raw_decode_context* c) {
         pentax_build_tree(c);
         pentax_k10_load_raw(c);
       }},
      {"phase_one_correct",
       [](raw_decode_context* c) {
         c->meta_data_length = 1;
         phase_one_correct(c);
       }},
      {"smal_fill_holes", [](raw_decode_context* c) { smal_fill_holes(c, 0x5A); }},
  };
  return loaders;
}

// Runs loader `head[0] mod count` on `data`; returns false for inputs too
// short to carry a header. Failures that end a decode are a normal outcome.
inline bool RunLoaderOnBytes(const uint8_t* data, size_t size) {
  if (size < 16) return false;
  const uint8_t* h = data;
  const auto& loaders = AllLoaders();
  const NamedLoader& loader = loaders[h[0] % loaders.size()];
  raw_memory_stream stream;
  stream.data = data + 16;
  stream.size = size - 16;
  auto ctx = raw_context_create();
  raw_set_stream(ctx.get(), &raw_memory_ops, &stream);
  ctx->message_name = "hostile";
  // Small geometry, sometimes wide or tall, margins that may exceed it.
  ctx->sensor_height = uint16_t(h[1] & 0x80 ? 1 + (h[1] & 0x7F) * 37 : h[1] % 40);
  ctx->sensor_width = uint16_t(h[2] & 0x80 ? 1 + (h[2] & 0x7F) * 41 : h[2] % 48);
  ctx->image_height = uint16_t(h[3] % 36);
  ctx->image_width = uint16_t(h[4] % 44);
  ctx->top_margin = uint16_t(h[5] & 7);
  ctx->left_margin = uint16_t(h[5] >> 3 & 15);
  static const uint32_t patterns[4] = {0x94949494u, 0, 1, 0xE1E4E1E4u};
  ctx->cfa_pattern = patterns[h[6] & 3];
  ctx->colour_count = 3 + (h[6] >> 2 & 1);
  ctx->shrink_factor = uint16_t(h[6] >> 3 & 1);
  ctx->options.half_size_output = h[6] >> 4 & 1;
  ctx->options.shot_index = h[6] >> 5 & 7;
  ctx->bits_per_sample = h[7] % 18;
  ctx->samples_per_pixel = h[8] % 8;
  ctx->raw_image_count = h[8] >> 4 & 3;
  ctx->loader_flags = h[9] | (h[10] & 0x40) << 8;
  ctx->byte_order = h[10] & 1 ? 0x4949 : 0x4D4D;
  ctx->ff00_stuffing = h[10] >> 1 & 1;
  ctx->compression_code = h[10] >> 2 & 1;
  ctx->fuji_diagonal_width = uint16_t(h[11] % 32);
  ctx->fuji_layout_flag = h[10] >> 3 & 1;
  ctx->tile_width = h[12] % 20;
  ctx->tile_height = h[12] & 0x80 ? 0x7FFFFFFFu : h[12] % 9;
  ctx->meta_data_offset = h[13];
  ctx->raw_data_offset = h[14];
  ctx->strip_offset = h[15];
  ctx->white_level = uint32_t(h[11]) << (h[13] & 15);
  ctx->kodak_bit_code = h[14] & 1 ? 243 : 0;
  ctx->thumb_format_info = h[15];
  ctx->canon_slices[0] = h[13] & 3;
  ctx->canon_slices[1] = h[14] % 9;
  ctx->canon_slices[2] = h[15] % 9;
  ctx->phase_one_params = {h[9] & 7, h[13], int32_t(h[11]) * 8, h[14], h[15] % 40, h[12], 0.5f};
  ctx->meta_data_length = h[9] & 1;
  ctx->dng_version_code = h[10] & 0x10 ? 0x01000000 : 0;
  ctx->camera_id = h[10] & 0x20 ? 0x80000218 : 0x80000100;
  for (int c = 0; c < 4; ++c) ctx->sraw_multipliers[c] = 1024;
  for (int i = 0; i < raw_tone_curve_size; ++i) ctx->tone_curve[i] = uint16_t(i);
  try {
    raw_allocate_pixels(ctx.get(), "hostile");
    raw_seek(ctx.get(), ctx->raw_data_offset, 0);
    loader.load(ctx.get());
  } catch (const raw_failure&) {
  }
  return true;
}

}  // namespace rawtest
