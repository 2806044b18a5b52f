// Canon CRW compressed data through the test encoder, and the low-bit probe.
#include <gtest/gtest.h>

#include <random>

#include "raw_test_encoder.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"

using namespace rawtest;

namespace {

// Samples whose high parts move by small non-zero steps (every difference
// has a code of run 0), with the dark columns at 62 (100) and 63 (90).
std::vector<uint16_t> CrwSamples(int w, int h, bool low_bits, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint16_t> s(size_t(w) * h);
  for (int r = 0; r < h; ++r) {
    int high[2] = {512, 512};
    for (int c = 0; c < w; ++c) {
      int& b = high[c & 1];
      int step = 1 + int(gen() % 40);
      b += b > 512 ? -step : step;
      int v = low_bits ? b * 4 + int(gen() % 4) : b;
      s[size_t(r) * w + c] = uint16_t(v);
    }
    if (w == 64) {
      s[size_t(r) * w + 62] = uint16_t(low_bits ? 400 : 100);
      s[size_t(r) * w + 63] = uint16_t(low_bits ? 360 : 90);
    }
  }
  return s;
}

void SetGeometry(MemoryContext& m, int w, int h) {
  m->sensor_width = uint16_t(w);
  m->sensor_height = uint16_t(h);
  m->top_margin = 1;
  m->left_margin = 2;
  m->image_width = uint16_t(w - 4);
  m->image_height = uint16_t(h - 1);
  m->cfa_pattern = 0x94949494;
  m->white_level = 4095;
  raw_allocate_pixels(m.get(), "test");
}

}  // namespace

TEST(RawCrw, DecodesEveryTableSetWithAndWithoutLowBits) {
  const int w = 64, h = 16;
  for (int set = 0; set < 3; ++set) {
    for (bool low : {true, false}) {
      SCOPED_TRACE(testing::Message() << "set " << set << " low bits " << low);
      auto samples = CrwSamples(w, h, low, unsigned(set + 10 * low));
      CrwParams p;
      p.sensor_width = w;
      p.sensor_height = h;
      p.low_bits = low;
      p.table_set = set;
      MemoryContext m(EncodeCrw(p, samples));
      m->compression_code = set == 2 ? 5 : set;  // above 2 chooses set 2
      SetGeometry(m, w, h);
      EXPECT_EQ(canon_has_low_bits(m.get()), low ? 1 : 0);
      canon_compressed_load_raw(m.get());
      EXPECT_EQ(m->data_error_reported, 0) << m->message_log;
      EXPECT_EQ(m->white_level, low ? 4095u : 1023u);
      // Dark columns 62 and 63 average d0 and d1; their difference is added
      // to the odd visible columns, and black is their mean.
      int d0 = low ? 400 : 100, d1 = low ? 360 : 90;
      EXPECT_EQ(m->black_level, unsigned((d0 + d0 + 1) / 2));
      for (int r = 0; r < h - 1; ++r) {
        for (int c = 0; c < w - 4; ++c) {
          int expect = samples[size_t(r + 1) * w + c + 2] + ((c & 1) ? d0 - d1 : 0);
          ASSERT_EQ(cfa_sample(m.get(), r, c), expect) << r << "," << c;
        }
      }
    }
  }
}

TEST(RawCrw, LowBitProbeOnShortAndZeroedData) {
  MemoryContext empty(std::vector<uint8_t>{});
  EXPECT_EQ(canon_has_low_bits(empty.get()), 1);
  std::vector<uint8_t> v(600, 0);
  v[550] = 0xFF;  // followed by zero: no low bits
  MemoryContext stuffed(v);
  EXPECT_EQ(canon_has_low_bits(stuffed.get()), 0);
  v[560] = 0xFF;
  v[561] = 0xC4;
  MemoryContext marker(v);
  EXPECT_EQ(canon_has_low_bits(marker.get()), 1);
  v.resize(541);
  v[540] = 0xFF;  // the last byte of a short file: the byte after it reads as 0
  MemoryContext last(v);
  EXPECT_EQ(canon_has_low_bits(last.get()), 0);
}

// Sensors 2672 samples wide add 2 to every sample below 512 once its low
// bits are joined; other widths keep their samples as stored.
TEST(RawCrw, SamplesBelow512GainTwoOnlyOn2672WideSensors) {
  for (int w : {2672, 2680}) {
    SCOPED_TRACE(w);
    const int h = 8;
    std::mt19937 gen{unsigned(w)};
    std::vector<uint16_t> samples(size_t(w) * h);
    for (int r = 0; r < h; ++r) {
      int high[2] = {512, 512};
      for (int c = 0; c < w; ++c) {
        int& b = high[c & 1];
        // Down to about 120 (samples about 480), then wandering across 128
        // (sample 512) in small non-zero steps.
        int step = b > 140 ? std::min(40, b - 120) : 1 + int(gen() % 12);
        b += b > 120 ? -step : step;
        samples[size_t(r) * w + c] = uint16_t(b * 4 + int(gen() % 4));
      }
      samples[size_t(r) * w + w - 2] = 400;
      samples[size_t(r) * w + w - 1] = 360;
    }
    CrwParams p;
    p.sensor_width = w;
    p.sensor_height = h;
    MemoryContext m(EncodeCrw(p, samples));
    SetGeometry(m, w, h);
    canon_compressed_load_raw(m.get());
    ASSERT_EQ(m->data_error_reported, 0) << m->message_log;
    int below = 0;
    for (int r = 0; r < h - 1; ++r)
      for (int c = 0; c < w - 4; ++c) {
        const int stored = samples[size_t(r + 1) * w + c + 2];
        below += stored < 512;
        const int expect = stored + (w == 2672 && stored < 512 ? 2 : 0) + ((c & 1) ? 40 : 0);
        ASSERT_EQ(cfa_sample(m.get(), r, c), expect) << r << "," << c;
      }
    EXPECT_GT(below, 1000);
  }
}
