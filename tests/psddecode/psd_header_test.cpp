// The buffered stream, the value readers, the state loop and the header.
#include <gtest/gtest.h>

#include "psd_test_support.h"

using namespace psdtest;

namespace {

Bytes SmallRgb() {
  return Document(Header(3, 1, 2, 8, 3), {}, {}, {},
                  RawImage({{10, 20}, {30, 40}, {50, 60}}));
}

TEST(PsdStream, ReadPastBufferGoesStraightToTheCallback) {
  Bytes data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  auto d = Open(data);
  uint8_t small[4086];
  ASSERT_EQ(psd_stream_read(&d->ctx, small, 4086), 4086);  // refill of 4096, 10 left
  std::vector<uint8_t> big(5000);
  ASSERT_EQ(psd_stream_read(&d->ctx, big.data(), 5000), 5000);
  ASSERT_EQ(d->stream.read_requests.size(), 2u);
  EXPECT_EQ(d->stream.read_requests[1], 4990u);
  for (size_t i = 0; i < 5000; ++i) ASSERT_EQ(big[i], uint8_t((4086 + i) * 7));
  EXPECT_EQ(d->ctx.consumed, 9086);
}

TEST(PsdStream, LargeSkipSeeksAndCountsInFullEvenWhenTheSeekFails) {
  auto d = Open(Bytes(100));
  EXPECT_EQ(psd_stream_skip(&d->ctx, 10000), 10000);
  EXPECT_EQ(d->stream.seeks, 1);
  EXPECT_EQ(d->ctx.consumed, 10000);
}

TEST(PsdStream, ValueReadersYieldZeroAtTheEnd) {
  W w;
  w.u16(0x1234).u32(0xDEADBEEF).f64(2.5).u8(7);
  auto d = Open(w.b);
  EXPECT_EQ(psd_get_be16(&d->ctx), 0x1234);
  EXPECT_EQ(psd_get_be32(&d->ctx), 0xDEADBEEFu);
  EXPECT_DOUBLE_EQ(psd_get_be_double(&d->ctx), 2.5);
  EXPECT_EQ(psd_get_be32(&d->ctx), 0u);  // only one byte left
  EXPECT_EQ(psd_get_u8(&d->ctx), 0);
  EXPECT_FALSE(psd_get_bool(&d->ctx));
  EXPECT_EQ(psd_get_be_double(&d->ctx), 0.0);
}

TEST(PsdStream, BlendKeysAndColourRecords) {
  W w;
  w.str("norm").str("pass").str("xxxx").str("hLit");
  w.u16(3).zeros(8);                            // unknown colour space
  w.u16(0).u16(0x12AB).u16(0x3400).u16(0xFFFF).u16(0);  // RGB record
  w.u16(5).zeros(8);
  auto d = Open(w.b);
  EXPECT_EQ(psd_get_blend_key(&d->ctx), 0);
  EXPECT_EQ(psd_get_blend_key(&d->ctx), 23);
  EXPECT_EQ(psd_get_blend_key(&d->ctx), 0);
  EXPECT_EQ(psd_get_blend_key(&d->ctx), 12);
  EXPECT_EQ(psd_get_color(&d->ctx), 0x00FFFFFFu);
  EXPECT_EQ(psd_get_color(&d->ctx), 0xFF1234FFu);
  EXPECT_EQ(psd_get_color(&d->ctx), 0x00FFFFFFu);
  EXPECT_EQ(psd_get_blend_key(&d->ctx), 0);  // short read
}

TEST(PsdHeader, StatusTable) {
  struct Case {
    const char* name;
    Bytes bytes;
    psd_status expected;
  };
  Bytes good = SmallRgb();
  auto with = [&](size_t offset, std::initializer_list<uint8_t> values) {
    Bytes b = good;
    size_t i = offset;
    for (uint8_t v : values) b[i++] = v;
    return b;
  };
  const Case cases[] = {
      {"25 bytes", Bytes(good.begin(), good.begin() + 25), psd_status_no_data},
      {"signature", with(0, {'8', 'B', 'P', 'X'}), -200},
      {"version 2", with(4, {0, 2}), -201},
      {"depth 32", with(22, {0, 32}), -18},
      {"mode 5", with(24, {0, 5}), -19},
      {"mode 6", with(24, {0, 6}), -19},
      {"signature before depth", with(0, {'X'}), -200},
      {"width 0", with(18, {0, 0, 0, 0}), psd_status_no_data},
      {"height 30001", with(14, {0, 0, 0x75, 0x31}), psd_status_no_data},
      {"57 channels", with(12, {0, 57}), psd_status_no_data},
      {"0 channels", with(12, {0, 0}), psd_status_no_data},
  };
  for (const auto& c : cases) {
    auto d = Decode(c.bytes);
    EXPECT_EQ(d->status, c.expected) << c.name;
  }
  Bytes both = with(0, {'X'});
  both[23] = 32;
  EXPECT_EQ(Decode(both)->status, -200);
}

TEST(PsdHeader, EmptyFileReadsNothing) {
  auto d = Open(SmallRgb());
  d->ctx.file_length = 0;
  EXPECT_EQ(psd_main_loop(&d->ctx), psd_status_no_data);
  EXPECT_TRUE(d->stream.read_requests.empty());
}

TEST(PsdHeader, HeaderOnlyModeReadsTwentySixBytes) {
  auto d = Decode(SmallRgb(), psd_load_header_only);
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.consumed, 26);
  EXPECT_EQ(d->ctx.width, 2);
  EXPECT_EQ(d->ctx.height, 1);
  EXPECT_EQ(d->ctx.channels, 3);
  EXPECT_EQ(d->ctx.depth, 8);
  EXPECT_EQ(d->ctx.color_mode, 3u);
  EXPECT_EQ(d->ctx.state, 5u);
  EXPECT_EQ(d->ctx.merged_image, nullptr);
}

TEST(PsdHeader, StateLoop) {
  auto d = Decode(SmallRgb());
  ASSERT_EQ(d->status, 0);
  EXPECT_EQ(d->ctx.merged_image[0], 0xFF0A1E32u);
  EXPECT_EQ(d->ctx.merged_image[1], 0xFF14283Cu);
  size_t requests = d->stream.read_requests.size();
  EXPECT_EQ(psd_main_loop(&d->ctx), 0);  // already done: reads nothing
  EXPECT_EQ(d->stream.read_requests.size(), requests);
  d->ctx.state = 9;
  EXPECT_EQ(psd_main_loop(&d->ctx), psd_status_invalid_state);
  EXPECT_EQ(psd_free_context(nullptr), -1);
}

}  // namespace
