#include <climits>
#include <cstring>

#include "TestSupport.h"
#include "imagelib/PxImage.h"
#include "platform/byteorder.h"

namespace {

struct CreateCase {
  uint32_t width, height, bpp;
  bool ok;
  uint32_t roundedBpp, stride, paletteSize;
  const char* error;
};

TEST(PxImageCreate, DepthRoundingStrideAndMemoryLimit) {
  const CreateCase cases[] = {
      {100, 100, 32, true, 24, 300, 0, ""},
      {3, 1, 1, true, 1, 4, 2, ""},
      {1, 1, 3, true, 4, 4, 16, ""},
      {1, 1, 0, true, 1, 4, 2, ""},
      {5, 1, 2, true, 4, 4, 16, ""},
      {5, 1, 5, true, 8, 8, 256, ""},
      {5, 1, 9, true, 24, 16, 0, ""},
      {16384, 16384, 8, true, 8, 16384, 256, ""},  // exactly 2^28 bytes still passes
      {16385, 16384, 8, false, 0, 0, 0, "PXIMAGE_MAX_MEMORY exceeded"},
      {10000, 9000, 24, false, 0, 0, 0, "PXIMAGE_MAX_MEMORY exceeded"},
      {0, 10, 8, false, 0, 0, 0, "PxImage::Create : width and height must be greater than zero"},
      {10, 0, 8, false, 0, 0, 0, "PxImage::Create : width and height must be greater than zero"},
      // Sizes whose float estimate rounds under the limit, or that overflow
      // 32-bit stride arithmetic, are refused by the exact 64-bit size.
      {0xFFFFFFFFu, 1, 24, false, 0, 0, 0, "PXIMAGE_MAX_MEMORY exceeded"},
      {0x80000000u, 1, 1, false, 0, 0, 0, "PXIMAGE_MAX_MEMORY exceeded"},
      {268435457u, 1, 8, false, 0, 0, 0, "PXIMAGE_MAX_MEMORY exceeded"},
  };
  for (const CreateCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bpp);
    PxImage img;
    uint8_t* block = img.Create(c.width, c.height, c.bpp, kFormatBmp);
    EXPECT_EQ(block != nullptr, c.ok);
    EXPECT_STREQ(img.LastError(), c.error);
    if (!c.ok) {
      EXPECT_FALSE(img.HasPixels());
      continue;
    }
    EXPECT_EQ(img.Bpp(), c.roundedBpp);
    EXPECT_EQ(img.RowStride(), c.stride);
    EXPECT_EQ(img.PaletteSize(), c.paletteSize);
    EXPECT_EQ(img.header.biClrUsed, c.paletteSize);
    EXPECT_EQ(img.header.biSizeImage, c.stride * c.height);
    EXPECT_EQ(img.info.pixels, block + 40 + 4 * c.paletteSize);
    EXPECT_EQ(img.info.formatId, kFormatBmp);
    // The block starts with the header in its stored (little-endian) form.
    EXPECT_EQ(pw::LoadLE32(block), 40u);
    EXPECT_EQ(pw::LoadLE32(block + 4), c.width);
    EXPECT_EQ(pw::LoadLE16(block + 14), c.roundedBpp);
    if (c.width * c.height < 100000) {
      // Rows a reader never fills are black, not leftover memory.
      for (size_t i = 0; i < img.ImageBytes(); ++i) ASSERT_EQ(img.info.pixels[i], 0) << i;
    }
  }
}

TEST(PxImageCreate, FailureLeavesEarlierBuffersReleased) {
  PxImage img(4, 4, 8, kFormatBmp);
  ASSERT_TRUE(img.HasPixels());
  ASSERT_TRUE(img.CreateAlphaPlane());
  EXPECT_EQ(img.Create(0, 4, 8, kFormatBmp), nullptr);
  EXPECT_FALSE(img.HasPixels());
  EXPECT_EQ(img.alpha, nullptr);
}

TEST(PxImageDefaults, InitDefaults) {
  PxImage img;
  EXPECT_FALSE(img.HasPixels());
  EXPECT_EQ(img.info.formatId, 0u);
  EXPECT_FLOAT_EQ(img.info.jpegQuality, 90.0f);
  EXPECT_EQ(img.info.alphaMax, 255);
  EXPECT_EQ(img.info.backgroundIndex, -1);
  EXPECT_EQ(img.info.jpegScale, 1);
  EXPECT_EQ(img.info.xDpi, 96);
  EXPECT_EQ(img.info.yDpi, 96);
  EXPECT_EQ(img.header.biXPelsPerMeter, 3780);
  EXPECT_EQ(img.header.biYPelsPerMeter, 3780);
  EXPECT_TRUE(img.info.littleEndianHost);
  EXPECT_STREQ(img.LastError(), "");
}

