// The other containers as a table: a fixture of a few hundred bytes in, the
// context fields the parser sets out.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_parsers.h"

using namespace rawtest;

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v, bool little) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(little ? v : v >> 8);
  b[at + 1] = uint8_t(little ? v >> 8 : v);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v, bool little) {
  Put16(b, at + (little ? 0 : 2), v & 0xFFFF, little);
  Put16(b, at + (little ? 2 : 0), v >> 16, little);
}
void PutText(std::vector<uint8_t>& b, size_t at, const std::string& s) {
  if (b.size() < at + s.size()) b.resize(at + s.size());
  std::copy(s.begin(), s.end(), b.begin() + long(at));
}
void PutFloat(std::vector<uint8_t>& b, size_t at, float f, bool little) {
  uint32_t bits;
  memcpy(&bits, &f, 4);
  Put32(b, at, bits, little);
}

// ---- CIFF ----
struct CiffRecord {
  uint16_t type;
  uint32_t len;
  std::vector<uint8_t> data;  // empty: the value is `len` itself
};

// A heap at `at`: the records' data, then the table, then its offset.
void PutHeap(std::vector<uint8_t>& b, size_t at, const std::vector<CiffRecord>& records) {
  size_t p = at;
  std::vector<uint32_t> offsets;
  for (const CiffRecord& r : records) {
    offsets.push_back(uint32_t(p - at));
    PutText(b, p, std::string(r.data.begin(), r.data.end()));
    p += r.data.size();
  }
  const size_t table = p;
  Put16(b, p, uint32_t(records.size()), true);
  p += 2;
  for (size_t i = 0; i < records.size(); ++i) {
    Put16(b, p, records[i].type, true);
    Put32(b, p + 2, records[i].data.empty() ? records[i].len : uint32_t(records[i].data.size()), true);
    Put32(b, p + 6, offsets[i], true);
    p += 10;
  }
  Put32(b, p, uint32_t(table - at), true);
}

std::vector<uint8_t> Bytes16(std::vector<uint32_t> v, size_t lead = 0) {
  std::vector<uint8_t> b(lead, 0);
  for (uint32_t x : v) b.push_back(uint8_t(x)), b.push_back(uint8_t(x >> 8));
  return b;
}

std::vector<uint8_t> CiffFile(const std::vector<CiffRecord>& records) {
  std::vector<uint8_t> b(26, 0);
  PutText(b, 0, "II");
  Put32(b, 2, 26, true);
  PutText(b, 6, "HEAPCCDR");
  Put16(b, 14, 1, true), Put16(b, 16, 2, true);
  PutHeap(b, 26, records);
  return b;
}

std::vector<uint8_t> ShotInfo(uint32_t iso_code, int aperture, int shutter, uint32_t wbi) {
  std::vector<uint8_t> b(16 + 32, 0);
  Put16(b, 4, iso_code, true);
  Put16(b, 8, uint16_t(aperture), true);
  Put16(b, 10, uint16_t(shutter), true);
  Put16(b, 14, wbi, true);
  return b;
}

std::vector<uint8_t> CiffSample() {
         std::vector<uint8_t> names;
         for (char c : std::string("Canon")) names.push_back(uint8_t(c));
         names.push_back(0);
         for (char c : std::string("Canon EOS D30")) names.push_back(uint8_t(c));
         names.resize(64 + 6, 0);
         std::vector<uint8_t> wb(72, 0);
         std::vector<uint8_t> v = Bytes16({512, 1024, 1024, 256});
         wb.insert(wb.end(), v.begin(), v.end());
         wb.resize(768, 0);
         // a sub-heap holding the decoder table number
         std::vector<uint8_t> sub;
         std::vector<uint8_t> table_no = {3, 0, 0, 0};
         PutHeap(sub, 0, {{0x1835, 0, table_no}});
         std::vector<uint8_t> orientation(16, 0);
         Put32(orientation, 12, 270, true);
         return CiffFile({{0x080A, 0, names},
                          {0x102A, 0, ShotInfo(160, 128, 256, 0)},
                          {0x0032, 0, wb},
                          {0x1031, 0, Bytes16({0, 3516, 2328})},
                          {0x1810, 0, orientation},
                          {0x300A, 0, sub},
                          {0x5029, 50u << 16, {}},
                          {0x580E, 1234567890, {}}});
}

