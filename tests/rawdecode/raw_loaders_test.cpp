// The raw loaders against writers of their stored layouts: a known pattern
// in, exactly that pattern out, one row of the table per loader (or per
// layout of a loader); and hand-computed byte vectors, so that a writer and
// a loader sharing a misreading still fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "raw_loader_writers.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_loaders.h"

using namespace rawtest;

namespace {

struct Case {
  const char* name;
  std::function<void()> run;
};

// Every visible CFA sample equals want(row, col).
void ExpectCfa(Frame& f, const std::function<unsigned(int, int)>& want) {
  int bad = 0;
  for (int r = 0; r < f->image_height; ++r)
    for (int c = 0; c < f->image_width; ++c)
      if (f.At(r, c) != want(r, c) && bad++ < 5) ADD_FAILURE() << "at " << r << "," << c << ": " << f.At(r, c) << " != " << want(r, c);
  EXPECT_EQ(bad, 0);
}

void ExpectRgb(Frame& f, int colours, const std::function<unsigned(int, int, int)>& want) {
  int bad = 0;
  for (int r = 0; r < f->image_height; ++r)
    for (int c = 0; c < f->image_width; ++c)
      for (int k = 0; k < colours; ++k)
        if (f.Pixel(r, c)[k] != want(r, c, k) && bad++ < 5)
          ADD_FAILURE() << "at " << r << "," << c << "[" << k << "]: " << f.Pixel(r, c)[k] << " != " << want(r, c, k);
  EXPECT_EQ(bad, 0);
}

// ---- writers -------------------------------------------------------------------

// 10-bit samples, most significant bit first, in little-endian 16-bit words.
Bytes Canon10Row(const std::vector<unsigned>& samples) {
  BitWriter bw(false);
  for (unsigned s : samples) bw.Put(s, 10);
  bw.PadWithOnes();
  Bytes& b = bw.bytes();
  if (b.size() & 1) b.push_back(0);
  for (size_t i = 0; i < b.size(); i += 2) std::swap(b[i], b[i + 1]);
  return b;
}

// Eight 10-bit samples in ten bytes, the PowerShot 600 way.
void Canon600Group(Bytes& out, const unsigned* s) {
  out.insert(out.end(), {uint8_t(s[0] >> 2), uint8_t((s[0] & 3) << 6 | (s[1] & 3) << 4 | (s[2] & 3) << 2 | (s[3] & 3)),
                         uint8_t(s[1] >> 2), uint8_t(s[2] >> 2), uint8_t(s[3] >> 2), uint8_t(s[4] >> 2),
                         uint8_t(s[5] >> 2), uint8_t(s[6] >> 2), uint8_t(s[7] >> 2),
                         uint8_t((s[4] & 3) | (s[5] & 3) << 2 | (s[6] & 3) << 4 | (s[7] & 3) << 6)});
}

// Differences of the Pentax/Nikon kind: first two columns predicted from the
// same columns two rows up (starting at `initial`), the rest from two columns left.
template <class Emit>
void TwoColumnDifferences(int rows, int cols, const std::function<unsigned(int, int)>& value, int initial, Emit emit) {
  int vpred[2][2] = {{initial, initial}, {initial, initial}}, hpred[2] = {0, 0};
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      int v = int(value(r, c));
      int pred = c < 2 ? vpred[r & 1][c] : hpred[c & 1];
      emit(r, c, v - pred);
      if (c < 2) vpred[r & 1][c] = v;
      hpred[c & 1] = v;
    }
}

void PutDifference(BitWriter& bw, const HuffCodes& codes, int diff) {
  int len = DiffLength(diff);
  auto code = codes.code.at(len);
  bw.Put(code.first, code.second);
  if (len) bw.Put(DiffBits(diff, len), len);
}

// ---- Canon -----------------------------------------------------------------------