TEST(PxImageDpi, ConversionTable) {
  const struct {
    int32_t dpi, stored, ppm;
  } cases[] = {{0, 96, 3780}, {-5, 96, 3780}, {96, 96, 3780}, {300, 300, 11811}, {72, 72, 2835}, {1, 1, 39},
               // A resolution a file may claim (a PNG without unit passes its numbers
               // straight on) whose pixels per metre pass the signed field: capped.
               {54546084, 54546084, 2147483622}, {100000000, 100000000, INT32_MAX},
               {INT32_MAX, INT32_MAX, INT32_MAX}};
  for (const auto& c : cases) {
    PxImage img(2, 2, 24, 0);
    img.SetHorizontalDpi(c.dpi);
    img.SetVerticalDpi(c.dpi);
    EXPECT_EQ(img.info.xDpi, c.stored) << c.dpi;
    EXPECT_EQ(img.info.yDpi, c.stored) << c.dpi;
    EXPECT_EQ(img.header.biXPelsPerMeter, c.ppm) << c.dpi;
    EXPECT_EQ(img.header.biYPelsPerMeter, c.ppm) << c.dpi;
    // The copy inside the block follows.
    EXPECT_EQ(int32_t(pw::LoadLE32(img.dib + 24)), c.ppm);
    EXPECT_EQ(int32_t(pw::LoadLE32(img.dib + 28)), c.ppm);
  }
}

