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

namespace {

void lookup_fill(raw_decode_context* ctx, const huff_node* node, int depth, uint32_t prefix, huff_lookup* table) {
  if (!node->branch[0] || !node->branch[1]) {
    // A leaf: every window starting with this code gives it.
    const int free_bits = huff_lookup_bits - depth;
    const uint32_t value = uint32_t(node->leaf) << 8 | huff_lookup_leaf | uint32_t(depth);
    for (uint32_t k = prefix << free_bits; k < (prefix + 1) << free_bits; ++k) table->entry[k] = value;
    return;
  }
  if (depth == huff_lookup_bits) {
    table->entry[prefix] = uint32_t(node - ctx->huff_pool) << 8;
    return;
  }
  lookup_fill(ctx, node->branch[0], depth + 1, prefix << 1, table);
  lookup_fill(ctx, node->branch[1], depth + 1, prefix << 1 | 1, table);
}

// Brings at least huff_lookup_bits bits into the buffer when the data holds
// them before the next marker or its end, without consuming that marker: a
// marker or the end met leaves the stream where it was before them, with no
// data error and no marker flag, so the bit-at-a-time reader meets them as
// it always did. Returns the bits then buffered.
int fill_ahead(raw_decode_context* ctx) {
  const raw_stream_ops* ops = ctx->ops;
  void* stream = ctx->stream;
  while (ctx->bit_count <= 24) {
    const int c = ops->getc(stream);
    if (c < 0) {
      ops->seek(stream, 0, 1);  // clears the end flag: the reader itself reports the end
      break;
    }
    if (c == 0xFF && ctx->ff00_stuffing) {
      const int next = ops->getc(stream);
      if (next != 0) {
        ops->seek(stream, next < 0 ? -1 : -2, 1);
        break;
      }
    }
    ctx->bit_buffer = (ctx->bit_buffer << 8) | uint32_t(c);
    ctx->bit_count += 8;
  }
  return ctx->bit_count;
}

}  // namespace

void huff_lookup_build(raw_decode_context* ctx, const huff_node* root, huff_lookup* table) {
  table->root = root;
  lookup_fill(ctx, root, 0, 0, table);
}

int huff_lookup_symbol(raw_decode_context* ctx, const huff_lookup* table) {
  if (ctx->bit_marker || (ctx->bit_count < huff_lookup_bits && fill_ahead(ctx) < huff_lookup_bits))
    return huff_decode_symbol(ctx, table->root);  // near a marker or the end: bit by bit
  const uint32_t window = (ctx->bit_buffer >> (ctx->bit_count - huff_lookup_bits)) & ((1u << huff_lookup_bits) - 1);
  const uint32_t e = table->entry[window];
  if (e & huff_lookup_leaf) {
    ctx->bit_count -= int32_t(e & 0x7F);
    return int32_t(e >> 8);
  }
  ctx->bit_count -= huff_lookup_bits;  // a longer code: the walk goes on from where the window ends
  return huff_decode_symbol(ctx, &ctx->huff_pool[e >> 8]);
}

void report_data_error_at_reader(raw_decode_context* ctx) {
  if (ctx->data_error_reported) return;
  // The bit-at-a-time reader holds fewer than 8 bits: the whole bytes beyond
  // that are read ahead, each 0xFF of them with the 0x00 that followed it.
  int64_t ahead = 0;
  for (int k = 0; k < ctx->bit_count / 8; ++k) {
    const bool stuffed = ctx->ff00_stuffing && ((ctx->bit_buffer >> (8 * k)) & 0xFF) == 0xFF;
    ahead += stuffed ? 2 : 1;
  }
  ctx->message_position_base -= ahead;
  report_data_error(ctx);
  ctx->message_position_base += ahead;
}
