// The buffered stream and the big-endian value readers. Every byte of the
// file reaches the decoder through psd_stream_read or psd_stream_skip, which
// keep `consumed` so that stages can find the ends of their sections.
#include <algorithm>

#include "platform/byteorder.h"
#include "psddecode/psd_internal.h"

namespace {

bool ensure_buffer(psd_file_context* c) {
  if (c->read_buffer) return true;
  c->read_buffer = static_cast<uint8_t*>(std::malloc(psd_read_buffer_size));
  c->buffer_fill = 0;
  c->buffer_pos = 0;
  return c->read_buffer != nullptr;
}

int32_t call_read(psd_file_context* c, void* destination, int32_t n) {
  if (!c->callbacks.read || n <= 0) return 0;
  size_t got = c->callbacks.read(c->stream, destination, 1, size_t(n));
  // A callback that claims more than it was asked for is not believed.
  return got > size_t(n) ? n : int32_t(got);
}

}  // namespace

void* psd_alloc(int64_t count, int64_t size) {
  if (count < 0 || size < 0) return nullptr;
  if (count == 0 || size == 0) count = size = 1;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(uint64_t(count), uint64_t(size), &bytes)) return nullptr;
  if (bytes > psd_max_allocation) return nullptr;
  return std::calloc(1, bytes);
}

bool psd_reserve(uint8_t** buffer, int64_t* size, int64_t needed, int64_t minimum) {
  if (needed <= *size && *buffer) return true;
  int64_t want = std::max({needed, 2 * *size, minimum});
  psd_free(*buffer);
  *buffer = static_cast<uint8_t*>(psd_alloc(want, 1));
  *size = *buffer ? want : 0;
  return *buffer != nullptr;
}

namespace {

// A bounded reader's window ends reading early; without one, reading goes
// to the file's end as the stream delivers it.
int32_t within_window(const psd_file_context* c, int32_t n) {
  if (c->read_end <= 0) return n;
  const int64_t room = int64_t(c->read_end) - int64_t(c->consumed);
  return room <= 0 ? 0 : int32_t(std::min<int64_t>(n, room));
}

}  // namespace

int32_t psd_stream_read(psd_file_context* c, void* destination, int32_t n) {
  n = within_window(c, n);
  if (!destination || n < 1) return 0;
  if (!ensure_buffer(c)) return 0;
  auto* out = static_cast<uint8_t*>(destination);
  int32_t delivered = 0;
  int32_t avail = c->buffer_fill - c->buffer_pos;
  if (avail > 0 && avail <= n) {
    std::memcpy(out, c->read_buffer + c->buffer_pos, size_t(avail));
    c->buffer_pos = c->buffer_fill;
    delivered += avail;
    n -= avail;
  }
  if (n > psd_read_buffer_size) {
    delivered += call_read(c, out + delivered, n);
    c->buffer_pos = c->buffer_fill;
  } else if (c->buffer_pos != c->buffer_fill) {
    int32_t take = std::min(c->buffer_fill - c->buffer_pos, n);
    std::memcpy(out + delivered, c->read_buffer + c->buffer_pos, size_t(take));
    c->buffer_pos += take;
    delivered += take;
  } else if (n > 0) {
    int32_t got = call_read(c, c->read_buffer, psd_read_buffer_size);
    c->buffer_fill = got;
    int32_t take = std::min(n, got);
    std::memcpy(out + delivered, c->read_buffer, size_t(take));
    c->buffer_pos = take;
    delivered += take;
  }
  c->consumed += delivered;
  return delivered;
}

int32_t psd_stream_skip(psd_file_context* c, int32_t n) {
  n = within_window(c, n);
  if (n < 1) return 0;
  if (!ensure_buffer(c)) return 0;
  int32_t skipped = 0;
  int32_t avail = c->buffer_fill - c->buffer_pos;
  if (avail > 0 && avail <= n) {
    c->buffer_pos = c->buffer_fill;
    skipped += avail;
    n -= avail;
  }
  if (n > psd_read_buffer_size) {
    // Counted in full whatever the seek reports: stages measure sections by
    // `consumed`, and every walk must move forward.
    if (c->callbacks.seek) c->callbacks.seek(c->stream, n, 1);
    c->buffer_pos = c->buffer_fill;
    skipped += n;
  } else if (c->buffer_pos != c->buffer_fill) {
    int32_t take = std::min(c->buffer_fill - c->buffer_pos, n);
    c->buffer_pos += take;
    skipped += take;
  } else if (n > 0) {
    int32_t got = call_read(c, c->read_buffer, psd_read_buffer_size);
    c->buffer_fill = got;
    int32_t take = std::min(n, got);
    c->buffer_pos = take;
    skipped += take;
  }
  // Saturate: a damaged length must not wrap the running count around.
  c->consumed = int32_t(std::min<int64_t>(int64_t(c->consumed) + skipped, INT32_MAX));
  return skipped;
}

