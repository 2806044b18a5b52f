// DNGs written here and then damaged in one place each, decoded as the RAW
// format decodes them: directory pointers past the end of the file, offset
// lists shorter than the pieces, compressions and frame precisions the file
// contradicts, values stored in a wider type than usual, files cut before
// their EXIF directory. What the damage leaves sound must come out exactly
// as from the intact file, and the decode must say it was damaged.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_segments.h"
#include "rawdecode/raw_stream.h"

using namespace rawtest;

namespace {

constexpr int kWidth = 40, kHeight = 30;

// The stored value at a position: no wrong placement reproduces it.
uint16_t Scene(int row, int col) { return uint16_t(64 + (row * 53 + col * 29) % 3000); }

struct Spec {
  bool little = true;
  bool lossless = false;
  bool tiles = false;     // 16 x 16 tiles; else strips of 8 rows
  bool sub_ifd = false;   // an RGB preview in IFD0, the raw data in a sub-directory
  uint32_t bits = 16;     // BitsPerSample; uncompressed data is stored in 16 bits
  int precision = 12;     // the lossless frames' precision
  uint16_t int_type = 3;  // type of BitsPerSample, Compression, Photometric, Orientation
  int orientation = 0;    // 0: no Orientation tag
};

// One piece's stored bytes: rows [top, top + h) x columns [left, left + w),
// positions past the picture holding 0.
std::vector<uint8_t> EncodePiece(const Spec& s, int top, int left, int w, int h) {
  std::vector<uint16_t> values;
  for (int r = top; r < top + h; ++r)
    for (int c = left; c < left + w; ++c) values.push_back(r < kHeight && c < kWidth ? Scene(r, c) : 0);
  if (!s.lossless) {
    ByteSink out(s.little);
    for (uint16_t v : values) out.U16(v);
    return out.bytes;
  }
  LjpegParams p;
  p.components = 2;
  p.precision = s.precision;
  p.width = w / 2;
  p.height = h;
  return EncodeLjpeg(p, values);
}

TiffIfd& Integer(TiffIfd& d, uint16_t type, uint16_t tag, uint32_t v) {
  return type == 3 ? d.Short(tag, {v}) : d.Long(tag, {v});
}

// A Bayer DNG with a colour matrix, the white balance as shot, a black and
// a white level, and an EXIF (with an interoperability directory), a GPS
// and a Kodak directory. The EXIF directory is the last thing in the file.
std::vector<uint8_t> WriteDng(const Spec& s) {
  TiffWriter w(s.little);
  TiffIfd& ifd0 = w.NewIfd(true);
  TiffIfd& raw = s.sub_ifd ? w.NewIfd(false) : ifd0;
  TiffIfd& kodak = w.NewIfd(false);
  TiffIfd& gps = w.NewIfd(false);
  TiffIfd& interop = w.NewIfd(false);
  TiffIfd& exif = w.NewIfd(false);
  if (s.sub_ifd) {
    ifd0.Long(254, {1}).Image(16, 12, 8, 1, 2, 3).Strip(std::vector<uint8_t>(16 * 12 * 3, 0x80));
    ifd0.Pointers(330, {&raw});
  }
  ifd0.Ascii(271, "Pixelwharf").Ascii(272, "Damage Test");
  if (s.orientation) Integer(ifd0, s.int_type, 274, uint32_t(s.orientation));
  ifd0.Pointers(33424, {&kodak}).Pointers(34665, {&exif}).Pointers(34853, {&gps});
  ifd0.Bytes(50706, 1, {1, 4, 0, 0});
  ifd0.SRational(50721, {{6722, 10000}, {-635, 10000}, {-963, 10000}, {-4287, 10000}, {12460, 10000},
                         {2028, 10000}, {-908, 10000}, {2162, 10000}, {5668, 10000}});
  ifd0.Rational(50728, {{1, 2}, {1, 1}, {7, 10}});

  raw.Long(254, {0}).Long(256, {kWidth}).Long(257, {kHeight});
  Integer(raw, s.int_type, 258, s.bits);
  Integer(raw, s.int_type, 259, s.lossless ? 7 : 1);
  Integer(raw, s.int_type, 262, 32803);
  raw.Short(277, {1}).Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2});
  raw.Short(50714, {64}).Long(50717, {4095});
  std::vector<std::vector<uint8_t>> pieces;
  if (s.tiles) {
    raw.Long(322, {16}).Long(323, {16});
    for (int t = 0; t < kHeight; t += 16)
      for (int u = 0; u < kWidth; u += 16) pieces.push_back(EncodePiece(s, t, u, 16, 16));
  } else {
    raw.Long(278, {8});
    for (int t = 0; t < kHeight; t += 8) pieces.push_back(EncodePiece(s, t, 0, kWidth, std::min(8, kHeight - t)));
  }
  raw.Pieces(s.tiles, pieces);

  kodak.Short(6020, {100});
  gps.Bytes(0, 1, {2, 3, 0, 0}).Ascii(1, "N").Rational(2, {{52, 1}, {30, 1}, {0, 1}});
  interop.Ascii(1, "R98");
  // Values that fit in their entries only: nothing of the EXIF directory
  // lies after its table.
  exif.Short(34850, {2}).Short(34855, {200}).Pointers(40965, {&interop});
  return w.Bytes();
}

