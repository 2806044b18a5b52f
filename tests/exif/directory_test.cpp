// Directories: the reader's value rules, the writer's layout, the drop
// rules of the thumbnail bookkeeping, rationals and the Huffman check.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "exif/ExifJpegCodec.h"
#include "exif/TagDirectory.h"
#include "jpeg_builder.h"
#include "tiff_helpers.h"

using namespace exiftest;

namespace {

float F32(double v) { return static_cast<float>(v); }

// A one-directory TIFF structure; `values` is appended after the directory
// and entry offsets are relative to the header, so callers place values at
// 8 + 2 + 12n + 4 onwards.
std::vector<uint8_t> OneIfd(bool big, const std::vector<std::vector<uint32_t>>& entries,
                            const std::vector<uint8_t>& values = {}) {
  TiffBytes t(big);
  t.Header(8);
  t.U16(static_cast<uint16_t>(entries.size()));
  for (const auto& e : entries) t.Entry(uint16_t(e[0]), uint16_t(e[1]), e[2], e[3]);
  t.U32(0);
  t.Bytes(values);
  return t.Data();
}

uint32_t ValuesAt(size_t n) { return static_cast<uint32_t>(8 + 2 + 12 * n + 4); }

TagDirectory* Main(ExifTiffAppSeg& seg) { return seg.FindDirectory({{0, 0}}); }

std::vector<uint8_t> BigEndianPairs(std::initializer_list<uint32_t> v) {
  TiffBytes t(true);
  for (uint32_t x : v) t.U32(x);
  return t.Data();
}

}  // namespace

TEST(DoubleToRational, Table) {
  struct Case {
    double x;
    ExifResult status;
    uint32_t p, q;
  } cases[] = {
      {0, kExifOk, 0, 1},
      {72, kExifOk, 72, 1},
      {0.5, kExifOk, 1, 2},
      {4.5, kExifOk, 9, 2},
      {F32(1.0 / 125), kExifOk, 168430, 21053749},
      {F32(1.0 / 3), kExifOk, 11184811, 33554432},
      {2e-10, kExifNoFraction, 0, 1},
      {-1, kExifNoFraction, 0, 1},
      {5e10, kExifNoFraction, 0xFFFFFFFFu, 1},
      {NAN, kExifNoFraction, 0, 1},
      {INFINITY, kExifNoFraction, 0xFFFFFFFFu, 1},
  };
  for (const Case& c : cases) {
    uint32_t p = 7, q = 7;
    EXPECT_EQ(DoubleToRational(c.x, &p, &q, 1e-10), c.status) << c.x;
    EXPECT_EQ(p, c.p) << c.x;
    EXPECT_EQ(q, c.q) << c.x;
  }
  uint32_t p, q;
  EXPECT_EQ(DoubleToRational(1.5, &p, &q, -1), kExifNoFraction);
}

TEST(DoubleToRational, EndsForEveryValueWithAClosePair) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> exponent(-9.5, 9.6);
  for (int i = 0; i < 200000; ++i) {
    const double x = std::pow(10.0, exponent(rng));
    uint32_t p = 0, q = 0;
    ASSERT_EQ(DoubleToRational(x, &p, &q, 1e-10), kExifOk) << x;
    ASSERT_GT(q, 0u);
    if (x > 1e-4 && x < 1e6) {
      ASSERT_NEAR(double(p) / q, x, x * 1e-6) << x;
    }
  }
}

