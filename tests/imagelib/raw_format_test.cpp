// The RAW format end to end: DNG files written here (uncompressed and
// lossless JPEG) loaded through PxImage::LoadFile, by id 19 and by trying
// every format; orientation, quality options, one-colour sensors, refusals
// of what is not raw or cannot be decoded, and parallel decodes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "imagelib/FormatTable.h"
#include "imagelib/PxImage.h"
#include "imagelib/PxImageRAW.h"
#include "imagelib/PxImageTIF.h"
#include "platform/text.h"
#include "tests/imagelib/raw_dng_writer.h"
#include "tests/imagelib/raw_scratch.h"

namespace fs = std::filesystem;
using dngtest::DngSpec;
using dngtest::WriteDng;

namespace {

using rawfiles::At;
using rawfiles::Rgb;
using rawfiles::Scratch;

bool Load(PxImage& img, const std::string& path, ImageFormatId id = kFormatRaw) {
  return img.LoadFile(pw::NarrowToWide(path), id);
}

std::vector<Rgb> Pixels(const PxImage& img) {
  std::vector<Rgb> out;
  for (uint32_t y = 0; y < img.Height(); ++y)
    for (uint32_t x = 0; x < img.Width(); ++x) out.push_back(At(img, x, y));
  return out;
}

}  // namespace

TEST(RawFormat, DngSceneThroughEveryQuality) {
  Scratch s;
  for (bool lossless : {false, true}) {
    DngSpec spec;
    spec.lossless = lossless;
    const std::string path = s.Write(lossless ? "l.dng" : "u.dng", WriteDng(spec));
    std::vector<Rgb> first;
    for (uint32_t quality = 0; quality < 4; ++quality) {
      SCOPED_TRACE(testing::Message() << "lossless " << lossless << " quality " << quality);
      PxImage img;
      img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = quality;
      ASSERT_TRUE(Load(img, path)) << img.LastError();
      EXPECT_EQ(img.Width(), 64u);
      EXPECT_EQ(img.Height(), 48u);
      EXPECT_EQ(img.Bpp(), 24u);
      EXPECT_EQ(img.info.formatId, kFormatRaw);
      // Interior of each patch, away from the patch edges.
      const Rgb grey = At(img, 10, 12), red = At(img, 32, 12), green = At(img, 53, 12);
      EXPECT_NEAR(grey.r, grey.g, 2);
      EXPECT_NEAR(grey.b, grey.g, 2);
      EXPECT_GT(grey.g, 100);
      EXPECT_GT(red.r, red.g + 60);
      EXPECT_GT(red.r, red.b + 60);
      EXPECT_GT(green.g, green.r + 60);
      EXPECT_GT(green.g, green.b + 60);
      for (int x = 4; x < 60; x += 4) {  // the ramp rises and stays grey
        const Rgb a = At(img, uint32_t(x), 36), b = At(img, uint32_t(x + 4), 36);
        EXPECT_LT(a.g, b.g) << x;
        EXPECT_NEAR(a.r, a.g, 3) << x;
        EXPECT_NEAR(a.b, a.g, 3) << x;
      }
      // Flat patches are flat from every demosaicer.
      EXPECT_EQ(At(img, 8, 8), At(img, 12, 16));
      if (quality == 0) first = Pixels(img);
    }
    // Both storages give the same picture.
    static std::vector<Rgb> uncompressed;
    if (!lossless) uncompressed = first;
    else EXPECT_TRUE(first == uncompressed);
  }
}

