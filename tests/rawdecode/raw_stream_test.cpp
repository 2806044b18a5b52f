// The context, the stream instances, the byte-order readers, the CFA lookup
// and the failure and message paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "raw_test_encoder.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

using rawtest::MemoryContext;

TEST(RawContext, DefaultsAreTheDocumentedOnes) {
  auto ctx = raw_context_create();
  EXPECT_EQ(ctx->ops, &raw_stdio_ops);
  EXPECT_EQ(ctx->options.user_black_level, -1);
  EXPECT_EQ(ctx->options.user_white_level, -1);
  EXPECT_EQ(ctx->options.rotate_fuji_layout, 1);
  EXPECT_FLOAT_EQ(ctx->options.brightness, 1.0f);
  EXPECT_DOUBLE_EQ(ctx->options.gamma_params[0], 0.45);
  EXPECT_DOUBLE_EQ(ctx->options.gamma_params[1], 4.5);
  EXPECT_EQ(ctx->options.grey_box[2], 0xFFFFFFFFu);
  EXPECT_EQ(ctx->options.output_space, 1);
  EXPECT_EQ(ctx->options.output_bits, 8);
  EXPECT_EQ(ctx->huff_next_free, 0u);
  EXPECT_EQ(ctx->cfa_pattern, 0u);
}

TEST(RawStream, MemoryAndStdioInstancesAgree) {
  const uint8_t bytes[] = {'a', 'b', '\n', '1', '2', ' ', '3', '4', 0x7F};
  MemoryContext mem(std::vector<uint8_t>(bytes, bytes + sizeof bytes));
  FILE* f = tmpfile();
  ASSERT_TRUE(f);
  fwrite(bytes, 1, sizeof bytes, f);
  auto file_ctx = raw_context_create();
  raw_set_stream(file_ctx.get(), &raw_stdio_ops, f);
  for (raw_decode_context* ctx : {mem.get(), file_ctx.get()}) {
    SCOPED_TRACE(ctx == mem.get() ? "memory" : "stdio");
    EXPECT_EQ(ctx->stream_size, int64_t(sizeof bytes));
    char line[16];
    ASSERT_NE(ctx->ops->gets(ctx->stream, line, sizeof line), nullptr);
    EXPECT_STREQ(line, "ab\n");
    int a = 0, b = 0;
    EXPECT_EQ(ctx->ops->scanf(ctx->stream, "%d %d", &a, &b), 2);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 34);
    EXPECT_EQ(raw_tell(ctx), 8);
    EXPECT_EQ(raw_getc(ctx), 0x7F);
    EXPECT_EQ(ctx->ops->eof(ctx->stream), 0);
    EXPECT_EQ(raw_getc(ctx), -1);
    EXPECT_NE(ctx->ops->eof(ctx->stream), 0);
    // Seeks are checked against the data size in 64 bits and clamped.
    EXPECT_FALSE(raw_seek(ctx, int64_t(1) << 40, 0));
    EXPECT_EQ(raw_tell(ctx), int64_t(sizeof bytes));
    EXPECT_FALSE(raw_seek(ctx, -5, 0));
    EXPECT_EQ(raw_tell(ctx), 0);
    EXPECT_TRUE(raw_seek(ctx, -2, 2));
    EXPECT_EQ(raw_getc(ctx), '4');
  }
  fclose(f);
}

TEST(RawStream, ByteOrderReaders) {
  MemoryContext m({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11});
  m->byte_order = 0x4949;
  EXPECT_EQ(read_u16(m.get()), 0x3412);
  m->byte_order = 0x4D4D;
  EXPECT_EQ(read_u16(m.get()), 0x5678);
  m->byte_order = 0x4949;
  EXPECT_EQ(read_u32(m.get()), 0xF0DEBC9Au);
  // At the end: 0xFF for every byte not read, and no data error.
  EXPECT_EQ(read_u16(m.get()), 0xFF11);
  EXPECT_EQ(read_u16(m.get()), 0xFFFF);
  EXPECT_EQ(read_u32(m.get()), 0xFFFFFFFFu);
  EXPECT_EQ(m->data_error_reported, 0);
}

TEST(RawStream, ReadRealByType) {
  // type, bytes (big-endian file), value, bytes consumed
  struct Case {
    int type;
    std::vector<uint8_t> bytes;
    double value;
    int consumed;
  } cases[] = {
      {3, {0x01, 0x02}, 258, 2},
      {4, {0, 0, 1, 0}, 256, 4},
      {5, {0, 0, 0, 3, 0, 0, 0, 4}, 0.75, 8},
      {8, {0xFF, 0xFE}, -2, 2},
      {9, {0xFF, 0xFF, 0xFF, 0xFD}, -3, 4},
      {10, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 4}, -0.25, 8},
      {11, {0x3F, 0xC0, 0, 0}, 1.5, 4},
      {12, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 3.141592653589793, 8},
      {6, {0x80, 0x55}, 0x80, 1},
      {7, {0x81, 0x55}, 0x81, 1},
      {2, {0x7F, 0x55}, 0x7F, 1},
      {13, {0x05, 0x55}, 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    MemoryContext m(c.bytes);
    m->byte_order = 0x4D4D;
    EXPECT_DOUBLE_EQ(read_real(m.get(), c.type), c.value);
    EXPECT_EQ(raw_tell(m.get()), c.consumed);
  }
  // A little-endian file stores the double's bytes the other way.
  MemoryContext le({0x18, 0x2D, 0x44, 0x54, 0xFB, 0x21, 0x09, 0x40});
  le->byte_order = 0x4949;
  EXPECT_DOUBLE_EQ(read_real(le.get(), 12), 3.141592653589793);
}

