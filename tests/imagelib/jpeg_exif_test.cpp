// The JPEG section reader and its EXIF digest: against exiftool on files it
// tagged in both byte orders, and a table of hand-built damaged blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <sstream>

#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxFile.h"
#include "jpeg_test_util.h"

using namespace pwtest;

namespace {

struct ReadResult {
  bool ok;
  ExifSummary summary;
  std::string error;
};

ReadResult ReadSummary(std::vector<uint8_t> bytes, int flags = ExifSectionReader::kDigestExif) {
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  ExifSummary summary{};
  ExifSectionReader reader(&summary);
  bool ok = reader.ReadSections(&file, flags);
  summary.thumbnailPointer = nullptr;  // points into the reader, which dies here
  return {ok, summary, reader.LastError()};
}

std::vector<uint8_t> JpegWithTiff(const std::vector<uint8_t>& tiff) {
  return JpegWithSegments({{0xE1, App1Exif(tiff)}});
}

// One IFD0 with the given entries, in the given byte order.
std::vector<uint8_t> Ifd0(bool big, const std::vector<TiffBuilder::Entry>& entries) {
  TiffBuilder b(big);
  std::vector<uint8_t> tiff = b.Header();
  b.Directory(tiff, 8, entries, 0);
  return tiff;
}

class ExifAgainstExiftool : public ::testing::TestWithParam<const char*> {};

TEST_P(ExifAgainstExiftool, SummaryMatchesExiftool) {
  TempDir dir;
  const auto jpg = dir / "tagged.jpg";
  ASSERT_TRUE(Shell("convert-im6.q16 -size 80x60 gradient:red-blue '" + jpg.string() + "'"));
  const std::string order = GetParam();
  ASSERT_TRUE(Shell("exiftool -q -overwrite_original -ExifByteOrder=" + order +
                  " -EXIF:Make=TestMaker -EXIF:Model='Model 7' -EXIF:Orientation#=6 -EXIF:XResolution=180 "
                  "-EXIF:YResolution=180 -EXIF:ResolutionUnit=inches "
                  "-EXIF:DateTimeOriginal='2021:07:14 09:30:05' -EXIF:ExposureTime=1/125 "
                  "-EXIF:FNumber=2.8 -EXIF:ISO=400 -EXIF:ExposureCompensation=-0.7 -EXIF:Flash#=1 "
                  "-EXIF:FocalLength=35 -EXIF:MeteringMode#=5 -EXIF:LightSource#=4 "
                  "-EXIF:ExposureProgram#=2 -EXIF:ExifVersion=0230 '" +
                  jpg.string() + "'"));
  // exiftool -n prints the raw numbers the reader should have found.
  std::istringstream peer(RunCapture(
      "exiftool -n -T -EXIF:Orientation -EXIF:DateTimeOriginal -EXIF:ExposureTime -EXIF:FNumber "
      "-EXIF:ISO -EXIF:ExposureCompensation -EXIF:FocalLength -EXIF:MeteringMode -EXIF:LightSource "
      "-EXIF:ExposureProgram -EXIF:XResolution -EXIF:Make -EXIF:Model -EXIF:ExifVersion "
      "-ExifByteOrder '" + jpg.string() + "'"));
  std::string f[15];
  for (auto& s : f) std::getline(peer, s, '\t');
  f[14].erase(f[14].find_last_not_of("\r\n") + 1);
  ASSERT_EQ(f[14], order);  // exiftool wrote the byte order asked for

  ReadResult r = ReadSummary(ReadAll(jpg));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_TRUE(r.summary.present) << r.error;
  EXPECT_EQ(r.summary.orientation, std::stoi(f[0]));
  EXPECT_STREQ(r.summary.dateTime, f[1].c_str());
  EXPECT_FLOAT_EQ(r.summary.exposureTime, std::stof(f[2]));
  EXPECT_FLOAT_EQ(r.summary.apertureFNumber, std::stof(f[3]));
  EXPECT_EQ(r.summary.isoEquivalent, std::stoi(f[4]));
  EXPECT_NEAR(r.summary.exposureBias, std::stof(f[5]), 1e-4);
  EXPECT_FLOAT_EQ(r.summary.focalLength, std::stof(f[6]));
  EXPECT_EQ(r.summary.meteringMode, std::stoi(f[7]));
  EXPECT_EQ(r.summary.lightSource, std::stoi(f[8]));
  EXPECT_EQ(r.summary.exposureProgram, std::stoi(f[9]));
  EXPECT_FLOAT_EQ(r.summary.xResolution, std::stof(f[10]));
  EXPECT_FLOAT_EQ(r.summary.resolutionUnit, 1.0f);
  EXPECT_STREQ(r.summary.cameraMake, f[11].c_str());
  EXPECT_STREQ(r.summary.cameraModel, f[12].c_str());
  EXPECT_STREQ(r.summary.version, f[13].c_str());
  EXPECT_EQ(r.summary.flashUsed, 1);
  EXPECT_EQ(r.summary.width, 80);
  EXPECT_EQ(r.summary.height, 60);
  EXPECT_EQ(r.summary.isColor, 1);
  EXPECT_EQ(r.summary.process, 0xC0);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ExifAgainstExiftool, ::testing::Values("II", "MM"));

TEST(ExifSectionReader, DigestRulesInBothByteOrders) {
  for (bool big : {false, true}) {
    TiffBuilder b(big);
    std::vector<uint8_t> comment{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'e', 'l', 'l', 'o', ' ', ' '};
    std::vector<uint8_t> tiff = b.Header();
    // IFD0 -> EXIF sub-directory with the shooting values.
    uint32_t end = b.Directory(tiff, 8, {b.Short(274, 3), b.Short(296, 3), b.Rational(282, 28, 1), b.Long(34665, 200)}, 0);
    ASSERT_LT(end, 200u);
    b.Directory(tiff, 200, {b.Short(34855, 1), b.Rational(37377, 5, 1, 10), b.Undefined(37510, comment),
                            b.Short(37385, 0x18)}, 0);
    ReadResult r = ReadSummary(JpegWithSegments({{0xE0, {'J', 'F', 'I', 'F', 0}}, {0xE1, App1Exif(tiff)},
                                                 {0xFE, {'h', 'i', '\r', '\n', 't', 0x01}}}));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.summary.present) << r.error;
    EXPECT_EQ(r.summary.orientation, 3);
    EXPECT_FLOAT_EQ(r.summary.resolutionUnit, 0.3937008f);
    EXPECT_FLOAT_EQ(r.summary.xResolution, 28.0f);
    EXPECT_EQ(r.summary.isoEquivalent, 200);            // ISO below 50 is scaled
    EXPECT_FLOAT_EQ(r.summary.exposureTime, 0.03125f);  // from the shutter speed
    EXPECT_EQ(r.summary.flashUsed, 0);
    // The comment section comes last and overrides the user comment.
    EXPECT_STREQ(r.summary.comments, "hi\nt?");
  }
}