TEST(TagDirectoryRead, ValueRules) {
  // ASCII "Nikn" without NUL, SHORT 256 = 640, SBYTE x3 inline,
  // RATIONAL 0/0, SRATIONAL 0/0, RATIONAL 72/1, unknown type 14, count 0,
  // a value area beyond the end.
  const size_t n = 9;
  std::vector<uint8_t> values = BigEndianPairs({0, 0, 0, 0, 72, 1});
  const uint32_t v = ValuesAt(n);
  const std::vector<uint8_t> tiff = OneIfd(true, {
      {256, kTiffShort, 1, 640u << 16},
      {271, kTiffAscii, 4, 0x4E696B6E},
      {282, kTiffRational, 1, v + 16},
      {300, kTiffSByte, 3, 0xFF7F0100},
      {301, kTiffRational, 1, v},
      {302, kTiffSRational, 1, v + 8},
      {303, 14, 1, 0},
      {304, kTiffLong, 0, 0},
      {305, kTiffDouble, 4, 4000},
  }, values);
  ExifResult st;
  auto seg = ParseTiff(tiff, &st);
  ASSERT_EQ(st, kExifOk);
  TagDirectory* d = Main(*seg);
  ASSERT_NE(d, nullptr);
  auto* width = dynamic_cast<ExifEntryU32*>(d->GetEntry(256));
  ASSERT_NE(width, nullptr);
  EXPECT_EQ(width->Type(), kTiffLong);
  EXPECT_EQ(width->Value(), 640u);
  auto* make = dynamic_cast<ExifEntryText*>(d->GetEntry(271));
  ASSERT_NE(make, nullptr);
  EXPECT_EQ(make->Count(), 4u);
  EXPECT_EQ(make->Value(), "Nikn");
  auto* sbytes = dynamic_cast<ExifEntryS8Vec*>(d->GetEntry(300));
  ASSERT_NE(sbytes, nullptr);
  EXPECT_EQ(sbytes->Value(), (std::vector<char>{-1, 127, 1}));
  auto* zero = dynamic_cast<ExifEntryFloat*>(d->GetEntry(301));
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(zero->Value(), 0.0f);
  EXPECT_EQ(d->GetEntry(302), nullptr);
  EXPECT_EQ(dynamic_cast<ExifEntryFloat*>(d->GetEntry(282))->Value(), 72.0f);
  EXPECT_EQ(d->GetEntry(303), nullptr);
  EXPECT_EQ(d->GetEntry(304), nullptr);
  EXPECT_EQ(d->GetEntry(305), nullptr);

  // Written back: the text as it was stored (no NUL added), the rationals
  // their fractions.
  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd = ReadRawIfd(out, FirstIfdOffset(out));
  const RawEntry* text = ifd.Find(271);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->count, 4u);
  EXPECT_EQ(std::string(out.begin() + static_cast<std::ptrdiff_t>(text->fieldPos),
                        out.begin() + static_cast<std::ptrdiff_t>(text->fieldPos) + 4),
            std::string("Nikn"));
  const RawEntry* res = ifd.Find(282);
  EXPECT_EQ(U32(out, res->field), 72u);
  EXPECT_EQ(U32(out, res->field + 4), 1u);
  EXPECT_EQ(ifd.Find(256)->type, kTiffLong);
}

TEST(TagDirectoryRead, EntryCountLimit) {
  for (uint32_t n : {8191u, 8192u}) {
    TiffBytes t(false);
    t.U8(0);  // position 0 means "no directory": start one byte in
    t.U16(static_cast<uint16_t>(n));
    for (uint32_t i = 0; i < n; ++i) t.Entry(static_cast<uint16_t>(1000 + i), kTiffShort, 1, 7);
    t.U32(0);
    std::vector<uint8_t> buf = t.Data();
    ExifResult st;
    ExifStream mem(&st, buf.data(), static_cast<int64_t>(buf.size()), "r");
    mem.SetByteOrder(false);
    TagDirectory dir(0, 0, 1, 0, nullptr, nullptr);
    const ExifResult rs = dir.Read(&mem);
    if (n == 8191) {
      EXPECT_EQ(rs, kExifOk);
      EXPECT_EQ(dir.Entries().size(), 8191u);
    } else {
      EXPECT_EQ(rs, kExifReadFailed);
      EXPECT_TRUE(dir.Entries().empty());
    }
  }
}

