// The libjpeg wrappers and the JPEG image object against libjpeg's own
// tools and ImageMagick: pixels written here read back by djpeg within
// JPEG tolerance, pixels read here equal to djpeg's at every scale, and
// tables and sampling read back as they were set.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "exif/ExifJpegImage.h"
#include "exif_test_util.h"
#include "pixel_helpers.h"

using namespace exiftest;

namespace {

// Writes the picture as a JPEG file through the image object; setup runs
// after the image information is set.
ExifResult WriteJpeg(const std::string& path, const ThumbnailImage& pic,
                     const std::function<void(ExifJpegImage&)>& setup = {}) {
  ExifJpegImage jpeg;
  ExifResult st = jpeg.Open(path, "w");
  if (st != kExifOk) return st;
  jpeg.SetImageInfo(pic.width, pic.height, pic.components, 8, kJpegRowsRgb, nullptr, nullptr);
  if (setup) setup(jpeg);
  int32_t now = 0, total = 0;
  st = jpeg.WriteImage(pic, pic.height, &now, &total);
  jpeg.Close();
  if (st == kExifOk && total != pic.height) return -1;
  return st;
}

// Reads a whole picture (accurate DCT) at a scale through an open image.
ExifResult ReadAll(ExifJpegImage& jpeg, int scale, ThumbnailImage* out, int sampleType = 6) {
  int32_t w = 0, h = 0;
  if (jpeg.SetScale(scale, &w, &h) != kExifOk) return -1;
  jpeg.SetDctMethod(0);
  if (out->Allocate(w, h, jpeg.components == 1 ? 1 : 3) != kExifOk) return -1;
  out->comp[0].sampleType = sampleType;
  int32_t rows = 0;
  bool done = false;
  const ExifResult st = jpeg.ReadImage(*out, h, &rows, &done);
  if (st != kExifOk) return st;
  return rows == h && done ? kExifOk : -1;
}

std::vector<int> AsInts(const uint16_t* t) { return std::vector<int>(t, t + 64); }

}  // namespace

TEST(JpegCodec, QualityToLinearScale) {
  const struct { unsigned quality; int scale; } cases[] = {
      {0, 5000}, {1, 5000}, {10, 500}, {49, 102}, {50, 100}, {75, 50}, {100, 0}, {101, 0}, {1000, 0}};
  for (const auto& c : cases) EXPECT_EQ(QualityScale(c.quality), c.scale) << c.quality;
}

TEST(JpegImage, PixelsRoundTripThroughDjpegAtEveryScale) {
  TempDir dir;
  const std::string path = dir / "p.jpg";
  const ThumbnailImage pic = TestPicture(1001, 601, 3);
  ASSERT_EQ(WriteJpeg(path, pic, [](ExifJpegImage& j) { j.SetQuality(95); }), kExifOk);

  const PixelDiff written = Compare(pic, Djpeg(path));
  EXPECT_LT(written.mean, 1.5);
  EXPECT_LT(written.largest, 40);
  EXPECT_EQ(Identify(path, "%w %h %[colorspace]"), "1001 601 sRGB");

  // Our decoder is libjpeg: with the same DCT it must agree with djpeg to
  // the sample, at every scale, reading from the file and from memory.
  ExifJpegImage jpeg;
  ASSERT_EQ(jpeg.Open(path, "r"), kExifOk);
  std::vector<uint8_t> bytes = exiftest::ReadAll(path);
  ExifJpegImage inMemory;
  ASSERT_EQ(inMemory.OpenMemory(bytes.data(), static_cast<int64_t>(bytes.size()), static_cast<int64_t>(bytes.size()), "r"),
            kExifOk);
  const struct { int scale, w, h; } scales[] = {{1, 1001, 601}, {2, 501, 301}, {4, 251, 151}, {8, 126, 76}};
  for (const auto& s : scales) {
    ThumbnailImage got, fromMemory;
    ASSERT_EQ(ReadAll(jpeg, s.scale, &got), kExifOk) << s.scale;
    EXPECT_EQ(got.width, s.w);
    EXPECT_EQ(got.height, s.h);
    const PnmImage peer = Djpeg(path, "-dct int -scale 1/" + std::to_string(s.scale));
    EXPECT_EQ(Compare(got, peer).largest, 0) << "scale 1/" << s.scale;
    ASSERT_EQ(ReadAll(inMemory, s.scale, &fromMemory), kExifOk) << s.scale;
    EXPECT_EQ(Compare(got, fromMemory).largest, 0) << "memory, scale 1/" << s.scale;
  }
}

