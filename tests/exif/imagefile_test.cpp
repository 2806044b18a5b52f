// The EXIF image file against real pictures tagged by exiftool: every edit
// leaves a file that exiftool validates, changes exactly the tags it should,
// keeps the segment order and leaves the image data byte for byte.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "exif/ExifImageFile.h"
#include "exif_test_util.h"
#include "jpeg_builder.h"
#include "tiff_helpers.h"

using namespace exiftest;

namespace {

const char* const kNewTime = "2020:01:02 03:04:05";

ExifResult PutTime(const std::string& path, const std::string& text) {
  ExifImageFile f;
  ExifResult st = f.Open(path, "r+");
  if (st != kExifOk) return st;
  st = f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string(text)));
  if (st != kExifOk) return st;
  return f.Close();
}

ExifTiffAppSeg* ExifSegment(ExifImageFile& f) {
  return dynamic_cast<ExifTiffAppSeg*>(f.Segments().FindSegment(nullptr, 0xFFE1, "Exif", true));
}

ExifResult CloneTags(const std::string& from, const std::string& to) {
  ExifImageFile src;
  ExifResult st = src.Open(from, "r");
  if (st != kExifOk) return st;
  DirectoryTagList list;
  if (ExifTiffAppSeg* tiff = ExifSegment(src)) {
    for (auto& d : tiff->Directories()) d->CollectTags(&list, {{0, d->Index()}});
  }
  ExifImageFile dst;
  st = dst.Open(to, "r+");
  if (st != kExifOk) return st;
  st = dst.ApplyTagList("Exif", list);
  if (st != kExifOk) return st;
  return dst.Close();
}

std::string TagValue(const std::string& path, const std::string& tag) {
  std::string out;
  exiftest::Run("exiftool -s3 -n " + tag + " " + Quote(path), &out);
  while (!out.empty() && (out.back() == '\n')) out.pop_back();
  return out;
}

std::set<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

struct EditCase {
  const char* fixture;
  std::vector<std::string> order;
};
void PrintTo(const EditCase& c, std::ostream* os) { *os << c.fixture; }

// Offset of the first marker m found by walking the segments from the start
// (so that markers inside an EXIF thumbnail are not mistaken for the file's).
size_t FindMarker(const std::vector<uint8_t>& j, uint8_t m) {
  size_t pos = 2;
  while (pos + 4 <= j.size() && j[pos] == 0xFF) {
    if (j[pos + 1] == m) return pos;
    pos += 2 + ((j[pos + 2] << 8) | j[pos + 3]);
  }
  return std::string::npos;
}

double Number(const std::string& s) { return s.empty() ? -1 : std::stod(s); }

class EditEveryFixture : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditEveryFixture, ShootingTimeEditIsCleanAndMinimal) {
  const EditCase& c = GetParam();
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/" + c.fixture, file);
  const std::vector<uint8_t> before = ReadAll(file);
  const std::string beforeTags = DumpTags(file, tmp / "before.json");
  ASSERT_EQ(SegmentOrder(file), c.order);

  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);

  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_EQ(TagDiff(beforeTags, DumpTags(file, tmp / "after.json")),
            std::vector<std::string>{"~ExifIFD:DateTimeOriginal"});
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
  EXPECT_EQ(SegmentOrder(file), c.order);
  EXPECT_EQ(FromFirstDqt(ReadAll(file)), FromFirstDqt(before));
  for (const auto& e : std::filesystem::directory_iterator(tmp.Path())) {
    EXPECT_NE(e.path().filename().string().rfind(".pixelwharf", 0), 0u) << "temporary file left behind";
  }
}

TEST_P(EditEveryFixture, UnchangedEditRewritesTheSameTags) {
  const EditCase& c = GetParam();
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/" + c.fixture, file);
  const std::string beforeTags = DumpTags(file, tmp / "before.json");
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_TRUE(TagDiff(beforeTags, DumpTags(file, tmp / "after.json")).empty());
  EXPECT_EQ(SegmentOrder(file), c.order);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EditEveryFixture,
    ::testing::Values(EditCase{"be.jpg", {"APP0", "APP1"}}, EditCase{"le.jpg", {"APP0", "APP1"}},
                      EditCase{"makernote.jpg", {"APP0", "APP1"}},
                      EditCase{"icc.jpg", {"APP0", "APP1", "APP1", "APP2", "COM"}},
                      EditCase{"cmyk.jpg", {"APP1", "APP14"}}),
    [](const auto& info) {
      std::string n = info.param.fixture;
      return n.substr(0, n.find('.'));
    });