TEST(RawFormat, OrientationTurnsThePicture) {
  Scratch s;
  PxImage upright;
  ASSERT_TRUE(Load(upright, s.Write("o1.dng", WriteDng(DngSpec{}))));
  const uint32_t w = upright.Width(), h = upright.Height();
  struct Case {
    int orientation;
    bool swapped;
  } cases[] = {{3, false}, {6, true}, {8, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    DngSpec spec;
    spec.orientation = c.orientation;
    PxImage img;
    ASSERT_TRUE(Load(img, s.Write("o.dng", WriteDng(spec))));
    ASSERT_EQ(img.Width(), c.swapped ? h : w);
    ASSERT_EQ(img.Height(), c.swapped ? w : h);
    bool same = true;
    for (uint32_t y = 0; y < h && same; ++y)
      for (uint32_t x = 0; x < w && same; ++x) {
        // 3: half turn; 6: quarter turn right; 8: quarter turn left.
        Rgb turned = c.orientation == 3 ? At(img, w - 1 - x, h - 1 - y)
                     : c.orientation == 6 ? At(img, h - 1 - y, x)
                                          : At(img, y, w - 1 - x);
        same = turned == At(upright, x, y);
      }
    EXPECT_TRUE(same);
    // The dimensions-only read gives the turned size too.
    PxImage dims;
    dims.info.escape = -1;
    EXPECT_TRUE(Load(dims, s.Write("o.dng", WriteDng(spec))));
    EXPECT_EQ(dims.Width(), img.Width());
    EXPECT_EQ(dims.Height(), img.Height());
    EXPECT_FALSE(dims.HasPixels());
  }
}

TEST(RawFormat, MonochromeGivesGrey) {
  Scratch s;
  DngSpec spec;
  spec.monochrome = true;
  PxImage img;
  ASSERT_TRUE(Load(img, s.Write("m.dng", WriteDng(spec)))) << img.LastError();
  ASSERT_EQ(img.Width(), 64u);
  for (uint32_t y = 0; y < img.Height(); y += 5)
    for (uint32_t x = 0; x < img.Width(); x += 3) {
      const Rgb p = At(img, x, y);
      ASSERT_EQ(p.r, p.g);
      ASSERT_EQ(p.b, p.g);
    }
  EXPECT_LT(At(img, 4, 36).g, At(img, 60, 36).g);
}

TEST(RawFormat, TryAllReachesRawForADng) {
  Scratch s;
  const std::string path = s.Write("t.dng", WriteDng(DngSpec{}));
  PxImage byId, tried;
  ASSERT_TRUE(Load(byId, path));
  ASSERT_TRUE(Load(tried, path, kFormatUnknown)) << tried.LastError();
  EXPECT_EQ(tried.info.formatId, kFormatRaw);
  EXPECT_TRUE(Pixels(tried) == Pixels(byId));
  // A DNG whose first page is an RGB preview reaches the RAW format too.
  DngSpec withPreview;
  withPreview.preview = true;
  PxImage previewed;
  ASSERT_TRUE(Load(previewed, s.Write("p.dng", WriteDng(withPreview)), kFormatUnknown));
  EXPECT_EQ(previewed.info.formatId, kFormatRaw);
  EXPECT_TRUE(Pixels(previewed) == Pixels(byId));
  // The TIFF reader itself refuses the sensor data, CFA or linear raw.
  DngSpec mono;
  mono.monochrome = true;
  for (const std::string& p : {path, s.Write("m.dng", WriteDng(mono))}) {
    PxIOFile file;
    ASSERT_TRUE(file.Open(p.c_str(), "rb"));
    PxImageTIF asTiff;
    EXPECT_FALSE(asTiff.Decode(&file));
  }
}

TEST(RawFormat, Refusals) {
  Scratch s;
  // A JPEG is not raw.
  const std::string jpg = (s.dir / "a.jpg").string();
  ASSERT_EQ(std::system(("convert-im6.q16 -size 30x30 xc:red " + jpg).c_str()), 0);
  PxIOFile jpgFile;
  ASSERT_TRUE(jpgFile.Open(jpg.c_str(), "rb"));
  PxImageRAW notRaw;
  EXPECT_FALSE(notRaw.Decode(&jpgFile));
  EXPECT_STREQ(notRaw.LastError(), "PxImageRAW: not a raw image");
  EXPECT_EQ(jpgFile.Position(), 0);
  // Nor is a camera's JPEG with the camera's EXIF block.
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Canon '-Model=Canon EOS 40D' "
                         "-ISO=400 " + jpg).c_str()), 0);
  PxIOFile cameraJpg;
  ASSERT_TRUE(cameraJpg.Open(jpg.c_str(), "rb"));
  PxImageRAW cameraNotRaw;
  EXPECT_FALSE(cameraNotRaw.Decode(&cameraJpg));
  EXPECT_STREQ(cameraNotRaw.LastError(), "PxImageRAW: not a raw image");

  // Truncated picture data: what the file holds, marked damaged, with the
  // decoder's message.
  for (bool lossless : {false, true}) {
    DngSpec spec;
    spec.lossless = lossless;
    std::vector<uint8_t> bytes = WriteDng(spec);
    bytes.resize(bytes.size() - 1500);
    PxIOFile file;
    ASSERT_TRUE(file.Open(s.Write("cut.dng", bytes).c_str(), "rb"));
    PxImageRAW cut;
    EXPECT_TRUE(cut.Decode(&file)) << lossless;
    EXPECT_TRUE(cut.IsDamaged());
    EXPECT_STREQ(cut.LastError(), "PxImageRAW: Unexpected end of file");
  }

  // Sizes: too small, too large for the library.
  struct Case {
    int width, height;
    uint32_t white;
  } cases[] = {{64, 21, 4095}, {21, 64, 4095}, {30000, 30000, 4095}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    DngSpec spec;
    spec.width = c.width;
    spec.height = c.height;
    spec.white = c.white;
    std::vector<uint8_t> bytes;
    if (c.width * c.height < 100000) {
      bytes = WriteDng(spec);
    } else {  // declared only: the strip is not there
      DngSpec small;
      bytes = WriteDng(small);
      // Patch width and height (the first two entries after the count at 8).
      auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
      };
      ASSERT_EQ(bytes[10 + 12 * 1] | bytes[11 + 12 * 1] << 8, 256);
      put32(10 + 12 * 1 + 8, uint32_t(c.width));
      put32(10 + 12 * 2 + 8, uint32_t(c.height));
    }
    PxIOFile file;
    ASSERT_TRUE(file.Open(s.Write("size.dng", bytes).c_str(), "rb"));
    PxImageRAW img;
    EXPECT_FALSE(img.Decode(&file));
    EXPECT_FALSE(img.HasPixels());
    EXPECT_STREQ(img.LastError(), c.width > 100 ? "PxImageRAW: picture too large"
                                                : "PxImageRAW: not a raw image");
  }
}

