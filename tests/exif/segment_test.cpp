// Application segments: typing, ordering, byte order, the JFIF layout and
// raw segments written back byte for byte.
#include <gtest/gtest.h>

#include "exif/ExifAppSegment.h"
#include "exif/ExifImageFile.h"
#include "exif_test_util.h"
#include "jpeg_builder.h"
#include "tiff_helpers.h"

using namespace exiftest;

namespace {

std::unique_ptr<ExifRawAppSeg> RawFrom(const std::vector<uint8_t>& segment, const std::string& id) {
  std::vector<uint8_t> buf = segment;
  ExifResult st;
  ExifStream mem(&st, buf.data(), static_cast<int64_t>(buf.size()), "r");
  auto raw = std::make_unique<ExifRawAppSeg>(static_cast<uint16_t>(0xFF00 | segment[1]), id);
  EXPECT_EQ(raw->Read(&mem, static_cast<uint16_t>(segment[2] << 8 | segment[3]), 0), kExifOk);
  return raw;
}

std::vector<uint8_t> Body(const std::string& id, const std::vector<uint8_t>& rest) {
  std::vector<uint8_t> b(id.begin(), id.end());
  b.push_back(0);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

std::vector<uint8_t> SmallTiff(bool big, uint32_t next = 0, uint16_t magic = 42) {
  TiffBytes t(big);
  t.Text(big ? "MM" : "II");
  t.U16(magic);
  t.U32(8);
  t.U16(1);
  t.Entry(271, kTiffAscii, 2, big ? 0x41000000 : 0x41);
  t.U32(next);
  return t.Data();
}

}  // namespace

TEST(AppSegmentList, InsertSortsByMarkerAndKeepsArrivalOrder) {
  AppSegmentList list;
  list.Insert(std::make_unique<ExifRawAppSeg>(0xFFE1, "first"));
  list.Insert(std::make_unique<ExifRawAppSeg>(0xFFE0, "JFIF"));
  list.Insert(std::make_unique<ExifRawAppSeg>(0xFFE2, "ICC_PROFILE"));
  list.Insert(std::make_unique<ExifRawAppSeg>(0xFFE1, "second"));
  std::vector<std::string> ids;
  for (ExifAppSegment* s : list.Segments()) ids.push_back(s->Identifier());
  EXPECT_EQ(ids, (std::vector<std::string>{"JFIF", "first", "second", "ICC_PROFILE"}));
  EXPECT_EQ(list.FindSegment(nullptr, 0xFFE1, "second", false)->Identifier(), "second");
  EXPECT_EQ(list.FindSegment(nullptr, 0xFFE1, "third", false), nullptr);
}

TEST(AppSegment, Factory) {
  struct Case {
    uint16_t marker;
    const char* id;
    bool tiff, app0;
  } cases[] = {
      {0xFFE0, "JFIF", false, true}, {0xFFE0, "JFXX", false, true}, {0xFFE1, "Exif", true, false},
      {0xFFE1, "Exif ", false, false}, {0xFFE1, "exif", false, false}, {0xFFE3, "META", true, false},
      {0xFFE3, "Meta", true, false}, {0xFFE3, "EXIF", true, false}, {0xFFE2, "Exif", false, false},
  };
  for (const Case& c : cases) {
    auto s = CreateAppSegment(c.marker, c.id);
    EXPECT_EQ(dynamic_cast<ExifTiffAppSeg*>(s.get()) != nullptr, c.tiff) << c.id;
    EXPECT_EQ(dynamic_cast<ExifApp0Seg*>(s.get()) != nullptr, c.app0) << c.id;
  }
  EXPECT_NE(dynamic_cast<ExifTiffAppSeg*>(ParseSegmentKey("FFE1Exif").get()), nullptr);
  EXPECT_EQ(ParseSegmentKey("FFE").get(), nullptr);
  EXPECT_EQ(ParseSegmentKey("ffe1Exif").get(), nullptr);  // lower-case digits count as 0
  auto meta = ParseSegmentKey("FFE3META");
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->Marker(), 0xFFE3);
}

