// The JPEG codec against djpeg (the same libjpeg) and ImageMagick: pixels of
// every decoding path, resolution, quality, EXIF, writing and damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxImageJPG.h"
#include "jpeg_test_util.h"

using namespace pwtest;

namespace {

class JpegFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_ / "source.ppm";
    ASSERT_TRUE(Shell("convert-im6.q16 -size 97x61 gradient:orange-navy -swirl 120 '" +
                      source_.string() + "'"));
  }
  std::filesystem::path Cjpeg(const std::string& name, const std::string& args) {
    auto out = dir_ / name;
    EXPECT_TRUE(Shell("cjpeg " + args + " -outfile '" + out.string() + "' '" + source_.string() + "'"));
    return out;
  }
  static bool DecodeBytes(std::vector<uint8_t> bytes, PxImage& image, uint8_t scale = 1) {
    PxMemFile file(bytes.data(), int32_t(bytes.size()));
    image.info.jpegScale = scale;
    return image.Decode(&file, kFormatJpg);
  }
  TempDir dir_;
  std::filesystem::path source_;
};

struct DjpegCase {
  const char* name;
  const char* cjpegArgs;
  bool grey;
  double keepFraction;  // of the file's bytes; below 1 the file is cut short
};

TEST_F(JpegFixture, PixelsIdenticalToDjpeg) {
  const DjpegCase cases[] = {
      {"baseline", "-quality 85", false, 1.0},
      {"grey", "-grayscale", true, 1.0},
      {"progressive", "-progressive", false, 1.0},
      {"arithmetic", "-arithmetic", false, 1.0},
      {"restart markers", "-restart 2B", false, 1.0},
      {"optimised 4:4:4", "-optimize -sample 1x1", false, 1.0},
      {"truncated", "-quality 85", false, 0.6},
      {"truncated progressive", "-progressive", false, 0.5},
  };
  for (const DjpegCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto jpg = Cjpeg("case.jpg", c.cjpegArgs);
    std::vector<uint8_t> bytes = ReadAll(jpg);
    bytes.resize(size_t(bytes.size() * c.keepFraction));
    WriteAll(jpg, bytes);
    Pnm expected = ParsePnm(RunBytes("djpeg -pnm '" + jpg.string() + "' 2>/dev/null"));
    ASSERT_EQ(expected.channels, c.grey ? 1 : 3);

    PxImage image;
    ASSERT_TRUE(DecodeBytes(bytes, image)) << image.LastError();
    EXPECT_EQ(image.info.formatId, kFormatJpg);
    ASSERT_EQ(int(image.Width()), expected.width);
    ASSERT_EQ(int(image.Height()), expected.height);
    if (c.grey) {
      EXPECT_EQ(image.Bpp(), 8u);
      EXPECT_TRUE(image.HasGrayPalette());
      EXPECT_EQ(FirstDifference(TopDownGrey(image), expected.data), -1);
    } else {
      EXPECT_EQ(image.Bpp(), 24u);
      EXPECT_EQ(FirstDifference(TopDownRgb(image), expected.data), -1);
    }
  }
}

TEST_F(JpegFixture, ScaledDecodeMatchesDjpegScale) {
  auto jpg = Cjpeg("scaled.jpg", "");
  for (int denom : {2, 4, 8}) {
    SCOPED_TRACE(denom);
    Pnm expected = ParsePnm(RunBytes("djpeg -scale 1/" + std::to_string(denom) + " -pnm '" + jpg.string() + "'"));
    PxImage image;
    ASSERT_TRUE(DecodeBytes(ReadAll(jpg), image, uint8_t(denom)));
    ASSERT_EQ(int(image.Width()), expected.width);
    ASSERT_EQ(int(image.Height()), expected.height);
    EXPECT_EQ(FirstDifference(TopDownRgb(image), expected.data), -1);
  }
}

