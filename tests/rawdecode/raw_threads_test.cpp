// Two contexts decoding at once on two threads give what one after the
// other gives: no state is shared between decodes.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "raw_test_encoder.h"
#include "raw_test_image.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_piece_threads.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawtest;

namespace {

// A lossless-JPEG scan of a mosaic, decoded into a context and taken
// through the pipeline to demosaiced pixels.
std::vector<raw_pixel> Decode(const std::vector<uint8_t>& file, int quality) {
  MemoryContext m(file);
  ljpeg_header jh;
  if (!quarn_ljpeg_start(m.get(), &jh, 0)) return {};
  m->image_height = uint16_t(jh.high);
  m->image_width = uint16_t(jh.wide);
  m->cfa_pattern = kBayer;
  m->colour_count = 3;
  m->white_level = 4095;
  for (int i = 0; i < 3; ++i) m->rgb_from_camera[i][i] = 1;
  m->pre_multipliers[0] = 2;
  m->pre_multipliers[1] = 1;
  m->pre_multipliers[2] = 1.5f;
  raw_allocate_pixels(m.get(), "test");
  for (int r = 0; r < jh.high; ++r) {
    const uint16_t* row = ljpeg_decode_row(m.get(), r, &jh);
    for (int c = 0; c < jh.wide; ++c) cfa_store(m.get(), r, c, row[c]);
  }
  scale_colors(m.get());
  pre_interpolate(m.get());
  void (*demosaic[])(raw_decode_context*) = {bilinear_demosaic, vng_interpolate, ppg_demosaic, ahd_interpolate};
  demosaic[quality](m.get());
  return std::vector<raw_pixel>(m->pixels.get(), m->pixels.get() + m->pixel_count);
}

std::vector<uint8_t> Scan(unsigned seed) {
  LjpegParams p;
  p.width = 96;
  p.height = 64;
  p.precision = 12;
  p.psv = 1 + int(seed % 7);
  p.extra_byte_after_frame = true;
  std::vector<uint16_t> s(size_t(p.width) * p.height);
  for (size_t i = 0; i < s.size(); ++i) s[i] = uint16_t((i * seed * 2654435761u >> 7) % 4096);
  return EncodeLjpeg(p, s);
}

}  // namespace

TEST(RawThreads, TwoContextsAtOnceEqualOneAfterTheOther) {
  const auto a = Scan(3), b = Scan(8);
  for (int quality = 0; quality < 4; ++quality) {
    SCOPED_TRACE(quality);
    auto serial_a = Decode(a, quality), serial_b = Decode(b, quality);
    ASSERT_FALSE(serial_a.empty());
    std::vector<raw_pixel> par_a, par_b;
    for (int round = 0; round < 3; ++round) {
      std::thread ta([&] { par_a = Decode(a, quality); });
      std::thread tb([&] { par_b = Decode(b, quality); });
      ta.join();
      tb.join();
      ASSERT_EQ(memcmp(par_a.data(), serial_a.data(), serial_a.size() * sizeof(raw_pixel)), 0);
      ASSERT_EQ(memcmp(par_b.data(), serial_b.data(), serial_b.size() * sizeof(raw_pixel)), 0);
    }
  }
}

// What a worker thread throws ends the decode as the decoder's failure, on
// the calling thread, once every worker has ended; never std::terminate.
// bad_alloc from the run time becomes the out-of-memory failure with its
// message.
TEST(RawThreads, WhatABandThrowsBecomesTheDecodersFailure) {
  auto ctx = raw_context_create();
  ctx->message_name = "PxImageRAW";
  std::atomic<int> ended{0};
  try {
    raw_run_row_bands(ctx.get(), 400, 4, "bilinear_demosaic()", [&](int, int, int band) {
      if (band == 2) throw std::bad_alloc();
      ended.fetch_add(1);
    });
    ADD_FAILURE() << "no failure";
  } catch (const raw_failure& f) {
    EXPECT_EQ(f.code, raw_failure_out_of_memory);
    EXPECT_EQ(ctx->message_text, "PxImageRAW: Out of memory in bilinear_demosaic()\n");
  }
  EXPECT_EQ(ended.load(), 3);  // the other bands ran to their end first
  // The decoder's own failures pass as they are.
  try {
    raw_run_row_bands(ctx.get(), 400, 4, "convert_to_rgb()", [&](int, int, int band) {
      if (band == 3) report_table_overflow(ctx.get());
    });
    ADD_FAILURE() << "no failure";
  } catch (const raw_failure& f) {
    EXPECT_EQ(f.code, raw_failure_table_overflow);
  }
}

TEST(RawThreads, WhatAPieceWorkerThrowsBecomesTheDecodersFailure) {
  // Eight pieces of 4 bytes; the decoder of piece 5 meets bad_alloc.
  MemoryContext m(std::vector<uint8_t>(64, 0x11));
  m->message_name = "PxImageRAW";
  raw_segment_plan plan;
  for (uint32_t i = 0; i < 8; ++i) {
    plan.offsets.push_back(8 * i);
    plan.lengths.push_back(4);
  }
  plan.width = plan.height = 2;
  plan.across = 2;
  plan.bytes_left = 128;
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    try {
      raw_decode_pieces(m.get(), plan, threads, [](raw_decode_context* w, const raw_segment_plan&, size_t i) {
        if (i == 5) throw std::bad_alloc();
        report_data_error(w);  // every other piece is damaged: its text is kept on the way
      });
      ADD_FAILURE() << "no failure";
    } catch (const raw_failure& f) {
      EXPECT_EQ(f.code, raw_failure_out_of_memory);
      EXPECT_EQ(m->message_text, "PxImageRAW: Out of memory in raw_decode_pieces()\n");
    }
  }
}
