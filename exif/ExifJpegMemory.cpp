#include "exif/ExifJpegMemory.h"

#include <cstring>

extern "C" {
#include <jerror.h>
}

namespace {

constexpr size_t kDestWorkBytes = 4096;
constexpr size_t kSourceBytes = 60000;

struct MemoryDest {
  jpeg_destination_mgr pub;
  uint8_t* buffer;
  int64_t capacity;
  int64_t delivered;
  JOCTET* work;
};

void Deliver(j_compress_ptr cinfo, size_t count) {
  auto* dest = reinterpret_cast<MemoryDest*>(cinfo->dest);
  if (count > static_cast<size_t>(dest->capacity - dest->delivered)) ERREXIT(cinfo, JERR_BUFFER_SIZE);
  memcpy(dest->buffer + dest->delivered, dest->work, count);
  dest->delivered += static_cast<int64_t>(count);
}

void InitDest(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDest*>(cinfo->dest);
  dest->work = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo),
                                                               JPOOL_IMAGE, kDestWorkBytes));
  dest->delivered = 0;
  dest->pub.next_output_byte = dest->work;
  dest->pub.free_in_buffer = kDestWorkBytes;
}

boolean EmptyDest(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDest*>(cinfo->dest);
  Deliver(cinfo, kDestWorkBytes);
  dest->pub.next_output_byte = dest->work;
  dest->pub.free_in_buffer = kDestWorkBytes;
  return TRUE;
}

void TermDest(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDest*>(cinfo->dest);
  Deliver(cinfo, kDestWorkBytes - dest->pub.free_in_buffer);
  dest->pub.next_output_byte = dest->work;
  dest->pub.free_in_buffer = kDestWorkBytes;
}

struct MemorySource {
  jpeg_source_mgr pub;
  const uint8_t* data;
  int64_t size;
  int64_t position;
  JOCTET* buffer;
};

void InitSource(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo),
                                                                JPOOL_IMAGE, kSourceBytes));
  src->position = 0;
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = 0;
}

boolean FillSource(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  const int64_t rest = src->size - src->position;
  size_t count;
  if (rest <= 0) {
    // Out of data: an end marker ends the image, and the warning makes
    // the running operation fail.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    count = 2;
  } else {
    if (rest < static_cast<int64_t>(kSourceBytes)) count = static_cast<size_t>(rest);
    else if (rest == static_cast<int64_t>(kSourceBytes)) count = kSourceBytes;
    else count = kSourceBytes - 50;
    memcpy(src->buffer, src->data + src->position, count);
    src->position += static_cast<int64_t>(count);
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = count;
  return TRUE;
}

void SkipSource(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    FillSource(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

}  // namespace

void ExifJpegMemoryDest(j_compress_ptr cinfo, uint8_t* buffer, int64_t capacity) {
  if (cinfo->dest == nullptr || cinfo->dest->init_destination != InitDest) {
    cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemoryDest)));
  }
  auto* dest = reinterpret_cast<MemoryDest*>(cinfo->dest);
  dest->pub.init_destination = InitDest;
  dest->pub.empty_output_buffer = EmptyDest;
  dest->pub.term_destination = TermDest;
  dest->buffer = buffer;
  dest->capacity = capacity < 0 ? 0 : capacity;
  dest->delivered = 0;
  dest->work = nullptr;
}

int64_t ExifJpegMemoryDestSize(j_compress_ptr cinfo) {
  if (cinfo->dest == nullptr || cinfo->dest->init_destination != InitDest) return 0;
  return reinterpret_cast<MemoryDest*>(cinfo->dest)->delivered;
}

void ExifJpegMemorySrc(j_decompress_ptr cinfo, const uint8_t* data, int64_t size) {
  if (cinfo->src == nullptr || cinfo->src->init_source != InitSource) {
    cinfo->src = static_cast<jpeg_source_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySource)));
  }
  auto* src = reinterpret_cast<MemorySource*>(cinfo->src);
  src->pub.init_source = InitSource;
  src->pub.fill_input_buffer = FillSource;
  src->pub.skip_input_data = SkipSource;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = TermSource;
  src->pub.next_input_byte = nullptr;
  src->pub.bytes_in_buffer = 0;
  src->data = data;
  src->size = size < 0 ? 0 : size;
  src->position = 0;
  src->buffer = nullptr;
}
