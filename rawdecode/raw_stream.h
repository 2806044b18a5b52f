// Stream instances and the readers every parser and loader uses: byte-order
// readers, bounded seeking, the CFA colour lookup and the CFA sample address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rawdecode/raw_context.h"

// The instance over a run-time library FILE* (the handle).
extern const raw_stream_ops raw_stdio_ops;

// The instance over bytes in memory (the handle is a raw_memory_stream*).
struct raw_memory_stream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
  bool at_end = false;  // a read has hit the end of the data
};
extern const raw_stream_ops raw_memory_ops;

// Seeks to `offset` from `origin` (0 start, 1 current, 2 end), computed in
// 64 bits; a target outside 0..data size is clamped to the nearest end, so
// later reads see the end of the data. Returns false when clamped.
bool raw_seek(raw_decode_context* ctx, int64_t offset, int origin);
int64_t raw_tell(raw_decode_context* ctx);
int raw_getc(raw_decode_context* ctx);
size_t raw_read(raw_decode_context* ctx, void* buffer, size_t size, size_t count);

// Two or four bytes in memory, in the file's byte order.
// Inline: the loaders call them per sample.
inline uint16_t u16_in_file_order(const raw_decode_context* ctx, const uint8_t* p) {
  return ctx->byte_order == 0x4949 ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t u32_in_file_order(const raw_decode_context* ctx, const uint8_t* p) {
  if (ctx->byte_order == 0x4949)
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint16_t read_u16(raw_decode_context* ctx);
uint32_t read_u32(raw_decode_context* ctx);
double read_real(raw_decode_context* ctx, int tiff_type);
void read_u16_array(raw_decode_context* ctx, uint16_t* destination, size_t count);

// Colour 0..3 of a CFA position; rows and columns may be negative.
int cfa_colour_at(const raw_decode_context* ctx, int row, int column);

// The colour index of the two-bit CFA form (used by sample addressing).
inline int cfa_fc(const raw_decode_context* ctx, unsigned row, unsigned column) {
  return (ctx->cfa_pattern >> ((((row << 1) & 14) + (column & 1)) << 1)) & 3;
}
// The CFA sample of visible position (row, column); the caller keeps the
// position inside the image and the buffer covering it.
inline uint16_t& cfa_sample(raw_decode_context* ctx, unsigned row, unsigned column) {
  return ctx->pixels[(row >> ctx->shrink_factor) * size_t{ctx->buffer_width} +
                     (column >> ctx->shrink_factor)][cfa_fc(ctx, row, column)];
}
// Stores a sample at a visible position; positions outside the image are dropped.
inline void cfa_store(raw_decode_context* ctx, unsigned row, unsigned column, unsigned value) {
  if (row < ctx->image_height && column < ctx->image_width) cfa_sample(ctx, row, column) = value;
}
