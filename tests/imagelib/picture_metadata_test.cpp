// What the readers take from a picture's metadata: the picture's own EXIF
// directory (never the thumbnail's), densities per metre kept exact, a PNG's
// pHYs over its eXIf resolution, and an eXIf chunk after the pixel data.
// Every file is made at test time by ImageMagick and tagged by exiftool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "tests/imagelib/TestSupport.h"

using namespace pxtest;

namespace {

void MustRun(const std::string& command) { ASSERT_EQ(Run(command), 0) << command; }

std::string Q(const std::string& path) { return "'" + path + "'"; }

uint32_t BE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct Chunk {
  std::string type;
  std::vector<uint8_t> whole;  // length, type, data and CRC as stored
};

std::vector<Chunk> PngChunks(const std::vector<uint8_t>& png) {
  std::vector<Chunk> chunks;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = BE32(&png[at]);
    if (at + 12 + length > png.size()) break;
    chunks.push_back({std::string(png.begin() + at + 4, png.begin() + at + 8),
                      std::vector<uint8_t>(png.begin() + at, png.begin() + at + 12 + length)});
    at += 12 + length;
  }
  return chunks;
}

// The PNG with its eXIf chunk moved behind the pixel data, just before IEND.
std::vector<uint8_t> ExifChunkAfterPixels(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> out(png.begin(), png.begin() + 8);
  std::vector<uint8_t> exif;
  for (const Chunk& c : PngChunks(png)) {
    if (c.type == "eXIf") {
      exif = c.whole;
      continue;
    }
    if (c.type == "IEND") out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), c.whole.begin(), c.whole.end());
  }
  return out;
}

std::vector<std::string> ChunkOrder(const std::vector<uint8_t>& png) {
  std::vector<std::string> order;
  for (const Chunk& c : PngChunks(png)) order.push_back(c.type);
  return order;
}

struct Loaded {
  bool ok = false;
  int32_t xDpi = 0, yDpi = 0;
  int32_t xPerMetre = 0, yPerMetre = 0;
  int32_t orientation = -1;
  std::string dateTime;
  uint32_t width = 0, height = 0;
};

Loaded Load(const std::string& path, ImageFormatId format, bool headerOnly = false) {
  PxImage image;
  if (headerOnly) image.info.escape = -1;
  Loaded r;
  r.ok = image.LoadFile(Wide(path), format);
  r.xDpi = image.info.xDpi;
  r.yDpi = image.info.yDpi;
  r.xPerMetre = image.header.biXPelsPerMeter;
  r.yPerMetre = image.header.biYPelsPerMeter;
  r.orientation = image.info.exif.orientation;
  r.dateTime = std::string(image.info.exif.dateTime, strnlen(image.info.exif.dateTime, sizeof image.info.exif.dateTime));
  r.width = image.Width();
  r.height = image.Height();
  return r;
}