// ---- finding and changing entries of the written file ---------------------

uint32_t Get(const std::vector<uint8_t>& b, bool little, size_t at, int size) {
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) v |= uint32_t(b[at + size_t(i)]) << (little ? 8 * i : 8 * (size - 1 - i));
  return v;
}
void Put(std::vector<uint8_t>& b, bool little, size_t at, int size, uint32_t v) {
  for (int i = 0; i < size; ++i) b[at + size_t(i)] = uint8_t(v >> (little ? 8 * i : 8 * (size - 1 - i)));
}

// The position of the entry for `tag` in the directory at `dir`.
size_t EntryOf(const std::vector<uint8_t>& b, bool little, size_t dir, uint16_t tag) {
  const size_t n = Get(b, little, dir, 2);
  for (size_t k = 0; k < n; ++k)
    if (Get(b, little, dir + 2 + 12 * k, 2) == tag) return dir + 2 + 12 * k;
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}
size_t Ifd0(const std::vector<uint8_t>& b, bool little) { return Get(b, little, 4, 4); }
// The directory a pointer tag of IFD0 leads to.
size_t Child(const std::vector<uint8_t>& b, bool little, uint16_t tag) {
  return Get(b, little, EntryOf(b, little, Ifd0(b, little), tag) + 8, 4);
}
size_t RawIfd(const std::vector<uint8_t>& b, const Spec& s) {
  return s.sub_ifd ? Child(b, s.little, 330) : Ifd0(b, s.little);
}

// ---- decoding as the RAW format does, counting the reads --------------------

struct CountedStream {
  raw_memory_stream memory;
  uint64_t reads = 0;  // read, line, byte and scan operations
};
CountedStream* Counted(void* s) { return static_cast<CountedStream*>(s); }
size_t CountedRead(void* s, void* buffer, size_t size, size_t count) {
  ++Counted(s)->reads;
  return raw_memory_ops.read(&Counted(s)->memory, buffer, size, count);
}
size_t CountedWrite(void* s, const void* buffer, size_t size, size_t count) {
  return raw_memory_ops.write(&Counted(s)->memory, buffer, size, count);
}
int CountedSeek(void* s, int32_t offset, int origin) { return raw_memory_ops.seek(&Counted(s)->memory, offset, origin); }
int CountedClose(void* s) { return raw_memory_ops.close(&Counted(s)->memory); }
char* CountedGets(void* s, char* buffer, int size) {
  ++Counted(s)->reads;
  return raw_memory_ops.gets(&Counted(s)->memory, buffer, size);
}
int CountedEof(void* s) { return raw_memory_ops.eof(&Counted(s)->memory); }
int32_t CountedTell(void* s) { return raw_memory_ops.tell(&Counted(s)->memory); }
int CountedGetc(void* s) {
  ++Counted(s)->reads;
  return raw_memory_ops.getc(&Counted(s)->memory);
}
int CountedScanf(void* s, const char* format, ...) {
  ++Counted(s)->reads;
  va_list args;
  va_start(args, format);
  void* output = va_arg(args, void*);
  va_end(args);
  return raw_memory_ops.scanf(&Counted(s)->memory, format, output);
}
const raw_stream_ops kCountedOps = {CountedRead, CountedWrite, CountedSeek, CountedClose, CountedGets,
                                    CountedEof,  CountedTell,  CountedGetc, CountedScanf};