TEST(JpegImage, GreyAndBgrRecords) {
  TempDir dir;
  // One component: a grey JPEG.
  const ThumbnailImage grey = TestPicture(80, 50, 1);
  ASSERT_EQ(WriteJpeg(dir / "g.jpg", grey), kExifOk);
  EXPECT_EQ(Identify(dir / "g.jpg", "%[colorspace]"), "Gray");
  EXPECT_LT(Compare(grey, Djpeg(dir / "g.jpg")).mean, 2.0);

  // Sample type 5: the rows are BGR, written back in RGB order.
  const ThumbnailImage rgb = TestPicture(80, 50, 3, 5);
  ThumbnailImage bgr = rgb;
  bgr.comp[0].first = bgr.pixels.data();
  bgr.comp[0].sampleType = 5;
  for (size_t i = 0; i < bgr.pixels.size(); i += 3) std::swap(bgr.pixels[i], bgr.pixels[i + 2]);
  ASSERT_EQ(WriteJpeg(dir / "bgr.jpg", bgr), kExifOk);
  const PnmImage peer = Djpeg(dir / "bgr.jpg");
  EXPECT_LT(Compare(rgb, peer).mean, 2.0);

  // And read back as BGR.
  ExifJpegImage jpeg;
  ASSERT_EQ(jpeg.Open(dir / "bgr.jpg", "r"), kExifOk);
  ThumbnailImage got;
  ASSERT_EQ(ReadAll(jpeg, 1, &got, 5), kExifOk);
  ThumbnailImage expected = got;
  memcpy(expected.pixels.data(), peer.pixels.data(), peer.pixels.size());
  for (size_t i = 0; i < expected.pixels.size(); i += 3) std::swap(expected.pixels[i], expected.pixels[i + 2]);
  EXPECT_EQ(Compare(got, expected).largest, 0);
}