TEST(TagDirectoryRead, PointersMakeSubDirectoriesOnceEach) {
  // IFD0: GPS pointer and interoperability-style pointer 330 to the same
  // directory; the GPS directory holds one entry.
  const size_t n = 3;
  const uint32_t gps = ValuesAt(n);
  TiffBytes values(false);
  values.U16(1);
  values.Entry(1, kTiffAscii, 2, 'N');
  values.U32(0);
  const std::vector<uint8_t> tiff = OneIfd(false, {
      {271, kTiffAscii, 4, 0x00434241},
      {330, 13, 1, gps},  // type 13 (IFD) is read as LONG
      {34853, kTiffLong, 1, gps},
  }, values.Data());
  auto seg = ParseTiff(tiff);
  TagDirectory* d = Main(*seg);
  std::vector<TagDirectory*> subs330, subsGps;
  d->GetSubDirectories(330, &subs330);
  d->GetSubDirectories(34853, &subsGps);
  EXPECT_EQ(subs330.size() + subsGps.size(), 1u);
  EXPECT_EQ(d->GetEntry(330)->Type(), kTiffLong);
  ASSERT_EQ(subs330.size(), 1u);  // the lower tag is read first
  EXPECT_NE(subs330[0]->GetEntry(1), nullptr);

  // Written: the pointer without a directory is left out, the other one
  // points at the sub-directory written after the main directory's values.
  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd = ReadRawIfd(out, FirstIfdOffset(out));
  EXPECT_EQ(ifd.Find(34853), nullptr);
  const RawEntry* p = ifd.Find(330);
  ASSERT_NE(p, nullptr);
  EXPECT_GT(p->field, ifd.offset + 2 + 12 * ifd.entries.size());
  EXPECT_EQ(ReadRawIfd(out, p->field).Find(1)->field & 0xFF, uint32_t('N'));
}

TEST(TagDirectoryRead, SubDirectoryRecursionIsCapped) {
  // An EXIF pointer whose directory holds an interoperability pointer back
  // to a chain of ever new positions: each level points 12 bytes further.
  TiffBytes t(false);
  t.Header(8);
  const int levels = 40;
  for (int i = 0; i < levels; ++i) {
    const uint32_t here = static_cast<uint32_t>(t.Size());
    t.U16(1);
    t.Entry(i == 0 ? 34665 : 40965, kTiffLong, 1, here + 18);
    t.U32(0);
  }
  auto seg = ParseTiff(t.Data());
  int depth = 0;
  const TagDirectory* d = Main(*seg);
  while (d != nullptr) {
    std::vector<TagDirectory*> subs;
    d->GetSubDirectories(depth == 0 ? 34665 : 40965, &subs);
    d = subs.empty() ? nullptr : subs[0];
    ++depth;
  }
  EXPECT_LE(depth, DirectoryReadLimits::kMaxDepth + 1);
  EXPECT_GE(depth, 3);
}

TEST(TagDirectoryWrite, OddEndStartsOneByteLaterAndNegativeRationalsKeepTheirSign) {
  auto seg = ParseTiff(OneIfd(true, {{271, kTiffAscii, 2, 0x41000000}}));
  TagDirectory* d = Main(*seg);
  d->SetEntry(std::make_unique<ExifEntryFloatVec>(37380, kTiffSRational, 2, std::vector<float>{-0.5f, -3.0f}));
  d->SetEntry(std::make_unique<ExifEntryU8Vec>(700, kTiffByte, 5, std::vector<unsigned char>{1, 2, 3, 4, 5}));
  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd = ReadRawIfd(out, FirstIfdOffset(out));
  const RawEntry* sr = ifd.Find(37380);
  ASSERT_NE(sr, nullptr);
  EXPECT_EQ(static_cast<int32_t>(U32(out, sr->field)), -1);
  EXPECT_EQ(U32(out, sr->field + 4), 2u);
  EXPECT_EQ(static_cast<int32_t>(U32(out, sr->field + 8)), -3);
  EXPECT_EQ(sr->field % 2, 0u);  // after the 5-byte value: padded to even
  EXPECT_EQ(dynamic_cast<ExifEntryFloatVec*>(d->GetEntry(37380))->Value(), (std::vector<float>{-0.5f, -3.0f}));

  // Every value area and directory starts on an even offset.
  for (const RawEntry& e : ifd.entries) {
    if (TiffTypeSize(e.type) * e.count > 4) {
      EXPECT_EQ(e.field % 2, 0u) << e.tag;
    }
  }
}