TEST(RawFormat, FourThreadsEqualSerial) {
  Scratch s;
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) {
    DngSpec spec;
    spec.lossless = i & 1;
    spec.orientation = i == 2 ? 6 : 1;
    paths.push_back(s.Write("p" + std::to_string(i) + ".dng", WriteDng(spec)));
  }
  std::vector<std::vector<Rgb>> serial(4), parallel(4);
  for (int i = 0; i < 4; ++i) {
    PxImage img;
    img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = uint32_t(i);
    ASSERT_TRUE(Load(img, paths[size_t(i)]));
    serial[size_t(i)] = Pixels(img);
  }
  for (int round = 0; round < 3; ++round) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
      threads.emplace_back([&, i] {
        PxImage img;
        img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = uint32_t(i);
        if (Load(img, paths[size_t(i)])) parallel[size_t(i)] = Pixels(img);
      });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(parallel[size_t(i)] == serial[size_t(i)]) << i;
  }
}

// Damaged copies of the test DNGs (bytes changed, ends cut) never read or
// write outside a buffer (the sanitizer build watches) and either fail with
// a text or give a whole picture of a size inside the library's limit.
TEST(RawFormat, DamagedFilesFailCleanly) {
  std::vector<std::vector<uint8_t>> originals;
  for (int kind = 0; kind < 4; ++kind) {
    DngSpec spec;
    spec.lossless = kind & 1;
    spec.preview = kind & 2;
    spec.width = 32;
    spec.height = 24;
    originals.push_back(WriteDng(spec));
  }
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
  int refused = 0;
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> bytes = originals[size_t(i) % originals.size()];
    const int changes = 1 + int(next() % 8);
    for (int k = 0; k < changes; ++k) {
      // Mostly the directories at the front, where a change matters most.
      const size_t at = next() % 3 ? next() % std::min<size_t>(bytes.size(), 400) : next() % bytes.size();
      bytes[at] = uint8_t(next());
    }
    if (next() % 5 == 0) bytes.resize(next() % bytes.size());
    PxMemFile file(bytes.data(), int32_t(bytes.size()));
    PxImageRAW img;
    img.info.codecOptions[FormatIndexFromId(kFormatRaw)] = uint32_t(i) & 3;
    if (img.Decode(&file)) {
      ASSERT_TRUE(img.HasPixels()) << i;
      ASSERT_LE(uint64_t{img.RowStride()} * img.Height(), kPxImageMaxBytes) << i;
    } else {
      ++refused;
      ASSERT_NE(img.LastError()[0], 0) << i;
    }
  }
  EXPECT_GT(refused, 0);
}

