// Bit reader, Huffman trees and lossless JPEG: a hand-computed stream, and
// exact round trips through the test encoder for every predictor.
#include <gtest/gtest.h>

#include <random>

#include "raw_test_encoder.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"

using namespace rawtest;

namespace {

// Decodes a whole scan; empty when the header is refused.
std::vector<uint16_t> DecodeAll(MemoryContext& m) {
  ljpeg_header jh;
  if (!quarn_ljpeg_start(m.get(), &jh, 0)) return {};
  std::vector<uint16_t> out;
  for (int r = 0; r < jh.high; ++r) {
    const uint16_t* row = ljpeg_decode_row(m.get(), r, &jh);
    out.insert(out.end(), row, row + size_t(jh.wide) * jh.clrs);
  }
  return out;
}

std::vector<uint16_t> RandomSamples(const LjpegParams& p, unsigned seed, int extra = 0) {
  std::mt19937 gen(seed);
  std::vector<uint16_t> s(size_t(p.width) * p.height * (p.components + extra));
  int limit = 1 << (p.precision - p.point_transform);
  // A smooth field with noise, and a few extremes so every length occurs.
  for (size_t i = 0; i < s.size(); ++i) {
    int v = int(i * 37 % limit) / 2 + int(gen() % 64);
    if (gen() % 17 == 0) v = (gen() & 1) ? limit - 1 : 0;
    s[i] = uint16_t(v % limit);
  }
  return s;
}

}  // namespace

// Worked by hand: a 2 x 2 one-component 8-bit frame, predictor 1, one table
// with three 2-bit codes (00 -> length 0, 01 -> length 1, 10 -> length 2).
// Samples 128 129 / 127 127 give differences 0, +1, -1, 0, coded
// 00 | 01 1 | 01 0 | 00, padded with ones: 0001 1010 0011 1111 = 1A 3F.
const uint8_t hand_vector[] = {
    0xFF, 0xD8,                                                              // SOI
    0xFF, 0xC3, 0x00, 0x0B, 0x08, 0x00, 0x02, 0x00, 0x02, 0x01, 0x01, 0x11, 0x00,  // SOF3
    0xFF, 0xC4, 0x00, 0x16, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02,      // DHT
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00,            // SOS
    0x1A, 0x3F, 0xFF, 0xD9};

TEST(RawLjpeg, HandComputedVector) {
  MemoryContext m(std::vector<uint8_t>(std::begin(hand_vector), std::end(hand_vector)));
  m->dng_version_code = 0x01010000;  // a DNG reads the one-component frame as it stands
  EXPECT_EQ(DecodeAll(m), (std::vector<uint16_t>{128, 129, 127, 127}));
  EXPECT_EQ(m->data_error_reported, 0);
  EXPECT_EQ(m->ff00_stuffing, 1);
}

TEST(RawLjpeg, NonDngOneComponentFrameDropsAByte) {
  std::vector<uint8_t> v(std::begin(hand_vector), std::end(hand_vector));
  v.insert(v.begin() + 15, 0x00);  // the filler byte after the frame header
  MemoryContext m(v);
  EXPECT_EQ(DecodeAll(m), (std::vector<uint16_t>{128, 129, 127, 127}));
  MemoryContext dng(v);
  dng->dng_version_code = 0x01010000;
  EXPECT_TRUE(DecodeAll(dng).empty());  // the filler is then read as a marker
}

TEST(RawLjpeg, InfoOnlyReadsTheFrame) {
  MemoryContext m(std::vector<uint8_t>(std::begin(hand_vector), std::end(hand_vector)));
  m->dng_version_code = 0x01010000;
  ljpeg_header jh;
  EXPECT_EQ(quarn_ljpeg_start(m.get(), &jh, 1), 1);
  EXPECT_EQ(jh.bits, 8);
  EXPECT_EQ(jh.high, 2);
  EXPECT_EQ(jh.wide, 2);
  EXPECT_EQ(jh.clrs, 1);
  EXPECT_EQ(jh.psv, 1);
  EXPECT_EQ(jh.restart, 0x7FFFFFFF);
  EXPECT_FALSE(jh.row);
  EXPECT_EQ(m->huff_next_free, 0u);  // no trees built
}