TEST(TagDirectoryWrite, RoundTripsEveryTypeInBothByteOrders) {
  for (bool big : {false, true}) {
    auto seg = std::make_unique<ExifTiffAppSeg>(0xFFE1, "Exif");
    seg->InitDefaultHeader();
    if (big) {
      auto parsed = ParseTiff(OneIfd(true, {{271, kTiffAscii, 2, 0x41000000}}));
      seg = std::move(parsed);
    }
    ASSERT_EQ(seg->CreateDirectoryPath({{0, 0}, {34665, 0}}), kExifOk);
    TagDirectory* d = seg->FindDirectory({{0, 0}, {34665, 0}});
    d->SetEntry(std::make_unique<ExifEntryU16Vec>(1, kTiffShort, 3, std::vector<unsigned short>{1, 65535, 3}));
    d->SetEntry(std::make_unique<ExifEntryU32>(2, kTiffLong, 1, 0xDEADBEEFu));
    d->SetEntry(std::make_unique<ExifEntryS16>(3, kTiffSShort, 1, static_cast<short>(-2)));
    d->SetEntry(std::make_unique<ExifEntryS32Vec>(4, kTiffSLong, 2, std::vector<int>{-5, 7}));
    d->SetEntry(std::make_unique<ExifEntryFloat>(5, kTiffFloat, 1, 1.25f));
    d->SetEntry(std::make_unique<ExifEntryDoubleVec>(6, kTiffDouble, 2, std::vector<double>{3.5, -1e100}));
    d->SetEntry(std::make_unique<ExifEntryFloatVec>(7, kTiffRational, 3, std::vector<float>{0.5f, 35, 2.8f}));
    d->SetEntry(std::make_unique<ExifEntryText>(8, kTiffAscii, 6, std::string("hello")));
    d->SetEntry(std::make_unique<ExifEntryU8>(9, kTiffByte, 1, static_cast<unsigned char>(200)));
    ExifResult st;
    const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg, &st));
    ASSERT_EQ(st, kExifOk);
    EXPECT_EQ(out[0], big ? 'M' : 'I');
    auto back = ParseTiff(out, &st);
    ASSERT_EQ(st, kExifOk);
    TagDirectory* e = back->FindDirectory({{0, 0}, {34665, 0}});
    ASSERT_NE(e, nullptr);
    for (auto& [tag, entry] : d->Entries()) {
      ExifTagEntry* got = e->GetEntry(tag);
      ASSERT_NE(got, nullptr) << tag;
      EXPECT_EQ(got->Type(), entry->Type()) << tag;
      EXPECT_EQ(got->Count(), entry->Count()) << tag;
      EXPECT_EQ(got->Numbers(), entry->Numbers()) << tag;
    }
    EXPECT_EQ(dynamic_cast<ExifEntryText*>(e->GetEntry(8))->Value(), "hello");
  }
}

