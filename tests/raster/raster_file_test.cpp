#include "raster/RasterFile.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "raster/StretchTable.h"
#include "fixtures.h"

namespace {

using pw::RasterFile;
using pwtest::ScratchDir;

// The table the stretch rule gives for a list of samples, worked out here
// from the rule's wording with integer counts: 0.1 % of the non-zero
// samples cut at each end (65535 counted in the total only).
std::vector<uint8_t> ExpectedTable(const std::vector<uint16_t>& samples) {
  std::vector<double> count(65536, 0);
  for (uint16_t v : samples) count[v] += 1;
  double total = 0;
  for (int v = 1; v < 65536; ++v) total += count[v];
  int low = 1, high = 65535;
  if (total == 0) {
    high = 65534;
  } else {
    double below = 0;
    for (int v = 1; v < 65536; ++v) {
      below += count[v];
      if ((below + 0.0001) / total > 0.001) { low = v; break; }
    }
    double above = 0;
    for (int v = 65534; v >= 1; --v) {
      above += count[v];
      if ((above + 0.0001) / total > 0.001) { high = v; break; }
    }
  }
  std::vector<uint8_t> t(65536);
  for (int v = 0; v < 65536; ++v) {
    if (v == 0) t[v] = 0;
    else if (v > high) t[v] = 254;
    else if (v < low) t[v] = 1;
    else if (high == low) t[v] = uint8_t(std::clamp(int(std::lround(v / 257.0)), 1, 254));
    else t[v] = uint8_t(std::clamp(int(std::floor((v - low) * 251.0 / (high - low) + 2)), 1, 253));
  }
  return t;
}

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RasterFileNames, DriverByExtensionLeavesThePathAlone) {
  const struct { const char* path; const char* driver; } cases[] = {
      {"/d/a.bmp", "BMP"}, {"/d/a.JPG", "JPEG"}, {"/d/a.jpeg", "JPEG"}, {"/d/a.png", "PNG"},
      {"/d/a.TIF", "GTiff"}, {"/d/a.gif", "GIF"}, {"/d/a.img", "HFA"}, {"/d/a.bt", "BT"},
      {"/d/a.ecw", "ECW"}, {"/d/a.fits", "FITS"}, {"/d/a.hdf", "HDF4"}, {"/d/a.hdr", "EHdr"},
      {"/d/a.tiff", nullptr}, {"/d/noext", nullptr}, {"/d/a.", nullptr}, {"", nullptr},
  };
  for (const auto& c : cases) {
    const std::string path = c.path;
    const char* got = pw::DriverNameFromExtension(path);
    if (c.driver) {
      ASSERT_NE(got, nullptr) << c.path;
      EXPECT_STREQ(got, c.driver) << c.path;
    } else {
      EXPECT_EQ(got, nullptr) << c.path;
    }
    EXPECT_EQ(path, c.path);
  }
  EXPECT_EQ(pw::StretchTablePath("/d/a.tif"), "/d/a.tif.czb");
  const int bytes[] = {0, 1, 2, 2, 4, 4, 4, 8, 0, 0, 0, 0, 0};
  for (int t = 0; t < 13; ++t) EXPECT_EQ(pw::BytesPerSample(t), bytes[t]) << t;
}

