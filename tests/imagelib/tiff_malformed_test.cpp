// Damaged and hostile TIFF files: each must fail cleanly (or decode what it
// can) without reading or writing out of bounds, allocating without bound or
// looping. Run in the sanitizer build too.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "imagelib/PxImageTIF.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

// A little-endian TIFF with one directory: 8-byte header, the pixel data,
// then the directory. Tags given by the case override the defaults.
struct Tag {
  uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL
  std::vector<uint32_t> values;
};

std::vector<uint8_t> BuildTiff(std::map<uint16_t, Tag> tags, const std::vector<uint8_t>& pixels,
                               uint32_t nextDirectory = 0) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  for (uint8_t b : pixels) out.push_back(b);
  if (out.size() % 2) out.push_back(0);
  tags.try_emplace(273, Tag{4, {8}});
  tags.try_emplace(279, Tag{4, {static_cast<uint32_t>(pixels.size())}});
  auto put16 = [&](std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(x & 255);
    v.push_back((x >> 8) & 255);
  };
  auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
  };
  const uint32_t ifd = static_cast<uint32_t>(out.size());
  out[4] = ifd & 255;
  out[5] = (ifd >> 8) & 255;
  out[6] = (ifd >> 16) & 255;
  out[7] = ifd >> 24;
  std::vector<uint8_t> extra;
  const uint32_t extraStart = ifd + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
  std::vector<uint8_t> dir;
  put16(dir, static_cast<uint32_t>(tags.size()));
  for (const auto& [id, tag] : tags) {
    put16(dir, id);
    put16(dir, tag.type);
    put32(dir, static_cast<uint32_t>(tag.type == 5 ? tag.values.size() / 2 : tag.values.size()));
    std::vector<uint8_t> data;
    for (uint32_t v : tag.values) {
      if (tag.type == 3)
        put16(data, v);
      else
        put32(data, v);
    }
    if (data.size() <= 4) {
      data.resize(4, 0);
      dir.insert(dir.end(), data.begin(), data.end());
    } else {
      put32(dir, extraStart + static_cast<uint32_t>(extra.size()));
      extra.insert(extra.end(), data.begin(), data.end());
    }
  }
  put32(dir, nextDirectory);
  out.insert(out.end(), dir.begin(), dir.end());
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

std::map<uint16_t, Tag> GreyTags(uint32_t w, uint32_t h, uint32_t bits = 8) {
  return {{256, {4, {w}}}, {257, {4, {h}}}, {258, {3, {bits}}}, {259, {3, {1}}},
          {262, {3, {1}}}, {277, {3, {1}}}, {278, {4, {h}}}};
}

struct DecodeResult {
  bool ok;
  std::string error;
  uint32_t width, height;
  bool damaged;
};

DecodeResult Decode(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> copy = bytes;
  PxMemFile file(copy.data(), static_cast<int32_t>(copy.size()));
  PxImage image;
  const bool ok = image.Decode(&file, kFormatTif);
  return {ok, image.LastError(), image.Width(), image.Height(), image.info.bDamaged};
}

struct MalformedCase {
  const char* name;
  std::vector<uint8_t> bytes;
  bool ok;
  const char* error;  // expected last-error text, or null for any
  bool damaged = false;  // decoded, with rows that could not be read left black
};

