// MNG and JNG: animations written by ImageMagick (frames compared with
// ImageMagick's own reading), streams built here chunk by chunk for the
// background and the size limit, and the writer read back by ImageMagick.
#include <gtest/gtest.h>
#include <zlib.h>

#include <malloc.h>

#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "imagelib/PxImageMNG.h"
#include "tests/platform/temp_tree.h"
#include "tiff_test_support.h"

using namespace tifftest;

namespace {

class Mng : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  // Five full-canvas frames: red, lime, blue, yellow, white.
  std::string FiveFrames(const std::string& name, const std::string& loop) {
    const std::string out = Path(name);
    EXPECT_TRUE(Sh("convert-im6.q16 -delay 10 " + loop +
                   " -size 20x10 xc:red xc:lime xc:blue xc:yellow xc:white " + Quote(out)));
    return out;
  }
  pwtest::TempTree dir_;
};

void PutBe32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

std::string Chunk(const char* type, const std::string& data) {
  std::string c;
  PutBe32(c, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  c += body;
  PutBe32(c, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return c;
}

// An MNG of one grey image of 2 x 1 (or one that claims imageW x imageH) on
// a canvas of w x h, optionally with a BACK chunk, with `before` and `after`
// spliced around the image.
std::string BuildMng(uint32_t w, uint32_t h, bool back, const std::string& before = "",
                     const std::string& after = "", uint32_t imageW = 2, uint32_t imageH = 1) {
  std::string s("\x8aMNG\r\n\x1a\n", 8);
  std::string mhdr;
  for (uint32_t v : {w, h, 1u, 0u, 0u, 0u, 0u}) PutBe32(mhdr, v);
  s += Chunk("MHDR", mhdr);
  if (back) s += Chunk("BACK", std::string("\x12\x34\x56\x78\x9a\xbc", 6));
  s += before;
  std::string ihdr;
  PutBe32(ihdr, imageW);
  PutBe32(ihdr, imageH);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);
  s += Chunk("IHDR", ihdr);
  const uint8_t raw[3] = {0, 200, 200};
  uint8_t packed[64];
  uLongf n = sizeof packed;
  compress(packed, &n, raw, sizeof raw);
  s += Chunk("IDAT", std::string(reinterpret_cast<char*>(packed), n));
  s += Chunk("IEND", "");
  s += after;
  s += Chunk("MEND", "");
  return s;
}

bool DecodeBytes(PxImage& image, const std::string& bytes) {
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  PxMemFile file(data.data(), static_cast<int32_t>(data.size()));
  return image.Decode(&file, kFormatMng);
}

TEST_F(Mng, EveryFrameMatchesImageMagick) {
  for (const char* loop : {"", "-loop 0", "-loop 3"}) {
    const std::string file = FiveFrames(std::string("a") + (loop[0] ? loop + 1 : "") + ".mng", loop);
    for (int frame = 0; frame < 5; ++frame) {
      auto image = Load(file, frame, kFormatMng);
      ASSERT_TRUE(image) << loop << " frame " << frame;
      EXPECT_EQ(image->info.formatId, kFormatMng);
      EXPECT_EQ(image->info.frameCount, 5) << loop;
      EXPECT_EQ(image->Bpp(), 24u);
      EXPECT_EQ(MaxDifference(*image, MagickRgb(file + "[" + std::to_string(frame) + "]")), 0)
          << loop << " frame " << frame;
      ASSERT_NE(image->alpha, nullptr);
      EXPECT_EQ(image->alpha[0], 255);
    }
    PxImage missing;
    missing.info.frame = 5;
    EXPECT_FALSE(missing.LoadFile(pw::NarrowToWide(file), kFormatMng));
    EXPECT_STREQ(missing.LastError(), "Error: frame not present in MNG file");
    EXPECT_EQ(missing.info.frameCount, 5);
  }
}

// libmng handles share nothing: frames read on several threads at once
// come out as read alone.
TEST_F(Mng, ParallelReadsAgree) {
  const std::string file = FiveFrames("par.mng", "-loop 0");
  std::vector<std::thread> workers;
  int failures[5] = {};
  const uint32_t colours[5] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFFFFFF};
  for (int t = 0; t < 5; ++t) {
    workers.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        auto image = Load(file, t, kFormatMng);
        if (!image || image->info.frameCount != 5 || pxtest::Rgb(*image, 7, 3) != colours[t]) ++failures[t];
      }
    });
  }
  for (auto& w : workers) w.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

