#include "raster/EightBitConversion.h"

#include <gdal.h>
#include <ogr_srs_api.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fixtures.h"

namespace {

using pw::BlockLayout;
using pw::EightBitConversion;
using pwtest::ScratchDir;

class RecordingProgress : public CProgressInterface {
 public:
  void BeginProgress() override {}
  void SetProgress(uint64_t done, uint64_t total) override { calls.push_back({done, total}); }
  void SetProgressText(const char*, ...) override {}
  void EndProgress() override {}
  std::vector<std::pair<uint64_t, uint64_t>> calls;
};

TEST(BlockLayout, SizesFromAvailableMemory) {
  constexpr uint64_t GiB = uint64_t(1) << 30;
  const struct {
    uint64_t available;
    int width, height, bpp;
    bool ok;
    int rows, count;
  } cases[] = {
      // Unknown memory: one block of at most 16 MiB.
      {0, 1000, 100000, 2, true, 8388, 1},
      {0, 1000, 500, 2, true, 500, 1},
      // 10 GiB: 8 GiB usable, 1 GiB blocks, two of them.
      {10 * GiB, 40000, 20000, 2, true, 13421, 2},
      // A small image takes one block whatever the memory.
      {10 * GiB, 100, 50, 3, true, 50, 1},
      // 400 MiB: half of the usable 320 MiB per block, one block.
      {400ull << 20, 10000, 100000, 1, true, 16777, 1},
      // A row wider than the unknown-memory cap cannot be converted.
      {0, 10000000, 10, 2, false, 0, 0},
      {10 * GiB, 0, 10, 2, false, 0, 0},
  };
  for (const auto& c : cases) {
    BlockLayout layout;
    EXPECT_EQ(pw::ComputeBlockLayout(c.available, c.width, c.height, c.bpp, layout), c.ok)
        << c.available << " " << c.width;
    EXPECT_EQ(layout.rowsPerBlock, c.rows) << c.available << " " << c.width;
    EXPECT_EQ(layout.blockCount, c.count) << c.available << " " << c.width;
    // Never more than a quarter of the usable memory in all blocks (or one
    // block when that is all there is).
    if (c.ok && c.available) {
      EXPECT_LE(uint64_t(layout.rowsPerBlock) * c.width * c.bpp * layout.blockCount,
                std::max<uint64_t>(c.available / 10 * 8 / 4,
                                   uint64_t(layout.rowsPerBlock) * c.width * c.bpp));
    }
  }
  EXPECT_EQ(pw::ComputeMemoryCap(0), 16u << 20);
  EXPECT_EQ(pw::ComputeMemoryCap(5), 1u << 30);
}

TEST(EightBitConversion, SixteenBitThroughTheStretchInBlocks) {
  ScratchDir dir;
  const std::string in = dir.File("a.tif"), out = dir.File("a_8.tif");
  auto value = [](int x, int t, int b) { return 300.0 + x * 17 + t * 29 + b * 500; };
  pwtest::WriteRaster(in, 50, 300, 3, GDT_UInt16, value);
  EightBitConversion cvt;
  cvt.layoutOverride = BlockLayout{100, 2};  // 300 rows: 100 + 100, then the last full block
  RecordingProgress progress;
  std::vector<int> gauge;
  std::string error;
  ASSERT_TRUE(cvt.Run(in, out, &progress, [&](int l) { gauge.push_back(l); }, error)) << error;
  EXPECT_EQ(progress.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{200, 300}, {300, 300}}));
  // The gauge gives the stretch-table pass its first third, then counts
  // rows read and rows written a third each, slice by slice.
  ASSERT_FALSE(gauge.empty());
  EXPECT_EQ(gauge.front(), 0);
  EXPECT_EQ(gauge.back(), 300);
  EXPECT_TRUE(std::is_sorted(gauge.begin(), gauge.end()));
  EXPECT_EQ(std::count(gauge.begin(), gauge.end(), 166), 1) << "two blocks read, none written";
  EXPECT_FALSE(cvt.input);

  // The sidecar was written beside the input; the output is its mapping.
  std::ifstream side(in + ".czb", std::ios::binary);
  std::vector<uint8_t> table((std::istreambuf_iterator<char>(side)), std::istreambuf_iterator<char>());
  ASSERT_EQ(table.size(), size_t(3 * 65536));
  for (int b = 0; b < 3; ++b) {
    int w = 0, h = 0, type = 0, bands = 0;
    const std::vector<double> got = pwtest::ReadBand(out, b, &w, &h, &type, &bands);
    ASSERT_EQ(w, 50);
    ASSERT_EQ(h, 300);
    ASSERT_EQ(type, GDT_Byte);
    ASSERT_EQ(bands, 3);
    for (int t = 0; t < h; ++t)
      for (int x = 0; x < w; ++x) {
        const double v = got[size_t(t) * w + x];
        ASSERT_EQ(v, table[size_t(b) * 65536 + uint16_t(value(x, t, b))]) << x << "," << t;
        ASSERT_LE(v, 254);
      }
  }
}