TEST(RawStream, ReadU16ArraySwapsAndReportsShortReads) {
  MemoryContext m({0x01, 0x02, 0x03, 0x04, 0x05});
  m->byte_order = 0x4D4D;
  uint16_t v[4] = {9, 9, 9, 9};
  read_u16_array(m.get(), v, 4);
  EXPECT_EQ(v[0], 0x0102);
  EXPECT_EQ(v[1], 0x0304);
  EXPECT_EQ(v[2], 0);  // never a stale value
  EXPECT_EQ(m->data_error_reported, 1);
  EXPECT_NE(m->message_log.find("Unexpected end of file"), std::string::npos);
}

TEST(RawCfa, TwoBitFormRepeatsEightRowsByTwoColumns) {
  auto ctx = raw_context_create();
  ctx->cfa_pattern = 0x94949494;  // rows alternate (R G) and (G B)
  for (int r = -16; r < 16; ++r) {
    for (int c = -4; c < 4; ++c) {
      int k = 2 * (((r % 8) + 8) % 8) + (((c % 2) + 2) % 2);
      EXPECT_EQ(cfa_colour_at(ctx.get(), r, c), int((0x94949494u >> (2 * k)) & 3)) << r << "," << c;
      EXPECT_EQ(cfa_colour_at(ctx.get(), r, c), cfa_colour_at(ctx.get(), r + 8, c + 2));
    }
  }
  EXPECT_EQ(cfa_colour_at(ctx.get(), 0, 0), 0);
  EXPECT_EQ(cfa_colour_at(ctx.get(), 0, 1), 1);
  EXPECT_EQ(cfa_colour_at(ctx.get(), 1, 1), 2);
  EXPECT_EQ(cfa_colour_at(ctx.get(), -1, -1), 2);
}

TEST(RawCfa, SixteenBySixteenTableFollowsTheMargins) {
  auto ctx = raw_context_create();
  ctx->cfa_pattern = 1;
  EXPECT_EQ(cfa_colour_at(ctx.get(), 0, 0), 2);
  EXPECT_EQ(cfa_colour_at(ctx.get(), 0, 3), 3);
  EXPECT_EQ(cfa_colour_at(ctx.get(), 15, 15), 3);
  EXPECT_EQ(cfa_colour_at(ctx.get(), 1, 0), 0);
  EXPECT_EQ(cfa_colour_at(ctx.get(), -1, -1), 3);   // row 15, column 15
  EXPECT_EQ(cfa_colour_at(ctx.get(), -2, -16), 2);  // row 14, column 0
  ctx->top_margin = 1;
  ctx->left_margin = 3;
  EXPECT_EQ(cfa_colour_at(ctx.get(), 0, 0), 2);  // row 1, column 3
  EXPECT_EQ(cfa_colour_at(ctx.get(), 13, 1), 3);  // row 14, column 4
}

TEST(RawFailure, DataErrorIsReportedOncePerFile) {
  for (int file = 0; file < 2; ++file) {
    MemoryContext m({1, 2, 3});
    m->message_name = "PxImageRAW";
    raw_seek(m.get(), 1, 0);
    report_data_error(m.get());
    report_data_error(m.get());
    EXPECT_EQ(m->message_log, "PxImageRAW: Corrupt data near 0x1\n");
  }
  MemoryContext m({1});
  m->message_name = "PxImageRAW";
  raw_getc(m.get());
  raw_getc(m.get());
  report_data_error(m.get());
  EXPECT_EQ(m->message_log, "PxImageRAW: Unexpected end of file\n");
}

TEST(RawFailure, OutOfMemoryLeavesItsTextAndThrows) {
  auto ctx = raw_context_create();
  ctx->message_name = "PxImageRAW";
  std::string seen;
  ctx->message_callback = [](void* user, const char* text) { *static_cast<std::string*>(user) += text; };
  ctx->message_user = &seen;
  report_out_of_memory(ctx.get(), ctx.get(), "scale_colors()");  // a pointer: nothing happens
  try {
    raw_alloc<raw_pixel>(ctx.get(), uint64_t(1) << 40, "scale_colors()");
    FAIL() << "no failure";
  } catch (const raw_failure& f) {
    EXPECT_EQ(f.code, raw_failure_out_of_memory);
  }
  EXPECT_EQ(ctx->message_text, "PxImageRAW: Out of memory in scale_colors()\n");
  EXPECT_EQ(seen, ctx->message_text);
}

TEST(RawFailure, VerboseTextsOnlyWhenAsked) {
  auto ctx = raw_context_create();
  raw_verbose(ctx.get(), "quiet %d\n", 1);
  EXPECT_TRUE(ctx->message_log.empty());
  ctx->options.verbose_messages = 1;
  raw_verbose(ctx.get(), "loud %d\n", 2);
  EXPECT_EQ(ctx->message_log, "loud 2\n");
}