TEST(ExifImageFile, KeepsByteOrderThumbnailAndMakerNote) {
  TempDir tmp;
  for (const char* name : {"be.jpg", "le.jpg"}) {
    const std::string file = tmp / name;
    CopyFile(Fixtures() + "/" + name, file);
    const std::string order = TagValue(file, "-ExifByteOrder");
    ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
    EXPECT_EQ(TagValue(file, "-ExifByteOrder"), order) << name;
    std::string thumb;
    exiftest::Run("exiftool -b -ThumbnailImage " + Quote(file), &thumb);
    const std::vector<uint8_t> expected = ReadAll(Fixtures() + "/thumb.jpg");
    EXPECT_EQ(std::vector<uint8_t>(thumb.begin(), thumb.end()), expected) << name;
  }
  const std::string mn = tmp / "mn.jpg";
  CopyFile(Fixtures() + "/makernote.jpg", mn);
  const std::string iso = TagValue(mn, "-Nikon:ISO");
  ASSERT_NE(iso, "");
  ASSERT_EQ(PutTime(mn, kNewTime), kExifOk);
  EXPECT_EQ(TagValue(mn, "-Nikon:Quality"), "FINE");
  EXPECT_EQ(TagValue(mn, "-Nikon:ISO"), iso);
}

// Renames a tag of the second top-level directory (the thumbnail's) in
// place, keeping the entries sorted: a picture whose writer left a tag out.
void RenameThumbnailTag(std::vector<uint8_t>* jpeg, uint16_t from, uint16_t to) {
  const std::string id("Exif\0\0", 6);
  auto it = std::search(jpeg->begin(), jpeg->end(), id.begin(), id.end());
  ASSERT_NE(it, jpeg->end());
  const size_t base = static_cast<size_t>(it - jpeg->begin()) + 6;
  const std::vector<uint8_t> tiff(jpeg->begin() + static_cast<long>(base), jpeg->end());
  const RawIfd ifd1 = ReadRawIfd(tiff, ReadRawIfd(tiff, FirstIfdOffset(tiff)).next);
  const RawEntry* e = ifd1.Find(from);
  ASSERT_NE(e, nullptr);
  uint8_t* tag = jpeg->data() + base + e->fieldPos - 8;
  const bool big = tiff[0] == 'M';
  tag[0] = static_cast<uint8_t>(big ? to >> 8 : to & 0xFF);
  tag[1] = static_cast<uint8_t>(big ? to & 0xFF : to >> 8);
}

// A JPEG thumbnail known only by its offset and length (no Compression tag)
// keeps its bytes through an edit, and the offset points at them again.
TEST(ExifImageFile, ThumbnailWithoutCompressionTagKeepsItsBytes) {
  TempDir tmp;
  const std::vector<uint8_t> expected = ReadAll(Fixtures() + "/thumb.jpg");
  for (const char* name : {"be.jpg", "le.jpg"}) {
    const std::string file = tmp / name;
    std::vector<uint8_t> bytes = ReadAll(Fixtures() + "/" + name);
    RenameThumbnailTag(&bytes, 259, 263);
    WriteAll(file, bytes);
    std::string thumb;
    exiftest::Run("exiftool -b -ThumbnailImage " + Quote(file), &thumb);
    ASSERT_EQ(std::vector<uint8_t>(thumb.begin(), thumb.end()), expected) << name;

    ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
    thumb.clear();
    exiftest::Run("exiftool -b -ThumbnailImage " + Quote(file), &thumb);
    EXPECT_EQ(std::vector<uint8_t>(thumb.begin(), thumb.end()), expected) << name;
    EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime) << name;
  }
}