TEST(ExifSectionReader, UserCommentAfterAsciiCode) {
  TiffBuilder b(false);
  std::vector<uint8_t> comment{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'e', 'l', 'l', 'o', ' ', ' '};
  const std::vector<uint8_t> file = JpegWithTiff(Ifd0(false, {b.Undefined(37510, comment)}));
  ReadResult r = ReadSummary(file);
  ASSERT_TRUE(r.summary.present);
  EXPECT_STREQ(r.summary.comments, "Hello");

  // Digesting leaves the held section as read: its trailing spaces go back
  // out with it.
  std::vector<uint8_t> bytes = file;
  PxMemFile in(bytes.data(), int32_t(bytes.size()));
  ExifSectionReader reader;
  ASSERT_TRUE(reader.ReadSections(&in, ExifSectionReader::kDigestExif));
  ASSERT_GE(reader.SectionCount(), 1);
  const std::vector<uint8_t>& held = reader.Section(0).data;
  ASSERT_EQ(reader.Section(0).marker, 0xE1);
  EXPECT_NE(std::search(held.begin(), held.end(), comment.begin(), comment.end()), held.end());
}

// Values far outside the integer a field holds (a double of 1e300, NaN, a
// negative thumbnail offset, an ISO that overflows when scaled) are cut into
// the field's range instead of overflowing it.
TEST(ExifSectionReader, NumbersBeyondTheirFieldsAreClamped) {
  TiffBuilder b(false);
  auto dbl = [](uint16_t tag, double v) {
    std::vector<uint8_t> bytes(8);
    std::memcpy(bytes.data(), &v, 8);
    return TiffBuilder::Entry{tag, 12, 1, bytes};
  };
  std::vector<uint8_t> tiff = Ifd0(false, {dbl(34850, 1e300), {34855, 9, 1, {0, 0, 0, 0x80}},
                                           dbl(37383, std::nan("")), dbl(37384, -1e300), dbl(37385, 1e300),
                                           dbl(513, -5.0), b.Rational(514, uint32_t(-7), 1, 10)});
  ReadResult r = ReadSummary(JpegWithTiff(tiff));
  ASSERT_TRUE(r.ok);
  ASSERT_TRUE(r.summary.present) << r.error;
  EXPECT_EQ(r.summary.exposureProgram, INT32_MAX);
  EXPECT_EQ(r.summary.isoEquivalent, INT32_MIN);
  EXPECT_EQ(r.summary.meteringMode, 0);
  EXPECT_EQ(r.summary.lightSource, INT32_MIN);
  EXPECT_EQ(r.summary.flashUsed, 1);
  EXPECT_EQ(r.summary.thumbnailSize, 0);
}