TEST(JpegImage, QuantisationTablesAndSamplingReadBackAsSet) {
  TempDir dir;
  const ThumbnailImage pic = TestPicture(64, 48, 3);
  uint16_t q[4][64];
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 64; ++i) q[t][i] = static_cast<uint16_t>(1 + (t * 37 + i * 3) % 200);
  }
  const uint16_t* const quant[4] = {q[0], q[1], q[2], q[3]};

  // Custom tables at quality 50 (scale 100): slot 3 is the luminance
  // table, slots 1 and 2 the two chroma tables, one for each component.
  ASSERT_EQ(WriteJpeg(dir / "custom.jpg", pic,
                      [&](ExifJpegImage& j) {
                        j.SetQuality(50);
                        ASSERT_EQ(j.SetTables(quant, nullptr, nullptr, nullptr, nullptr, 2), kExifOk);
                      }),
            kExifOk);
  auto tables = DjpegQuantTables(dir / "custom.jpg");
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0], AsInts(q[3]));
  EXPECT_EQ(tables[1], AsInts(q[1]));
  EXPECT_EQ(tables[2], AsInts(q[2]));
  std::string trace;
  exiftest::Run("djpeg -verbose -verbose " + Quote(dir / "custom.jpg") + " 2>&1 >/dev/null | grep 'Component 3:' | head -1", &trace);
  EXPECT_NE(trace.find("q=2"), std::string::npos) << trace;

  // The built-in tables: luminance and both chroma tables, none empty.
  ASSERT_EQ(WriteJpeg(dir / "std.jpg", pic,
                      [](ExifJpegImage& j) {
                        j.SetQuality(50);
                        j.UseStandardTables(1);
                      }),
            kExifOk);
  tables = DjpegQuantTables(dir / "std.jpg");
  ASSERT_EQ(tables.size(), 3u);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(tables[t], AsInts(kBuiltInQuantTable)) << t;

  // Tables of another kind are refused while these are installed.
  ExifJpegImage other;
  EXPECT_EQ(other.UseStandardTables(1), kExifOk);
  // Its Huffman tables are usable codes: 12 DC values, 162 AC values of
  // which 127 have 16-bit codes.
  ASSERT_TRUE(other.tables && other.tables->dc[0].set && other.tables->ac[0].set);
  int dcCount = 0, acCount = 0;
  for (int i = 0; i < 16; ++i) dcCount += other.tables->dc[0].counts[i], acCount += other.tables->ac[0].counts[i];
  EXPECT_EQ(dcCount, 12);
  EXPECT_EQ(acCount, 162);
  EXPECT_EQ(other.tables->ac[0].counts[15], 127);
  HuffmanLookup lookup;
  EXPECT_EQ(DeriveHuffmanLookup(other.tables->dc[0].counts, other.tables->dc[0].values, true, &lookup), kExifOk);
  EXPECT_EQ(DeriveHuffmanLookup(other.tables->ac[0].counts, other.tables->ac[0].values, false, &lookup), kExifOk);
  EXPECT_EQ(other.SetTables(quant, nullptr, nullptr, nullptr, nullptr, 2), kExifNotDone);
  EXPECT_EQ(other.SetTables(quant, nullptr, nullptr, nullptr, nullptr, 1), kExifOk);

  // Quality alone: 100 gives tables of ones, 10 five times the standard.
  ASSERT_EQ(WriteJpeg(dir / "q100.jpg", pic, [](ExifJpegImage& j) { j.SetQuality(100); }), kExifOk);
  EXPECT_EQ(DjpegQuantTables(dir / "q100.jpg")[0], std::vector<int>(64, 1));
  ASSERT_EQ(WriteJpeg(dir / "q10.jpg", pic, [](ExifJpegImage& j) { j.SetQuality(10); }), kExifOk);
  EXPECT_EQ(DjpegQuantTables(dir / "q10.jpg")[0][0], 80);  // (16 * 500 + 50) / 100

  // Sampling: libjpeg's 2x2 by default, 1x1 when given, 2x1 on request.
  const uint8_t oneByOne[4] = {0, 0x11, 0x11, 0x11};
  struct Case {
    const char* name;
    std::function<void(ExifJpegImage&)> setup;
    const char* factors;
  } cases[] = {
      {"default", {}, "2x2,1x1,1x1"},
      {"1x1", [&](ExifJpegImage& j) { j.SetImageInfo(64, 48, 3, 8, 1, oneByOne, nullptr); }, "1x1,1x1,1x1"},
      {"2x1", [](ExifJpegImage& j) { j.Compressor()->luminance2x1 = true; }, "2x1,1x1,1x1"},
  };
  for (const Case& c : cases) {
    const std::string path = dir / (std::string(c.name) + ".jpg");
    ASSERT_EQ(WriteJpeg(path, pic, c.setup), kExifOk) << c.name;
    EXPECT_EQ(Identify(path, "%[jpeg:sampling-factor]"), c.factors) << c.name;
    // The decoder reports the same, by component id.
    ExifJpegImage jpeg;
    ASSERT_EQ(jpeg.Open(path, "r"), kExifOk);
    const std::string ours = std::to_string(jpeg.GetHorizontalSampling(1)) + "x" +
                             std::to_string(jpeg.GetVerticalSampling(1)) + ",1x1,1x1";
    EXPECT_EQ(ours, c.factors);
    EXPECT_EQ(jpeg.GetHorizontalSampling(7), 0);
    uint16_t t0[64];
    ASSERT_EQ(jpeg.GetQuantTable(0, t0), kExifOk);
    EXPECT_EQ(AsInts(t0), DjpegQuantTables(path)[0]);
    EXPECT_EQ(jpeg.GetQuantTable(3, t0), kExifNotDone);
  }
}