TEST_F(JpegFixture, CmykScalesInkByBlack) {
  auto jpg = dir_ / "cmyk.jpg";
  ASSERT_TRUE(Shell("convert-im6.q16 '" + source_.string() + "' -colorspace CMYK '" + jpg.string() + "'"));
  // Pillow hands Adobe CMYK over inverted; libjpeg's own samples are 255 - those.
  std::vector<uint8_t> pil = RunBytes("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                      "im = Image.open(sys.argv[1]); assert im.mode == 'CMYK'; "
                                      "sys.stdout.buffer.write(im.tobytes())\" '" + jpg.string() + "'");
  ASSERT_EQ(pil.size(), size_t(97 * 61 * 4));
  std::vector<uint8_t> expected;
  for (size_t i = 0; i < pil.size(); i += 4) {
    const unsigned c = 255 - pil[i], m = 255 - pil[i + 1], y = 255 - pil[i + 2], k = 255 - pil[i + 3];
    expected.push_back(uint8_t(k * c / 255));
    expected.push_back(uint8_t(k * m / 255));
    expected.push_back(uint8_t(k * y / 255));
  }
  PxImage image;
  ASSERT_TRUE(DecodeBytes(ReadAll(jpg), image)) << image.LastError();
  EXPECT_EQ(image.Bpp(), 24u);
  EXPECT_EQ(FirstDifference(TopDownRgb(image), expected), -1);
}

TEST_F(JpegFixture, DimensionsOnly) {
  auto jpg = Cjpeg("dims.jpg", "");
  PxImage image;
  image.info.escape = -1;
  std::vector<uint8_t> bytes = ReadAll(jpg);
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  ASSERT_TRUE(image.Decode(&file, kFormatJpg));
  EXPECT_EQ(image.Width(), 97u);
  EXPECT_EQ(image.Height(), 61u);
  EXPECT_EQ(image.info.formatId, kFormatJpg);
  EXPECT_FALSE(image.HasPixels());
}

