#include <cstring>

#include "TestSupport.h"
#include "imagelib/PxImage.h"

namespace {

std::vector<uint8_t> EncodeToMemory(PxImage& img, ImageFormatId id) {
  PxMemFile mem;
  EXPECT_TRUE(mem.Open());
  EXPECT_TRUE(img.Encode(&mem, id)) << img.LastError();
  return std::vector<uint8_t>(mem.Buffer(), mem.Buffer() + mem.DataSize());
}

TEST(Dispatch, UnusedIdsTryNothing) {
  uint8_t bytes[64] = {'B', 'M'};
  for (ImageFormatId id : {16u, 21u, 1000u}) {
    PxMemFile file(bytes, sizeof bytes);
    ASSERT_TRUE(file.SeekTo(3, 0));
    PxImage img;
    EXPECT_FALSE(img.Decode(&file, id));
    EXPECT_STREQ(img.LastError(), "Decode: Unknown or wrong format");
    EXPECT_EQ(file.Position(), 3);
  }
  PxImage img;
  EXPECT_FALSE(img.Decode(nullptr, 1));
}

// Every id of the table reaches a format class: on garbage each fails with a
// text of its own (never the try-everything text), rewinds the file, and
// leaves the caller's pixels alone.
TEST(Dispatch, EveryFormatIdIsDispatched) {
  std::vector<uint8_t> garbage(200, 0x5A);
  for (ImageFormatId id = 1; id <= 20; ++id) {
    if (id == 16) continue;
    SCOPED_TRACE(id);
    PxMemFile file(garbage.data(), int32_t(garbage.size()));
    ASSERT_TRUE(file.SeekTo(7, 0));
    PxImage img(2, 2, 24, 0);
    img.StorePixelColor(1, 1, RGBQUAD{1, 2, 3, 0});
    uint8_t* before = img.dib;
    EXPECT_FALSE(img.Decode(&file, id));
    EXPECT_STRNE(img.LastError(), "");
    EXPECT_STRNE(img.LastError(), "Decode: Unknown or wrong format");
    EXPECT_EQ(file.Position(), 7);
    EXPECT_EQ(img.dib, before);
    EXPECT_EQ(pxtest::Rgb(img, 1, 1), 0x030201u);
  }
  PxMemFile file(garbage.data(), int32_t(garbage.size()));
  PxImage img;
  EXPECT_FALSE(img.Decode(&file, 0));
  EXPECT_STREQ(img.LastError(), "Decode: Unknown or wrong format");
  EXPECT_EQ(file.Position(), 0);
}

TEST(Dispatch, EncodeTexts) {
  PxImage img(2, 2, 24, 0);
  PxMemFile mem;
  ASSERT_TRUE(mem.Open());
  const struct {
    ImageFormatId id;
    const char* text;
  } refused[] = {{10, "Save WMF not supported"}, {19, "Save RAW not supported"}, {20, "Save PSD not supported"},
                 {0, "Encode: Unknown format"},  {16, "Encode: Unknown format"},  {21, "Encode: Unknown format"}};
  for (const auto& r : refused) {
    EXPECT_FALSE(img.Encode(&mem, r.id));
    EXPECT_STREQ(img.LastError(), r.text) << r.id;
  }
  // Every writer is reached: each either writes or fails with a text.
  for (ImageFormatId id = 1; id <= 20; ++id) {
    if (id == 16 || id == 10 || id == 19 || id == 20) continue;
    PxMemFile out;
    ASSERT_TRUE(out.Open());
    img.info.lastError[0] = '\0';
    if (!img.Encode(&out, id)) {
      EXPECT_STRNE(img.LastError(), "") << id;
    }
  }
}

TEST(Dispatch, EncodeLeavesTheCallerOwningItsPicture) {
  PxImage img(5, 3, 8, 0);
  pxtest::FillPattern(img);
  uint8_t* block = img.dib;
  std::vector<uint8_t> copy(block, block + 40 + 1024 + img.ImageBytes());
  std::vector<uint8_t> bytes = EncodeToMemory(img, kFormatBmp);
  EXPECT_FALSE(bytes.empty());
  EXPECT_FALSE(img.IsBorrowed());
  EXPECT_EQ(img.dib, block);
  EXPECT_EQ(std::memcmp(copy.data(), block, copy.size()), 0);
  EXPECT_TRUE(img.ReleaseBuffers());
}

TEST(Dispatch, LoadFileRetriesEveryFormatAndKeepsTheExpectedFormatsText) {
  pxtest::ScratchDir dir;
  PxImage img(4, 3, 24, 0);
  pxtest::FillPattern(img);
  pxtest::WriteBytes(dir.File("p.bmp"), EncodeToMemory(img, kFormatBmp));
  pxtest::WriteBytes(dir.File("t.txt"), std::vector<uint8_t>(300, 'x'));

  PxImage loaded;
  loaded.info.formatId = 77;
  ASSERT_TRUE(loaded.LoadFile(pxtest::Wide(dir.File("p.bmp")), kFormatJpg)) << loaded.LastError();
  EXPECT_EQ(loaded.info.formatId, kFormatBmp);
  EXPECT_EQ(pxtest::Rgb(loaded, 3, 2), pxtest::Rgb(img, 3, 2));

  PxImage text;
  EXPECT_FALSE(text.LoadFile(pxtest::Wide(dir.File("t.txt")), kFormatBmp));
  EXPECT_STREQ(text.LastError(), "Error reading BMP info");
  EXPECT_FALSE(text.LoadFile(pxtest::Wide(dir.File("t.txt")), kFormatJpg));
  EXPECT_STRNE(text.LastError(), "Decode: Unknown or wrong format");
  EXPECT_FALSE(text.LoadFile(pxtest::Wide(dir.File("t.txt")), 0));
  EXPECT_STREQ(text.LastError(), "Decode: Unknown or wrong format");

  // Paths that cannot be opened leave the text alone.
  PxImage missing;
  std::strcpy(missing.info.lastError, "earlier");
  EXPECT_FALSE(missing.LoadFile(pxtest::Wide(dir.File("none.bmp")), kFormatBmp));
  EXPECT_FALSE(missing.LoadFile(std::wstring(L"/tmp/\xD800bad"), 0));
  EXPECT_FALSE(missing.LoadFile(std::wstring(), 0));
  EXPECT_STREQ(missing.LastError(), "earlier");

  // A name that is not valid UTF-8 survives the way to the file system.
  std::string odd = dir.File("caf\xE9.bmp");
  pxtest::WriteBytes(odd, EncodeToMemory(img, kFormatBmp));
  PxImage escaped;
  EXPECT_TRUE(escaped.LoadFile(pw::NarrowToWide(odd), kFormatBmp)) << escaped.LastError();
}

// A damaged file never turns into another format's success. This
// colour-mapped TGA (its map starting at entry 4) cut in half also reads as
// a 1 x 4 WBMP, a format without a signature: loaded as TGA, as the tools
// load it by its extension, it fails with the TGA reader's text.
TEST(Dispatch, DamagedFileIsNotAnotherFormatsSuccess) {
  const uint8_t head[18] = {0, 1, 1, 4, 0, 16, 0, 24, 0, 0, 0, 0, 8, 0, 8, 0, 8, 0x20};
  std::vector<uint8_t> tga(head, head + sizeof head);
  for (int i = 0; i < 16; ++i) tga.insert(tga.end(), {uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i * 40)});
  for (int p = 0; p < 64; ++p) tga.push_back(uint8_t(4 + p % 16));
  pxtest::ScratchDir dir;
  pxtest::WriteBytes(dir.File("whole.tga"), tga);
  tga.resize(tga.size() / 2);
  pxtest::WriteBytes(dir.File("half.tga"), tga);