void Canon10Bit() {
  Geometry g{4, 16, 3, 11, 1, 2};
  Bytes file;
  for (int r = 0; r < g.sensor_height; ++r) {
    std::vector<unsigned> row;
    for (int c = 0; c < g.sensor_width; ++c)
      row.push_back(c >= g.left + g.image_width ? (c == 14 ? 40 : 44) : Pattern(r, c, 10));
    Bytes b = Canon10Row(row);
    file.insert(file.end(), b.begin(), b.end());
  }
  Frame f(file, g);
  canon_10bit_load_raw(f.get());
  ExpectCfa(f, [&](int r, int c) { return Pattern(r + 1, c + 2, 10); });
  // Columns 13 (x = 11 = image width) is not counted: only 14 and 15.
  EXPECT_EQ(f->black_level, 42u);
  EXPECT_EQ(f->white_level, 1023u);
  EXPECT_EQ(f->byte_order, 0x4949);
  EXPECT_EQ(f->data_error_reported, 0);
}

void Canon600() {
  Geometry g{4, 16, 4, 12, 0, 0};
  // Stored rows land on visible rows 0, 2, 1, 3.
  const int visible_of_stored[4] = {0, 2, 1, 3};
  Bytes file;
  for (int k = 0; k < 4; ++k) {
    unsigned s[16];
    for (int c = 0; c < 16; ++c) s[c] = c < 12 ? 300 + Pattern(visible_of_stored[k], c, 9) : 104;
    Canon600Group(file, s);
    Canon600Group(file, s + 8);
  }
  for (bool flash : {false, true}) {
    Frame f(file, g, 0xE1E4E1E4);
    f->colour_count = 4;
    f->flash_fired = flash ? 1.0f : 0.0f;
    canon_600_load_raw(f.get());
    const int gains[4][2] = {{1141, 1145}, {1128, 1109}, {1178, 1149}, {1128, 1109}};
    // black = mean of the margin (104) less 4
    ExpectCfa(f, [&](int r, int c) { return unsigned((300 + Pattern(r, c, 9) - 100) * gains[r & 3][c & 1] >> 9); });
    EXPECT_EQ(f->white_level, unsigned((1023 - 100) * 1109 >> 9));  // 1999
    EXPECT_EQ(f->black_level, 0u);
    // Daylight at 1311 lies between the rows for 1119 and 1399: frac 192/280.
    const double frac = 192.0 / 280;
    EXPECT_NEAR(f->pre_multipliers[0], 1 / (frac * 485 + (1 - frac) * 396), 1e-9);
    EXPECT_NEAR(f->pre_multipliers[3], 1 / (frac * 688 + (1 - frac) * 537), 1e-9);
    // mc = 1.208, yc = 0.7635: matrix 1; the flash always takes matrix 5.
    EXPECT_FLOAT_EQ(f->rgb_from_camera[0][0], (flash ? -807 : -1203) / 1024.0f);
    EXPECT_FLOAT_EQ(f->rgb_from_camera[2][3], (flash ? -1555 : -3409) / 1024.0f);
  }
}

void Canon600Ratio() {
  auto ctx = raw_context_create();
  int a[2] = {-100, 100};  // target -38 - (398 * 100 >> 10) = -76
  EXPECT_EQ(canon_600_check_ratio(ctx.get(), a, 150), 0);
  int b[2] = {-300, 100};  // miss 223, below 4 x 150: clamped to the margin 150
  EXPECT_EQ(canon_600_check_ratio(ctx.get(), b, 150), 1);
  EXPECT_EQ(b[0], -226);
  int e[2] = {-200, 100};  // miss 123, at least 4 x 20
  EXPECT_EQ(canon_600_check_ratio(ctx.get(), e, 20), 2);
  int c[2] = {0, 500};  // beyond 461
  EXPECT_EQ(canon_600_check_ratio(ctx.get(), c, 150), 2);
  ctx->flash_fired = 1;
  int d[2] = {-40, 100};  // clamped to 12, target -38 - (4776 >> 10) = -42; miss -2
  EXPECT_EQ(canon_600_check_ratio(ctx.get(), d, 80), 1);
  EXPECT_EQ(d[1], 12);
  EXPECT_EQ(d[0], -40);
}

