// The raw loaders: each turns one camera family's stored raw data into the
// context's pixel buffer (a raw_load_fn), with the helpers only they use and
// the thumbnail writers that identification can install.
//
// Frame shared by every loader: on entry `pixels` holds buffer_height x
// buffer_width zeroed pixels and the stream stands at raw_data_offset; the
// loader stores every visible CFA sample (or, without a CFA, whole pixels at
// [row x image_width + column]). Data errors are reported once and decoding
// goes on; out of memory throws (raw_failure.h).
#pragma once

#include <cstdint>
#include <cstdio>

#include "rawdecode/raw_context.h"

// Canon (raw_loaders_canon.cpp)
void canon_600_load_raw(raw_decode_context* ctx);
void canon_600_fixed_wb(raw_decode_context* ctx, int temperature);
void canon_600_auto_wb(raw_decode_context* ctx);
void canon_600_coefficients(raw_decode_context* ctx);
int canon_600_check_ratio(raw_decode_context* ctx, int* ratio, int margin);
void canon_10bit_load_raw(raw_decode_context* ctx);
void ljpeg_load_raw(raw_decode_context* ctx);
void canon_sraw_load_raw(raw_decode_context* ctx);

// DNG (raw_loaders_dng.cpp). `end` bounds the values the read position may use.
void dng_copy_pixel(raw_decode_context* ctx, int row, int column, const uint16_t*& position,
                    const uint16_t* end);
void dng_lossless_load_raw(raw_decode_context* ctx);
void adobe_dng_load_raw_nc(raw_decode_context* ctx);

// Pentax, Nikon, Fuji (raw_loaders_nikon.cpp)
void pentax_build_tree(raw_decode_context* ctx);
void pentax_k10_load_raw(raw_decode_context* ctx);
void nikon_compressed_load_raw(raw_decode_context* ctx);
void nikon_e900_load_raw(raw_decode_context* ctx);
void fuji_load_raw(raw_decode_context* ctx);

// Phase One and Hasselblad (raw_loaders_phase_one.cpp)
unsigned ph1_read_bits(raw_decode_context* ctx, int n);  // n 0..32
void ph1_reset_bits(raw_decode_context* ctx);
uint16_t bayer_sample_or_zero(raw_decode_context* ctx, int row, int column);
void phase_one_load_raw(raw_decode_context* ctx);
void phase_one_load_raw_c(raw_decode_context* ctx);
void phase_one_correct(raw_decode_context* ctx);
void phase_one_flat_field(raw_decode_context* ctx, int is_float, int colour_count);
void hasselblad_load_raw(raw_decode_context* ctx);

// Leaf, Sinar, Imacon, Rollei (raw_loaders_backs.cpp)
void leaf_hdr_load_raw(raw_decode_context* ctx);
void sinar_4shot_load_raw(raw_decode_context* ctx);
void imacon_rgb_load_raw(raw_decode_context* ctx);
void rollei_load_raw(raw_decode_context* ctx);

// Generic packed and unpacked data, and small makers' packings
// (raw_loaders_packed.cpp)
void packed_12bit_load_raw(raw_decode_context* ctx);
void unpacked_load_raw(raw_decode_context* ctx);
void nokia_load_raw(raw_decode_context* ctx);
void olympus_e300_load_raw(raw_decode_context* ctx);
void minolta_rd175_load_raw(raw_decode_context* ctx);
void casio_qv5700_load_raw(raw_decode_context* ctx);

// Panasonic and Olympus E-410 (raw_loaders_panasonic.cpp)
unsigned panasonic_read_bits(raw_decode_context* ctx, int n);  // n 0 restarts
void panasonic_load_raw(raw_decode_context* ctx);
void olympus_e410_load_raw(raw_decode_context* ctx);

// Apple QuickTake 100 (raw_loaders_quicktake.cpp)
void quicktake_100_load_raw(raw_decode_context* ctx);

// Thumbnail writers (raw_thumb_writers.cpp)
void ppm_thumb(raw_decode_context* ctx, FILE* out);
void layer_thumb(raw_decode_context* ctx, FILE* out);
void rollei_thumb(raw_decode_context* ctx, FILE* out);

// Kodak (raw_loaders_kodak.cpp)
int radc_build_tree(raw_decode_context* ctx, int source_position, int level);
int radc_read_token(raw_decode_context* ctx, int tree);
void kodak_radc_load_raw(raw_decode_context* ctx);
void kodak_dc120_load_raw(raw_decode_context* ctx);
void eight_bit_load_raw(raw_decode_context* ctx);
void kodak_yrgb_load_raw(raw_decode_context* ctx);
void kodak_262_load_raw(raw_decode_context* ctx);
// `out` holds at least ((count + 3) & ~3) + 4 values.
int kodak_65000_decode_block(raw_decode_context* ctx, int16_t* out, int count);
void kodak_65000_load_raw(raw_decode_context* ctx);
void kodak_ycbcr_load_raw(raw_decode_context* ctx);
void kodak_rgb_load_raw(raw_decode_context* ctx);
void kodak_thumb_load_raw(raw_decode_context* ctx);

// Sony (raw_loaders_sony.cpp). `words` are four file bytes each, as read.
void sony_keystream_apply(raw_decode_context* ctx, uint32_t* words, size_t count, int restart,
                          uint32_t key);
void sony_load_raw(raw_decode_context* ctx);
void sony_arw_load_raw(raw_decode_context* ctx);
void sony_arw2_load_raw(raw_decode_context* ctx);

// SMaL (raw_loaders_smal.cpp)
struct smal_segment {
  uint32_t first_pixel;
  uint32_t file_offset;
};
void smal_decode_segment(raw_decode_context* ctx, const smal_segment* pair, unsigned holes);
void smal_fill_holes(raw_decode_context* ctx, unsigned holes);
void smal_v6_load_raw(raw_decode_context* ctx);
void smal_v9_load_raw(raw_decode_context* ctx);

// Code tables that the writers of the tests encode with too.
extern const uint8_t nikon_tree_sources[6][32];  // 16 counts, then symbols
extern const uint8_t kodak_262_trees[2][26];
extern const int8_t kodak_radc_source[];  // (code length, value) pairs of the 18 trees
