// The container parsers: they read a camera file's TIFF directories, EXIF,
// GPS and maker notes, and the other makers' containers, and write what they
// find into the context (geometry, byte order, CFA pattern, levels, white
// balance, colour matrices, shot data, thumbnail and metadata locations, and
// the loader to use, by name).
//
// No parser reports a failure: a wrong signature or a limit reached ends that
// walk, keeping what was set. Every walk is bounded by the context's parse
// budget and depth limit (raw_parse_state.h).
#pragma once

#include <cstdint>

#include "rawdecode/raw_context.h"

// ---- TIFF and EXIF ----------------------------------------------------------
void read_tiff_container(raw_decode_context* ctx, uint32_t base);
// 1 = stop the directory chain, 0 = go on.
int read_tiff_ifd(raw_decode_context* ctx, int64_t base);
void read_exif_ifd(raw_decode_context* ctx, int64_t base);
void read_gps_ifd(raw_decode_context* ctx, int64_t base);
void read_kodak_ifd(raw_decode_context* ctx, int64_t base);
void read_leaf_packets(raw_decode_context* ctx, uint32_t offset);
void read_exif_datetime(raw_decode_context* ctx, int reversed);
void read_linearization_curve(raw_decode_context* ctx, uint32_t count);
void set_matrix_from_romm(raw_decode_context* ctx, const float romm_matrix[3][3]);

// ---- maker notes ------------------------------------------------------------
void read_maker_note(raw_decode_context* ctx, int64_t base, uint32_t upper_tag);
void read_thumbnail_note(raw_decode_context* ctx, int64_t base, unsigned offset_tag,
                         unsigned length_tag);
// The fixed tables that decipher Nikon white-balance blocks.
extern const uint8_t nikon_wb_table_serial[256];
extern const uint8_t nikon_wb_table_count[256];

// ---- other containers ---------------------------------------------------------
void read_ciff_heap(raw_decode_context* ctx, int64_t offset, int64_t length);
void read_canon_wb_block(raw_decode_context* ctx);
void read_minolta_blocks(raw_decode_context* ctx, int64_t base);
void read_rollei_header(raw_decode_context* ctx);
void read_sinar_ia(raw_decode_context* ctx);
void read_phase_one_header(raw_decode_context* ctx, int64_t base);
void read_fuji_directory(raw_decode_context* ctx, int64_t offset);
int read_jpeg_markers(raw_decode_context* ctx);
void read_riff_chunks(raw_decode_context* ctx);
void read_smal_header(raw_decode_context* ctx, int64_t file_size);
void read_cine_header(raw_decode_context* ctx);
void read_foveon_properties(raw_decode_context* ctx);
void parse_external_jpeg(raw_decode_context* ctx);
// 0x4D4D or 0x4949: the byte order under which 65536 16-bit samples from the
// current position vary least from their neighbours two words back.
uint16_t guess_sample_byte_order(raw_decode_context* ctx);
