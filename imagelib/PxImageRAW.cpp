// Drives the raw decoder over a PxFile. One decoder context per decode, on
// the heap and owned here, so raw pictures load on several worker threads at
// once. A file whose data turns out damaged gives what could be decoded,
// marked damaged with the decoder's message (the tools never write such a
// picture over its original); a file that holds next to none of the data its
// picture needs is refused with that message.
#include "imagelib/PxImageRAW.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/batch_runner.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_segments.h"
#include "rawdecode/raw_stream.h"

namespace {

// The decoder's stream operations over the image library's file, counting
// the bytes handed out so the driver can tell how much data a loader met.
// Seeking answers 0 on success, as the decoder expects of every stream.
struct RawSource {
  PxFile* file;
  uint64_t delivered = 0;
};
PxFile* FileOf(void* s) { return static_cast<RawSource*>(s)->file; }
size_t RawRead(void* s, void* buffer, size_t size, size_t count) {
  size_t got = FileOf(s)->ReadBlock(buffer, size, count);
  static_cast<RawSource*>(s)->delivered += uint64_t(got) * size;
  return got;
}
size_t RawWrite(void* s, const void* buffer, size_t size, size_t count) {
  return FileOf(s)->WriteBlock(buffer, size, count);
}
int RawSeek(void* s, int32_t offset, int origin) { return FileOf(s)->SeekTo(offset, origin) ? 0 : -1; }
int RawClose(void*) { return 1; }
char* RawGets(void* s, char* buffer, int size) {
  char* line = FileOf(s)->ReadLine(buffer, size);
  if (line) static_cast<RawSource*>(s)->delivered += strlen(line);
  return line;
}
int RawEof(void* s) { return FileOf(s)->AtEnd() ? 1 : 0; }
int32_t RawTell(void* s) { return FileOf(s)->Position(); }
int RawGetc(void* s) {
  int c = FileOf(s)->GetByte();
  if (c >= 0) ++static_cast<RawSource*>(s)->delivered;
  return c;
}
int RawScanf(void* s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  void* output = va_arg(args, void*);
  va_end(args);
  return FileOf(s)->ScanFormatted(format, output);
}

const raw_stream_ops kPxFileOps = {RawRead, RawWrite, RawSeek, RawClose, RawGets,
                                   RawEof,  RawTell,  RawGetc, RawScanf};

// The first line of what the decoder wrote after `from`, or `fallback`.
std::string DecoderText(const raw_decode_context& ctx, size_t from, const char* fallback) {
  std::string text = from < ctx.message_log.size() ? ctx.message_log.substr(from) : std::string();
  size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return text.empty() ? fallback : text;
}

// Maps output position (row, col) to the decoded pixel, as the orientation
// flags say: bit 2 exchanges rows and columns, bit 1 turns the rows over,
// bit 0 the columns.
size_t SourceIndex(int flags, uint32_t row, uint32_t col, uint32_t h, uint32_t w) {
  if (flags & 4) std::swap(row, col);
  if (flags & 2) row = h - 1 - row;
  if (flags & 1) col = w - 1 - col;
  return size_t(row) * w + col;
}

}  // namespace