TEST(TagDirectoryWrite, ThumbnailDropRules) {
  // IFD0 and IFD1; IFD1 describes a JPEG thumbnail and also carries strip
  // tags, which the writer removes for compression 6.
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
  TiffBytes t(false);
  t.Header(8);
  t.U16(1);
  t.Entry(271, kTiffAscii, 2, 'A');
  t.U32(26);  // IFD1
  t.U16(6);
  t.Entry(256, kTiffLong, 1, 160);
  t.Entry(259, kTiffShort, 1, 6);
  t.Entry(273, kTiffLong, 1, 100);
  t.Entry(278, kTiffLong, 1, 0);
  t.Entry(513, kTiffLong, 1, 26 + 2 + 72 + 4);
  t.Entry(514, kTiffLong, 1, 4);
  t.U32(0);
  t.Bytes(jpeg);
  auto seg = ParseTiff(t.Data());
  TagDirectory* thumb = seg->FindDirectory({{0, 1}});
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->ThumbnailBytes(), jpeg);

  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd0 = ReadRawIfd(out, FirstIfdOffset(out));
  ASSERT_NE(ifd0.next, 0u);
  const RawIfd ifd1 = ReadRawIfd(out, ifd0.next);
  for (uint16_t gone : {256, 273, 278}) EXPECT_EQ(ifd1.Find(gone), nullptr) << gone;
  const RawEntry* off = ifd1.Find(513);
  const RawEntry* len = ifd1.Find(514);
  ASSERT_TRUE(off && len);
  EXPECT_EQ(len->field, 4u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + off->field, out.begin() + off->field + 4), jpeg);
  EXPECT_TRUE(thumb->ThumbnailBytes().empty());  // carried into one rewrite only

  // Without its data the thumbnail directory is left out of the chain.
  const std::vector<uint8_t> again = TiffOf(WriteSegmentBytes(*seg));
  EXPECT_EQ(ReadRawIfd(again, FirstIfdOffset(again)).next, 0u);
}

TEST(TagDirectoryWrite, UnreadableStripsLeaveNoOffsetsBehind) {
  // IFD0 describes strips that lie outside the segment: they cannot be
  // carried, so no strip offset may point into the rewritten segment.
  TiffBytes t(true);
  t.Header(8);
  t.U16(6);
  t.Entry(256, kTiffLong, 1, 4);
  t.Entry(257, kTiffLong, 1, 2);
  t.Entry(259, kTiffShort, 1, 1);
  t.Entry(271, kTiffAscii, 2, 'A' << 24);
  t.Entry(273, kTiffLong, 1, 5000);
  t.Entry(279, kTiffLong, 1, 8);
  t.U32(0);
  auto seg = ParseTiff(t.Data());
  ASSERT_NE(seg->FindDirectory({{0, 0}}), nullptr);
  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd0 = ReadRawIfd(out, FirstIfdOffset(out));
  EXPECT_NE(ifd0.Find(271), nullptr);
  EXPECT_EQ(ifd0.Find(273), nullptr);
  EXPECT_EQ(ifd0.Find(279), nullptr);
}

TEST(TagDirectoryWrite, UncompressedThumbnailRoundTrips) {
  // A 4 x 2 RGB thumbnail in one strip (RowsPerStrip missing: the whole image).
  const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                       13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  TiffBytes t(true);
  t.Header(8);
  t.U16(1);
  t.Entry(271, kTiffAscii, 2, 0x41000000);
  t.U32(26);
  const uint32_t n = 7;
  const uint32_t data = 26 + 2 + 12 * n + 4;
  t.U16(n);
  t.Entry(256, kTiffShort, 1, 4u << 16);
  t.Entry(257, kTiffShort, 1, 2u << 16);
  t.Entry(259, kTiffShort, 1, 1u << 16);
  t.Entry(273, kTiffLong, 1, data);
  t.Entry(277, kTiffShort, 1, 3u << 16);
  t.Entry(279, kTiffLong, 1, 24);
  t.Entry(284, kTiffShort, 1, 1u << 16);
  t.U32(0);
  t.Bytes(pixels);
  auto seg = ParseTiff(t.Data());
  TagDirectory* thumb = seg->FindDirectory({{0, 1}});
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->StripsPerImage(), 1u);
  EXPECT_EQ(thumb->RowBytes(), 12u);
  ASSERT_NE(thumb->Thumbnail(), nullptr);
  EXPECT_EQ(thumb->Thumbnail()->pixels, pixels);

  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  auto back = ParseTiff(out);
  TagDirectory* again = back->FindDirectory({{0, 1}});
  ASSERT_NE(again, nullptr);
  ASSERT_NE(again->Thumbnail(), nullptr);
  EXPECT_EQ(again->Thumbnail()->pixels, pixels);
}