TEST(ExifImageFile, CloneCarriesTagsAndKeepsTheTargetsOtherSegments) {
  TempDir tmp;
  const std::string src = Fixtures() + "/be.jpg";
  const std::string dst = tmp / "dst.jpg";
  CopyFile(Fixtures() + "/icc.jpg", dst);
  const std::vector<uint8_t> before = ReadAll(dst);
  const std::string beforeTags = DumpTags(dst, tmp / "before.json");
  ASSERT_EQ(CloneTags(src, dst), kExifOk);

  EXPECT_EQ(ValidationProblems(dst), "");
  EXPECT_EQ(SegmentOrder(dst), (std::vector<std::string>{"APP0", "APP1", "APP1", "APP2", "COM"}));
  EXPECT_EQ(FromFirstDqt(ReadAll(dst)), FromFirstDqt(before));
  for (const char* tag : {"-GPSLatitude", "-GPSAltitude", "-ExposureTime", "-FNumber"}) {
    EXPECT_NEAR(Number(TagValue(dst, tag)), Number(TagValue(src, tag)), 1e-6) << tag;
  }
  for (const char* tag : {"-Make", "-InteropIndex", "-DateTimeOriginal"}) {
    EXPECT_EQ(TagValue(dst, tag), TagValue(src, tag)) << tag;
  }
  // The target keeps its own size, XMP, ICC profile and comment.
  EXPECT_EQ(TagValue(dst, "-ExifImageWidth"), "64");
  EXPECT_EQ(TagValue(dst, "-XMP-dc:Title"), "Harbour");
  EXPECT_EQ(TagValue(dst, "-Comment"), "a comment that must survive");
  EXPECT_NE(TagValue(dst, "-ICC_Profile:ProfileDescription"), "");
  // The source's thumbnail directory has no data in the target: left out.
  const std::set<std::string> diff = AsSet(TagDiff(beforeTags, DumpTags(dst, tmp / "after.json")));
  EXPECT_TRUE(diff.count("+GPS:GPSLatitude"));
  EXPECT_FALSE(diff.count("+IFD1:Compression"));
}

TEST(ExifImageFile, CloneIntoLittleEndianCmyk) {
  TempDir tmp;
  const std::string dst = tmp / "dst.jpg";
  CopyFile(Fixtures() + "/cmyk.jpg", dst);
  const std::vector<uint8_t> before = ReadAll(dst);
  ASSERT_EQ(CloneTags(Fixtures() + "/le.jpg", dst), kExifOk);
  EXPECT_EQ(ValidationProblems(dst), "");
  EXPECT_EQ(SegmentOrder(dst), (std::vector<std::string>{"APP1", "APP14"}));
  EXPECT_EQ(FromFirstDqt(ReadAll(dst)), FromFirstDqt(before));
  EXPECT_EQ(TagValue(dst, "-GPSLongitude"), "120.25");
  EXPECT_EQ(TagValue(dst, "-ExifImageWidth"), "48");
}

TEST(ExifImageFile, FileWithoutJfifOrExifGetsTheDefaultSegment) {
  TempDir tmp;
  const std::string file = tmp / "bare.jpg";
  CopyFile(Fixtures() + "/bare.jpg", file);
  const std::vector<uint8_t> before = ReadAll(file);
  ASSERT_EQ(SegmentOrder(file), std::vector<std::string>{});
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    ExifTiffAppSeg* tiff = ExifSegment(f);
    ASSERT_NE(tiff, nullptr);
    TagDirectory* exifDir = tiff->FindDirectory({{0, 0}, {34665, 0}});
    ASSERT_NE(exifDir, nullptr);
    auto* w = dynamic_cast<ExifEntryU32*>(exifDir->GetEntry(40962));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Value(), 50u);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_EQ(SegmentOrder(file), std::vector<std::string>{"APP1"});
  EXPECT_EQ(TagValue(file, "-ExifByteOrder"), "II");
  EXPECT_EQ(TagValue(file, "-ExifImageHeight"), "40");
  EXPECT_EQ(TagValue(file, "-ExifVersion"), "0210");
  EXPECT_EQ(TagValue(file, "-XResolution"), "72");
  EXPECT_EQ(FromFirstDqt(ReadAll(file)), FromFirstDqt(before));
}

