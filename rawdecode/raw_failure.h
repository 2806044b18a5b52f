// Failures and messages of the RAW decoder.
//
// A failure that ends the decode (out of memory, decoder-table overflow)
// throws raw_failure with its code; whoever owns the context catches it.
// Every buffer is owned by RAII, so unwinding frees everything. Data errors
// are reported once per file and decoding goes on.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>

#include "rawdecode/raw_context.h"

enum raw_failure_code : int {
  raw_failure_out_of_memory = 1,
  raw_failure_table_overflow = 2,
};

struct raw_failure : std::runtime_error {
  raw_failure(int code_, const std::string& text) : std::runtime_error(text), code(code_) {}
  int code;
};

// Largest single allocation the decoder makes (bytes); anything larger is
// treated as out of memory.
constexpr uint64_t raw_allocation_limit = uint64_t{1} << 31;

// printf-style text to the context's message sink.
void raw_message(raw_decode_context* ctx, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// The same, only when verbose_messages is set.
void raw_verbose(raw_decode_context* ctx, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Does nothing when `pointer` is set; otherwise writes
// "<name>: Out of memory in <place>\n" and throws code 1.
void report_out_of_memory(raw_decode_context* ctx, const void* pointer, const char* place);
// Reports the first data error of the file; decoding continues.
void report_data_error(raw_decode_context* ctx);
// Writes "<name>: decoder table overflow\n" and throws code 2.
[[noreturn]] void report_table_overflow(raw_decode_context* ctx);

// Asks for 2 MB pages over the whole 2 MB blocks of a large buffer: the
// first touch of a 24-megapixel picture then takes a hundred page faults
// instead of fifty thousand. A hint only; the contents are not changed.
void raw_prefer_large_pages(void* buffer, uint64_t bytes);

// A zeroed pixel buffer (calloc), or an out-of-memory failure as raw_alloc.
inline raw_pixel_buffer raw_alloc_pixels(raw_decode_context* ctx, uint64_t count, const char* place) {
  raw_pixel* p = nullptr;
  if (count <= raw_allocation_limit / sizeof(raw_pixel))
    p = static_cast<raw_pixel*>(calloc(count ? count : 1, sizeof(raw_pixel)));
  report_out_of_memory(ctx, p, place);
  raw_prefer_large_pages(p, count * sizeof(raw_pixel));
  return raw_pixel_buffer(p);
}

// A zeroed array of `count` values, or an out-of-memory failure naming
// `place` when the size is beyond raw_allocation_limit or cannot be had.
template <class T>
std::unique_ptr<T[]> raw_alloc(raw_decode_context* ctx, uint64_t count, const char* place) {
  T* p = nullptr;
  if (count <= raw_allocation_limit / sizeof(T)) p = new (std::nothrow) T[count ? count : 1]();
  report_out_of_memory(ctx, p, place);
  return std::unique_ptr<T[]>(p);
}
