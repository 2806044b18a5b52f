// The TIFF container parser on files written by the test TIFF writer: the
// writer itself is checked with tiffdump and exiftool first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_parsers.h"

using namespace rawtest;

namespace {

// XYZ -> linear sRGB: with it as the colour matrix the camera is sRGB.
const double kSrgbFromXyz[3][3] = {
    {3.240479, -1.537150, -0.498535}, {-0.969256, 1.875992, 0.041556}, {0.055648, -0.204043, 1.057311}};

// A maker note with its own TIFF header, as Nikon writes it: camera id 0x1234.
std::vector<uint8_t> NikonNote() {
  ByteSink s(false);
  s.Text(std::string("Nikon\0\x02\x10\0\0", 10));
  s.Text("MM");
  s.U16(42);
  s.U32(8);
  s.U16(1);
  s.U16(0x10), s.U16(4), s.U32(1), s.U32(0x1234);
  s.U32(0);
  return s.bytes;
}

// A DNG: IFD0 a 16 x 12 RGB preview with the camera's tags, its sub-directory
// the 64 x 48 CFA image; EXIF with a maker note, and GPS.
std::vector<uint8_t> SampleDng(bool little) {
  TiffWriter w(little);
  TiffIfd& ifd0 = w.NewIfd(true);
  TiffIfd& raw = w.NewIfd(false);
  TiffIfd& exif = w.NewIfd(false);
  TiffIfd& gps = w.NewIfd(false);
  ifd0.Long(254, {1}).Image(16, 12, 8, 1, 2, 3).Strip(std::vector<uint8_t>(16 * 12 * 3, 0x80));
  ifd0.Ascii(271, "Pixel").Ascii(272, "Wharf 1").Short(274, {6}).Short(284, {1});
  ifd0.Pointers(330, {&raw}).Pointers(34665, {&exif}).Pointers(34853, {&gps});
  ifd0.Bytes(50706, 1, {1, 4, 0, 0}).Ascii(50708, "Pixel Wharf 1");
  std::vector<std::pair<int32_t, int32_t>> cm;
  for (auto& row : kSrgbFromXyz)
    for (double v : row) cm.push_back({int32_t(std::lround(v * 1000000)), 1000000});
  ifd0.SRational(50721, cm).Short(50778, {21});
  ifd0.Rational(50728, {{1, 2}, {1, 1}, {4, 5}});
  raw.Long(254, {0}).Image(64, 48, 16, 1, 32803, 1).Strip(std::vector<uint8_t>(64 * 48 * 2, 0x11));
  raw.Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2}).Short(284, {1});
  raw.Short(50714, {256, 256, 256, 257}).Short(50713, {2, 2}).Short(50717, {4095});
  exif.Rational(33434, {{1, 250}}).Rational(33437, {{28, 10}}).Short(34855, {400});
  exif.Bytes(36864, 7, {'0', '2', '3', '0'}).Ascii(36867, "2024:05:17 10:20:30");
  exif.SRational(37377, {{-128, 1}}).Rational(37386, {{50, 1}});
  std::vector<uint8_t> note = NikonNote();
  exif.Blob(37500, 7, note.size(), [note](uint32_t) { return note; });
  gps.Bytes(0, 1, {2, 3, 0, 0}).Ascii(1, "N").Rational(2, {{52, 1}, {30, 1}, {1234, 100}});
  gps.Ascii(29, "2024:05:17");
  return w.Bytes();
}

}  // namespace

