// DNGs written here, decoded as the RAW format decodes them (identify, load,
// and on request the demosaic): strip offsets of either type, lossless
// pieces without their tables or with a line of slack, plane orders and
// orientations. Samples are known, so every position is checked.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_segments.h"
#include "rawdecode/raw_stream.h"

using namespace rawtest;

namespace {

// A picture's stored value at a position of colour `colour` (0 red, 1 green,
// 2 blue): a pattern that no wrong placement reproduces, or one level per
// colour for the demosaic checks.
using SceneFn = std::function<uint16_t(int row, int col, int colour)>;
uint16_t Varied(int row, int col, int) { return uint16_t(64 + (row * 53 + col * 29) % 3000); }
uint16_t FlatPerColour(int, int, int colour) { return uint16_t(1000 + 1000 * colour); }

struct DngSpec {
  bool little = true;
  int width = 32, height = 30;
  bool lossless = false;
  int tile_width = 0, tile_height = 0;  // tiles when set; else strips
  int strip_rows = 0;                   // rows per strip (0: one strip)
  uint16_t offset_type = 4;             // 3: SHORT offsets and counts
  std::vector<uint8_t> plane_colours;   // CFAPlaneColor (empty: none)
  int orientation = -1;                 // -1: no Orientation tag
  int ljpeg_rows_per_line = 1;          // lossless: piece rows in one frame line
  int ljpeg_extra_lines = 0;            // lossless: lines the frame holds beyond the piece
  SceneFn scene = Varied;
  // Lossless: changes piece `index`'s coded bytes after encoding.
  std::function<void(size_t index, std::vector<uint8_t>& piece)> damage;
};

// Bayer R G / G B, in the file's colour values.
int ColourAt(int row, int col) { return (row & 1) + (col & 1); }

// One piece's stored bytes: rows [top, top + h) x columns [left, left + w),
// positions past the picture holding 0.
std::vector<uint8_t> EncodePiece(const DngSpec& s, int top, int left, int w, int h) {
  std::vector<uint16_t> values;
  for (int r = top; r < top + h; ++r)
    for (int c = left; c < left + w; ++c)
      values.push_back(r < s.height && c < s.width ? s.scene(r, c, ColourAt(r, c)) : 0);
  if (!s.lossless) {
    ByteSink out(s.little);
    for (uint16_t v : values) out.U16(v);
    return out.bytes;
  }
  // Two components; each frame line holds ljpeg_rows_per_line piece rows.
  LjpegParams p;
  p.components = 2;
  p.precision = 12;
  p.width = w * s.ljpeg_rows_per_line / 2;
  p.height = (h + s.ljpeg_rows_per_line - 1) / s.ljpeg_rows_per_line + s.ljpeg_extra_lines;
  values.resize(size_t(p.width) * p.height * 2, 0);
  return EncodeLjpeg(p, values);
}

std::vector<uint8_t> WriteDng(const DngSpec& s) {
  TiffWriter w(s.little);
  TiffIfd& ifd = w.NewIfd(true);
  ifd.Long(254, {0}).Image(uint32_t(s.width), uint32_t(s.height), 16, s.lossless ? 7 : 1, 32803, 1);
  ifd.Ascii(271, "Pixelwharf").Ascii(272, "Pixelwharf Test One");
  ifd.Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2});
  if (!s.plane_colours.empty()) ifd.Bytes(50710, 1, s.plane_colours);
  ifd.Bytes(50706, 1, {1, 4, 0, 0}).Long(50717, {4095});
  if (s.orientation >= 0) ifd.Short(274, {uint32_t(s.orientation)});
  std::vector<std::vector<uint8_t>> pieces;
  if (s.tile_width) {
    ifd.Long(322, {uint32_t(s.tile_width)}).Long(323, {uint32_t(s.tile_height)});
    for (int t = 0; t < s.height; t += s.tile_height)
      for (int u = 0; u < s.width; u += s.tile_width) pieces.push_back(EncodePiece(s, t, u, s.tile_width, s.tile_height));
  } else {
    const int rows = s.strip_rows ? s.strip_rows : s.height;
    ifd.Long(278, {uint32_t(rows)});
    for (int t = 0; t < s.height; t += rows) pieces.push_back(EncodePiece(s, t, 0, s.width, std::min(rows, s.height - t)));
  }
  if (s.damage)
    for (size_t i = 0; i < pieces.size(); ++i) s.damage(i, pieces[i]);
  ifd.Pieces(s.tile_width != 0, pieces, {}, s.offset_type);
  return w.Bytes();
}