TEST(RasterFileOpen, SizesTypeAndExtent) {
  ScratchDir dir;
  const std::string geo = dir.File("geo.tif"), plain = dir.File("plain.tif");
  pwtest::WriteRaster(geo, 40, 30, 3, GDT_Int16, [](int, int, int) { return -3; }, "GTiff",
                      {1000.0, 2.5, 0, 5000.0, 0, -2.5});
  pwtest::WriteRaster(plain, 7, 5, 1, GDT_Float32, [](int, int, int) { return 0.5; });

  RasterFile f;
  EXPECT_EQ(f.Width(), -1);
  EXPECT_EQ(f.PixelSize(), 1.0);
  const bool stretch = true;
  ASSERT_TRUE(f.Open(geo, stretch));
  EXPECT_FALSE(f.Open(geo, stretch)) << "a second open without Close";
  EXPECT_EQ(f.Width(), 40);
  EXPECT_EQ(f.Height(), 30);
  EXPECT_EQ(f.BandCount(), 3);
  EXPECT_EQ(f.DataType(), GDT_Int16);
  EXPECT_EQ(f.BytesPerPixel(), 6);
  EXPECT_DOUBLE_EQ(f.Left(), 1000.0);
  EXPECT_DOUBLE_EQ(f.Top(), 5000.0);
  EXPECT_DOUBLE_EQ(f.Right(), 1100.0);
  EXPECT_DOUBLE_EQ(f.Bottom(), 4925.0);
  EXPECT_TRUE(f.StretchActive());
  f.Close();
  EXPECT_EQ(f.Path(), "");
  EXPECT_EQ(f.Width(), 40) << "sizes keep their values after Close";

  ASSERT_TRUE(f.Open(plain, stretch));
  EXPECT_FALSE(f.StretchActive()) << "floating point has no stretch";
  EXPECT_DOUBLE_EQ(f.Right(), 7);
  EXPECT_DOUBLE_EQ(f.Bottom(), -5);
  EXPECT_FALSE(pwtest::Exists(pw::StretchTablePath(plain)));
  f.Close();

  EXPECT_FALSE(f.Open(dir.File("missing.tif"), stretch));
  EXPECT_EQ(f.Path(), dir.File("missing.tif"));
}

TEST(RasterFileOpen, UnsupportedSampleTypesAreRefused) {
  ScratchDir dir;
  for (int type : {int(GDT_CInt16), int(GDT_CFloat32), int(GDT_Int64), int(GDT_UInt64)}) {
    const std::string path = dir.File("t" + std::to_string(type) + ".tif");
    pwtest::WriteRaster(path, 4, 4, 1, type, [](int, int, int) { return 1; });
    RasterFile f;
    const bool stretch = false;
    EXPECT_FALSE(f.Open(path, stretch)) << type;
    EXPECT_FALSE(f.LastError().empty());
    EXPECT_FALSE(f.IsOpen());
  }
}

TEST(StretchTable, MatchesTheRuleForShapedConstantAndEmptyBands) {
  ScratchDir dir;
  const std::string path = dir.File("shaped.tif");
  const int w = 300, h = 200;
  // Band 1: a skewed ramp with a few outliers at both ends; band 2: one
  // value and zeros; band 3: zeros only; band 4: mostly 65535.
  auto sample = [&](int x, int t, int b) -> double {
    switch (b) {
      case 0: {
        if ((x + t) % 997 == 0) return 60000;
        if ((x * 7 + t) % 1499 == 0) return 3;
        return 500 + (x * x / 40) + t * 3;
      }
      case 1: return (x % 3 == 0) ? 0 : 1234;
      case 2: return 0;
      default: return (x == 5 && t < 20) ? 100 : 65535;
    }
  };
  pwtest::WriteRaster(path, w, h, 4, GDT_UInt16, sample);

  std::vector<uint8_t> tables;
  ASSERT_TRUE(pw::BuildStretchTables(path, 5000, tables));
  ASSERT_EQ(tables.size(), size_t(4 * 65536));
  for (int b = 0; b < 4; ++b) {
    std::vector<uint16_t> samples;
    for (int t = 0; t < h; ++t)
      for (int x = 0; x < w; ++x) samples.push_back(uint16_t(sample(x, t, b)));
    const std::vector<uint8_t> want = ExpectedTable(samples);
    const uint8_t* got = tables.data() + size_t(b) * 65536;
    int mismatches = 0;
    for (int v = 0; v < 65536; ++v) mismatches += got[v] != want[v];
    EXPECT_EQ(mismatches, 0) << "band " << b;
    for (int v = 0; v < 65536; ++v) ASSERT_NE(got[v], 255);
  }
  const uint8_t* constant = tables.data() + 65536;
  EXPECT_EQ(constant[0], 0);
  EXPECT_EQ(constant[1233], 1);
  EXPECT_EQ(constant[1234], 5) << "the single value keeps its brightness, 1234 / 257";
  EXPECT_EQ(constant[1235], 254);
  const uint8_t* empty = tables.data() + 2 * 65536;
  EXPECT_EQ(empty[1], 2) << "low = 1";
  EXPECT_EQ(empty[65534], 253) << "high = 65534";
  EXPECT_EQ(empty[65535], 254);
}