TEST(RawLjpeg, RoundTripsEveryPredictor) {
  struct Shape {
    int width, height, components, precision, restart_rows;
    bool shared;
  } shapes[] = {
      {13, 9, 1, 12, 0, false}, {7, 6, 2, 16, 0, false}, {5, 8, 3, 8, 1, false},
      {6, 7, 4, 14, 2, true},   {4, 5, 6, 10, 3, false}, {1, 4, 1, 15, 0, false},
  };
  for (const Shape& s : shapes) {
    for (int psv = 1; psv <= 7; ++psv) {
      LjpegParams p;
      p.width = s.width;
      p.height = s.height;
      p.components = s.components;
      p.precision = s.precision;
      p.restart_rows = s.restart_rows;
      p.shared_table = s.shared;
      p.psv = psv;
      p.extra_byte_after_frame = s.components == 1;
      SCOPED_TRACE(testing::Message() << "shape " << s.width << "x" << s.height << "x"
                                      << s.components << " bits " << s.precision << " psv " << psv);
      auto samples = RandomSamples(p, unsigned(psv * 100 + s.components));
      MemoryContext m(EncodeLjpeg(p, samples));
      EXPECT_EQ(DecodeAll(m), samples);
      EXPECT_EQ(m->data_error_reported, 0) << m->message_log;
    }
  }
}

TEST(RawLjpeg, CanonSrawRowsRoundTrip) {
  // Sampling 2x1 gives one extra luma value per position, 2x2 three.
  for (int sampling : {0x21, 0x22}) {
    for (int psv = 1; psv <= 7; ++psv) {
      LjpegParams p;
      p.width = 9;
      p.height = 6;
      p.components = 3;
      p.precision = 15;
      p.psv = psv;
      p.restart_rows = psv == 4 ? 2 : 0;
      p.sraw_sampling = sampling;
      const int extra = sampling == 0x21 ? 1 : 3;
      SCOPED_TRACE(testing::Message() << "sampling " << std::hex << sampling << std::dec << " psv " << psv);
      auto samples = RandomSamples(p, unsigned(psv + sampling), extra);
      MemoryContext m(EncodeLjpeg(p, samples));
      ljpeg_header jh;
      ASSERT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
      EXPECT_EQ(jh.sraw, extra);
      EXPECT_EQ(jh.clrs, 3 + extra);
      std::vector<uint16_t> out;
      for (int r = 0; r < jh.high; ++r) {
        const uint16_t* row = ljpeg_decode_row(m.get(), r, &jh);
        out.insert(out.end(), row, row + size_t(jh.wide) * jh.clrs);
      }
      EXPECT_EQ(out, samples);
      EXPECT_EQ(m->data_error_reported, 0);
    }
  }
}

TEST(RawLjpeg, PointTransformLowersTheBits) {
  LjpegParams p;
  p.width = 6;
  p.height = 3;
  p.components = 2;
  p.precision = 14;
  p.point_transform = 2;
  p.psv = 4;
  auto samples = RandomSamples(p, 7);
  MemoryContext m(EncodeLjpeg(p, samples));
  ljpeg_header jh;
  ASSERT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
  EXPECT_EQ(jh.bits, 12);
  std::vector<uint16_t> out;
  for (int r = 0; r < jh.high; ++r) {
    const uint16_t* row = ljpeg_decode_row(m.get(), r, &jh);
    out.insert(out.end(), row, row + 12);
  }
  EXPECT_EQ(out, samples);
}

TEST(RawLjpeg, RestartEveryRowResynchronisesAfterDamage) {
  LjpegParams p;
  p.width = 16;
  p.height = 6;
  p.components = 2;
  p.precision = 12;
  p.psv = 6;
  p.restart_rows = 1;
  auto samples = RandomSamples(p, 3);
  auto bytes = EncodeLjpeg(p, samples);
  // Damage the coded bits of the second row (between the first and second
  // restart markers); rows from the third on must come back whole.
  size_t rst0 = 0, rst1 = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD0) rst0 = i;
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD1) rst1 = i;
  }
  ASSERT_TRUE(rst0 && rst1 > rst0 + 3);
  for (size_t i = rst0 + 2; i < rst1; ++i) bytes[i] = bytes[i] == 0xFF ? 0xFF : uint8_t(bytes[i] ^ 0x5A);
  MemoryContext m(bytes);
  auto out = DecodeAll(m);
  ASSERT_EQ(out.size(), samples.size());
  size_t row = size_t(p.width) * p.components;
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + row, samples.begin()));
  EXPECT_TRUE(std::equal(out.begin() + 2 * row, out.end(), samples.begin() + 2 * row));
}

