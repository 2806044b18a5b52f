// Bit reader and Huffman trees.
#include "rawdecode/raw_bits.h"

#include <cstring>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

void reset_bit_reader(raw_decode_context* ctx) {
  ctx->bit_buffer = 0;
  ctx->bit_count = 0;
  ctx->bit_marker = 0;
}

unsigned read_bits(raw_decode_context* ctx, int n) {
  if (n <= 0 || ctx->bit_marker) return 0;
  if (n > 25) {
    report_data_error(ctx);
    return 0;
  }
  while (ctx->bit_count < n) {
    int c = raw_getc(ctx);
    if (c < 0) {
      report_data_error(ctx);
      c = 0xFF;
    }
    if (ctx->ff00_stuffing && c == 0xFF) {
      int next = raw_getc(ctx);
      if (next != 0) {  // a marker (or the end of the data) where bits were due
        // The flag keeps the marker's code, so a restart marker met here is
        // not searched for again (raw_ljpeg.cpp).
        ctx->bit_marker = next < 0 ? 0x100 : next;
        report_data_error(ctx);
        return 0;
      }
    }
    ctx->bit_buffer = (ctx->bit_buffer << 8) | uint32_t(c);
    ctx->bit_count += 8;
  }
  ctx->bit_count -= n;
  return (ctx->bit_buffer << (32 - n - ctx->bit_count)) >> (32 - n);
}

void huff_pool_clear(raw_decode_context* ctx) {
  // Nodes are only written below huff_next_free (and the root at 0), so
  // only that part can hold anything: a file of many small tiles does not
  // pay for the whole pool at every tile.
  const uint32_t used = ctx->huff_next_free < raw_huff_pool_size ? ctx->huff_next_free + 1 : raw_huff_pool_size;
  memset(ctx->huff_pool, 0, used * sizeof ctx->huff_pool[0]);
  ctx->huff_next_free = 0;
}

huff_node* huff_next_node(raw_decode_context* ctx) {
  // A full pool designates its last node: a reference taken then is never
  // outside the pool (building from it fails with a table overflow).
  uint32_t i = ctx->huff_next_free < raw_huff_pool_size ? ctx->huff_next_free : raw_huff_pool_size - 1;
  return &ctx->huff_pool[i];
}

size_t build_huffman_tree(raw_decode_context* ctx, const uint8_t* source, size_t source_size,
                          int level) {
  auto byte = [&](size_t i) -> unsigned { return i < source_size ? source[i] : 0; };
  if (level == 0) ctx->huff_leaf_counter = 0;
  if (ctx->huff_next_free >= raw_huff_pool_size) report_table_overflow(ctx);
  huff_node* node = &ctx->huff_pool[ctx->huff_next_free++];
  int sum = 0, next = 0;
  while (sum <= ctx->huff_leaf_counter && next < 16) sum += byte(next++);
  if (sum > ctx->huff_leaf_counter) {
    if (level < next) {
      node->branch[0] = huff_next_node(ctx);
      build_huffman_tree(ctx, source, source_size, level + 1);
      node->branch[1] = huff_next_node(ctx);
      build_huffman_tree(ctx, source, source_size, level + 1);
    } else {
      node->leaf = int32_t(byte(16 + size_t(ctx->huff_leaf_counter++)));
    }
  }
  return 16 + size_t(ctx->huff_leaf_counter);
}

int huff_decode_symbol(raw_decode_context* ctx, const huff_node* node) {
  while (node->branch[0]) node = node->branch[read_bits(ctx, 1)];
  return node->leaf;
}
