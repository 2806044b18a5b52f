#include "rawdecode/raw_stream.h"

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <string>

#include "rawdecode/raw_failure.h"

// ---- standard I/O instance ----------------------------------------------

namespace {

FILE* file_of(void* handle) { return static_cast<FILE*>(handle); }

size_t stdio_read(void* h, void* buffer, size_t size, size_t count) {
  return fread(buffer, size, count, file_of(h));
}
size_t stdio_write(void* h, const void* buffer, size_t size, size_t count) {
  return fwrite(buffer, size, count, file_of(h));
}
int stdio_seek(void* h, int32_t offset, int origin) {
  static_assert(SEEK_SET == 0 && SEEK_CUR == 1 && SEEK_END == 2);
  return fseek(file_of(h), offset, origin);
}
int stdio_close(void* h) { return fclose(file_of(h)); }
char* stdio_gets(void* h, char* buffer, int size) { return fgets(buffer, size, file_of(h)); }
int stdio_eof(void* h) { return feof(file_of(h)); }
int32_t stdio_tell(void* h) {
  long p = ftell(file_of(h));
  return p > INT32_MAX ? INT32_MAX : static_cast<int32_t>(p);
}
int stdio_getc(void* h) { return fgetc(file_of(h)); }
int stdio_scanf(void* h, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfscanf(file_of(h), format, args);
  va_end(args);
  return n;
}

// ---- memory instance ------------------------------------------------------

raw_memory_stream* mem_of(void* handle) { return static_cast<raw_memory_stream*>(handle); }

size_t mem_read(void* h, void* buffer, size_t size, size_t count) {
  raw_memory_stream* m = mem_of(h);
  if (size == 0 || count == 0) return 0;
  size_t left = m->position < m->size ? m->size - m->position : 0;
  if (left == 0) {
    m->at_end = true;
    return 0;
  }
  size_t whole = left / size < count ? left / size : count;
  if (whole < count) m->at_end = true;
  memcpy(buffer, m->data + m->position, whole * size);
  m->position += whole * size;
  if (whole < count) {  // a partial element is consumed, as fread does
    size_t part = left - whole * size;
    memcpy(static_cast<uint8_t*>(buffer) + whole * size, m->data + m->position, part);
    m->position += part;
  }
  return whole;
}
size_t mem_write(void*, const void*, size_t, size_t) { return 0; }
int mem_seek(void* h, int32_t offset, int origin) {
  raw_memory_stream* m = mem_of(h);
  int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(m->position) : int64_t(m->size);
  int64_t target = base + offset;
  if (target < 0) return -1;
  m->position = static_cast<size_t>(target);
  m->at_end = false;
  return 0;
}
int mem_close(void*) { return 0; }
int mem_getc(void* h) {
  raw_memory_stream* m = mem_of(h);
  if (m->position >= m->size) {
    m->at_end = true;
    return -1;
  }
  return m->data[m->position++];
}
char* mem_gets(void* h, char* buffer, int size) {
  if (size <= 0) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = mem_getc(h);
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0) return nullptr;
  buffer[n] = 0;
  return buffer;
}
int mem_eof(void* h) { return mem_of(h)->at_end ? 1 : 0; }
int32_t mem_tell(void* h) {
  size_t p = mem_of(h)->position;
  return p > INT32_MAX ? INT32_MAX : static_cast<int32_t>(p);
}
// Formatted input over memory: the text ahead (at most 4 KB) is scanned with
// vsscanf; the position then moves past what a copy of the format with every
// conversion suppressed consumes. When that copy stops early, only leading
// white space is consumed.
int mem_scanf(void* h, const char* format, ...) {
  raw_memory_stream* m = mem_of(h);
  if (m->position >= m->size) {
    m->at_end = true;
    return EOF;
  }
  size_t n = m->size - m->position;
  if (n > 4096) n = 4096;
  std::string text(reinterpret_cast<const char*>(m->data + m->position), n);
  text = text.c_str();  // stop at an embedded zero, as a C string would
  va_list args;
  va_start(args, format);
  int fields = vsscanf(text.c_str(), format, args);
  va_end(args);
  std::string quiet;
  for (const char* f = format; *f; ++f) {
    quiet += *f;
    if (*f == '%') {
      if (f[1] == '%') {
        quiet += *++f;
      } else if (f[1] != '*') {
        quiet += '*';
      }
    }
  }
  quiet += "%n";
  int consumed = -1;
  sscanf(text.c_str(), quiet.c_str(), &consumed);
  if (consumed < 0) {
    consumed = 0;
    while (consumed < int(text.size()) && isspace(static_cast<unsigned char>(text[consumed])))
      ++consumed;
  }
  m->position += consumed;
  if (fields == EOF) m->at_end = true;
  return fields;
}

}  // namespace

const raw_stream_ops raw_stdio_ops = {stdio_read, stdio_write, stdio_seek, stdio_close, stdio_gets,
                                      stdio_eof,  stdio_tell,  stdio_getc, stdio_scanf};

const raw_stream_ops raw_memory_ops = {mem_read, mem_write, mem_seek, mem_close, mem_gets,
                                       mem_eof,  mem_tell,  mem_getc, mem_scanf};

// ---- bounded access -------------------------------------------------------

bool raw_seek(raw_decode_context* ctx, int64_t offset, int origin) {
  int64_t base = 0;
  if (origin == 1) base = raw_tell(ctx);
  if (origin == 2) base = ctx->stream_size < 0 ? 0 : ctx->stream_size;
  int64_t target = base + offset;
  int64_t limit = ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size;
  bool inside = target >= 0 && target <= limit;
  if (target < 0) target = 0;
  if (target > limit) target = limit;
  ctx->ops->seek(ctx->stream, static_cast<int32_t>(target), 0);
  return inside;
}