TEST(EightBitConversion, EightBitInputIsCopiedUnchanged) {
  ScratchDir dir;
  const std::string in = dir.File("g.tif"), out = dir.File("g_8.png");
  auto value = [](int x, int t, int) { return (x * 7 + t * 3) % 256; };
  pwtest::WriteRaster(in, 33, 21, 1, GDT_Byte, value);
  EightBitConversion cvt;
  cvt.layoutOverride = BlockLayout{5, 3};
  std::string error;
  ASSERT_TRUE(cvt.Run(in, out, nullptr, nullptr, error)) << error;
  const std::vector<double> got = pwtest::ReadBand(out, 0);
  ASSERT_EQ(got.size(), size_t(33 * 21));
  for (int t = 0; t < 21; ++t)
    for (int x = 0; x < 33; ++x) ASSERT_EQ(got[size_t(t) * 33 + x], value(x, t, 0));
  EXPECT_FALSE(pwtest::Exists(in + ".czb"));
}

TEST(EightBitConversion, FailuresAreReportedAndLeaveNoOutput) {
  ScratchDir dir;
  const std::string u16 = dir.File("s.tif"), f32 = dir.File("f.tif");
  pwtest::WriteRaster(u16, 20, 20, 3, GDT_UInt16, [](int x, int, int) { return 100 + x; });
  pwtest::WriteRaster(f32, 20, 20, 1, GDT_Float32, [](int x, int, int) { return x * 0.5; });
  const auto before = pwtest::FileSize(u16);

  const struct { std::string in, out; const char* what; } cases[] = {
      {u16, u16, "the input itself"},
      {u16, dir.Path() + "/./s.tif", "the input by another spelling"},
      {f32, dir.File("f_8.tif"), "floating-point samples"},
      {u16, dir.File("s_8.gif"), "three bands as GIF"},
      {u16, dir.File("s_8.tiff"), "no driver for the extension"},
      {u16, dir.File("s_8.hdr"), "a header name for the data"},
      {u16, dir.File("s_8.bt"), "a format without 8-bit samples"},
      {dir.File("missing.tif"), dir.File("m_8.tif"), "an input that does not open"},
  };
  for (const auto& c : cases) {
    EightBitConversion cvt;
    std::string error;
    EXPECT_FALSE(cvt.Run(c.in, c.out, nullptr, nullptr, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    if (c.out != u16 && c.out.find("/./") == std::string::npos) {
      EXPECT_FALSE(pwtest::Exists(c.out)) << c.what;
    }
  }
  EXPECT_EQ(pwtest::FileSize(u16), before);
  const std::vector<double> still = pwtest::ReadBand(u16, 0);
  ASSERT_EQ(still.size(), 400u);
  EXPECT_EQ(still[5], 105);
}

// A disk that fills up half-way (a file-size limit in a child process):
// the conversion reports failure and removes the partial output.
TEST(EightBitConversion, WriteFailureRemovesThePartialOutput) {
  ScratchDir dir;
  const std::string in = dir.File("big.tif"), out = dir.File("big_8.tif");
  pwtest::WriteRaster(in, 400, 400, 3, GDT_UInt16,
                      [](int x, int t, int b) { return 100 + (x * 31 + t * 17 + b) % 3000; });
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {100000, 100000};  // the output needs 480000 bytes
    setrlimit(RLIMIT_FSIZE, &limit);
    EightBitConversion cvt;
    cvt.layoutOverride = BlockLayout{50, 2};
    std::string error;
    const bool ok = cvt.Run(in, out, nullptr, nullptr, error);
    _exit(ok ? 10 : (error.empty() ? 11 : 12));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 12) << "10: reported success; 11: failed without a reason";
  EXPECT_FALSE(pwtest::Exists(out));
}

}  // namespace

