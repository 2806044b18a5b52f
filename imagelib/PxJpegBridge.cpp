#include "imagelib/PxJpegBridge.h"

#include <jerror.h>

#include <cstring>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"

namespace {

// Everything libjpeg allocates, coefficient buffers of progressive files
// included, stays below this; a file asking for more fails cleanly instead
// of exhausting the machine. It leaves room for the largest picture the
// container accepts, decoded from a four-component progressive file.
constexpr long kJpegMemoryCap = 1024L * 1024L * 1024L;

PxFileJpegBridge* BridgeOf(j_common_ptr cinfo) {
  return static_cast<PxFileJpegBridge*>(cinfo->client_data);
}

[[noreturn]] void RaiseJpegError(j_common_ptr cinfo) {
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, trap->errorText);
  std::longjmp(trap->jump, 1);
}

// libjpeg goes on past cut-off or corrupt data, filling what it could not
// read; these warnings mean the picture came out padded.
void NoteJpegWarning(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  ++cinfo->err->num_warnings;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
      trap->damaged = true;
      break;
    default:
      break;
  }
}

// ---- destination manager

void StartWriting(j_compress_ptr cinfo) {
  PxFileJpegBridge* b = BridgeOf(reinterpret_cast<j_common_ptr>(cinfo));
  b->destination.next_output_byte = b->buffer;
  b->destination.free_in_buffer = kJpegTransferBytes;
}

boolean FlushFullBuffer(j_compress_ptr cinfo) {
  PxFileJpegBridge* b = BridgeOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (b->file->WriteBlock(b->buffer, 1, kJpegTransferBytes) != kJpegTransferBytes)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  b->destination.next_output_byte = b->buffer;
  b->destination.free_in_buffer = kJpegTransferBytes;
  return TRUE;
}

void FinishWriting(j_compress_ptr cinfo) {
  PxFileJpegBridge* b = BridgeOf(reinterpret_cast<j_common_ptr>(cinfo));
  const size_t pending = kJpegTransferBytes - b->destination.free_in_buffer;
  if (pending > 0 && b->file->WriteBlock(b->buffer, 1, pending) != pending)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  if (!b->file->FlushFile() || b->file->ErrorState() != 0) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// ---- source manager

void StartReading(j_decompress_ptr cinfo) {
  BridgeOf(reinterpret_cast<j_common_ptr>(cinfo))->startOfFile = true;
}

boolean RefillBuffer(j_decompress_ptr cinfo) {
  PxFileJpegBridge* b = BridgeOf(reinterpret_cast<j_common_ptr>(cinfo));
  size_t n = b->file->ReadBlock(b->buffer, 1, kJpegTransferBytes);
  if (n == 0) {
    if (b->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A file that ends early is decoded as far as it goes: libjpeg sees an
    // end-of-image marker and fills the missing rows itself.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    b->buffer[0] = 0xFF;
    b->buffer[1] = JPEG_EOI;
    n = 2;
  }
  b->source.next_input_byte = b->buffer;
  b->source.bytes_in_buffer = n;
  b->startOfFile = false;
  return TRUE;
}

void SkipBytes(j_decompress_ptr cinfo, long count) {
  PxFileJpegBridge* b = BridgeOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (count <= 0) return;
  while (count > static_cast<long>(b->source.bytes_in_buffer)) {
    count -= static_cast<long>(b->source.bytes_in_buffer);
    RefillBuffer(cinfo);
  }
  b->source.next_input_byte += count;
  b->source.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

}  // namespace

void InitJpegErrorTrap(JpegErrorTrap* trap, char* errorText) {
  jpeg_std_error(&trap->manager);
  trap->manager.error_exit = RaiseJpegError;
  trap->manager.emit_message = NoteJpegWarning;
  trap->damaged = false;
  trap->errorText = errorText;
}

void InitJpegBridge(PxFileJpegBridge* bridge, PxFile* file, uint8_t* buffer) {
  std::memset(&bridge->destination, 0, sizeof bridge->destination);
  std::memset(&bridge->source, 0, sizeof bridge->source);
  bridge->destination.init_destination = StartWriting;
  bridge->destination.empty_output_buffer = FlushFullBuffer;
  bridge->destination.term_destination = FinishWriting;
  bridge->source.init_source = StartReading;
  bridge->source.fill_input_buffer = RefillBuffer;
  bridge->source.skip_input_data = SkipBytes;
  bridge->source.resync_to_restart = jpeg_resync_to_restart;
  bridge->source.term_source = TermSource;
  bridge->file = file;
  bridge->buffer = buffer;
  bridge->startOfFile = false;
}

// ---- decompression

bool TrapCreateDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap, PxFileJpegBridge* bridge) {
  cinfo->err = &trap->manager;
  if (setjmp(trap->jump)) return false;
  jpeg_create_decompress(cinfo);
  cinfo->client_data = bridge;
  cinfo->src = &bridge->source;
  cinfo->mem->max_memory_to_use = kJpegMemoryCap;
  return true;
}

bool TrapReadHeader(j_decompress_ptr cinfo, JpegErrorTrap* trap) {
  if (setjmp(trap->jump)) return false;
  jpeg_read_header(cinfo, TRUE);
  return true;
}

bool TrapCalcOutputDimensions(j_decompress_ptr cinfo, JpegErrorTrap* trap) {
  if (setjmp(trap->jump)) return false;
  jpeg_calc_output_dimensions(cinfo);
  return true;
}

bool TrapStartDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap) {
  if (setjmp(trap->jump)) return false;
  jpeg_start_decompress(cinfo);
  return true;
}

