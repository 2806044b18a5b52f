// Maker notes: the variant told by the first bytes, byte order and base,
// and the entries that carry white balance, levels and shot data.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_parsers.h"

using namespace rawtest;

namespace {

struct NoteEntry {
  uint16_t tag, type;
  uint32_t count;
  std::vector<uint8_t> data;  // in the note's byte order; more than 4 bytes go after the table
};

// A file of `lead` zero bytes, then the note: `header`, the entry count, the
// entries, a zero link, the out-of-line values. Offsets count from `base`
// (an absolute file position; `inner_header` adds a TIFF header of its own
// whose position is the base, as Nikon writes it).
std::vector<uint8_t> NoteFile(size_t lead, const std::string& header, bool little,
                              const std::vector<NoteEntry>& entries, int64_t base, bool inner_header = false) {
  ByteSink s(little);
  s.PadTo(lead);
  s.Text(header);
  if (inner_header) {
    base = int64_t(s.bytes.size());
    s.Text(little ? "II" : "MM");
    s.U16(42);
    s.U32(8);
  }
  size_t table = s.bytes.size();
  size_t data_at = table + 2 + 12 * entries.size() + 4;
  s.U16(uint32_t(entries.size()));
  std::vector<uint8_t> values;
  for (const NoteEntry& e : entries) {
    s.U16(e.tag);
    s.U16(e.type);
    s.U32(e.count);
    if (e.data.size() > 4) {
      s.U32(uint32_t(int64_t(data_at + values.size()) - base));
      values.insert(values.end(), e.data.begin(), e.data.end());
    } else {
      std::vector<uint8_t> v = e.data;
      v.resize(4);
      s.Raw(v);
    }
  }
  s.U32(0);
  s.Raw(values);
  s.PadTo(s.bytes.size() + 16);
  return s.bytes;
}

std::vector<uint8_t> U16s(bool little, std::vector<uint32_t> v) {
  ByteSink s(little);
  for (uint32_t x : v) s.U16(x);
  return s.bytes;
}

void ReadNote(MemoryContext& m, size_t lead, int64_t base, uint32_t upper = 0) {
  raw_seek(m.get(), int64_t(lead), 0);
  read_maker_note(m.get(), base, upper);
}

// A NIKON D2X TIFF whose EXIF directory holds a Nikon maker note (format
// 2, big-endian, its own TIFF header) of `entries`.
std::vector<uint8_t> NikonD2xFile(const std::vector<NoteEntry>& entries) {
  const std::vector<uint8_t> note = NoteFile(0, std::string("Nikon\0\x02\x10\0\0", 10), false, entries, 0, true);
  TiffWriter w(false);
  TiffIfd& ifd0 = w.NewIfd(true);
  TiffIfd& exif = w.NewIfd(false);
  ifd0.Ascii(271, "NIKON CORPORATION").Ascii(272, "NIKON D2X");
  ifd0.Pointers(34665, {&exif});
  exif.Bytes(37500, 7, note);
  return w.Bytes();
}

}  // namespace

TEST(RawMakerNote, SignaturesSetByteOrderAndBase) {
  const std::string text = "Model extra text here!!";
  std::vector<uint8_t> extra(text.begin(), text.end());
  extra.push_back(0);
  const std::vector<NoteEntry> entries = {{0x7, 2, uint32_t(extra.size()), extra}};
  const std::string expected = text;

  {  // "Nikon" and a zero: its own TIFF header, offsets from it
    MemoryContext m(NoteFile(40, std::string("Nikon\0\x02\x10\0\0", 10), false, entries, 0, true));
    m->byte_order = 0x4949;
    ReadNote(m, 40, 0);
    EXPECT_EQ(std::string(m->camera_model_extra), expected);
    EXPECT_EQ(m->byte_order, 0x4949);  // restored
  }
  {  // "OLYMPUS" and a zero: offsets count from the note's start
    MemoryContext m(NoteFile(40, std::string("OLYMPUS\0II\x03\0", 12), true, entries, 40));
    m->byte_order = 0x4D4D;
    ReadNote(m, 40, 0);
    EXPECT_EQ(std::string(m->camera_model_extra), expected);
    EXPECT_EQ(m->byte_order, 0x4D4D);
  }
  {  // a bare table, offsets from the caller's base
    MemoryContext m(NoteFile(40, "", false, entries, 8));
    m->byte_order = 0x4D4D;
    ReadNote(m, 40, 8);
    EXPECT_EQ(std::string(m->camera_model_extra), expected);
  }
  // "MMMM" marks no directory; "Nikon" and a blank is a bare table whose
  // first bytes make an entry count above 1000.
  for (std::string head : {std::string("MMMM"), std::string("Nikon \x02\x10\0\0", 10), std::string("KDK")}) {
    MemoryContext m(NoteFile(40, head, false, entries, 0));
    m->byte_order = 0x4D4D;
    ReadNote(m, 40, 0);
    EXPECT_STREQ(m->camera_model_extra, "") << head;
  }
}

