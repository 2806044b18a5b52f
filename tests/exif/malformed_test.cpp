// Malformed EXIF data: bad offsets, counts, loops and truncations. Every
// case must end in a status (never a crash, an overrun or a hang), and
// whatever an edit writes must open again.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "exif/ExifImageFile.h"
#include "exif_test_util.h"
#include "jpeg_builder.h"

using namespace exiftest;

namespace {

const std::vector<uint8_t>& Tail() {
  static const std::vector<uint8_t> tail = FromFirstDqt(ReadAll(Fixtures() + "/bare.jpg"));
  return tail;
}

// IFD0 with `entries` at 8, extra bytes after it, next offset `next`.
std::vector<uint8_t> Tiff(bool big, const std::vector<std::vector<uint32_t>>& entries, uint32_t next = 0,
                          const std::vector<uint8_t>& extra = {}, uint32_t first = 8) {
  TiffBytes t(big);
  t.Header(first);
  t.U16(static_cast<uint16_t>(entries.size()));
  for (const auto& e : entries) t.Entry(uint16_t(e[0]), uint16_t(e[1]), e[2], e[3]);
  t.U32(next);
  t.Bytes(extra);
  return t.Data();
}

std::vector<uint8_t> Jpeg(const std::vector<uint8_t>& tiff) { return JpegWithExif(tiff, Tail()); }

// What a malformed file must give: the status of opening it to read, and
// of editing it (the first failure among opening for update, putting a tag
// and the close that writes it).
struct Expected {
  ExifResult open;
  ExifResult edit;
};

bool IsLibraryStatus(ExifResult st) {
  static const std::set<ExifResult> known = {
      kExifOk,         kExifNotDone,      kExifBadData,      kExifWriteFailed, kExifReadFailed,
      kExifOpenFailed, kExifCloseFailed,  kExifBadMode,      kExifNoFraction,  kExifNotSubDirTag,
      kExifNoSegment,  kExifBadByteOrder, kExifBadPath,      kExifNoMainDir,   kExifNoExifDir,
      kExifBadDirKind, kExifNoImageData,  kExifBadHuffman};
  return known.count(st) != 0;
}

// Opens, parses, collects and prints everything; then edits a copy. With
// `expected` the statuses must be those; without, any of the library's
// statuses will do (but never a crash, an overrun or a hang).
void Exercise(const std::string& name, const std::vector<uint8_t>& bytes, const TempDir& tmp,
              const Expected* expected = nullptr) {
  SCOPED_TRACE(name);
  const std::string file = tmp / "m.jpg";
  WriteAll(file, bytes);
  {
    ExifImageFile f;
    const ExifResult st = f.Open(file, "r");
    if (expected) EXPECT_EQ(st, expected->open);
    else EXPECT_TRUE(IsLibraryStatus(st)) << st;
    if (st == kExifOk) {
      if (auto* tiff = dynamic_cast<ExifTiffAppSeg*>(f.Segments().FindSegment(nullptr, 0xFFE1, "Exif", true))) {
        DirectoryTagList list;
        for (auto& d : tiff->Directories()) d->CollectTags(&list, {{0, d->Index()}});
        std::ostringstream out;
        for (auto& dt : list) {
          for (auto* e : dt.entries) e->Print(out) << '\n';
        }
      }
    }
  }
  {
    ExifImageFile f;
    ExifResult st = f.Open(file, "r+");
    if (st == kExifOk) st = f.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string("2020:01:02 03:04:05")));
    if (st == kExifOk) st = f.Close();
    if (expected) EXPECT_EQ(st, expected->edit);
    else EXPECT_TRUE(IsLibraryStatus(st)) << st;
    if (st == kExifOk) {
      ExifImageFile again;
      EXPECT_EQ(again.Open(file, "r"), kExifOk);
    }
  }
}

}  // namespace

