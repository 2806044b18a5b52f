// Fuzz target for the RAW decoder's container parsers. The first byte picks
// the parser (modulo 16); the rest of the input is the camera file:
//   0 TIFF container at 0      1 CIFF heap (the whole file)  2 Minolta blocks
//   3 Rollei header            4 Sinar IA                    5 Phase One
//   6 Fuji directory at 92     7 JPEG markers                8 RIFF chunks
//   9 SMaL header             10 CINE header                11 Foveon
//  12 maker note at 0         13 EXIF directory at 8        14 Leaf packets at 0
//  15 sample byte-order guess and the side JPEG name
// Bit 4 of the first byte makes the file big-endian where the parser takes
// the byte order from its caller; bits 5-7 set a few context fields the
// parsers read (make NIKON, raw image count, a raw data offset).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "raw_fuzz_common.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_parsers.h"
#include "rawdecode/raw_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 22)) return 0;
  const uint8_t mode = data[0];
  pwfuzz::RawFuzzInput input(data + 1, size - 1);
  const std::vector<uint8_t>& body = input.body;
  auto& ctx = input.ctx;
  ctx->byte_order = (mode & 16) ? 0x4D4D : 0x4949;
  if (mode & 32) snprintf(ctx->camera_make, sizeof ctx->camera_make, "NIKON");
  if (mode & 64) ctx->raw_image_count = 1;
  if (mode & 128) ctx->raw_data_offset = 4096;
  try {
    switch (mode & 15) {
      case 0: read_tiff_container(ctx.get(), 0); break;
      case 1: read_ciff_heap(ctx.get(), 0, int64_t(body.size())); break;
      case 2: read_minolta_blocks(ctx.get(), 0); break;
      case 3: read_rollei_header(ctx.get()); break;
      case 4: read_sinar_ia(ctx.get()); break;
      case 5: read_phase_one_header(ctx.get(), 0); break;
      case 6: read_fuji_directory(ctx.get(), 92); break;
      case 7: read_jpeg_markers(ctx.get()); break;
      case 8: read_riff_chunks(ctx.get()); break;
      case 9: read_smal_header(ctx.get(), int64_t(body.size())); break;
      case 10: read_cine_header(ctx.get()); break;
      case 11: read_foveon_properties(ctx.get()); break;
      case 12: read_maker_note(ctx.get(), 0, (mode & 32) ? 0x2040 : 0); break;
      case 13:
        raw_seek(ctx.get(), 8, 0);
        read_exif_ifd(ctx.get(), 0);
        break;
      case 14: read_leaf_packets(ctx.get(), 0); break;
      default: {
        guess_sample_byte_order(ctx.get());
        // the side file's name comes from the input: no file by such a name exists
        char name[40] = {};
        if (!body.empty()) memcpy(name, body.data(), body.size() < 39 ? body.size() : 39);
        ctx->message_name = name;
        parse_external_jpeg(ctx.get());
        ctx->message_name = "fuzz";
        break;
      }
    }
  } catch (const raw_failure&) {
  }
  return 0;
}
