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

// A tree's codes by their first huff_lookup_bits bits: the row decoder looks
// a symbol up at once instead of walking the tree bit by bit. An entry with
// huff_lookup_leaf set holds the code length (low bits) and the symbol (from
// bit 8); otherwise it holds, from bit 8, the pool index of the node reached
// after huff_lookup_bits bits, where the walk goes on.
constexpr int huff_lookup_bits = 11;
constexpr uint32_t huff_lookup_leaf = 0x80;
struct huff_lookup {
  const huff_node* root = nullptr;
  uint32_t entry[1u << huff_lookup_bits] = {};
};
// Fills `table` from the tree at `root` (a tree of the context's pool).
void huff_lookup_build(raw_decode_context* ctx, const huff_node* root, huff_lookup* table);
// The next symbol of `table`'s tree, with the same bits consumed, the same
// data errors and the same end at a marker as huff_decode_symbol.
int huff_lookup_symbol(raw_decode_context* ctx, const huff_lookup* table);
// report_data_error naming the position the bit-at-a-time reader would be at
// (the lookup reads a few bytes ahead of it).
void report_data_error_at_reader(raw_decode_context* ctx);

struct ljpeg_header {
  int32_t bits = 0, high = 0, wide = 0, clrs = 0, sraw = 0, psv = 0;
  int32_t restart = 0x7FFFFFFF;
  int32_t vpred[6] = {};
  const huff_node* huff[6] = {};
  // The lookup table of each component's tree (tables shared by trees).
  const huff_lookup* lookup[6] = {};
  std::unique_ptr<huff_lookup[]> lookups;
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
