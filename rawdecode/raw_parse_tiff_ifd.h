// What one directory walk keeps while it reads its entries, and the entry
// handlers the walk calls (raw_parse_tiff_tags.cpp).
#pragma once

#include <cstdint>

#include "rawdecode/raw_parse_util.h"

// Local state of one read_tiff_ifd call, reset at each call.
struct ifd_locals {
  uint8_t cfa_bytes[16] = {};
  int plen = 16;
  uint8_t cfa_pc[4] = {0, 1, 2, 3};
  double cc[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  double cm[4][3] = {};
  bool use_cm = false;
  double ab[4] = {1, 1, 1, 1};
  double asn[4] = {0, 0, 0, 0};
  double xyz[3] = {1, 1, 1};
  uint32_t sony_offset = 0, sony_length = 0, sony_key = 0;
  uint32_t imacon_length = 0;
};

// Acts on one entry of a TIFF directory; `ifd` is the summary being filled
// (tag 330 of a DSLR-A100 moves it on).
void read_ifd_entry(raw_decode_context* ctx, const tiff_entry& e, int64_t base, int& ifd, ifd_locals& l);
// The Sony SR2 sub-directory, deciphered in memory.
void read_sony_block(raw_decode_context* ctx, const ifd_locals& l);
// The DNG colour step after the entries: calibration, matrix, neutral.
void finish_dng_colour(raw_decode_context* ctx, ifd_locals& l);
