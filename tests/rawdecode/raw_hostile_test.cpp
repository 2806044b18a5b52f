// Hostile input, one row per fault the decoder must not have: every row runs
// to a clean end (no crash, no endless loop, no sanitizer report) and checks
// the defined outcome.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "raw_test_encoder.h"
#include "raw_test_image.h"
#include "rawdecode/raw_bits.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawtest;

namespace {

// A lossless-JPEG header with the frame fields given and, unless told
// otherwise, one table.
std::vector<uint8_t> Frame(int precision, int height, int width, int components, int al = 0, bool table = true) {
  std::vector<uint8_t> f = {0xFF, 0xD8, 0xFF, 0xC3, 0, uint8_t(8 + 3 * components), uint8_t(precision),
                            uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
                            uint8_t(components)};
  for (int c = 0; c < components; ++c) f.insert(f.end(), {uint8_t(c + 1), 0x11, 0});
  if (table) {  // table 0: one code of length 1 for difference length 0
    f.insert(f.end(), {0xFF, 0xC4, 0, 20, 0, 1});
    f.insert(f.end(), 15, 0);
    f.push_back(0);
  }
  f.insert(f.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 1, 0, uint8_t(al)});
  return f;
}

// 1 when the header was taken, with the data error flag.
std::pair<int, int> Start(std::vector<uint8_t> bytes) {
  MemoryContext m(std::move(bytes));
  m->dng_version_code = 0x01010000;
  ljpeg_header jh;
  int ok = quarn_ljpeg_start(m.get(), &jh, 0);
  return {ok, m->data_error_reported};
}

int Flat(int, int, int c) { return 1000 + 500 * c; }

struct Row {
  const char* fault;
  std::function<void()> run;
};

}  // namespace

