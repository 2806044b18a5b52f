// Hostile input for the raw loaders, one row per fault they must not have;
// every row runs to a clean end (no crash, no endless loop, no sanitizer
// report) and checks the defined outcome. Then every loader over a spread
// of hand-filled frames and hostile bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "raw_loader_harness.h"
#include "raw_loader_writers.h"
#include "rawdecode/raw_bits.h"

using namespace rawtest;

namespace {

struct Row {
  const char* fault;
  std::function<void()> run;
};

Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) {
    seed = seed * 1664525u + 1013904223u;
    x = uint8_t(seed >> 24);
  }
  return b;
}

}  // namespace

TEST(RawLoadersHostile, EveryRowEndsCleanly) {
  const Row rows[] = {
      {"Fuji placement outside the image is dropped",
       [] {
         Frame f(Noise(4000, 1), Geometry{30, 40, 4, 4, 0, 0});
         f->fuji_diagonal_width = 30;
         fuji_load_raw(f.get());
         f->fuji_layout_flag = 1;
         fuji_load_raw(f.get());
       }},
      {"the PowerShot 600 row buffer follows the sensor width",
       [] {
         Frame f(Noise(3000 * 4, 2), Geometry{4, 2000, 4, 1990, 0, 0}, 0xE1E4E1E4);
         canon_600_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 0);
       }},
      {"PowerShot 600 margins darker than 4 give black 0",
       [] {
         Bytes file(40, 0);
         Frame f(file, Geometry{4, 8, 4, 6, 0, 0}, 0xE1E4E1E4);
         canon_600_load_raw(f.get());
         EXPECT_EQ(f->white_level, unsigned(1023 * 1109 >> 9));
       }},
      {"Sinar shots land one row and column up and left, inside the image",
       [] {
         Frame f(Noise(2000, 3), Geometry{5, 5, 5, 5, 0, 0});
         Bytes offs(16, 0);
         sinar_4shot_load_raw(f.get());
         EXPECT_EQ(f->pixel_count, 25u);
       }},
      {"ARW columns beyond the image width",
       [] {
         Frame f(Noise(5000, 4), Geometry{6, 300, 6, 3, 0, 0});
         sony_arw_load_raw(f.get());
       }},
      {"sRAW with odd sizes, 4:2:0 groups",
       [] {
         // Sampling 0x22: Y Y Y Y Cb Cr groups; an image of 3 x 5.
         Bytes out = {0xFF, 0xD8, 0xFF, 0xC3, 0, 17, 15, 0, 2, 0, 8, 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0};
         HuffCodes table(FullLengthTable());
         out.insert(out.end(), {0xFF, 0xC4, 0, uint8_t(3 + table.source.size()), 0});
         out.insert(out.end(), table.source.begin(), table.source.end());
         out.insert(out.end(), {0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0, 3, 0, 1, 0, 0});
         Bytes noise = Noise(400, 5);
         out.insert(out.end(), noise.begin(), noise.end());
         Frame f(out, Geometry{3, 6, 3, 5, 0, 0}, 0);
         canon_sraw_load_raw(f.get());
         EXPECT_EQ(f->white_level, 0x3FFFu);
       }},
      {"sRAW with neither 4 nor 6 values per group is refused",
       [] {
         LjpegParams p;
         p.components = 2;
         Frame f(EncodeLjpeg(p, std::vector<uint16_t>(64, 5)), Geometry{4, 8, 4, 8, 0, 0}, 0);
         canon_sraw_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
         EXPECT_EQ(f->white_level, 0u);
       }},
      {"QuickTake pictures over 480 x 640 are refused",
       [] {
         Frame f(Noise(100, 6), Geometry{481, 10, 481, 10, 0, 0});
         quicktake_100_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
         Frame g(Noise(100, 6), Geometry{10, 641, 10, 641, 0, 0});
         quicktake_100_load_raw(g.get());
         EXPECT_EQ(g->data_error_reported, 1);
         Frame ok(Noise(200000, 6), Geometry{480, 640, 480, 640, 0, 0});
         quicktake_100_load_raw(ok.get());
         EXPECT_EQ(ok->white_level, 0x3FFu);
       }},
      {"packed rows of widths that do not fill a group",
       [] {
         Frame a(Noise(200, 7), Geometry{3, 13, 3, 13, 0, 0});
         canon_10bit_load_raw(a.get());
         Frame b(Noise(200, 8), Geometry{3, 7, 3, 7, 0, 0});
         nokia_load_raw(b.get());
         Frame c(Noise(200, 9), Geometry{3, 37, 3, 37, 0, 0});
         c->bits_per_sample = 8;
         sony_arw2_load_raw(c.get());
         Frame d(Noise(200, 9), Geometry{3, 7, 3, 7, 0, 0});
         d->bits_per_sample = 12;
         sony_arw2_load_raw(d.get());
         Frame e(Noise(200, 10), Geometry{3, 23, 3, 22, 0, 1});
         olympus_e300_load_raw(e.get());
       }},
      {"the Panasonic reader at every position of its block",
       [] {
         Frame f(Noise(0x4000 * 3, 11), Geometry{1, 1, 1, 1, 0, 0});
         f->loader_flags = 0x3FFF;
         panasonic_read_bits(f.get(), 0);
         for (int i = 0; i < 0x20000 * 2 / 3; ++i) panasonic_read_bits(f.get(), 3);
         f->loader_flags = 0x9000;  // beyond the block: taken as the whole block
         panasonic_read_bits(f.get(), 0);
         panasonic_read_bits(f.get(), 8);
       }},
      {"Nikon depths other than 12 and 14 are refused",
       [] {
         Frame f(Noise(300, 12), Geometry{4, 8, 4, 8, 0, 0});
         f->bits_per_sample = 10;
         nikon_compressed_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
       }},
      {"a flat Nikon curve is trimmed down to 2 at most",
       [] {
         Bytes file = {0x44, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x01};  // csize 0x4001
         file.resize(file.size() + 2 * 0x4001 + 100, 0);
         Frame f(file, Geometry{2, 4, 2, 4, 0, 0});
         f->bits_per_sample = 14;
         f->byte_order = 0x4D4D;
         nikon_compressed_load_raw(f.get());
         Bytes empty = {0x44, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // csize 0
         Frame g(empty, Geometry{2, 4, 2, 4, 0, 0});
         g->bits_per_sample = 12;
         nikon_compressed_load_raw(g.get());
       }},
      {"uneven Nikon curve knots read nothing past the curve",
       [] {
         Bytes file = {0x44, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 1, 0, 2, 0, 3, 0, 4};
         file.resize(700, 0);
         Frame f(file, Geometry{2, 4, 2, 4, 0, 0});
         f->bits_per_sample = 14;  // max 16384, step 5461
         f->raw_data_offset = 600;
         nikon_compressed_load_raw(f.get());
       }},
      {"the unpacked loader's bit count stops at 16",
       [] {
         Frame f(Noise(100, 13), Geometry{3, 4, 3, 4, 0, 0});
         f->white_level = 0xFFFFFFFFu;
         unpacked_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 0);
       }},
      {"SMaL pixel ranges beyond the sensor and a zero sensor width",
       [] {
         Frame f(Noise(3000, 14), Geometry{4, 6, 4, 6, 0, 0});
         smal_segment seg[2] = {{20, 0}, {0xFFFFFFF0u, 0xFFFFFFFFu}};
         smal_decode_segment(f.get(), seg, 0xFF);
         Frame z(Noise(300, 15), Geometry{4, 0, 4, 0, 0, 0});
         smal_segment s2[2] = {{0, 0}, {100, 100}};
         smal_decode_segment(z.get(), s2, 0);
         EXPECT_EQ(z->data_error_reported, 1);
         Frame big(Noise(300, 16), Geometry{4000, 4000, 4, 4, 0, 0});
         smal_v6_load_raw(big.get());  // the data ends long before 16 million pixels
       }},
      {"Canon slices of width 0 are refused",
       [] {
         LjpegParams p;
         p.width = 4, p.components = 2;
         Frame f(EncodeLjpeg(p, std::vector<uint16_t>(32, 9)), Geometry{4, 8, 4, 8, 0, 0});
         f->canon_slices[0] = 1;
         ljpeg_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
       }},
      {"a RADC gain of 0 is taken as 1; widths over the work lines are refused",
       [] {
         Frame f(Bytes(400, 0), Geometry{8, 16, 8, 16, 0, 0});
         kodak_radc_load_raw(f.get());
         EXPECT_EQ(f->white_level, 4095u);
         Frame w(Bytes(400, 0), Geometry{4, 800, 4, 800, 0, 0});
         kodak_radc_load_raw(w.get());
         EXPECT_EQ(w->data_error_reported, 1);
         EXPECT_EQ(w->white_level, 0u);
       }},
      {"a Leaf tile height of 0 is one tile",
       [] {
         Bytes file(4, 0);
         SetBE32(file, 0, 4);
         for (int i = 0; i < 12; ++i) PutBE16(file, 40 + i);
         Frame f(file, Geometry{3, 4, 3, 4, 0, 0});
         f->samples_per_pixel = 1;
         leaf_hdr_load_raw(f.get());
         EXPECT_EQ(f.At(2, 3), 51u);
       }},
      {"the 64-bit reader: read(0) is 0, more than a word is a data error",
       [] {
         Frame f({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Geometry{1, 1, 1, 1, 0, 0});
         ph1_reset_bits(f.get());
         EXPECT_EQ(ph1_read_bits(f.get(), 0), 0u);
         EXPECT_EQ(f->data_error_reported, 0);
         EXPECT_EQ(ph1_read_bits(f.get(), 33), 0u);
         EXPECT_EQ(f->data_error_reported, 1);
         EXPECT_EQ(ph1_read_bits(f.get(), 32), 0xFFFFFFFFu);
       }},
      {"Pentax trees with overlong and clashing codes",
       [] {
         Bytes file;
         for (int k = 0; k < 13; ++k) PutBE16(file, k < 6 ? 0x800 : 0x000);  // prefixes of each other
         for (int k = 0; k < 13; ++k) file.push_back(uint8_t(k < 6 ? 15 : k % 4));
         Bytes noise = Noise(300, 17);
         file.insert(file.end(), noise.begin(), noise.end());
         Frame f(file, Geometry{4, 20, 4, 20, 0, 0});
         pentax_build_tree(f.get());
         for (unsigned i = 0; i < f->huff_next_free; ++i)
           EXPECT_EQ(!f->huff_pool[i].branch[0], !f->huff_pool[i].branch[1]);
         pentax_k10_load_raw(f.get());
       }},
      {"DNG: more than four samples per pixel, bit depths outside 1..16",
       [] {
         Frame f(Noise(400, 18), Geometry{2, 3, 2, 3, 0, 0}, 0);
         f->samples_per_pixel = 7;
         f->bits_per_sample = 16;
         adobe_dng_load_raw_nc(f.get());
         for (int bits : {0, 17}) {
           Frame g(Noise(400, 19), Geometry{2, 3, 2, 3, 0, 0});
           g->bits_per_sample = bits;
           adobe_dng_load_raw_nc(g.get());
           EXPECT_EQ(g->data_error_reported, 1);
         }
         // A DNG tile of 0 x 0 is the whole frame, and a tile loop always moves on.
         Frame t(Noise(400, 20), Geometry{4, 4, 4, 4, 0, 0});
         t->raw_image_count = 1;
         dng_lossless_load_raw(t.get());
       }},
      {"Phase One corrections with zero and oversized tables",
       [] {
         Bytes flat;
         for (unsigned h : {0u, 0u, 8u, 4u, 0u, 2u, 0u, 0u}) PutLE16(flat, h);
         Frame f(flat, Geometry{4, 8, 4, 8, 0, 0});
         f->byte_order = 0x4949;
         phase_one_flat_field(f.get(), 0, 2);
         EXPECT_EQ(f->data_error_reported, 1);
         // A 0x412 block claiming 0x7FFF x 0x7FFF entries in a small file.
         Bytes meta = {'I', 'I', 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                       0x12, 4, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0};
         meta.resize(32 + 36, 0);
         PutLE16(meta, 0);
         for (int i = 0; i < 9; ++i) PutLE32(meta, i == 0 ? 0 : 0x7FFF);
         Frame g(meta, Geometry{4, 8, 4, 8, 0, 0});
         g->meta_data_length = 1;
         phase_one_correct(g.get());
         EXPECT_EQ(g->data_error_reported, 1);
         // A compressed file whose row lengths are never coded.
         Frame c(Noise(500, 21), Geometry{4, 5, 4, 5, 0, 0});
         c->byte_order = 0x4949;
         phase_one_load_raw_c(c.get());
       }},
      {"Kodak 65000 differences beyond the curve",
       [] {
         // Lengths 12 and 12, all value bits set: 4095 + 4095 + ... climbs past 0x4000.
         Bytes file;
         for (int b = 0; b < 4; ++b) {
           for (int i = 0; i < 128; ++i) file.push_back(0xCC);
           for (int i = 0; i < 800; ++i) file.push_back(0xFF);
         }
         Frame f(file, Geometry{2, 256, 2, 256, 0, 0});
         kodak_65000_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
       }},
      {"Kodak thumbnail-format images of 0 or more than 4 colours",
       [] {
         for (unsigned info : {0u, 9u << 5}) {
           Frame f(Noise(100, 22), Geometry{2, 2, 2, 2, 0, 0}, 0);
           f->thumb_format_info = info;
           kodak_thumb_load_raw(f.get());
           EXPECT_EQ(f->data_error_reported, 1);
         }
       }},
      {"a loader given a frame its pixel buffer does not cover stores nothing",
       [] {
         Frame f(Noise(100, 23), Geometry{4, 4, 4, 4, 0, 0});
         f->image_height = 40;  // larger than the buffer
         canon_10bit_load_raw(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
       }},
      {"huge frames over a few bytes end at the end of the data",
       [] {
         Frame f(Noise(64, 24), Geometry{2000, 2000, 2000, 2000, 0, 0});
         f->bits_per_sample = 12;
         pentax_k10_load_raw(f.get());
         sony_arw_load_raw(f.get());
         panasonic_load_raw(f.get());
         olympus_e410_load_raw(f.get());
         adobe_dng_load_raw_nc(f.get());
         EXPECT_EQ(f->data_error_reported, 1);
       }},
      {"thumbnails larger than the data are refused",
       [] {
         Frame f(Noise(10, 25), Geometry{1, 1, 1, 1, 0, 0});
         f->thumb_width = 60000, f->thumb_height = 60000;
         FILE* out = tmpfile();
         ppm_thumb(f.get(), out);
         layer_thumb(f.get(), out);
         rollei_thumb(f.get(), out);
         EXPECT_EQ(ftell(out), 0);
         fclose(out);
         EXPECT_EQ(f->data_error_reported, 1);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    row.run();
  }
}

// Every loader over hand-filled frames of many shapes and hostile bytes.
TEST(RawLoadersHostile, EveryLoaderOnHostileFrames) {
  const size_t count = AllLoaders().size();
  for (size_t loader = 0; loader < count; ++loader) {
    SCOPED_TRACE(AllLoaders()[loader].name);
    for (uint32_t seed = 0; seed < 24; ++seed) {
      Bytes input = Noise(seed % 3 == 0 ? 64 : 700, seed * 7919 + uint32_t(loader));
      if (seed == 1) std::fill(input.begin() + 16, input.end(), 0);
      if (seed == 2) std::fill(input.begin() + 16, input.end(), 0xFF);
      input[0] = uint8_t(loader);
      EXPECT_TRUE(RunLoaderOnBytes(input.data(), input.size()));
    }
  }
}