// A file known by its size alone: 62464 bytes are a Kodak DC20 (four
// colours, pixels 968/747 as wide as high). The dimensions-only read gives
// the stretched size the full decode gives.
TEST(RawFormat, SizeIdentifiedFileIsStretched) {
  Scratch s;
  std::vector<uint8_t> bytes(62464);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(60 + (i % 256) / 4);
  const std::string path = s.Write("dc20.raw", bytes);
  PxImage dims;
  dims.info.escape = -1;
  ASSERT_TRUE(Load(dims, path));
  EXPECT_EQ(dims.Width(), uint32_t(249 * 968 / 747.0 + 0.5));
  EXPECT_EQ(dims.Height(), 242u);
  PxImage img;
  ASSERT_TRUE(Load(img, path)) << img.LastError();
  EXPECT_EQ(img.Width(), dims.Width());
  EXPECT_EQ(img.Height(), dims.Height());
  EXPECT_EQ(img.info.formatId, kFormatRaw);
}

// A camera with neither a colour matrix nor the white balance as shot: the
// grey world balances it. A grey scene seen through unequal channel gains
// comes out grey.
TEST(RawFormat, GreyWorldWithoutMultipliersOrMatrix) {
  Scratch s;
  DngSpec spec;
  spec.colour_tags = false;
  spec.flat_grey = true;
  spec.gains[0] = 0.5f;
  spec.gains[2] = 0.8f;
  PxImage img;
  ASSERT_TRUE(Load(img, s.Write("g.dng", WriteDng(spec)))) << img.LastError();
  const Rgb p = At(img, 30, 20);
  EXPECT_NEAR(p.r, p.g, 2);
  EXPECT_NEAR(p.b, p.g, 2);
  EXPECT_GT(p.g, 50);
}