TEST_F(JpegFixture, ResolutionFromExifOrJfif) {
  struct Case { const char* name; std::string prepare; int xDpi, yDpi; };
  const Case cases[] = {
      {"JFIF dots per inch", "convert-im6.q16 SRC -units PixelsPerInch -density 300 OUT", 300, 300},
      {"JFIF dots per centimetre", "convert-im6.q16 SRC -units PixelsPerCentimeter -density 118 OUT", 300, 300},
      {"JFIF aspect ratio only", "cjpeg -outfile OUT SRC", 96, 96},
      {"EXIF inches", "cjpeg -outfile OUT SRC && exiftool -q -overwrite_original -EXIF:XResolution=72 "
                      "-EXIF:YResolution=144 -EXIF:ResolutionUnit=inches OUT", 72, 144},
      {"EXIF centimetres", "cjpeg -outfile OUT SRC && exiftool -q -overwrite_original -EXIF:XResolution=28 "
                           "-EXIF:YResolution=28 -EXIF:ResolutionUnit=cm OUT", 71, 71},
      // Beyond any integer: no resolution, the default (and no undefined
      // float-to-integer conversion, which the sanitizer build checks).
      {"EXIF beyond the integer range", "cjpeg -outfile OUT SRC && exiftool -q -overwrite_original "
                                        "-EXIF:XResolution=4000000000 -EXIF:YResolution=4000000000 "
                                        "-EXIF:ResolutionUnit=inches OUT", 96, 96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto out = dir_ / "dpi.jpg";
    std::string cmd = c.prepare;
    for (auto [from, to] : {std::pair<std::string, std::string>{"SRC", "'" + source_.string() + "'"},
                            {"OUT", "'" + out.string() + "'"}}) {
      for (size_t at; (at = cmd.find(from)) != std::string::npos;) cmd.replace(at, from.size(), to);
    }
    ASSERT_TRUE(Shell(cmd));
    PxImage image;
    ASSERT_TRUE(DecodeBytes(ReadAll(out), image)) << image.LastError();
    EXPECT_EQ(image.info.xDpi, c.xDpi);
    EXPECT_EQ(image.info.yDpi, c.yDpi);
    // An image that held another picture before gets this file's resolution
    // too, not the earlier one's, and its header says the same.
    PxImage reused(2, 2, 24, 0);
    reused.SetHorizontalDpi(300);
    reused.SetVerticalDpi(600);
    ASSERT_TRUE(DecodeBytes(ReadAll(out), reused)) << reused.LastError();
    EXPECT_EQ(reused.info.xDpi, c.xDpi);
    EXPECT_EQ(reused.info.yDpi, c.yDpi);
    EXPECT_EQ(reused.header.biXPelsPerMeter, image.header.biXPelsPerMeter);
    EXPECT_EQ(reused.header.biYPelsPerMeter, image.header.biYPelsPerMeter);
  }
}

TEST_F(JpegFixture, ExifSummaryReachesTheCaller) {
  auto jpg = Cjpeg("exif.jpg", "");
  ASSERT_TRUE(Shell("exiftool -q -overwrite_original -EXIF:Orientation#=6 "
                    "-EXIF:DateTimeOriginal='2020:02:29 23:59:58' '" + jpg.string() + "'"));
  ASSERT_TRUE(Shell("exiftool -q -overwrite_original '-ThumbnailImage<=" + jpg.string() + "' '" + jpg.string() + "'"));
  PxImage image;
  ASSERT_TRUE(image.LoadFile(Wide(jpg), kFormatJpg)) << image.LastError();
  EXPECT_TRUE(image.info.exif.present);
  EXPECT_EQ(image.info.exif.orientation, 6);
  EXPECT_STREQ(image.info.exif.dateTime, "2020:02:29 23:59:58");
  // The thumbnail lived in the reader's memory, gone with the format object.
  EXPECT_EQ(image.info.exif.thumbnailPointer, nullptr);
  EXPECT_EQ(image.info.exif.thumbnailSize, 0);
  // So it did for a dimensions-only read, which the tools use for the
  // shooting time and the orientation.
  PxImage dims;
  dims.info.escape = -1;
  ASSERT_TRUE(dims.LoadFile(Wide(jpg), kFormatJpg)) << dims.LastError();
  EXPECT_EQ(dims.info.exif.orientation, 6);
  EXPECT_EQ(dims.info.exif.thumbnailPointer, nullptr);
  EXPECT_EQ(dims.info.exif.thumbnailSize, 0);

  // A following picture without EXIF does not inherit this one's summary.
  auto plain = Cjpeg("plain.jpg", "");
  ASSERT_TRUE(image.LoadFile(Wide(plain), kFormatJpg));
  EXPECT_FALSE(image.info.exif.present);
  EXPECT_EQ(image.info.exif.orientation, 0);

  // Nor does a picture of another format: the tools would turn it by the
  // earlier picture's orientation.
  PxImage bmpSource(6, 4, 24, 0);
  PxMemFile bmp;
  ASSERT_TRUE(bmp.Open());
  ASSERT_TRUE(bmpSource.Encode(&bmp, kFormatBmp));
  ASSERT_TRUE(image.LoadFile(Wide(jpg), kFormatJpg));
  ASSERT_EQ(image.info.exif.orientation, 6);
  bmp.SeekTo(0, 0);
  ASSERT_TRUE(image.Decode(&bmp, kFormatBmp)) << image.LastError();
  EXPECT_FALSE(image.info.exif.present);
  EXPECT_EQ(image.info.exif.orientation, 0);
  EXPECT_STREQ(image.info.exif.dateTime, "");
}

std::string IdentifyQuality(const std::filesystem::path& p) {
  std::string q = RunCapture("identify-im6.q16 -format %Q '" + p.string() + "'");
  return q;
}

TEST_F(JpegFixture, EncodeTrueColourAndGrey) {
  PxImage image;
  ASSERT_TRUE(DecodeBytes(ReadAll(Cjpeg("src.jpg", "-quality 100")), image));
  ASSERT_EQ(image.Bpp(), 24u);
  for (float quality : {90.0f, 30.0f}) {
    SCOPED_TRACE(quality);
    image.info.jpegQuality = quality;
    auto out = dir_ / "written.jpg";
    {
      FILE* f = std::fopen(out.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      PxIOFile file(f);
      ASSERT_TRUE(image.Encode(&file, kFormatJpg)) << image.LastError();
      std::fclose(f);
    }
    EXPECT_EQ(IdentifyQuality(out), std::to_string(int(quality)));
    Pnm back = ParsePnm(RunBytes("djpeg -pnm '" + out.string() + "'"));
    ASSERT_EQ(back.width, 97);
    ASSERT_EQ(back.channels, 3);
    // Lossy, but colours stay where they were: red and blue not exchanged.
    std::vector<uint8_t> original = TopDownRgb(image);
    long total = 0;
    for (size_t i = 0; i < original.size(); ++i) total += std::abs(int(original[i]) - int(back.data[i]));
    EXPECT_LT(double(total) / double(original.size()), quality > 50 ? 3.0 : 6.0);
  }

  ASSERT_TRUE(image.ConvertToGray());
  ASSERT_TRUE(image.HasGrayPalette());
  auto grey = dir_ / "grey.jpg";
  PxMemFile mem;
  ASSERT_TRUE(mem.Open());
  ASSERT_TRUE(image.Encode(&mem, kFormatJpg));
  WriteAll(grey, std::vector<uint8_t>(mem.Buffer(), mem.Buffer() + mem.DataSize()));
  EXPECT_EQ(RunCapture("identify-im6.q16 -format '%[channels]' '" + grey.string() + "'"), "gray");
  PxImage back;
  ASSERT_TRUE(back.LoadFile(Wide(grey), kFormatJpg));
  EXPECT_EQ(back.Bpp(), 8u);
  EXPECT_EQ(back.info.xDpi, 96);
}

TEST(JpegEncode, RefusesColourPaletteAndReportsWriteErrors) {
  PxImage palette(8, 8, 8, kFormatBmp);
  palette.MakeStandardPalette();
  PxMemFile mem;
  ASSERT_TRUE(mem.Open());
  EXPECT_FALSE(palette.Encode(&mem, kFormatJpg));
  EXPECT_STREQ(palette.LastError(), "JPEG can save only RGB or GreyScale images");

  PxImage empty;
  EXPECT_FALSE(empty.Encode(&mem, kFormatJpg));
  EXPECT_STREQ(empty.LastError(), "null image!!!");

  PxImage big(300, 300, 24, kFormatBmp);
  std::memset(big.PixelRows(), 0x5A, big.ImageBytes());
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  PxIOFile file(full);
  EXPECT_FALSE(big.Encode(&file, kFormatJpg));
  EXPECT_STREQ(big.LastError(), "Output file write error --- out of disk space?");
  std::fclose(full);
}

// Damaged files: a clear failure with libjpeg's text, or a clean partial
// decode; never a crash (this table runs under the sanitizers).
TEST_F(JpegFixture, MalformedFiles) {
  std::vector<uint8_t> good = ReadAll(Cjpeg("good.jpg", "-quality 80"));
  std::vector<uint8_t> prog = ReadAll(Cjpeg("prog.jpg", "-progressive"));
  auto sof = [](const std::vector<uint8_t>& j) {
    for (size_t i = 2; i + 1 < j.size(); ++i)
      if (j[i] == 0xFF && (j[i + 1] == 0xC0 || j[i + 1] == 0xC2)) return i;
    return size_t(0);
  };
  // ok: 1 must decode, 0 must fail, -1 either, as long as it ends cleanly.
  struct Case { const char* name; std::vector<uint8_t> bytes; int ok; const char* error; };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, false, "Empty input file"});
  cases.push_back({"not a JPEG", {0x89, 'P', 'N', 'G', 0, 0}, false, "Not a JPEG file: starts with 0x89 0x50"});
  cases.push_back({"only the start marker", {0xFF, 0xD8}, false, nullptr});
  {
    std::vector<uint8_t> b = good;
    size_t at = sof(b);
    b[at + 5] = 0x75; b[at + 6] = 0x30; b[at + 7] = 0x75; b[at + 8] = 0x30;  // 30000 x 30000
    cases.push_back({"dimensions beyond the memory limit", b, false, "PXIMAGE_MAX_MEMORY exceeded"});
  }
  {
    std::vector<uint8_t> b = prog;
    size_t at = sof(b);
    b[at + 5] = 0x75; b[at + 6] = 0x30; b[at + 7] = 0x75; b[at + 8] = 0x30;
    cases.push_back({"progressive beyond the memory limit", b, false, "PXIMAGE_MAX_MEMORY exceeded"});
  }
  {
    std::vector<uint8_t> b = good;
    b[sof(b) + 5] = 0; b[sof(b) + 6] = 0;  // height 0
    cases.push_back({"zero height", b, false, nullptr});
  }
  {
    std::vector<uint8_t> b = good;
    b[sof(b) + 9] = 7;  // seven components
    cases.push_back({"component count changed", b, false, nullptr});
  }
  {
    std::vector<uint8_t> b = good;
    for (size_t i = b.size() / 2; i < b.size() / 2 + 200 && i + 2 < b.size(); ++i) b[i] ^= 0x5A;
    cases.push_back({"scrambled scan data", b, -1, nullptr});
  }
  {
    std::vector<uint8_t> b = prog;
    for (size_t i = b.size() / 3; i < b.size() - 2; i += 7) b[i] = 0xFF;
    cases.push_back({"progressive with markers sprayed in", b, -1, nullptr});
  }
  {
    std::vector<uint8_t> b(good.begin(), good.begin() + long(sof(good)) + 4);
    cases.push_back({"cut inside the frame header", b, false, nullptr});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PxImage image;
    std::vector<uint8_t> bytes = c.bytes;
    PxMemFile file(bytes.empty() ? nullptr : bytes.data(), int32_t(bytes.size()));
    if (bytes.empty()) {
      ASSERT_TRUE(file.Open());
    }
    bool ok = image.Decode(&file, kFormatJpg);
    if (c.ok != -1) {
      EXPECT_EQ(ok, c.ok == 1) << image.LastError();
    }
    if (ok) {
      // Damage inside the scan decodes to something of the right size.
      EXPECT_EQ(image.Width(), 97u);
    } else {
      EXPECT_FALSE(image.HasPixels());
      EXPECT_NE(*image.LastError(), 0);
      if (c.error) {
        EXPECT_STREQ(image.LastError(), c.error);
      }
    }
  }
}

}  // namespace

