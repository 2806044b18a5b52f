#include "rawdecode/raw_segments.h"

#include <algorithm>
#include <cstring>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

namespace {

uint64_t data_size(const raw_decode_context* ctx) {
  return ctx->stream_size < 0 ? uint64_t{INT32_MAX} : uint64_t(ctx->stream_size);
}

// Reads the first `n` values of a list; values the file does not hold (the
// list was checked to lie inside it) read as 0xFFFF... and so point outside.
void read_list(raw_decode_context* ctx, const raw_value_list& list, size_t n, bool add_base,
               std::vector<uint32_t>* out) {
  out->assign(n, 0);
  if (!n) return;
  raw_seek(ctx, list.position, 0);
  const size_t size = list.type == 3 ? 2 : 4;
  uint8_t chunk[4096];
  for (size_t i = 0; i < n;) {
    const size_t take = std::min(n - i, sizeof chunk / size);
    memset(chunk, 0xFF, sizeof chunk);
    raw_read(ctx, chunk, size, take);
    for (size_t k = 0; k < take; ++k, ++i) {
      int64_t v = size == 2 ? u16_in_file_order(ctx, chunk + 2 * k) : u32_in_file_order(ctx, chunk + 4 * k);
      if (add_base) v += list.base;
      (*out)[i] = v < 0 || v > int64_t{UINT32_MAX} ? UINT32_MAX : uint32_t(v);
    }
  }
}

// How many values of a list lie inside the file.
uint64_t values_inside(const raw_decode_context* ctx, const raw_value_list& list) {
  const uint64_t size = list.type == 3 ? 2 : 4, end = data_size(ctx);
  if (list.position < 0 || uint64_t(list.position) >= end) return 0;
  return std::min<uint64_t>(list.count, (end - uint64_t(list.position)) / size);
}

}  // namespace

bool raw_segment_plan_read(raw_decode_context* ctx, raw_segment_plan* plan, bool complain) {
  const raw_ifd_layout& l = ctx->raw_layout;
  *plan = raw_segment_plan{};
  if (!l.offsets.given || uint32_t(l.data_offset) != ctx->raw_data_offset) return false;
  const uint32_t sw = ctx->sensor_width, sh = ctx->sensor_height;
  if (!sw || !sh) return false;
  if (l.tiled) {
    // A tile size left out (or beyond the frame's reach) is one tile
    // across or down the whole frame.
    plan->width = l.tile_width && l.tile_width <= 0xFFFF ? l.tile_width : sw;
    plan->height = l.tile_height && l.tile_height <= 0xFFFF ? l.tile_height : sh;
  } else {
    plan->width = sw;
    plan->height = l.rows_per_strip && l.rows_per_strip < sh ? l.rows_per_strip : sh;
  }
  plan->across = (sw + plan->width - 1) / plan->width;
  const uint64_t down = (sh + plan->height - 1) / plan->height;
  const uint64_t needed = uint64_t{plan->across} * down;
  if (l.offsets.count == 0) {
    // The list is there and names no piece: nothing is read, least of all
    // from where its empty value field happens to point.
    report_data_error(ctx);
    return true;
  }
  uint64_t n = std::min<uint64_t>(l.offsets.count, needed);
  const uint64_t inside = values_inside(ctx, l.offsets);
  if (n > inside || (complain && l.offsets.count < needed)) report_data_error(ctx);
  n = std::min(n, inside);
  const int64_t here = raw_tell(ctx);
  read_list(ctx, l.offsets, size_t(n), true, &plan->offsets);
  read_list(ctx, l.byte_counts, size_t(std::min<uint64_t>(n, values_inside(ctx, l.byte_counts))), false,
            &plan->lengths);
  plan->lengths.resize(size_t(n), 0);
  raw_seek(ctx, here, 0);
  // A piece without a byte count ends where the next one (by file position)
  // starts, or at the end of the file.
  std::vector<uint32_t> starts(plan->offsets);
  std::sort(starts.begin(), starts.end());
  for (size_t i = 0; i < plan->lengths.size(); ++i) {
    if (plan->lengths[i]) continue;
    auto next = std::upper_bound(starts.begin(), starts.end(), plan->offsets[i]);
    const uint64_t stop = next == starts.end() ? data_size(ctx) : *next;
    if (stop > plan->offsets[i]) plan->lengths[i] = uint32_t(std::min<uint64_t>(stop - plan->offsets[i], UINT32_MAX));
  }
  plan->bytes_left = 2 * data_size(ctx) + 0x10000;
  return true;
}

bool raw_segment_bytes(raw_decode_context* ctx, raw_segment_plan& plan, size_t i, uint64_t cap,
                       std::vector<uint8_t>* bytes) {
  bytes->clear();
  const uint64_t offset = plan.offsets[i], end = data_size(ctx);
  if (offset >= end) {
    report_outside_file(ctx);
    return false;
  }
  // Ask for the whole byte count (one byte more than the file holds at
  // most), so that a piece cut by the end of the file reads as such.
  uint64_t want = plan.lengths[i] ? uint64_t{plan.lengths[i]} : end - offset;
  want = std::min({want, cap, end - offset + 1});
  if (want > plan.bytes_left) {
    report_data_error(ctx);
    return false;
  }
  plan.bytes_left -= want;
  bytes->resize(size_t(want));
  raw_seek(ctx, int64_t(offset), 0);
  const size_t got = raw_read(ctx, bytes->data(), 1, bytes->size());
  bytes->resize(got);
  if (plan.lengths[i] && got < want) report_data_error(ctx);
  return true;
}

void report_outside_file(raw_decode_context* ctx) {
  raw_seek(ctx, 0, 2);
  raw_getc(ctx);  // the end of the data is met, and the report says so
  report_data_error(ctx);
}

raw_piece_reader::raw_piece_reader(raw_decode_context* ctx, const std::vector<uint8_t>& bytes, uint32_t origin)
    : ctx_(ctx), ops_(ctx->ops), stream_(ctx->stream), size_(ctx->stream_size), base_(ctx->message_position_base) {
  memory_.data = bytes.data();
  memory_.size = bytes.size();
  ctx->ops = &raw_memory_ops;
  ctx->stream = &memory_;
  ctx->stream_size = int64_t(bytes.size());
  ctx->message_position_base = base_ + origin;
}

raw_piece_reader::~raw_piece_reader() {
  ctx_->ops = ops_;
  ctx_->stream = stream_;
  ctx_->stream_size = size_;
  ctx_->message_position_base = base_;
}