TEST(StretchTable, LargeImagesAreSubsampledToTheGrid) {
  ScratchDir dir;
  const std::string path = dir.File("wide.tif");
  ASSERT_EQ(pwtest::Run("gdal_create -q -of GTiff -ot UInt16 -outsize 6000 3000 -bands 1 -burn 7 "
                        "-co COMPRESS=DEFLATE -co TILED=YES '" + path + "'"), 0);
  RasterFile f;
  const bool stretch = false;
  ASSERT_TRUE(f.Open(path, stretch));
  std::vector<double> counts;
  ASSERT_TRUE(pw::AccumulateStretchHistogram(f, 5000, counts));
  EXPECT_EQ(counts[7], 5000.0 * 2500.0);
}

TEST(StretchSidecar, WrittenOnceReusedAndRebuiltWhenTruncated) {
  ScratchDir dir;
  const std::string path = dir.File("scene.tif");
  pwtest::WriteRaster(path, 64, 48, 3, GDT_UInt16,
                      [](int x, int t, int b) { return 100 + x * 10 + t * 5 + b * 1000; });
  const std::string sidecar = pw::StretchTablePath(path);
  const bool stretch = true;
  std::vector<uint8_t> built;
  {
    RasterFile f;
    ASSERT_TRUE(f.Open(path, stretch));
    ASSERT_EQ(pwtest::FileSize(sidecar), 3 * 65536);
    built = Slurp(sidecar);
    EXPECT_EQ(0, std::memcmp(f.StretchTable(0), built.data(), built.size()));
  }
  // A sidecar of the right size is trusted as it stands: nothing is rebuilt.
  std::vector<uint8_t> marker(3 * 65536, 77);
  std::ofstream(sidecar, std::ios::binary).write(reinterpret_cast<char*>(marker.data()), marker.size());
  {
    RasterFile f;
    ASSERT_TRUE(f.Open(path, stretch));
    EXPECT_EQ(f.StretchTable(2)[40000], 77);
    EXPECT_EQ(Slurp(sidecar), marker);
  }
  // Cut short (or from an image with fewer bands): rebuilt and rewritten.
  for (int64_t size : {int64_t(0), int64_t(1000), int64_t(65536), int64_t(4 * 65536)}) {
    std::vector<uint8_t> junk(size_t(size), 9);
    std::ofstream(sidecar, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<char*>(junk.data()), junk.size());
    RasterFile f;
    ASSERT_TRUE(f.Open(path, stretch));
    EXPECT_EQ(0, std::memcmp(f.StretchTable(0), built.data(), built.size())) << size;
    EXPECT_EQ(Slurp(sidecar), built) << size;
  }
  // An 8-bit image with the stretch requested writes nothing.
  const std::string byte = dir.File("byte.tif");
  pwtest::WriteRaster(byte, 8, 8, 1, GDT_Byte, [](int x, int, int) { return x; });
  RasterFile b;
  ASSERT_TRUE(b.Open(byte, stretch));
  EXPECT_FALSE(b.StretchActive());
  EXPECT_FALSE(pwtest::Exists(pw::StretchTablePath(byte)));
}

// A 1-band 8-bit image whose value is 10 x row-from-top + column.
class WindowRead : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("grid.tif");
    pwtest::WriteRaster(path_, 10, 8, 1, GDT_Byte, [](int x, int t, int) { return t * 10 + x; });
    const bool stretch = false;
    ASSERT_TRUE(file_.Open(path_, stretch));
  }
  ScratchDir dir_;
  std::string path_;
  RasterFile file_;
};

TEST_F(WindowRead, BottomRowComesFirst) {
  std::vector<uint8_t> buf(10 * 8, 0);
  ASSERT_EQ(file_.ReadWindow(0, 0, 10, 8, buf.data(), 10, 8, 1, 10, 8, -1), 0);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 10; ++c) ASSERT_EQ(buf[r * 10 + c], (7 - r) * 10 + c) << r << "," << c;

  // Rows 2..4 from the bottom, columns 3..6, into band position 1 of a
  // 3-sample buffer.
  std::vector<uint8_t> rgb(4 * 3 * 3, 0xEE);
  ASSERT_EQ(file_.ReadWindow(3, 2, 7, 5, rgb.data() + 1, 4, 3, 3, 4, 3, 0), 0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(rgb[(r * 4 + c) * 3 + 1], (7 - (2 + r)) * 10 + 3 + c);
      EXPECT_EQ(rgb[(r * 4 + c) * 3], 0xEE);
    }
}

