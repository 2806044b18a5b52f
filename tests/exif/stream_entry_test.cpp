// Streams (open modes, memory I/O edge cases) and tag entries (printing,
// cloning, taking values over).
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "exif/ExifStream.h"
#include "exif/ExifTagEntry.h"
#include "exif_test_util.h"

using namespace exiftest;

TEST(ExifStream, OpenModes) {
  TempDir tmp;
  const std::string file = tmp / "f.bin";
  WriteAll(file, {1, 2, 3, 4});
  struct Case {
    const char* mode;
    ExifResult status;
    uint32_t code;
  } cases[] = {
      {"r", kExifOk, ExifStream::kModeRead},   {nullptr, kExifOk, ExifStream::kModeRead},
      {"r+", kExifOk, ExifStream::kModeEdit},  {"r+b", kExifOk, ExifStream::kModeEdit},
      {"rb+", kExifOk, ExifStream::kModeRead},  // only two characters count
      {"w+", kExifBadMode, 0},                 {"a", kExifBadMode, 0},
      {"x", kExifBadMode, 0},                  {"", kExifBadMode, 0},
  };
  for (const Case& c : cases) {
    ExifResult st = -1;
    auto s = ExifStream::Open(&st, file, c.mode);
    EXPECT_EQ(st, c.status) << (c.mode ? c.mode : "null");
    EXPECT_EQ(s != nullptr, c.status == kExifOk);
    if (s) {
      EXPECT_EQ(s->Mode(), c.code);
    }
  }
  ExifResult st = -1;
  EXPECT_EQ(ExifStream::Open(&st, tmp / "missing", "r"), nullptr);
  EXPECT_EQ(st, kExifOpenFailed);
  EXPECT_EQ(ReadAll(file), (std::vector<uint8_t>{1, 2, 3, 4}));  // "r+" never truncates
}

TEST(ExifStream, FileReadsAreAllOrNothingAndSizeKeepsThePosition) {
  TempDir tmp;
  const std::string file = tmp / "f.bin";
  WriteAll(file, {1, 2, 3, 4, 5});
  ExifResult st;
  auto s = ExifStream::Open(&st, file, "r");
  ASSERT_TRUE(s);
  uint8_t buf[8];
  EXPECT_EQ(s->IO()->Seek(2, 0), 2);
  EXPECT_EQ(s->IO()->Size(), 5);
  EXPECT_EQ(s->Tell(), 2);
  EXPECT_EQ(s->IO()->Read(buf, 4), 0);  // only three bytes left
  EXPECT_EQ(s->IO()->Seek(1, 0), 1);
  EXPECT_EQ(s->IO()->Read(buf, 4), 4);
  EXPECT_EQ(s->IO()->Write(buf, 1), 0);  // read-only file
  EXPECT_EQ(s->IO()->Close(), kExifOk);
  EXPECT_EQ(s->IO()->Close(), kExifCloseFailed);  // no FILE any more
}

TEST(ExifStream, MemoryEdgeCases) {
  uint8_t buf[10];
  for (int i = 0; i < 10; ++i) buf[i] = uint8_t(i);
  ExifResult st = -1;
  {
    ExifStream r(&st, buf, 10, "r");
    ASSERT_EQ(st, kExifOk);
    EXPECT_EQ(r.IO()->Size(), 10);
    EXPECT_EQ(r.IO()->Seek(-5, 0), 0);
    EXPECT_EQ(r.IO()->Seek(4, 2), 10);
    EXPECT_EQ(r.IO()->Seek(8, 0), 8);
    uint8_t out[4];
    EXPECT_EQ(r.IO()->Read(out, 4), -1);
    EXPECT_EQ(r.Tell(), 8);
    EXPECT_EQ(r.IO()->Read(out, 2), 2);
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(r.IO()->Write(out, 1), -1);
    EXPECT_EQ(r.IO()->Buffer(), buf);
    EXPECT_EQ(r.IO()->Capacity(), 10);
    EXPECT_TRUE(r.Flags() & ExifStream::kMemory);
  }
  {
    ExifStream w(&st, buf, 10, "w");
    EXPECT_EQ(w.IO()->Size(), 0);
    uint8_t b = 1;
    EXPECT_EQ(w.IO()->Write(&b, 1), -1);
    EXPECT_EQ(w.IO()->Read(&b, 1), -1);
  }
  {
    uint8_t work[10] = {};
    ExifStream e(&st, work, 10, "r+", 0);
    const uint8_t data[6] = {9, 8, 7, 6, 5, 4};
    EXPECT_EQ(e.IO()->Write(data, 6), 6);
    EXPECT_EQ(e.IO()->Size(), 6);
    EXPECT_EQ(e.IO()->Write(data, 6), -1);  // past the capacity: nothing moves
    EXPECT_EQ(e.IO()->Size(), 6);
    EXPECT_EQ(e.IO()->Seek(100, 0), 6);      // never past the valid data
    EXPECT_EQ(e.IO()->Seek(-100, 1), 0);
    EXPECT_EQ(e.IO()->Seek(INT64_MAX, 1), 6);  // no overflow
  }
  ExifStream bad(&st, buf, 10, "a");
  EXPECT_EQ(st, kExifBadMode);
  EXPECT_EQ(bad.IO(), nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], i);  // the caller's buffer is untouched
}

