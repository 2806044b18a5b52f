// Shared inside the decoder: stages, allocation and bounds helpers, and the
// handlers that one part of the document hands blocks to.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "psddecode/psd.h"

// Byte order is a fact of the build, so contexts share nothing at run time.
inline constexpr bool psd_host_is_little_endian = std::endian::native == std::endian::little;

// Header limits: anything outside is not a document this decoder reads.
inline constexpr int32_t psd_max_dimension = 30000;
inline constexpr int32_t psd_max_channels = 56;
// No single buffer beyond this; a larger request is treated as out of memory.
inline constexpr uint64_t psd_max_allocation = uint64_t(4) << 30;
// Nested descriptors and lists deeper than this are damaged or hostile.
inline constexpr int32_t psd_max_descriptor_depth = 32;

// Whether `decoded` bytes of pixels could come from `stored` bytes of file
// data. No method expands more than about 1:1032 (deflate), so a document
// whose sizes need far more is damaged; small images always pass. This keeps
// a few hundred bytes from claiming gigabytes.
inline bool psd_plausible_size(int64_t decoded, int64_t stored) {
  constexpr int64_t allowance = int64_t(64) << 20;
  constexpr int64_t ratio = 2048;
  return decoded <= allowance || decoded / ratio <= stored;
}

// Zeroed memory for count elements of size bytes, or null when the product
// overflows, passes the limit, or the allocator says no.
void* psd_alloc(int64_t count, int64_t size);
inline void psd_free(void* p) { std::free(p); }
// Grows a scratch buffer to hold at least needed bytes (doubling, with a
// minimum). Returns false (buffer released, size 0) when memory is refused.
bool psd_reserve(uint8_t** buffer, int64_t* size, int64_t needed, int64_t minimum);

// Where reading must stop: the file's end, or a bounded reader's end
// before it.
inline int64_t psd_read_limit(const psd_file_context* c) {
  const int64_t file = c->file_length;
  return c->read_end > 0 && c->read_end < file ? int64_t(c->read_end) : file;
}
// Bytes of the file not yet delivered or skipped (within a bounded reader,
// of its block).
inline int64_t psd_bytes_left(const psd_file_context* c) {
  return psd_read_limit(c) - int64_t(c->consumed);
}
// While it lives, nothing is read or skipped past `end`: reads there give
// nothing, as at the end of the file. A reader of a block whose items
// describe themselves (descriptors) stays inside its block however wrong
// the items are, and the walk over the blocks stays in step.
class psd_read_window {
 public:
  psd_read_window(psd_file_context* c, int64_t end) : c_(c), saved_(c->read_end) {
    const int64_t limit = psd_read_limit(c);
    const int64_t bounded = end < limit ? end : limit;
    c->read_end = int32_t(bounded > int64_t(c->consumed) ? bounded : int64_t(c->consumed));
    // 0 means "no window": a window ending at offset 0 has nothing in it
    // anyway, and the file's end bounds it.
  }
  ~psd_read_window() { c_->read_end = saved_; }
  psd_read_window(const psd_read_window&) = delete;
  psd_read_window& operator=(const psd_read_window&) = delete;

 private:
  psd_file_context* c_;
  int32_t saved_;
};
// A double from the file as a 32-bit integer: truncated toward zero,
// saturated at the type's ends, 0 for NaN.
inline int32_t psd_saturate_int32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32_t(v);
}
// Bytes left before a section's end, never more than the file holds.
inline int64_t psd_bytes_left_until(const psd_file_context* c, int64_t end) {
  int64_t to_end = end - int64_t(c->consumed);
  int64_t file = psd_bytes_left(c);
  return to_end < file ? to_end : file;
}
// A count read from the file, limited to what the bytes left could hold at
// unit bytes per element (negative counts become 0).
inline int64_t psd_bound_count(int64_t count, int64_t unit, int64_t bytes_left) {
  if (count <= 0 || bytes_left <= 0) return 0;
  if (unit < 1) unit = 1;
  int64_t most = bytes_left / unit;
  return count < most ? count : most;
}
// Skips forward to end when it lies ahead.
void psd_skip_to(psd_file_context* c, int64_t end);
// Reads 4 bytes and compares them with a 4-character key.
bool psd_read_signature(psd_file_context* c, const char key[4]);
constexpr uint32_t psd_key(const char (&k)[5]) {
  return (uint32_t(uint8_t(k[0])) << 24) | (uint32_t(uint8_t(k[1])) << 16) |
         (uint32_t(uint8_t(k[2])) << 8) | uint32_t(uint8_t(k[3]));
}
inline int16_t psd_get_s16(psd_file_context* c) { return int16_t(psd_get_be16(c)); }
inline int32_t psd_get_s32(psd_file_context* c) { return int32_t(psd_get_be32(c)); }
// Reads a UTF-16 string (4-byte count, then 2 x count bytes) into a new
// buffer, keeping the characters big-endian as stored. The count is limited
// by the bytes left before end. -4 when memory is refused.
psd_status psd_read_unicode_string(psd_file_context* c, int64_t end, int32_t* length,
                                   uint16_t** text);