TEST(ExifImageFile, NewSegmentInJfifFileIsCompleteAndLittleEndian) {
  TempDir tmp;
  const std::string file = tmp / "jfif.jpg";
  // JFIF only, no EXIF: the head check passes, the tag needs a new segment.
  exiftest::Run("convert-im6.q16 -size 30x20 gradient:red-white -quality 90 " + Quote(file));
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_EQ(SegmentOrder(file), (std::vector<std::string>{"APP0", "APP1"}));
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
  EXPECT_EQ(TagValue(file, "-ExifByteOrder"), "II");
  EXPECT_EQ(TagValue(file, "-ExifImageWidth"), "30");
}

// A new EXIF block beside a JFIF header repeats the header's density rather
// than the 72-dpi default, which readers preferring EXIF would believe.
TEST(ExifImageFile, NewSegmentTakesItsResolutionFromTheJfifHeader) {
  struct Case {
    const char* density;  // ImageMagick options
    const char* jfifUnit;
    const char* x;
    const char* y;
    const char* unit;
    const char* jfifX;
  } cases[] = {
      {"-units PixelsPerInch -density 300", "1", "300", "300", "2", "300"},
      {"-units PixelsPerCentimeter -density 118x59", "2", "118", "59", "3", "118"},
      {"", "0", "1", "1", "1", "1"},  // an aspect ratio only: no unit, the ratio
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.density);
    TempDir tmp;
    const std::string file = tmp / "jfif.jpg";
    exiftest::Run(std::string("convert-im6.q16 -size 30x20 gradient:red-white ") + c.density + " " + Quote(file));
    ASSERT_EQ(SegmentOrder(file), std::vector<std::string>{"APP0"});
    ASSERT_EQ(TagValue(file, "-JFIF:ResolutionUnit"), c.jfifUnit);
    ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
    EXPECT_EQ(ValidationProblems(file), "");
    EXPECT_EQ(TagValue(file, "-IFD0:XResolution"), c.x);
    EXPECT_EQ(TagValue(file, "-IFD0:YResolution"), c.y);
    EXPECT_EQ(TagValue(file, "-IFD0:ResolutionUnit"), c.unit);
    EXPECT_EQ(TagValue(file, "-JFIF:XResolution"), c.jfifX);  // the header itself is kept
  }
}