TEST(RawLjpeg, LengthSixteenDependsOnTheDngVersion) {
  // 0 comes 32768 away from the prediction: a difference of -32768 (length
  // 16). The samples after it decode right only when exactly the bits the
  // version calls for were taken after that length.
  LjpegParams p;
  p.width = 5;
  p.height = 1;
  p.precision = 16;
  p.extra_byte_after_frame = false;
  std::vector<uint16_t> samples = {32768, 0, 1234, 1300, 40000};
  {
    MemoryContext m(EncodeLjpeg(p, samples));
    m->dng_version_code = 0x01010000;  // newer DNG: no bits follow
    EXPECT_EQ(DecodeAll(m), samples);
  }
  {
    p.long_length16 = true;
    MemoryContext m(EncodeLjpeg(p, samples));
    m->dng_version_code = 0x01000100;  // DNG 1.0.x.x reads 16 bits
    EXPECT_EQ(DecodeAll(m), samples);
  }
}

// The same in the middle of long rows, where the row decoder takes its
// fast path (the code and the bits after it already buffered): a length of
// 16 must still follow the version's rule there. Four components, so that
// the tables of components 2 and 3 give length 16 a code of 4 and 3 bits,
// short enough for the fast path to see it with its 16 bits behind.
TEST(RawLjpeg, LengthSixteenInsideLongRows) {
  LjpegParams p;
  p.width = 100;
  p.height = 3;
  p.components = 4;
  p.precision = 16;
  auto at = [&](std::vector<uint16_t>& v, size_t row, size_t col, size_t c) -> uint16_t& {
    return v[(row * size_t(p.width) + col) * 4 + c];
  };
  std::vector<uint16_t> samples(size_t(p.width) * p.height * 4);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t(1000 + (i * 37) % 500);
  // Jumps of exactly 32768 from the left neighbour, well inside each row.
  for (size_t row = 0; row < 3; ++row)
    for (size_t col : {size_t(31), size_t(50), size_t(51), size_t(52), size_t(77)})
      for (size_t c : {size_t(2), size_t(3)}) at(samples, row, col, c) = uint16_t(at(samples, row, col - 1, c) + 32768);
  for (bool old_dng : {false, true}) {
    SCOPED_TRACE(old_dng ? "DNG 1.0" : "newer DNG");
    p.long_length16 = old_dng;
    MemoryContext m(EncodeLjpeg(p, samples));
    m->dng_version_code = old_dng ? 0x01000100 : 0x01040000;
    EXPECT_EQ(DecodeAll(m), samples);
    EXPECT_EQ(m->data_error_reported, 0);
  }
}

TEST(RawBits, MarkerStopsTheReaderUntilReset) {
  MemoryContext m({0xA5, 0xFF, 0x00, 0xFF, 0xD9, 0x80});
  m->ff00_stuffing = 1;
  EXPECT_EQ(read_bits(m.get(), 4), 0xAu);
  EXPECT_EQ(read_bits(m.get(), 12), 0x5FFu);  // 0xFF 0x00 is one 0xFF
  EXPECT_EQ(read_bits(m.get(), 0), 0u);
  EXPECT_EQ(read_bits(m.get(), 1), 0u);  // the marker
  EXPECT_EQ(read_bits(m.get(), 8), 0u);
  EXPECT_EQ(read_bits(m.get(), 3), 0u);
  reset_bit_reader(m.get());
  EXPECT_EQ(read_bits(m.get(), 1), 1u);  // 0x80 after the marker
}

TEST(RawBits, WithoutStuffingEveryByteIsData) {
  MemoryContext m({0xFF, 0x00, 0x12, 0x34, 0x56});
  EXPECT_EQ(read_bits(m.get(), 24), 0xFF0012u);
  EXPECT_EQ(read_bits(m.get(), 16), 0x3456u);
  EXPECT_EQ(m->data_error_reported, 0);
  EXPECT_EQ(read_bits(m.get(), 25), 0x1FFFFFFu);  // past the end: 0xFF bytes and one report
  EXPECT_EQ(m->data_error_reported, 1);
}

TEST(RawHuffman, ShortSourcesLeaveEmptyNodesThatDecodeAsZero) {
  // Three codes of length 2 need four positions: code 11 is an empty node.
  const uint8_t source[] = {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 8, 9};
  MemoryContext m({0x1B});  // 00 01 10 11
  huff_pool_clear(m.get());
  huff_node* root = huff_next_node(m.get());
  EXPECT_EQ(build_huffman_tree(m.get(), source, sizeof source, 0), 19u);
  EXPECT_EQ(huff_decode_symbol(m.get(), root), 7);
  EXPECT_EQ(huff_decode_symbol(m.get(), root), 8);
  EXPECT_EQ(huff_decode_symbol(m.get(), root), 9);
  EXPECT_EQ(huff_decode_symbol(m.get(), root), 0);
}