// Lossless-JPEG raw data in Canon slices, with black from the margins.
void LjpegSlices() {
  Geometry g{4, 12, 3, 8, 1, 2};
  auto stored = [](int r, int c) -> unsigned { return c == 10 ? 200 : c == 11 ? 210 : 1000 + Pattern(r, c, 11); };
  // Slices of 4, 4 and a last of 4 columns, each stored whole, one after another.
  std::vector<uint16_t> samples;
  for (int s = 0; s < 3; ++s)
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) samples.push_back(uint16_t(stored(r, s * 4 + c)));
  LjpegParams p;
  p.width = 6, p.height = 4, p.components = 2, p.precision = 12;
  Frame f(EncodeLjpeg(p, samples), g);
  f->canon_slices[0] = 2, f->canon_slices[1] = 4, f->canon_slices[2] = 4;
  ljpeg_load_raw(f.get());
  // Dark means 200 and 210: odd columns lose 10, and the black level is 200.
  ExpectCfa(f, [&](int r, int c) { return stored(r + 1, c + 2) - (c & 1 ? 10 : 0); });
  EXPECT_EQ(f->black_level, 200u);
}

// No slices, bits <= 12 through the curve, Kodak's minimum as black.
void LjpegCurveKodak() {
  Geometry g{3, 8, 3, 8, 0, 0};
  std::vector<uint16_t> samples;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 8; ++c) samples.push_back(uint16_t(Pattern(r, c, 12)));
  LjpegParams p;
  p.width = 4, p.height = 3, p.components = 2, p.precision = 12, p.psv = 4;
  Frame f(EncodeLjpeg(p, samples), g);
  for (int i = 0; i < 4096; ++i) f->tone_curve[i] = uint16_t(5000 - i);
  strcpy(f->camera_make, "Kodak");
  ljpeg_load_raw(f.get());
  unsigned min = 0xFFFF;
  ExpectCfa(f, [&](int r, int c) {
    unsigned v = 5000 - Pattern(r, c, 12);
    min = std::min(min, v);
    return v;
  });
  EXPECT_EQ(f->black_level, min);
}

// A 3984-column frame places the first two values of each row at the end
// of the row before.
void Ljpeg3984() {
  Geometry g{2, 3984, 2, 3984, 0, 0};
  std::vector<uint16_t> samples(2 * 3984);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t(i % 4000);
  LjpegParams p;
  p.width = 1992, p.height = 2, p.components = 2, p.precision = 14;
  Frame f(EncodeLjpeg(p, samples), g);
  ljpeg_load_raw(f.get());
  EXPECT_EQ(f->message_log, "");
  EXPECT_EQ(f.At(0, 0), 2u);
  EXPECT_EQ(f.At(0, 3981), 3983u);
  EXPECT_EQ(f.At(0, 3982), 3984u);  // row 1's first value
  EXPECT_EQ(f.At(0, 3983), 3985u);
  EXPECT_EQ(f.At(1, 0), 3986u);
}

// sRAW: one scan row of Y Y Cb Cr groups (4:2:2), written here with the
// sRAW prediction (every luma value from the previous luma value).
Bytes SrawFrame(const std::vector<uint16_t>& values, int groups) {
  Bytes out = {0xFF, 0xD8, 0xFF, 0xC3, 0, 17, 15, 0, 1, uint8_t(groups * 2 >> 8), uint8_t(groups * 2), 3,
               1, 0x21, 0, 2, 0x11, 0, 3, 0x11, 0};
  HuffCodes table(FullLengthTable());
  out.insert(out.end(), {0xFF, 0xC4, 0, uint8_t(2 + 2 * (1 + table.source.size())), 0});
  out.insert(out.end(), table.source.begin(), table.source.end());
  out.push_back(1);
  out.insert(out.end(), table.source.begin(), table.source.end());
  out.insert(out.end(), {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x10, 3, 0x10, 1, 0, 0});
  BitWriter bw(true);
  int luma = 1 << 14, chroma[2] = {1 << 14, 1 << 14};
  for (int g = 0; g < groups; ++g)
    for (int c = 0; c < 4; ++c) {
      int v = values[size_t(g) * 4 + c];
      int& pred = c < 2 ? luma : chroma[c - 2];
      int diff = v - pred;
      pred = v;
      int len = DiffLength(diff);
      auto code = table.code.at(len);
      bw.Put(code.first, code.second);
      if (len) bw.Put(DiffBits(diff, len), len);
    }
  bw.PadWithOnes();
  out.insert(out.end(), bw.bytes().begin(), bw.bytes().end());
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

void CanonSraw() {
  Geometry g{2, 6, 2, 6, 0, 0};
  const int groups = 6;  // two rows of three column pairs
  std::vector<uint16_t> values;
  auto luma = [](int r, int c) { return 2000 + r * 300 + c * 40; };
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 6; c += 2) values.insert(values.end(), {uint16_t(luma(r, c)), uint16_t(luma(r, c + 1)), 16384 + 100, 16384 - 50});
  Frame f(SrawFrame(values, groups), g, 0);
  f->camera_id = 0x80000100;
  for (int c = 0; c < 3; ++c) f->sraw_multipliers[c] = 1024;
  canon_sraw_load_raw(f.get());
  // Cb 100, Cr -50 everywhere: R = Y - 562, B = Y - 412, G = Y + ((-77800 + 102400) >> 12) - 512
  ExpectRgb(f, 3, [&](int r, int c, int k) {
    int y = luma(r, c);
    return unsigned(k == 0 ? y - 562 : k == 2 ? y - 412 : y + (24600 >> 12) - 512);
  });
  EXPECT_EQ(f->white_level, 0x3FFFu);
}