struct Row {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  std::function<void(raw_decode_context*)> parse;
  std::function<void(raw_decode_context*)> check;
};

// A small TIFF with a make and a shooting time.
std::vector<uint8_t> MiniTiff(bool little, const std::string& make) {
  TiffWriter w(little);
  w.NewIfd(true).Ascii(271, make).Ascii(306, "2023:01:02 03:04:05");
  return w.Bytes();
}

std::vector<uint8_t> MrwSample() {
         std::vector<uint8_t> b;
         PutText(b, 0, std::string("\0MRM", 4));
         size_t p = 8;
         PutText(b, p, std::string("\0PRD", 4));
         Put32(b, p + 4, 24, false);
         Put16(b, p + 16, 1544, false);
         Put16(b, p + 18, 2056, false);
         p += 8 + 24;
         PutText(b, p, std::string("\0WBG", 4));
         Put32(b, p + 4, 12, false);
         for (int c = 0; c < 4; ++c) Put16(b, p + 12 + 2 * c, uint32_t(10 * (c + 1)), false);
         p += 8 + 12;
         std::vector<uint8_t> tiff = MiniTiff(false, "MINOLTA");
         PutText(b, p, std::string("\0TTW", 4));
         Put32(b, p + 4, uint32_t(tiff.size()), false);
         PutText(b, p + 8, std::string(tiff.begin(), tiff.end()));
         p += 8 + tiff.size();
         Put32(b, 4, uint32_t(p - 8), false);
         return b;
}

std::vector<uint8_t> RiffSample() {
         std::vector<uint8_t> b;
         PutText(b, 0, "RIFF");
         PutText(b, 8, "AVI ");
         PutText(b, 12, "LIST");
         Put32(b, 16, 4 + 8 + 24, true);
         PutText(b, 20, "ncdt");
         PutText(b, 24, "nctg");
         Put32(b, 28, 24, true);
         Put16(b, 32, 19, true), Put16(b, 34, 20, true);
         PutText(b, 36, "2021:03:04 05:06:07");
         b.resize(56, 0);
         PutText(b, 56, "IDIT");
         Put32(b, 60, 26, true);
         PutText(b, 64, "Fri feb 17 10:20:30 2024\n");
         b.resize(64 + 26, 0);
         Put32(b, 4, uint32_t(b.size() - 8), true);
         return b;
}

}  // namespace