// A thousand frames repeated without end: counted once, not 2^31 times.
TEST_F(Mng, EndlessLoopIsCountedOnce) {
  const std::string file = Path("loop.mng");
  ASSERT_TRUE(Sh("convert-im6.q16 -delay 1 -loop 0 -size 16x16 xc:red xc:blue -duplicate 499,0,1 " + Quote(file)));
  auto last = Load(file, 999, kFormatMng);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->info.frameCount, 1000);
  EXPECT_EQ(pxtest::Rgb(*last, 3, 3), 0x0000FFu);
}

TEST_F(Mng, StillPicturesAndJng) {
  const std::string still = Path("still.mng"), jng = Path("card.jng");
  WritePpm(Path("card.ppm"), 61, 47);
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + Quote(still)));
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + Quote(jng)));
  for (const std::string& file : {still, jng}) {
    auto image = Load(file, 0, kFormatUnknown);
    ASSERT_TRUE(image) << file;
    EXPECT_EQ(image->info.formatId, kFormatMng);
    EXPECT_EQ(image->info.frameCount, 1);
    EXPECT_LE(MaxDifference(*image, MagickRgb(file)), 1) << file;
  }
  PxImage size;
  size.info.escape = -1;
  ASSERT_TRUE(size.LoadFile(pw::NarrowToWide(still), kFormatMng));
  EXPECT_EQ(size.Width(), 61u);
  EXPECT_EQ(size.Height(), 47u);
}

TEST_F(Mng, BackgroundAndLimits) {
  PxImage plain, withBack;
  ASSERT_TRUE(DecodeBytes(plain, BuildMng(2, 1, false))) << plain.LastError();
  EXPECT_EQ(plain.info.backgroundIndex, -1);
  EXPECT_EQ(pxtest::Rgb(plain, 1, 0), 0xC8C8C8u);
  ASSERT_TRUE(DecodeBytes(withBack, BuildMng(2, 1, true))) << withBack.LastError();
  EXPECT_EQ(withBack.info.backgroundIndex, 0);
  EXPECT_EQ(withBack.info.backgroundColor.rgbRed, 0x12);
  EXPECT_EQ(withBack.info.backgroundColor.rgbGreen, 0x56);
  EXPECT_EQ(withBack.info.backgroundColor.rgbBlue, 0x9A);

  // Another format's file leaves the frame count a caller already has.
  PxImage notMng;
  notMng.info.frameCount = 7;
  EXPECT_FALSE(DecodeBytes(notMng, "GIF89a not an animation at all"));
  EXPECT_EQ(notMng.info.frameCount, 7);

  PxImage huge;
  EXPECT_FALSE(DecodeBytes(huge, BuildMng(60000, 60000, false, "", "", 60000, 60000)));
  EXPECT_STREQ(huge.LastError(), "PXIMAGE_MAX_MEMORY exceeded");
  const std::string whole = BuildMng(2, 1, false);
  for (size_t cut : {size_t{8}, size_t{20}, whole.size() / 2, whole.size() - 13}) {
    PxImage truncated;
    EXPECT_FALSE(DecodeBytes(truncated, whole.substr(0, cut))) << cut;
    EXPECT_FALSE(truncated.HasPixels());
  }
}