// ---- DNG ---------------------------------------------------------------------------

void DngLosslessTiles() {
  Geometry g{4, 8, 4, 8, 0, 0};
  // Four tiles of 2 rows x 4 columns, each a lossless-JPEG frame of two
  // components; the offsets come first.
  Bytes file(16, 0);
  for (int t = 0; t < 4; ++t) {
    int tr = t / 2 * 2, tc = t % 2 * 4;
    std::vector<uint16_t> s;
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 4; ++c) s.push_back(uint16_t(Pattern(tr + r, tc + c, 16)));
    LjpegParams p;
    p.width = 2, p.height = 2, p.components = 2, p.precision = 16;
    Bytes frame = EncodeLjpeg(p, s);
    SetLE32(file, 4 * t, uint32_t(file.size()));
    file.insert(file.end(), frame.begin(), frame.end());
  }
  Frame f(file, g);
  f->byte_order = 0x4949;
  f->dng_version_code = 0x01010000;
  f->tile_width = 4, f->tile_height = 2, f->raw_image_count = 1;
  dng_lossless_load_raw(f.get());
  ExpectCfa(f, [](int r, int c) { return Pattern(r, c, 16); });
}

void DngLosslessRgb() {
  Geometry g{2, 3, 2, 3, 0, 0};
  std::vector<uint16_t> s;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) s.push_back(uint16_t(5000 + Pattern(r, c * 3 + k, 12)));
  LjpegParams p;
  p.width = 3, p.height = 2, p.components = 3, p.precision = 14;
  Bytes file(4, 0);
  SetLE32(file, 0, 4);
  Bytes frame = EncodeLjpeg(p, s);
  file.insert(file.end(), frame.begin(), frame.end());
  Frame f(file, g, 0);
  f->byte_order = 0x4949;
  f->dng_version_code = 0x01010000;
  f->tile_width = 3, f->tile_height = 2, f->raw_image_count = 1, f->samples_per_pixel = 3;
  dng_lossless_load_raw(f.get());
  ExpectRgb(f, 3, [](int r, int c, int k) { return 5000 + Pattern(r, c * 3 + k, 12); });
}

void DngUncompressed12() {
  Geometry g{3, 8, 2, 6, 1, 1};
  Bytes file;
  for (int r = 0; r < 3; ++r) {
    BitWriter bw(false);
    for (int c = 0; c < 8; ++c) bw.Put(Pattern(r, c, 12), 12);
    file.insert(file.end(), bw.bytes().begin(), bw.bytes().end());
  }
  Frame f(file, g);
  f->bits_per_sample = 12, f->samples_per_pixel = 1, f->raw_image_count = 1;
  adobe_dng_load_raw_nc(f.get());
  ExpectCfa(f, [](int r, int c) { return Pattern(r + 1, c + 1, 12); });
}

// Two raw images interleaved; shot 1 takes the second value of each pair.
void DngUncompressedSecondShot() {
  Geometry g{2, 4, 2, 4, 0, 0};
  Bytes file;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 4; ++c) PutBE16(file, 7000 + c), PutBE16(file, Pattern(r, c, 16));
  Frame f(file, g);
  f->byte_order = 0x4D4D;
  f->bits_per_sample = 16, f->samples_per_pixel = 2, f->raw_image_count = 2;
  f->options.shot_index = 1;
  adobe_dng_load_raw_nc(f.get());
  ExpectCfa(f, [](int r, int c) { return Pattern(r, c, 16); });
}

