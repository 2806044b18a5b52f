// Shared by the fuzz target and the replay program: decode one buffer in
// every load mode through memory callbacks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "psddecode/psd.h"

namespace pw_fuzz {

struct Memory {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

inline int64_t Size(void* s) { return int64_t(static_cast<Memory*>(s)->size); }

inline int32_t Seek(void* s, int32_t offset, int32_t origin) {
  auto* m = static_cast<Memory*>(s);
  if (origin != 1) return 0;
  int64_t target = int64_t(m->pos) + offset;
  if (target < 0 || target > int64_t(m->size)) return 0;
  m->pos = size_t(target);
  return 1;
}

inline size_t Read(void* s, void* destination, size_t element, size_t count) {
  auto* m = static_cast<Memory*>(s);
  if (element == 0) return 0;
  size_t n = std::min(count, (m->size - m->pos) / element);
  std::memcpy(destination, m->data + m->pos, n * element);
  m->pos += n * element;
  return n;
}

// Returns the status of load mode 0.
inline psd_status DecodeAllModes(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFFF) return psd_status_no_data;
  psd_status first = 0;
  for (int32_t mode = 0; mode <= 5; ++mode) {
    Memory memory{data, size, 0};
    psd_file_context context{};
    context.stream = &memory;
    context.callbacks = {Size, Seek, Read};
    context.file_length = int32_t(size);
    context.load_mode = mode;
    psd_status s = psd_main_loop(&context);
    if (mode == 0) first = s;
    psd_free_context(&context);
  }
  return first;
}

}  // namespace pw_fuzz