TEST(RawMakerNote, WhiteBalanceLevelsAndShotData) {
  const bool le = true;
  std::vector<NoteEntry> entries = {
      {0x8, 4, 1, {0x39, 0x30, 0, 0}},                 // shot number 12345
      {0x10, 4, 1, {0x18, 0x02, 0, 0x80}},             // camera id
      {0x1B, 3, 1, U16s(le, {512})},                   // Pentax: blue / 256
      {0x1C, 3, 1, U16s(le, {768})},                   // Pentax: red / 256
      {0x200, 3, 4, U16s(le, {100, 102, 104, 106})},   // black: mean
      {0x1011, 8, 9, U16s(le, {256, 0, 0, 0, 512, 0, 0, 0, 0xFF00})},
  };
  MemoryContext m(NoteFile(16, "", le, entries, 0));
  m->byte_order = 0x4949;
  snprintf(m->camera_make, sizeof m->camera_make, "PENTAX Corporation");
  ReadNote(m, 16, 0);
  EXPECT_EQ(m->shot_sequence, 12345u);
  EXPECT_EQ(m->camera_id, 0x80000218u);
  EXPECT_FLOAT_EQ(m->camera_multipliers[2], 2);
  EXPECT_FLOAT_EQ(m->camera_multipliers[0], 3);
  EXPECT_EQ(m->black_level, 103u);
  EXPECT_FLOAT_EQ(m->file_colour_matrix[0][0], 1);
  EXPECT_FLOAT_EQ(m->file_colour_matrix[1][1], 2);
  EXPECT_FLOAT_EQ(m->file_colour_matrix[2][2], -1);
}

TEST(RawMakerNote, KonicaScanStopsAtRawDataOffset) {
  ByteSink s(false);
  s.Text("KC");
  s.PadTo(10);
  s.PadTo(64);
  for (uint32_t v : {300, 500, 256, 256}) s.U16(v);  // read as (w0, w2, w1, w3)
  s.PadTo(200);
  for (uint32_t limit : {0u, 100u, 60u}) {
    MemoryContext m(s.bytes);
    m->raw_data_offset = limit;
    ReadNote(m, 0, 0);
    if (limit == 100) {
      EXPECT_FLOAT_EQ(m->camera_multipliers[0], 300);
      EXPECT_FLOAT_EQ(m->camera_multipliers[2], 500);
      EXPECT_FLOAT_EQ(m->camera_multipliers[3], 256);
    } else {
      EXPECT_EQ(m->camera_multipliers[0], 0) << limit;
    }
  }
}