TEST(RawHuffman, CodesMatchTheCanonicalAssignment) {
  HuffCodes codes(FullLengthTable());
  BitWriter bw(false);
  for (int s = 0; s <= 16; ++s) bw.Put(codes.code[s].first, codes.code[s].second);
  bw.PadWithOnes();
  MemoryContext m(bw.bytes());
  huff_pool_clear(m.get());
  huff_node* root = huff_next_node(m.get());
  auto source = FullLengthTable();
  build_huffman_tree(m.get(), source.data(), source.size(), 0);
  for (int s = 0; s <= 16; ++s) EXPECT_EQ(huff_decode_symbol(m.get(), root), s);
}

TEST(RawHuffman, PoolOverflowFailsWithItsText) {
  // One DHT segment holding many copies of a deep table.
  std::vector<uint8_t> table(16, 0);
  table[15] = 200;  // 200 codes of length 16
  for (int i = 0; i < 200; ++i) table.push_back(uint8_t(i));
  std::vector<uint8_t> dht;
  for (int copy = 0; copy < 8; ++copy) {
    dht.push_back(0);
    dht.insert(dht.end(), table.begin(), table.end());
  }
  std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xC4, uint8_t((dht.size() + 2) >> 8), uint8_t(dht.size() + 2)};
  file.insert(file.end(), dht.begin(), dht.end());
  MemoryContext m(file);
  m->message_name = "PxImageRAW";
  ljpeg_header jh;
  try {
    quarn_ljpeg_start(m.get(), &jh, 0);
    FAIL() << "no overflow";
  } catch (const raw_failure& f) {
    EXPECT_EQ(f.code, raw_failure_table_overflow);
  }
  EXPECT_EQ(m->message_text, "PxImageRAW: decoder table overflow\n");
}

// The lookup table reads ahead of the bit-at-a-time walk; both must take the
// same bits, stop at the same marker or end, and report the same data error
// at the same position. Codes of 12 to 14 bits go past the lookup window.
TEST(RawHuffman, LookupGivesWhatTheWalkGives) {
  const std::vector<std::vector<uint8_t>> endings = {
      {0xFF, 0xD9}, {0xFF, 0xD3, 0x12, 0x34}, {}, {0xFF}, {0xFF, 0x00}, {0x00, 0xFF, 0xFF, 0xD9}};
  auto source = FullLengthTable(2);
  for (unsigned seed = 0; seed < 120; ++seed) {
    const int stuffing = seed < 60;  // without it, 0xFF is data like any byte
    std::mt19937 gen(seed);
    std::vector<uint8_t> data;
    const size_t size = gen() % 40;
    for (size_t i = 0; i < size; ++i) {
      // Mostly ones, so the long codes (runs of ones) come up often.
      uint8_t b = gen() % 3 ? uint8_t(0xF0 | gen()) : uint8_t(gen());
      data.push_back(b);
      if (b == 0xFF) data.push_back(0x00);
    }
    const auto& ending = endings[seed % endings.size()];
    data.insert(data.end(), ending.begin(), ending.end());
    const int report_at = int(gen() % 12);

    MemoryContext walk(data), look(data);
    for (MemoryContext* m : {&walk, &look}) {
      (*m)->message_name = "PxImageRAW";
      (*m)->ff00_stuffing = stuffing;
      huff_pool_clear(m->get());
      build_huffman_tree(m->get(), source.data(), source.size(), 0);
    }
    auto table = std::make_unique<huff_lookup>();
    huff_lookup_build(look.get(), look->huff_pool, table.get());
    for (int step = 0; step < 40; ++step) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
      const int a = huff_decode_symbol(walk.get(), walk->huff_pool);
      const int b = huff_lookup_symbol(look.get(), table.get());
      ASSERT_EQ(a, b);
      const int bits = a % 17;  // a difference's bits follow the length
      ASSERT_EQ(read_bits(walk.get(), bits), read_bits(look.get(), bits));
      if (step == report_at) {
        report_data_error(walk.get());
        report_data_error_at_reader(look.get());
      }
      ASSERT_EQ(walk->bit_marker, look->bit_marker);
      ASSERT_EQ(walk->message_log, look->message_log);
    }
  }
}