TEST(ExifSectionReader, ThumbnailPointsIntoHeldData) {
  TiffBuilder b(true);
  std::vector<uint8_t> tiff = b.Header();
  uint32_t end = b.Directory(tiff, 8, {b.Long(513, 100), b.Long(514, 6)}, 0);
  ASSERT_LT(end, 100u);
  tiff.resize(100);
  for (uint8_t c : {0xFF, 0xD8, 0xFF, 0xD9, 1, 2}) tiff.push_back(c);
  std::vector<uint8_t> bytes = JpegWithTiff(tiff);
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  ExifSectionReader reader;
  ASSERT_TRUE(reader.ReadSections(&file, ExifSectionReader::kDigestExif));
  ASSERT_EQ(reader.Summary()->thumbnailSize, 6);
  ASSERT_NE(reader.Summary()->thumbnailPointer, nullptr);
  EXPECT_EQ(0, std::memcmp(reader.Summary()->thumbnailPointer, "\xFF\xD8\xFF\xD9\x01\x02", 6));
}

// Damaged input: each case must end cleanly with the expected result and text
// (run under the sanitizers, so a read out of bounds fails the test too).
struct Malformed {
  const char* name;
  std::vector<uint8_t> bytes;
  bool sectionsOk;
  bool present;
  const char* error;
};

std::vector<Malformed> MalformedCases() {
  TiffBuilder le(false), be(true);
  std::vector<Malformed> cases;
  cases.push_back({"not a jpeg", {0x89, 'P', 'N', 'G'}, false, false, ""});
  cases.push_back({"empty", {}, false, false, ""});
  {
    std::vector<uint8_t> j{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0};
    j.insert(j.end(), {0xFF, 0xD9, 0x00, 0x02});
    cases.push_back({"APP1 too short for a TIFF header", j, false, false, "No image"});
    cases.back().error = "Incorrect Exif header";
    cases.back().sectionsOk = false;
  }
  {
    // SOF whose length covers no size fields: the size must not be read.
    std::vector<uint8_t> j{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x08, 0xFF, 0xDA, 0x00, 0x02};
    cases.push_back({"short start of frame", j, true, false, ""});
  }
  {
    std::vector<uint8_t> j{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01};
    cases.push_back({"comment length below 2", j, false, false, "invalid marker"});
  }
  {
    std::vector<uint8_t> j{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x40, 'a', 'b'};
    cases.push_back({"section past the end", j, false, false, "Premature end of file?"});
  }
  {
    // 0x20000000 rationals of 8 bytes: the byte count wraps to 0 in 32 bits.
    std::vector<uint8_t> tiff = Ifd0(false, {{282, 5, 0x20000000u, {0x10, 0, 0, 0}}});
    cases.push_back({"offset + count overflow", JpegWithTiff(tiff), true, false,
                     "Illegal pointer offset value in EXIF."});
  }
  {
    std::vector<uint8_t> tiff = le.Header();
    tiff.push_back(0x30);  // 48 entries, none there
    tiff.push_back(0x00);
    cases.push_back({"directory count past the end", JpegWithTiff(tiff), true, false,
                     "Illegally sized directory"});
  }
  {
    // IFD0 links to itself as next directory and as EXIF sub-directory.
    std::vector<uint8_t> tiff = be.Header();
    be.Directory(tiff, 8, {be.Short(274, 6), be.Long(34665, 8 + 0), be.Long(40965, 26)}, 8);
    // Tag 34665 with offset 8 is ignored (8 or less); 40965 points at 26,
    // which is inside IFD0 and walks garbage that loops back.
    cases.push_back({"looping directory links", JpegWithTiff(tiff), true, true, ""});
  }
  {
    std::vector<uint8_t> tiff = le.Header();
    le.Directory(tiff, 8, {le.Long(34665, 40)}, 0);
    le.Directory(tiff, 40, {le.Long(34665, 60)}, 0);
    le.Directory(tiff, 60, {le.Long(34665, 40)}, 40);
    cases.push_back({"two directories linking to each other", JpegWithTiff(tiff), true, true, ""});
  }
  {
    // Make and date-time values shorter than their fields, no NUL, at the
    // very end of the data.
    std::vector<uint8_t> tiff = Ifd0(true, {be.Ascii(271, "Ab", false), be.Ascii(36867, "2020:01", false)});
    cases.push_back({"text values shorter than their fields", JpegWithTiff(tiff), true, true, ""});
  }
  {
    std::vector<uint8_t> tiff = Ifd0(false, {le.Short(274, 9)});
    cases.push_back({"orientation 9", JpegWithTiff(tiff), true, true, "Undefined rotation value"});
  }
  {
    std::vector<uint8_t> tiff = Ifd0(false, {{274, 13, 1, {1, 0, 0, 0}}});
    cases.push_back({"format code 13", JpegWithTiff(tiff), true, false, "Illegal format code in EXIF dir"});
  }
  {
    std::vector<uint8_t> tiff = Ifd0(false, {le.Long(34665, 0x7FFFFFF0)});
    cases.push_back({"sub-directory far outside", JpegWithTiff(tiff), true, false, "Illegal subdirectory link"});
  }
  {
    std::vector<uint8_t> tiff = le.Header();
    tiff[6] = 0x7F; // first directory offset 0x7F000008
    le.Directory(tiff, 8, {le.Short(274, 1)}, 0);
    cases.push_back({"first directory offset outside", JpegWithTiff(tiff), true, false, "Illegally sized directory"});
  }
  {
    std::vector<uint8_t> tiff = le.Header();
    tiff[0] = 'X';
    cases.push_back({"bad byte order mark", JpegWithTiff(tiff), true, false, "Invalid Exif alignment marker."});
  }
  {
    TiffBuilder b(false);
    std::vector<uint8_t> tiff = b.Header();
    b.Directory(tiff, 8, {b.Long(513, 30), b.Long(514, 0xFFFFFFF0u)}, 0);
    cases.push_back({"thumbnail length past the end", JpegWithTiff(tiff), true, true, ""});
  }
  {
    std::vector<Segment> many(20, Segment{0xE2, {1, 2, 3}});
    cases.push_back({"too many sections", JpegWithSegments(many), false, false, "Too many sections in jpg file"});
  }
  {
    std::vector<uint8_t> j{0xFF, 0xD8};
    for (int i = 0; i < 7; ++i) j.push_back(0xFF);
    j.push_back(0xE2);
    cases.push_back({"padding run", j, false, false, ""});
  }
  return cases;
}