namespace {

// Every format of the extension table that this GDAL can write, with the
// band counts it takes: the 8-bit copy opens again with the same size and,
// for the lossless formats, the same values. (".hdr" names the header of an
// EHdr raster, not its data, so GDAL cannot write one by that name; it is
// among the refused cases above.)
TEST(EightBitConversion, OutputFormatsByExtension) {
  ScratchDir dir;
  const struct { const char* ext; int bands; bool lossless; } cases[] = {
      {"tif", 4, true}, {"TIF", 2, true}, {"png", 3, true}, {"png", 2, true}, {"bmp", 1, true},
      {"bmp", 3, true}, {"gif", 1, true}, {"jpg", 3, false}, {"jpeg", 1, false},
      {"img", 2, true},
  };
  for (const auto& c : cases) {
    const std::string stem = std::string("in") + c.ext + std::to_string(c.bands);
    const std::string in = dir.File(stem + ".tif");
    const std::string out = dir.File(stem + "_8." + c.ext);
    auto value = [](int x, int t, int b) { return (x * 5 + t * 11 + b * 40) % 250 + 1; };
    pwtest::WriteRaster(in, 37, 23, c.bands, GDT_Byte, value);
    EightBitConversion cvt;
    std::string error;
    ASSERT_TRUE(cvt.Run(in, out, nullptr, nullptr, error)) << out << ": " << error;
    for (int b = 0; b < c.bands; ++b) {
      int w = 0, h = 0, bands = 0;
      const std::vector<double> got = pwtest::ReadBand(out, b, &w, &h, nullptr, &bands);
      ASSERT_EQ(w, 37) << out;
      ASSERT_EQ(h, 23) << out;
      ASSERT_EQ(bands, c.bands) << out;
      if (!c.lossless) continue;
      int wrong = 0;
      for (int t = 0; t < h; ++t)
        for (int x = 0; x < w; ++x) wrong += got[size_t(t) * w + x] != value(x, t, b);
      EXPECT_EQ(wrong, 0) << out << " band " << b;
    }
  }
}

// The 8-bit copy lies where the image lies: geotransform, projection and
// nodata are carried over to every format (the nodata value as the stretch
// maps it), read back through GDAL as any GIS would.
TEST(EightBitConversion, OutputKeepsTheGeoreferencing) {
  ScratchDir dir;
  const std::vector<double> geo = {500000, 30, 0, 4400000, 0, -30};
  OGRSpatialReferenceH utm = OSRNewSpatialReference(nullptr);
  ASSERT_EQ(OSRImportFromEPSG(utm, 32650), OGRERR_NONE);
  const struct { int type; double nodata; double mappedNodata; const char* ext; } cases[] = {
      {GDT_UInt16, 0, 0, "tif"},
      {GDT_UInt16, 65535, 254, "tif"},
      {GDT_Byte, 7, 7, "tif"},
      {GDT_UInt16, 0, 0, "png"},
      {GDT_Byte, 7, 7, "bmp"},
      {GDT_UInt16, 0, 0, "img"},
  };
  for (const auto& c : cases) {
    const std::string stem = "geo" + std::to_string(c.type) + "_" + std::to_string(int(c.nodata)) + c.ext;
    SCOPED_TRACE(stem);
    const std::string in = dir.File(stem + ".tif");
    const std::string out = dir.File(stem + "_8." + c.ext);
    pwtest::WriteRaster(in, 40, 20, 1, c.type,
                        [&](int x, int t, int) { return x < 3 ? c.nodata : 100 + x + t; }, "GTiff", geo);
    {
      GDALDatasetH ds = GDALOpen(in.c_str(), GA_Update);
      ASSERT_NE(ds, nullptr);
      ASSERT_EQ(GDALSetSpatialRef(ds, utm), CE_None);
      ASSERT_EQ(GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), c.nodata), CE_None);
      GDALClose(ds);
    }
    EightBitConversion cvt;
    std::string error;
    ASSERT_TRUE(cvt.Run(in, out, nullptr, nullptr, error)) << error;
    GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    double gt[6] = {};
    ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(gt[k], geo[size_t(k)]) << k;
    OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
    ASSERT_NE(srs, nullptr);
    EXPECT_TRUE(OSRIsSame(srs, utm));
    int has = FALSE;
    const double nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has);
    EXPECT_TRUE(has);
    EXPECT_EQ(nodata, c.mappedNodata);
    // The nodata pixels carry that value in the output.
    std::vector<double> band = pwtest::ReadBand(out, 0);
    GDALClose(ds);
    ASSERT_EQ(band.size(), 800u);
    EXPECT_EQ(band[0], c.mappedNodata);
  }
  OSRDestroySpatialReference(utm);
}

}  // namespace