std::vector<MalformedCase> Cases() {
  std::vector<MalformedCase> cases;
  const std::vector<uint8_t> pixels(8 * 4, 0x80);
  cases.push_back({"good", BuildTiff(GreyTags(8, 4), pixels), true, nullptr});
  {
    auto t = GreyTags(8, 4);
    t[256] = {4, {0}};
    cases.push_back({"zero_width", BuildTiff(t, pixels), false, nullptr});
  }
  {
    auto t = GreyTags(100000, 100000);
    cases.push_back({"over_memory_limit", BuildTiff(t, pixels), false, "PxImageTIF can't create image"});
  }
  {
    auto t = GreyTags(8, 4, 33);
    cases.push_back({"bits_33", BuildTiff(t, pixels), false, nullptr});
  }
  {
    auto t = GreyTags(8, 4, 4);
    t[277] = {3, {2}};
    cases.push_back({"two_samples_of_4_bits", BuildTiff(t, pixels), false, "Unsupported TIFF sample layout"});
  }
  {
    auto t = GreyTags(8, 4);
    t[277] = {3, {3}};
    t[258] = {3, {8, 8, 8}};
    t[262] = {3, {8}};
    t[284] = {3, {2}};  // planes one after the other: interleaved before the Lab loop
    cases.push_back({"planar_lab", BuildTiff(t, pixels), true, "Corrupted TIFF file!", true});  // planes cut short
  }
  {
    auto t = GreyTags(8, 4);
    t[262] = {3, {3}};  // palette without a colour map
    cases.push_back({"palette_without_map", BuildTiff(t, pixels), true, nullptr});  // libtiff takes it as grey
  }
  {
    auto t = GreyTags(8, 4);
    t[273] = {4, {0x7FFFFF00}};  // strip far beyond the end
    cases.push_back({"strip_past_end", BuildTiff(t, pixels), true, "Corrupted TIFF file!", true});
  }
  {
    auto t = GreyTags(8, 4);
    t[279] = {4, {0xFFFFFFF0}};  // claims a huge strip
    cases.push_back({"huge_strip_count", BuildTiff(t, pixels), true, nullptr});
  }
  {
    auto t = GreyTags(8, 4);
    // A byte count shorter than the picture: libtiff sees that it looks
    // wrong for an uncompressed page, estimates it from the file and reads
    // the whole strip.
    t[279] = {4, {5}};
    cases.push_back({"short_strip_count", BuildTiff(t, pixels), true, nullptr});
  }
  {
    auto t = GreyTags(50, 3, 12);  // 12-bit samples, not byte aligned
    cases.push_back({"odd_bits_short_data", BuildTiff(t, std::vector<uint8_t>(20, 0xAB)), true,
                     "Corrupted TIFF file!", true});
  }
  {
    auto t = GreyTags(40, 40);
    t.erase(273);
    t.erase(279);
    t.erase(278);
    t[322] = {4, {0}};  // tile width 0
    t[323] = {4, {16}};
    t[324] = {4, {8}};
    t[325] = {4, {32}};
    cases.push_back({"tile_width_zero", BuildTiff(t, pixels), false, nullptr});
  }
  {
    auto t = GreyTags(40, 40);
    t.erase(273);
    t.erase(279);
    t.erase(278);
    t[322] = {4, {16}};
    t[323] = {4, {16}};
    t[324] = {4, {8, 8, 8, 8, 8, 8, 8, 8, 8}};
    t[325] = {4, {32, 32, 32, 32, 32, 32, 32, 32, 32}};  // tiles far too short
    cases.push_back({"short_tiles", BuildTiff(t, pixels), true, "Corrupted tiled TIFF file!", true});
  }
  {
    // A 40x40 picture whose one tile would need 768 MiB before a byte of it
    // is read: refused, not allocated.
    auto t = GreyTags(40, 40);
    t.erase(273);
    t.erase(279);
    t.erase(278);
    t[277] = {3, {3}};
    t[258] = {3, {8, 8, 8}};
    t[262] = {3, {2}};
    t[322] = {4, {16384}};
    t[323] = {4, {16384}};
    t[324] = {4, {8}};
    t[325] = {4, {32}};
    cases.push_back({"huge_tile", BuildTiff(t, pixels), false, "PxImageTIF can't allocate memory"});
  }
  {
    // The next-directory link points back at the first directory.
    auto bytes = BuildTiff(GreyTags(8, 4), pixels);
    const uint32_t ifd = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    cases.push_back({"directory_loop", BuildTiff(GreyTags(8, 4), pixels, ifd), true, nullptr});
  }
  {
    auto t = GreyTags(8, 4, 16);
    t[262] = {3, {3}};
    t[320] = {3, std::vector<uint32_t>(3 * 65536, 0x1234)};
    cases.push_back({"large_palette", BuildTiff(t, std::vector<uint8_t>(64, 0xFF)), true, nullptr});
  }
  for (uint32_t samples : {1u, 3u}) {
    // Strip lists half as long as the rows need: libtiff fills the rest
    // with offset 0, the file's own header. The strips listed are read, the
    // rest of the picture is damaged (grey through our rows, RGB after
    // libtiff's RGBA reader refused it).
    const uint32_t w = 45, h = 1000, rows = 10, listed = 50, stripBytes = w * rows * samples;
    auto t = GreyTags(w, h);
    t[278] = {4, {rows}};
    if (samples == 3) {
      t[277] = {3, {3}};
      t[258] = {3, {8, 8, 8}};
      t[262] = {3, {2}};
    }
    std::vector<uint32_t> offsets, counts;
    for (uint32_t i = 0; i < listed; ++i) {
      offsets.push_back(8 + i * stripBytes);
      counts.push_back(stripBytes);
    }
    t[273] = {4, offsets};
    t[279] = {4, counts};
    cases.push_back({samples == 1 ? "short_strip_list" : "short_strip_list_rgb",
                     BuildTiff(t, std::vector<uint8_t>(size_t{stripBytes} * listed, 0x55)), true,
                     "Corrupted TIFF file!", true});
  }
  cases.push_back({"not_tiff", {'I', 'I', 43, 0, 8, 0, 0, 0}, false, "Error encountered while opening TIFF file"});
  cases.push_back({"empty", {}, false, "Error encountered while opening TIFF file"});
  return cases;
}