// Loops that would repeat 2^31 times: each loop body plays once, so a file
// with LOOP chunks reads (its frames counted once) and a loop whose body
// draws nothing ends at once; TERM is passed over.
TEST_F(Mng, LoopChunksPlayOnce) {
  const std::string term = Chunk("TERM", std::string("\x03\x00\x00\x00\x00\x01\x7f\xff\xff\xff", 10));
  const std::string loop = Chunk("LOOP", std::string("\x00\x7f\xff\xff\xff", 5));
  const std::string inner = Chunk("LOOP", std::string("\x01\x00\x00\x00\x05", 5));
  const std::string endl = Chunk("ENDL", std::string("\x00", 1));
  const std::string endInner = Chunk("ENDL", std::string("\x01", 1));
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"term", BuildMng(2, 1, false, term)},
      {"loop around the image", BuildMng(2, 1, false, loop, endl)},
      {"nested loops", BuildMng(2, 1, false, loop + inner, endInner + endl)},
      {"empty loop", BuildMng(2, 1, false, loop + endl)},
      {"empty loop and term", BuildMng(2, 1, false, term + loop + endl)},
      {"loop never closed", BuildMng(2, 1, false, loop)},
  };
  for (const Case& c : cases) {
    PxImage image;
    ASSERT_TRUE(DecodeBytes(image, c.bytes)) << c.name << ": " << image.LastError();
    EXPECT_EQ(image.info.frameCount, 1) << c.name;
    EXPECT_EQ(pxtest::Rgb(image, 1, 0), 0xC8C8C8u) << c.name;
  }
}

// Thirty one-pixel frames, each its own grey, in a loop of 2^31 rounds on
// a canvas of 9000 x 9000 (the file of the replay table): the canvas is cut
// to what the frames reach, every frame counted once and each one found.
TEST_F(Mng, LoopedFramesOnAHugeCanvas) {
  const std::vector<uint8_t> bytes = pxtest::ReadBytes(
      std::string(PW_TEST_DATA) + "/crashers/mng/slow-9000-square-canvas-30-one-pixel-frames-in-a-loop.mng");
  ASSERT_FALSE(bytes.empty());
  for (int frame : {0, 17, 29}) {
    PxImage image;
    image.info.frame = frame;
    PxMemFile file(const_cast<uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    ASSERT_TRUE(image.Decode(&file, kFormatMng)) << image.LastError();
    EXPECT_EQ(image.info.frameCount, 30);
    EXPECT_EQ(image.Width(), 1u);
    EXPECT_EQ(pxtest::Rgb(image, 0, 0), 0x010101u * static_cast<uint32_t>(frame * 8)) << frame;
  }
}

// The canvas is what the images reach at their places (DEFI), within the
// MHDR's; one the file's bytes cannot justify is refused.
TEST_F(Mng, CanvasFollowsTheImages) {
  std::string defi("\x00\x00\x00\x00", 4);  // object 0, shown, abstract
  PutBe32(defi, 100);
  PutBe32(defi, 50);
  PxImage placed;
  ASSERT_TRUE(DecodeBytes(placed, BuildMng(9000, 9000, false, Chunk("DEFI", defi)))) << placed.LastError();
  EXPECT_EQ(placed.Width(), 102u);
  EXPECT_EQ(placed.Height(), 51u);
  EXPECT_EQ(pxtest::Rgb(placed, 101, 0), 0xC8C8C8u);  // the image's second pixel, bottom row
  EXPECT_EQ(pxtest::Rgb(placed, 0, 50), 0xFFFFFFu);   // background
  PxImage inside;
  ASSERT_TRUE(DecodeBytes(inside, BuildMng(40, 30, false))) << inside.LastError();
  EXPECT_EQ(inside.Width(), 2u);
  EXPECT_EQ(inside.Height(), 1u);
  // A 9000 x 9000 image whose data is a few bytes.
  PxImage unjustified;
  EXPECT_FALSE(DecodeBytes(unjustified, BuildMng(9000, 9000, false, "", "", 9000, 9000)));
  EXPECT_STREQ(unjustified.LastError(), "PXIMAGE_MAX_MEMORY exceeded");
}

// libmng loses a row buffer when a JNG's JPEG data fails; what it loses
// goes with the handle. Two hundred failed reads leave no memory in use.
// (Under the sanitizers mallinfo2 sees none of it; LeakSanitizer does.)
TEST_F(Mng, FailedJngLeavesNothingBehind) {
  WritePpm(Path("card.ppm"), 61, 47);
  const std::string jng = Path("card.jng");
  ASSERT_TRUE(Sh("convert-im6.q16 " + Quote(Path("card.ppm")) + " " + Quote(jng)));
  const std::vector<uint8_t> good = pxtest::ReadBytes(jng);
  // Rebuild the chunk list with a lossless frame marker in the JPEG data,
  // which the JPEG library refuses after libmng has set up its rows.
  std::string broken(good.begin(), good.begin() + 8);
  for (size_t at = 8; at + 12 <= good.size();) {
    const uint32_t n = uint32_t{good[at]} << 24 | uint32_t{good[at + 1]} << 16 | uint32_t{good[at + 2]} << 8 |
                       good[at + 3];
    const std::string type(good.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           good.begin() + static_cast<std::ptrdiff_t>(at + 8));
    std::string data(good.begin() + static_cast<std::ptrdiff_t>(at + 8),
                     good.begin() + static_cast<std::ptrdiff_t>(at + 8 + n));
    if (type == "JDAT") {
      const size_t sof = data.find("\xff\xc0");
      ASSERT_NE(sof, std::string::npos);
      data[sof + 1] = static_cast<char>(0xC3);
    }
    broken += Chunk(type.c_str(), data);
    at += 12 + n;
  }
  PxImage first;
  ASSERT_FALSE(DecodeBytes(first, broken));
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 200; ++i) {
    PxImage image;
    EXPECT_FALSE(DecodeBytes(image, broken));
  }
  // The lost buffer is 512 bytes a read; the allocator's own bookkeeping
  // moves by a few kilobytes.
  EXPECT_LT(mallinfo2().uordblks, before + 200 * 512 / 4);
}

