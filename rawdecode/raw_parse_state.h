// What the container parsers keep in the context beyond the decoder's own
// fields: the loader and thumbnail routines they choose, named (the camera
// identification turns a name into the routine), and the per-file limits
// that bound every directory walk.
#pragma once

#include <cstdint>

// The raw and thumbnail loaders a parser can choose.
enum class raw_loader_name : uint8_t {
  none,
  eight_bit_load_raw,
  packed_12bit_load_raw,
  unpacked_load_raw,
  olympus_e300_load_raw,
  olympus_e410_load_raw,
  ljpeg_load_raw,
  kodak_262_load_raw,
  kodak_65000_load_raw,
  kodak_rgb_load_raw,
  kodak_ycbcr_load_raw,
  kodak_thumb_load_raw,
  sony_arw_load_raw,
  sony_arw2_load_raw,
  nikon_compressed_load_raw,
  pentax_k10_load_raw,
  panasonic_load_raw,
  sinar_4shot_load_raw,
  imacon_rgb_load_raw,
  phase_one_load_raw,
  phase_one_load_raw_c,
  smal_v6_load_raw,
  smal_v9_load_raw,
};

// The thumbnail writers a parser can choose.
enum class raw_thumb_name : uint8_t { none, layer_thumb, ppm_thumb, rollei_thumb, jpeg_thumb };

// Limits of one file's parse. Every directory, entry, heap, block, packet
// and chunk visited costs records; the budget is set once per file and is
// never given back, whatever nests inside what.
constexpr uint32_t raw_parse_record_budget = 1u << 16;
constexpr int raw_parse_depth_limit = 24;
constexpr int raw_parse_visited_size = 128;

struct raw_parse_visit {
  const void* stream;
  int64_t position;
  int32_t kind;
};

struct raw_parse_state {
  uint32_t records_left = raw_parse_record_budget;
  int32_t depth = 0;
  int32_t visited_count = 0;
  raw_parse_visit visited[raw_parse_visited_size] = {};
};