TEST(TiffMalformed, EachCaseEndsCleanly) {
  for (const MalformedCase& c : Cases()) {
    const DecodeResult r = Decode(c.bytes);
    EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.error;
    EXPECT_EQ(r.damaged, c.damaged) << c.name << ": " << r.error;
    if (c.error) {
      EXPECT_EQ(r.error, c.error) << c.name;
    }
  }
}

TEST(TiffMalformed, LargePaletteMapsSixteenBitIndices) {
  auto t = GreyTags(2, 1, 16);
  t[262] = {3, {3}};
  std::vector<uint32_t> map(3 * 65536, 0);
  map[300] = 65535;  // red of entry 300
  t[320] = {3, map};
  const std::vector<uint8_t> pixels = {0x2C, 0x01, 0x00, 0x00};  // 300, 0
  std::vector<uint8_t> bytes = BuildTiff(t, pixels);
  PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
  PxImage image;
  ASSERT_TRUE(image.Decode(&file, kFormatTif)) << image.LastError();
  EXPECT_EQ(image.Bpp(), 24u);
  EXPECT_EQ(image.PixelColorAt(0, 0, false).rgbRed, 255);
  EXPECT_EQ(image.PixelColorAt(1, 0, false).rgbRed, 0);
}

// A colour map whose values all fit in a byte is taken as byte values; one
// with larger values is scaled from 16 bits.
TEST(TiffPalette, ByteSizedMapsAreTakenAsBytes) {
  for (const bool wide : {false, true}) {
    auto t = GreyTags(2, 1, 8);
    t[262] = {3, {3}};
    std::vector<uint32_t> map(3 * 256, 0);
    map[1] = wide ? 65535 : 200;          // red of entry 1
    map[512 + 1] = wide ? 32896 : 100;    // blue of entry 1
    t[320] = {3, map};
    std::vector<uint8_t> bytes = BuildTiff(t, {1, 0});
    PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
    PxImage image;
    ASSERT_TRUE(image.Decode(&file, kFormatTif)) << image.LastError();
    const RGBQUAD c = image.PixelColorAt(0, 0, false);
    EXPECT_EQ(c.rgbRed, wide ? 255 : 200);
    EXPECT_EQ(c.rgbBlue, wide ? 128 : 100);
  }
}