// Nikon white balance of versions 200..211 is enciphered with the serial
// number and the four bytes of the shutter count; the block's place, the
// levels' offset in it and their colour order follow the version. The file
// is a Nikon TIFF enciphered here; exiftool, reading the same file, must
// find the levels written, so the key tables and the cipher are the
// cameras' own, and the decoder must find them too.
TEST(RawMakerNote, NikonEncipheredWhiteBalance) {
  struct Case {
    const char* version;
    bool after_280;  // the block starts 280 bytes after the version
    int offset;      // of the four levels in the block
    int flip;        // 1: green, red, blue, green; 0: red, green, green, blue
    const char* exiftool_tag;
  };
  const Case cases[] = {{"0204", true, 6, 0, "WB_RGGBLevels"},
                        {"0205", false, 14, 0, "WB_RGGBLevels"},
                        {"0209", true, 10, 1, "WB_GRBGLevels"},
                        {"0211", true, 16, 1, "WB_GRBGLevels"}};
  char dir_template[] = "/tmp/pw_nikonwb_XXXXXX";
  ASSERT_TRUE(mkdtemp(dir_template));
  const std::string dir = dir_template;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    const uint32_t serial = 5012345;  // written as its digits
    const uint8_t count_bytes[4] = {0x00, 0x01, 0x2C, 0x9B};
    const uint16_t levels[4] = {1234, 567, 890, 432};
    std::vector<uint8_t> block(324);
    for (size_t k = 0; k < block.size(); ++k) block[k] = uint8_t(k * 7);
    for (int k = 0; k < 4; ++k) {
      block[size_t(c.offset + 2 * k)] = uint8_t(levels[k] >> 8);
      block[size_t(c.offset + 2 * k + 1)] = uint8_t(levels[k]);
    }
    uint8_t ci = nikon_wb_table_serial[serial & 0xFF];
    uint8_t cj = nikon_wb_table_count[count_bytes[0] ^ count_bytes[1] ^ count_bytes[2] ^ count_bytes[3]];
    uint8_t ck = 0x60;
    for (uint8_t& b : block) {
      cj = uint8_t(cj + ci * ck++);
      b ^= cj;
    }
    std::vector<uint8_t> v97(c.version, c.version + 4);
    if (c.after_280) v97.resize(4 + 280, 0);
    v97.insert(v97.end(), block.begin(), block.end());
    const std::string digits = std::to_string(serial);
    std::vector<uint8_t> serial_text(digits.begin(), digits.end());
    serial_text.push_back(0);
    const std::vector<NoteEntry> entries = {
        {0x1D, 2, uint32_t(serial_text.size()), serial_text},
        {0x97, 7, uint32_t(v97.size()), v97},
        {0xA7, 4, 1, {count_bytes[0], count_bytes[1], count_bytes[2], count_bytes[3]}},
    };
    const std::vector<uint8_t> file = NikonD2xFile(entries);

    const std::string path = dir + "/wb" + c.version + ".tif";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(fwrite(file.data(), 1, file.size(), f), file.size());
    fclose(f);
    const std::string command = std::string("exiftool -s -s -s -") + c.exiftool_tag + " " + path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    char line[128] = {};
    const bool got = fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    ASSERT_TRUE(got) << command;
    EXPECT_EQ(std::string(line), std::to_string(levels[0]) + " " + std::to_string(levels[1]) + " " +
                                     std::to_string(levels[2]) + " " + std::to_string(levels[3]) + "\n");

    MemoryContext m(file);
    read_tiff_container(m.get(), 0);
    for (int k = 0; k < 4; ++k)
      EXPECT_FLOAT_EQ(m->camera_multipliers[k ^ (k >> 1) ^ c.flip], float(levels[k])) << k;
  }
  std::filesystem::remove_all(dir);
}

// The enciphered levels are the fallback: a note whose 0xA4 table already
// gave the multipliers keeps them.
TEST(RawMakerNote, NikonEncipheredLevelsDoNotReplaceGivenOnes) {
  std::vector<uint8_t> v97 = {'0', '2', '0', '4'};
  v97.resize(4 + 280 + 324, 0x5A);
  const std::string digits = "5012345";
  std::vector<uint8_t> serial_text(digits.begin(), digits.end());
  serial_text.push_back(0);
  const std::vector<NoteEntry> entries = {
      {0x1D, 2, uint32_t(serial_text.size()), serial_text},
      {0x97, 7, uint32_t(v97.size()), v97},
      {0xA4, 3, 3, {0x01, 0x6F, 0x00, 0xDE, 0x01, 0x4D}},  // 367, 222, 333 (big-endian)
      {0xA7, 4, 1, {0x00, 0x01, 0x2C, 0x9B}},
  };
  MemoryContext m(NikonD2xFile(entries));
  read_tiff_container(m.get(), 0);
  EXPECT_FLOAT_EQ(m->camera_multipliers[0], 367);
  EXPECT_FLOAT_EQ(m->camera_multipliers[1], 222);
  EXPECT_FLOAT_EQ(m->camera_multipliers[2], 333);
}