// ---- Pentax, Nikon, Fuji ----------------------------------------------------------------

void PentaxK10() {
  Geometry g{4, 10, 4, 8, 0, 0};
  const std::vector<uint8_t> source = {0, 2, 3, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 3, 4, 2, 5, 1, 6, 0, 7, 8, 9, 10, 11, 12};
  HuffCodes codes(source);
  Bytes file;
  for (int k = 0; k < 13; ++k) PutBE16(file, codes.code.at(k).first << (12 - codes.code.at(k).second));
  for (int k = 0; k < 13; ++k) file.push_back(uint8_t(0xF0 | codes.code.at(k).second));  // high bits ignored
  BitWriter bw(false);
  TwoColumnDifferences(4, 10, [](int r, int c) { return Pattern(r, c, 12); }, 0,
                       [&](int, int, int diff) { PutDifference(bw, codes, diff); });
  bw.PadWithOnes();
  size_t start = file.size();
  file.insert(file.end(), bw.bytes().begin(), bw.bytes().end());
  Frame f(file, g);
  f->byte_order = 0x4D4D;
  pentax_build_tree(f.get());
  raw_seek(f.get(), int64_t(start), 0);
  pentax_k10_load_raw(f.get());
  ExpectCfa(f, [](int r, int c) { return Pattern(r, c, 12); });
  EXPECT_EQ(f->data_error_reported, 0);
}

// A Nikon file: maker-note block (version, predictors, curve) at 0, raw data after it.
struct NikonFile {
  Bytes bytes;
  uint32_t data_offset;
};

NikonFile WriteNikon(int ver0, int ver1, int bits, const std::vector<uint16_t>& curve_knots, int split,
                     const std::function<unsigned(int, int)>& stored, int rows, int cols, int tree) {
  NikonFile n;
  Bytes& b = n.bytes;
  b = {uint8_t(ver0), uint8_t(ver1)};
  const int initial = 1 << (bits - 1);
  for (int i = 0; i < 4; ++i) PutBE16(b, unsigned(initial));
  PutBE16(b, unsigned(curve_knots.size()));
  for (uint16_t k : curve_knots) PutBE16(b, k);
  if (b.size() < 564) b.resize(564, 0);
  b[562] = uint8_t(split >> 8), b[563] = uint8_t(split);
  n.data_offset = uint32_t(b.size());
  std::vector<uint8_t> src(nikon_tree_sources[tree], nikon_tree_sources[tree] + 32);
  std::vector<uint8_t> src_after(nikon_tree_sources[tree + 1 < 6 ? tree + 1 : tree],
                                 nikon_tree_sources[tree + 1 < 6 ? tree + 1 : tree] + 32);
  HuffCodes before(src), after(src_after);
  BitWriter bw(false);
  TwoColumnDifferences(rows, cols, stored, initial, [&](int r, int, int diff) {
    // Only exact lengths (no dropped low bits) are used by this writer.
    PutDifference(bw, split && r >= split ? after : before, diff);
  });
  bw.PadWithOnes();
  b.insert(b.end(), bw.bytes().begin(), bw.bytes().end());
  return n;
}

void NikonLossless(int bits) {
  Geometry g{4, 10, 4, 9, 0, 1};
  auto stored = [bits](int r, int c) { return Pattern(r, c, bits); };
  NikonFile n = WriteNikon(0x46, 0x30, bits, {}, 0, stored, 4, 10, bits == 14 ? 5 : 2);
  Frame f(n.bytes, g);
  f->byte_order = 0x4D4D;
  f->bits_per_sample = bits;
  f->raw_data_offset = n.data_offset;
  nikon_compressed_load_raw(f.get());
  ExpectCfa(f, [&](int r, int c) { return stored(r, c + 1); });
  EXPECT_EQ(f->data_error_reported, 0);
}