// What the RAW format does up to the colour conversion: identify, load from
// the data offset (which must lie in the file), then on request build the
// full pixels and demosaic at `quality` (0 bilinear .. 3 AHD).
struct Decoded {
  std::vector<uint8_t> bytes;
  raw_memory_stream stream;
  std::unique_ptr<raw_decode_context> ctx;
  bool damaged = false;
};

std::unique_ptr<Decoded> Decode(std::vector<uint8_t> bytes, int quality = -1) {
  auto d = std::make_unique<Decoded>();
  d->bytes = std::move(bytes);
  d->stream = raw_memory_stream{d->bytes.data(), d->bytes.size(), 0, false};
  d->ctx = raw_context_create();
  raw_decode_context* ctx = d->ctx.get();
  ctx->message_name = "test";
  raw_set_stream(ctx, &raw_memory_ops, &d->stream);
  probe_raw_file(ctx);
  if (!ctx->raw_image_count || !ctx->raw_loader) return d;
  raw_allocate_pixels(ctx, "test");
  ctx->data_error_reported = 0;
  if (!raw_seek(ctx, ctx->raw_data_offset, 0)) report_outside_file(ctx);
  ctx->raw_loader(ctx);
  d->damaged = ctx->data_error_reported || ctx->tag_value_cut;
  if (quality < 0) return d;
  pre_interpolate(ctx);
  void (*const demosaic[4])(raw_decode_context*) = {bilinear_demosaic, vng_interpolate, ppg_demosaic, ahd_interpolate};
  demosaic[quality](ctx);
  return d;
}

// Positions of the loaded (not yet demosaiced) picture that differ from the scene.
int WrongPositions(const Decoded& d, const DngSpec& s) {
  const raw_decode_context* ctx = d.ctx.get();
  if (ctx->image_width != s.width || ctx->image_height != s.height) return -1;
  int wrong = 0;
  for (int r = 0; r < s.height; ++r)
    for (int c = 0; c < s.width; ++c) {
      const int colour = cfa_colour_at(ctx, r, c);
      if (ctx->pixels[size_t(r) * ctx->buffer_width + c][colour] != s.scene(r, c, ColourAt(r, c))) ++wrong;
    }
  return wrong;
}

}  // namespace

// Offsets and byte counts of type SHORT are as good as LONG ones: one inline
// value (placed in the high half of the field in a big-endian file), two
// inline values, and a list out of line.
TEST(RawDngDecode, ShortStripOffsetsReadByTheirType) {
  struct Case {
    const char* name;
    bool little;
    int strip_rows;
  } cases[] = {{"one strip, II", true, 0},  {"one strip, MM", false, 0}, {"two strips, II", true, 15},
               {"two strips, MM", false, 15}, {"five strips, MM", false, 6}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    DngSpec s;
    s.little = k.little;
    s.strip_rows = k.strip_rows;
    s.offset_type = 3;
    auto d = Decode(WriteDng(s));
    ASSERT_TRUE(d->ctx->raw_loader);
    EXPECT_FALSE(d->damaged);
    EXPECT_EQ(WrongPositions(*d, s), 0);
  }
}