TEST(MalformedExif, Table) {
  TempDir tmp;
  const uint32_t values = 8 + 2 + 12 + 4;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    Expected expected = {kExifOk, kExifOk};  // the EXIF segment is read as far as it goes
  };
  std::vector<Case> cases = {
      {"first IFD far away", Jpeg(Tiff(false, {{271, 2, 2, 0x41}}, 0, {}, 0xFFFFFFF0))},
      {"first IFD inside the header", Jpeg(Tiff(true, {{271, 2, 2, 0x41000000}}, 0, {}, 3))},
      {"value beyond the segment", Jpeg(Tiff(false, {{271, 2, 100, 4000}}))},
      {"value offset wraps", Jpeg(Tiff(false, {{271, 2, 0xFFFFFFFF, 0xFFFFFFFF}}))},
      {"count overflows 32 bits", Jpeg(Tiff(true, {{33434, 12, 0x40000000, values}}))},
      {"entry count 65535", Jpeg(Tiff(false, {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}}, 0, {}, 8))},
      {"EXIF pointer to itself", Jpeg(Tiff(false, {{34665, 4, 1, 8}}))},
      {"GPS pointer beyond", Jpeg(Tiff(false, {{34853, 4, 1, 0x7FFFFFFF}}))},
      {"pointer vector of 16000", Jpeg(Tiff(false, {{330, 4, 16000, values}}, 0, std::vector<uint8_t>(64000, 1)))},
      {"pointer of type 13 to itself", Jpeg(Tiff(true, {{34665, 13, 1, 8}}))},
      {"chain loops through two", Jpeg(Tiff(false, {{271, 2, 2, 0x41}}, values,
                                            {1, 0, 0x0F, 0x01, 2, 0, 2, 0, 0, 0, 0x42, 0, 0, 0, 8, 0, 0, 0}))},
      {"JPEG thumbnail beyond", Jpeg(Tiff(false, {{259, 3, 1, 6}, {513, 4, 1, 0xFFFFFF00}, {514, 4, 1, 60000}}, 8))},
      {"strip thumbnail huge", Jpeg(Tiff(false, {{256, 4, 1, 0xFFFFFFFF}, {257, 4, 1, 0xFFFFFFFF},
                                                 {259, 3, 1, 1}, {273, 4, 1, 0}, {279, 4, 1, 1}}))},
      {"strips beyond, rows 0, 16 bits", Jpeg(Tiff(true, {{256, 4, 1, 8}, {257, 4, 1, 8}, {258, 3, 1, 16u << 16},
                                                          {259, 3, 1, 1u << 16}, {273, 4, 1, 0x7FFFFFF0},
                                                          {277, 3, 1, 3u << 16}, {278, 4, 1, 0}, {279, 4, 1, 500}}))},
      {"five samples", Jpeg(Tiff(false, {{256, 4, 1, 2}, {257, 4, 1, 2}, {259, 3, 1, 1}, {273, 4, 1, 8},
                                         {277, 3, 1, 5}, {279, 4, 1, 20}}))},
      {"rational with zero denominators", Jpeg(Tiff(false, {{282, 5, 1, values}, {37380, 10, 1, values}}, 0,
                                                    std::vector<uint8_t>(8, 0)))},
      {"APP1 longer than the file", [] {
         std::vector<uint8_t> j = Jpeg(Tiff(false, {{271, 2, 2, 0x41}}));
         j[4] = 0xFF;
         j[5] = 0xF0;
         return j;
       }(), {kExifReadFailed, kExifReadFailed}},
      {"segment length 1", {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9}, {kExifReadFailed, kExifReadFailed}},
      {"frame header too short", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x04, 8, 0, 0xFF, 0xD9}, {kExifReadFailed, kExifReadFailed}},
      {"DQT table number 5", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x05, 0xFF, 0xD9}, {kExifBadData, kExifBadData}},
      {"DQT cut short", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00, 1, 2, 3}, {kExifReadFailed, kExifReadFailed}},
      {"DHT counts beyond the segment", {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0, 9, 1},
       {kExifBadData, kExifBadData}},
      // Nothing to read tags from is fine; an edit needs the frame's size for
      // the new EXIF segment, and there is no frame.
      {"only garbage after SOI", {0xFF, 0xD8, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF}, {kExifOk, kExifWriteFailed}},
      {"fill bytes then EOI", {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xD9}, {kExifOk, kExifWriteFailed}},
  };
  for (const Case& c : cases) Exercise(c.name, c.bytes, tmp, &c.expected);
}

TEST(MalformedExif, TruncationsAndMutationsOfARealFile) {
  TempDir tmp;
  const std::vector<uint8_t> good = ReadAll(Fixtures() + "/be.jpg");
  // The EXIF segment with its thumbnail is the interesting region.
  const size_t exifEnd = 4 + 20 + ((good[22] << 8) | good[23]);
  for (size_t cut = 4; cut < exifEnd + 64 && cut < good.size(); cut += 29) {
    Exercise("cut at " + std::to_string(cut), std::vector<uint8_t>(good.begin(), good.begin() + cut), tmp);
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> where(20, exifEnd - 1);
  std::uniform_int_distribution<int> value(0, 255);
  for (int i = 0; i < 150; ++i) {
    std::vector<uint8_t> bad = good;
    for (int k = 0; k < 4; ++k) bad[where(rng)] = static_cast<uint8_t>(value(rng));
    Exercise("mutation " + std::to_string(i), bad, tmp);
  }
}
