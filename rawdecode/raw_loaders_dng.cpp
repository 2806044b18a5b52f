// DNG loaders: lossless-JPEG tiles or strips, and uncompressed rows of any
// bit depth from 1 to 16, both placed through dng_copy_pixel. Every strip
// and tile the file lists is read from its own offset; a piece that is
// missing, outside the file or damaged is a data error of that piece, and
// the others are still decoded.
#include <algorithm>

#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loader_util.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_piece_threads.h"
#include "rawdecode/raw_segments.h"

namespace {

unsigned through_curve(const raw_decode_context* ctx, unsigned value) {
  if (const uint32_t n = ctx->linear_table_count) return ctx->linear_table[value < n ? value : n - 1];
  return value < 0x1000 ? ctx->tone_curve[value] : value;
}

}  // namespace

void dng_copy_pixel(raw_decode_context* ctx, int row, int column, const uint16_t*& p, const uint16_t* end) {
  const bool second_shot = ctx->raw_image_count == 2 && ctx->options.shot_index;
  if (second_shot) ++p;
  const int64_t r = int64_t(row) - ctx->top_margin, c = int64_t(column) - ctx->left_margin;
  if (ctx->cfa_pattern) {
    int64_t tr = r, tc = c;
    if (ctx->fuji_diagonal_width) {
      tr = r + ctx->fuji_diagonal_width - 1 - (c >> 1);
      tc = r + ((c + 1) >> 1);
    }
    if (p < end) cfa_store_signed(ctx, tr, tc, through_curve(ctx, *p));
    p += ctx->raw_image_count > 1 ? ctx->raw_image_count : 1;
  } else {
    // At most four colours are kept, and never a value beyond the row.
    const int samples = ctx->samples_per_pixel > 1 ? ctx->samples_per_pixel : 1;
    if (raw_pixel* pixel = image_pixel(ctx, r, c))
      for (int k = 0; k < samples && k < 4 && p + k < end; ++k) (*pixel)[k] = uint16_t(through_curve(ctx, p[k]));
    p += samples;
  }
  if (second_shot) --p;
}