TEST(RawMakerNote, NikonCaptureRecordsAndThumbnailNote) {
  // capture records: 22 bytes lead, then id, 14 bytes, length + 4, data
  ByteSink r(true);
  r.PadTo(22);
  r.U32(0x11111111), r.PadTo(r.bytes.size() + 14), r.U32(4 + 6), r.Raw({1, 2, 3, 4, 5, 6});
  r.U32(0x76A43207), r.PadTo(r.bytes.size() + 14), r.U32(4 + 2), r.U16(6);
  r.PadTo(r.bytes.size() + 8);
  std::vector<NoteEntry> entries = {{0xE01, 7, uint32_t(r.bytes.size()), r.bytes}};
  MemoryContext m(NoteFile(0, "", false, entries, 0));
  m->byte_order = 0x4D4D;
  read_maker_note(m.get(), 0, 0);
  EXPECT_EQ(m->orientation_flags, 6);

  // 0xB028 points (without base) at a thumbnail note: offset tag 136 plus base
  std::vector<NoteEntry> thumb = {{136, 4, 1, {0, 0, 1, 0}}, {137, 4, 1, {0, 0, 0, 99}}};
  std::vector<uint8_t> file = NoteFile(0, "", false, thumb, 0);
  size_t note_at = file.size();
  std::vector<uint8_t> outer = NoteFile(0, "", false, {{0xB028, 4, 1, {0, 0, 0, 0}}}, 0);
  for (size_t i = 0; i < 4; ++i) outer[2 + 8 + i] = uint8_t(note_at >> (24 - 8 * i));
  std::vector<uint8_t> both = file;
  // the outer note goes after the thumbnail note; it points back at 0
  both.insert(both.end(), outer.begin(), outer.end());
  for (size_t i = 0; i < 4; ++i) both[note_at + 2 + 8 + i] = 0;
  MemoryContext t(both);
  t->byte_order = 0x4D4D;
  raw_seek(t.get(), int64_t(note_at), 0);
  read_maker_note(t.get(), 5, 0);
  EXPECT_EQ(t->thumb_data_offset, 0x100u + 5);
  EXPECT_EQ(t->thumb_data_length, 99u);
}

namespace {

// A 12-bit 64 x 48 DNG of `make` whose colour description (DNGVersion,
// ColorMatrix1, AsShotNeutral) lies after its EXIF pointer, the EXIF
// directory holding `note` (none when empty); `end_bytes` are put after the
// file's last byte.
std::vector<uint8_t> DngWithNote(const std::string& make, const std::vector<uint8_t>& note,
                                 const std::vector<uint8_t>& end_bytes = {}) {
  TiffWriter w(true);
  TiffIfd& ifd = w.NewIfd(true);
  TiffIfd& exif = w.NewIfd(false);
  ifd.Long(254, {0}).Image(64, 48, 12, 1, 32803, 1);
  ifd.Ascii(271, make).Ascii(272, "Test One");
  ifd.Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2});
  ifd.Pointers(34665, {&exif});
  ifd.Bytes(50706, 1, {1, 4, 0, 0}).Long(50717, {4095});
  ifd.SRational(50721, {{2000, 1000}, {-500, 1000}, {-200, 1000}, {-400, 1000}, {1500, 1000},
                        {100, 1000}, {-100, 1000}, {200, 1000}, {900, 1000}});
  ifd.Short(50778, {21}).Rational(50728, {{1, 2}, {1, 1}, {4, 5}});
  exif.Rational(33434, {{1, 250}});
  if (!note.empty()) exif.Blob(37500, 7, note.size(), [note](uint32_t) { return note; });
  ifd.Strip(std::vector<uint8_t>(64 * 48 * 12 / 8, 0x40));
  std::vector<uint8_t> bytes = w.Bytes();
  bytes.insert(bytes.end(), end_bytes.begin(), end_bytes.end());
  return bytes;
}

raw_decode_context* Probe(MemoryContext& m) {
  probe_raw_file(m.get());
  return m.get();
}

}  // namespace