TEST_F(WindowRead, WindowHalfOutsideFillsOnlyTheInside) {
  // Columns -5..4, rows -4..3: the image covers the upper-right quarter.
  std::vector<uint8_t> buf(10 * 8, 0xEE);
  ASSERT_EQ(file_.ReadWindow(-5, -4, 5, 4, buf.data(), 10, 8, 1, 10, 8, -1), 0);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 10; ++c) {
      const bool inside = r >= 4 && c >= 5;
      const int want = inside ? (7 - (r - 4)) * 10 + (c - 5) : 0xEE;
      ASSERT_EQ(buf[r * 10 + c], want) << r << "," << c;
    }
  // Half scale: 20 x 16 source pixels to 10 x 8.
  std::vector<uint8_t> half(10 * 8, 0xEE);
  ASSERT_EQ(file_.ReadWindow(-10, -8, 10, 8, half.data(), 10, 8, 1, 10, 8, -1), 0);
  EXPECT_EQ(half[0], 0xEE);
  EXPECT_NE(half[4 * 10 + 5], 0xEE);
  EXPECT_EQ(half[3 * 10 + 9], 0xEE);
}

TEST_F(WindowRead, BadWindowsAndBuffersAreRefusedUntouched) {
  std::vector<uint8_t> buf(10 * 8, 0xEE);
  const struct { int x0, y0, x1, y1, bufW, bufH, spp, outW, outH, band; } cases[] = {
      {10, 0, 12, 8, 10, 8, 1, 2, 8, -1},  // right of the image
      {0, 8, 10, 9, 10, 8, 1, 10, 1, -1},  // above it
      {-4, 0, 0, 8, 10, 8, 1, 4, 8, -1},   // left of it
      {0, -3, 10, 0, 10, 8, 1, 10, 3, -1}, // below it
      {5, 0, 3, 8, 10, 8, 1, 2, 8, -1},    // inverted
      {0, 0, 10, 8, 9, 8, 1, 10, 8, -1},   // buffer too narrow
      {0, 0, 10, 8, 10, 7, 1, 10, 8, -1},  // buffer too short
      {0, 0, 10, 8, 10, 8, 3, 10, 8, -1},  // samples differ from the band count
      {0, 0, 10, 8, 10, 8, 1, 10, 8, 1},   // no such band
      {0, 0, 10, 8, 10, 8, 0, 10, 8, 0},   // no samples
      {0, 0, 10, 8, 10, 8, 1, 0, 8, -1},   // empty output
  };
  for (const auto& c : cases) {
    EXPECT_EQ(file_.ReadWindow(c.x0, c.y0, c.x1, c.y1, buf.data(), c.bufW, c.bufH, c.spp, c.outW,
                               c.outH, c.band),
              1)
        << c.x0 << " " << c.y0 << " " << c.x1 << " " << c.y1;
  }
  EXPECT_EQ(file_.ReadWindow(0, 0, 10, 8, nullptr, 10, 8, 1, 10, 8, -1), 1);
  for (uint8_t v : buf) ASSERT_EQ(v, 0xEE);
}

