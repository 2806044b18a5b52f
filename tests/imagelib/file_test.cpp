#include <cstring>
#include <vector>

#include "TestSupport.h"
#include "imagelib/PxFile.h"

namespace {

TEST(PxMemFile, GrowsInWholeBlocksOf64KiB) {
  PxMemFile f;
  ASSERT_TRUE(f.Open());
  std::vector<uint8_t> data(65536, 0xAB);
  EXPECT_EQ(f.WriteBlock(data.data(), 1, 10), 10u);
  EXPECT_EQ(f.DataSize(), 10);
  EXPECT_EQ(f.Capacity(), 65536u);
  EXPECT_EQ(f.WriteBlock(data.data(), 1, 65526), 65526u);
  EXPECT_EQ(f.DataSize(), 65536);
  EXPECT_EQ(f.Capacity(), 65536u);
  EXPECT_TRUE(f.PutByte(1));
  EXPECT_EQ(f.Capacity(), 131072u);
  EXPECT_EQ(f.DataSize(), 65537);
}

// Writing a large picture a row at a time must not move the data once per
// 64 KiB: the capacity doubles, so 32 MiB take a handful of steps.
TEST(PxMemFile, GrowsGeometrically) {
  PxMemFile f;
  ASSERT_TRUE(f.Open());
  std::vector<uint8_t> row(4096, 0x5A);
  uint32_t capacity = 0;
  int steps = 0;
  for (int i = 0; i < 8192; ++i) {
    ASSERT_EQ(f.WriteBlock(row.data(), 1, row.size()), row.size());
    if (f.Capacity() != capacity) {
      capacity = f.Capacity();
      ++steps;
    }
  }
  EXPECT_EQ(f.DataSize(), 8192 * 4096);
  EXPECT_LE(steps, 12);
  EXPECT_EQ(f.Buffer()[f.DataSize() - 1], 0x5A);
}

TEST(PxMemFile, ReadingAndSeekingEdgeCases) {
  uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  PxMemFile f(ten, 10);
  uint32_t out[3] = {};
  EXPECT_EQ(f.ReadBlock(out, 4, 3), 2u);  // a partial element is consumed, not counted
  EXPECT_TRUE(f.AtEnd());
  EXPECT_EQ(f.Position(), 10);
  EXPECT_EQ(f.ReadBlock(out, 1, 1), 0u);

  EXPECT_TRUE(f.SeekTo(2, 0));
  EXPECT_FALSE(f.AtEnd());
  EXPECT_TRUE(f.SeekTo(-5, 1));
  EXPECT_EQ(f.Position(), 0);
  EXPECT_FALSE(f.SeekTo(0, 3));
  EXPECT_EQ(f.Position(), 0);
  EXPECT_TRUE(f.SeekTo(-1, 2));
  EXPECT_EQ(f.GetByte(), 9);
  EXPECT_EQ(f.GetByte(), -1);
  EXPECT_TRUE(f.AtEnd());
  EXPECT_TRUE(f.SeekTo(20, 0));  // beyond the data is allowed
  EXPECT_EQ(f.ErrorState(), 1);
  EXPECT_EQ(f.TotalSize(), 10);
  EXPECT_EQ(f.ScanFormatted("%d", out), 0);
}

TEST(PxMemFile, ReadLine) {
  uint8_t text[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
  PxMemFile f(text, sizeof text);
  char line[8];
  EXPECT_STREQ(f.ReadLine(line, 5), "abcd");
  uint8_t two[] = {'a', 'b'};
  PxMemFile g(two, 2);
  EXPECT_EQ(g.ReadLine(line, 5), nullptr);
  uint8_t lines[] = {'h', 'i', '\n', 'x'};
  PxMemFile h(lines, sizeof lines);
  EXPECT_STREQ(h.ReadLine(line, 8), "hi\n");
}

TEST(PxMemFile, WithoutBufferEverythingFailsQuietly) {
  PxMemFile f;
  uint8_t b = 0;
  EXPECT_EQ(f.Position(), -1);
  EXPECT_EQ(f.TotalSize(), -1);
  EXPECT_EQ(f.ErrorState(), -1);
  EXPECT_TRUE(f.AtEnd());
  EXPECT_FALSE(f.FlushFile());
  EXPECT_FALSE(f.SeekTo(0, 0));
  EXPECT_EQ(f.ReadBlock(&b, 1, 1), 0u);
  EXPECT_EQ(f.WriteBlock(&b, 1, 1), 0u);
  EXPECT_FALSE(f.PutByte(1));
  EXPECT_EQ(f.GetByte(), -1);
  EXPECT_TRUE(f.CloseFile());
}

TEST(PxMemFile, CallersBufferIsNeverReallocatedOrFreed) {
  // A buffer on the stack: growing must copy it, never realloc or free it.
  uint8_t local[4] = {1, 2, 3, 4};
  {
    PxMemFile f(local, 4);
    ASSERT_TRUE(f.SeekTo(0, 2));
    uint8_t more[8] = {5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(f.WriteBlock(more, 1, 8), 8u);
    EXPECT_EQ(f.DataSize(), 12);
    EXPECT_NE(f.Buffer(), local);
    EXPECT_EQ(f.Buffer()[0], 1);
    EXPECT_EQ(f.Buffer()[11], 12);
  }
  EXPECT_EQ(local[0], 1);
}

// A write past the end (a writer patching a later field first) leaves a
// gap that reads as zeros, never as old heap contents.
TEST(PxMemFile, GapBeforeAWritePastTheEndIsZero) {
  // Freed heap with a known pattern makes leftovers likely to show.
  { std::vector<uint8_t> junk(200000, 0xCD); }
  PxMemFile f;
  ASSERT_TRUE(f.Open());
  const uint8_t one = 7;
  ASSERT_EQ(f.WriteBlock(&one, 1, 1), 1u);
  ASSERT_TRUE(f.SeekTo(3000, 0));
  ASSERT_EQ(f.WriteBlock(&one, 1, 1), 1u);
  ASSERT_TRUE(f.SeekTo(70000, 0));  // beyond the first 64 KiB block
  ASSERT_TRUE(f.PutByte(9));
  ASSERT_EQ(f.DataSize(), 70001);
  size_t nonZero = 0;
  for (int32_t i = 1; i < 70000; ++i) nonZero += (i != 3000 && f.Buffer()[i] != 0);
  EXPECT_EQ(nonZero, 0u);
  EXPECT_EQ(f.Buffer()[0], 7);
  EXPECT_EQ(f.Buffer()[3000], 7);
  EXPECT_EQ(f.Buffer()[70000], 9);
}

TEST(PxMemFile, HugeWritesFailCleanly) {
  PxMemFile f;
  ASSERT_TRUE(f.Open());
  uint8_t b = 0;
  EXPECT_EQ(f.WriteBlock(&b, SIZE_MAX, 2), 0u);
  EXPECT_TRUE(f.SeekTo(0x7FFF0000, 0));
  EXPECT_EQ(f.WriteBlock(&b, 1, 1), 0u);  // would pass the 32-bit size limit
  // A failed growth leaves no buffer: the file now behaves as one without.
  EXPECT_EQ(f.Position(), -1);
  EXPECT_FALSE(f.PutByte(1));
}

TEST(PxIOFile, CallersStreamStaysOpen) {
  pxtest::ScratchDir dir;
  FILE* s = std::fopen(dir.File("a.bin").c_str(), "w+b");
  ASSERT_NE(s, nullptr);
  {
    PxIOFile f(s);
    EXPECT_TRUE(f.PutByte('x'));
    EXPECT_EQ(f.WriteBlock("yz", 1, 2), 2u);
    EXPECT_EQ(f.TotalSize(), 3);
    EXPECT_EQ(f.Position(), 3);
    EXPECT_TRUE(f.CloseFile());  // not ours: stays open
    EXPECT_EQ(PxFileSeekProc(&f, 1, 0), 1);  // 1, not the new offset
    char buf[2];
    EXPECT_EQ(PxFileReadProc(&f, buf, 1, 2), 2u);
    EXPECT_EQ(std::memcmp(buf, "yz", 2), 0);
    EXPECT_EQ(f.GetByte(), -1);
    EXPECT_TRUE(f.AtEnd());
  }
  // Still open after destruction.
  EXPECT_EQ(std::fseek(s, 0, SEEK_SET), 0);
  EXPECT_EQ(std::fgetc(s), 'x');
  std::fclose(s);

  PxIOFile none;
  EXPECT_EQ(none.Position(), 0);
  EXPECT_EQ(none.TotalSize(), -1);
  EXPECT_EQ(none.ErrorState(), -1);
  EXPECT_TRUE(none.AtEnd());
  EXPECT_EQ(none.GetByte(), -1);
  EXPECT_EQ(PxFileSeekProc(&none, 0, 0), 0);
}

TEST(PxIOFile, ScanAndReadLine) {
  pxtest::ScratchDir dir;
  pxtest::WriteBytes(dir.File("t.txt"), {'4', '2', ' ', 'a', 'b', '\n', 'c'});
  PxIOFile f;
  ASSERT_TRUE(f.Open(dir.File("t.txt").c_str(), "rb"));
  int v = 0;
  EXPECT_EQ(f.ScanFormatted("%d", &v), 1);
  EXPECT_EQ(v, 42);
  char line[16];
  EXPECT_STREQ(f.ReadLine(line, sizeof line), " ab\n");
  EXPECT_TRUE(f.CloseFile());
}

}  // namespace