  PxImage whole;
  ASSERT_TRUE(whole.LoadFile(pxtest::Wide(dir.File("whole.tga")), kFormatTga)) << whole.LastError();
  EXPECT_EQ(whole.Width(), 8u);
  for (ImageFormatId id : {kFormatTga, kFormatUnknown}) {
    SCOPED_TRACE(id);
    PxImage half;
    EXPECT_FALSE(half.LoadFile(pxtest::Wide(dir.File("half.tga")), id));
    EXPECT_STREQ(half.LastError(), id == kFormatTga ? "corrupted TGA" : "Decode: Unknown or wrong format");
    EXPECT_FALSE(half.HasPixels());
  }
}

TEST(Dispatch, DimensionsOnly) {
  PxImage img(33, 17, 8, 0);
  std::vector<uint8_t> bytes = EncodeToMemory(img, kFormatBmp);
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  PxImage probe;
  probe.info.escape = -1;
  EXPECT_TRUE(probe.Decode(&file, 0));
  EXPECT_EQ(probe.Width(), 33u);
  EXPECT_EQ(probe.Height(), 17u);
  EXPECT_EQ(probe.info.formatId, kFormatBmp);
  EXPECT_FALSE(probe.HasPixels());
}

TEST(Dispatch, DecodeFileHandleNeitherClosesNorOwns) {
  pxtest::ScratchDir dir;
  PxImage img(2, 2, 24, 0);
  pxtest::WriteBytes(dir.File("a.bmp"), EncodeToMemory(img, kFormatBmp));
  FILE* s = std::fopen(dir.File("a.bmp").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  PxImage loaded;
  EXPECT_TRUE(loaded.DecodeFileHandle(s, kFormatBmp));
  EXPECT_EQ(std::fseek(s, 0, SEEK_SET), 0);
  EXPECT_EQ(std::fgetc(s), 'B');
  std::fclose(s);
}

}  // namespace