// A memory file that takes only the first `room` bytes.
class ShortFile : public PxMemFile {
 public:
  explicit ShortFile(size_t room) : room_(room) { Open(); }
  size_t WriteBlock(const void* buffer, size_t size, size_t count) override {
    if (size * count > room_) return 0;
    room_ -= size * count;
    return PxMemFile::WriteBlock(buffer, size, count);
  }

 private:
  size_t room_;
};

TEST_F(Mng, WriterRoundTripsAndFails) {
  PxImage picture(5, 4, 24, 0);
  pxtest::FillPattern(picture);
  const std::string out = Path("w.mng");
  {
    FILE* f = std::fopen(out.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    PxIOFile file(f);
    ASSERT_TRUE(picture.Encode(&file, kFormatMng)) << picture.LastError();
    std::fclose(f);
  }
  EXPECT_EQ(MaxDifference(picture, MagickRgb(out)), 0);
  auto back = Load(out, 0, kFormatMng);
  ASSERT_TRUE(back);
  EXPECT_EQ(MaxDifference(*back, MagickRgb(out)), 0);

  // Rows of 16 bytes: a filter byte and five pixels.
  const std::vector<uint8_t> bytes = pxtest::ReadBytes(out);
  const std::string text(bytes.begin(), bytes.end());
  const size_t idat = text.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  const uint32_t length = uint32_t{bytes[idat - 4]} << 24 | uint32_t{bytes[idat - 3]} << 16 |
                          uint32_t{bytes[idat - 2]} << 8 | bytes[idat - 1];
  std::vector<uint8_t> rows(1000);
  uLongf rowBytes = rows.size();
  ASSERT_EQ(uncompress(rows.data(), &rowBytes, &bytes[idat + 4], length), Z_OK);
  EXPECT_EQ(rowBytes, 4u * 16u);

  for (size_t room : {size_t{0}, size_t{20}, size_t{60}}) {
    ShortFile full(room);
    EXPECT_FALSE(picture.Encode(&full, kFormatMng)) << room;
  }
  PxImage palette(4, 4, 8, 0);
  PxMemFile sink;
  sink.Open();
  EXPECT_FALSE(palette.Encode(&sink, kFormatMng));
  EXPECT_STREQ(palette.LastError(), "MNG encoder can save only RGB images");
}

}  // namespace