TEST(RawContainers, Table) {
  const Row rows[] = {
      {"CIFF: names, shot info, white balance 768 with wbi 0, sizes, sub-heap, in-record values",
       CiffSample,
       [](raw_decode_context* c) {
         c->byte_order = 0x4949;
         read_ciff_heap(c, 26, int64_t(c->stream_size) - 26);
       },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_make, "Canon");
         EXPECT_STREQ(c->camera_model, "Canon EOS D30");
         EXPECT_FLOAT_EQ(c->iso_value, 100);
         EXPECT_FLOAT_EQ(c->aperture_value, 4);
         EXPECT_FLOAT_EQ(c->shutter_seconds, 1 / 256.0f);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], -1);  // wbi 0: automatic later
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 1);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 4);
         EXPECT_FLOAT_EQ(c->camera_multipliers[3], 1);
         EXPECT_EQ(c->sensor_width, 3516);
         EXPECT_EQ(c->sensor_height, 2328);
         EXPECT_EQ(c->orientation_flags, 5);  // 270 degrees
         EXPECT_EQ(c->compression_code, 3);
         EXPECT_FLOAT_EQ(c->focal_length_mm, 50);
         EXPECT_EQ(c->shot_time, 1234567890);
       }},
      {"CIFF: white balance without the key uses the third index string, no XOR",
       [] {
         std::vector<uint8_t> wb = Bytes16({0x1111});
         wb.resize(2 + 78 + 8 * 2, 0);  // wbi 1: k = 2
         std::vector<uint8_t> v = Bytes16({10, 20, 30, 40});
         wb.insert(wb.end(), v.begin(), v.end());
         wb.resize(200, 0);
         return CiffFile({{0x102A, 0, ShotInfo(160, 0, 0, 1)}, {0x0032, 0, wb}});
       },
       [](raw_decode_context* c) {
         c->byte_order = 0x4949;
         read_ciff_heap(c, 26, int64_t(c->stream_size) - 26);
       },
       [](raw_decode_context* c) {
         // c ^ (c >> 1) ^ 1: 10 -> 1, 20 -> 0, 30 -> 2, 40 -> 3
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 20);
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 10);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 30);
         EXPECT_FLOAT_EQ(c->camera_multipliers[3], 40);
       }},
      {"CIFF: Canon white-balance block of 12-bit samples (64 samples in 48 words)",
       [] {
         std::vector<uint8_t> block = Bytes16({0}, 0);
         std::vector<uint8_t> head(8, 0);
         Put32(head, 0, 0x80008, true);
         Put32(head, 4, 1, true);
         block.insert(block.end(), head.begin(), head.end());
         std::vector<uint8_t> bpp = Bytes16({12});
         block.insert(block.end(), bpp.begin(), bpp.end());
         // samples 0..63 as 12-bit big-endian bit stream of 16-bit words XOR key
         std::vector<uint32_t> words;
         uint64_t acc = 0;
         int n = 0;
         for (uint32_t s = 0; s < 64; ++s) {
           acc = acc << 12 | (s * 61 & 0xFFF);
           n += 12;
           while (n >= 16) {
             words.push_back(uint32_t(acc >> (n - 16)) & 0xFFFF);
             n -= 16;
           }
         }
         const uint16_t key[2] = {0x3a71, 0x5c2e};
         for (size_t i = 0; i < words.size(); ++i) words[i] ^= key[i & 1];
         std::vector<uint8_t> w = Bytes16(words);
         block.insert(block.end(), w.begin(), w.end());
         return CiffFile({{0x102A, 0, ShotInfo(160, 0, 0, 6)}, {0x1030, 0, block}});
       },
       [](raw_decode_context* c) {
         c->byte_order = 0x4949;
         read_ciff_heap(c, 26, int64_t(c->stream_size) - 26);
       },
       [](raw_decode_context* c) {
         for (int s = 0; s < 64; ++s) EXPECT_EQ(c->white_patch[s / 8][s % 8], s * 61 & 0xFFF) << s;
       }},
      {"MRW: PRD sizes, WBG of a DiMAGE A200 in positions 3 2 0 1, TTW TIFF",
       MrwSample,
       [](raw_decode_context* c) {
         snprintf(c->camera_model, sizeof c->camera_model, "DiMAGE A200");
         c->byte_order = 0x4949;
         read_minolta_blocks(c, 0);
       },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->sensor_height, 1544);
         EXPECT_EQ(c->sensor_width, 2056);
         EXPECT_FLOAT_EQ(c->camera_multipliers[3], 10);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 20);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 30);
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 40);
         EXPECT_STREQ(c->camera_make, "MINOLTA");
         EXPECT_EQ(c->raw_data_offset, uint32_t(c->stream_size));
         EXPECT_EQ(c->byte_order, 0x4949);  // restored
       }},
      {"RAF directory: sizes, layout flag doubling the height, multipliers",
       [] {
         std::vector<uint8_t> b(8, 0);
         Put32(b, 8, 4, false);
         size_t p = 12;
         Put16(b, p, 0x100, false), Put16(b, p + 2, 4, false), Put16(b, p + 4, 1444, false),
             Put16(b, p + 6, 2176, false);
         p += 8;
         Put16(b, p, 0x121, false), Put16(b, p + 2, 4, false), Put16(b, p + 4, 1000, false),
             Put16(b, p + 6, 4284, false);
         p += 8;
         Put16(b, p, 0x130, false), Put16(b, p + 2, 1, false), b.resize(p + 5), b[p + 4] = 0x80;
         p += 5;
         Put16(b, p, 0x2FF0, false), Put16(b, p + 2, 8, false);
         for (int c = 0; c < 4; ++c) Put16(b, p + 4 + 2 * c, uint32_t(100 + c), false);
         return b;
       },
       [](raw_decode_context* c) {
         c->byte_order = 0x4D4D;
         read_fuji_directory(c, 8);
       },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->sensor_height, 1444);
         EXPECT_EQ(c->sensor_width, 2176);
         EXPECT_EQ(c->fuji_layout_flag, 1);
         EXPECT_EQ(c->image_height, 2000);
         EXPECT_EQ(c->image_width, 4287 >> 1);
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 100);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 101);
       }},
      {"Phase One: geometry, format, matrix-free multipliers, model by height",
       [] {
         std::vector<uint8_t> b(8, 0);
         PutText(b, 0, "IIII");
         Put32(b, 4, 0x52617700, true);
         Put32(b, 8, 16, true);
         const uint32_t entries[][2] = {{0x100, 1}, {0x108, 4000}, {0x109, 2682}, {0x10A, 8},
                                        {0x10E, 1}, {0x10F, 1000}, {0x107, 200}, {0x222, 2008}};
         Put32(b, 16, 8, true);
         size_t p = 24;
         for (auto& e : entries) {
           Put32(b, p, e[0], true), Put32(b, p + 8, 12, true), Put32(b, p + 12, e[1], true);
           p += 16;
         }
         PutFloat(b, 200, 1.5f, true), PutFloat(b, 204, 1.0f, true), PutFloat(b, 208, 2.25f, true);
         return b;
       },
       [](raw_decode_context* c) { read_phase_one_header(c, 0); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->orientation_flags, 6);
         EXPECT_EQ(c->sensor_width, 4000);
         EXPECT_EQ(c->sensor_height, 2682);
         EXPECT_EQ(c->raw_data_offset, 1000u);
         EXPECT_EQ(c->phase_one_params.format, 1);
         EXPECT_EQ(c->phase_one_params.split_column, 2000);
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::phase_one_load_raw);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 1.5f);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 2.25f);
         EXPECT_STREQ(c->camera_make, "Phase One");
         EXPECT_STREQ(c->camera_model, "H 10");
         EXPECT_EQ(c->white_level, 0xFFFFu);
       }},
      {"Sinar IA: directory names, make and model split at the blank",
       [] {
         std::vector<uint8_t> b(8, 0);
         PutText(b, 0, "PWAD");
         Put32(b, 4, 3, true);
         Put32(b, 8, 16, true);
         const char* names[3] = {"META", "THUMB", "RAW0"};
         for (int i = 0; i < 3; ++i) {
           Put32(b, 16 + 16 * i, uint32_t(100 * (i + 1)), true);
           PutText(b, 24 + 16 * i, names[i]);
         }
         PutText(b, 120, "Sinar Hy6 back");
         Put16(b, 184, 4080, true), Put16(b, 186, 5440, true), Put16(b, 192, 160, true), Put16(b, 194, 120, true);
         return b;
       },
       [](raw_decode_context* c) { read_sinar_ia(c); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->meta_data_offset, 100u);
         EXPECT_EQ(c->thumb_data_offset, 200u);
         EXPECT_EQ(c->raw_data_offset, 300u);
         EXPECT_STREQ(c->camera_make, "Sinar");
         EXPECT_STREQ(c->camera_model, "Hy6 back");
         EXPECT_EQ(c->sensor_width, 4080);
         EXPECT_EQ(c->sensor_height, 5440);
         EXPECT_EQ(c->thumb_width, 160);
         EXPECT_EQ(c->thumb_height, 120);
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::unpacked_load_raw);
         EXPECT_EQ(c->thumb_writer_choice, raw_thumb_name::ppm_thumb);
         EXPECT_EQ(c->white_level, 0x3FFFu);
       }},
      {"Rollei: keys, offsets and the date",
       [] {
         std::string t = "DSC-Image\nHDR=1000\nX  =640\nY  =480\nTX =80\nTY =60\nDAT=17.05.2024\nTIM=10:20:30\nEOHD\nX  =1\n";
         return std::vector<uint8_t>(t.begin(), t.end());
       },
       [](raw_decode_context* c) { read_rollei_header(c); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->thumb_data_offset, 1000u);
         EXPECT_EQ(c->sensor_width, 640);  // the line after EOHD is not read
         EXPECT_EQ(c->sensor_height, 480);
         EXPECT_EQ(c->raw_data_offset, 1000u + 80 * 60 * 2);
         EXPECT_EQ(c->shot_time, LocalSeconds(2024, 5, 17, 10, 20, 30));
         EXPECT_STREQ(c->camera_model, "d530flex");
         EXPECT_EQ(c->thumb_writer_choice, raw_thumb_name::rollei_thumb);
       }},
      {"CINE: three images, the third chosen; pattern, rotation, levels",
       [] {
         std::vector<uint8_t> b(1800, 0);
         PutText(b, 0, "CI");
         Put16(b, 4, 2, true);
         Put32(b, 20, 3, true);
         Put32(b, 24, 44, true), Put32(b, 28, 100, true), Put32(b, 32, 1700, true);
         Put32(b, 36, 1000, true), Put32(b, 40, 2000, true);
         Put32(b, 48, 1280, true), Put32(b, 52, 800, true), Put16(b, 58, 16, true);
         Put32(b, 892, 4711, true);
         Put32(b, 908, 3, true);
         Put32(b, 984, 90, true);
         PutFloat(b, 988, 1.25f, true), PutFloat(b, 992, 1.75f, true);
         Put32(b, 996, 12, true);
         Put32(b, 1668, 2000000, true);
         for (int i = 0; i < 3; ++i) Put32(b, 1700 + 8 * i, uint32_t(5000 * (i + 1)), true);
         return b;
       },
       [](raw_decode_context* c) {
         c->options.shot_index = 2;
         read_cine_header(c);
       },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->raw_image_count, 3);
         EXPECT_EQ(c->shot_time, 2000);
         EXPECT_EQ(c->sensor_width, 1280);
         EXPECT_EQ(c->sensor_height, 800);
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::unpacked_load_raw);
         EXPECT_STREQ(c->camera_model, "4711");
         EXPECT_EQ(c->cfa_pattern, 0x94949494u);
         EXPECT_EQ(c->orientation_flags, 7);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 1.25f);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 1.75f);
         EXPECT_EQ(c->white_level, 4095u);
         EXPECT_FLOAT_EQ(c->shutter_seconds, 0.002f);
         EXPECT_EQ(c->raw_data_offset, 15000u + 8);
       }},
      {"Foveon: image and JPEG sections, properties",
       [] {
         std::vector<uint8_t> b(40, 0);
         PutText(b, 0, "FOVb");
         Put32(b, 36, 3, true);
         // IMAG section at 100: wide, high at 116; a JPEG at 128
         PutText(b, 100, "SECi");
         Put32(b, 116, 2268, true), Put32(b, 120, 1512, true);
         b.resize(160, 0);
         b[128] = 0xFF, b[129] = 0xD8;
         // PROP section at 200: two properties
         PutText(b, 200, "SECp");
         Put32(b, 208, 2, true);
         const char* texts[4] = {"ISO", "200", "CAMMODEL", "SD10"};
         size_t base = 200 + 24 + 8 * 2;
         uint32_t chars = 0;
         for (int i = 0; i < 4; ++i) {
           Put32(b, 224 + 4 * i, chars, true);
           for (const char* p = texts[i];; ++p) {
             Put16(b, base + 2 * chars++, uint8_t(*p), true);
             if (!*p) break;
           }
         }
         size_t dir = b.size();
         PutText(b, dir, "SECd");
         Put32(b, dir + 8, 2, true);
         Put32(b, dir + 12, 100, true), Put32(b, dir + 16, 60, true), Put32(b, dir + 20, 0x47414D49, true);
         Put32(b, dir + 24, 200, true), Put32(b, dir + 28, 80, true), Put32(b, dir + 32, 0x504F5250, true);
         Put32(b, dir + 36, uint32_t(dir), true);
         return b;
       },
       [](raw_decode_context* c) { read_foveon_properties(c); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->orientation_flags, 3);
         EXPECT_EQ(c->sensor_width, 2268);
         EXPECT_EQ(c->sensor_height, 1512);
         EXPECT_EQ(c->raw_data_offset, 124u);
         EXPECT_EQ(c->thumb_data_offset, 128u);
         EXPECT_EQ(c->thumb_data_length, 32u);
         EXPECT_EQ(c->thumb_writer_choice, raw_thumb_name::jpeg_thumb);
         EXPECT_FLOAT_EQ(c->iso_value, 200);
         EXPECT_STREQ(c->camera_model, "SD10");
         EXPECT_EQ(c->foveon_flag, 1);
       }},
      {"RIFF: a LIST with an nctg date, then an IDIT date with the month in lower case",
       RiffSample,
       [](raw_decode_context* c) { read_riff_chunks(c); },
       [](raw_decode_context* c) { EXPECT_EQ(c->shot_time, LocalSeconds(2024, 2, 17, 10, 20, 30)); }},
      {"RIFF: nctg date alone; an unknown month in IDIT gives month 12 (January after)",
       [] {
         std::vector<uint8_t> b;
         PutText(b, 0, "RIFF");
         PutText(b, 8, "AVI ");
         PutText(b, 12, "IDIT");
         Put32(b, 16, 26, true);
         PutText(b, 20, "Fri Foo 17 10:20:30 2024\n");
         b.resize(20 + 26, 0);
         Put32(b, 4, uint32_t(b.size() - 8), true);
         return b;
       },
       [](raw_decode_context* c) { read_riff_chunks(c); },
       [](raw_decode_context* c) { EXPECT_EQ(c->shot_time, LocalSeconds(2025, 1, 17, 10, 20, 30)); }},
      {"SMaL version 9",
       [] {
         std::vector<uint8_t> b(64, 0);
         b[2] = 9;
         Put32(b, 3, 64, true);
         Put32(b, 7, 40, true);
         Put16(b, 11, 480, true), Put16(b, 13, 640, true);
         return b;
       },
       [](raw_decode_context* c) { read_smal_header(c, c->stream_size); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->raw_data_offset, 40u);
         EXPECT_EQ(c->image_height, 480);
         EXPECT_EQ(c->sensor_width, 640);
         EXPECT_STREQ(c->camera_model, "v9 640x480");
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::smal_v9_load_raw);
       }},
      {"SMaL with the wrong file size: nothing",
       [] {
         std::vector<uint8_t> b(64, 0);
         b[2] = 9;
         Put32(b, 3, 65, true);
         return b;
       },
       [](raw_decode_context* c) { read_smal_header(c, c->stream_size); },
       [](raw_decode_context* c) { EXPECT_STREQ(c->camera_make, ""); }},
      {"JPEG markers: frame size and the TIFF of APP1",
       [] {
         std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0x01, 0x00, 0x02, 0x00, 3};
         b.resize(2 + 2 + 17, 0);
         std::vector<uint8_t> tiff = MiniTiff(true, "Casio");
         b.insert(b.end(), {0xFF, 0xE1});
         size_t len = 2 + 6 + tiff.size();
         b.push_back(uint8_t(len >> 8)), b.push_back(uint8_t(len));
         PutText(b, b.size(), std::string("Exif\0\0", 6));
         b.insert(b.end(), tiff.begin(), tiff.end());
         b.insert(b.end(), {0xFF, 0xDA, 0, 2});
         return b;
       },
       [](raw_decode_context* c) { EXPECT_EQ(read_jpeg_markers(c), 1); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->sensor_height, 256);
         EXPECT_EQ(c->sensor_width, 512);
         EXPECT_STREQ(c->camera_make, "Casio");
         EXPECT_EQ(c->shot_time, LocalSeconds(2023, 1, 2, 3, 4, 5));
       }},
      {"JPEG whose byte after FF D8 is not FF: 1, nothing read",
       [] { return std::vector<uint8_t>{0xFF, 0xD8, 0x00, 0xC0, 0, 17, 8, 1, 0, 2, 0}; },
       [](raw_decode_context* c) { EXPECT_EQ(read_jpeg_markers(c), 1); },
       [](raw_decode_context* c) { EXPECT_EQ(c->sensor_height, 0); }},
      {"Contax: a shooting time stored back to front",
       [] {
         std::string t = "2024:05:17 10:20:30";
         return std::vector<uint8_t>(t.rbegin(), t.rend());
       },
       [](raw_decode_context* c) { read_exif_datetime(c, 1); },
       [](raw_decode_context* c) { EXPECT_EQ(c->shot_time, LocalSeconds(2024, 5, 17, 10, 20, 30)); }},
      {"a shooting time with a field missing leaves the time alone",
       [] {
         std::string t = "2024:05:17 10:20   ";
         return std::vector<uint8_t>(t.begin(), t.end());
       },
       [](raw_decode_context* c) {
         c->shot_time = 42;
         read_exif_datetime(c, 0);
       },
       [](raw_decode_context* c) { EXPECT_EQ(c->shot_time, 42); }},
      {"Not a JPEG: 0",
       [] { return std::vector<uint8_t>{0x89, 0x50}; },
       [](raw_decode_context* c) { EXPECT_EQ(read_jpeg_markers(c), 0); },
       [](raw_decode_context*) {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemoryContext m(row.bytes());
    row.parse(m.get());
    row.check(m.get());
  }
}

