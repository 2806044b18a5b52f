#include "rawdecode/raw_failure.h"

#include <cstdarg>
#include <cstdio>

#include <sys/mman.h>

#include "rawdecode/raw_stream.h"

namespace {

// The log keeps the first texts of a decode; a hostile file cannot grow it
// without bound.
constexpr size_t message_log_limit = 64 * 1024;

void deliver(raw_decode_context* ctx, const char* text) {
  if (ctx->message_log.size() < message_log_limit) ctx->message_log += text;
  if (ctx->message_callback) ctx->message_callback(ctx->message_user, text);
}

void vmessage(raw_decode_context* ctx, const char* format, va_list args) {
  char text[1024];
  vsnprintf(text, sizeof text, format, args);
  deliver(ctx, text);
}

const char* name_of(const raw_decode_context* ctx) {
  return ctx->message_name ? ctx->message_name : "";
}

}  // namespace

void raw_message(raw_decode_context* ctx, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vmessage(ctx, format, args);
  va_end(args);
}

void raw_verbose(raw_decode_context* ctx, const char* format, ...) {
  if (!ctx->options.verbose_messages) return;
  va_list args;
  va_start(args, format);
  vmessage(ctx, format, args);
  va_end(args);
}

void report_out_of_memory(raw_decode_context* ctx, const void* pointer, const char* place) {
  if (pointer) return;
  char text[512];
  snprintf(text, sizeof text, "%s: Out of memory in %s\n", name_of(ctx), place);
  ctx->message_text = text;
  deliver(ctx, text);
  throw raw_failure(raw_failure_out_of_memory, text);
}

void raw_prefer_large_pages(void* buffer, uint64_t bytes) {
  constexpr uintptr_t block = uintptr_t(2) << 20;
  if (!buffer || bytes < 8 * block) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + block - 1) & ~(block - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + bytes) & ~(block - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void report_data_error(raw_decode_context* ctx) {
  if (ctx->data_error_reported) return;
  ctx->data_error_reported = 1;
  if (ctx->ops && ctx->stream && ctx->ops->eof(ctx->stream)) {
    raw_message(ctx, "%s: Unexpected end of file\n", name_of(ctx));
  } else {
    long long position = ctx->ops && ctx->stream ? ctx->ops->tell(ctx->stream) + ctx->message_position_base : -1;
    raw_message(ctx, "%s: Corrupt data near 0x%llx\n", name_of(ctx), position);
  }
}

void report_table_overflow(raw_decode_context* ctx) {
  char text[512];
  snprintf(text, sizeof text, "%s: decoder table overflow\n", name_of(ctx));
  ctx->message_text = text;
  deliver(ctx, text);
  throw raw_failure(raw_failure_table_overflow, text);
}