TEST(ExifStream, SwapDoublesFollowsTheSwapFlag) {
  uint8_t buf[1];
  ExifResult st;
  ExifStream s(&st, buf, 1, "r");
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  double d;
  memcpy(&d, bytes, 8);
  s.SetByteOrder(false);
  s.SwapDoubles(&d, 1);
  EXPECT_EQ(memcmp(&d, bytes, 8), 0);
  s.SetByteOrder(true);
  EXPECT_TRUE(s.BigEndian());
  s.SwapDoubles(&d, 1);
  const uint8_t reversed[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(memcmp(&d, reversed, 8), 0);
}

namespace {
std::string Printed(const ExifTagEntry& e) {
  std::ostringstream out;
  e.Print(out);
  return out.str();
}
}  // namespace

TEST(ExifTagEntry, PrintsNumbersAsNumbers) {
  struct Case {
    std::unique_ptr<ExifTagEntry> entry;
    const char* text;
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<ExifEntryU8>(1, kTiffByte, 1, static_cast<unsigned char>(65)), "1\t1\t1\t65"});
  cases.push_back({std::make_unique<ExifEntryS8>(2, kTiffSByte, 1, static_cast<char>(-1)), "2\t6\t1\t-1"});
  cases.push_back({std::make_unique<ExifEntryText>(36867, kTiffAscii, 20, std::string("2018:11:14 09:05:00")),
                   "36867\t2\t20\t2018:11:14 09:05:00"});
  cases.push_back({std::make_unique<ExifEntryU16Vec>(258, kTiffShort, 3, std::vector<unsigned short>{8, 8, 8}),
                   "258\t3\t3\t[8,8,8]"});
  cases.push_back({std::make_unique<ExifEntryS8Vec>(36864, kTiffUndefined, 4, std::vector<char>{'0', '2', '3', '0'}),
                   "36864\t7\t4\t[48,50,51,48]"});
  cases.push_back({std::make_unique<ExifEntryU32Vec>(273, kTiffLong, 0, std::vector<unsigned int>{}), "273\t4\t0\t[]"});
  cases.push_back({std::make_unique<ExifEntryFloat>(282, kTiffRational, 1, 72.5f), "282\t5\t1\t72.5"});
  cases.push_back({std::make_unique<ExifEntryS16>(9, kTiffSShort, 1, static_cast<short>(-300)), "9\t8\t1\t-300"});
  cases.push_back({std::make_unique<ExifEntryDoubleVec>(12, kTiffDouble, 2, std::vector<double>{0.25, -2}),
                   "12\t12\t2\t[0.25,-2]"});
  for (const Case& c : cases) EXPECT_EQ(Printed(*c.entry), c.text);
}

TEST(ExifTagEntry, CloneIsDeepAndConstructorsTakeValuesOver) {
  std::vector<unsigned short> values{1, 2, 3};
  auto original = std::make_unique<ExifEntryU16Vec>(258, kTiffShort, 3, values);
  EXPECT_TRUE(values.empty());  // taken over
  std::unique_ptr<ExifTagEntry> copy = original->Clone();
  original.reset();
  EXPECT_EQ(Printed(*copy), "258\t3\t3\t[1,2,3]");
  std::string text = "abc";
  ExifEntryText t(305, kTiffAscii, 4, text);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(t.Value(), "abc");
  EXPECT_EQ(TiffTypeSize(kTiffDouble), 8u);
  EXPECT_EQ(TiffTypeSize(13), 0u);
}