TEST(StretchedRead, MapsThroughTheTablesAndKeepsBlackPixels) {
  ScratchDir dir;
  const std::string u16 = dir.File("u16.tif"), i16 = dir.File("i16.tif");
  auto value = [](int x, int t, int b) -> double {
    if (x == 0 && t == 0) return 0;  // a black pixel, all bands
    return 200 + x * 37 + t * 11 + b * 300 + (b == 1 && x == 3 ? -200 - t * 11 - 111 : 0);
  };
  pwtest::WriteRaster(u16, 16, 12, 3, GDT_UInt16, value);
  pwtest::WriteRaster(i16, 16, 12, 1, GDT_Int16, [](int x, int t, int) { return x * 100 - t * 90; });

  const bool stretch = true;
  RasterFile f;
  ASSERT_TRUE(f.Open(u16, stretch));
  std::vector<uint8_t> out(16 * 12 * 3);
  ASSERT_EQ(f.ReadWindow(0, 0, 16, 12, out.data(), 16, 12, 3, 16, 12, -1), 0);
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 16; ++c)
      for (int b = 0; b < 3; ++b) {
        const int t = 11 - r;
        const uint8_t* px = &out[(r * 16 + c) * 3];
        const uint16_t raw = uint16_t(value(c, t, b));
        const bool black = value(c, t, 0) == 0 && value(c, t, 1) == 0 && value(c, t, 2) == 0;
        ASSERT_EQ(px[b], black ? 0 : f.StretchTable(b)[raw]) << r << "," << c << "," << b;
      }
  EXPECT_EQ(out[(11 * 16) * 3], 0);

  RasterFile g;
  ASSERT_TRUE(g.Open(i16, stretch));
  std::vector<uint8_t> one(16 * 12);
  ASSERT_EQ(g.ReadWindow(0, 0, 16, 12, one.data(), 16, 12, 1, 16, 12, 0), 0);
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 16; ++c) {
      const int16_t v = int16_t(c * 100 - (11 - r) * 90);
      ASSERT_EQ(one[r * 16 + c], g.StretchTable(0)[uint16_t(v)]);
    }
  // Negative samples, read as unsigned, sit above every positive one.
  EXPECT_GT(g.StretchTable(0)[uint16_t(int16_t(-990))], g.StretchTable(0)[1500]);
}

// A whole reduced read cut into pieces of rows gives the whole read's
// pixels, with overviews in the file and without, at sizes whose row ratio
// is whole and at sizes where it is not.
TEST(ReducedRows, PiecesGiveTheWholeReadsPixels) {
  ScratchDir dir;
  const std::string plain = dir.File("plain.tif"), withOverviews = dir.File("ovr.tif");
  const auto value = [](int x, int t, int b) { return double((x * 3 + t * 7 + b * 11) % 60000); };
  for (const std::string& path : {plain, withOverviews})
    pwtest::WriteRaster(path, 600, 1000, 2, GDT_UInt16, value, "GTiff", {}, {"TILED=YES"});
  ASSERT_EQ(pwtest::Run("gdaladdo -q -r average '" + withOverviews + "' 2 3"), 0);
  const struct { int outW, outH, pieceRows; } sizes[] = {
      {300, 500, 64}, {200, 333, 50}, {600, 1000, 300}, {77, 131, 7}};
  for (const std::string& path : {plain, withOverviews}) {
    RasterFile f;
    const bool stretch = false;
    ASSERT_TRUE(f.Open(path, stretch));
    for (const auto& s : sizes) {
      SCOPED_TRACE(path + " " + std::to_string(s.outW) + "x" + std::to_string(s.outH));
      const size_t rowSamples = size_t(s.outW) * 2;
      std::vector<uint16_t> whole(rowSamples * s.outH), pieces(whole.size(), 1);
      ASSERT_EQ(f.ReadWindow(0, 0, 600, 1000, whole.data(), s.outW, s.outH, 2, s.outW, s.outH, -1), 0);
      for (int top = 0; top < s.outH; top += s.pieceRows) {
        const int rows = std::min(s.pieceRows, s.outH - top);
        ASSERT_EQ(f.ReadReducedRows(s.outW, s.outH, top, rows, pieces.data() + rowSamples * top,
                                    2, -1), 0);
      }
      // The whole read is bottom-up, the pieces top-down.
      for (int t = 0; t < s.outH; ++t)
        ASSERT_EQ(0, std::memcmp(&pieces[rowSamples * t], &whole[rowSamples * (s.outH - 1 - t)],
                                 rowSamples * 2))
            << "row " << t;
      // One band into the second sample of every pixel.
      std::vector<uint16_t> second(rowSamples * 3, 7);
      ASSERT_EQ(f.ReadReducedRows(s.outW, s.outH, 1, 3, second.data() + 1, 2, 1), 0);
      for (int c = 0; c < s.outW; ++c) {
        ASSERT_EQ(second[size_t(c) * 2], 7) << "the other sample stays";
        ASSERT_EQ(second[size_t(c) * 2 + 1], whole[rowSamples * (s.outH - 2) + size_t(c) * 2 + 1]);
      }
    }
    std::vector<uint16_t> buffer(600 * 2 * 10);
    EXPECT_EQ(f.ReadReducedRows(600, 1000, 995, 10, buffer.data(), 2, -1), 1) << "past the end";
    EXPECT_EQ(f.ReadReducedRows(600, 1000, -1, 2, buffer.data(), 2, -1), 1);
    EXPECT_EQ(f.ReadReducedRows(600, 1000, 0, 2, buffer.data(), 1, -1), 1) << "two bands";
  }
}