TEST(RawContainers, SampleByteOrderGuess) {
  for (bool little : {true, false}) {
    std::vector<uint8_t> b;
    for (uint32_t i = 0; i < 70000; ++i) Put16(b, b.size(), 1000 + (i % 500) * 3, little);
    MemoryContext m(b);
    EXPECT_EQ(guess_sample_byte_order(m.get()), little ? 0x4949 : 0x4D4D);
    EXPECT_EQ(raw_tell(m.get()), 131072);
  }
}

TEST(RawContainers, ExternalJpegNames) {
  auto dir = std::filesystem::temp_directory_path() / ("pw_raw_side_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // the side file: a JPEG whose TIFF starts at 12
  std::vector<uint8_t> side = {0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  std::vector<uint8_t> tiff = MiniTiff(false, "Canon");
  side.insert(side.end(), tiff.begin(), tiff.end());
  WriteTempFile("x", {});
  {
    std::ofstream((dir / "IMG_1234.JPG").string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(side.data()), std::streamsize(side.size()));
  }
  const std::string raw_name = (dir / "IMG_1234.CR2").string();
  MemoryContext m({0, 0, 0, 0});
  m->message_name = raw_name.c_str();
  m->thumb_data_offset = 77;
  parse_external_jpeg(m.get());
  EXPECT_EQ(m->shot_time, LocalSeconds(2023, 1, 2, 3, 4, 5));
  EXPECT_EQ(m->raw_image_count, 1);
  EXPECT_EQ(m->thumb_data_offset, 0u);
  EXPECT_EQ(m->message_log, "");
  EXPECT_EQ(raw_tell(m.get()), 0);  // the raw file's stream is back in place

  // Names looked for, seen in the failure text: digits swapped; the number
  // before ".jpg" counted up with its carry
  const std::pair<std::string, std::string> names[] = {
      {"12345678.CRW", "56781234.JPG"}, {"DSC01234.jpg", "DSC01235.jpg"}, {"DSC01999.jpg", "DSC02000.jpg"},
      {"99999999.jpg", "00000000.jpg"}, {"abcdefgh.nef", "abcdefgh.jpg"}};
  for (const auto& [raw, expected] : names) {
    const std::string path = (dir / raw).string();
    MemoryContext n({0});
    n->message_name = path.c_str();
    parse_external_jpeg(n.get());
    EXPECT_EQ(n->message_log, "Failed to read metadata from " + (dir / expected).string() + "\n") << raw;
  }
  // no 8-character stem with a 4-character extension: nothing, not even a message
  for (const char* name : {"PxImageRAW", "IMG_12345.CR2", "IMG_1234.CR", "dir.d/IMG1"}) {
    MemoryContext n({0});
    n->message_name = name;
    parse_external_jpeg(n.get());
    EXPECT_EQ(n->message_log, "") << name;
  }
  std::filesystem::remove_all(dir);
}

// exiftool reads the same fixtures as a CRW, an MRW and an AVI file: the
// values both find must agree.
TEST(RawContainers, ExiftoolReadsTheSameFixtures) {
  auto exiftool = [](const std::string& name, const std::vector<uint8_t>& bytes, const std::string& tags) {
    int status = 0;
    std::string out = RunCommand("exiftool -n -s -S " + tags + " '" + WriteTempFile(name, bytes) + "'", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  };
  {
    MemoryContext m(CiffSample());
    m->byte_order = 0x4949;
    read_ciff_heap(m.get(), 26, m->stream_size - 26);
    char expected[512];
    snprintf(expected, sizeof expected, "%s\n%s\n%g\n%g\n%g\n%d\n%d\n%g\n270\n", m->camera_make, m->camera_model,
             double(m->iso_value), double(m->aperture_value), double(m->shutter_seconds), m->sensor_width,
             m->sensor_height, double(m->focal_length_mm));
    EXPECT_EQ(exiftool("sample.crw", m.bytes,
                       "-Make -Model -BaseISO -TargetAperture -TargetExposureTime -SensorWidth -SensorHeight "
                       "-FocalLength -Rotation"),
              expected);
    EXPECT_EQ(m->orientation_flags, 5);  // 270 degrees
    int status = 0;
    std::string utc = RunCommand("exiftool -s -S -d %s -DateTimeOriginal '" + WriteTempFile("sample.crw", m.bytes) + "'", &status);
    EXPECT_EQ(utc, std::to_string(m->shot_time) + "\n");
  }
  {
    MemoryContext m(MrwSample());
    snprintf(m->camera_model, sizeof m->camera_model, "DiMAGE A200");
    read_minolta_blocks(m.get(), 0);
    char expected[256];
    snprintf(expected, sizeof expected, "%d\n%d\n%s\n", m->sensor_height, m->sensor_width, m->camera_make);
    EXPECT_EQ(exiftool("sample.mrw", m.bytes, "-SensorHeight -SensorWidth -Make"), expected);
  }
  {
    MemoryContext m(RiffSample());
    read_riff_chunks(m.get());
    int status = 0;
    std::string out = RunCommand("exiftool -s -S -DateTimeOriginal '" + WriteTempFile("sample.avi", m.bytes) + "'", &status);
    EXPECT_NE(out.find("2024:02:17 10:20:30"), std::string::npos) << out;
    EXPECT_EQ(m->shot_time, LocalSeconds(2024, 2, 17, 10, 20, 30));
  }
}