struct Decoded {
  std::vector<uint8_t> bytes;
  CountedStream stream;
  std::unique_ptr<raw_decode_context> ctx;
  uint64_t identify_reads = 0;       // stream reads of identification
  uint32_t identify_records = 0;     // parse budget identification spent
  std::vector<uint16_t> loaded;      // the samples as loaded, 4 per position
  std::vector<uint16_t> cfa_values;  // the loaded sample of each position's colour
  std::vector<uint16_t> developed;   // after balance, demosaic and colour
  bool damaged = false;
  bool loaded_ok = false;
};

std::vector<uint16_t> PixelsOf(const raw_decode_context* ctx) {
  std::vector<uint16_t> v(size_t(ctx->pixel_count) * 4);
  memcpy(v.data(), ctx->pixels.get(), v.size() * sizeof(uint16_t));
  return v;
}

// Identification, the loader, then (on request) the colour steps of the RAW
// format: the camera's white balance (the grey world when the file gives no
// colours), bilinear demosaic and the conversion to sRGB.
std::unique_ptr<Decoded> Decode(std::vector<uint8_t> bytes, bool develop = true) {
  auto d = std::make_unique<Decoded>();
  d->bytes = std::move(bytes);
  d->stream.memory = raw_memory_stream{d->bytes.data(), d->bytes.size(), 0, false};
  d->ctx = raw_context_create();
  raw_decode_context* ctx = d->ctx.get();
  ctx->message_name = "test";
  raw_set_stream(ctx, &kCountedOps, &d->stream);
  probe_raw_file(ctx);
  d->identify_reads = d->stream.reads;
  d->identify_records = raw_parse_record_budget - ctx->parse.records_left;
  if (!ctx->raw_image_count || !ctx->raw_loader) return d;
  ctx->options.camera_white_balance = 1;
  if (ctx->raw_colour_flag && (ctx->camera_multipliers[0] == 0 || ctx->camera_multipliers[2] == 0))
    ctx->options.auto_white_balance = 1;
  raw_allocate_pixels(ctx, "test");
  ctx->data_error_reported = 0;
  if (!raw_seek(ctx, ctx->raw_data_offset, 0)) report_outside_file(ctx);
  ctx->raw_loader(ctx);
  d->loaded_ok = true;
  d->loaded = PixelsOf(ctx);
  // The demosaic may renumber the colours: take each position's sample now.
  if (ctx->image_width == kWidth && ctx->image_height == kHeight && ctx->cfa_pattern)
    for (int r = 0; r < kHeight; ++r)
      for (int c = 0; c < kWidth; ++c)
        d->cfa_values.push_back(d->loaded[(size_t(r) * ctx->buffer_width + c) * 4 + cfa_colour_at(ctx, r, c)]);
  if (develop) {
    scale_colors(ctx);
    pre_interpolate(ctx);
    bilinear_demosaic(ctx);
    convert_to_rgb(ctx);
    d->developed = PixelsOf(ctx);
  }
  d->damaged = ctx->data_error_reported || ctx->tag_value_cut;
  return d;
}

// Loaded positions that differ from the scene, and those that hold a value
// other than 0 (what a piece never read leaves).
struct Tally {
  int wrong = 0, nonzero = 0;
};
Tally Count(const Decoded& d, std::function<bool(int row, int col)> where = nullptr) {
  Tally t;
  if (d.cfa_values.size() != size_t(kWidth) * kHeight) {
    ADD_FAILURE() << "no picture of " << kWidth << " x " << kHeight << " was loaded";
    return t;
  }
  for (int r = 0; r < kHeight; ++r)
    for (int c = 0; c < kWidth; ++c) {
      if (where && !where(r, c)) continue;
      const uint16_t v = d.cfa_values[size_t(r) * kWidth + c];
      t.wrong += v != Scene(r, c);
      t.nonzero += v != 0;
    }
  return t;
}

