// Camera identification as a table: bytes written here in, what the decoder
// makes of them out (make, model, sizes, margins, pattern, colours, levels,
// loader). Containers come from the test TIFF writer and the lossless-JPEG
// encoder; size-identified files have exactly the sizes the table names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_camera_tables.h"
#include "rawdecode/raw_identify.h"
#include "rawdecode/raw_loaders.h"
#include "rawdecode/raw_stream.h"

using namespace rawtest;

namespace {

struct Probed {
  std::unique_ptr<raw_decode_context> ctx;
  raw_memory_stream mem;
  std::vector<uint8_t> bytes;
};

std::unique_ptr<Probed> Probe(std::vector<uint8_t> bytes,
                              const std::function<void(raw_decode_context*)>& options = {}) {
  auto p = std::make_unique<Probed>();
  p->bytes = std::move(bytes);
  p->ctx = raw_context_create();
  if (options) options(p->ctx.get());
  p->mem = raw_memory_stream{p->bytes.data(), p->bytes.size(), 0, false};
  raw_set_stream(p->ctx.get(), &raw_memory_ops, &p->mem);
  probe_raw_file(p->ctx.get());
  return p;
}

// A one-directory camera TIFF with the sensor data as one strip.
std::vector<uint8_t> CameraTiff(const std::string& make, const std::string& model, uint32_t width,
                                uint32_t height, uint32_t compression = 1,
                                const std::function<void(TiffWriter&, TiffIfd&)>& more = {}) {
  TiffWriter w(true);
  TiffIfd& ifd = w.NewIfd(true);
  ifd.Image(width, height, 12, compression, 32803, 1);
  ifd.Ascii(271, make).Ascii(272, model);
  if (more) more(w, ifd);
  ifd.Strip(std::vector<uint8_t>(64, 0));
  return w.Bytes();
}

// A DNG as cameras write it: an RGB preview first, the CFA image in a
// sub-directory, stored uncompressed or as lossless JPEG.
std::vector<uint8_t> Dng(bool lossless, bool mono = false) {
  TiffWriter w(true);
  TiffIfd& ifd0 = w.NewIfd(true);
  TiffIfd& raw = w.NewIfd(false);
  ifd0.Long(254, {1}).Image(16, 12, 8, 1, 2, 3).Strip(std::vector<uint8_t>(16 * 12 * 3, 0x80));
  ifd0.Ascii(271, "Pixelwharf").Ascii(272, "Pixelwharf Test One").Short(274, {8});
  ifd0.Pointers(330, {&raw}).Bytes(50706, 1, {1, 1, 0, 0});
  raw.Long(254, {0}).Image(64, 48, 16, lossless ? 7 : 1, mono ? 34892 : 32803, 1);
  if (!mono) raw.Short(33421, {2, 2}).Bytes(33422, 1, {1, 0, 2, 1});
  raw.Long(50717, {4095});
  std::vector<uint16_t> samples(64 * 48, 1000);
  if (lossless) {
    LjpegParams p;
    p.width = 32, p.height = 48, p.components = 2, p.precision = 12;
    raw.Strip(EncodeLjpeg(p, samples));
  } else {
    raw.Strip(std::vector<uint8_t>(64 * 48 * 2, 0x03));
  }
  return w.Bytes();
}

// A Canon maker note: a bare directory with the camera id (tag 0x10).
void CanonNote(TiffWriter& w, TiffIfd& ifd, uint32_t id) {
  TiffIfd& exif = w.NewIfd(false);
  ByteSink note(true);
  note.U16(1);
  note.U16(0x10), note.U16(4), note.U32(1), note.U32(id);
  note.U32(0);
  exif.Bytes(37500, 7, note.bytes);
  ifd.Pointers(34665, {&exif});
}

struct Expect {
  const char* make;
  const char* model;
  int height, width, top, left;
  uint32_t cfa;
  int colours;
  raw_load_fn loader;  // null: not raw
};

void Check(const raw_decode_context& c, const Expect& e) {
  EXPECT_STREQ(c.camera_make, e.make);
  EXPECT_STREQ(c.camera_model, e.model);
  if (!e.loader) {
    EXPECT_EQ(c.raw_image_count, 0);
    return;
  }
  EXPECT_GE(c.raw_image_count, 1);
  EXPECT_EQ(c.image_height, e.height);
  EXPECT_EQ(c.image_width, e.width);
  EXPECT_EQ(c.top_margin, e.top);
  EXPECT_EQ(c.left_margin, e.left);
  EXPECT_EQ(c.cfa_pattern, e.cfa) << std::hex << c.cfa_pattern;
  EXPECT_EQ(c.colour_count, e.colours);
  EXPECT_TRUE(c.raw_loader == e.loader);
}

std::vector<uint8_t> SizedFile(size_t size, uint8_t fill = 0) { return std::vector<uint8_t>(size, fill); }

}  // namespace