int TrapReadRows(j_decompress_ptr cinfo, JpegErrorTrap* trap, PxImage* image, bool cmyk,
                 bool swapRedBlue) {
  if (setjmp(trap->jump)) return 0;
  const uint32_t rowLength = cinfo->output_width * static_cast<uint32_t>(cinfo->output_components);
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               rowLength, 1);
  const uint32_t stride = image->RowStride();
  uint32_t y = image->Height();
  while (cinfo->output_scanline < cinfo->output_height && y > 0) {
    if (image->info.escape != 0) return -1;
    jpeg_read_scanlines(cinfo, row, 1);
    uint8_t* dst = image->RowAt(--y);
    const uint8_t* src = row[0];
    if (cmyk) {
      // libjpeg hands CMYK over as stored; ink amounts scale by black.
      for (uint32_t s = 0, d = 0; d + 2 < stride && s + 3 < rowLength; s += 4, d += 3) {
        const uint32_t k = src[s + 3];
        dst[d] = static_cast<uint8_t>(k * src[s + 2] / 255);
        dst[d + 1] = static_cast<uint8_t>(k * src[s + 1] / 255);
        dst[d + 2] = static_cast<uint8_t>(k * src[s] / 255);
      }
    } else {
      std::memcpy(dst, src, rowLength < stride ? rowLength : stride);
      // libjpeg delivers red, green, blue; the container keeps blue first.
      if (swapRedBlue) image->SwapRedBlue(dst, int64_t{3} * cinfo->output_width);
    }
  }
  return 1;
}

bool TrapFinishDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap) {
  if (setjmp(trap->jump)) return false;
  jpeg_finish_decompress(cinfo);
  return true;
}

// ---- compression

bool TrapCreateCompress(j_compress_ptr cinfo, JpegErrorTrap* trap, PxFileJpegBridge* bridge,
                        const JpegEncodeSettings& s) {
  cinfo->err = &trap->manager;
  if (setjmp(trap->jump)) return false;
  jpeg_create_compress(cinfo);
  cinfo->client_data = bridge;
  cinfo->dest = &bridge->destination;
  cinfo->mem->max_memory_to_use = kJpegMemoryCap;
  cinfo->image_width = s.width;
  cinfo->image_height = s.height;
  cinfo->input_components = s.grey ? 1 : 3;
  cinfo->in_color_space = s.grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(cinfo);

  if (s.options & 0x2) cinfo->arith_code = TRUE;
  if (s.options & 0x8) cinfo->optimize_coding = TRUE;
  if (s.options & 0x4) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
  if (s.options & 0x40) cinfo->smoothing_factor = s.smoothing;

  const int scale = s.quality < 50 ? 5000 / s.quality : 200 - 2 * s.quality;
  jpeg_set_linear_quality(cinfo, scale, (s.options & 0x1) ? TRUE : FALSE);
  if (s.options & 0x10) jpeg_simple_progression(cinfo);

  cinfo->comp_info[0].h_samp_factor = 2;
  cinfo->comp_info[0].v_samp_factor = 2;
  if (s.options & 0x1000) cinfo->comp_info[0].v_samp_factor = 1;
  if (s.options & 0x2000) {
    cinfo->comp_info[0].h_samp_factor = 1;
    cinfo->comp_info[0].v_samp_factor = 1;
  }
  for (int c = 1; c < 3 && c < cinfo->num_components; ++c) {
    cinfo->comp_info[c].h_samp_factor = 1;
    cinfo->comp_info[c].v_samp_factor = 1;
  }

  cinfo->density_unit = 1;
  cinfo->X_density = static_cast<UINT16>(s.xDpi);
  cinfo->Y_density = static_cast<UINT16>(s.yDpi);
  jpeg_start_compress(cinfo, TRUE);
  return true;
}

bool TrapWriteRows(j_compress_ptr cinfo, JpegErrorTrap* trap, PxImage* image, bool swapRedBlue) {
  if (setjmp(trap->jump)) return false;
  const uint32_t stride = image->RowStride();
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               stride + 8, 1);
  for (uint32_t y = image->Height(); y > 0 && cinfo->next_scanline < cinfo->image_height;) {
    std::memcpy(row[0], image->RowAt(--y), stride);
    if (swapRedBlue) image->SwapRedBlue(row[0], stride);
    jpeg_write_scanlines(cinfo, row, 1);
  }
  return true;
}

bool TrapFinishCompress(j_compress_ptr cinfo, JpegErrorTrap* trap) {
  if (setjmp(trap->jump)) return false;
  jpeg_finish_compress(cinfo);
  return true;
}