// A thumbnail stored in separate colour planes (PlanarConfiguration 2):
// every plane has its own strips, and a rewrite writes each of them with
// its real offset and byte count.
TEST(TagDirectoryWrite, PlanarThumbnailRoundTripsWithItsStrips) {
  // 4 x 3 RGB, two rows a strip: per plane strips of 8 and 4 bytes.
  const std::vector<uint8_t> red = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::vector<uint8_t> green = {21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
  const std::vector<uint8_t> blue = {41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52};
  std::vector<uint8_t> interleaved;
  for (size_t i = 0; i < red.size(); ++i) interleaved.insert(interleaved.end(), {red[i], green[i], blue[i]});
  TiffBytes t(false);
  t.Header(8);
  t.U16(1);
  t.Entry(271, kTiffAscii, 2, 0x41);
  t.U32(26);
  const uint32_t n = 10, values = 26 + 2 + 12 * n + 4;
  const uint32_t bitsAt = values, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 24, pixelsAt = countsAt + 24;
  t.U16(n);
  t.Entry(256, kTiffShort, 1, 4);
  t.Entry(257, kTiffShort, 1, 3);
  t.Entry(258, kTiffShort, 3, bitsAt);
  t.Entry(259, kTiffShort, 1, 1);
  t.Entry(262, kTiffShort, 1, 2);
  t.Entry(273, kTiffLong, 6, offsetsAt);
  t.Entry(277, kTiffShort, 1, 3);
  t.Entry(278, kTiffShort, 1, 2);
  t.Entry(279, kTiffLong, 6, countsAt);
  t.Entry(284, kTiffShort, 1, 2);
  t.U32(0);
  for (int i = 0; i < 3; ++i) t.U16(8);
  const uint32_t stripBytes[6] = {8, 4, 8, 4, 8, 4};
  uint32_t at = pixelsAt;
  for (uint32_t bytes : stripBytes) {
    t.U32(at);
    at += bytes;
  }
  for (uint32_t bytes : stripBytes) t.U32(bytes);
  for (const auto* plane : {&red, &green, &blue}) t.Bytes(*plane);

  auto seg = ParseTiff(t.Data());
  TagDirectory* thumb = seg->FindDirectory({{0, 1}});
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->StripsPerImage(), 6u);
  ASSERT_NE(thumb->Thumbnail(), nullptr);
  EXPECT_EQ(thumb->Thumbnail()->pixels, interleaved);

  const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*seg));
  const RawIfd ifd0 = ReadRawIfd(out, FirstIfdOffset(out));
  const RawIfd ifd1 = ReadRawIfd(out, ifd0.next);
  const RawEntry* offsets = ifd1.Find(273);
  const RawEntry* counts = ifd1.Find(279);
  ASSERT_NE(offsets, nullptr);
  ASSERT_NE(counts, nullptr);
  ASSERT_EQ(offsets->count, 6u);
  ASSERT_EQ(counts->count, 6u);
  // Each strip's bytes are the rows of its plane.
  const std::vector<uint8_t>* planes[3] = {&red, &green, &blue};
  for (uint32_t s = 0; s < 6; ++s) {
    SCOPED_TRACE(s);
    const uint32_t offset = U32(out, offsets->field + 4 * s), count = U32(out, counts->field + 4 * s);
    ASSERT_EQ(count, stripBytes[s]);
    ASSERT_LE(size_t{offset} + count, out.size());
    const std::vector<uint8_t>& plane = *planes[s / 2];
    const size_t first = (s % 2) * 8;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + offset, out.begin() + offset + count),
              std::vector<uint8_t>(plane.begin() + long(first), plane.begin() + long(first + count)));
  }
  auto back = ParseTiff(out);
  TagDirectory* again = back->FindDirectory({{0, 1}});
  ASSERT_NE(again, nullptr);
  ASSERT_NE(again->Thumbnail(), nullptr);
  EXPECT_EQ(again->Thumbnail()->pixels, interleaved);
}