TEST(RawIdentify, Table) {
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    Expect expect;
  };
  const Case cases[] = {
      {"DNG uncompressed, preview first", [] { return Dng(false); },
       {"Pixelwharf", "Test One", 48, 64, 0, 0, 0xE1E1E1E1, 3, adobe_dng_load_raw_nc}},
      {"DNG lossless JPEG", [] { return Dng(true); },
       {"Pixelwharf", "Test One", 48, 64, 0, 0, 0xE1E1E1E1, 3, dng_lossless_load_raw}},
      {"DNG one colour, linear raw", [] { return Dng(false, true); },
       {"Pixelwharf", "Test One", 48, 64, 0, 0, 0, 1, adobe_dng_load_raw_nc}},
      {"614400 bytes: the last matching size row", [] { return SizedFile(614400); },
       {"Kodak", "KAI-0340", 477, 640, 0, 0, 0xB4B4B4B4, 3, unpacked_load_raw}},
      {"460800 bytes", [] { return SizedFile(460800); },
       {"Kodak", "C603v", 480, 640, 0, 0, 0, 3, kodak_yrgb_load_raw}},
      {"1581060 bytes: Nikon E900, four colours", [] { return SizedFile(1581060); },
       {"NIKON", "E900", 963, 1287, 0, 0, 0x1E1E1E1E, 4, nikon_e900_load_raw}},
      {"3884928 bytes: Micron 2010", [] { return SizedFile(3884928); },
       {"Micron", "2010", 1207, 1608, 0, 0, 0x1E1E1E1E, 3, unpacked_load_raw}},
      {"Panasonic 3130 wide", [] { return CameraTiff("Panasonic", "DMC-FZ8", 3130, 2400); },
       {"Panasonic", "DMC-FZ8", 2326, 3096, 13, 4, 0x4B4B4B4B, 3, packed_12bit_load_raw}},
      {"Canon CR2 3948 wide, EOS 1000D id",
       [] {
         return CameraTiff("Canon", "Canon EOS 1000D", 3948, 2622, 6,
                           [](TiffWriter& w, TiffIfd& ifd) { CanonNote(w, ifd, 0x80000254); });
       },
       {"Canon", "EOS 1000D", 2622 - 2 - 18, 3948 - 42, 18, 42, 0xB4B4B4B4, 3, ljpeg_load_raw}},
      {"Olympus, odd height", [] { return CameraTiff("OLYMPUS OPTICAL CO.,LTD", "E-1", 2560, 1921); },
       {"OLYMPUS", "E-1", 1922, 2560, 0, 0, 0, 3, packed_12bit_load_raw}},
      {"Nikon maker name, D200",
       [] { return CameraTiff("NIKON CORPORATION", "NIKON D200", 3900, 2616); },
       {"NIKON", "D200", 2616, 3896, 0, 1, 0xB4B4B4B4, 3, packed_12bit_load_raw}},
      {"Kodak DC120 with JPEG data", [] { return CameraTiff("KODAK", "DC120", 848, 976, 7); },
       {"KODAK", "DC120", 0, 0, 0, 0, 0, 0, nullptr}},
      {"21 rows high", [] { return CameraTiff("Pixelwharf", "Short", 64, 21); },
       {"Pixelwharf", "Short", 0, 0, 0, 0, 0, 0, nullptr}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = Probe(c.bytes());
    Check(*p->ctx, c.expect);
  }
}