// A maker-note directory pointer (0x2020 and its kin, 0xB028) outside the
// file, or a note directory whose table runs past the end, is damage: the
// note is read no further and the DNG's own tags, after the EXIF pointer,
// are read as if the note were not there.
TEST(RawMakerNote, DirectoryPastTheEndCostsTheFileNothing) {
  struct Variant {
    const char* make;
    std::string header;
    bool little, inner_header;
  };
  const Variant variants[] = {
      {"NIKON CORPORATION", std::string("Nikon\0\x02\x10\0\0", 10), false, true},
      {"OLYMPUS IMAGING CORP.", std::string("OLYMPUS\0II\x03\0", 12), true, false},
      {"PENTAX Corporation", std::string("AOC\0II", 6), true, false},
      {"SONY", std::string("SONY DSC \0\0\0", 12), true, false},
      {"Panasonic", std::string("Panasonic\0\0\0", 12), true, false},
      {"LEICA", std::string("LEICA\0\0\0", 8), true, false},
      {"FUJIFILM", std::string("FUJIFILM\x0c\0\0\0", 12), true, false},
  };
  const auto u32 = [](bool little, uint32_t v) {
    ByteSink s(little);
    s.U32(v);
    return s.bytes;
  };
  for (const Variant& v : variants) {
    MemoryContext plain(DngWithNote(v.make, {}));
    auto want = Probe(plain);
    ASSERT_EQ(want->tag_value_cut, 0) << v.make;
    ASSERT_EQ(want->image_width, 64) << v.make;
    ASSERT_EQ(want->raw_colour_flag, 0) << v.make;
    const auto note_of = [&](uint16_t tag, uint32_t target) {
      return NoteFile(0, v.header, v.little, {{tag, 4, 1, u32(v.little, target)}, {0x8, 4, 1, u32(v.little, 77)}}, 0,
                      v.inner_header);
    };
    // A directory at the file's end whose table claims 0xFFFF entries: the
    // pointer is good, so the note goes on after it.
    const size_t end = DngWithNote(v.make, note_of(0xB028, 0)).size();
    struct Pointer {
      const char* name;
      uint16_t tag;
      uint32_t target;
      std::vector<uint8_t> end_bytes;
      bool note_stops;
    } pointers[] = {{"0x2020 past the end", 0x2020, 0x7FFFFF00, {}, true},
                    {"0x2040 past the end", 0x2040, 0x7FFFFF00, {}, true},
                    {"0xB028 past the end", 0xB028, 0x7FFFFF00, {}, true},
                    {"0xB028 at a table cut by the end", 0xB028, uint32_t(end), {0xFF, 0xFF}, false}};
    for (const Pointer& p : pointers) {
      SCOPED_TRACE(testing::Message() << v.make << ", " << p.name);
      const std::vector<uint8_t> note = note_of(p.tag, p.target);
      MemoryContext m(DngWithNote(v.make, note, p.end_bytes));
      auto got = Probe(m);
      EXPECT_EQ(got->tag_value_cut, 1);
      EXPECT_EQ(got->shot_sequence, p.note_stops ? 0u : 77u);  // the entry after the pointer
      EXPECT_EQ(got->dng_version_code, want->dng_version_code);
      EXPECT_EQ(got->image_width, want->image_width);
      EXPECT_EQ(got->image_height, want->image_height);
      EXPECT_EQ(got->raw_colour_flag, 0);
      for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(got->camera_multipliers[c], want->camera_multipliers[c]) << c;
      for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(got->rgb_from_camera[i][c], want->rgb_from_camera[i][c]) << i << c;
    }
  }
}

// A note entry whose value lies past the end of the file is not read (it
// would read as 0xFFFF) and marks the decode damaged; the entries after it
// are read.
TEST(RawMakerNote, ValuePastTheEndIsNotRead) {
  const bool le = true;
  std::vector<uint8_t> file =
      NoteFile(16, "", le, {{0x200, 3, 4, U16s(le, {100, 102, 104, 106})}, {0x8, 4, 1, {77, 0, 0, 0}}}, 0);
  const size_t offset_field = 16 + 2 + 8;  // the first entry's value offset
  for (size_t i = 0; i < 4; ++i) file[offset_field + i] = uint8_t(0x7FFFFF00u >> (8 * i));
  MemoryContext m(file);
  m->byte_order = 0x4949;
  ReadNote(m, 16, 0);
  EXPECT_EQ(m->tag_value_cut, 1);
  EXPECT_EQ(m->black_level, 0u);
  EXPECT_EQ(m->shot_sequence, 77u);
}