namespace {

bool dng_frame_ready(raw_decode_context* ctx) {
  return ctx->cfa_pattern ? loader_cfa_ready(ctx) : loader_rgb_ready(ctx);
}

// A frame whose samples may be wider than the file's bits per sample is
// not the file's: a different precision changes the starting prediction of
// every row, so its samples would all come out wrong. Narrower frames (12-
// or 14-bit data in a 16-bit file) are the usual way of storing them.
bool frame_wider_than_file(const raw_decode_context* ctx, const ljpeg_header& h) {
  return ctx->bits_per_sample >= 1 && ctx->bits_per_sample <= 16 && h.bits > ctx->bits_per_sample;
}

bool marker_ends_scan(const raw_decode_context* ctx) {
  return ctx->bit_marker && !(ctx->bit_marker >= 0xD0 && ctx->bit_marker <= 0xD7);
}

// Stores `count` values of stored row `row` from stored column `column` on,
// as dng_copy_pixel does for a CFA with one value per position.
void place_cfa_run(raw_decode_context* ctx, int64_t row, int64_t column, const uint16_t* values, int64_t count) {
  const int64_t r = row - ctx->top_margin;
  if (r < 0 || r >= ctx->image_height || row >= ctx->sensor_height) return;
  // Columns of the run inside the image and the frame.
  const int64_t c0 = column - ctx->left_margin;
  int64_t from = std::max<int64_t>(0, -c0);
  int64_t to = std::min<int64_t>({count, int64_t(ctx->image_width) - c0, int64_t(ctx->sensor_width) - column});
  const unsigned s = ctx->shrink_factor;
  raw_pixel* line = ctx->pixels.get() + size_t(r >> s) * ctx->buffer_width;
  const int colour[2] = {cfa_fc(ctx, unsigned(r), 0), cfa_fc(ctx, unsigned(r), 1)};
  for (int64_t k = from; k < to; ++k) {
    const int64_t c = c0 + k;
    line[c >> s][colour[c & 1]] = uint16_t(through_curve(ctx, values[k]));
  }
}

// One lossless-JPEG piece whose first stored position is (t, u) and that
// covers `width` x `height` positions; the stream is at its start.
void decode_lossless_piece(raw_decode_context* ctx, uint64_t t, uint64_t u, uint64_t width, uint64_t height) {
  reset_bit_reader(ctx);  // a marker met in the piece before ends nothing here
  const int images = ctx->raw_image_count > 1 ? ctx->raw_image_count : 1;
  auto row_values = [&](const ljpeg_header& h) {
    return (ctx->cfa_pattern ? int64_t(h.wide) * h.clrs : h.wide) / images;
  };
  // The header alone first. The piece is filled from the frame's values in
  // order, row after row, so a frame line may hold several rows of the piece
  // (64 lines of 128 x 2 for a 128 x 128 tile compress better); but a frame
  // holding more positions than the piece, one line of slack aside, is not
  // one of this file's pieces and is refused before anything of its size is
  // built. That bounds the work of a piece by its size as well.
  ljpeg_header jh;
  const auto frame_fits = [&](const ljpeg_header& h) {
    const int64_t line = row_values(h);
    return line > 0 && h.high > 0 && uint64_t(h.high) * uint64_t(line) <= width * height + uint64_t(line);
  };
  if (!quarn_ljpeg_start(ctx, &jh, 1) || !frame_fits(jh) || frame_wider_than_file(ctx, jh)) {
    // no lossless-JPEG start where the piece begins, or a frame that does not fit
    report_data_error(ctx);
    return;
  }
  raw_seek(ctx, 0, 0);
  if (!quarn_ljpeg_start(ctx, &jh, 0)) {
    report_data_error(ctx);
    return;
  }
  const int64_t jwide = row_values(jh);
  // The common case (a CFA, one value per position, no 45-degree layout)
  // skips the per-value placement of dng_copy_pixel; the result is the same.
  const bool plain_cfa = ctx->cfa_pattern && !ctx->fuji_diagonal_width && images == 1;
  // The rows of the frame this piece must fill; decoding stops there, so a
  // frame claiming more rows than the piece costs no more work.
  const uint64_t rows = std::min<uint64_t>(height, ctx->sensor_height - t);
  uint64_t row = 0, col = 0;
  for (int jrow = 0; jrow < jh.high && row < rows && jwide > 0; ++jrow) {
    if (marker_ends_scan(ctx)) break;
    const uint16_t* rp = ljpeg_decode_row(ctx, jrow, &jh);
    const uint16_t* end = rp + size_t(jh.wide) * jh.clrs;
    if (plain_cfa) {
      // One value per position: the row is placed in runs along the piece's
      // rows, each run's colours and bounds worked out once.
      for (int64_t jcol = 0; jcol < jwide;) {
        const int64_t run = std::min<int64_t>(int64_t(width - col), jwide - jcol);
        if (row < rows) place_cfa_run(ctx, int64_t(t + row), int64_t(u + col), rp + jcol, run);
        jcol += run;
        if ((col += uint64_t(run)) >= width) row += 1 + (col = 0);
      }
      continue;
    }
    for (int64_t jcol = 0; jcol < jwide; ++jcol) {
      if (u + col < ctx->sensor_width && row < rows) dng_copy_pixel(ctx, int(t + row), int(u + col), rp, end);
      else rp += ctx->cfa_pattern ? images : (ctx->samples_per_pixel > 1 ? ctx->samples_per_pixel : 1);
      if (++col >= width) row += 1 + (col = 0);
    }
  }
  if (row < rows) report_data_error_at_reader(ctx);  // the piece ended before its last row
}

// The one-run reading of old: tiles behind a table of offsets at the data
// offset, or one scan there. Used when the file lists no pieces.
void dng_lossless_one_run(raw_decode_context* ctx) {
  const uint64_t tile_w = ctx->tile_width ? ctx->tile_width : ctx->sensor_width ? ctx->sensor_width : 1;
  const uint64_t tile_h = ctx->tile_height ? ctx->tile_height : ctx->sensor_height ? ctx->sensor_height : 1;
  const int images = ctx->raw_image_count > 1 ? ctx->raw_image_count : 1;
  uint64_t t = 0, u = 0;
  while (t < ctx->sensor_height) {
    int64_t save = raw_tell(ctx);
    if (ctx->tile_height < 0x7FFFFFFF && !raw_seek(ctx, read_u32(ctx), 0)) {
      report_data_error(ctx);  // a tile outside the file
    } else {
      reset_bit_reader(ctx);
      ljpeg_header jh;
      if (!quarn_ljpeg_start(ctx, &jh, 0)) break;
      if (frame_wider_than_file(ctx, jh)) {
        report_data_error(ctx);
        jh.high = 0;  // the tile is not read
      }
      int64_t jwide = jh.wide;
      if (ctx->cfa_pattern) jwide *= jh.clrs;
      jwide /= images;
      uint64_t row = 0, col = 0;
      for (int jrow = 0; jrow < jh.high; ++jrow) {
        if (marker_ends_scan(ctx)) break;
        const uint16_t* rp = ljpeg_decode_row(ctx, jrow, &jh);
        const uint16_t* end = rp + size_t(jh.wide) * jh.clrs;
        for (int64_t jcol = 0; jcol < jwide; ++jcol) {
          if (t + row < 0x7FFFFFFF && u + col < 0x7FFFFFFF) dng_copy_pixel(ctx, int(t + row), int(u + col), rp, end);
          if (++col >= tile_w || col >= ctx->sensor_width) row += 1 + (col = 0);
        }
      }
    }
    raw_seek(ctx, save + 4, 0);
    if ((u += tile_w) >= ctx->sensor_width) u = 0, t += tile_h;
  }
}

void lossless_piece(raw_decode_context* ctx, const raw_segment_plan& plan, size_t i) {
  decode_lossless_piece(ctx, raw_segment_row(plan, i), raw_segment_column(plan, i), plan.width, plan.height);
}

}  // namespace

