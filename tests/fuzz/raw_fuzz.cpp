// Fuzz target for the RAW decoder's bit-level readers. The first byte picks
// what the rest of the input goes through:
//   0..63    lossless-JPEG scan: header and every row (bit 5: a DNG 1.0 file)
//   64..127  lossless-JPEG header only
//   128..191 Canon CRW compressed data; the next four bytes give the sensor
//            width and height (small), bits 0-1 of the first the table set
//   192..223 the bit reader and tree walker: a tree source, then reads
//   224..255 the pipeline stages in the order a decode runs them, on a small
//            image whose geometry, pattern and options come from the next
//            twelve bytes and whose samples are the rest
// Failures that end a decode (raw_failure) are a normal outcome.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "raw_fuzz_common.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

namespace {

void DecodeLjpeg(raw_decode_context* ctx, bool info_only) {
  ljpeg_header jh;
  if (!quarn_ljpeg_start(ctx, &jh, info_only ? 1 : 0) || info_only) return;
  // Bound the work of one input: a header may claim 65535 x 65535 x 6.
  uint64_t budget = uint64_t{1} << 18;
  for (int r = 0; r < jh.high; ++r) {
    uint64_t row = uint64_t(jh.wide) * jh.clrs;
    if (row > budget) break;
    budget -= row;
    ljpeg_decode_row(ctx, r, &jh);
  }
}

void DecodeCrw(raw_decode_context* ctx, const uint8_t* data, size_t size) {
  if (size < 4) return;
  ctx->compression_code = data[0] & 3;
  ctx->sensor_width = uint16_t(8 + (data[0] << 8 | data[1]) % 512);
  ctx->sensor_height = uint16_t(1 + (data[2] << 8 | data[3]) % 512);
  ctx->top_margin = data[1] & 3;
  ctx->left_margin = data[3] & 7;
  ctx->image_width = uint16_t(ctx->sensor_width > 4 ? ctx->sensor_width - (data[2] & 7) : 1);
  ctx->image_height = ctx->sensor_height;
  ctx->cfa_pattern = 0x94949494;
  raw_allocate_pixels(ctx, "fuzz");
  canon_compressed_load_raw(ctx);
}

void ReadBits(raw_decode_context* ctx, const uint8_t* data, size_t size) {
  ctx->ff00_stuffing = size && (data[0] & 1);
  huff_pool_clear(ctx);
  huff_node* root = huff_next_node(ctx);
  size_t used = build_huffman_tree(ctx, data, size, 0);
  raw_seek(ctx, int64_t(used < size ? used : size), 0);
  for (size_t i = 0; i < 4096 && !ctx->ops->eof(ctx->stream); ++i) {
    int n = i < size ? data[i] % 27 : 1;
    if (n == 26) {
      ljpeg_read_difference(ctx, root);
    } else if (n == 0) {
      reset_bit_reader(ctx);
    } else {
      read_bits(ctx, n);
    }
  }
}

void RunPipeline(raw_decode_context* ctx, const uint8_t* data, size_t size) {
  if (size < 12) return;
  ctx->image_height = uint16_t(1 + data[0] % 64);
  ctx->image_width = uint16_t(1 + data[1] % 64);
  ctx->cfa_pattern = uint32_t(data[2]) << 24 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 8 | data[5];
  ctx->colour_count = 1 + (data[6] & 3);
  ctx->shrink_factor = ctx->cfa_pattern && (data[6] & 4);
  ctx->options.half_size_output = data[6] >> 3 & 1;
  ctx->options.four_colour_demosaic = data[6] >> 4 & 1;
  ctx->zero_is_bad = data[6] >> 5 & 1;
  ctx->options.auto_white_balance = data[6] >> 6 & 1;
  ctx->options.camera_white_balance = data[6] >> 7;
  ctx->white_level = uint32_t(data[7]) << 8 | data[8];
  ctx->black_level = data[9];
  ctx->options.highlight_mode = data[10] & 15;
  ctx->options.median_pass_count = data[10] >> 4 & 3;
  ctx->options.denoise_threshold = (data[10] & 64) ? float(data[11]) : 0;
  if (data[10] & 128) ctx->options.aberration_scale[0] = 0.5 + data[11] / 256.0;
  for (int c = 0; c < 4; ++c) ctx->pre_multipliers[c] = float(data[(c + 2) % size]) / 64;
  for (int i = 0; i < 3; ++i) ctx->rgb_from_camera[i][i] = 1;
  raw_allocate_pixels(ctx, "fuzz");
  const uint8_t* samples = data + 12;
  size_t n = size - 12;
  for (uint64_t i = 0; i < ctx->pixel_count && 8 * i + 1 < n; ++i)
    for (int c = 0; c < 4; ++c)
      ctx->pixels[i][c] = uint16_t(samples[(8 * i + 2 * c) % n] << 8 | samples[(8 * i + 2 * c + 1) % n]);
  if (ctx->zero_is_bad) fill_zero_samples(ctx);
  scale_colors(ctx);
  pre_interpolate(ctx);
  if (ctx->cfa_pattern) {
    switch (data[11] & 3) {
      case 0: bilinear_demosaic(ctx); break;
      case 1: vng_interpolate(ctx); break;
      case 2: ppg_demosaic(ctx); break;
      default: ahd_interpolate(ctx); break;
    }
  }
  if (ctx->colour_count == 3) median_filter_passes(ctx);
  if (ctx->options.highlight_mode == 2) blend_clipped_highlights(ctx);
  if (ctx->options.highlight_mode >= 3) recover_highlights(ctx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 24)) return 0;
  const uint8_t mode = data[0];
  pwfuzz::RawFuzzInput input(data + 1, size - 1);
  const std::vector<uint8_t>& body = input.body;
  auto& ctx = input.ctx;
  try {
    if (mode < 64) {
      ctx->dng_version_code = (mode & 32) ? 0x01000000 : 0;
      DecodeLjpeg(ctx.get(), false);
    } else if (mode < 128) {
      DecodeLjpeg(ctx.get(), true);
    } else if (mode < 192) {
      DecodeCrw(ctx.get(), body.data(), body.size());
    } else if (mode < 224) {
      ReadBits(ctx.get(), body.data(), body.size());
    } else {
      RunPipeline(ctx.get(), body.data(), body.size());
    }
  } catch (const raw_failure&) {
  }
  return 0;
}
