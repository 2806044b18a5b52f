// Helpers shared by the container parsers: directory entries, the parse
// budget and depth, text reads that always end in a zero, locale-free number
// scanning, checked numbers from the file, and a stream swapped in for a
// while (a side file or a block deciphered in memory).
#pragma once

#include <cstdint>
#include <cstring>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_parsers.h"
#include "rawdecode/raw_stream.h"

// One 12-byte directory entry: after read_tiff_entry the stream stands at
// the value (in place, or at base + offset when it does not fit in 4 bytes).
struct tiff_entry {
  unsigned tag = 0, type = 0;
  uint32_t count = 0;
  int64_t end = 0;  // position of the next entry
  bool outside = false;  // the value does not lie wholly inside the data
};
unsigned tiff_type_size(unsigned type);
// True when `bytes` bytes from `at` do not lie wholly inside the data (never
// when its size is unknown).
bool outside_data(const raw_decode_context* ctx, int64_t at, uint64_t bytes);
// How many of a directory's `entries` 12-byte entries, starting at the
// stream's position, the data holds; fewer than stated marks the decode
// damaged (the entries beyond the end are not the file's).
unsigned entries_inside(raw_decode_context* ctx, unsigned entries);
// Goes to a directory another one points to. One outside the data is
// damage: the decode is marked cut and false returned, and the directory is
// not read, so that what lies past the end (a table of 0xFFFF phantom
// entries) costs the file's own tags nothing.
bool seek_directory(raw_decode_context* ctx, int64_t at);
void read_tiff_entry(raw_decode_context* ctx, int64_t base, tiff_entry* entry);
// True when the entry's value runs past the end of the data: the tag is then
// not read (the bytes read there would not be the file's) and the decode is
// marked damaged.
bool tag_value_cut(raw_decode_context* ctx, const tiff_entry& entry);
// One integer value read by its type: 8 bits for BYTE, ASCII and
// UNDEFINED, 16 for SHORT, 32 for LONG (and any type TIFF does not define);
// signed types are sign-extended, fractions and floats give their whole
// part. The field's high half, where a big-endian file keeps a SHORT, is
// never taken for the value.
uint32_t read_by_type(raw_decode_context* ctx, unsigned type);

// Takes `records` from the file's budget; false (and nothing taken) once it
// cannot pay. Work over n values costs 1 + n / 64.
bool parse_charge(raw_decode_context* ctx, uint64_t records = 1);
inline uint64_t parse_cost_of(uint64_t values) { return 1 + values / 64; }

// One level of nesting for as long as it lives; `ok` is false when the depth
// limit or the budget is reached (the walk must then not start).
struct parse_level {
  explicit parse_level(raw_decode_context* c) : ctx(c) {
    ok = ctx->parse.depth < raw_parse_depth_limit && parse_charge(ctx);
    if (ok) ++ctx->parse.depth;
  }
  ~parse_level() {
    if (ok) --ctx->parse.depth;
  }
  parse_level(const parse_level&) = delete;
  parse_level& operator=(const parse_level&) = delete;
  raw_decode_context* ctx;
  bool ok;
};

// Kinds of structure for the visited list.
enum parse_kind : int32_t {
  parse_tiff_ifd = 1,
  parse_exif_ifd,
  parse_gps_ifd,
  parse_kodak_ifd,
  parse_maker_note,
  parse_thumb_note,
  parse_leaf_packet,
  parse_ciff_heap,
  parse_minolta,
  parse_tiff_container,
};
// False when a structure of this kind was already read at the current
// position of the current stream: a cycle or a duplicated child.
bool parse_first_visit(raw_decode_context* ctx, parse_kind kind);

// Bytes from the current position to the end of the data (0 when unknown
// or beyond).
uint64_t parse_bytes_left(raw_decode_context* ctx);
// n, capped so that n values of `size` bytes fit in what is left.
uint64_t parse_cap_count(raw_decode_context* ctx, uint64_t n, unsigned size);
inline void parse_skip(raw_decode_context* ctx, int64_t bytes) { raw_seek(ctx, bytes, 1); }

// Reads `size` bytes into a text field and terminates it at its last byte
// (what the file held may lack the zero).
void read_text(raw_decode_context* ctx, char* text, size_t size);
template <size_t N>
void read_text(raw_decode_context* ctx, char (&text)[N]) {
  read_text(ctx, text, N);
}
// A line of at most limit - 1 characters through the stream's line
// operation; always terminated, empty at the end of the data.
void read_line(raw_decode_context* ctx, char* text, int limit);
// Copies a text into a fixed field, cut to fit.
void set_text(char* field, size_t size, const char* text);
template <size_t N>
void set_text(char (&field)[N], const char* text) {
  set_text(field, N, text);
}
inline bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Locale-free number scanning from the stream, as formatted input does it
// (leading white space skipped, at most 64 characters looked at). The
// character after the number is left unread.
bool scan_stream_float(raw_decode_context* ctx, float* value);
bool scan_stream_int(raw_decode_context* ctx, int* value);
// The same over text; `text` moves past the number.
bool parse_float(const char*& text, double* value);
bool parse_int(const char*& text, long long* value);
// The leading number of a text, 0 when there is none (atoi/atof without
// the locale).
long long text_to_int(const char* text);
double text_to_double(const char* text);

// Values from the file are used only when finite.
inline bool finite_value(double v) { return v == v && v - v == 0; }
inline void set_if_finite(float* field, double v) {
  if (finite_value(v)) *field = float(v);
}
// A float taken from its 32 bits.
inline float float_from_bits(uint32_t bits) {
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}
// Degrees of rotation as the orientation flags: 270 -> 5, 180 -> 3, 90 -> 6,
// anything else 0.
int orientation_from_degrees(int64_t degrees);
// Seconds since 1970 of a local date and time; 0 when it cannot be had.
int64_t local_time_seconds(long long year, long long month, long long day, long long hour,
                           long long minute, long long second);

// Swaps another stream into the context for as long as it lives, then puts
// the previous operations, handle, size and position back.
struct parse_stream_swap {
  parse_stream_swap(raw_decode_context* c, const raw_stream_ops* ops, void* handle);
  ~parse_stream_swap();
  parse_stream_swap(const parse_stream_swap&) = delete;
  parse_stream_swap& operator=(const parse_stream_swap&) = delete;
  raw_decode_context* ctx;
  const raw_stream_ops* saved_ops;
  void* saved_stream;
  int64_t saved_size;
  int64_t saved_position;
};

// Records a loader choice; identification installs the routine. A choice
// replaces any routine installed before.
inline void choose_loader(raw_decode_context* ctx, raw_loader_name name) {
  ctx->raw_loader_choice = name;
  ctx->raw_loader = nullptr;
}
inline bool loader_chosen(const raw_decode_context* ctx) {
  return ctx->raw_loader || ctx->raw_loader_choice != raw_loader_name::none;
}
inline void choose_thumb_writer(raw_decode_context* ctx, raw_thumb_name name) {
  ctx->thumb_writer_choice = name;
  ctx->thumb_writer = nullptr;
}
inline void choose_thumb_loader(raw_decode_context* ctx, raw_loader_name name) {
  ctx->thumb_loader_choice = name;
  ctx->thumb_loader = nullptr;
}