TEST(ExifImageFile, PutIntoSegmentWithoutExifDirectoryCreatesItAndThePointer) {
  TempDir tmp;
  TiffBytes t(true);
  t.Header(8);
  t.U16(1);
  t.Entry(0x0131, kTiffAscii, 4, 0x41424300);  // Software "ABC"
  t.U32(0);
  const std::string file = tmp / "x.jpg";
  WriteAll(file, JpegWithExif(t.Data(), FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"))));
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  ExifImageFile f;
  ASSERT_EQ(f.Open(file, "r"), kExifOk);
  ExifTiffAppSeg* tiff = ExifSegment(f);
  ASSERT_NE(tiff, nullptr);
  ASSERT_NE(tiff->FindDirectory({{0, 0}})->GetEntry(34665), nullptr);
  TagDirectory* exifDir = tiff->FindDirectory({{0, 0}, {34665, 0}});
  ASSERT_NE(exifDir, nullptr);
  auto* text = dynamic_cast<ExifEntryText*>(exifDir->GetEntry(36867));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Value(), kNewTime);
  EXPECT_EQ(TagValue(file, "-Software"), "ABC");
}

// exiftool writes only IFD0 when asked for IFD0 tags alone; the EXIF
// directory the shooting time needs is made complete, so the file still
// validates.
TEST(ExifImageFile, NewExifDirectoryInAnExistingSegmentValidates) {
  TempDir tmp;
  const std::string file = tmp / "ifd0only.jpg";
  CopyFile(Fixtures() + "/bare.jpg", file);
  ASSERT_EQ(exiftest::Run("exiftool -q -overwrite_original -IFD0:Make=Maker " + Quote(file)), 0);
  ASSERT_EQ(ValidationProblems(file), "");
  ASSERT_EQ(TagValue(file, "-ExifVersion"), "");
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
  EXPECT_EQ(TagValue(file, "-Make"), "Maker");
  EXPECT_EQ(TagValue(file, "-ExifImageWidth"), "50");
}

TEST(ExifImageFile, OnlyTheFirstOfTwoExifSegmentsIsEditedBothAreKept) {
  TempDir tmp;
  const std::vector<uint8_t> tail = FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"));
  auto tiffWith = [](uint32_t software) {
    TiffBytes t(false);
    t.Header(8);
    t.U16(1);
    t.Entry(0x0131, kTiffAscii, 4, software);
    t.U32(0);
    return t.Data();
  };
  std::vector<uint8_t> j = JpegWithExif(tiffWith(0x00313131), tail);  // "111"
  std::vector<uint8_t> second = JpegWithExif(tiffWith(0x00323232), {});  // "222"
  j.insert(j.begin() + 2, second.begin() + 2, second.end());  // "222" first, then "111"
  const std::string file = tmp / "two.jpg";
  WriteAll(file, j);
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  ExifImageFile f;
  ASSERT_EQ(f.Open(file, "r"), kExifOk);
  std::vector<ExifAppSegment*> segs = f.Segments().Segments();
  ASSERT_EQ(segs.size(), 2u);
  auto software = [&](ExifAppSegment* s) -> std::string {
    auto* raw = dynamic_cast<ExifRawAppSeg*>(s);
    std::string bytes(raw->Bytes().begin(), raw->Bytes().end());
    if (bytes.find("222") != std::string::npos) return "222";
    if (bytes.find("111") != std::string::npos) return "111";
    return "";
  };
  EXPECT_EQ(software(segs[0]), "222");
  EXPECT_EQ(software(segs[1]), "111");
  const std::string first(dynamic_cast<ExifRawAppSeg*>(segs[0])->Bytes().begin(),
                          dynamic_cast<ExifRawAppSeg*>(segs[0])->Bytes().end());
  EXPECT_NE(first.find(kNewTime), std::string::npos);
}

TEST(ExifImageFile, OpenStatuses) {
  TempDir tmp;
  const std::vector<uint8_t> good = ReadAll(Fixtures() + "/be.jpg");
  auto withSof = [&](std::vector<uint8_t> j, size_t field, uint8_t v) {
    j[FindMarker(j, 0xC0) + 4 + field] = v;
    return j;
  };
  auto withDht = [&](std::vector<uint8_t> j, size_t field, uint8_t v) {
    j[FindMarker(j, 0xC4) + 4 + field] = v;
    return j;
  };
  // The first DHT is a DC table. Two codes of length 1 leave no room for any
  // longer code: the counts keep their total but overflow the code space.
  auto overflowing = [&](std::vector<uint8_t> j) {
    const size_t at = FindMarker(j, 0xC4) + 5;
    int total = 0;
    for (int i = 0; i < 16; ++i) total += j[at + i];
    for (int i = 0; i < 16; ++i) j[at + i] = 0;
    j[at] = 2;
    j[at + 15] = static_cast<uint8_t>(total - 2);
    return j;
  };
  std::vector<uint8_t> overflow = overflowing(good);
  std::vector<uint8_t> dcValue = withDht(good, 17, 16);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ExifResult expected;
  } cases[] = {
      {"empty", {}, kExifReadFailed},
      {"starts with EOI", {0xFF, 0xD9, 0, 0, 0, 0}, kExifBadData},
      // Frame header: precision, height, width, count, then id/sampling/table.
      {"component id R", withSof(withSof(good, 6, 82), 9, 71), kExifOk},
      {"five components", withSof(good, 5, 5), kExifBadData},
      {"Huffman codes overflow", overflow, kExifBadHuffman},
      {"DC symbol 16", dcValue, kExifBadHuffman},
      {"APPn cut short", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x40, 'E', 'x'}, kExifReadFailed},
  };
  for (const Case& c : cases) {
    const std::string file = tmp / "c.jpg";
    WriteAll(file, c.bytes);
    ExifImageFile f;
    EXPECT_EQ(f.Open(file, "r"), c.expected) << c.name;
  }
  ExifImageFile missing;
  EXPECT_EQ(missing.Open(tmp / "nothing.jpg", "r"), kExifOpenFailed);
  ExifImageFile badMode;
  EXPECT_EQ(badMode.Open(Fixtures() + "/be.jpg", "a"), kExifBadMode);
}

