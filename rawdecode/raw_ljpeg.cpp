// Lossless-JPEG header reader and row decoder.
#include <algorithm>
#include <cstring>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

int ljpeg_read_difference(raw_decode_context* ctx, const huff_node* tree) {
  int len = huff_decode_symbol(ctx, tree);
  if (len == 16 && (ctx->dng_version_code == 0 || ctx->dng_version_code > 0x0100FFFF)) return -32768;
  if (len <= 0) return 0;
  if (len > 16) {  // a symbol that cannot be a length
    report_data_error(ctx);
    return 0;
  }
  int diff = int(read_bits(ctx, len));
  if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
  return diff;
}

namespace {

// ljpeg_read_difference through the tree's lookup table.
int read_difference_looked_up(raw_decode_context* ctx, const huff_lookup* table) {
  // The common case in line: a code of the window and the bits after it
  // already buffered (what huff_lookup_symbol and read_bits would do).
  if (!ctx->bit_marker && ctx->bit_count >= huff_lookup_bits) {
    const uint32_t e = table->entry[(ctx->bit_buffer >> (ctx->bit_count - huff_lookup_bits)) &
                                    ((1u << huff_lookup_bits) - 1)];
    const int len = int(e >> 8);
    const int count = ctx->bit_count - int(e & 0x7F);
    if ((e & huff_lookup_leaf) && len >= 1 && len <= 15 && count >= len) {
      ctx->bit_count = count - len;
      int diff = int((ctx->bit_buffer << (32 - len - ctx->bit_count)) >> (32 - len));
      if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
      return diff;
    }
  }
  int len = huff_lookup_symbol(ctx, table);
  if (len == 16 && (ctx->dng_version_code == 0 || ctx->dng_version_code > 0x0100FFFF)) return -32768;
  if (len <= 0) return 0;
  if (len > 16) {
    report_data_error_at_reader(ctx);
    return 0;
  }
  int diff = int(read_bits(ctx, len));
  if ((diff & (1 << (len - 1))) == 0) diff -= (1 << len) - 1;
  return diff;
}

// One lookup table for each distinct tree the components use.
void build_lookups(raw_decode_context* ctx, ljpeg_header* jh) {
  jh->lookups = std::make_unique<huff_lookup[]>(6);
  int built = 0;
  for (int c = 0; c < 6; ++c) {
    int k = 0;
    while (k < built && jh->lookups[k].root != jh->huff[c]) ++k;
    if (k == built) huff_lookup_build(ctx, jh->huff[c], &jh->lookups[built++]);
    jh->lookup[c] = &jh->lookups[k];
  }
}

// Reads `length` bytes of a segment body into the context's segment buffer;
// what the data does not hold reads as 0.
void read_segment(raw_decode_context* ctx, size_t length) {
  uint8_t* data = ctx->ljpeg_segment;
  size_t got = raw_read(ctx, data, 1, length);
  memset(data + got, 0, sizeof ctx->ljpeg_segment - got);
}

// The frame and scan values a row decode relies on.
bool header_usable(const ljpeg_header& jh, int frame_components) {
  return frame_components >= 1 && frame_components <= 6 && jh.clrs >= 1 && jh.clrs <= 6 && jh.bits >= 1 && jh.bits <= 16 && jh.high >= 1 &&
         jh.wide >= 1;
}

}  // namespace