TEST(RawIdentify, TableRowsAndTheirEffects) {
  // A Canon CR2 with camera id 0x80000254 takes the EOS 1000D row: its white
  // level, and a matrix only where the table has one.
  auto p = Probe(CameraTiff("Canon", "Canon EOS 1000D", 3948, 2622, 6,
                            [](TiffWriter& w, TiffIfd& ifd) { CanonNote(w, ifd, 0x80000254); }));
  EXPECT_EQ(p->ctx->white_level, 3651u);
  EXPECT_EQ(p->ctx->raw_colour_flag, 1);  // no matrix: camera colours stay
  // A row with a matrix converts; its white level of 15600 is kept.
  auto m2 = Probe(CameraTiff("Canon", "Canon EOS 5D Mark II", 5634, 3753, 6));
  EXPECT_EQ(m2->ctx->white_level, 15600u);
  EXPECT_EQ(m2->ctx->raw_colour_flag, 0);
  // 65472 stays 65472.
  auto o = Probe(CameraTiff("OLYMPUS", "E-10", 2256, 1684));
  EXPECT_EQ(o->ctx->white_level, 65472u);
  // The Nikon E900's built-in four-colour matrix.
  auto e900 = Probe(SizedFile(1581060));
  EXPECT_EQ(e900->ctx->raw_colour_flag, 0);
  EXPECT_FLOAT_EQ(e900->ctx->rgb_from_camera[0][0], -1.936280f);
  EXPECT_FLOAT_EQ(e900->ctx->rgb_from_camera[2][3], -1.818705f);
  // First prefix wins: every prefix that a later row's prefix begins with
  // stands after it, so each row is reachable by its own name.
  for (int i = 0; i < raw_colour_row_count; ++i)
    for (int j = 0; j < i; ++j) {
      const char* a = camera_colour_table[j].prefix;
      EXPECT_NE(strncmp(camera_colour_table[i].prefix, a, strlen(a)), 0)
          << camera_colour_table[i].prefix << " is hidden by " << a;
    }
  // No row has a partial matrix.
  for (const raw_colour_row& row : camera_colour_table) {
    int nonzero = 0;
    for (int16_t v : row.xyz_to_camera) nonzero += v != 0;
    EXPECT_TRUE(nonzero == 0 || nonzero >= 9) << row.prefix;
  }
}

TEST(RawIdentify, MessagesAndLongNames) {
  // Kodak DC120 with JPEG data: refused with the libjpeg message.
  auto dc120 = Probe(CameraTiff("KODAK", "DC120", 848, 976, 7));
  EXPECT_EQ(dc120->ctx->raw_image_count, 0);
  EXPECT_NE(dc120->ctx->message_log.find("You must link quarn with libjpeg!!"), std::string::npos);
  // A Minolta model name as long as the field: the "DYNAX" name is formed
  // in a buffer of its own and still finds its colour-table row.
  const std::string model = "DYNAX 7D" + std::string(54, 'x');
  auto dynax = Probe(CameraTiff("MINOLTA", model, 3016, 2008));
  EXPECT_EQ(dynax->ctx->white_level, 4091u);
  EXPECT_TRUE(dynax->ctx->raw_loader == packed_12bit_load_raw);
}