TEST(ExifImageFile, ReadOnlyCloseAndFailedEditOpenLeaveTheFileAlone) {
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  struct stat before {};
  stat(file.c_str(), &before);
  const std::vector<uint8_t> bytes = ReadAll(file);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r"), kExifOk);
    f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string(kNewTime)));
    EXPECT_EQ(f.Close(), kExifOk);
    EXPECT_EQ(f.Close(), kExifOk);  // a second close finds nothing to do
  }
  EXPECT_EQ(ReadAll(file), bytes);

  // A file whose Huffman table is refused: the edit open fails and the
  // close must not write the half-understood file back.
  std::vector<uint8_t> bad = bytes;
  bad[FindMarker(bad, 0xC4) + 4 + 17] = 16;
  WriteAll(file, bad);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifBadHuffman);
    EXPECT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ReadAll(file), bad);
}

TEST(ExifImageFile, OnlyCloseWritesAnEditBack) {
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  const std::vector<uint8_t> bytes = ReadAll(file);
  // A caller that opens for update, changes tags and returns early (an
  // error on its way, an exception) must leave the file byte for byte.
  auto editThenGiveUp = [&]() -> ExifResult {
    ExifImageFile f;
    ExifResult st = f.Open(file, "r+");
    if (st != kExifOk) return st;
    st = f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string(kNewTime)));
    if (st != kExifOk) return st;
    DirectoryTagList none;
    return f.ApplyTagList("Exif", none);  // no Close
  };
  ASSERT_EQ(editThenGiveUp(), kExifOk);
  EXPECT_EQ(ReadAll(file), bytes);
  for (const auto& e : std::filesystem::directory_iterator(tmp.Path()))
    EXPECT_EQ(e.path().filename(), "pic.jpg") << "temporary file left behind";
  // The same edit with its close is written.
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
}

TEST(ExifImageFile, FrameComponentsKeepTheirOwnSlots) {
  TempDir tmp;
  const std::string file = tmp / "c.jpg";
  // cmyk.jpg (ImageMagick) numbers its four components 1 to 4, as Adobe
  // CMYK does; distinct sampling bytes show which slot each one took.
  std::vector<uint8_t> cmyk = ReadAll(Fixtures() + "/cmyk.jpg");
  const size_t sof = FindMarker(cmyk, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  ASSERT_EQ(cmyk[sof + 9], 4);
  const uint8_t samplings[4] = {0x22, 0x21, 0x12, 0x11};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(cmyk[sof + 10 + 3 * i], i + 1);
    cmyk[sof + 11 + 3 * i] = samplings[i];
    cmyk[sof + 12 + 3 * i] = static_cast<uint8_t>(3 - i);
  }
  WriteAll(file, cmyk);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r"), kExifOk);
    EXPECT_EQ(f.components, 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(f.sampling[i], samplings[i]) << "component " << i + 1;
      EXPECT_EQ(f.quantTableNo[i], 3 - i) << "component " << i + 1;
    }
  }
  // Ids 1 to 3 (YCbCr as libjpeg writes it) stay under their ids.
  std::vector<uint8_t> ycc = ReadAll(Fixtures() + "/be.jpg");
  const size_t frame = FindMarker(ycc, 0xC0);
  ASSERT_NE(frame, std::string::npos);
  ASSERT_EQ(ycc[frame + 9], 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ycc[frame + 10 + 3 * i], i + 1);
    ycc[frame + 11 + 3 * i] = samplings[i];
  }
  WriteAll(file, ycc);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r"), kExifOk);
    EXPECT_EQ(f.sampling[0], 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.sampling[i + 1], samplings[i]) << "component " << i + 1;
  }
}