// Lossy 12-bit with a knotted curve and a split row: rows from the split
// use the second tree and are read through the curve.
void NikonLossyCurveSplit() {
  Geometry g{4, 8, 4, 8, 0, 0};
  auto stored = [](int r, int c) -> unsigned { return 1024 + r * 3 + c * 2 + (c & 1) * 5; };
  NikonFile n = WriteNikon(0x44, 0x20, 12, {0, 1000, 1500}, 2, stored, 4, 8, 0);
  Frame f(n.bytes, g);
  f->byte_order = 0x4D4D;
  f->bits_per_sample = 12;
  f->raw_data_offset = n.data_offset;
  nikon_compressed_load_raw(f.get());
  // Knots at 0, 2048 and 4096: 1000 x v / 2048 below 2048.
  ExpectCfa(f, [&](int r, int c) { return stored(r, c) * 1000 / 2048; });
  EXPECT_EQ(f->tone_curve[1024], 500);
  EXPECT_EQ(f->tone_curve[3072], 1250);
  EXPECT_EQ(f->data_error_reported, 0);
}

void NikonE900() {
  Geometry g{5, 10, 5, 8, 0, 0};
  // Rows 0, 2, 4 then (at the next 4096 boundary) 1, 3; each row at its own
  // offset, sensor_width (here: 10) bytes apart.
  Bytes file(4096 + 2 * 10, 0);
  const int order[5] = {0, 2, 4, 1, 3};
  for (int i = 0; i < 5; ++i) {
    size_t at = i < 3 ? size_t(i) * 10 : 4096 + size_t(i - 3) * 10;
    BitWriter bw(false);
    for (int c = 0; c < 8; ++c) bw.Put(Pattern(order[i], c, 10), 10);
    std::copy(bw.bytes().begin(), bw.bytes().end(), file.begin() + at);
  }
  Frame f(file, g);
  nikon_e900_load_raw(f.get());
  ExpectCfa(f, [](int r, int c) { return Pattern(r, c, 10); });
}

void Fuji() {
  for (int layout : {0, 1}) {
    Geometry g{3, 4, 6, 6, 0, 0};
    const int fw = 2, wide = layout ? fw : fw * 2;
    Bytes file;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) PutLE16(file, c < wide ? 100 + r * 10 + c : 9999);
    Frame f(file, g);
    f->byte_order = 0x4949;
    f->fuji_diagonal_width = fw;
    f->fuji_layout_flag = layout;
    fuji_load_raw(f.get());
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < wide; ++c) {
        int row = layout ? fw - 1 - c + (r >> 1) : fw - 1 + r - (c >> 1);
        int col = layout ? c + ((r + 1) >> 1) : r + ((c + 1) >> 1);
        EXPECT_EQ(f.At(row, col), unsigned(100 + r * 10 + c)) << layout << " " << r << "," << c;
      }
  }
  // Hand-placed: layout 0, stored row 1 column 2 goes to row 1 + 1 - 1, column 1 + 1.
  Geometry g{2, 4, 4, 4, 0, 0};
  Bytes file;
  for (int i = 0; i < 8; ++i) PutLE16(file, 10 + i);
  Frame f(file, g);
  f->byte_order = 0x4949;
  f->fuji_diagonal_width = 2;
  fuji_load_raw(f.get());
  EXPECT_EQ(f.At(1, 2), 16u);
  EXPECT_EQ(f.At(1, 0), 10u);
  EXPECT_EQ(f.At(0, 2), 13u);
}

}  // namespace

TEST(RawLoaders, CanonDngNikonPentaxFujiRoundTrips) {
  const Case cases[] = {
      {"canon_10bit", Canon10Bit},
      {"canon_600", Canon600},
      {"canon_600 ratio check", Canon600Ratio},
      {"ljpeg in slices", LjpegSlices},
      {"ljpeg curve, Kodak black", LjpegCurveKodak},
      {"ljpeg 3984 columns", Ljpeg3984},
      {"canon sRAW", CanonSraw},
      {"DNG lossless tiles", DngLosslessTiles},
      {"DNG lossless RGB", DngLosslessRgb},
      {"DNG uncompressed 12-bit", DngUncompressed12},
      {"DNG uncompressed, second shot", DngUncompressedSecondShot},
      {"Pentax K10", PentaxK10},
      {"Nikon lossless 12", [] { NikonLossless(12); }},
      {"Nikon lossless 14", [] { NikonLossless(14); }},
      {"Nikon lossy, curve and split", NikonLossyCurveSplit},
      {"Nikon E900", NikonE900},
      {"Fuji", Fuji},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.run();
  }
}