TEST(ExifSectionReader, MalformedInputEndsCleanly) {
  for (const Malformed& c : MalformedCases()) {
    SCOPED_TRACE(c.name);
    ReadResult r = ReadSummary(c.bytes);
    EXPECT_EQ(r.ok, c.sectionsOk);
    EXPECT_EQ(r.summary.present, c.present);
    if (*c.error) {
      EXPECT_EQ(r.error, c.error);
    }
    EXPECT_EQ(r.summary.thumbnailSize, 0);
  }
}

TEST(ExifSectionReader, KeepsExifAndCommentAndWritesThemBack) {
  TiffBuilder b(false);
  std::vector<uint8_t> src = JpegWithSegments(
      {{0xE1, App1Exif(Ifd0(false, {b.Short(274, 8)}))}, {0xFE, {'n', 'o', 't', 'e'}}, {0xE2, {9}}});
  PxMemFile in(src.data(), int32_t(src.size()));
  ExifSectionReader reader;
  ASSERT_TRUE(reader.ReadSections(&in, ExifSectionReader::kDigestExif));
  reader.KeepExifAndComment();
  ASSERT_EQ(reader.SectionCount(), 2);

  // A second file, read with its image data, gets them in front of its own.
  std::vector<uint8_t> plain = JpegWithSegments({{0xDB, {0}}}, 10, 10, 1);
  PxMemFile second(plain.data(), int32_t(plain.size()));
  ASSERT_TRUE(reader.ReadSections(&second, ExifSectionReader::kReadImageData));
  PxMemFile out;
  ASSERT_TRUE(out.Open());
  ASSERT_TRUE(reader.WriteSections(&out));
  std::vector<uint8_t> written(out.Buffer(), out.Buffer() + out.DataSize());
  ReadResult r = ReadSummary(written);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.summary.present);
  EXPECT_EQ(r.summary.orientation, 8);
  EXPECT_STREQ(r.summary.comments, "note");
  EXPECT_EQ(r.summary.width, 10);
  EXPECT_EQ(written.back(), 0xD9);  // the image data went out whole
}

TEST(ExifSectionReader, WriteWithoutImageDataFails) {
  std::vector<uint8_t> src = JpegWithSegments({});
  PxMemFile in(src.data(), int32_t(src.size()));
  ExifSectionReader reader;
  ASSERT_TRUE(reader.ReadSections(&in, ExifSectionReader::kDigestExif));
  PxMemFile out;
  ASSERT_TRUE(out.Open());
  EXPECT_FALSE(reader.WriteSections(&out));
  EXPECT_STREQ(reader.LastError(), "Can't write exif : didn't read all");
}

}  // namespace