TEST(ExifImageFile, FillBytesBeforeMarkersAreSteppedOverAlike) {
  // Fill bytes (0xFF) may stand before any marker. The open scan, the head
  // check and the rewrite's search for the image data must agree on them:
  // the JFIF head is seen, every segment is kept once and the image data
  // is copied unchanged.
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  std::vector<uint8_t> j = ReadAll(Fixtures() + "/be.jpg");
  const size_t app1 = FindMarker(j, 0xE1);
  const size_t dqt = FindMarker(j, 0xDB);
  ASSERT_NE(app1, std::string::npos);
  ASSERT_NE(dqt, std::string::npos);
  j.insert(j.begin() + static_cast<std::ptrdiff_t>(dqt), {0xFF, 0xFF, 0xFF});
  j.insert(j.begin() + static_cast<std::ptrdiff_t>(app1), {0xFF, 0xFF});
  j.insert(j.begin() + 2, 0xFF);
  WriteAll(file, j);
  const std::vector<uint8_t> imageData = FromFirstDqt(ReadAll(Fixtures() + "/be.jpg"));
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
  EXPECT_EQ(SegmentOrder(file), (std::vector<std::string>{"APP0", "APP1"}));
  EXPECT_EQ(FromFirstDqt(ReadAll(file)), imageData);
  EXPECT_EQ(ValidationProblems(file), "");
}

TEST(ExifImageFile, FailedWriteLeavesTheOriginalWholeAndNoTemporaryFile) {
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  const std::vector<uint8_t> bytes = ReadAll(file);
  // A file-size limit below the picture's size stands in for a full disk.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &lim);
    ExifImageFile f;
    if (f.Open(file, "r+") != kExifOk) _exit(10);
    f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string(kNewTime)));
    _exit(f.Close() == kExifOk ? 0 : 20);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 20);
  EXPECT_EQ(ReadAll(file), bytes);
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(tmp.Path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST(ExifImageFile, KeepsFileMode) {
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  CopyFile(Fixtures() + "/le.jpg", file);
  chmod(file.c_str(), 0640);
  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  struct stat st {};
  stat(file.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ExifImageFile, OversizedSegmentDropsItsThumbnailOrFailsWithoutWriting) {
  TempDir tmp;
  const std::string file = tmp / "big.jpg";
  CopyFile(Fixtures() + "/be.jpg", file);
  const std::vector<uint8_t> before = ReadAll(file);
  // 64700 bytes of user comment and the thumbnail do not fit together.
  std::vector<char> comment(64700, 'x');
  memcpy(comment.data(), "ASCII\0\0\0", 8);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    ASSERT_EQ(f.PutExifTag(ExifEntryS8Vec(37510, kTiffUndefined, 64700, std::vector<char>(comment))), kExifOk);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ValidationProblems(file), "");
  EXPECT_EQ(TagValue(file, "-ThumbnailImage"), "");
  EXPECT_EQ(TagValue(file, "-UserComment").size(), 64700u - 8);
  EXPECT_EQ(FromFirstDqt(ReadAll(file)), FromFirstDqt(before));

  // Without a thumbnail to give up, a segment that cannot fit is an error
  // and the file stays as it was.
  CopyFile(Fixtures() + "/be.jpg", file);
  std::vector<char> huge(70000, 'y');
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    ASSERT_EQ(f.PutExifTag(ExifEntryS8Vec(37510, kTiffUndefined, 70000, std::move(huge))), kExifOk);
    EXPECT_EQ(f.Close(), kExifWriteFailed);
  }
  EXPECT_EQ(ReadAll(file), before);
}

TEST(ExifImageFile, NewFileHasNoImageData) {
  TempDir tmp;
  ExifImageFile f;
  ASSERT_EQ(f.Open(tmp / "new.jpg", "w"), kExifOk);
  ExifTiffAppSeg* tiff = dynamic_cast<ExifTiffAppSeg*>(f.Segments().FindSegment(nullptr, 0xFFE1, "Exif", false));
  ASSERT_NE(tiff, nullptr);
  EXPECT_NE(tiff->FindDirectory({{0, 0}, {34665, 0}})->GetEntry(36864), nullptr);
  EXPECT_EQ(f.Close(), kExifNoImageData);
}