// Everything the picture is made from, and the picture.
void ExpectSamePicture(const Decoded& want, const Decoded& got) {
  const raw_decode_context* a = want.ctx.get();
  const raw_decode_context* b = got.ctx.get();
  ASSERT_TRUE(got.loaded_ok);
  EXPECT_EQ(b->image_width, a->image_width);
  EXPECT_EQ(b->image_height, a->image_height);
  EXPECT_EQ(b->black_level, a->black_level);
  EXPECT_EQ(b->white_level, a->white_level);
  EXPECT_EQ(b->raw_colour_flag, a->raw_colour_flag);
  for (int c = 0; c < 4; ++c) {
    EXPECT_FLOAT_EQ(b->camera_multipliers[c], a->camera_multipliers[c]) << c;
    EXPECT_FLOAT_EQ(b->pre_multipliers[c], a->pre_multipliers[c]) << c;
  }
  for (int i = 0; i < 3; ++i)
    for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(b->rgb_from_camera[i][c], a->rgb_from_camera[i][c]) << i << c;
  EXPECT_TRUE(got.loaded == want.loaded);
  EXPECT_TRUE(got.developed == want.developed);
}

}  // namespace

// A directory pointer past the end of the file (EXIF, GPS, Kodak in IFD0,
// interoperability in the EXIF directory) costs that directory and nothing
// else: the size, levels, white balance, colour matrix and picture are the
// intact file's, and the decode is marked damaged.
TEST(RawDngDamage, DirectoryPointerPastTheEndCostsOnlyThatDirectory) {
  struct Pointer {
    const char* name;
    uint16_t parent, tag;  // parent 0: IFD0
  } pointers[] = {{"EXIF", 0, 34665}, {"GPS", 0, 34853}, {"Kodak", 0, 33424}, {"interoperability", 34665, 40965}};
  for (bool little : {true, false})
    for (bool lossless : {false, true})
      for (bool sub_ifd : {false, true}) {
        Spec s;
        s.little = little;
        s.lossless = lossless;
        s.tiles = lossless;
        s.sub_ifd = sub_ifd;
        SCOPED_TRACE(testing::Message() << (little ? "II" : "MM") << (lossless ? ", lossless tiles" : ", strips")
                                        << (sub_ifd ? ", raw in a sub-directory" : ", raw in IFD0"));
        const std::vector<uint8_t> intact = WriteDng(s);
        auto want = Decode(intact);
        ASSERT_TRUE(want->loaded_ok);
        ASSERT_FALSE(want->damaged);
        ASSERT_EQ(Count(*want).wrong, 0);
        // the file's own colours, not the defaults
        ASSERT_EQ(want->ctx->raw_colour_flag, 0);
        ASSERT_FLOAT_EQ(want->ctx->camera_multipliers[0], 2);
        ASSERT_FLOAT_EQ(want->ctx->iso_value, 200);
        for (const Pointer& p : pointers) {
          SCOPED_TRACE(p.name);
          std::vector<uint8_t> bytes = intact;
          const size_t dir = p.parent ? Child(bytes, little, p.parent) : Ifd0(bytes, little);
          Put(bytes, little, EntryOf(bytes, little, dir, p.tag) + 8, 4, 0x7FFFFF00);
          auto got = Decode(bytes);
          EXPECT_TRUE(got->damaged);
          ExpectSamePicture(*want, *got);
          // Only that directory is lost: the others are read whole.
          EXPECT_FLOAT_EQ(got->ctx->iso_value, p.tag == 34665 ? 100 : 200);
          EXPECT_EQ(got->ctx->gps_block[29], p.tag == 34853 ? 0u : uint32_t('N'));
          EXPECT_LT(got->identify_records, 2 * want->identify_records);
        }
      }
}

// A file cut before its EXIF directory costs the parser no more than the
// whole file does, whatever the 2-byte entry count would read there; the
// picture, whose data lies before the cut, is the whole file's.
TEST(RawDngDamage, FileCutBeforeItsExifDirectoryIsReadInBoundedWork) {
  for (bool little : {true, false})
    for (bool lossless : {false, true}) {
      SCOPED_TRACE(testing::Message() << (little ? "II" : "MM") << (lossless ? ", lossless" : ", uncompressed"));
      Spec s;
      s.little = little;
      s.lossless = lossless;
      std::vector<uint8_t> bytes = WriteDng(s);
      auto want = Decode(bytes);
      ASSERT_FALSE(want->damaged);
      const size_t exif = Child(bytes, little, 34665);
      ASSERT_EQ(exif + 2 + 3 * 12 + 4, bytes.size());  // the directory ends the file
      bytes.resize(exif);
      auto got = Decode(bytes);
      EXPECT_TRUE(got->damaged);
      EXPECT_LE(got->identify_records, want->identify_records);
      EXPECT_LE(got->identify_reads, want->identify_reads);
      EXPECT_FLOAT_EQ(got->ctx->iso_value, 100);  // the Kodak directory's, read before
      ExpectSamePicture(*want, *got);
    }
}