bool PxImageRAW::Decode(PxFile* file) {
  if (!file) return false;
  std::unique_ptr<raw_decode_context> ctx;
  try {
    ctx = raw_context_create();
  } catch (const std::bad_alloc&) {
    SetLastError("PxImageRAW: Out of memory in PxImageRAW");
    return false;
  }
  raw_decode_options& o = ctx->options;
  o.user_black_level = o.user_white_level = -1;
  const uint32_t option = info.codecOptions[FormatIndexFromId(kFormatRaw)];
  o.user_quality = int32_t(option & 3);
  // Bits 8-15: threads that decode a file's tiles at once (0: one per
  // processor, at most 8). A batch runner's worker decodes on its own thread
  // only: the runner's workers already fill the processors.
  o.decode_threads = pw::InBatchWorker() ? 1 : int32_t(option >> 8 & 0xFF);
  o.rotate_fuji_layout = 1;
  o.output_space = 1;
  o.output_bits = 8;
  ctx->message_name = "PxImageRAW";

  auto fail = [&](const std::string& text) {
    if (!text.empty()) SetLastError(text.c_str());
    return false;
  };

  try {
    const int32_t start = file->Position() > 0 ? file->Position() : 0;
    RawSource source{file};
    raw_set_stream(ctx.get(), &kPxFileOps, &source);
    probe_raw_file(ctx.get());
    if (!ctx->raw_image_count) {
      file->SeekTo(start, 0);
      return fail(ctx->refusal_text.empty() ? "PxImageRAW: not a raw image" : ctx->refusal_text);
    }
    if (!ctx->raw_loader) return fail("PxImageRAW: missing raw decoder");
    if (ctx->raw_loader == kodak_ycbcr_load_raw) {
      ctx->image_height = uint16_t(ctx->image_height + (ctx->image_height & 1));
      ctx->image_width = uint16_t(ctx->image_width + (ctx->image_width & 1));
    }
    const bool cfa = ctx->cfa_pattern != 0;
    ctx->shrink_factor = cfa && (o.half_size_output || o.denoise_threshold != 0 ||
                                 o.aberration_scale[0] != 1 || o.aberration_scale[2] != 1);

    uint32_t width = 0, height = 0;
    if (!raw_output_size(ctx.get(), &width, &height))
      return fail("PxImageRAW: picture size out of range");
    // The finished picture must be one the library can hold, checked before
    // anything of its size is allocated.
    const uint64_t stride = (uint64_t{width} * 24 + 31) / 32 * 4;
    if (stride * height > kPxImageMaxBytes) return fail("PxImageRAW: picture too large");

    if (info.escape == -1) {
      header.biWidth = int32_t(width);
      header.biHeight = int32_t(height);
      info.formatId = kFormatRaw;
      SetLastError("output dimensions returned");
      return true;
    }

    if (o.camera_colour_matrix && ctx->file_colour_matrix[0][0] > 0.25f) {
      memcpy(ctx->rgb_from_camera, ctx->file_colour_matrix, sizeof ctx->rgb_from_camera);
      ctx->raw_colour_flag = 0;
    } else {
      o.camera_white_balance = 1;
    }
    // Without a colour matrix and without the camera's multipliers there is
    // nothing to balance by: balance the grey world.
    bool patch = false;
    for (const auto& line : ctx->white_patch)
      for (uint16_t v : line) patch |= v != 0;
    if (ctx->raw_colour_flag && !patch &&
        (ctx->camera_multipliers[0] == 0 || ctx->camera_multipliers[2] == 0))
      o.auto_white_balance = 1;

    raw_allocate_pixels(ctx.get(), "PxImageRAW");
    if (ctx->meta_data_length)
      ctx->meta_buffer = raw_alloc<uint8_t>(ctx.get(), ctx->meta_data_length, "PxImageRAW");
    // Identification may have met oddities it could step over; what counts
    // from here on is whether the picture data itself is sound.
    ctx->data_error_reported = 0;
    const size_t log_mark = ctx->message_log.size();

    // Data that would start outside the file is a data error, never a read
    // from wherever the stream stood.
    if (!raw_seek(ctx.get(), ctx->raw_data_offset, 0)) report_outside_file(ctx.get());
    source.delivered = 0;
    ctx->raw_loader(ctx.get());
    std::string damage;
    if (ctx->data_error_reported) {
      damage = DecoderText(*ctx, log_mark, "PxImageRAW: damaged raw data");
      // Less than a byte of data for every 16 pixels: the file cannot hold
      // the picture it announces, and what was decoded is next to nothing.
      const uint64_t pixels = uint64_t{ctx->image_width} * ctx->image_height;
      if (source.delivered < pixels / 16) return fail(damage);
    }
    if (ctx->zero_is_bad) fill_zero_samples(ctx.get());
    if (ctx->cfa_pattern) repair_dead_pixels(ctx.get(), o.bad_pixel_path);
    if (o.dark_frame_path) subtract(ctx.get(), o.dark_frame_path);
    ctx->demosaic_quality = o.user_quality;
    if (o.user_black_level >= 0) ctx->black_level = uint32_t(o.user_black_level);
    if (o.user_white_level >= 0) ctx->white_level = uint32_t(o.user_white_level);
    if (!ctx->foveon_flag && o.document_mode_level < 2) scale_colors(ctx.get());
    pre_interpolate(ctx.get());
    if (ctx->cfa_pattern && o.document_mode_level == 0) {
      const int q = ctx->demosaic_quality;
      if (q == 0)
        bilinear_demosaic(ctx.get());
      else if (q == 1 || ctx->colour_count > 3)
        vng_interpolate(ctx.get());
      else if (q == 2)
        ppg_demosaic(ctx.get());
      else
        ahd_interpolate(ctx.get());
    }
    if (ctx->mixed_green) {
      ctx->colour_count = 3;
      for (uint64_t i = 0; i < ctx->pixel_count; ++i) {
        raw_pixel& p = ctx->pixels[i];
        p[1] = uint16_t((uint32_t{p[1]} + p[3]) >> 1);
      }
    }
    if (!ctx->foveon_flag) {
      if (ctx->colour_count == 3) median_filter_passes(ctx.get());
      if (o.highlight_mode == 2 && (ctx->colour_count == 3 || ctx->colour_count == 4))
        blend_clipped_highlights(ctx.get());
      if (o.highlight_mode >= 3) recover_highlights(ctx.get());
    }
    if (o.rotate_fuji_layout && ctx->fuji_diagonal_width) fuji_rotate(ctx.get());
    convert_to_rgb(ctx.get());
    if (o.rotate_fuji_layout && ctx->pixel_aspect_ratio != 1) stretch(ctx.get());
    if (damage.empty() && ctx->data_error_reported)
      damage = DecoderText(*ctx, log_mark, "PxImageRAW: damaged raw data");
    // A tag whose value ran past the end of the file was left unread: the
    // picture lacks what it said (a linearization table, the colours).
    if (damage.empty() && ctx->tag_value_cut) damage = "PxImageRAW: Unexpected end of file";

    const uint32_t h = ctx->image_height, w = ctx->image_width;
    if (!raw_pixels_hold_full_image(ctx.get()) || uint64_t{h} * w > ctx->pixel_count)
      return fail("PxImageRAW: picture size out of range");
    const int flags = ctx->orientation_flags;
    const uint32_t outW = flags & 4 ? h : w, outH = flags & 4 ? w : h;
    if (!Create(outW, outH, 24, kFormatRaw)) return fail("");

    auto table = raw_alloc<uint8_t>(ctx.get(), 0x10000, "PxImageRAW");
    build_output_lut(ctx.get(), table.get());
    const int colours = ctx->colour_count;
    for (uint32_t r = 0; r < outH; ++r) {
      uint8_t* out = RowAt(outH - 1 - r);
      // Along an output row the source index moves by a fixed step (one
      // pixel or one row, either way), so it is computed once per row.
      const raw_pixel* pixels = ctx->pixels.get();
      ptrdiff_t i = ptrdiff_t(SourceIndex(flags, r, 0, h, w));
      const ptrdiff_t step = outW > 1 ? ptrdiff_t(SourceIndex(flags, r, 1, h, w)) - ptrdiff_t(SourceIndex(flags, r, 0, h, w)) : 0;
      if (colours == 1) {
        for (uint32_t c = 0; c < outW; ++c, out += 3, i += step)
          out[0] = out[1] = out[2] = table[pixels[i][0]];  // a one-colour camera gives grey
      } else {
        for (uint32_t c = 0; c < outW; ++c, out += 3, i += step) {
          const raw_pixel& p = pixels[i];
          out[0] = table[p[2]];
          out[1] = table[p[1]];
          out[2] = table[p[0]];
        }
      }
    }
    if (!damage.empty()) {
      info.bDamaged = true;
      SetLastError(damage.c_str());
    }
    return true;
  } catch (const raw_failure& f) {
    return fail(ctx->message_text.empty() ? std::string(f.what()) : ctx->message_text);
  } catch (const std::bad_alloc&) {
    return fail("PxImageRAW: Out of memory in PxImageRAW");
  }
}