TEST(ExifImageFile, DirectoryKinds) {
  uint16_t marker;
  std::string id;
  TagDirectoryPath path;
  EXPECT_EQ(DirectoryKindToPath(2, &marker, &id, &path), kExifBadDirKind);
  ASSERT_EQ(DirectoryKindToPath(3, &marker, &id, &path), kExifOk);
  EXPECT_EQ(path, (TagDirectoryPath{{0, 0}, {34665, 0}, {40965, 0}}));
  ASSERT_EQ(DirectoryKindToPath(9, &marker, &id, &path), kExifOk);
  EXPECT_EQ(marker, 0xFFE3);
  EXPECT_EQ(id, "Meta");
}

}  // namespace

namespace {

// The file's APP1 "Exif" segment, marker to end, as stored.
std::vector<uint8_t> ExifSegmentBytes(const std::string& path) {
  const std::vector<uint8_t> j = ReadAll(path);
  size_t pos = 2;
  while (pos + 10 <= j.size() && j[pos] == 0xFF) {
    const size_t length = (j[pos + 2] << 8) | j[pos + 3];
    if (j[pos + 1] == 0xE1 && std::memcmp(&j[pos + 4], "Exif\0\0", 6) == 0 && pos + 2 + length <= j.size())
      return {j.begin() + static_cast<std::ptrdiff_t>(pos), j.begin() + static_cast<std::ptrdiff_t>(pos + 2 + length)};
    pos += 2 + length;
  }
  return {};
}

// Shortens the count of the big-endian ASCII entry `tag` from `count` to
// `count - 1`, so that its text is stored without its closing zero.
bool DropClosingZero(std::vector<uint8_t>& bytes, uint16_t tag, uint8_t count) {
  const uint8_t entry[] = {static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag & 0xFF), 0, 2, 0, 0, 0, count};
  const auto at = std::search(bytes.begin(), bytes.end(), std::begin(entry), std::end(entry));
  if (at == bytes.end()) return false;
  at[7] = static_cast<uint8_t>(count - 1);
  return true;
}

}  // namespace

// Opening for editing and closing with no change keeps the EXIF block byte
// for byte: ASCII values stored without their closing zero (one inline,
// one in the value area) stay so, and a second directory that states only
// a resolution (no thumbnail data) stays in the chain. An edit elsewhere
// keeps them too.
TEST(ExifImageFile, AnUnchangedEditKeepsTheBlockByteForByte) {
  TempDir tmp;
  const std::string file = tmp / "pic.jpg";
  ASSERT_EQ(exiftest::Run("convert-im6.q16 -size 32x24 gradient:red-blue " + Quote(file)), 0);
  ASSERT_EQ(exiftest::Run("exiftool -q -overwrite_original -ExifByteOrder=MM -Artist=ABC -Software=Editor1 "
                "-IFD1:XResolution=72 -IFD1:YResolution=72 -IFD1:ResolutionUnit=inches " + Quote(file)),
            0);
  std::vector<uint8_t> bytes = ReadAll(file);
  ASSERT_TRUE(DropClosingZero(bytes, 0x013B, 4));  // "ABC", inline
  ASSERT_TRUE(DropClosingZero(bytes, 0x0131, 8));  // "Editor1", in the value area
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  const std::vector<uint8_t> before = ExifSegmentBytes(file);
  ASSERT_FALSE(before.empty());
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ExifSegmentBytes(file), before);

  ASSERT_EQ(PutTime(file, kNewTime), kExifOk);
  std::vector<uint8_t> after = ReadAll(file);
  EXPECT_FALSE(DropClosingZero(after, 0x013B, 4));
  EXPECT_FALSE(DropClosingZero(after, 0x0131, 8));
  EXPECT_EQ(TagValue(file, "-Artist") + "|" + TagValue(file, "-Software"), "ABC|Editor1");
  EXPECT_EQ(TagValue(file, "-IFD1:XResolution") + "|" + TagValue(file, "-IFD1:ResolutionUnit"), "72|2");
  EXPECT_EQ(TagValue(file, "-DateTimeOriginal"), kNewTime);
}