void psd_skip_to(psd_file_context* c, int64_t end) {
  // Nothing lies beyond the file: a section that claims to run past it ends
  // there, and `consumed` never passes what a 32-bit file can hold.
  const int64_t target = std::min<int64_t>(end, psd_read_limit(c));
  while (target > int64_t(c->consumed)) {
    int64_t gap = target - int64_t(c->consumed);
    int32_t step = gap > INT32_MAX ? INT32_MAX : int32_t(gap);
    if (psd_stream_skip(c, step) <= 0) {
      c->consumed = int32_t(target);
      break;
    }
  }
}

uint8_t psd_get_u8(psd_file_context* c) {
  uint8_t b = 0;
  return psd_stream_read(c, &b, 1) == 1 ? b : 0;
}

bool psd_get_bool(psd_file_context* c) {
  uint8_t b = 0;
  return psd_stream_read(c, &b, 1) == 1 && b != 0;
}

uint16_t psd_get_be16(psd_file_context* c) {
  uint8_t b[2];
  if (psd_stream_read(c, b, 2) != 2) return 0;
  return pw::LoadBE16(b);
}

uint32_t psd_get_be32(psd_file_context* c) {
  uint8_t b[4];
  if (psd_stream_read(c, b, 4) != 4) return 0;
  return pw::LoadBE32(b);
}

double psd_get_be_double(psd_file_context* c) {
  uint8_t b[8];
  if (psd_stream_read(c, b, 8) != 8) return 0.0;
  if constexpr (psd_host_is_little_endian) std::reverse(b, b + 8);
  double d;
  std::memcpy(&d, b, 8);
  return d;
}

bool psd_read_signature(psd_file_context* c, const char key[4]) {
  uint8_t b[4];
  return psd_stream_read(c, b, 4) == 4 && std::memcmp(b, key, 4) == 0;
}

int32_t psd_get_blend_key(psd_file_context* c) {
  static const char* const keys[] = {
      "norm", "diss", "dark", "mul ", "idiv", "lbrn", "lite", "scrn",
      "div ", "lddg", "over", "sLit", "hLit", "vLit", "lLit", "pLit",
      "hMix", "diff", "smud", "hue ", "sat ", "colr", "lum ", "pass"};
  uint8_t b[4];
  if (psd_stream_read(c, b, 4) != 4) return psd_blend_normal;
  for (int32_t i = 0; i < 24; ++i)
    if (std::memcmp(b, keys[i], 4) == 0) return i;
  return psd_blend_normal;
}

psd_argb psd_get_color(psd_file_context* c) {
  int16_t space = psd_get_s16(c);
  int16_t components[4];
  for (int16_t& v : components) {
    uint8_t b[2];
    // Only the high byte of each component is kept, sign-extended.
    v = psd_stream_read(c, b, 2) == 2 ? int16_t(int8_t(b[0])) : 0;
  }
  psd_argb result = 0x00FFFFFF;
  if (psd_color_to_argb(&result, space, components) != 0) return 0x00FFFFFF;
  return result;
}

psd_status psd_read_unicode_string(psd_file_context* c, int64_t end, int32_t* length,
                                   uint16_t** text) {
  int64_t count = psd_bound_count(psd_get_s32(c), 2, psd_bytes_left_until(c, end));
  psd_free(*text);
  *text = nullptr;
  *length = 0;
  if (count <= 0) return 0;
  *text = static_cast<uint16_t*>(psd_alloc(count, 2));
  if (!*text) return psd_status_malloc_failed;
  *length = int32_t(count);
  psd_stream_read(c, *text, int32_t(count * 2));
  return 0;
}