TEST(JpegCodec, MemoryDestinationRefusesToOverflow) {
  const ThumbnailImage pic = TestPicture(200, 150, 3);
  auto compress = [&](std::vector<uint8_t>* buffer, int64_t* size) {
    ExifJpegCompress c;
    c.width = pic.width;
    c.height = pic.height;
    c.components = 3;
    c.quality = 95;
    c.SetMemoryDest(buffer->data(), static_cast<int64_t>(buffer->size()));
    int32_t rows = 0, total = 0;
    ExifResult st = c.Start();
    if (st == kExifOk) st = c.WriteRows(pic.pixels.data(), pic.width * 3, pic.height, &rows, &total);
    if (st == kExifOk) st = c.Finish();
    *size = c.BytesInMemory();
    return st;
  };
  std::vector<uint8_t> big(1 << 20);
  int64_t size = 0;
  ASSERT_EQ(compress(&big, &size), kExifOk);
  ASSERT_GT(size, 5000);
  big.resize(static_cast<size_t>(size));
  TempDir dir;
  WriteAll(dir / "m.jpg", big);
  EXPECT_LT(Compare(pic, Djpeg(dir / "m.jpg")).mean, 1.5);

  std::vector<uint8_t> small(4096);
  EXPECT_EQ(compress(&small, &size), kExifNotDone);
  EXPECT_LE(size, 4096);
  std::vector<uint8_t> exact(big.size());  // exactly enough room
  EXPECT_EQ(compress(&exact, &size), kExifOk);
  EXPECT_EQ(exact, big);
}

TEST(JpegCodec, IccProfileIsWrittenInNumberedChunks) {
  const ThumbnailImage pic = TestPicture(16, 16, 3);
  // APP2 "ICC_PROFILE" segments of a JPEG: (sequence, total, bytes).
  struct Chunk {
    int seq, total;
    std::vector<uint8_t> bytes;
  };
  auto chunks = [](const std::vector<uint8_t>& jpeg) {
    std::vector<Chunk> out;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
      const size_t len = static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
      if (jpeg[at + 1] == 0xE2 && len >= 16 && memcmp(&jpeg[at + 4], "ICC_PROFILE\0", 12) == 0) {
        out.push_back({jpeg[at + 16], jpeg[at + 17],
                       std::vector<uint8_t>(jpeg.begin() + static_cast<long>(at + 18),
                                            jpeg.begin() + static_cast<long>(at + 2 + len))});
      }
      at += 2 + len;
    }
    return out;
  };
  auto encode = [&](const std::vector<uint8_t>& profile) {
    std::vector<uint8_t> buffer(1 << 20);
    ExifJpegImage jpeg;
    EXPECT_EQ(jpeg.OpenMemory(buffer.data(), static_cast<int64_t>(buffer.size()), 0, "w"), kExifOk);
    jpeg.SetImageInfo(16, 16, 3, 8, 1, nullptr, nullptr);
    EXPECT_EQ(jpeg.SetIccProfile(profile.data(), static_cast<uint32_t>(profile.size())), kExifOk);
    int32_t now = 0, total = 0;
    EXPECT_EQ(jpeg.WriteImage(pic, 16, &now, &total), kExifOk);
    buffer.resize(static_cast<size_t>(jpeg.Compressor()->BytesInMemory()));
    return buffer;
  };
  std::vector<uint8_t> profile(65513);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 251);

  std::vector<uint8_t> one(profile.begin(), profile.end() - 1);
  auto c1 = chunks(encode(one));
  ASSERT_EQ(c1.size(), 1u);
  EXPECT_EQ(c1[0].seq, 1);
  EXPECT_EQ(c1[0].total, 1);
  EXPECT_EQ(c1[0].bytes, one);

  auto c2 = chunks(encode(profile));
  ASSERT_EQ(c2.size(), 2u);
  EXPECT_EQ(c2[0].seq, 1);
  EXPECT_EQ(c2[1].seq, 2);
  EXPECT_EQ(c2[0].total, 2);
  EXPECT_EQ(c2[1].total, 2);
  EXPECT_EQ(c2[0].bytes.size(), 65512u);
  ASSERT_EQ(c2[1].bytes.size(), 1u);
  EXPECT_EQ(c2[1].bytes[0], profile.back());

  // A profile needing more than 255 chunks cannot be numbered.
  std::vector<uint8_t> huge(static_cast<size_t>(kIccChunkBytes) * 255 + 1);
  ExifJpegImage jpeg;
  EXPECT_EQ(jpeg.SetIccProfile(huge.data(), static_cast<uint32_t>(huge.size())), kExifNotDone);
  EXPECT_EQ(jpeg.SetIccProfile(huge.data(), static_cast<uint32_t>(huge.size() - 1)), kExifOk);
}

