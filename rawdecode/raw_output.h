// The last steps of a decode and the metadata writers: conversion to the
// output colour space (with its ICC profile and histograms), the 45-degree
// Fuji layout turned upright, non-square pixels made square, the 16-to-8-bit
// output table, and the thumbnail JPEG writer with the EXIF block it carries.
#pragma once

#include <cstdint>
#include <cstdio>

#include "rawdecode/raw_context.h"

// Size of the output ICC profile block (the profile itself is shorter).
constexpr int raw_icc_block_size = 1024;

// Derives gamma_params[2..4] from the power and toe slope, converts every
// pixel to the output space (unless raw_colour_flag ends set), builds the
// output ICC profile and counts the per-colour histograms.
void convert_to_rgb(raw_decode_context* ctx);
// Turns the diagonal layout upright; requires fuji_diagonal_width non-zero.
void fuji_rotate(raw_decode_context* ctx);
// Makes pixels square; requires pixel_aspect_ratio != 1. Ratios that are not
// finite or lie outside about 0.25..4 are refused with a message.
void stretch(raw_decode_context* ctx);
// Fills the 65,536-entry table mapping a 16-bit sample to an 8-bit value.
void build_output_lut(raw_decode_context* ctx, uint8_t* table);

// The 1376-byte little TIFF structure a thumbnail's EXIF block holds.
constexpr int raw_tiff_header_size = 1376;
void fill_tiff_header(raw_decode_context* ctx, uint8_t* header);
// Writes the JPEG thumbnail at the stream position (thumb_data_offset) to
// `out`, with an EXIF block in front when the thumbnail carries none.
void jpeg_thumb(raw_decode_context* ctx, FILE* out);

// The size the output steps will give the picture now in the context: after
// the Fuji rotation (when `rotate_fuji_layout` is set), the stretch and the
// orientation's exchange of width and height. False when it does not fit
// the 16-bit sizes the steps work in.
bool raw_output_size(const raw_decode_context* ctx, uint32_t* width, uint32_t* height);