int64_t raw_tell(raw_decode_context* ctx) { return ctx->ops->tell(ctx->stream); }
int raw_getc(raw_decode_context* ctx) { return ctx->ops->getc(ctx->stream); }
size_t raw_read(raw_decode_context* ctx, void* buffer, size_t size, size_t count) {
  return ctx->ops->read(ctx->stream, buffer, size, count);
}

// ---- byte-order readers -----------------------------------------------------

namespace {

bool file_is_little_endian(const raw_decode_context* ctx) { return ctx->byte_order == 0x4949; }
constexpr bool host_is_little_endian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

}  // namespace

uint16_t read_u16(raw_decode_context* ctx) {
  uint8_t b[2] = {0xFF, 0xFF};
  raw_read(ctx, b, 1, 2);
  return u16_in_file_order(ctx, b);
}

uint32_t read_u32(raw_decode_context* ctx) {
  uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  raw_read(ctx, b, 1, 4);
  return u32_in_file_order(ctx, b);
}

double read_real(raw_decode_context* ctx, int type) {
  switch (type) {
    case 3: return read_u16(ctx);
    case 4: return read_u32(ctx);
    case 5: {
      double num = read_u32(ctx);
      return num / read_u32(ctx);
    }
    case 8: return int16_t(read_u16(ctx));
    case 9: return int32_t(read_u32(ctx));
    case 10: {
      double num = int32_t(read_u32(ctx));
      return num / int32_t(read_u32(ctx));
    }
    case 11: {
      uint32_t bits = read_u32(ctx);
      float f;
      memcpy(&f, &bits, sizeof f);
      return f;
    }
    case 12: {
      uint8_t b[8];
      bool reverse = file_is_little_endian(ctx) != host_is_little_endian;
      for (int i = 0; i < 8; ++i) {
        int c = raw_getc(ctx);
        b[reverse ? 7 - i : i] = static_cast<uint8_t>(c);
      }
      double d;
      memcpy(&d, b, sizeof d);
      return d;
    }
    default: return raw_getc(ctx);
  }
}

void read_u16_array(raw_decode_context* ctx, uint16_t* destination, size_t count) {
  size_t got = raw_read(ctx, destination, 2, count);
  if (got < count) {
    report_data_error(ctx);
    memset(destination + got, 0, (count - got) * 2);  // never leave stale values behind
  }
  if (file_is_little_endian(ctx) != host_is_little_endian) {
    for (size_t i = 0; i < count; ++i)
      destination[i] = uint16_t(destination[i] << 8 | destination[i] >> 8);
  }
}

// ---- CFA colours --------------------------------------------------------------

namespace {

const uint8_t cfa_table_16[16][16] = {
    {2, 1, 1, 3, 2, 3, 2, 0, 3, 2, 3, 0, 1, 2, 1, 0}, {0, 3, 0, 2, 0, 1, 3, 1, 0, 1, 1, 2, 0, 3, 3, 2},
    {2, 3, 3, 2, 3, 1, 1, 3, 3, 1, 2, 1, 2, 0, 0, 3}, {0, 1, 0, 1, 0, 2, 0, 2, 2, 0, 3, 0, 1, 3, 2, 1},
    {3, 1, 1, 2, 0, 1, 0, 2, 1, 3, 1, 3, 0, 1, 3, 0}, {2, 0, 0, 3, 3, 2, 3, 1, 2, 0, 2, 0, 3, 2, 2, 1},
    {2, 3, 3, 1, 2, 1, 2, 1, 2, 1, 1, 2, 3, 0, 0, 1}, {1, 0, 0, 2, 3, 0, 0, 3, 0, 3, 0, 3, 2, 1, 2, 3},
    {2, 3, 3, 1, 1, 2, 1, 0, 3, 2, 3, 0, 2, 3, 1, 3}, {1, 0, 2, 0, 3, 0, 3, 2, 0, 1, 1, 2, 0, 1, 0, 2},
    {0, 1, 1, 3, 3, 2, 2, 1, 1, 3, 3, 0, 2, 1, 3, 2}, {2, 3, 2, 0, 0, 1, 3, 0, 2, 0, 1, 2, 3, 0, 1, 0},
    {1, 3, 1, 2, 3, 2, 3, 2, 0, 2, 0, 1, 1, 0, 3, 0}, {0, 2, 0, 3, 1, 0, 0, 1, 1, 3, 3, 2, 3, 2, 2, 1},
    {2, 1, 3, 2, 3, 1, 2, 1, 0, 3, 0, 2, 0, 2, 0, 2}, {0, 3, 1, 0, 0, 2, 0, 3, 2, 1, 3, 1, 1, 3, 1, 3},
};

// Non-negative remainder: the demosaicers ask for rows and columns -1 and -2.
int64_t wrap(int64_t v, int64_t m) { return ((v % m) + m) % m; }

}  // namespace

int cfa_colour_at(const raw_decode_context* ctx, int row, int column) {
  if (ctx->cfa_pattern == 1) {
    return cfa_table_16[wrap(int64_t{row} + ctx->top_margin, 16)]
                       [wrap(int64_t{column} + ctx->left_margin, 16)];
  }
  int k = int(2 * wrap(row, 8) + wrap(column, 2));
  return (ctx->cfa_pattern >> (2 * k)) & 3;
}