// Stages.
psd_status psd_stage_header(psd_file_context* c);
psd_status psd_stage_color_data(psd_file_context* c);
psd_status psd_stage_resources(psd_file_context* c);
psd_status psd_stage_layer_mask(psd_file_context* c);
psd_status psd_stage_image_data(psd_file_context* c);

// Releasers used by psd_free_context.
void psd_release_resources(psd_file_context* c);
void psd_release_extra_channels(psd_file_context* c);
void psd_release_layer(psd_layer_record* layer);
void psd_release_layers(psd_file_context* c);
void psd_release_adjustment(psd_adjustment* entry);

// Image data.
int64_t psd_plane_bytes(int32_t width, int32_t height, int32_t depth);
psd_status psd_read_layer_channels(psd_file_context* c, psd_layer_record* layer);
psd_status psd_copy_mask_plane(psd_file_context* c, psd_layer_record* layer);
psd_status psd_copy_mask_plane16(psd_file_context* c, psd_layer_record* layer);

// Colour conversion: the three families.
bool psd_has_conversion(uint32_t mode, int32_t depth);
psd_status psd_convert_merged(psd_file_context* c);
psd_status psd_convert_layer(psd_file_context* c, psd_layer_record* layer);
psd_status psd_convert_pattern(psd_file_context* c, psd_pattern* pattern, int32_t channel_count,
                               int32_t pixel_depth, const psd_argb* table);

// Layers: handlers of additional-information blocks.
psd_status psd_read_layer_info(psd_file_context* c, int64_t section_end);
psd_status psd_read_global_mask(psd_file_context* c, int64_t section_end);
psd_status psd_dispatch_fill_adjustment(psd_file_context* c, psd_layer_record* layer,
                                        uint32_t key, int32_t length, bool* handled);
psd_status psd_read_lrfx(psd_file_context* c, psd_layer_record* layer, int64_t end);
psd_status psd_read_lfx2(psd_file_context* c, psd_layer_record* layer, int64_t end);
psd_status psd_read_pattern(psd_file_context* c, int64_t section_end);
// Appends an adjustment entry with a zeroed record of size bytes (0: none).
psd_status psd_append_adjustment(psd_layer_record* layer, int32_t type, int64_t size,
                                 void** record);

// Descriptors.
void psd_skip_id(psd_file_context* c);
void psd_skip_unicode(psd_file_context* c);
void psd_skip_class(psd_file_context* c);
void psd_skip_alias(psd_file_context* c);
void psd_skip_reference(psd_file_context* c);
void psd_skip_list(psd_file_context* c);
void psd_skip_descriptor(psd_file_context* c);
void psd_skip_item(uint32_t type, psd_file_context* c);
// Reads an ID: a text key into text (zero-terminated, at most 255 bytes) and
// 0, or a 4-byte key (text left empty).
uint32_t psd_read_id(psd_file_context* c, char text[256]);
psd_argb psd_read_rgb_color(psd_file_context* c);
void psd_read_gradient(psd_gradient* gradient, psd_file_context* c);
void psd_read_pattern_ref(psd_pattern_ref* reference, psd_file_context* c);
void psd_read_point(int32_t* x, int32_t* y, psd_file_context* c);
void psd_read_contour(uint8_t* table, psd_file_context* c);
void psd_contour_segment(uint8_t* table, const double px[4], const double py[4]);
void psd_matrix_multiply(double* result, const double* a, const double* b, int rows, int inner,
                         int cols);
int32_t psd_read_blend_enum(psd_file_context* c);
int32_t psd_read_technique_enum(psd_file_context* c);
int32_t psd_read_gradient_type_enum(psd_file_context* c);
void psd_init_contour(uint8_t* table);
void psd_release_gradient(psd_gradient* gradient);
void psd_release_pattern_ref(psd_pattern_ref* reference);
void psd_release_effects(psd_layer_effects* effects);
void psd_release_type_tool(psd_type_tool* record);