namespace {

using pwtest::Contents;
using pwtest::Put;

// Every name in a folder, sorted, but the input's stretch-table sidecar.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() != ".czb") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs a conversion in a child process whose files may not grow beyond
// `sizeLimit` bytes (0: no limit), as on a disk that fills up; true when
// it reported success.
bool ConvertInChild(const std::string& in, const std::string& out, rlim_t sizeLimit) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    if (sizeLimit) {
      struct rlimit limit = {sizeLimit, sizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    EightBitConversion cvt;
    cvt.layoutOverride = BlockLayout{50, 2};
    std::string error;
    const bool ok = cvt.Run(in, out, nullptr, nullptr, error);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A conversion that fails, half-way through writing or because the format
// cannot take the image, leaves a file already at the chosen name and its
// side file byte for byte as they were, and nothing of its own behind.
TEST(EightBitConversion, FailedConversionLeavesAnExistingTargetAlone) {
  const struct { const char* name; int bands; rlim_t limit; } cases[] = {
      {"out.tif", 3, 100000},  // written in place of the working file; the disk fills up
      {"out.png", 3, 100000},  // copied from a temporary GeoTIFF
      {"out.bmp", 3, 100000},
      {"out.gif", 3, 0},       // GIF takes no three-band image
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string in = dir.File("big.tif"), out = dir.File(c.name);
    pwtest::WriteRaster(in, 400, 400, c.bands, GDT_UInt16,
                        [](int x, int t, int b) { return 100 + (x * 31 + t * 17 + b) % 3000; },
                        "GTiff", {500000, 30, 0, 4400000, 0, -30});
    const std::string old = "the user's own picture\n" + std::string(5000, '\x7f');
    const std::string oldSide = "<PAMDataset>the user's notes</PAMDataset>\n";
    Put(out, old);
    Put(out + ".aux.xml", oldSide);
    const std::vector<std::string> before = Names(dir.Path());

    EXPECT_FALSE(ConvertInChild(in, out, c.limit));
    EXPECT_EQ(Contents(out), old);
    EXPECT_EQ(Contents(out + ".aux.xml"), oldSide);
    EXPECT_EQ(Names(dir.Path()), before);
  }
}

// A successful conversion replaces the file at the chosen name, keeps its
// permissions, and brings its side file along under that name (GDAL's
// ".aux.xml" holds the place of a PNG or BMP). A ".aux.xml" of the
// replaced file goes when the new one has none.
TEST(EightBitConversion, SuccessfulConversionReplacesTheTargetAndItsSideFiles) {
  const std::vector<double> geo = {500000, 30, 0, 4400000, 0, -30};
  const struct { const char* name; bool georeferenced; std::vector<std::string> sides; } cases[] = {
      {"out.png", true, {"out.png", "out.png.aux.xml"}},
      {"out.bmp", true, {"out.bmp", "out.bmp.aux.xml"}},
      {"out.tif", true, {"out.tif"}},
      {"out.png", false, {"out.png"}},
  };
  OGRSpatialReferenceH utm = OSRNewSpatialReference(nullptr);
  ASSERT_EQ(OSRImportFromEPSG(utm, 32650), OGRERR_NONE);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.georeferenced ? " georeferenced" : ""));
    ScratchDir dir;
    const std::string in = dir.File("in.tif"), out = dir.File(c.name);
    auto value = [](int x, int t, int b) { return (x * 5 + t * 11 + b * 40) % 250 + 1; };
    pwtest::WriteRaster(in, 37, 23, 3, GDT_Byte, value, "GTiff",
                        c.georeferenced ? geo : std::vector<double>{});
    if (c.georeferenced) {
      GDALDatasetH ds = GDALOpen(in.c_str(), GA_Update);
      ASSERT_NE(ds, nullptr);
      ASSERT_EQ(GDALSetSpatialRef(ds, utm), CE_None);
      GDALClose(ds);
    }
    Put(out, "old picture");
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    // A side file that tells GDAL the old picture lay elsewhere.
    Put(out + ".aux.xml",
        "<PAMDataset><GeoTransform>1, 1, 0, 1, 0, -1</GeoTransform></PAMDataset>\n");

    EightBitConversion cvt;
    std::string error;
    ASSERT_TRUE(cvt.Run(in, out, nullptr, nullptr, error)) << error;
    std::vector<std::string> expected = c.sides;
    expected.push_back("in.tif");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.Path()), expected);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0640));
    int w = 0, h = 0, bands = 0;
    const std::vector<double> got = pwtest::ReadBand(out, 2, &w, &h, nullptr, &bands);
    ASSERT_EQ(got.size(), size_t(37 * 23));
    EXPECT_EQ(bands, 3);
    EXPECT_EQ(got[size_t(5 * 37 + 9)], value(9, 5, 2));
    GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    double gt[6] = {};
    const bool hasGeo = GDALGetGeoTransform(ds, gt) == CE_None;
    EXPECT_EQ(hasGeo, c.georeferenced);
    if (c.georeferenced) {
      for (int k = 0; k < 6; ++k) EXPECT_EQ(gt[k], geo[size_t(k)]) << k;
      OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
      ASSERT_NE(srs, nullptr);
      EXPECT_TRUE(OSRIsSame(srs, utm));
    }
    GDALClose(ds);
  }
  OSRDestroySpatialReference(utm);
}