TEST(RawHostile, EveryRowEndsCleanly) {
  const Row rows[] = {
      {"cfa colour at negative rows and columns",
       [] {
         auto ctx = raw_context_create();
         ctx->cfa_pattern = 1;
         ctx->top_margin = 0;
         EXPECT_EQ(cfa_colour_at(ctx.get(), -1, -2), 1);  // row 15, column 14
         ctx->cfa_pattern = 0x94949494;
         EXPECT_EQ(cfa_colour_at(ctx.get(), std::numeric_limits<int>::min(), -1), 1);
       }},
      {"bit reader: length 0 and lengths beyond 25",
       [] {
         MemoryContext m({0xAB, 0xCD, 0xEF, 0x12});
         EXPECT_EQ(read_bits(m.get(), 0), 0u);
         EXPECT_EQ(read_bits(m.get(), -3), 0u);
         EXPECT_EQ(m->data_error_reported, 0);
         EXPECT_EQ(read_bits(m.get(), 30), 0u);
         EXPECT_EQ(m->data_error_reported, 1);
         EXPECT_EQ(read_bits(m.get(), 8), 0xABu);  // nothing was consumed
       }},
      {"a symbol beyond 16 used as a length",
       [] {
         // One code of length 1, symbol 40: every difference is a data error giving 0.
         std::vector<uint8_t> f = Frame(8, 1, 4, 1, 0, false);
         std::vector<uint8_t> dht = {0xFF, 0xC4, 0, 20, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40};
         f.insert(f.begin() + 2 + 2 + 11, dht.begin(), dht.end());
         f.insert(f.end(), {0x00, 0xFF, 0xD9});
         MemoryContext m(f);
         m->dng_version_code = 0x01010000;
         ljpeg_header jh;
         ASSERT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
         const uint16_t* row = ljpeg_decode_row(m.get(), 0, &jh);
         for (int i = 0; i < 4; ++i) EXPECT_EQ(row[i], 128);
         EXPECT_EQ(m->data_error_reported, 1);
       }},
      {"a truncated scan ends with a data error",
       [] {
         LjpegParams p;
         p.width = 64;
         p.height = 64;
         p.components = 2;
         std::vector<uint16_t> s(64 * 64 * 2, 300);
         auto bytes = EncodeLjpeg(p, s);
         bytes.resize(bytes.size() / 3);
         MemoryContext m(bytes);
         ljpeg_header jh;
         ASSERT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
         for (int r = 0; r < jh.high; ++r) ljpeg_decode_row(m.get(), r, &jh);
         EXPECT_EQ(m->data_error_reported, 1);
       }},
      {"lossless-JPEG frames outside the accepted ranges",
       [] {
         EXPECT_EQ(Start(Frame(8, 2, 2, 1)), std::make_pair(1, 0));  // the sound one
         EXPECT_EQ(Start(Frame(8, 2, 2, 1, 0, false)), std::make_pair(0, 1));  // no table defined
         auto other_table = Frame(8, 2, 2, 1);
         other_table[other_table.size() - 4] = 0x10;  // the scan codes with table 1, never defined
         EXPECT_EQ(Start(other_table), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(8, 2, 2, 0)), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(8, 2, 2, 7)), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(0, 2, 2, 1)), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(17, 2, 2, 1)), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(8, 2, 2, 1, 8)), std::make_pair(0, 1));  // no bits left
         EXPECT_EQ(Start(Frame(8, 0, 2, 1)), std::make_pair(0, 1));
         EXPECT_EQ(Start(Frame(8, 2, 0, 1)), std::make_pair(0, 1));
         auto no_frame = Frame(8, 2, 2, 1);
         no_frame.erase(no_frame.begin() + 2, no_frame.begin() + 15);
         EXPECT_EQ(Start(no_frame), std::make_pair(0, 1));
         EXPECT_EQ(Start({0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x01}), std::make_pair(0, 1));  // length below 2
         EXPECT_EQ(Start({0x00, 0x00}), std::make_pair(0, 0));  // not lossless JPEG: no report
         EXPECT_EQ(Start({}), std::make_pair(0, 0));
       }},
      {"a DHT walk stops at its segment's end",
       [] {
         // The table's counts claim 200 symbols; the segment holds 3.
         std::vector<uint8_t> f = Frame(8, 1, 2, 1);
         std::vector<uint8_t> dht = {0xFF, 0xC4, 0, 22, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
         f.insert(f.begin() + 15, dht.begin(), dht.end());
         f.insert(f.end(), {0x00, 0xFF, 0xD9});
         MemoryContext m(f);
         m->dng_version_code = 0x01010000;
         ljpeg_header jh;
         EXPECT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
         EXPECT_LT(m->huff_next_free, 2048u);
         ljpeg_decode_row(m.get(), 0, &jh);
       }},
      {"restart interval 0 means no restarts",
       [] {
         LjpegParams p;
         p.width = 5;
         p.height = 4;
         p.components = 2;
         p.psv = 7;
         std::vector<uint16_t> s(40);
         for (size_t i = 0; i < s.size(); ++i) s[i] = uint16_t(i * 97 % 4096);
         auto bytes = EncodeLjpeg(p, s);
         // A DRI segment of interval 0 before the scan header.
         size_t sos = 0;
         while (!(bytes[sos] == 0xFF && bytes[sos + 1] == 0xDA)) ++sos;
         bytes.insert(bytes.begin() + long(sos), {0xFF, 0xDD, 0, 4, 0, 0});
         MemoryContext m(bytes);
         ljpeg_header jh;
         ASSERT_EQ(quarn_ljpeg_start(m.get(), &jh, 0), 1);
         EXPECT_EQ(jh.restart, 0x7FFFFFFF);
         std::vector<uint16_t> out;
         for (int r = 0; r < 4; ++r) {
           const uint16_t* row = ljpeg_decode_row(m.get(), r, &jh);
           out.insert(out.end(), row, row + 10);
         }
         EXPECT_EQ(out, s);
       }},
      {"Canon CRW data with no sensor size, or an image beyond it",
       [] {
         MemoryContext m(std::vector<uint8_t>(2000, 0x55));
         m->image_height = m->image_width = 8;
         m->cfa_pattern = kBayer;
         raw_allocate_pixels(m.get(), "test");
         canon_compressed_load_raw(m.get());
         EXPECT_EQ(m->data_error_reported, 1);
         MemoryContext big(std::vector<uint8_t>(3000, 0xA7));
         big->sensor_width = 64;
         big->sensor_height = 9;
         big->image_height = 40;
         big->image_width = 64;
         big->top_margin = 3;
         big->cfa_pattern = kBayer;
         raw_allocate_pixels(big.get(), "test");
         canon_compressed_load_raw(big.get());
       }},
      {"white balance with multipliers that are no positive numbers",
       [] {
         auto ctx = MosaicContext(8, 8, Flat);
         ctx->white_level = 4000;
         ctx->pre_multipliers[0] = std::nanf("");
         ctx->pre_multipliers[1] = -2;
         ctx->pre_multipliers[2] = std::numeric_limits<float>::infinity();
         ctx->pre_multipliers[3] = 0;
         scale_colors(ctx.get());
         for (float m : ctx->pre_multipliers) EXPECT_FLOAT_EQ(m, 1);
         EXPECT_EQ(cfa_sample(ctx.get(), 0, 0), int(1000 * (65535.0f / 4000)));
       }},
      {"white balance with saturation not above black",
       [] {
         auto ctx = MosaicContext(8, 8, Flat);
         ctx->white_level = 500;
         ctx->black_level = 500;
         ctx->message_name = "PxImageRAW";
         scale_colors(ctx.get());
         EXPECT_EQ(cfa_sample(ctx.get(), 0, 0), 1000);
         EXPECT_EQ(ctx->white_level, 500u);
         EXPECT_NE(ctx->message_log.find("colours left unscaled"), std::string::npos);
       }},
      {"a singular matrix or a zero row keeps camera colours",
       [] {
         double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}, out[3][3];
         EXPECT_FALSE(pseudo_inverse(singular, out, 3));
         auto ctx = raw_context_create();
         ctx->colour_count = 3;
         ctx->raw_colour_flag = 1;
         ctx->pre_multipliers[0] = 7;
         double zero_row[3][3] = {{1, 0, 0}, {0, 0, 0}, {0, 0, 1}};
         EXPECT_FALSE(camera_matrix_from_xyz(ctx.get(), zero_row));
         // Rows summing to zero through the sRGB matrix.
         double cancel[3][3] = {{1, 0, 0}, {0, 1, 0}, {1, -1, 0}};
         for (int j = 0; j < 3; ++j) cancel[2][j] = 0;
         EXPECT_FALSE(camera_matrix_from_xyz(ctx.get(), cancel));
         EXPECT_EQ(ctx->raw_colour_flag, 1);
         EXPECT_FLOAT_EQ(ctx->pre_multipliers[0], 7);
         double rank2[3][3] = {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
         EXPECT_FALSE(camera_matrix_from_xyz(ctx.get(), rank2));
         EXPECT_EQ(ctx->raw_colour_flag, 1);
       }},
      {"a dead pixel with no neighbour of its colour",
       [] {
         auto ctx = MosaicContext(1, 1, Flat);
         char path[] = "/tmp/pw_raw_bad_XXXXXX";
         int fd = mkstemp(path);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(write(fd, "0 0 0\n", 6), 6);
         close(fd);
         repair_dead_pixels(ctx.get(), path);
         unlink(path);
         EXPECT_EQ(cfa_sample(ctx.get(), 0, 0), 1000);
       }},
      {"wavelet denoising with saturation 0 and images smaller than its filter",
       [] {
         for (int size : {1, 2, 3, 5, 9}) {
           auto ctx = raw_context_create();
           ctx->image_height = uint16_t(size);
           ctx->image_width = uint16_t(size + 1);
           ctx->cfa_pattern = kBayer;
           ctx->colour_count = 3;
           ctx->shrink_factor = 1;
           ctx->white_level = 1;  // the largest shift
           for (float& m : ctx->pre_multipliers) m = 1;
           raw_allocate_pixels(ctx.get(), "test");
           for (uint64_t i = 0; i < ctx->pixel_count; ++i) ctx->pixels[i] = raw_pixel{{65535, 100, 7, 65535}};
           ctx->options.denoise_threshold = 500;
           wavelet_denoise(ctx.get());
           ctx->white_level = 0;
           wavelet_denoise(ctx.get());
         }
       }},
      {"border fill on images narrower than the border",
       [] {
         auto ctx = MosaicContext(9, 3, Flat);
         fill_border_colours(ctx.get(), 5);
         for (int r = 0; r < 9; ++r)
           for (int c = 0; c < 3; ++c)
             for (int k = 0; k < 3; ++k) EXPECT_EQ(At(ctx.get(), r, c)[k], Flat(r, c, k));
       }},
      {"bilinear with a colour that has no neighbour",
       [] {
         // Colour 1 at one phase only (row 7, column 1), colour 2 nowhere.
         auto ctx = MosaicContext(10, 6, Flat, 0x40000000);
         bilinear_demosaic(ctx.get());
         EXPECT_EQ(At(ctx.get(), 3, 3)[2], 0);  // nothing to take blue from
         EXPECT_EQ(At(ctx.get(), 3, 3)[0], Flat(3, 3, 0));
       }},
      {"AHD with a matrix that overflows the colour conversion",
       [] {
         auto ctx = MosaicContext(16, 16, Flat);
         ctx->rgb_from_camera[0][0] = 1e30f;
         ctx->rgb_from_camera[1][1] = std::nanf("");
         ctx->rgb_from_camera[2][2] = -1e30f;
         ahd_interpolate(ctx.get());
       }},
      {"PPG and AHD on patterns with a fourth colour",
       [] {
         for (auto fn : {ppg_demosaic, ahd_interpolate}) {
           auto ctx = MosaicContext(12, 12, Flat, 0x1B1B1B1B, 3);  // colour 3 present
           fn(ctx.get());
         }
       }},
      {"VNG on images of five rows or fewer",
       [] {
         for (int h : {1, 2, 4, 5, 6}) {
           auto ctx = MosaicContext(h, 7, Flat);
           vng_interpolate(ctx.get());
           for (int r = 0; r < h; ++r)
             EXPECT_EQ(At(ctx.get(), r, 3)[cfa_colour_at(ctx.get(), r, 3)], Flat(r, 3, cfa_colour_at(ctx.get(), r, 3)));
           if (h >= 3) {
             EXPECT_NE(At(ctx.get(), 1, 3)[0], 0);  // never a row of zeros written
           }
         }
       }},
      {"highlight blending of a fully clipped neutral pixel",
       [] {
         auto ctx = MosaicContext(1, 1, Flat);
         ctx->pre_multipliers[1] = 0.5f;
         ctx->pixels[0] = raw_pixel{{40000, 40000, 40000, 0}};
         blend_clipped_highlights(ctx.get());
         for (int k = 0; k < 3; ++k) EXPECT_NEAR(ctx->pixels[0][k], 40000, 1);
       }},
      {"highlight recovery with a colour that never saturates and absurd modes",
       [] {
         for (int mode : {3, 9, 40, 1000, -1000}) {
           auto ctx = MosaicContext(16, 16, [](int, int, int) { return 60000; });
           ctx->pre_multipliers[0] = 0;  // hsat 0
           ctx->pre_multipliers[2] = std::nanf("");
           ctx->options.highlight_mode = mode;
           recover_highlights(ctx.get());
         }
       }},
      {"stages on a pixel buffer that does not cover the image",
       [] {
         auto ctx = MosaicContext(4, 4, Flat);
         ctx->image_height = 400;  // claims more than the buffer holds
         ctx->image_width = 300;
         ctx->zero_is_bad = 1;
         fill_zero_samples(ctx.get());
         scale_colors(ctx.get());
         pre_interpolate(ctx.get());
         bilinear_demosaic(ctx.get());
         vng_interpolate(ctx.get());
         ppg_demosaic(ctx.get());
         ahd_interpolate(ctx.get());
         median_filter_passes(ctx.get());
         blend_clipped_highlights(ctx.get());
         recover_highlights(ctx.get());
         wavelet_denoise(ctx.get());
       }},
      {"an allocation beyond what a decode may use",
       [] {
         auto ctx = raw_context_create();
         ctx->image_height = ctx->image_width = 65535;
         ctx->shrink_factor = 0;
         try {
           raw_allocate_pixels(ctx.get(), "test()");
           FAIL();
         } catch (const raw_failure& f) {
           EXPECT_EQ(f.code, 1);
         }
         EXPECT_FALSE(ctx->pixels);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    row.run();
  }
}