TEST(RawTiffWriter, OutputIsValidForTiffdumpAndExiftool) {
  for (bool little : {true, false}) {
    std::string path = WriteTempFile(little ? "sample_ii.dng" : "sample_mm.dng", SampleDng(little));
    int status = 0;
    std::string dump = RunCommand("tiffdump '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << dump;
    EXPECT_NE(dump.find("Make (271) ASCII (2) 6<Pixel"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SubIFD (330)"), std::string::npos) << dump;
    std::string check = RunCommand("exiftool -validate -warning -a '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;
    EXPECT_NE(check.find("Validate                        : OK"), std::string::npos) << check;
    std::string values = RunCommand("exiftool -s -ISO -GPSLatitude -CFAPattern2 -Orientation# '" + path + "'", &status);
    EXPECT_NE(values.find("ISO                             : 400"), std::string::npos) << values;
    EXPECT_NE(values.find("Orientation                     : 6"), std::string::npos) << values;
    EXPECT_NE(values.find("CFAPattern2                     : 0 1 1 2"), std::string::npos) << values;
  }
}

TEST(RawTiffParser, DngWithPreviewExifMakerNoteAndGps) {
  for (bool little : {true, false}) {
    MemoryContext m(SampleDng(little));
    m->raw_image_count = 1;
    read_tiff_container(m.get(), 0);
    SCOPED_TRACE(little ? "II" : "MM");
    EXPECT_STREQ(m->camera_make, "Pixel");
    EXPECT_STREQ(m->camera_model, "Wharf 1");
    EXPECT_EQ(m->dng_version_code, 0x01040000u);
    EXPECT_EQ(m->raw_image_count, 1);
    EXPECT_EQ(m->ifd_count, 2);
    EXPECT_EQ(m->sensor_width, 64);
    EXPECT_EQ(m->sensor_height, 48);
    EXPECT_EQ(m->bits_per_sample, 16);
    EXPECT_EQ(m->raw_loader_choice, raw_loader_name::unpacked_load_raw);
    ASSERT_LT(m->raw_data_offset + 64u * 48 * 2, m.bytes.size() + 1);
    EXPECT_EQ(m.bytes[m->raw_data_offset], 0x11);
    EXPECT_EQ(m->cfa_pattern, 0x94949494u);
    EXPECT_EQ(m->colour_count, 3);
    EXPECT_EQ(m->black_level, 256u);  // (1025 / 4 + 0.5) truncated
    EXPECT_EQ(m->white_level, 4095u);
    EXPECT_EQ(m->ifd_orientation, 6);
    // the preview: same samples as the most seen (3), 8 bits
    EXPECT_EQ(m->thumb_width, 16);
    EXPECT_EQ(m->thumb_height, 12);
    EXPECT_EQ(m->thumb_format_info, 8u | 3u << 5);
    EXPECT_EQ(m->thumb_writer_choice, raw_thumb_name::ppm_thumb);
    EXPECT_EQ(m.bytes[m->thumb_data_offset], 0x80);
    // AsShotNeutral gives the multipliers, the sRGB colour matrix an identity
    EXPECT_FLOAT_EQ(m->camera_multipliers[0], 2);
    EXPECT_FLOAT_EQ(m->camera_multipliers[1], 1);
    EXPECT_FLOAT_EQ(m->camera_multipliers[2], 1.25f);
    EXPECT_EQ(m->camera_multipliers[3], 0);
    EXPECT_EQ(m->raw_colour_flag, 0);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(m->rgb_from_camera[i][j], i == j, 2e-3) << i << j;
    // EXIF, with the APEX shutter of exponent 128 ignored
    EXPECT_FLOAT_EQ(m->shutter_seconds, 0.004f);
    EXPECT_FLOAT_EQ(m->aperture_value, 2.8f);
    EXPECT_FLOAT_EQ(m->iso_value, 400);
    EXPECT_FLOAT_EQ(m->focal_length_mm, 50);
    EXPECT_EQ(m->shot_time, LocalSeconds(2024, 5, 17, 10, 20, 30));
    EXPECT_EQ(m->camera_id, 0x1234u);  // from the maker note
    // GPS: reference letter, latitude, date stamp
    EXPECT_EQ(m->gps_block[29], uint32_t('N'));
    EXPECT_EQ(m->gps_block[0], 52u);
    EXPECT_EQ(m->gps_block[1], 1u);
    EXPECT_EQ(m->gps_block[4], 1234u);
    EXPECT_EQ(m->gps_block[5], 100u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&m->gps_block[23]), "2024:05:17");
  }
}

namespace {

struct ChoiceCase {
  const char* name;
  uint32_t bits, compression, photometric;
  const char* make;
  raw_loader_name loader;
  int32_t loader_flags;
  int32_t raw_count;
};

}  // namespace

// The loader chosen for the raw directory's compression and bits, and the
// not-raw tests.
TEST(RawTiffParser, LoaderChoiceTable) {
  const ChoiceCase cases[] = {
      {"8-bit", 8, 1, 32803, "Cam", raw_loader_name::eight_bit_load_raw, 0, 1},
      {"12-bit", 12, 1, 32803, "Cam", raw_loader_name::packed_12bit_load_raw, 0, 1},
      {"12-bit RGB photometric", 12, 1, 2, "Cam", raw_loader_name::packed_12bit_load_raw, 6, 1},
      {"PENTAX 12-bit", 12, 1, 2, "PENTAX Corporation", raw_loader_name::unpacked_load_raw, 6, 1},
      {"14-bit", 14, 1, 32803, "Cam", raw_loader_name::unpacked_load_raw, 0, 1},
      {"lossless JPEG", 12, 7, 32803, "Cam", raw_loader_name::ljpeg_load_raw, 0, 1},
      {"Nikon", 12, 34713, 32803, "Cam", raw_loader_name::nikon_compressed_load_raw, 0, 1},
      {"packed 32769", 12, 32769, 32803, "Cam", raw_loader_name::packed_12bit_load_raw, 8, 1},
      {"Kodak 65000 YCbCr", 8, 65000, 6, "Cam", raw_loader_name::kodak_ycbcr_load_raw, 0, 1},
      {"Pentax 65535", 12, 65535, 32803, "Cam", raw_loader_name::pentax_k10_load_raw, 0, 1},
      {"unknown compression", 12, 5, 32803, "Cam", raw_loader_name::none, 0, 0},
      {"8-bit grey", 8, 1, 1, "Cam", raw_loader_name::eight_bit_load_raw, 0, 0},
  };
  for (const ChoiceCase& c : cases) {
    TiffWriter w(true);
    TiffIfd& d = w.NewIfd(true);
    d.Image(40, 30, c.bits, c.compression, c.photometric, 1).Ascii(271, c.make);
    d.Strip(std::vector<uint8_t>(40 * 30 * 2, 0));
    MemoryContext m(w.Bytes());
    m->raw_image_count = 1;
    read_tiff_container(m.get(), 0);
    EXPECT_EQ(m->raw_loader_choice, c.loader) << c.name;
    EXPECT_EQ(m->loader_flags, c.loader_flags) << c.name;
    EXPECT_EQ(m->raw_image_count, c.raw_count) << c.name;
    EXPECT_EQ(m->sensor_width, 40) << c.name;
  }
}

TEST(RawTiffParser, JpegPreviewIsNeverTheRawDirectoryAndEditorsAreNotRaw) {
  TiffWriter w(false);
  TiffIfd& big = w.NewIfd(true);
  big.Image(400, 300, 8, 6, 6, 3).Strip(std::vector<uint8_t>(16, 0));
  TiffIfd& cfa = w.NewIfd(true);
  cfa.Image(40, 30, 12, 1, 32803, 1).Strip(std::vector<uint8_t>(1800, 0));
  cfa.Ascii(305, "Digital Photo Professional 4");
  MemoryContext m(w.Bytes());
  m->raw_image_count = 1;
  read_tiff_container(m.get(), 0);
  EXPECT_EQ(m->sensor_width, 40);
  EXPECT_EQ(m->raw_image_count, 1);  // only the exact name marks an editor

  for (const char* software : {"quarn 1.0", "Adobe Photoshop", "Nikon Scan 4", "Digital Photo Professional"}) {
    TiffWriter v(true);
    v.NewIfd(true).Image(40, 30, 12, 1, 32803, 1).Ascii(305, software).Strip(std::vector<uint8_t>(1800, 0));
    MemoryContext n(v.Bytes());
    n->raw_image_count = 1;
    read_tiff_container(n.get(), 0);
    EXPECT_EQ(n->raw_image_count, 0) << software;
  }
}

TEST(RawTiffParser, CurvesPatternsAndKodakDirectory) {
  TiffWriter w(true);
  TiffIfd& d = w.NewIfd(true);
  TiffIfd& kodak = w.NewIfd(false);
  d.Image(40, 30, 12, 1, 32803, 1).Strip(std::vector<uint8_t>(1800, 0));
  std::vector<uint32_t> curve;
  for (uint32_t i = 0; i < 8; ++i) curve.push_back(i * 100);
  d.Short(50712, curve);  // 8 entries; the rest continue the last
  d.Pointers(33424, {&kodak});
  d.Short(50752, {2, 0, 100});  // a slice width of 0 gives no slices
  std::vector<uint8_t> wb(72, 0);
  for (int c = 0; c < 3; ++c) wb[40 + 2 * c + 1] = uint8_t(2 << c);  // 512, 1024, 2048 little-endian
  kodak.Bytes(1021, 7, wb);
  MemoryContext m(w.Bytes());
  read_tiff_container(m.get(), 0);
  EXPECT_EQ(m->tone_curve[7], 700);
  EXPECT_EQ(m->tone_curve[4095], 700);
  EXPECT_EQ(m->white_level, 700u);
  EXPECT_EQ(m->canon_slices[0], 0);
  EXPECT_EQ(m->canon_slices[2], 0);
  // Kodak 1021: skip 40 bytes, then 2048 / value
  EXPECT_FLOAT_EQ(m->camera_multipliers[0], 4);
  EXPECT_FLOAT_EQ(m->camera_multipliers[1], 2);
  EXPECT_FLOAT_EQ(m->camera_multipliers[2], 1);
}

namespace {

// The SR2 keystream, written out from its definition: the bytes of each
// 32-bit word are XORed with the big-endian bytes of the stream.
void Sr2Encipher(std::vector<uint8_t>& data, uint32_t key) {
  uint32_t pad[128];
  for (int p = 0; p < 4; ++p) {
    key = key * 48828125u + 1;
    pad[p] = key;
  }
  pad[3] = pad[3] << 1 | (pad[0] ^ pad[2]) >> 31;
  for (int p = 4; p < 127; ++p) pad[p] = (pad[p - 4] ^ pad[p - 2]) << 1 | (pad[p - 3] ^ pad[p - 1]) >> 31;
  for (size_t i = 0, p = 127; i + 4 <= data.size(); i += 4, ++p) {
    uint32_t w = pad[(p + 1) & 127] ^ pad[(p + 65) & 127];
    pad[p & 127] = w;
    for (int b = 0; b < 4; ++b) data[i + b] ^= uint8_t(w >> (24 - 8 * b));
  }
}

}  // namespace

// Sony's SR2 directory is enciphered; its offsets count from the file start.
TEST(RawTiffParser, SonySr2BlockDecipheredInMemory) {
  const uint32_t key = 0x12345678;
  const uint32_t block_at = 256;
  ByteSink sr2(true);
  sr2.U16(2);
  sr2.U16(29459), sr2.U16(3), sr2.U32(4), sr2.U32(block_at + 2 + 24 + 4);  // four values after the table
  sr2.U16(29443), sr2.U16(3), sr2.U32(4), sr2.U32(block_at + 2 + 24 + 4 + 8);
  sr2.U32(0);
  for (uint32_t v : {501, 502, 503, 504, 601, 602, 603, 604}) sr2.U16(v);
  std::vector<uint8_t> block = sr2.bytes;
  Sr2Encipher(block, key);
  TiffWriter w(true);
  TiffIfd& d = w.NewIfd(true);
  d.Image(40, 30, 12, 1, 32803, 1);
  d.Long(29184, {block_at}).Long(29185, {uint32_t(block.size())}).Long(29217, {key});
  TiffIfd& second = w.NewIfd(true);
  second.Image(80, 60, 12, 1, 32803, 1);
  std::vector<uint8_t> file = w.Bytes();
  ASSERT_LE(file.size(), block_at);
  file.resize(block_at);
  file.insert(file.end(), block.begin(), block.end());
  MemoryContext m(file);
  read_tiff_container(m.get(), 0);
  // 29459 is overwritten by 29443 for positions 2, 3; 29443 puts c ^ (c < 2)
  EXPECT_FLOAT_EQ(m->camera_multipliers[0], 602);
  EXPECT_FLOAT_EQ(m->camera_multipliers[1], 601);
  EXPECT_FLOAT_EQ(m->camera_multipliers[2], 603);
  EXPECT_FLOAT_EQ(m->camera_multipliers[3], 604);
  // the chain goes on after the block: the second directory is read (the
  // SR2 directory takes a summary of its own)
  EXPECT_EQ(m->ifd_count, 3);
  EXPECT_EQ(m->sensor_width, 80);
  EXPECT_EQ(m->stream, &m.stream);
}

TEST(RawTiffParser, LeafPackets) {
  auto packet = [](const std::string& name, const std::string& data, const std::vector<uint8_t>& inner = {}) {
    ByteSink s(false);
    s.Text("PKTS");
    s.U32(0);
    std::string n = name;
    n.resize(40, '\0');
    s.Text(n);
    s.U32(uint32_t(data.size() + inner.size()));
    s.Text(data);
    s.Raw(inner);
    return s.bytes;
  };
  std::vector<uint8_t> packets;
  for (auto p : {packet("ShootObj_back_type", "13"), packet("CaptProf_number_of_planes", "1"),
                 packet("CaptProf_mosaic_pattern", "0 1 0 0"), packet("CaptProf_raw_data_rotation", "90"),
                 packet("NeutObj_neutrals", "100 50 100 200")})
    packets.insert(packets.end(), p.begin(), p.end());
  packets.insert(packets.end(), 8, 0);
  TiffWriter w(false);
  TiffIfd& d = w.NewIfd(true);
  d.Image(40, 30, 16, 1, 32803, 1).Blob(34310, 7, packets.size(), [packets](uint32_t) { return packets; });
  MemoryContext m(w.Bytes());
  read_tiff_container(m.get(), 0);
  EXPECT_STREQ(m->camera_make, "Leaf");
  EXPECT_STREQ(m->camera_model, "Aptus 75");
  // rotation 90 and the first green at position 1: row (1 + 1) & 3 of the table
  EXPECT_EQ(m->cfa_pattern, 0x16161616u);
  EXPECT_EQ(m->orientation_flags, 6);  // 90 degrees
  EXPECT_FLOAT_EQ(m->camera_multipliers[0], 2);
  EXPECT_FLOAT_EQ(m->camera_multipliers[1], 1);
  EXPECT_FLOAT_EQ(m->camera_multipliers[2], 0.5f);
}

namespace {

struct TagCase {
  const char* name;
  std::function<void(TiffIfd&)> tags;
  std::function<void(raw_decode_context*)> check;
};

std::vector<uint8_t> Le32s(std::vector<uint32_t> v) {
  ByteSink s(true);
  for (uint32_t x : v) s.U32(x);
  return s.bytes;
}

}  // namespace

// One or two tags of a 40 x 30 CFA directory, and the fields they set.
TEST(RawTiffParser, TagTable) {
  const TagCase cases[] = {
      {"17, 18: red and blue / 256", [](TiffIfd& d) { d.Short(17, {512}).Short(18, {768}); },
       [](raw_decode_context* c) {
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 2);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 3);
       }},
      {"23 ISO; 36..38 multipliers", [](TiffIfd& d) { d.Short(23, {200}).Short(36, {10}).Short(37, {20}).Short(38, {30}); },
       [](raw_decode_context* c) {
         EXPECT_FLOAT_EQ(c->iso_value, 200);
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 20);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 30);
       }},
      {"46: an embedded JPEG", [](TiffIfd& d) { d.Bytes(46, 7, {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0, 0, 0}); },
       [](raw_decode_context* c) { EXPECT_EQ(c->thumb_data_length, 10u); }},
      {"274 orientation 8 maps to 5", [](TiffIfd& d) { d.Short(274, {8}); },
       [](raw_decode_context* c) { EXPECT_EQ(c->ifd_orientation, 5); }},
      {"280 as LONG: Panasonic data", [](TiffIfd& d) { d.Long(280, {4000}); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::panasonic_load_raw);
         EXPECT_EQ(c->loader_flags, 0x2008);
         EXPECT_EQ(c->raw_data_offset, 4000u);
       }},
      {"324 with four offsets: Sinar 4-shot", [](TiffIfd& d) { d.Long(324, {1, 2, 3, 4}); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->raw_image_count, 5);
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::sinar_4shot_load_raw);
       }},
      {"400: Sarnoff", [](TiffIfd& d) { d.Short(400, {1}); },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_make, "Sarnoff");
         EXPECT_EQ(c->white_level, 0xFFFu);
       }},
      {"28688: tone curve from four points", [](TiffIfd& d) { d.Short(28688, {400, 800, 1600, 3200}); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->tone_curve[100], 100);
         EXPECT_EQ(c->tone_curve[200], 300);
         EXPECT_EQ(c->tone_curve[400], 1100);
         EXPECT_EQ(c->tone_curve[800], 4300);
         EXPECT_EQ(c->tone_curve[4095], 57020);
       }},
      {"29443 multipliers, c ^ (c < 2)", [](TiffIfd& d) { d.Short(29443, {1, 2, 3, 4}); },
       [](raw_decode_context* c) {
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 2);
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 1);
         EXPECT_FLOAT_EQ(c->camera_multipliers[3], 4);
       }},
      {"33405 model extra; 34303 Leaf; 34306 4096 / v", [](TiffIfd& d) {
         d.Ascii(33405, "Extra").Short(34303, {0}).Short(34306, {1024, 2048, 4096, 512});
       },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_model_extra, "Extra");
         EXPECT_STREQ(c->camera_make, "Leaf");
         EXPECT_FLOAT_EQ(c->camera_multipliers[1], 4);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 2);
         EXPECT_FLOAT_EQ(c->camera_multipliers[3], 1);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 8);
       }},
      {"34307: the Leaf text matrix", [](TiffIfd& d) { d.Ascii(34307, "MATRIX 1 2 3 4 5 6 7 8 9 10 11 12.5"); },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->colour_count, 4);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[0][0], 2);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[0][1], 1);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[0][2], 4);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[2][2], 12.5f);
       }},
      {"37393 sequence; 37400 camera matrix rows", [](TiffIfd& d) {
         d.Short(37393, {77});
         d.SRational(37400, {{9, 1}, {1, 1}, {2, 1}, {3, 1}, {9, 1}, {4, 1}, {5, 1}, {6, 1}, {9, 1}, {-7, 2}, {8, 1}, {9, 1}});
       },
       [](raw_decode_context* c) {
         EXPECT_EQ(c->shot_sequence, 77u);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[0][0], 1);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[1][2], 6);
         EXPECT_FLOAT_EQ(c->rgb_from_camera[2][0], -3.5f);
       }},
      {"46275 + 46279: Imacon header, rotation 180 as flags 3", [](TiffIfd& d) {
         d.Blob(46275, 7, 64, [](uint32_t) { return std::vector<uint8_t>(64, 0); });
         d.Blob(46279, 7, 282, [](uint32_t) {
           std::vector<uint8_t> b(78, 0);
           std::vector<uint8_t> v = Le32s({100, 80, 1, 1, 2, 2});
           b.insert(b.end(), v.begin(), v.end());
           b.resize(b.size() + 52, 0);
           ByteSink f(true);
           f.F32(1.5f), f.F32(1), f.F32(2);
           b.insert(b.end(), f.bytes.begin(), f.bytes.end());
           b.resize(b.size() + 114, 0);
           b.push_back(0), b.push_back(1);  // 256 >> 7 = 2: 180 degrees
           return b;
         });
       },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_make, "Imacon");
         EXPECT_EQ(c->left_margin, 1);
         EXPECT_EQ(c->image_width, 98);
         EXPECT_EQ(c->top_margin, 2);
         EXPECT_EQ(c->image_height, 76);
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 1.5f);
         EXPECT_EQ(c->orientation_flags, 3);
         EXPECT_STREQ(c->camera_model, "Ixpress 0-Mp");
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::imacon_rgb_load_raw);
       }},
      {"50459: a directory behind a TIFF header of its own", [](TiffIfd& d) {
         d.Blob(50459, 7, 40, [](uint32_t p) {
           ByteSink s(false);
           s.Text("MM"), s.U16(42), s.U32(8);
           s.U16(1), s.U16(271), s.U16(2), s.U32(6), s.U32(26), s.U32(0);
           s.Text(std::string("Hassy\0", 6));
           (void)p;
           return s.bytes;
         });
       },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_make, "Hassy");
         EXPECT_EQ(c->white_level, 0xFFFFu);
         EXPECT_EQ(c->ifd_count, 1);
         EXPECT_EQ(c->byte_order, 0x4949);
       }},
      {"50458 Hasselblad; 50711 Fuji layout", [](TiffIfd& d) { d.Short(50458, {0}).Short(50711, {2}); },
       [](raw_decode_context* c) {
         EXPECT_STREQ(c->camera_make, "Hasselblad");
         EXPECT_EQ(c->fuji_diagonal_width, 20);
         EXPECT_EQ(c->cfa_pattern, 0x49494949u);
       }},
      {"50718 aspect; 50829 active area", [](TiffIfd& d) {
         d.Rational(50718, {{3, 1}, {2, 1}}).Short(50829, {2, 4, 30, 40});
       },
       [](raw_decode_context* c) {
         EXPECT_DOUBLE_EQ(c->pixel_aspect_ratio, 1.5);
         EXPECT_EQ(c->top_margin, 2);
         EXPECT_EQ(c->left_margin, 4);
         EXPECT_EQ(c->image_height, 28);
         EXPECT_EQ(c->image_width, 36);
       }},
      {"64772: Kodak-style offsets", [](TiffIfd& d) {
         d.Blob(64772, 7, 56, [](uint32_t) {
           std::vector<uint8_t> b(16, 0);
           std::vector<uint8_t> a = Le32s({1000});
           b.insert(b.end(), a.begin(), a.end());
           b.resize(48, 0);
           std::vector<uint8_t> v = Le32s({234});
           b.insert(b.end(), v.begin(), v.end());
           return b;
         });
       },
       [](raw_decode_context* c) {
         // the offset (1000 + 234) gives way to the raw directory's own; the
         // loader chosen stays
         EXPECT_EQ(c->raw_loader_choice, raw_loader_name::packed_12bit_load_raw);
       }},
      {"50454: the last 'Neutral' line", [](TiffIfd& d) { d.Ascii(50454, "abc\nNeutral 0.5 1 0.25\nNeutralX 9 9 9\n"); },
       [](raw_decode_context* c) {
         EXPECT_FLOAT_EQ(c->camera_multipliers[0], 0.5f);
         EXPECT_FLOAT_EQ(c->camera_multipliers[2], 0.25f);
       }},
  };
  for (const TagCase& t : cases) {
    SCOPED_TRACE(t.name);
    TiffWriter w(true);
    TiffIfd& d = w.NewIfd(true);
    d.Image(40, 30, 12, 1, 32803, 1).Strip(std::vector<uint8_t>(1800, 0));
    t.tags(d);
    MemoryContext m(w.Bytes());
    read_tiff_container(m.get(), 0);
    t.check(m.get());
  }
}