TEST(AppSegment, ParsingTypesOnlyWhatItCanRead) {
  struct Case {
    const char* name;
    std::vector<uint8_t> segment;
    std::string id;
    bool typed;
  } cases[] = {
      {"Exif II", Segment(0xE1, Body("Exif", {0})), "Exif", false},  // header missing: stays raw
      {"Exif five chars", Segment(0xE1, Body("Exif ", SmallTiff(false))), "Exif ", false},
      {"exif lower case", Segment(0xE1, Body("exif", SmallTiff(false))), "exif", false},
      {"magic 43", Segment(0xE1, Body("Exif", [] { auto b = SmallTiff(true, 0, 43); b.insert(b.begin(), 0); return b; }())), "Exif", false},
      {"bad order mark", Segment(0xE1, Body("Exif", {0, 'X', 'X', 0, 42, 0, 0, 0, 8})), "Exif", false},
  };
  for (const Case& c : cases) {
    AppSegmentList list;
    auto raw = RawFrom(c.segment, c.id);
    list.Insert(std::move(raw));
    ExifAppSegment* s = list.FindSegment(nullptr, 0xFFE1, c.id, true);
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(!s->IsRaw(), c.typed) << c.name;
    // Written back byte for byte when raw.
    if (s->IsRaw()) {
      EXPECT_EQ(WriteSegmentBytes(*s), c.segment) << c.name;
    }
  }
}

TEST(AppSegment, ByteOrderSurvivesAndNewSegmentsAreLittleEndian) {
  for (bool big : {true, false}) {
    std::vector<uint8_t> body = Body("Exif", {0});
    const std::vector<uint8_t> tiff = SmallTiff(big);
    body.insert(body.end(), tiff.begin(), tiff.end());
    AppSegmentList list;
    list.Insert(RawFrom(Segment(0xE1, body), "Exif"));
    auto* seg = dynamic_cast<ExifTiffAppSeg*>(list.FindSegment(nullptr, 0xFFE1, "Exif", true));
    ASSERT_NE(seg, nullptr);
    const std::vector<uint8_t> out = WriteSegmentBytes(*seg);
    EXPECT_EQ(out[10], big ? 'M' : 'I');
    EXPECT_EQ(ReadRawIfd(TiffOf(out), FirstIfdOffset(TiffOf(out))).Find(271)->count, 2u);
  }
  ExifTiffAppSeg fresh(0xFFE1, "Exif");
  fresh.InitDefaultHeader();
  fresh.AddTopDirectory()->SetEntry(std::make_unique<ExifEntryU16>(296, kTiffShort, 1, static_cast<unsigned short>(2)));
  const std::vector<uint8_t> out = WriteSegmentBytes(fresh);
  EXPECT_EQ(std::string(out.begin() + 4, out.begin() + 12), std::string("Exif\0\0II", 8));
}

TEST(AppSegment, MetaSegmentIsWrittenWithItsOwnMarker) {
  std::vector<uint8_t> body = Body("META", {0});
  const std::vector<uint8_t> tiff = SmallTiff(true);
  body.insert(body.end(), tiff.begin(), tiff.end());
  AppSegmentList list;
  list.Insert(RawFrom(Segment(0xE3, body), "META"));
  ExifAppSegment* s = list.FindSegment(nullptr, 0xFFE3, "META", true);
  ASSERT_NE(dynamic_cast<ExifTiffAppSeg*>(s), nullptr);
  const std::vector<uint8_t> out = WriteSegmentBytes(*s);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0xE3);
  EXPECT_EQ(out, Segment(0xE3, body));  // same layout, same bytes
}

TEST(AppSegment, DirectoryChainEndsOnLoopsAndOutOfRangeOffsets) {
  // IFD0 at 8 whose next offset points back to itself; and one past the end.
  for (uint32_t next : {8u, 4000u}) {
    auto seg = ParseTiff(SmallTiff(false, next));
    EXPECT_EQ(seg->Directories().size(), 1u) << next;
  }
}

TEST(AppSegment, JfifIsWrittenWithoutItsThumbnail) {
  // 72 across, 144 down: the two densities keep their places.
  std::vector<uint8_t> body = Body("JFIF", {1, 2, 1, 0, 72, 0, 144, 2, 2});
  for (int i = 0; i < 12; ++i) body.push_back(0x80);  // 2 x 2 RGB thumbnail
  AppSegmentList list;
  list.Insert(RawFrom(Segment(0xE0, body), "JFIF"));
  auto* app0 = dynamic_cast<ExifApp0Seg*>(list.FindSegment(nullptr, 0xFFE0, "JFIF", true));
  ASSERT_NE(app0, nullptr);
  EXPECT_EQ(app0->version, 0x0102);
  EXPECT_EQ(app0->xDensity, 72);
  EXPECT_EQ(app0->yDensity, 144);
  EXPECT_EQ(app0->thumbWidth, 2);
  const std::vector<uint8_t> out = WriteSegmentBytes(*app0);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 144, 0, 0}));
}

TEST(AppSegment, CloneOfATiffSegmentSharesNoDirectories) {
  auto seg = ParseTiff(SmallTiff(true));
  std::unique_ptr<ExifAppSegment> copy = seg->Clone();
  auto* tiff = dynamic_cast<ExifTiffAppSeg*>(copy.get());
  ASSERT_NE(tiff, nullptr);
  EXPECT_TRUE(tiff->Directories().empty());
  EXPECT_EQ(tiff->byteOrderMark, 0x4D4D);
  seg.reset();
  EXPECT_EQ(tiff->Identifier(), "Exif");
}