namespace {

bool DecodeBytes(PxImage& img, std::vector<uint8_t>& bytes, ImageFormatId id) {
  PxMemFile mem(bytes.data(), static_cast<int32_t>(bytes.size()));
  return img.Decode(&mem, id);
}

}  // namespace

TEST(Dispatch, ANewDecodeForgetsThePreviousFramesPlacementDelayAndDisposal) {
  pxtest::ScratchDir dir;
  const std::string gif = dir.File("timed.gif");
  const std::string tif = dir.File("placed.tif");
  ASSERT_EQ(pxtest::Run("convert-im6.q16 -size 4x3 xc:red -set delay 25 -set dispose Previous '" + gif + "'"), 0);
  ASSERT_EQ(pxtest::Run("convert-im6.q16 -size 4x3 xc:red -density 1 -units PixelsPerInch "
                        "-set page 10x9+3+2 '" + tif + "'"), 0);
  PxImage plain(4, 3, 24, 0);
  pxtest::FillPattern(plain);
  std::vector<uint8_t> bmp = EncodeToMemory(plain, kFormatBmp);

  PxImage img;
  ASSERT_TRUE(img.LoadFile(pxtest::Wide(gif), kFormatGif)) << img.LastError();
  ASSERT_EQ(img.info.frameDelay, 25u);
  ASSERT_EQ(img.info.disposal, 3);
  ASSERT_TRUE(DecodeBytes(img, bmp, kFormatBmp)) << img.LastError();
  EXPECT_EQ(img.info.frameDelay, 0u);
  EXPECT_EQ(img.info.disposal, 0);

  ASSERT_TRUE(img.LoadFile(pxtest::Wide(tif), kFormatTif)) << img.LastError();
  ASSERT_EQ(img.info.frameOffsetX, 3);
  ASSERT_EQ(img.info.frameOffsetY, 2);
  ASSERT_TRUE(DecodeBytes(img, bmp, kFormatBmp)) << img.LastError();
  EXPECT_EQ(img.info.frameOffsetX, 0);
  EXPECT_EQ(img.info.frameOffsetY, 0);
}

