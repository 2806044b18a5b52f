#include "rawdecode/raw_parse_util.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <string>

unsigned tiff_type_size(unsigned type) {
  static constexpr char sizes[] = "11124811248488";
  return type < 14 ? unsigned(sizes[type] - '0') : 1;
}

void read_tiff_entry(raw_decode_context* ctx, int64_t base, tiff_entry* entry) {
  entry->tag = read_u16(ctx);
  entry->type = read_u16(ctx);
  entry->count = read_u32(ctx);
  entry->end = raw_tell(ctx) + 4;
  const uint64_t bytes = uint64_t{entry->count} * tiff_type_size(entry->type);
  int64_t at = entry->end - 4;
  if (bytes > 4) {
    at = base + int64_t(read_u32(ctx));
    raw_seek(ctx, at, 0);
  }
  entry->outside = outside_data(ctx, at, std::max<uint64_t>(bytes, 1));
}

bool outside_data(const raw_decode_context* ctx, int64_t at, uint64_t bytes) {
  return ctx->stream_size >= 0 && (at < 0 || uint64_t(at) + bytes > uint64_t(ctx->stream_size));
}

unsigned entries_inside(raw_decode_context* ctx, unsigned entries) {
  if (ctx->stream_size < 0) return entries;
  const int64_t at = raw_tell(ctx);
  const uint64_t room = at < ctx->stream_size ? uint64_t(ctx->stream_size - at) / 12 : 0;
  if (entries <= room) return entries;
  ctx->tag_value_cut = 1;
  return unsigned(room);
}

bool seek_directory(raw_decode_context* ctx, int64_t at) {
  if (outside_data(ctx, at, 2)) {
    ctx->tag_value_cut = 1;
    return false;
  }
  raw_seek(ctx, at, 0);
  return true;
}

bool tag_value_cut(raw_decode_context* ctx, const tiff_entry& entry) {
  if (!entry.outside) return false;
  ctx->tag_value_cut = 1;
  return true;
}

uint32_t read_by_type(raw_decode_context* ctx, unsigned type) {
  switch (type) {
    case 1: case 2: case 7: return uint32_t(raw_getc(ctx) & 0xFF);
    case 6: return uint32_t(int32_t(int8_t(raw_getc(ctx) & 0xFF)));
    case 3: return read_u16(ctx);
    case 8: return uint32_t(int32_t(int16_t(read_u16(ctx))));
    case 5: case 10: case 11: case 12: {
      // a number stored as a fraction or a float: its whole part
      const double v = read_real(ctx, int(type));
      if (!finite_value(v)) return 0;
      return uint32_t(int64_t(v < INT32_MIN ? INT32_MIN : v > UINT32_MAX ? UINT32_MAX : v));
    }
    default: return read_u32(ctx);  // LONG, SLONG, IFD, and types TIFF does not define
  }
}

bool parse_charge(raw_decode_context* ctx, uint64_t records) {
  if (records > ctx->parse.records_left) {
    ctx->parse.records_left = 0;  // once out, every later walk ends at once
    return false;
  }
  ctx->parse.records_left -= uint32_t(records);
  return true;
}

bool parse_first_visit(raw_decode_context* ctx, parse_kind kind) {
  raw_parse_state& p = ctx->parse;
  const int64_t position = raw_tell(ctx);
  for (int i = 0; i < p.visited_count; ++i) {
    const raw_parse_visit& v = p.visited[i];
    if (v.kind == kind && v.position == position && v.stream == ctx->stream) return false;
  }
  if (p.visited_count < raw_parse_visited_size) p.visited[p.visited_count++] = {ctx->stream, position, kind};
  return true;
}

uint64_t parse_bytes_left(raw_decode_context* ctx) {
  int64_t size = ctx->stream_size < 0 ? INT32_MAX : ctx->stream_size;
  int64_t here = raw_tell(ctx);
  return here >= 0 && here < size ? uint64_t(size - here) : 0;
}

uint64_t parse_cap_count(raw_decode_context* ctx, uint64_t n, unsigned size) {
  uint64_t most = parse_bytes_left(ctx) / (size ? size : 1);
  return n < most ? n : most;
}

void read_text(raw_decode_context* ctx, char* text, size_t size) {
  if (!size) return;
  memset(text, 0, size);
  raw_read(ctx, text, 1, size);
  text[size - 1] = 0;
}

void read_line(raw_decode_context* ctx, char* text, int limit) {
  if (limit < 1) return;
  text[0] = 0;
  if (!ctx->ops->gets(ctx->stream, text, limit)) text[0] = 0;
  text[limit - 1] = 0;
}