TEST(JpegCodec, UnknownJfifRevisionDecodesTruncatedDataFails) {
  TempDir dir;
  const ThumbnailImage pic = TestPicture(256, 256, 3);
  std::string ppm = "P6\n256 256\n255\n";
  ppm.append(pic.pixels.begin(), pic.pixels.end());
  WriteAll(dir / "p.ppm", std::vector<uint8_t>(ppm.begin(), ppm.end()));
  ASSERT_EQ(exiftest::Run("cjpeg -quality 90 " + Quote(dir / "p.ppm") + " > " + Quote(dir / "c.jpg")), 0);
  std::vector<uint8_t> jpeg = exiftest::ReadAll(dir / "c.jpg");
  ASSERT_TRUE(jpeg.size() > 20 && memcmp(&jpeg[6], "JFIF", 5) == 0);

  // JFIF version 9.9: libjpeg warns, the wrapper lets it pass.
  jpeg[11] = 9;
  jpeg[12] = 9;
  {
    ExifJpegImage image;
    ASSERT_EQ(image.OpenMemory(jpeg.data(), static_cast<int64_t>(jpeg.size()), static_cast<int64_t>(jpeg.size()), "r"),
              kExifOk);
    ThumbnailImage got;
    EXPECT_EQ(ReadAll(image, 1, &got), kExifOk);
  }
  // Cut in half: the premature end counts as an error, from memory and
  // from a file; a second pass fails the same way rather than read on.
  std::vector<uint8_t> half(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  WriteAll(dir / "half.jpg", half);
  {
    ExifJpegImage image;
    ASSERT_EQ(image.OpenMemory(half.data(), static_cast<int64_t>(half.size()), static_cast<int64_t>(half.size()), "r"),
              kExifOk);
    ThumbnailImage got;
    EXPECT_EQ(ReadAll(image, 1, &got), kExifNotDone);
    EXPECT_EQ(ReadAll(image, 1, &got), kExifNotDone);
  }
  {
    ExifJpegImage image;
    ASSERT_EQ(image.Open(dir / "half.jpg", "r"), kExifOk);
    ThumbnailImage got;
    EXPECT_EQ(ReadAll(image, 1, &got), kExifNotDone);
  }
  // No complete header: the open fails.
  std::vector<uint8_t> head(jpeg.begin(), jpeg.begin() + 30);
  ExifJpegImage image;
  EXPECT_EQ(image.OpenMemory(head.data(), 30, 30, "r"), kExifNotDone);
}

TEST(JpegImage, PassesSettingsAndGuards) {
  TempDir dir;
  const std::string path = dir / "p.jpg";
  ASSERT_EQ(WriteJpeg(path, TestPicture(640, 480, 3)), kExifOk);
  ExifJpegImage jpeg;
  ASSERT_EQ(jpeg.Open(path, "r"), kExifOk);
  const struct { int scale, w, h; } sizes[] = {{1, 640, 480}, {2, 320, 240}, {4, 160, 120}, {8, 80, 60}, {3, 640, 480}};
  for (const auto& s : sizes) {
    int32_t w = 0, h = 0;
    EXPECT_EQ(jpeg.SetScale(s.scale, &w, &h), kExifOk);
    EXPECT_EQ(w, s.w) << s.scale;
    EXPECT_EQ(h, s.h) << s.scale;
  }
  jpeg.SetQuality(70);
  jpeg.SetQuality(101);
  EXPECT_EQ(jpeg.Quality(), 70);

  // Two whole passes read the same pixels: the second starts again at the
  // beginning of the file.
  ThumbnailImage first, second;
  ASSERT_EQ(ReadAll(jpeg, 1, &first), kExifOk);
  ASSERT_EQ(ReadAll(jpeg, 1, &second), kExifOk);
  EXPECT_EQ(first.pixels, second.pixels);

  // A pass read in strips; the scale cannot change in the middle of it.
  ThumbnailImage strip;
  ASSERT_EQ(strip.Allocate(640, 100, 3), kExifOk);
  int32_t rows = 0;
  bool done = false;
  ASSERT_EQ(jpeg.ReadImage(strip, 100, &rows, &done), kExifOk);
  EXPECT_FALSE(done);
  EXPECT_EQ(jpeg.SetScale(2, nullptr, nullptr), kExifNotDone);
  EXPECT_EQ(memcmp(strip.pixels.data(), first.pixels.data(), strip.pixels.size()), 0);
  ASSERT_EQ(jpeg.ReadImage(strip, 100, &rows, &done), kExifOk);
  EXPECT_EQ(memcmp(strip.pixels.data(), first.pixels.data() + strip.pixels.size(), strip.pixels.size()), 0);
  // More rows than the strip holds: refused, and the pass ends.
  EXPECT_EQ(jpeg.ReadImage(strip, 101, &rows, &done), kExifNotDone);
  EXPECT_EQ(jpeg.SetScale(1, nullptr, nullptr), kExifOk);
  // Rows past the end of the picture are an error.
  ThumbnailImage tall;
  ASSERT_EQ(tall.Allocate(640, 481, 3), kExifOk);
  EXPECT_EQ(jpeg.ReadImage(tall, 481, &rows, &done), kExifNotDone);
  // A record narrower than the picture is refused.
  ThumbnailImage narrow;
  ASSERT_EQ(narrow.Allocate(639, 480, 3), kExifOk);
  EXPECT_EQ(jpeg.ReadImage(narrow, 480, &rows, &done), kExifNotDone);
  // Writing in mode "r" is refused.
  int32_t now = 0, total = 0;
  EXPECT_EQ(jpeg.WriteImage(first, 480, &now, &total), kExifWriteFailed);
  jpeg.Close();

  // Mode "r+" never writes over the file it reads.
  const std::vector<uint8_t> before = exiftest::ReadAll(path);
  ExifJpegImage edit;
  ASSERT_EQ(edit.Open(path, "r+"), kExifOk);
  EXPECT_EQ(edit.WriteImage(first, 480, &now, &total), kExifWriteFailed);
  edit.Close();
  EXPECT_EQ(exiftest::ReadAll(path), before);

  // Mode "w" has nothing to read.
  ExifJpegImage fresh;
  ASSERT_EQ(fresh.Open(dir / "new.jpg", "w"), kExifOk);
  EXPECT_EQ(fresh.ReadImage(first, 480, &rows, &done), kExifReadFailed);
}