// A file cut off inside its pixel data decodes alike whether its rows are
// stored in strips or in tiles: the rows before the cut as written, the
// rest black, and the decode marked damaged with the text saying so.
TEST(TiffDamage, CutStripsAndTilesAreDamagedAlike) {
  pwtest::TempTree dir;
  constexpr int kSide = 64;
  std::string pgm = "P5 64 64 255\n";
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) pgm.push_back(static_cast<char>((x * 4 + y) & 255));
  {
    FILE* f = std::fopen((dir / "g.pgm").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(pgm.data(), 1, pgm.size(), f);
    std::fclose(f);
  }
  // GDAL writes the directory first and the blocks in row order, 8 strips
  // of 8 rows or 4 bands of 4 tiles of 16 x 16: half the blocks hold the
  // top 32 rows.
  struct Layout {
    const char* name;
    const char* options;
    const char* text;
  } layouts[] = {
      {"strips", "-co BLOCKYSIZE=8", "Corrupted TIFF file!"},
      {"tiles", "-co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16", "Corrupted tiled TIFF file!"},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::string tif = dir / (std::string(layout.name) + ".tif");
    ASSERT_TRUE(Sh(std::string("gdal_translate -q ") + layout.options + " " + Quote(dir / "g.pgm") + " " +
                   Quote(tif)));
    const std::string whole = pwtest::ReadAll(tif);
    const size_t dataStart = whole.size() - kSide * kSide;
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(dataStart + kSide * kSide / 2));
    PxMemFile file(cut.data(), static_cast<int32_t>(cut.size()));
    PxImage image;
    ASSERT_TRUE(image.Decode(&file, kFormatTif)) << image.LastError();
    EXPECT_TRUE(image.info.bDamaged);
    EXPECT_STREQ(image.LastError(), layout.text);
    ASSERT_EQ(image.Width(), 64u);
    ASSERT_EQ(image.Height(), 64u);
    int wrong = 0;
    for (int row = 0; row < kSide; ++row) {
      for (int x = 0; x < kSide; ++x) {
        const int expected = row < kSide / 2 ? (x * 4 + row) & 255 : 0;
        wrong += image.PixelIndexAt(x, kSide - 1 - row) != expected;
      }
    }
    EXPECT_EQ(wrong, 0);

    // The whole file is not damaged.
    std::vector<uint8_t> all(whole.begin(), whole.end());
    PxMemFile wholeFile(all.data(), static_cast<int32_t>(all.size()));
    PxImage good;
    ASSERT_TRUE(good.Decode(&wholeFile, kFormatTif)) << good.LastError();
    EXPECT_FALSE(good.info.bDamaged);
  }
}

// A page whose data ends early is put upright by moving only the rows that
// arrived: it must come out exactly as the whole damaged picture turned and
// mirrored by the container's own transforms.
TEST(TiffDamage, OrientationOfAPartlyReadPageMovesOnlyItsRows) {
  constexpr uint32_t kW = 37, kH = 29, kRowsPerStrip = 4, kStrips = (kH + kRowsPerStrip - 1) / kRowsPerStrip;
  for (uint32_t bits : {1u, 4u, 8u}) {
    SCOPED_TRACE(bits);
    const uint32_t rowBytes = (kW * bits + 7) / 8, stripBytes = rowBytes * kRowsPerStrip;
    std::vector<uint8_t> pixels(size_t{stripBytes} * 4);  // the first four strips only
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 97 + 13);
    std::vector<uint32_t> offsets, counts;
    for (uint32_t k = 0; k < kStrips; ++k) {
      offsets.push_back(k < 4 ? 8 + k * stripBytes : 0x7FFFFF00u);  // the rest lie past the end
      counts.push_back(stripBytes);
    }
    auto decode = [&](uint32_t orientation, PxImage& image) {
      auto tags = GreyTags(kW, kH, bits);
      tags[278] = {4, {kRowsPerStrip}};
      tags[273] = {4, offsets};
      tags[279] = {4, counts};
      tags[274] = {3, {orientation}};
      std::vector<uint8_t> bytes = BuildTiff(tags, pixels);
      PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
      return image.Decode(&file, kFormatTif);
    };
    PxImage stored;
    ASSERT_TRUE(decode(1, stored)) << stored.LastError();
    ASSERT_TRUE(stored.IsDamaged());
    for (uint32_t orientation = 2; orientation <= 8; ++orientation) {
      SCOPED_TRACE(orientation);
      PxImage expected(stored, true);
      switch (orientation) {
        case 2: expected.FlipHorizontal(); break;
        case 3: expected.Turn180(); break;
        case 4: expected.FlipVertical(); break;
        case 5: expected.TurnRight(); expected.FlipHorizontal(); break;
        case 6: expected.TurnRight(); break;
        case 7: expected.TurnLeft(); expected.FlipHorizontal(); break;
        default: expected.TurnLeft(); break;
      }
      PxImage image;
      ASSERT_TRUE(decode(orientation, image)) << image.LastError();
      EXPECT_TRUE(image.IsDamaged());
      ASSERT_EQ(image.Width(), expected.Width());
      ASSERT_EQ(image.Height(), expected.Height());
      ASSERT_EQ(image.Bpp(), expected.Bpp());
      int wrong = 0;
      for (int32_t y = 0; y < int32_t(image.Height()); ++y)
        for (int32_t x = 0; x < int32_t(image.Width()); ++x)
          wrong += image.PixelIndexAt(x, y) != expected.PixelIndexAt(x, y);
      EXPECT_EQ(wrong, 0);
      EXPECT_EQ(image.PaletteSize(), expected.PaletteSize());
    }
  }
}