TEST(RawIdentify, NamesAndNotRaw) {
  // KODAK makes and models are cut at 16 characters.
  auto k = Probe(CameraTiff("EASTMAN KODAK COMPANY", "KODAK DCS Pro SLR/n Digital", 4500, 3000));
  EXPECT_STREQ(k->ctx->camera_make, "KODAK");
  auto big = Probe(CameraTiff("KODAK", "ABCDEFGHIJKLMNOPQRST", 4500, 3000));
  EXPECT_STREQ(big->ctx->camera_model, "ABCDEFGHIJKLMNOP");
  // A JPEG without raw data.
  ByteSink jpeg(false);
  jpeg.U16(0xFFD8), jpeg.U16(0xFFE0), jpeg.U16(16);
  jpeg.Text(std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
  jpeg.U16(0xFFD9);
  jpeg.PadTo(200);
  auto j = Probe(jpeg.bytes);
  EXPECT_EQ(j->ctx->raw_image_count, 0);
  // The 3320AF with big-endian samples becomes ISG, named by its size.
  std::vector<uint8_t> isg(6291456);
  for (size_t i = 0x300000; i + 1 < isg.size(); i += 2) {
    const unsigned v = 300 + (i / 2) % 7;
    isg[i] = uint8_t(v >> 8), isg[i + 1] = uint8_t(v);
  }
  auto r = Probe(isg);
  EXPECT_STREQ(r->ctx->camera_make, "ISG");
  EXPECT_STREQ(r->ctx->camera_model, "2020x1520");
  EXPECT_EQ(r->ctx->top_margin, 16);
  EXPECT_EQ(r->ctx->left_margin, 28);
  // Orientation of a file that is not raw comes from its directory.
  EXPECT_EQ(j->ctx->orientation_flags, 0);
}

TEST(RawIdentify, HostileGeometryIsRefusedBeforeAllocation) {
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
  } cases[] = {
      // A fixed visible size beyond the stored rows.
      {"window outside the sensor", [] { return CameraTiff("Canon", "PowerShot G1", 2144, 100); }},
      // A 17-bit sample size.
      {"17 bits",
       [] {
         TiffWriter w(true);
         TiffIfd& ifd = w.NewIfd(true);
         ifd.Image(64, 48, 17, 1, 32803, 1).Ascii(271, "Pixel").Ascii(272, "Wharf");
         ifd.Strip(std::vector<uint8_t>(64, 0));
         return w.Bytes();
       }},
      // White at black.
      {"black at white", [] {
         return CameraTiff("Pixel", "Wharf", 64, 48, 1, [](TiffWriter&, TiffIfd& ifd) {
           ifd.Long(50717, {100}).Short(50714, {100}).Bytes(50706, 1, {1, 1, 0, 0});
         });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = Probe(c.bytes());
    EXPECT_EQ(p->ctx->raw_image_count, 0);
    EXPECT_FALSE(p->ctx->pixels);
  }
}

namespace {

// A Fuji RAF: the head, an EXIF JPEG thumbnail carrying make and model, the
// Fuji directory (sensor 100 x 120, visible 90 x 100) and, with `two`, a
// second frame named at offset 120.
std::vector<uint8_t> Raf(bool two, uint16_t rh = 100, uint16_t rw = 120, uint16_t h = 90,
                         uint16_t w = 100) {
  ByteSink f(false);
  f.Text("FUJIFILMCCD-RAW 0201FF383501");
  f.PadTo(84);
  const uint32_t thumb = 200, dir = 1000, data = 2000;
  TiffWriter exif(false);
  TiffIfd& ifd = exif.NewIfd(true);
  ifd.Ascii(271, "FUJIFILM").Ascii(272, "FinePix S5600");
  ByteSink jpeg(false);
  jpeg.U16(0xFFD8), jpeg.U16(0xFFE1), jpeg.U16(0);
  jpeg.Text(std::string("Exif\0\0", 6));
  jpeg.Raw(exif.Bytes());
  jpeg.U16(0xFFD9);
  f.U32(thumb), f.U32(uint32_t(jpeg.bytes.size()));
  f.U32(dir), f.U32(0), f.U32(data);
  f.PadTo(120);
  f.U32(two ? dir : 0);
  f.PadTo(thumb);
  f.Raw(jpeg.bytes);
  f.PadTo(dir);
  f.U32(3);
  f.U16(0x100), f.U16(4), f.U16(rh), f.U16(rw);
  f.U16(0x121), f.U16(4), f.U16(h), f.U16(w);
  f.U16(0x130), f.U16(1), f.U8(0);
  f.PadTo(data + 100 * 120 * 2 * 2);
  return f.bytes;
}

}  // namespace

TEST(RawIdentify, FujiDiagonalLayoutAndSecondFrame) {
  for (bool two : {false, true}) {
    SCOPED_TRACE(two);
    auto p = Probe(Raf(two), [](raw_decode_context* c) { c->options.shot_index = 1; });
    const raw_decode_context& c = *p->ctx;
    EXPECT_STREQ(c.camera_make, "FUJIFILM");
    EXPECT_STREQ(c.camera_model, "FinePix S5600");
    ASSERT_GE(c.raw_image_count, 1);
    EXPECT_TRUE(c.raw_loader == fuji_load_raw);
    EXPECT_EQ(c.top_margin, 5);
    EXPECT_EQ(c.left_margin, 10);
    EXPECT_EQ(c.fuji_diagonal_width, 50);
    EXPECT_EQ(c.image_width, 140);
    EXPECT_EQ(c.image_height, 139);
    EXPECT_EQ(c.sensor_height, 90);
    EXPECT_EQ(c.cfa_pattern, 0x4B4B4B4Bu);
    // The second frame follows the first: rh x rw x 2 bytes further on.
    EXPECT_EQ(c.raw_data_offset, two ? 2000u + 100 * 120 * 2 : 2000u);
    EXPECT_EQ(c.white_level, two ? 0x2F00u : 0x3E00u);
  }
  // A turned width beyond 16 bits (60000 rows + 10000) is refused.
  auto wide = Probe(Raf(false, 60010, 20010, 60000, 20000));
  EXPECT_EQ(wide->ctx->raw_image_count, 0);
  // A second frame beyond the file is refused.
  std::vector<uint8_t> cut = Raf(true);
  cut.resize(2000 + 100);
  auto p = Probe(cut, [](raw_decode_context* c) { c->options.shot_index = 1; });
  EXPECT_EQ(p->ctx->raw_image_count, 0);
}

TEST(RawIdentify, SideJpegOnlyForRowsThatNameOne) {
  // A Nikon E950 known by its size looks for the JPEG beside it; a Sinar
  // back known by any of its three sizes has none to look for.
  struct Case {
    size_t size;
    const char* make;
    bool looks;
  } cases[] = {{2465792, "NIKON", true},
               {12582980, "Sinar", false},
               {33292868, "Sinar", false},
               {44390468, "Sinar", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make);
    auto p = Probe(SizedFile(c.size), [](raw_decode_context* ctx) {
      ctx->message_name = "/nonexistent/DSCN0001.RAW";
    });
    EXPECT_STREQ(p->ctx->camera_make, c.make);
    EXPECT_EQ(p->ctx->message_log.find("Failed to read metadata") != std::string::npos, c.looks)
        << p->ctx->message_log;
  }
}

TEST(RawIdentify, ComplementaryCamerasWithoutMatrixKeepCameraColours) {
  // These reach the output conversion as four complementary colours without
  // a matrix, where a fixed approximation makes red, green and blue of them.
  for (size_t size : {size_t(2465792), size_t(5865472), size_t(7438336)}) {
    SCOPED_TRACE(size);
    auto p = Probe(SizedFile(size));
    EXPECT_GE(p->ctx->raw_image_count, 1);
    EXPECT_EQ(p->ctx->colour_count, 4);
    EXPECT_STREQ(p->ctx->colour_letters, "GMCY");
    EXPECT_EQ(p->ctx->raw_colour_flag, 1);
  }
}

// The probes that tell cameras apart by their data, each at the edge of its
// rule: the E995 by the byte values of its last 2000 bytes, the E2100 by 1024
// groups of 12 bytes from the start, the E3700 family by two bytes at 3072,
// the DiMAGE Z2 by the non-zero bytes of its last 424, the uncompressed D100
// by the bytes 15, 31, ... 255 of its data.
TEST(RawIdentify, ProbesThatReadTheData) {
  auto tail_values = [](size_t size, std::vector<std::pair<uint8_t, int>> counts) {
    std::vector<uint8_t> b(size, 0x11);
    size_t at = size - 2000;
    for (auto [value, n] : counts)
      for (int i = 0; i < n; ++i) b[at++] = value;
    return b;
  };
  auto e2100 = [](int broken_group) {
    std::vector<uint8_t> b(2940928, 0x33);
    if (broken_group >= 0) b[size_t(broken_group) * 12 + 1] = 0x30;
    return b;
  };
  auto e3700 = [](int key) {
    std::vector<uint8_t> b(4775936, 0);
    b[3072 + 8] = uint8_t(key >> 4);
    b[3072 + 20] = uint8_t(key & 3);
    return b;
  };
  auto z2 = [](int nonzero) {
    std::vector<uint8_t> b(5869568, 0);
    for (int i = 0; i < nonzero; ++i) b[b.size() - 424 + size_t(i) * 20] = 7;
    return b;
  };
  auto d100 = [](size_t marked) {
    TiffWriter w(true);
    TiffIfd& ifd = w.NewIfd(true);
    ifd.Image(3034, 2024, 12, 34713, 32803, 1).Ascii(271, "NIKON CORPORATION").Ascii(272, "NIKON D100");
    std::vector<uint8_t> strip(4096, 0);
    strip[marked] = 1;
    ifd.Strip(strip);
    return w.Bytes();
  };
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    const char* make;
    const char* model;
    raw_load_fn loader;  // null: not looked at
  } cases[] = {
      {"E995: 200 of each", [&] { return tail_values(4771840, {{0, 200}, {0x55, 200}, {0xAA, 200}, {0xFF, 200}}); },
       "NIKON", "E995", nullptr},
      {"E990: 199 of one", [&] { return tail_values(4771840, {{0, 200}, {0x55, 200}, {0xAA, 200}, {0xFF, 199}}); },
       "NIKON", "E990", nullptr},
      {"E2100: every group passes", [&] { return e2100(-1); }, "NIKON", "E2100", nullptr},
      {"E2500: the 1024th group fails", [&] { return e2100(1023); }, "NIKON", "E2500", nullptr},
      {"key 0x00", [&] { return e3700(0x00); }, "PENTAX", "Optio 33WR", nullptr},
      {"key 0x03", [&] { return e3700(0x03); }, "NIKON", "E3200", nullptr},
      {"key 0x32", [&] { return e3700(0x32); }, "NIKON", "E3700", nullptr},
      {"key 0x33", [&] { return e3700(0x33); }, "OLYMPUS", "C740UZ", nullptr},
      {"key 0x12: no change", [&] { return e3700(0x12); }, "NIKON", "E3700", nullptr},
      {"Z2: 21 non-zero", [&] { return z2(21); }, "Minolta", "DiMAGE Z2", nullptr},
      {"E4300: 20 non-zero", [&] { return z2(20); }, "NIKON", "E4300", nullptr},
      {"D100 compressed: byte 255 set", [&] { return d100(255); }, "NIKON", "D100", nikon_compressed_load_raw},
      {"D100 compressed: byte 15 set", [&] { return d100(15); }, "NIKON", "D100", nikon_compressed_load_raw},
      {"D100 uncompressed: byte 254 set", [&] { return d100(254); }, "NIKON", "D100", packed_12bit_load_raw},
      {"D100 uncompressed: byte 256 set", [&] { return d100(256); }, "NIKON", "D100", packed_12bit_load_raw},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = Probe(c.bytes());
    EXPECT_STREQ(p->ctx->camera_make, c.make);
    EXPECT_STREQ(p->ctx->camera_model, c.model);
    if (c.loader) {
      EXPECT_TRUE(p->ctx->raw_loader == c.loader);
    }
  }
}