// A file whose signature a format recognised but which that format could
// not read reports that format's reason, not "unknown format".
TEST(Dispatch, TryingEveryFormatReportsTheRecognisingFormatsError) {
  PxImage plain(8, 6, 24, 0);
  pxtest::FillPattern(plain);
  struct Case {
    const char* name;
    ImageFormatId format;
    size_t keep;  // bytes kept of the encoded file
  };
  const Case cases[] = {
      {"PNG cut after its header", kFormatPng, 40},
      {"GIF cut in its screen", kFormatGif, 8},
      {"JPEG cut after its start", kFormatJpg, 4},
      {"TIFF cut after its header", kFormatTif, 8},
      {"BMP cut in its header", kFormatBmp, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = EncodeToMemory(plain, c.format);
    bytes.resize(c.keep);
    PxImage alone;
    EXPECT_FALSE(DecodeBytes(alone, bytes, c.format));
    PxImage any;
    EXPECT_FALSE(DecodeBytes(any, bytes, kFormatUnknown));
    EXPECT_STREQ(any.LastError(), alone.LastError());
    EXPECT_STRNE(any.LastError(), "Decode: Unknown or wrong format");
  }
  // Through LoadFile with another format expected, too.
  pxtest::ScratchDir dir;
  std::vector<uint8_t> png = EncodeToMemory(plain, kFormatPng);
  png.resize(40);
  pxtest::WriteBytes(dir.File("cut.png"), png);
  PxImage alone;
  EXPECT_FALSE(DecodeBytes(alone, png, kFormatPng));
  PxImage loaded;
  EXPECT_FALSE(loaded.LoadFile(pxtest::Wide(dir.File("cut.png")), kFormatJpg));
  EXPECT_STREQ(loaded.LastError(), alone.LastError());

  // Unrecognised bytes keep the old text.
  std::vector<uint8_t> text(300, 'x');
  PxImage none;
  EXPECT_FALSE(DecodeBytes(none, text, kFormatUnknown));
  EXPECT_STREQ(none.LastError(), "Decode: Unknown or wrong format");
}

// A file whose own reader recognised its signature and found it damaged is
// that reader's failure, whichever format was named: no other format's
// reader turns it into a picture. ImageMagick's PNG with one chunk type
// made invalid fails in the PNG reader; the MNG reader used to take it and
// return the picture as a plain success.
TEST(Dispatch, ADamagedFileStaysItsOwnFormatsFailure) {
  pxtest::ScratchDir dir;
  const std::string good = dir.File("good.png");
  ASSERT_EQ(pxtest::Run("convert-im6.q16 -size 8x6 gradient:red-blue -background white '" + good + "'"), 0);
  std::vector<uint8_t> png = pxtest::ReadBytes(good);
  // The first chunk after IHDR, whatever ImageMagick put there.
  ASSERT_GT(png.size(), 8u + 25 + 8);
  ASSERT_EQ(std::memcmp(&png[12], "IHDR", 4), 0);
  png[8 + 25 + 4] = 0xE7;
  const std::string bad = dir.File("bad.png");
  pxtest::WriteBytes(bad, png);

  PxImage alone;
  ASSERT_FALSE(DecodeBytes(alone, png, kFormatPng));
  ASSERT_STRNE(alone.LastError(), "");
  for (ImageFormatId id : {kFormatPng, kFormatUnknown, kFormatJpg, kFormatTga}) {
    SCOPED_TRACE(id);
    PxImage loaded;
    EXPECT_FALSE(loaded.LoadFile(pxtest::Wide(bad), id)) << "read as format " << loaded.info.formatId;
    EXPECT_STREQ(loaded.LastError(), alone.LastError());
    EXPECT_FALSE(loaded.HasPixels());
  }
  // The TIFF reader still hands camera raw data on (RAW keeps its place
  // after a TIFF signature): a DNG reads whether named TIFF or not, which
  // raw_format_test.cpp holds; a plain TIFF is still read as TIFF.
  PxImage plain(8, 6, 24, 0);
  pxtest::FillPattern(plain);
  std::vector<uint8_t> tif = EncodeToMemory(plain, kFormatTif);
  PxImage any;
  ASSERT_TRUE(DecodeBytes(any, tif, kFormatUnknown)) << any.LastError();
  EXPECT_EQ(any.info.formatId, kFormatTif);
}