TEST(AppSegment, RawSegmentsAndCommentsSurviveAnEdit) {
  // APP2 before APP1 "Exif": the head check walks past it; an unknown APP1
  // identifier and a comment come back unchanged and in marker order.
  TempDir tmp;
  const std::vector<uint8_t> tail = FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"));
  std::vector<uint8_t> exifBody = Body("Exif", {0});
  const std::vector<uint8_t> tiff = SmallTiff(false);
  exifBody.insert(exifBody.end(), tiff.begin(), tiff.end());
  const std::vector<uint8_t> app2 = Segment(0xE2, Body("Other", {1, 2, 3}));
  const std::vector<uint8_t> odd = Segment(0xE1, Body("Exif ", {9, 9}));
  const std::vector<uint8_t> com = Segment(0xFE, {'h', 'i'});
  std::vector<uint8_t> j = {0xFF, 0xD8};
  for (const auto* part : {&app2, &odd, &com}) j.insert(j.end(), part->begin(), part->end());
  const std::vector<uint8_t> exif = Segment(0xE1, exifBody);
  j.insert(j.end(), exif.begin(), exif.end());
  j.insert(j.end(), tail.begin(), tail.end());
  const std::string file = tmp / "mix.jpg";
  WriteAll(file, j);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    EXPECT_EQ(f.Comments().size(), 1u);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  const std::vector<uint8_t> out = ReadAll(file);
  std::vector<uint8_t> expected = {0xFF, 0xD8};
  for (const auto* part : {&odd, &exif, &app2, &com}) expected.insert(expected.end(), part->begin(), part->end());
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(out, expected);
}

TEST(AppSegment, ImageDataStartsAtTheFirstMarkerThatIsNotAppOrComment) {
  // A restart interval before the tables and an APP2 between them: both
  // travel with the image data, once each.
  TempDir tmp;
  const std::vector<uint8_t> tail = FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"));
  const size_t dqtEnd = 2 + ((tail[2] << 8) | tail[3]);
  const std::vector<uint8_t> app2 = Segment(0xE2, Body("Between", {5, 6}));
  const std::vector<uint8_t> dri = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x10};
  std::vector<uint8_t> image = dri;
  image.insert(image.end(), tail.begin(), tail.begin() + dqtEnd);
  image.insert(image.end(), app2.begin(), app2.end());
  image.insert(image.end(), tail.begin() + dqtEnd, tail.end());

  std::vector<uint8_t> exifBody = Body("Exif", {0});
  const std::vector<uint8_t> tiff = SmallTiff(true);
  exifBody.insert(exifBody.end(), tiff.begin(), tiff.end());
  const std::vector<uint8_t> exif = Segment(0xE1, exifBody);
  std::vector<uint8_t> j = {0xFF, 0xD8};
  j.insert(j.end(), exif.begin(), exif.end());
  j.insert(j.end(), image.begin(), image.end());
  const std::string file = tmp / "tables.jpg";
  WriteAll(file, j);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    EXPECT_EQ(f.Segments().Segments().size(), 1u);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ReadAll(file), j);
}

TEST(AppSegment, SegmentsAfterAStrayMarkerByteAreCopiedOnce) {
  // FF 00 where a marker should be: the image data starts there for the
  // rewrite, so the APP2 after it must not be written a second time.
  TempDir tmp;
  const std::vector<uint8_t> tail = FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"));
  const std::vector<uint8_t> app2 = Segment(0xE2, Body("After", {7}));
  std::vector<uint8_t> exifBody = Body("Exif", {0});
  const std::vector<uint8_t> tiff = SmallTiff(false);
  exifBody.insert(exifBody.end(), tiff.begin(), tiff.end());
  const std::vector<uint8_t> exif = Segment(0xE1, exifBody);
  std::vector<uint8_t> j = {0xFF, 0xD8};
  j.insert(j.end(), exif.begin(), exif.end());
  j.push_back(0xFF);
  j.push_back(0x00);
  j.insert(j.end(), app2.begin(), app2.end());
  j.insert(j.end(), tail.begin(), tail.end());
  const std::string file = tmp / "stray.jpg";
  WriteAll(file, j);
  {
    ExifImageFile f;
    ASSERT_EQ(f.Open(file, "r+"), kExifOk);
    EXPECT_EQ(f.Segments().Segments().size(), 1u);
    ASSERT_EQ(f.Close(), kExifOk);
  }
  EXPECT_EQ(ReadAll(file), j);
}