TEST(RawTiffParser, ReadTwiceFromTheTopGivesTheSameResult) {
  MemoryContext m(SampleDng(true));
  read_tiff_container(m.get(), 0);
  const int count = m->ifd_count;
  const uint16_t width = m->sensor_width;
  m->sensor_width = m->sensor_height = 0;
  read_tiff_container(m.get(), 0);
  EXPECT_EQ(m->ifd_count, count);
  EXPECT_EQ(m->sensor_width, width);
}

// An EXIF value whose offset lies past the end of the file is not read (the
// bytes there are not the file's) and marks the decode damaged; the other
// EXIF values and the DNG's own tags are read.
TEST(RawTiffParser, ExifValuePastTheEndIsNotRead) {
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    std::vector<uint8_t> bytes = SampleDng(little);
    // ExposureTime (33434), RATIONAL, count 1: its offset moved far outside.
    ByteSink entry(little);
    entry.U16(33434), entry.U16(5), entry.U32(1);
    auto at = std::search(bytes.begin(), bytes.end(), entry.bytes.begin(), entry.bytes.end());
    ASSERT_NE(at, bytes.end());
    ByteSink outside(little);
    outside.U32(0x7FFFFF00);
    std::copy(outside.bytes.begin(), outside.bytes.end(), at + 8);
    MemoryContext m(bytes);
    read_tiff_container(m.get(), 0);
    EXPECT_EQ(m->tag_value_cut, 1);
    EXPECT_EQ(m->shutter_seconds, 0);
    EXPECT_FLOAT_EQ(m->aperture_value, 2.8f);
    EXPECT_EQ(m->camera_id, 0x1234u);  // the maker note, after it
    EXPECT_FLOAT_EQ(m->camera_multipliers[2], 1.25f);
  }
}
