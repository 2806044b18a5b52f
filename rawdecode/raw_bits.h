// The shared bit reader and Huffman trees (built in the context's pool), and
// the lossless-JPEG (ITU-T T.81 process 14) header reader and row decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "rawdecode/raw_context.h"

// The next n bits (0 <= n <= 25), most significant first. 0 for n == 0 or
// once a marker was met; n above 25 is a data error giving 0.
unsigned read_bits(raw_decode_context* ctx, int n);
// Discards buffered bits and the marker flag: the start of every
// independently coded run (row, tile, strip, segment).
void reset_bit_reader(raw_decode_context* ctx);

// Empties the pool: every node zeroed, the next free node the first.
void huff_pool_clear(raw_decode_context* ctx);
// The node huff_next_free designates (the root of the next tree built).
huff_node* huff_next_node(raw_decode_context* ctx);
// Builds a tree from `source` (16 counts, then symbols in code order) into
// the pool; bytes beyond `source_size` read as 0. Returns the position in
// the source just after the last symbol consumed. Throws on pool overflow.
size_t build_huffman_tree(raw_decode_context* ctx, const uint8_t* source, size_t source_size,
                          int level);
// Walks a tree with read_bits(1) per step and returns the leaf's symbol.
int huff_decode_symbol(raw_decode_context* ctx, const huff_node* root);

struct ljpeg_header {
  int32_t bits = 0, high = 0, wide = 0, clrs = 0, sraw = 0, psv = 0;
  int32_t restart = 0x7FFFFFFF;
  int32_t vpred[6] = {};
  const huff_node* huff[6] = {};
  std::unique_ptr<uint16_t[]> row;  // 2 x wide x clrs values, two rows used alternately
};

// Reads a lossless-JPEG frame and scan header. 1 when read; 0 when the data
// is not lossless JPEG or the header is unusable (reported as a data error
// unless info_only).
int quarn_ljpeg_start(raw_decode_context* ctx, ljpeg_header* jh, int info_only);
int ljpeg_read_difference(raw_decode_context* ctx, const huff_node* tree);
// Decodes row `row` of a scan that quarn_ljpeg_start(..., 0) accepted (rows
// in increasing order from 0); returns its first value inside the header's
// two-row buffer.
uint16_t* ljpeg_decode_row(raw_decode_context* ctx, int row, ljpeg_header* jh);

// Canon CRW compressed data.
void canon_compressed_init_tables(raw_decode_context* ctx, unsigned set);
int canon_has_low_bits(raw_decode_context* ctx);
void canon_compressed_load_raw(raw_decode_context* ctx);
// Black level from the dark sums of the margin columns.
void canon_black_from_margins(raw_decode_context* ctx, double dark[2]);