// The pixels per metre of a picture written from `path`'s picture, as
// exiftool reads them ("x y").
std::string WrittenPerMetre(const std::string& path, ImageFormatId from, ImageFormatId to,
                            const std::string& out) {
  PxImage image;
  if (!image.LoadFile(Wide(path), from)) return "load failed";
  FILE* stream = std::fopen(out.c_str(), "wb");
  if (!stream) return "open failed";
  PxIOFile file(stream);
  const bool written = image.Encode(&file, to);
  std::fclose(stream);
  if (!written) return "encode failed";
  const char* tags = to == kFormatPng ? "-PixelsPerUnitX -PixelsPerUnitY" : "-PixelsPerMeterX -PixelsPerMeterY";
  std::string text = Capture(std::string("exiftool -s3 -n ") + tags + " " + Q(out));
  for (char& c : text)
    if (c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

// The thumbnail's directory (IFD1) states the thumbnail's resolution and
// orientation, commonly 72 dpi upright whatever the picture is: the picture
// keeps IFD0's, and only the thumbnail's place comes from IFD1.
TEST(PictureMetadata, TheThumbnailsDirectoryDoesNotSpeakForThePicture) {
  ScratchDir dir;
  const std::string thumb = dir.File("thumb.jpg");
  MustRun("convert-im6.q16 -size 16x12 gradient:yellow-navy -quality 80 " + Q(thumb));
  const size_t thumbBytes = ReadBytes(thumb).size();
  struct Case {
    const char* name;
    const char* tags;
    int32_t dpi, perMetre, orientation;
  };
  const Case cases[] = {
      {"240dpi side", "-IFD0:XResolution=240 -IFD0:YResolution=240 -IFD0:ResolutionUnit=inches -IFD0:Orientation#=6 "
                      "-IFD1:XResolution=72 -IFD1:YResolution=72 -IFD1:ResolutionUnit=inches -IFD1:Orientation#=1",
       240, 9449, 6},
      {"72dpi over cm", "-IFD0:XResolution=72 -IFD0:YResolution=72 -IFD0:ResolutionUnit=inches -IFD0:Orientation#=1 "
                        "-IFD1:XResolution=300 -IFD1:YResolution=300 -IFD1:ResolutionUnit=cm -IFD1:Orientation#=8",
       72, 2835, 1},
  };
  for (const Case& c : cases) {
    for (const char* order : {"II", "MM"}) {
      SCOPED_TRACE(std::string(c.name) + " " + order);
      const std::string path = dir.File("tagged.jpg");
      MustRun("convert-im6.q16 -size 40x30 gradient:red-blue -quality 90 " + Q(path));
      MustRun("exiftool -q -overwrite_original -ExifByteOrder=" + std::string(order) + " " + c.tags +
              " '-ThumbnailImage<=" + thumb + "' " + Q(path));
      ASSERT_EQ(Capture("exiftool -s3 -n -IFD1:XResolution " + Q(path)), c.dpi == 240 ? "72\n" : "300\n");
      const Loaded loaded = Load(path, kFormatJpg);
      ASSERT_TRUE(loaded.ok);
      EXPECT_EQ(loaded.xDpi, c.dpi);
      EXPECT_EQ(loaded.yDpi, c.dpi);
      EXPECT_EQ(loaded.xPerMetre, c.perMetre);
      EXPECT_EQ(loaded.orientation, c.orientation);

      // The thumbnail is still found through IFD1.
      std::vector<uint8_t> bytes = ReadBytes(path);
      PxMemFile file(bytes.data(), static_cast<int32_t>(bytes.size()));
      ExifSummary summary{};
      ExifSectionReader reader(&summary);
      reader.ReadSections(&file, ExifSectionReader::kDigestExif);
      EXPECT_TRUE(summary.present);
      EXPECT_EQ(summary.thumbnailSize, static_cast<int32_t>(thumbBytes));
      ASSERT_NE(summary.thumbnailPointer, nullptr);
      EXPECT_EQ(summary.thumbnailPointer[0], 0xFF);
      EXPECT_EQ(summary.thumbnailPointer[1], 0xD8);
    }
  }
}

// A density stated per centimetre (TIFF) or per metre (PNG pHYs, BMP) is
// kept exact in a PNG or BMP written from the picture; one per inch is
// converted as before.
TEST(PictureMetadata, DensitiesPerMetreAreKeptExact) {
  ScratchDir dir;
  struct Case {
    const char* name;
    const char* ext;
    ImageFormatId format;
    const char* density;
    int32_t dpi;
    const char* perMetre;
  };
  const Case cases[] = {
      {"tiff 118/cm", "tif", kFormatTif, "-density 118 -units PixelsPerCentimeter", 300, "11800 11800"},
      {"tiff 59/cm", "tif", kFormatTif, "-density 59 -units PixelsPerCentimeter", 150, "5900 5900"},
      {"tiff 300x150/in", "tif", kFormatTif, "-density 300x150 -units PixelsPerInch", 300, "11811 5906"},
      {"png 118/cm", "png", kFormatPng, "-density 118 -units PixelsPerCentimeter", 300, "11800 11800"},
      {"bmp 118/cm", "bmp", kFormatBmp, "-density 118 -units PixelsPerCentimeter", 300, "11800 11800"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.File(std::string("source.") + c.ext);
    MustRun("convert-im6.q16 -size 12x10 gradient:red-blue " + std::string(c.density) + " " + Q(source));
    const Loaded loaded = Load(source, c.format);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.xDpi, c.dpi);
    EXPECT_EQ(std::to_string(loaded.xPerMetre) + " " + std::to_string(loaded.yPerMetre), c.perMetre);
    EXPECT_EQ(WrittenPerMetre(source, c.format, kFormatPng, dir.File("out.png")), c.perMetre);
    EXPECT_EQ(WrittenPerMetre(source, c.format, kFormatBmp, dir.File("out.bmp")), c.perMetre);
  }
  // A PNG written from a PNG and read again stays at its stated density.
  const std::string png = dir.File("again.png");
  MustRun("convert-im6.q16 -size 12x10 gradient:red-blue -density 118 -units PixelsPerCentimeter " + Q(png));
  for (int round = 0; round < 3; ++round)
    ASSERT_EQ(WrittenPerMetre(png, kFormatPng, kFormatPng, png), "11800 11800") << round;
}

// A PNG with a pHYs chunk and an eXIf chunk stating another resolution: the
// pHYs chunk is the file's density; the eXIf chunk still gives the rest.
TEST(PictureMetadata, APngsDensityChunkOutranksItsExifResolution) {
  ScratchDir dir;
  const std::string png = dir.File("both.png");
  MustRun("convert-im6.q16 -size 12x10 gradient:red-blue -density 118 -units PixelsPerCentimeter " + Q(png));
  MustRun("exiftool -q -overwrite_original -EXIF:XResolution=72 -EXIF:YResolution=72 -EXIF:ResolutionUnit=inches "
          "-EXIF:Orientation#=6 " + Q(png));
  ASSERT_EQ(Capture("exiftool -s3 -n -PNG:PixelsPerUnitX -EXIF:XResolution " + Q(png)), "11800\n72\n");
  const Loaded loaded = Load(png, kFormatPng);
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.orientation, 6);
  EXPECT_EQ(loaded.xDpi, 300);
  EXPECT_EQ(loaded.xPerMetre, 11800);
  EXPECT_EQ(loaded.yPerMetre, 11800);
}

// An eXIf chunk after the pixel data (the PNG standard allows it there) is
// read by a whole decode and by a header read alike: orientation, shooting
// time and, without a pHYs chunk, the density. A chunk whose CRC is wrong is
// not taken, as libpng drops it.
TEST(PictureMetadata, AnExifChunkAfterThePixelsIsRead) {
  ScratchDir dir;
  const std::string made = dir.File("made.png");
  MustRun("convert-im6.q16 -size 12x10 gradient:red-blue " + Q(made));
  MustRun("exiftool -q -overwrite_original -PNG:PixelsPerUnitX= -EXIF:Orientation#=6 "
          "'-EXIF:DateTimeOriginal=2024:03:05 06:07:08' -EXIF:XResolution=200 -EXIF:YResolution=200 "
          "-EXIF:ResolutionUnit=inches " + Q(made));
  const std::vector<uint8_t> late = ExifChunkAfterPixels(ReadBytes(made));
  const std::vector<std::string> order = ChunkOrder(late);
  ASSERT_GE(order.size(), 3u);
  ASSERT_EQ(order[order.size() - 2], "eXIf");
  ASSERT_EQ(std::count(order.begin(), order.end(), "pHYs"), 0);
  const std::string path = dir.File("late.png");
  WriteBytes(path, late);
  ASSERT_EQ(Capture("exiftool -s3 -n -Orientation " + Q(path)), "6\n");

  for (bool headerOnly : {false, true}) {
    SCOPED_TRACE(headerOnly ? "header read" : "whole decode");
    const Loaded loaded = Load(path, kFormatPng, headerOnly);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.orientation, 6);
    EXPECT_EQ(loaded.dateTime, "2024:03:05 06:07:08");
    EXPECT_EQ(loaded.width, 12u);
    if (!headerOnly) {
      EXPECT_EQ(loaded.xDpi, 200);
      EXPECT_EQ(loaded.yDpi, 200);
    }
  }

  // Damaged late chunks are passed over: the header read still gives the
  // size, and no tag. `chunk`: where the eXIf chunk starts.
  size_t chunk = 8;
  for (const Chunk& c : PngChunks(late)) {
    if (c.type == "eXIf") break;
    chunk += c.whole.size();
  }
  ASSERT_EQ(chunk + 12 + BE32(&late[chunk]) + 12, late.size());
  struct Damage {
    const char* name;
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const Damage damages[] = {
      {"a data byte (CRC no longer holds)", late.size() - 12 - 4 - 1, {static_cast<uint8_t>(late[late.size() - 17] ^ 1)}},
      {"length beyond the file", chunk, {0x7F, 0xFF, 0xFF, 0xF0}},
      {"cut inside the chunk", 0, {}},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    std::vector<uint8_t> bad = late;
    if (d.bytes.empty())
      bad.resize(chunk + 20);
    else
      std::copy(d.bytes.begin(), d.bytes.end(), bad.begin() + static_cast<std::ptrdiff_t>(d.at));
    const std::string damaged = dir.File("damaged.png");
    WriteBytes(damaged, bad);
    const Loaded header = Load(damaged, kFormatPng, true);
    EXPECT_TRUE(header.ok);
    EXPECT_EQ(header.width, 12u);
    EXPECT_EQ(header.orientation, 0);
    EXPECT_EQ(header.dateTime, "");
  }
}