TEST(TagDirectory, SubDirectoriesUnderTagsAndCollectOrder) {
  auto seg = std::make_unique<ExifTiffAppSeg>(0xFFE1, "Exif");
  seg->InitDefaultHeader();
  EXPECT_EQ(seg->CreateDirectoryPath({}), kExifBadPath);
  EXPECT_EQ(seg->CreateDirectoryPath({{0, 1}}), kExifBadPath);
  ASSERT_EQ(seg->CreateDirectoryPath({{0, 0}, {34853, 0}}), kExifOk);
  ASSERT_EQ(seg->CreateDirectoryPath({{0, 0}, {34665, 0}, {40965, 0}}), kExifOk);
  ASSERT_EQ(seg->CreateDirectoryPath({{0, 1}}), kExifOk);
  EXPECT_EQ(seg->CreateDirectoryPath({{0, 3}}), kExifBadPath);
  TagDirectory* main = seg->FindDirectory({{0, 0}});
  EXPECT_EQ(main->AddSubDirectoryUnderTag(271), kExifNotSubDirTag);
  ASSERT_EQ(main->AddSubDirectoryUnderTag(34853), kExifOk);  // a second GPS directory
  auto* ptr = dynamic_cast<ExifEntryU32Vec*>(main->GetEntry(34853));
  ASSERT_NE(ptr, nullptr);
  EXPECT_EQ(ptr->Value(), (std::vector<unsigned>{0, 0}));
  EXPECT_EQ(seg->FindDirectory({{0, 0}, {34853, 1}})->Index(), 1);
  EXPECT_EQ(seg->FindDirectory({{0, 0}, {34853, 2}}), nullptr);

  DirectoryTagList list;
  for (auto& d : seg->Directories()) d->CollectTags(&list, {{0, d->Index()}});
  std::vector<TagDirectoryPath> paths;
  for (auto& e : list) paths.push_back(e.path);
  EXPECT_EQ(paths, (std::vector<TagDirectoryPath>{{{0, 0}},
                                                 {{0, 0}, {34665, 0}},
                                                 {{0, 0}, {34665, 0}, {40965, 0}},
                                                 {{0, 0}, {34853, 0}},
                                                 {{0, 0}, {34853, 1}},
                                                 {{0, 1}}}));
  EXPECT_TRUE(main->RemoveEntry(34853));
  EXPECT_EQ(seg->FindDirectory({{0, 0}, {34853, 0}}), nullptr);
  EXPECT_FALSE(main->RemoveEntry(34853));
}

TEST(TagDirectory, StripsPerImageRules) {
  struct Case {
    uint32_t length;
    int64_t rows;  // -1: missing
    uint16_t planar, samples;
    uint32_t strips;
  } cases[] = {
      {100, 16, 1, 3, 7}, {100, 0, 1, 3, 1}, {100, -1, 1, 3, 1}, {100, 0xFFFFFFFF, 1, 3, 1},
      {0, 16, 1, 3, 0},   {100, 50, 2, 3, 6},
  };
  for (const Case& c : cases) {
    TagDirectory d(0, 1, 0, 0, nullptr, nullptr);
    d.SetEntry(std::make_unique<ExifEntryU32>(257, kTiffLong, 1, c.length));
    if (c.rows >= 0) {
      d.SetEntry(std::make_unique<ExifEntryU32>(278, kTiffLong, 1, static_cast<uint32_t>(c.rows)));
    }
    d.SetEntry(std::make_unique<ExifEntryU16>(284, kTiffShort, 1, c.planar));
    d.SetEntry(std::make_unique<ExifEntryU16>(277, kTiffShort, 1, c.samples));
    EXPECT_EQ(d.StripsPerImage(), c.strips) << c.length << " " << c.rows;
  }
}