void set_text(char* field, size_t size, const char* text) {
  if (!size) return;
  snprintf(field, size, "%s", text);
}

// ---- numbers without the locale ---------------------------------------------------

namespace {

bool number_char(char c, bool is_float) {
  if (isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-') return true;
  return is_float && (c == '.' || c == 'e' || c == 'E');
}

// Collects white space and then the characters a number may hold.
bool scan_stream_token(raw_decode_context* ctx, bool is_float, std::string* token) {
  int c = raw_getc(ctx);
  int looked = 1;
  while (c >= 0 && isspace(c) && looked < 64) {
    c = raw_getc(ctx);
    ++looked;
  }
  while (c >= 0 && number_char(char(c), is_float) && looked < 64) {
    *token += char(c);
    c = raw_getc(ctx);
    ++looked;
  }
  if (c >= 0) raw_seek(ctx, -1, 1);  // leave the character after the number
  return !token->empty();
}

}  // namespace

bool parse_float(const char*& text, double* value) {
  const char* p = text;
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+') ++p;
  const char* end = p + strlen(p);
  auto r = std::from_chars(p, end, *value, std::chars_format::general);
  if (r.ec != std::errc()) return false;
  text = r.ptr;
  return true;
}

bool parse_int(const char*& text, long long* value) {
  const char* p = text;
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+') ++p;
  const char* end = p + strlen(p);
  auto r = std::from_chars(p, end, *value);
  if (r.ec == std::errc::result_out_of_range) {  // as strtol clamps
    *value = *p == '-' ? INT32_MIN : INT32_MAX;
    const char* q = p + (*p == '-');
    while (isdigit(static_cast<unsigned char>(*q))) ++q;
    text = q;
    return true;
  }
  if (r.ec != std::errc()) return false;
  text = r.ptr;
  return true;
}

bool scan_stream_float(raw_decode_context* ctx, float* value) {
  std::string token;
  if (!scan_stream_token(ctx, true, &token)) return false;
  const char* p = token.c_str();
  double v;
  if (!parse_float(p, &v) || !finite_value(v)) return false;
  *value = float(v);
  return true;
}

bool scan_stream_int(raw_decode_context* ctx, int* value) {
  std::string token;
  if (!scan_stream_token(ctx, false, &token)) return false;
  const char* p = token.c_str();
  long long v;
  if (!parse_int(p, &v)) return false;
  *value = int(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  return true;
}

long long text_to_int(const char* text) {
  long long v = 0;
  if (!parse_int(text, &v)) return 0;
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v;
}

double text_to_double(const char* text) {
  double v = 0;
  if (!parse_float(text, &v) || !finite_value(v)) return 0;
  return v;
}

int orientation_from_degrees(int64_t degrees) {
  switch (((degrees % 360) + 360) % 360) {
    case 270: return 5;
    case 180: return 3;
    case 90: return 6;
    default: return 0;
  }
}

int64_t local_time_seconds(long long year, long long month, long long day, long long hour,
                           long long minute, long long second) {
  // Far beyond any shooting date: leave it (and the run time's own
  // arithmetic) alone.
  const long long far = 1000000;
  if (year < 1900 || year > 100000) return 0;
  for (long long v : {month, day, hour, minute, second})
    if (v < -far || v > far) return 0;
  struct tm t = {};
  t.tm_year = int(year - 1900);
  t.tm_mon = int(month - 1);
  t.tm_mday = int(day);
  t.tm_hour = int(hour);
  t.tm_min = int(minute);
  t.tm_sec = int(second);
  t.tm_isdst = 0;
  time_t s = mktime(&t);
  return s == time_t(-1) ? 0 : int64_t(s);
}

// ---- swapped streams ---------------------------------------------------------------

parse_stream_swap::parse_stream_swap(raw_decode_context* c, const raw_stream_ops* ops, void* handle)
    : ctx(c),
      saved_ops(c->ops),
      saved_stream(c->stream),
      saved_size(c->stream_size),
      saved_position(c->ops && c->stream ? raw_tell(c) : 0) {
  raw_set_stream(ctx, ops, handle);
}

parse_stream_swap::~parse_stream_swap() {
  ctx->ops = saved_ops;
  ctx->stream = saved_stream;
  ctx->stream_size = saved_size;
  if (ctx->ops && ctx->stream) ctx->ops->seek(ctx->stream, int32_t(saved_position), 0);
}