// A chosen name that is a link: the file it names gets the new picture and
// the link stays.
TEST(EightBitConversion, LinkedTargetReplacesTheFileItNames) {
  ScratchDir dir;
  const std::string in = dir.File("in.tif"), real = dir.File("real.tif"), link = dir.File("link.tif");
  pwtest::WriteRaster(in, 10, 10, 1, GDT_Byte, [](int x, int t, int) { return x + t; });
  Put(real, "old picture");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  EightBitConversion cvt;
  std::string error;
  ASSERT_TRUE(cvt.Run(in, link, nullptr, nullptr, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const std::vector<double> got = pwtest::ReadBand(real, 0);
  ASSERT_EQ(got.size(), 100u);
  EXPECT_EQ(got[23], 5);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"in.tif", "link.tif", "real.tif"}));
}

// A palette image keeps its colours: 8-bit indices pass through with their
// table into formats that hold one, and become red, green and blue where
// the format holds none; 16-bit indices (index 300 beside 44, its low
// byte) always become colours, each its own.
TEST(EightBitConversion, PaletteImagesKeepTheirColours) {
  ScratchDir dir;
  const std::string byteMap = dir.File("classes.tif"), wordMap = dir.File("classes16.tif");
  pwtest::WriteRaster(byteMap, 30, 20, 1, GDT_Byte, [](int x, int, int) { return x < 15 ? 0 : 1; });
  pwtest::SetPalette(byteMap, {{255, 0, 0, 255}, {0, 0, 255, 255}});
  pwtest::WriteRaster(wordMap, 30, 20, 1, GDT_UInt16,
                      [](int x, int, int) { return x < 15 ? 300 : 44; });
  std::vector<std::vector<int>> entries(301, {0, 0, 0, 255});
  entries[44] = {200, 30, 10, 255};
  entries[300] = {20, 90, 220, 255};
  pwtest::SetPalette(wordMap, entries);
  // Index 1 and index 44 mark the pixels without data.
  for (const auto& [path, nodata] : {std::pair{byteMap, 1.0}, std::pair{wordMap, 44.0}}) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), nodata), CE_None);
    GDALClose(ds);
  }

  const struct {
    std::string in, out;
    bool keepsTable;
    int left[3], right[3];
    int tolerance;  // JPEG's loss
  } cases[] = {
      {byteMap, "b.tif", true, {255, 0, 0}, {0, 0, 255}, 0},
      {byteMap, "b.png", true, {255, 0, 0}, {0, 0, 255}, 0},
      {byteMap, "b.bmp", true, {255, 0, 0}, {0, 0, 255}, 0},
      {byteMap, "b.jpg", false, {255, 0, 0}, {0, 0, 255}, 20},
      {wordMap, "w.tif", false, {20, 90, 220}, {200, 30, 10}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    const std::string out = dir.File(c.out);
    EightBitConversion cvt;
    cvt.layoutOverride = BlockLayout{7, 2};
    cvt.sliceRows = 3;
    std::string error;
    ASSERT_TRUE(cvt.Run(c.in, out, nullptr, nullptr, error)) << error;
    EXPECT_FALSE(pwtest::Exists(c.in + ".czb")) << "indices are not stretched";
    GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALColorTableH table = GDALGetRasterColorTable(band);
    EXPECT_EQ(table != nullptr, c.keepsTable);
    EXPECT_EQ(GDALGetRasterCount(ds), c.keepsTable ? 1 : 3);
    EXPECT_EQ(GDALGetRasterDataType(band), GDT_Byte);
    // Indices that pass through keep their nodata index; colours take none,
    // as an index's number means nothing as a red, green or blue value.
    for (int b = 0; b < GDALGetRasterCount(ds); ++b) {
      int has = FALSE;
      const double nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, b + 1), &has);
      EXPECT_EQ(bool(has), c.keepsTable) << "band " << b;
      if (has && c.keepsTable) {
        EXPECT_EQ(nodata, 1.0);
      }
    }
    // Every pixel's colour: through the table, or the three bands.
    for (int t = 0; t < 20; ++t) {
      for (int x = 0; x < 30; ++x) {
        const int* want = x < 15 ? c.left : c.right;
        int got[3];
        if (c.keepsTable) {
          uint8_t index = 0;
          ASSERT_EQ(GDALRasterIO(band, GF_Read, x, t, 1, 1, &index, 1, 1, GDT_Byte, 0, 0), CE_None);
          EXPECT_EQ(index, x < 15 ? 0 : 1) << "indices pass unchanged";
          const GDALColorEntry* e = GDALGetColorEntry(table, index);
          ASSERT_NE(e, nullptr);
          got[0] = e->c1, got[1] = e->c2, got[2] = e->c3;
        } else {
          for (int b = 0; b < 3; ++b) {
            uint8_t v = 0;
            ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Read, x, t, 1, 1, &v, 1, 1,
                                   GDT_Byte, 0, 0),
                      CE_None);
            got[b] = v;
          }
        }
        if (c.tolerance > 0 && x >= 6 && x < 24) continue;  // JPEG blurs the border's blocks
        for (int b = 0; b < 3; ++b)
          ASSERT_NEAR(got[b], want[b], c.tolerance) << x << "," << t << " band " << b;
      }
    }
    GDALClose(ds);
  }
}