TEST(FormatIds, ExtensionTable) {
  const struct {
    const wchar_t* ext;
    ImageFormatId id;
  } cases[] = {
      {L"bmp", 1}, {L"BMP", 1}, {L"gif", 2}, {L"jpg", 3}, {L"JPEG", 3}, {L"jpe", 3}, {L"jfif", 3},
      {L"png", 4}, {L"ico", 5}, {L"cur", 5}, {L"Tiff", 6}, {L"tif", 6}, {L"tga", 7}, {L"pcx", 8},
      {L"wbmp", 9}, {L"wmf", 10}, {L"emf", 10}, {L"jp2", 11}, {L"j2k", 11}, {L"jpc", 12}, {L"j2c", 12},
      {L"pgx", 13}, {L"pnm", 14}, {L"pgm", 14}, {L"ppm", 14}, {L"ras", 15}, {L"mng", 17}, {L"jng", 17},
      {L"ska", 18}, {L"cr2", 19}, {L"NEF", 19}, {L"3fr", 19}, {L"orf", 19}, {L"x3f", 19}, {L"psd", 20},
      {L"txt", 0}, {L"", 0}, {L"jp", 0}, {L"pbm", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(PxImage::FormatIdFromExtension(c.ext), c.id) << std::string(c.ext, c.ext + wcslen(c.ext));

  const uint32_t index[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 16, 17, 18, 19, 0, 0};
  for (uint32_t id = 0; id < sizeof index / sizeof index[0]; ++id) EXPECT_EQ(PxImage::FormatIndexFromId(id), index[id]) << id;
  EXPECT_EQ(PxImage::FormatIndexFromId(0xFFFFFFFFu), 0u);
}

TEST(PxImageOwnership, CopyAdoptBorrow) {
  PxImage source(5, 3, 8, kFormatGif);
  pxtest::FillPattern(source);
  ASSERT_TRUE(source.CreateAlphaPlane());
  source.alpha[4] = 7;
  source.info.frame = 3;

  PxImage copy(source, true);
  EXPECT_EQ(copy.Width(), 5u);
  EXPECT_EQ(copy.info.frame, 3);
  EXPECT_NE(copy.dib, source.dib);
  EXPECT_EQ(std::memcmp(copy.dib, source.dib, 40 + 1024 + source.ImageBytes()), 0);
  ASSERT_NE(copy.alpha, nullptr);
  EXPECT_EQ(copy.alpha[4], 7);

  PxImage paletteOnly(source, false);
  EXPECT_EQ(std::memcmp(paletteOnly.PaletteData(), source.PaletteData(), 1024), 0);
  for (size_t i = 0; i < paletteOnly.ImageBytes(); ++i) ASSERT_EQ(paletteOnly.info.pixels[i], 0);

  // Adopting moves everything and leaves the source empty with format id 0;
  // without taking frames the target keeps its own frame list.
  PxImage target(2, 2, 24, 0);
  target.frames = new PxImage*[1]{new PxImage(1, 1, 8, 0)};
  target.frameListSize = 1;
  uint8_t* block = copy.dib;
  ASSERT_TRUE(target.AdoptFrom(copy, false));
  EXPECT_EQ(target.dib, block);
  EXPECT_EQ(copy.dib, nullptr);
  EXPECT_EQ(copy.alpha, nullptr);
  EXPECT_EQ(copy.info.formatId, 0u);
  EXPECT_EQ(target.frameListSize, 1);
  ASSERT_NE(target.frames, nullptr);

  // A borrowed image shares, refuses to release, and leaves its owner intact.
  {
    PxImage* borrower = new PxImage();
    borrower->BorrowFrom(target);
    EXPECT_TRUE(borrower->IsBorrowed());
    EXPECT_EQ(borrower->dib, target.dib);
    EXPECT_FALSE(borrower->ReleaseBuffers());
    EXPECT_FALSE(borrower->ReleaseFrames());
    EXPECT_EQ(borrower->Create(2, 2, 8, 0), nullptr);
    // Nobody may adopt a borrowed image's buffers.
    PxImage thief;
    EXPECT_FALSE(thief.AdoptFrom(*borrower));
    delete borrower;
  }
  EXPECT_EQ(target.PixelIndexAt(1, 0), pxtest::PatternValue(8, 1, 0));
  EXPECT_EQ(target.alpha[4], 7);
}

TEST(PxImageTransparentColor, Table) {
  PxImage img(2, 2, 1, 0);
  img.StorePaletteEntry(1, 10, 20, 30);
  img.info.backgroundColor = RGBQUAD{1, 2, 3, 4};
  img.info.backgroundIndex = -1;
  EXPECT_EQ(QuadValue(img.TransparentColor()), QuadValue(RGBQUAD{1, 2, 3, 4}));
  img.info.backgroundIndex = 1;
  EXPECT_EQ(QuadValue(img.TransparentColor()), QuadValue(RGBQUAD{30, 20, 10, 0}));
  img.info.backgroundIndex = 5;  // outside a 2-entry palette
  EXPECT_EQ(QuadValue(img.TransparentColor()), 0u);
}

TEST(PxImageUnpackBitfields, Masks565And555And32) {
  PxImage img(3, 2, 24, 0);
  // 16-bit rows are ((3 + 1) / 2) * 4 = 8 bytes long.
  uint8_t rows[16] = {};
  pw::StoreLE16(rows + 0, 0xF800);        // 565 red
  pw::StoreLE16(rows + 2, 0x07E0);        // 565 green
  pw::StoreLE16(rows + 4, 0x001F);        // 565 blue
  pw::StoreLE16(rows + 8, 0xFFFF);        // white
  pw::StoreLE16(rows + 10, 0x8410);       // 16, 32, 16: the high bits repeat below
  img.UnpackBitfields(rows, 0xF800, 0x07E0, 0x001F, 16);
  // Narrow fields are widened by repeating their high bits: full is 255.
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0xFF0000u);
  EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0x00FF00u);
  EXPECT_EQ(pxtest::Rgb(img, 2, 0), 0x0000FFu);
  EXPECT_EQ(pxtest::Rgb(img, 0, 1), 0xFFFFFFu);
  EXPECT_EQ(pxtest::Rgb(img, 1, 1), 0x848284u);

  pw::StoreLE16(rows + 0, 0x7C00);
  img.UnpackBitfields(rows, 0x7C00, 0x3E0, 0x1F, 16);
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0xFF0000u);

  uint8_t quads[3 * 2 * 4] = {};
  quads[0] = 0x11; quads[1] = 0x22; quads[2] = 0x33; quads[3] = 0x44;  // B G R X
  img.UnpackBitfields(quads, 0xFF0000, 0xFF00, 0xFF, 32);
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x332211u);
  // Unusual masks are taken by their byte position.
  img.UnpackBitfields(quads, 0xFF, 0xFF00, 0xFF000000u, 32);
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x112244u);
  // Masks in an unusual order never shift by a negative count.
  img.UnpackBitfields(rows, 0x001F, 0x07E0, 0xF800, 16);
}

TEST(PxImageHeader, HostOrderSwapsOnlyWhenAsked) {
  PxImage img;
  BITMAPINFOHEADER h{40, 2, 3, 1, 24, 0, 0, 0, 0, 0, 0};
  img.HeaderToHostOrder(&h);
  EXPECT_EQ(h.biSize, 40u);
  img.info.littleEndianHost = false;
  img.HeaderToHostOrder(&h);
  EXPECT_EQ(h.biSize, 40u << 24);
  EXPECT_EQ(h.biBitCount, 24u << 8);
}

}  // namespace