// Trying every format: a DNG the RAW format refuses is reported with the RAW
// decoder's text (the TIFF reader only hands such files on), and a picture
// that loads carries no earlier format's complaint.
TEST(RawFormat, TryAllTellsTheRawDecodersText) {
  Scratch s;
  struct Case {
    int width, height;
    const char* text;
  } cases[] = {{64, 21, "PxImageRAW: not a raw image"}, {30000, 30000, "PxImageRAW: picture too large"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DngSpec small;
    std::vector<uint8_t> bytes = WriteDng(small);
    // Width and height are the first two entries after the count at 8.
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    ASSERT_EQ(bytes[10 + 12 * 1] | bytes[11 + 12 * 1] << 8, 256);
    put32(10 + 12 * 1 + 8, uint32_t(c.width));
    put32(10 + 12 * 2 + 8, uint32_t(c.height));
    const std::string path = s.Write("bad.dng", bytes);
    for (ImageFormatId id : {kFormatUnknown, kFormatRaw, kFormatTif}) {
      PxImage img;
      EXPECT_FALSE(Load(img, path, id)) << id;
      EXPECT_STREQ(img.LastError(), c.text) << id;
    }
  }
  PxImage ok;
  ok.SetLastError("Not an SKA file");
  ASSERT_TRUE(Load(ok, s.Write("good.dng", WriteDng(DngSpec{})), kFormatUnknown));
  EXPECT_STREQ(ok.LastError(), "");
  PxImage byId;
  byId.SetLastError("Not an SKA file");
  ASSERT_TRUE(Load(byId, s.Write("good.dng", WriteDng(DngSpec{}))));
  EXPECT_STREQ(byId.LastError(), "");
}

// An Olympus file of odd height is read one row further than it declares
// and gives a picture of that even height.
TEST(RawFormat, OlympusOddHeightDecodes) {
  Scratch s;
  rawtest::TiffWriter w(true);
  rawtest::TiffIfd& ifd = w.NewIfd(true);
  ifd.Image(64, 47, 12, 1, 32803, 1).Ascii(271, "OLYMPUS OPTICAL CO.,LTD").Ascii(272, "E-1");
  // 48 rows of packed 12-bit samples, all 0x555.
  rawtest::TiffIfd& exif = w.NewIfd(false);
  exif.Bytes(41730, 7, {2, 0, 2, 0, 0, 1, 1, 2});  // R G / G B
  ifd.Pointers(34665, {&exif});
  ifd.Strip(std::vector<uint8_t>(64 * 48 * 3 / 2, 0x55));
  PxImage img;
  ASSERT_TRUE(Load(img, s.Write("odd.orf", w.Bytes()))) << img.LastError();
  EXPECT_EQ(img.Width(), 64u);
  EXPECT_EQ(img.Height(), 48u);
  // A flat grey scene: the added row is as grey as the rest.
  const Rgb middle = At(img, 30, 20);
  EXPECT_GT(middle.g, 50);
  EXPECT_NEAR(middle.r, middle.g, 2);
  EXPECT_TRUE(At(img, 30, 47) == middle);
}

// A DNG whose sensor data directory cannot be read is refused: its RGB
// preview (large enough to pass for a picture) is never developed as if it
// were the sensor data.
TEST(RawFormat, UnreadableRawDirectoryIsNotReplacedByThePreview) {
  Scratch s;
  struct Case {
    const char* name;
    int64_t target;  // of the sub-directory pointer, from the file's end
  } cases[] = {{"beyond the file", 1000}, {"into the picture data", -200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rawtest::TiffWriter w(true);
    rawtest::TiffIfd& first = w.NewIfd(true);
    rawtest::TiffIfd& raw = w.NewIfd(false);
    first.Long(254, {1}).Image(128, 96, 8, 1, 2, 3).Strip(std::vector<uint8_t>(128 * 96 * 3, 0x80));
    first.Ascii(271, "Pixelwharf").Ascii(272, "Preview Test").Bytes(50706, 1, {1, 1, 0, 0});
    first.Pointers(330, {&raw});
    raw.Long(254, {0}).Image(64, 48, 16, 1, 32803, 1).Short(33421, {2, 2}).Bytes(33422, 1, {0, 1, 1, 2});
    raw.Strip(std::vector<uint8_t>(64 * 48 * 2, 0x03));
    std::vector<uint8_t> bytes = w.Bytes();
    // The sub-directory pointer (tag 330) of the first directory, at offset 8.
    auto u16 = [&](size_t at) { return size_t(bytes[at] | bytes[at + 1] << 8); };
    size_t pointer = 0;
    for (size_t k = 0, n = u16(8); k < n; ++k)
      if (u16(10 + 12 * k) == 330) pointer = 10 + 12 * k + 8;
    ASSERT_NE(pointer, 0u);
    const uint32_t target = uint32_t(int64_t(bytes.size()) + c.target);
    for (int k = 0; k < 4; ++k) bytes[pointer + size_t(k)] = uint8_t(target >> (8 * k));
    const std::string path = s.Write("broken.dng", bytes);
    for (ImageFormatId id : {kFormatRaw, kFormatUnknown}) {
      PxImage img;
      EXPECT_FALSE(Load(img, path, id)) << id << ": " << img.Width() << "x" << img.Height();
      EXPECT_FALSE(img.HasPixels());
      EXPECT_STREQ(img.LastError(), "PxImageRAW: not a raw image");
    }
  }
}