// A directory whose entries end exactly at the end of the data is whole:
// the link to a next directory that EXIF directories carry is not needed.
// One byte less, and its last entry is cut.
TEST(RawDngDamage, DirectoryEndingExactlyAtTheEndOfTheDataIsWhole) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    Spec s;
    s.little = little;
    std::vector<uint8_t> bytes = WriteDng(s);
    const size_t exif = Child(bytes, little, 34665);
    const size_t end_of_entries = exif + 2 + 3 * 12;
    ASSERT_EQ(end_of_entries + 4, bytes.size());
    // The last entry (40965) points at the interoperability directory;
    // make ISO (34855) the last one the directory holds.
    Put(bytes, little, exif, 2, 2);
    const size_t end_of_two = exif + 2 + 2 * 12;
    for (size_t cut : {end_of_two, end_of_two - 1}) {
      SCOPED_TRACE(cut == end_of_two ? "exactly at the end" : "one byte short");
      auto d = Decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(cut)), false);
      EXPECT_EQ(d->ctx->tag_value_cut, cut == end_of_two ? 0 : 1);
      EXPECT_FLOAT_EQ(d->ctx->iso_value, cut == end_of_two ? 200 : 100);
    }
  }
}

// An offset list with fewer offsets than the picture has pieces is damage;
// the pieces it does not list are not read from anywhere (an empty list
// reads nothing at all), and those it lists are exact.
TEST(RawDngDamage, OffsetListShorterThanThePiecesIsDamage) {
  struct Case {
    const char* name;
    bool lossless, tiles;
    uint32_t count;  // offsets left in the list
    int listed_rows, listed_columns;  // what the listed pieces cover
  } cases[] = {
      {"lossless, 4 strips, none listed", true, false, 0, 0, 0},
      {"lossless, 4 strips, 3 listed", true, false, 3, 24, kWidth},
      {"16-bit tiles, 6 tiles, none listed", false, true, 0, 0, 0},
      {"16-bit tiles, 6 tiles, 3 listed", false, true, 3, 16, kWidth},
      {"16-bit strips, 4 strips, none listed", false, false, 0, 0, 0},
  };
  for (bool little : {true, false})
    for (const Case& k : cases) {
      SCOPED_TRACE(testing::Message() << (little ? "II, " : "MM, ") << k.name);
      Spec s;
      s.little = little;
      s.lossless = k.lossless;
      s.tiles = k.tiles;
      std::vector<uint8_t> bytes = WriteDng(s);
      const size_t entry = EntryOf(bytes, little, RawIfd(bytes, s), k.tiles ? 324 : 273);
      Put(bytes, little, entry + 4, 4, k.count);
      auto d = Decode(bytes, false);
      ASSERT_TRUE(d->loaded_ok);
      EXPECT_TRUE(d->damaged);
      const auto listed = [&](int r, int c) { return r < k.listed_rows && c < k.listed_columns; };
      EXPECT_EQ(Count(*d, listed).wrong, 0);
      EXPECT_EQ(Count(*d, [&](int r, int c) { return !listed(r, c); }).nonzero, 0);
    }
}

// A DNG whose compression is neither 1 (uncompressed) nor 7 (lossless JPEG)
// is refused with a text that names it; its data is never read as samples.
TEST(RawDngDamage, UnknownCompressionIsRefusedByName) {
  for (uint32_t compression : {0u, 6u, 8u, 99u, 34892u}) {
    SCOPED_TRACE(compression);
    Spec s;
    s.lossless = true;
    s.tiles = true;
    std::vector<uint8_t> bytes = WriteDng(s);
    Put(bytes, true, EntryOf(bytes, true, RawIfd(bytes, s), 259) + 8, 2, compression);
    auto d = Decode(bytes, false);
    EXPECT_FALSE(d->loaded_ok);
    EXPECT_EQ(d->ctx->raw_image_count, 0);
    EXPECT_EQ(d->ctx->refusal_text, "test: DNG compression " + std::to_string(compression) + " is not supported");
  }
}