int quarn_ljpeg_start(raw_decode_context* ctx, ljpeg_header* jh, int info_only) {
  if (!info_only) huff_pool_clear(ctx);
  *jh = ljpeg_header{};
  for (auto& h : jh->huff) h = huff_next_node(ctx);
  jh->restart = 0x7FFFFFFF;
  uint8_t* data = ctx->ljpeg_segment;
  uint8_t head[4] = {0, 0, 0, 0};
  raw_read(ctx, head, 1, 2);
  if (head[1] != 0xD8) return 0;
  bool frame_seen = false;
  int frame_components = 0;
  // The tables by their number, and the frame's component identifiers: the
  // scan header says which table codes which component.
  const huff_node* tables[4] = {jh->huff[0], jh->huff[0], jh->huff[0], jh->huff[0]};
  // Which tables a DHT segment defined, and which components the scan
  // codes with a table never defined.
  bool table_defined[4] = {};
  bool undefined_table[6] = {};
  uint8_t component_ids[6] = {};
  int tag;
  do {
    memset(head, 0, sizeof head);
    raw_read(ctx, head, 1, 4);
    tag = head[0] << 8 | head[1];
    int length = (head[2] << 8 | head[3]) - 2;
    if (tag <= 0xFF00) return 0;
    if (length < 0) {  // a length field below 2 describes no body
      if (!info_only) report_data_error(ctx);
      return 0;
    }
    read_segment(ctx, size_t(length));
    switch (tag) {
      case 0xFFC3:
        jh->sraw = ((data[7] >> 4) * (data[7] & 15) - 1) & 3;
        [[fallthrough]];
      case 0xFFC0:
        jh->bits = data[0];
        jh->high = data[1] << 8 | data[2];
        jh->wide = data[3] << 8 | data[4];
        jh->clrs = data[5] + jh->sraw;
        frame_components = data[5];
        for (int k = 0; k < 6 && k < frame_components; ++k) component_ids[k] = data[6 + 3 * k];
        frame_seen = true;
        if (length == 9 && ctx->dng_version_code == 0) raw_getc(ctx);
        break;
      case 0xFFC4:
        if (info_only) break;
        for (size_t p = 0; p < size_t(length) && data[p] < 4;) {
          jh->huff[data[p]] = tables[data[p]] = huff_next_node(ctx);
          table_defined[data[p]] = true;
          ++p;
          p += build_huffman_tree(ctx, data + p, size_t(length) - p, 0);
        }
        break;
      case 0xFFDA: {
        int n = data[0];
        jh->psv = data[1 + 2 * n];
        jh->bits -= data[3 + 2 * n] & 15;
        for (int i = 0; i < n && i < 6; ++i) {
          int k = i;  // the frame component this scan component names
          for (int j = 0; j < 6 && j < frame_components; ++j)
            if (component_ids[j] == data[1 + 2 * i]) {
              k = j;
              break;
            }
          const int selector = data[2 + 2 * i] >> 4;
          if (selector < 4) jh->huff[k] = tables[selector];
          undefined_table[k] = selector >= 4 || !table_defined[selector];
        }
        break;
      }
      case 0xFFDD:
        jh->restart = data[0] << 8 | data[1];
        if (jh->restart == 0) jh->restart = 0x7FFFFFFF;  // interval 0: no restarts
        break;
      default:
        break;
    }
  } while (tag != 0xFFDA);
  if (!frame_seen || !header_usable(*jh, frame_components)) {
    if (!info_only) report_data_error(ctx);
    return 0;
  }
  if (info_only) return 1;
  // A table no DHT segment defined codes every difference as 0: the piece
  // would come out flat, so a scan that uses one is damaged. Canon sRAW
  // codes every value with the trees of components 0 and 1.
  bool undefined_used = !(table_defined[0] || table_defined[1] || table_defined[2] || table_defined[3]);
  const int coded = jh->sraw ? 2 : std::min(jh->clrs, 6);
  for (int c = 0; c < coded; ++c) undefined_used |= undefined_table[c];
  if (undefined_used) {
    report_data_error(ctx);
    return 0;
  }
  if (jh->sraw) {
    for (int c = 0; c < 4; ++c) jh->huff[2 + c] = jh->huff[1];
    for (int c = 0; c < jh->sraw; ++c) jh->huff[1 + c] = jh->huff[0];
  }
  jh->row = raw_alloc<uint16_t>(ctx, uint64_t(jh->wide) * jh->clrs * 2, "quarn_ljpeg_start()");
  build_lookups(ctx, jh);
  ctx->ff00_stuffing = 1;
  return 1;
}

uint16_t* ljpeg_decode_row(raw_decode_context* ctx, int jrow, ljpeg_header* jh) {
  const int wide = jh->wide, clrs = jh->clrs;
  // The first row of a restart interval is predicted like the first row of
  // the scan (only from the left), as the lossless process prescribes.
  bool interval_start = (int64_t(jrow) * wide) % jh->restart == 0;
  if (interval_start) {
    for (int& v : jh->vpred) v = 1 << (jh->bits - 1);
    // A damaged interval can run the bit reader onto the restart marker
    // itself; the search then starts after it instead of skipping to the next.
    bool marker_met = (ctx->bit_marker >> 4) == 0xD && (ctx->bit_marker & 15) <= 7;
    if (jrow > 0 && !marker_met) {
      unsigned mark = 0;
      int c;
      do {
        c = raw_getc(ctx);
        mark = ((mark << 8) | unsigned(c & 0xFF)) & 0xFFFF;
      } while (c >= 0 && (mark >> 4) != 0xFFD);
    }
    reset_bit_reader(ctx);
  }
  uint16_t* current = jh->row.get() + size_t(wide) * clrs * (jrow & 1);
  const uint16_t* previous = jh->row.get() + size_t(wide) * clrs * ((jrow + 1) & 1);
  bool use_above = jrow > 0 && !interval_start;
  int spred = 0;
  uint16_t* out = current;
  for (int col = 0; col < wide; ++col) {
    for (int c = 0; c < clrs; ++c) {
      int diff = read_difference_looked_up(ctx, jh->lookup[c]);
      int pred;
      if (jh->sraw && c <= jh->sraw && (col | c)) {
        pred = spred;
      } else if (col) {
        pred = out[-clrs];
      } else {
        pred = jh->vpred[c];
        jh->vpred[c] = (jh->vpred[c] + diff) & 0xFFFF;  // the stored value, kept in 16 bits
      }
      if (use_above && col) {
        int a = pred, b = previous[0], cc = previous[-clrs];
        switch (jh->psv) {
          case 1: break;
          case 2: pred = b; break;
          case 3: pred = cc; break;
          case 4: pred = a + b - cc; break;
          case 5: pred = a + ((b - cc) >> 1); break;
          case 6: pred = b + ((a - cc) >> 1); break;
          case 7: pred = (a + b) >> 1; break;
          default: pred = 0;
        }
      }
      *out = uint16_t(pred + diff);
      if (*out >> jh->bits) report_data_error_at_reader(ctx);
      if (c <= jh->sraw) spred = *out;
      ++out;
      ++previous;
    }
  }
  return current;
}