// A cancel stops the conversion at its next slice of rows; nothing of the
// output is left, and a file already under the target's name stays.
TEST(EightBitConversion, CancelStopsAtTheNextSliceAndLeavesNothing) {
  ScratchDir dir;
  const std::string in = dir.File("c.tif"), out = dir.File("c_8.png");
  pwtest::WriteRaster(in, 40, 100, 1, GDT_UInt16, [](int x, int t, int) { return x + t * 40; });
  pwtest::Put(out, "an earlier file");
  std::atomic<bool> cancel{false};
  int slices = 0;
  pw::SetConversionCheckpoint([&](int, const std::atomic<bool>*) {
    if (++slices == 3) cancel = true;
  });
  EightBitConversion cvt;
  cvt.layoutOverride = BlockLayout{20, 2};
  cvt.sliceRows = 5;
  std::string error;
  EXPECT_FALSE(cvt.Run(in, out, nullptr, nullptr, error, &cancel));
  pw::SetConversionCheckpoint({});
  EXPECT_EQ(error, "已取消");
  EXPECT_EQ(slices, 3) << "no slice read after the cancel";
  EXPECT_EQ(pwtest::Contents(out), "an earlier file");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"c.tif", "c.tif.czb", "c_8.png"}));
}

// A cancel that comes once the last row is written, before the output
// takes the target's name, still stops the conversion: the GeoTIFF written
// in place would otherwise be committed as if nothing had been asked.
TEST(EightBitConversion, CancelAfterTheLastWriteIsNotCommitted) {
  ScratchDir dir;
  const std::string in = dir.File("c.tif"), out = dir.File("c_8.tif");
  pwtest::WriteRaster(in, 40, 100, 1, GDT_UInt16, [](int x, int t, int) { return x + t * 40; });
  pwtest::Put(out, "an earlier file");
  std::atomic<bool> cancel{false};
  EightBitConversion cvt;
  cvt.layoutOverride = BlockLayout{20, 2};
  cvt.sliceRows = 5;
  std::string error;
  // The gauge's last report follows the last write.
  const auto rowsDone = [&](int rows) {
    if (rows == 100) cancel = true;
  };
  EXPECT_FALSE(cvt.Run(in, out, nullptr, rowsDone, error, &cancel));
  EXPECT_TRUE(cancel) << "the last row was written";
  EXPECT_EQ(error, "已取消");
  EXPECT_EQ(pwtest::Contents(out), "an earlier file");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"c.tif", "c.tif.czb", "c_8.tif"}));
}