namespace {

TEST_F(JpegFixture, DecodeOptionsMatchDjpeg) {
  auto jpg = Cjpeg("options.jpg", "");
  struct Case { const char* name; uint32_t options; float quality; const char* djpeg; bool grey; };
  const Case cases[] = {
      {"grey output", 0x80, 90.0f, "-grayscale", true},
      {"quantised to 64 colours", 0x100, 64.0f, "-colors 64", false},
      {"quantised, one pass, no dithering", 0x100 | 0x200 | 0x400, 32.0f, "-colors 32 -onepass -dither none", false},
      {"no fancy upsampling", 0x800, 90.0f, "-nosmooth", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pnm expected = ParsePnm(RunBytes(std::string("djpeg ") + c.djpeg + " -pnm '" + jpg.string() + "'"));
    std::vector<uint8_t> bytes = ReadAll(jpg);
    PxMemFile file(bytes.data(), int32_t(bytes.size()));
    PxImageJPG image;
    image.info.codecOptions[3] = c.options;
    image.info.jpegQuality = c.quality;
    image.ditherMode = 0;  // JDITHER_NONE, used with option 0x200
    ASSERT_TRUE(image.Decode(&file)) << image.LastError();
    if (c.options & 0x100) {
      EXPECT_EQ(image.Bpp(), 8u);
      EXPECT_LE(image.header.biClrUsed, uint32_t(c.quality));
    }
    EXPECT_EQ(FirstDifference(c.grey ? TopDownGrey(image) : TopDownRgb(image), expected.data), -1);
  }
}

TEST_F(JpegFixture, EncodeOptionsChooseTheProcess) {
  PxImage image;
  ASSERT_TRUE(DecodeBytes(ReadAll(Cjpeg("src.jpg", "-quality 100")), image));
  struct Case { uint32_t options; int process; int colour; };
  const Case cases[] = {{0, 0xC0, 1}, {0x10, 0xC2, 1}, {0x2, 0xC9, 1}, {0x12, 0xCA, 1},
                        {0x4, 0xC0, 0}, {0x8 | 0x2000, 0xC0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    image.info.codecOptions[3] = c.options;
    PxMemFile mem;
    ASSERT_TRUE(mem.Open());
    ASSERT_TRUE(image.Encode(&mem, kFormatJpg)) << image.LastError();
    std::vector<uint8_t> bytes(mem.Buffer(), mem.Buffer() + mem.DataSize());
    PxMemFile in(bytes.data(), int32_t(bytes.size()));
    ExifSectionReader reader;
    ASSERT_TRUE(reader.ReadSections(&in, ExifSectionReader::kDigestExif));
    EXPECT_EQ(reader.Summary()->process, c.process);
    EXPECT_EQ(reader.Summary()->isColor, c.colour);
    PxImage back;
    ASSERT_TRUE(DecodeBytes(bytes, back)) << back.LastError();
    EXPECT_EQ(back.Width(), 97u);
  }
}

TEST_F(JpegFixture, ReencodingTheDecodedObjectKeepsExifAndComment) {
  auto jpg = Cjpeg("tagged.jpg", "");
  ASSERT_TRUE(Shell("exiftool -q -overwrite_original -EXIF:Orientation#=8 -Comment='kept note' '" + jpg.string() + "'"));
  std::vector<uint8_t> bytes = ReadAll(jpg);
  PxMemFile in(bytes.data(), int32_t(bytes.size()));
  PxImageJPG image;
  ASSERT_TRUE(image.Decode(&in));
  PxMemFile out;
  ASSERT_TRUE(out.Open());
  ASSERT_TRUE(image.Encode(&out)) << image.LastError();
  auto written = dir_ / "rewritten.jpg";
  WriteAll(written, std::vector<uint8_t>(out.Buffer(), out.Buffer() + out.DataSize()));
  EXPECT_EQ(RunCapture("exiftool -n -s3 -EXIF:Orientation -Comment '" + written.string() + "'"), "8\nkept note\n");
  EXPECT_EQ(ParsePnm(RunBytes("djpeg -pnm '" + written.string() + "'")).width, 97);
}

}  // namespace