// A lossless tile whose frame states a precision above the file's bits per
// sample is not this file's tile: that tile is damage and left unread, the
// others are exact. Frames narrower than the samples' container (12-bit
// frames in a 16-bit file) are the usual way of storing them.
TEST(RawDngDamage, FramePrecisionAboveTheFileBitsIsDamageOfThatTile) {
  struct Case {
    uint32_t bits;
    int precision, tile1_precision;
    bool damaged;
  } cases[] = {{12, 12, 14, true}, {12, 12, 16, true}, {14, 12, 16, true}, {12, 12, 12, false},
               {16, 12, 12, false}};
  for (bool little : {true, false})
    for (const Case& k : cases) {
      SCOPED_TRACE(testing::Message() << (little ? "II" : "MM") << ", " << k.bits << "-bit file, tile 1 of precision "
                                      << k.tile1_precision);
      Spec s;
      s.little = little;
      s.lossless = s.tiles = true;
      s.bits = k.bits;
      s.precision = k.precision;
      std::vector<uint8_t> bytes = WriteDng(s);
      // Tile 1 (rows 0-15, columns 16-31): its frame header's precision byte.
      const size_t entry = EntryOf(bytes, little, RawIfd(bytes, s), 324);
      const size_t tile1 = Get(bytes, little, Get(bytes, little, entry + 8, 4) + 4, 4);
      size_t sof = tile1;
      while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC3)) ++sof;
      ASSERT_EQ(bytes[sof + 4], k.precision);
      bytes[sof + 4] = uint8_t(k.tile1_precision);
      auto d = Decode(bytes, false);
      ASSERT_TRUE(d->loaded_ok);
      EXPECT_EQ(d->damaged, k.damaged);
      const auto in_tile1 = [](int r, int c) { return r < 16 && c >= 16 && c < 32; };
      EXPECT_EQ(Count(*d, [&](int r, int c) { return !in_tile1(r, c); }).wrong, 0);
      EXPECT_EQ(Count(*d, in_tile1).nonzero, k.damaged ? 0 : 16 * 16);
      if (!k.damaged) {
        EXPECT_EQ(Count(*d, in_tile1).wrong, 0);
      }
    }
}

// Integer tags are read by their type: BitsPerSample, Compression,
// PhotometricInterpretation and Orientation stored as LONG (in a big-endian
// file their value is in the low half of the field) as well as SHORT.
TEST(RawDngDamage, IntegerTagsAreReadByTheirType) {
  for (bool little : {true, false})
    for (uint16_t type : {3, 4})
      for (bool lossless : {false, true}) {
        SCOPED_TRACE(testing::Message() << (little ? "II" : "MM") << ", type " << type
                                        << (lossless ? ", lossless" : ", uncompressed"));
        Spec s;
        s.little = little;
        s.lossless = lossless;
        s.int_type = type;
        s.orientation = 6;
        auto d = Decode(WriteDng(s), false);
        ASSERT_TRUE(d->loaded_ok);
        EXPECT_FALSE(d->damaged);
        EXPECT_EQ(d->ctx->bits_per_sample, 16);
        EXPECT_EQ(d->ctx->compression_code, lossless ? 7 : 1);
        EXPECT_EQ(d->ctx->orientation_flags, 6);
        EXPECT_EQ(Count(*d).wrong, 0);
      }
}

// A GPS value whose offset lies past the end is not read (it would read as
// 0xFFFFFFFF words) and marks the decode damaged; the other GPS values are read.
TEST(RawDngDamage, GpsValuePastTheEndIsNotRead) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    Spec s;
    s.little = little;
    std::vector<uint8_t> bytes = WriteDng(s);
    auto want = Decode(bytes, false);
    EXPECT_EQ(want->ctx->gps_block[0], 52u);
    EXPECT_EQ(want->ctx->gps_block[2], 30u);
    Put(bytes, little, EntryOf(bytes, little, Child(bytes, little, 34853), 2) + 8, 4, 0x7FFFFF00);
    auto got = Decode(bytes, false);
    EXPECT_TRUE(got->damaged);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got->ctx->gps_block[i], 0u) << i;
    EXPECT_EQ(got->ctx->gps_block[29], uint32_t('N'));
    EXPECT_EQ(Count(*got).wrong, 0);
  }
}