TEST(RasterCreate, OutputsByFormat) {
  ScratchDir dir;
  RasterFile f;
  int w = 0, h = 5, n = 1;
  EXPECT_FALSE(f.Create(dir.File("zero.tif"), w, h, n));
  EXPECT_FALSE(pwtest::Exists(dir.File("zero.tif")));
  w = 6;
  EXPECT_FALSE(f.Create(dir.File("a.tiff"), w, h, n)) << "no driver for tiff";
  EXPECT_FALSE(f.Create("", w, h, n));

  // The user's spelling of the name is kept.
  ASSERT_TRUE(f.Create(dir.File("UP.TIF"), w, h, n));
  std::vector<uint8_t> buf(6 * 5);
  for (int i = 0; i < 30; ++i) buf[i] = uint8_t(i);
  EXPECT_EQ(f.WriteWindow(0, 6, 5, buf.data(), 6, 1, 6, 5), 0);
  EXPECT_EQ(f.WriteWindow(0, 6, 5, buf.data(), 6, 3, 6, 5), 1) << "samples differ from bands";
  EXPECT_EQ(f.WriteWindow(5, 6, 6, buf.data(), 6, 1, 6, 1), 1) << "above the image";
  ASSERT_TRUE(f.CommitOutput());
  int gw = 0, gh = 0, type = 0;
  std::vector<double> got = pwtest::ReadBand(dir.File("UP.TIF"), 0, &gw, &gh, &type);
  ASSERT_EQ(got.size(), 30u);
  EXPECT_EQ(type, GDT_Byte);
  for (int t = 0; t < 5; ++t)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(got[t * 6 + x], (4 - t) * 6 + x);

  // PNG can only be copied: written through a working GeoTIFF.
  n = 3;
  RasterFile png;
  ASSERT_TRUE(png.Create(dir.File("c.png"), w, h, n));
  std::vector<uint8_t> rgb(6 * 5 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 3);
  ASSERT_EQ(png.WriteWindow(0, 6, 5, rgb.data(), 6, 3, 6, 5), 0);
  ASSERT_TRUE(png.CommitOutput());
  std::vector<double> green = pwtest::ReadBand(dir.File("c.png"), 1);
  ASSERT_EQ(green.size(), 30u);
  EXPECT_EQ(green[0], uint8_t(((4 * 6) * 3 + 1) * 3));

  // Formats that cannot take the image are refused before anything is written.
  const struct { const char* name; int bands; } refused[] = {
      {"g.gif", 3}, {"b.bmp", 2}, {"b4.bmp", 4}, {"j.jpg", 2}, {"t.bt", 1}, {"e.ecw", 1},
  };
  for (const auto& r : refused) {
    RasterFile o;
    int bands = r.bands;
    EXPECT_FALSE(o.Create(dir.File(r.name), w, h, bands)) << r.name;
    EXPECT_FALSE(o.LastError().empty()) << r.name;
    EXPECT_FALSE(pwtest::Exists(dir.File(r.name))) << r.name;
  }
}

TEST(RasterCreate, DiscardRemovesThePartialOutput) {
  ScratchDir dir;
  RasterFile f;
  int w = 6, h = 5, n = 1;
  ASSERT_TRUE(f.Create(dir.File("p.png"), w, h, n));
  f.DiscardOutput();
  EXPECT_FALSE(pwtest::Exists(dir.File("p.png")));
  ASSERT_TRUE(f.Create(dir.File("p.tif"), w, h, n));
  // Written under a hidden working name until it is committed.
  EXPECT_FALSE(pwtest::Exists(dir.File("p.tif")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
  f.DiscardOutput();
  EXPECT_FALSE(pwtest::Exists(dir.File("p.tif")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