// The stretch-table pass over a 16-bit image without a sidecar reads the
// whole image once more: it moves the first third of the gauge strip by
// strip, and a cancel stops it where it is, with no sidecar and no output.
TEST(EightBitConversion, StretchTablePassMovesTheGaugeAndHeedsCancel) {
  ScratchDir dir;
  const std::string in = dir.File("tall.tif"), out = dir.File("tall_8.tif");
  constexpr int kHeight = 4096;  // four strips of the pass
  pwtest::WriteRaster(in, 16, kHeight, 1, GDT_UInt16,
                      [](int x, int t, int) { return 1000 + x * 3 + t; });
  {
    // Uncancelled: several steps below a third before the first row is read.
    std::vector<int> gauge;
    EightBitConversion cvt;
    std::string error;
    ASSERT_TRUE(cvt.Run(in, out, nullptr, [&](int rows) { gauge.push_back(rows); }, error))
        << error;
    EXPECT_TRUE(std::is_sorted(gauge.begin(), gauge.end()));
    EXPECT_EQ(gauge.back(), kHeight);
    std::vector<int> pass;
    for (int v : gauge)
      if (v > 0 && v < kHeight / 3) pass.push_back(v);
    pass.erase(std::unique(pass.begin(), pass.end()), pass.end());
    EXPECT_GE(pass.size(), 3u) << "the pass moves the gauge strip by strip";
    ASSERT_TRUE(pwtest::Exists(in + ".czb"));
    std::filesystem::remove(in + ".czb");
    std::filesystem::remove(out);
  }
  // Cancelled at the pass's first step past 0: nothing more is counted.
  std::atomic<bool> cancel{false};
  int atCancel = -1, highest = -1;
  const auto rowsDone = [&](int rows) {
    highest = std::max(highest, rows);
    if (rows > 0 && !cancel) {
      atCancel = rows;
      cancel = true;
    }
  };
  EightBitConversion cvt;
  std::string error;
  EXPECT_FALSE(cvt.Run(in, out, nullptr, rowsDone, error, &cancel));
  EXPECT_EQ(error, "已取消");
  ASSERT_GT(atCancel, 0);
  EXPECT_LT(atCancel, kHeight / 3) << "the cancel came during the pass";
  EXPECT_EQ(highest, atCancel) << "the pass went on after the cancel";
  EXPECT_FALSE(pwtest::Exists(in + ".czb"));
  EXPECT_FALSE(pwtest::Exists(out));
  EXPECT_FALSE(cvt.input);
}

}  // namespace