void dng_lossless_load_raw(raw_decode_context* ctx) {
  if (!dng_frame_ready(ctx)) return;
  raw_segment_plan plan;
  if (!raw_segment_plan_read(ctx, &plan)) return dng_lossless_one_run(ctx);
  // Tiles are coded independently: several are decoded at once. The
  // 45-degree layout maps positions across tiles, so it stays on one thread.
  const int threads = ctx->fuji_diagonal_width ? 1 : raw_piece_thread_count(ctx, plan.offsets.size());
  if (threads > 1) return raw_decode_pieces(ctx, plan, threads, lossless_piece);
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < plan.offsets.size(); ++i) {
    if (!raw_segment_bytes(ctx, plan, i, UINT64_MAX, &bytes)) continue;
    raw_piece_reader reader(ctx, bytes, plan.offsets[i]);
    decode_lossless_piece(ctx, raw_segment_row(plan, i), raw_segment_column(plan, i), plan.width, plan.height);
  }
}

namespace {

// Unpacks `count` samples of `bits` bits from a row of bytes: 16-bit
// samples in the file's byte order, narrower ones packed from the most
// significant bit down, as DNG stores them.
void unpack_row(const raw_decode_context* ctx, const uint8_t* in, int bits, size_t count, uint16_t* out) {
  if (bits == 16) {
    const bool little = ctx->byte_order == 0x4949;
    for (size_t i = 0; i < count; ++i, in += 2) out[i] = uint16_t(little ? in[0] | in[1] << 8 : in[0] << 8 | in[1]);
    return;
  }
  uint32_t buffer = 0;
  int have = 0;
  for (size_t i = 0; i < count; ++i) {
    while (have < bits) buffer = buffer << 8 | *in++, have += 8;
    have -= bits;
    out[i] = uint16_t((buffer >> have) & ((1u << bits) - 1));
  }
}

// The one-run reading of old: consecutive rows from the data offset.
void dng_uncompressed_one_run(raw_decode_context* ctx, int bits, uint64_t samples) {
  const uint64_t count = uint64_t(ctx->sensor_width) * samples;
  auto pixel = raw_alloc<uint16_t>(ctx, count, "adobe_dng_load_raw_nc()");
  for (unsigned row = 0; row < ctx->sensor_height; ++row) {
    if (bits == 16) {
      read_u16_array(ctx, pixel.get(), count);
    } else {
      reset_bit_reader(ctx);
      for (uint64_t i = 0; i < count; ++i) pixel[i] = uint16_t(read_bits(ctx, bits));
    }
    const uint16_t* rp = pixel.get();
    const uint16_t* end = rp + count;
    for (unsigned col = 0; col < ctx->sensor_width; ++col) dng_copy_pixel(ctx, int(row), int(col), rp, end);
    if (loader_data_ended(ctx)) break;
  }
}

}  // namespace