// libtiff's RGBA reader (RGB, YCbCr and CMYK pages) steps over a strip it
// cannot decode and still reports success: such a decode must be marked
// damaged all the same, or a tool could write it over its original.
TEST(TiffDamage, RgbaRoadMarksCutFilesDamaged) {
  pwtest::TempTree dir;
  WritePpm(dir / "c.ppm", 64, 64);
  ASSERT_TRUE(Sh("gdal_translate -q -b 1 -b 2 -b 3 -b 1 " + Quote(dir / "c.ppm") + " " + Quote(dir / "c4.tif")));
  struct Layout {
    const char* name;
    const char* source;
    const char* options;
  } layouts[] = {
      {"rgb", "c.ppm", "-co PHOTOMETRIC=RGB -co BLOCKYSIZE=8"},
      {"ycbcr_jpeg", "c.ppm", "-co PHOTOMETRIC=YCBCR -co COMPRESS=JPEG -co BLOCKYSIZE=16"},
      {"cmyk_lzw", "c4.tif", "-co PHOTOMETRIC=CMYK -co COMPRESS=LZW -co BLOCKYSIZE=8"},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::string tif = dir / (std::string(layout.name) + ".tif");
    ASSERT_TRUE(Sh(std::string("gdal_translate -q ") + layout.options + " " + Quote(dir / layout.source) + " " +
                   Quote(tif)));
    const std::string whole = pwtest::ReadAll(tif);
    std::vector<uint8_t> all(whole.begin(), whole.end());
    PxMemFile wholeFile(all.data(), static_cast<int32_t>(all.size()));
    PxImage good;
    ASSERT_TRUE(good.Decode(&wholeFile, kFormatTif)) << good.LastError();
    EXPECT_FALSE(good.info.bDamaged);

    // GDAL writes the directory first and the strips after it in row
    // order: cutting the file in the last quarter loses the bottom strips.
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 3 / 4));
    PxMemFile file(cut.data(), static_cast<int32_t>(cut.size()));
    PxImage image;
    ASSERT_TRUE(image.Decode(&file, kFormatTif)) << image.LastError();
    EXPECT_TRUE(image.info.bDamaged);
    EXPECT_STREQ(image.LastError(), "Corrupted TIFF file!");
    ASSERT_EQ(image.Width(), 64u);
    ASSERT_EQ(image.Height(), 64u);
    // The top rows came through as in the whole file.
    int wrong = 0;
    for (int y = 48; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const RGBQUAD a = image.PixelColorAt(x, y, false), b = good.PixelColorAt(x, y, false);
        wrong += a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue;
      }
    EXPECT_EQ(wrong, 0);
  }
}

// Every prefix of real files written by GDAL (stripped LZW and tiled
// Deflate) either decodes or fails, and never reads past the data it has.
TEST(TiffMalformed, EveryTruncationEndsCleanly) {
  pwtest::TempTree dir;
  WritePgm(dir / "g.pgm", 20, 12, 255);
  WritePpm(dir / "c.ppm", 20, 12);
  ASSERT_TRUE(Sh("gdal_translate -q -co COMPRESS=LZW " + Quote(dir / "g.pgm") + " " + Quote(dir / "a.tif")));
  ASSERT_TRUE(Sh("gdal_translate -q -co COMPRESS=DEFLATE -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 " +
                 Quote(dir / "c.ppm") + " " + Quote(dir / "b.tif")));
  for (const char* name : {"a.tif", "b.tif"}) {
    const std::string whole = pwtest::ReadAll(dir / name);
    ASSERT_FALSE(whole.empty());
    for (size_t n = 0; n <= whole.size(); ++n) {
      // Copied into a buffer of exactly n bytes, so a read past it is caught.
      std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(n));
      const DecodeResult r = Decode(part);
      if (n == whole.size()) {
        EXPECT_TRUE(r.ok) << name;
      }
    }
  }
}

}  // namespace