TEST(DeriveHuffmanLookup, RefusesTablesNoDecoderCouldUse) {
  HuffmanLookup lookup;
  uint8_t values[256] = {};
  for (int i = 0; i < 256; ++i) values[i] = static_cast<uint8_t>(i % 12);
  // The standard DC luminance table.
  const uint8_t dc[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DeriveHuffmanLookup(dc, values, true, &lookup), kExifOk);
  EXPECT_EQ(lookup.lookLength[0], 2);      // code 00 has length 2
  EXPECT_EQ(lookup.maxCode[1], -1);
  EXPECT_EQ(lookup.maxCode[17], -1);

  uint8_t dc16[256];
  memcpy(dc16, values, 256);
  dc16[3] = 16;
  EXPECT_EQ(DeriveHuffmanLookup(dc, dc16, true, &lookup), kExifBadHuffman);
  EXPECT_EQ(DeriveHuffmanLookup(dc, dc16, false, &lookup), kExifOk);  // AC symbols may be large

  const uint8_t tooMany[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  uint8_t many[16];
  memcpy(many, tooMany, 16);
  many[15] = 255;
  many[14] = 2;  // 257 codes
  EXPECT_EQ(DeriveHuffmanLookup(many, values, false, &lookup), kExifBadHuffman);
  const uint8_t overflow[16] = {2, 1};  // codes 0 and 1 fill length 1
  EXPECT_EQ(DeriveHuffmanLookup(overflow, values, false, &lookup), kExifBadHuffman);
  const uint8_t full[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(DeriveHuffmanLookup(full, values, false, &lookup), kExifOk);
}

namespace {

// Stored fractions: a copy writes back the pairs it read (in either byte
// order, and from a clone of the entry); a changed value gets a fraction of
// its own.
TEST(TagDirectoryWrite, CopiedRationalsKeepTheirStoredFractions) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    TiffBytes pairs(big);
    for (uint32_t x : {1u, 250u, 28u, 5u, 31u, 1u, 4944u, 100u, 0u, 1u, static_cast<uint32_t>(-7), 21u})
      pairs.U32(x);
    const uint32_t v = ValuesAt(3);
    const std::vector<uint8_t> tiff =
        OneIfd(big, {{33434, kTiffRational, 2, v}, {34853 - 1, kTiffRational, 3, v + 16}, {37380, kTiffSRational, 1, v + 40}},
               pairs.Data());
    ExifResult st;
    auto seg = ParseTiff(tiff, &st);
    ASSERT_EQ(st, kExifOk);
    // Through a copy of the directory's entries, as the tools carry them.
    auto copy = std::make_unique<ExifTiffAppSeg>(0xFFE1, "Exif");
    copy->InitDefaultHeader();
    copy->SetBigEndian(big);
    DirectoryTagList list;
    Main(*seg)->CollectTags(&list, {{0, 0}});
    ASSERT_EQ(copy->ApplyTagList(list), kExifOk);
    const std::vector<uint8_t> out = TiffOf(WriteSegmentBytes(*copy));
    ASSERT_EQ(out[0], big ? 'M' : 'I');
    const RawIfd ifd = ReadRawIfd(out, FirstIfdOffset(out));
    auto fractions = [&](uint16_t tag) {
      std::vector<uint32_t> got;
      const RawEntry* e = ifd.Find(tag);
      if (e == nullptr) return got;
      for (uint32_t i = 0; i < 2 * e->count; ++i) got.push_back(U32(out, e->field + 4 * i));
      return got;
    };
    EXPECT_EQ(fractions(33434), (std::vector<uint32_t>{1, 250, 28, 5}));
    EXPECT_EQ(fractions(34852), (std::vector<uint32_t>{31, 1, 4944, 100, 0, 1}));
    EXPECT_EQ(fractions(37380), (std::vector<uint32_t>{static_cast<uint32_t>(-7), 21}));

    // A value set anew is written from its value.
    auto* exposure = dynamic_cast<ExifEntryFloatVec*>(copy->FindDirectory({{0, 0}})->GetEntry(33434));
    ASSERT_NE(exposure, nullptr);
    exposure->Value()[1] = 0.5f;
    const std::vector<uint8_t> changed = TiffOf(WriteSegmentBytes(*copy));
    const RawIfd changedIfd = ReadRawIfd(changed, FirstIfdOffset(changed));
    const RawEntry* e = changedIfd.Find(33434);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(U32(changed, e->field + 8), 1u);
    EXPECT_EQ(U32(changed, e->field + 12), 2u);
  }
}

}  // namespace