void adobe_dng_load_raw_nc(raw_decode_context* ctx) {
  if (!dng_frame_ready(ctx)) return;
  const int bits = ctx->bits_per_sample;
  if (bits < 1 || bits > 16) {
    report_data_error(ctx);
    return;
  }
  const uint64_t samples = ctx->samples_per_pixel > 1 ? uint64_t(ctx->samples_per_pixel) : 1;
  raw_segment_plan plan;
  if (!raw_segment_plan_read(ctx, &plan)) return dng_uncompressed_one_run(ctx, bits, samples);
  // Each row of a piece starts on a byte boundary.
  const uint64_t values = uint64_t{plan.width} * samples;
  const uint64_t row_bytes = (values * uint64_t(bits) + 7) / 8;
  auto raw_row = raw_alloc<uint8_t>(ctx, row_bytes + 4, "adobe_dng_load_raw_nc()");
  auto pixel = raw_alloc<uint16_t>(ctx, values, "adobe_dng_load_raw_nc()");
  const uint16_t* end = pixel.get() + values;
  const int64_t file_end = ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size;
  for (size_t i = 0; i < plan.offsets.size(); ++i) {
    const uint64_t t = raw_segment_row(plan, i), u = raw_segment_column(plan, i);
    const uint64_t offset = plan.offsets[i];
    if (int64_t(offset) >= file_end) {
      report_outside_file(ctx);
      continue;
    }
    // What the piece holds: its byte count, or what the file has left.
    const uint64_t held = plan.lengths[i] ? plan.lengths[i] : uint64_t(file_end) - offset;
    const uint64_t rows = std::min<uint64_t>(plan.height, ctx->sensor_height - t);
    const uint64_t reading = std::min(held, rows * row_bytes);
    if (reading > plan.bytes_left) {  // pieces that overlap or claim more than the file
      report_data_error(ctx);
      break;
    }
    plan.bytes_left -= reading;
    raw_seek(ctx, int64_t(offset), 0);
    for (uint64_t r = 0; r < rows; ++r) {
      const uint64_t from = r * row_bytes;
      const uint64_t want = from >= held ? 0 : std::min(row_bytes, held - from);
      const size_t got = want ? raw_read(ctx, raw_row.get(), 1, size_t(want)) : 0;
      if (got < row_bytes) {  // the piece ends inside this row
        report_data_error(ctx);
        std::fill(raw_row.get() + got, raw_row.get() + row_bytes, uint8_t(0));
      }
      unpack_row(ctx, raw_row.get(), bits, size_t(values), pixel.get());
      for (uint64_t c = 0; c < plan.width && u + c < ctx->sensor_width; ++c) {
        const uint16_t* p = pixel.get() + c * samples;
        dng_copy_pixel(ctx, int(t + r), int(u + c), p, end);
      }
      if (got < row_bytes) break;  // the rest of the piece is not in the file
    }
  }
}