// A lossless piece without its Huffman tables (its DHT segment turned into
// an APP1) cannot be decoded: that piece is damaged, the others are exact.
TEST(RawDngDecode, LosslessPieceWithoutTablesIsDamaged) {
  const auto strip_dht = [](std::vector<uint8_t>& piece) {
    for (size_t i = 0; i + 1 < piece.size(); ++i)
      if (piece[i] == 0xFF && piece[i + 1] == 0xC4) piece[i + 1] = 0xE1;
  };
  DngSpec s;
  s.lossless = true;
  s.tile_width = 16, s.tile_height = 16;
  auto good = Decode(WriteDng(s));
  EXPECT_FALSE(good->damaged);
  EXPECT_EQ(WrongPositions(*good, s), 0);

  s.damage = [&](size_t i, std::vector<uint8_t>& piece) {
    if (i == 1) strip_dht(piece);
  };
  auto one = Decode(WriteDng(s));
  EXPECT_TRUE(one->damaged);
  // Tile 1 (top right, 16 x 16) is the only one not decoded.
  const int wrong = WrongPositions(*one, s);
  EXPECT_GT(wrong, 200);
  EXPECT_LE(wrong, 16 * 16);

  s.damage = [&](size_t, std::vector<uint8_t>& piece) { strip_dht(piece); };
  EXPECT_TRUE(Decode(WriteDng(s))->damaged);
}

// A frame whose lines hold two piece rows covers an odd-height piece with
// one line of slack: decoded exactly. More than that is not this file's piece.
TEST(RawDngDecode, LosslessFrameMayHoldOneLineBeyondItsPiece) {
  struct Case {
    int rows_per_line, extra_lines;
    bool damaged;
  } cases[] = {{2, 0, false}, {1, 1, false}, {2, 1, true}, {1, 2, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.rows_per_line << " rows per line, " << k.extra_lines << " extra");
    DngSpec s;
    s.lossless = true;
    s.tile_width = 16, s.tile_height = 15;  // 15 rows: the last line of two holds one row of the piece
    s.ljpeg_rows_per_line = k.rows_per_line;
    s.ljpeg_extra_lines = k.extra_lines;
    auto d = Decode(WriteDng(s));
    EXPECT_EQ(d->damaged, k.damaged);
    if (!k.damaged) {
      EXPECT_EQ(WrongPositions(*d, s), 0);
    }
  }
}

// Every plane order gives each colour its own level at every quality: PPG and
// AHD are written for green on plane 1, and other orders are demosaiced in a
// way that holds for them.
TEST(RawDngDecode, EveryPlaneOrderDemosaicsAtEveryQuality) {
  const std::vector<std::vector<uint8_t>> orders = {{0, 1, 2}, {1, 0, 2}, {0, 2, 1}, {2, 1, 0}, {1, 2, 0}};
  for (const auto& planes : orders) {
    for (int quality = 0; quality < 4; ++quality) {
      SCOPED_TRACE(testing::Message() << "planes " << int(planes[0]) << int(planes[1]) << int(planes[2])
                                      << ", quality " << quality);
      DngSpec s;
      s.plane_colours = planes;
      s.scene = FlatPerColour;
      auto d = Decode(WriteDng(s), quality);
      const raw_decode_context* ctx = d->ctx.get();
      ASSERT_EQ(ctx->colour_count, 3);
      int worst = 0;
      // The border is filled by its own rule; the inside is the demosaic's.
      for (int r = 4; r < s.height - 4; ++r)
        for (int c = 4; c < s.width - 4; ++c)
          for (int k = 0; k < 3; ++k)
            worst = std::max(worst, std::abs(ctx->pixels[size_t(r) * s.width + c][k] - FlatPerColour(0, 0, planes[k])));
      EXPECT_LE(worst, 1);
    }
  }
}

// Orientation values 1-8 turn the picture; any other value is not an
// orientation and leaves it as stored.
TEST(RawDngDecode, OrientationOutsideOneToEightLeavesThePictureAsStored) {
  struct Case {
    int tag;
    int flags;
  } cases[] = {{0, 0}, {1, 0}, {3, 3}, {6, 6}, {8, 5}, {9, 0}, {15, 0}, {65535, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.tag);
    DngSpec s;
    s.orientation = k.tag;
    auto d = Decode(WriteDng(s));
    EXPECT_EQ(d->ctx->orientation_flags, k.flags);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(raw_output_size(d->ctx.get(), &w, &h));
    EXPECT_EQ(w, k.flags & 4 ? 30u : 32u);
  }
}
