#include <algorithm>
#include <cstring>

#include "TestSupport.h"
#include "imagelib/PxImage.h"

namespace {

uint32_t PaletteRgb(const PxImage& img, int i) {
  const RGBQUAD& q = img.PaletteData()[i];
  return (uint32_t(q.rgbRed) << 16) | (uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
}

TEST(PixelAccess, IndexOutsideTheImage) {
  PxImage img(4, 3, 8, 0);
  img.info.pixels[0] = 42;
  EXPECT_EQ(img.PixelIndexAt(-1, 0), 42);
  EXPECT_EQ(img.PixelIndexAt(4, 0), 42);
  img.info.backgroundIndex = 7;
  EXPECT_EQ(img.PixelIndexAt(-1, 0), 7);
  EXPECT_EQ(img.PixelIndexAt(0, 3), 7);
  PxImage empty;
  EXPECT_EQ(empty.PixelIndexAt(0, 0), 0);
  // Stores outside are dropped.
  img.StorePixelIndex(-1, 0, 9);
  img.StorePixelIndex(0, 3, 9);
  img.StorePixelColor(4, 0, RGBQUAD{1, 2, 3, 0});
}

TEST(PixelAccess, PackedDepths) {
  PxImage four(8, 1, 4, 0);
  four.info.pixels[1] = 0xA0;
  four.StorePixelIndex(3, 0, 0x1F);  // low nibble of byte 1, high nibble kept
  EXPECT_EQ(four.info.pixels[1], 0xAF);
  EXPECT_EQ(four.PixelIndexAt(2, 0), 0xA);
  EXPECT_EQ(four.PixelIndexAt(3, 0), 0xF);
  four.StorePixelIndex(2, 0, 0x3);
  EXPECT_EQ(four.info.pixels[1], 0x3F);

  PxImage one(10, 1, 1, 0);
  one.StorePixelIndex(0, 0, 1);
  one.StorePixelIndex(9, 0, 3);  // only the low bit counts
  EXPECT_EQ(one.info.pixels[0], 0x80);
  EXPECT_EQ(one.info.pixels[1], 0x40);
  one.StorePixelIndex(0, 0, 0);
  EXPECT_EQ(one.info.pixels[0], 0x00);
}

TEST(PixelAccess, ColoursAlphaAndBackground) {
  PxImage img(2, 2, 24, 0);
  img.StorePixelColor(1, 0, RGBQUAD{10, 20, 30, 99});
  img.info.backgroundColor = RGBQUAD{1, 2, 3, 77};
  RGBQUAD c = img.PixelColorAt(1, 0, true);
  EXPECT_EQ(QuadValue(c), QuadValue(RGBQUAD{10, 20, 30, 77}));  // fourth byte from the background
  EXPECT_EQ(img.PixelColorAtUnchecked(1, 0).rgbReserved, 0);
  ASSERT_TRUE(img.CreateAlphaPlane());
  img.alpha[1] = 5;
  EXPECT_EQ(img.PixelColorAt(1, 0, true).rgbReserved, 5);
  EXPECT_EQ(img.PixelColorAt(1, 0, false).rgbReserved, 77);
  EXPECT_EQ(img.PixelColorAtUnchecked(1, 0).rgbReserved, 5);
  // Outside, background index negative: pixel (0, 0) with alpha.
  EXPECT_EQ(QuadValue(img.PixelColorAt(-1, 0)), QuadValue(RGBQUAD{0, 0, 0, 255}));
  img.info.backgroundIndex = 0;
  EXPECT_EQ(QuadValue(img.PixelColorAt(-1, 0)), QuadValue(RGBQUAD{1, 2, 3, 77}));

  // Transparency: background colour match, then alpha 0.
  img.info.backgroundColor = RGBQUAD{10, 20, 30, 77};
  EXPECT_TRUE(img.IsPixelTransparent(1, 0));
  EXPECT_FALSE(img.IsPixelTransparent(0, 1));
  img.alpha[2] = 0;
  EXPECT_TRUE(img.IsPixelTransparent(0, 1));
  EXPECT_TRUE(img.IsPixelTransparent(5, 5));
}

TEST(PixelAccess, SwapRedBlue) {
  PxImage img(2, 1, 24, 0);
  img.StorePixelColor(0, 0, RGBQUAD{1, 2, 3, 0});
  img.StorePixelColor(1, 0, RGBQUAD{4, 5, 6, 0});
  img.SwapRedBlue(img.RowAt(0), 3);  // only the first pixel
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x010203u);
  EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0x060504u);
  img.SwapRedBlueAll();
  EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x030201u);
  EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0x040506u);
  PxImage pal(1, 1, 1, 0);
  pal.StorePaletteEntry(1, 9, 8, 7);
  pal.SwapRedBlueAll();
  EXPECT_EQ(PaletteRgb(pal, 1), 0x070809u);
}

TEST(Palette, NearestColourTiesCacheAndImportantColours) {
  PxImage img(1, 1, 8, 0);
  img.StorePaletteEntry(3, 100, 100, 100);
  img.StorePaletteEntry(9, 100, 100, 100);
  img.StorePaletteEntry(20, 50, 60, 70);
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{100, 100, 100, 0}), 3);  // present twice: lower index
  // Equidistant entries: the lower index wins.
  img.StorePaletteEntry(4, 0, 0, 12);
  img.StorePaletteEntry(5, 0, 0, 8);
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{10, 0, 0, 0}), 4);
  // The cache answers without a search: change the palette behind its back.
  img.PaletteData()[4].rgbBlue = 200;
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{10, 0, 0, 0}), 4);
  img.StorePaletteEntry(0, 0, 0, 0);  // clears the cache
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{10, 0, 0, 0}), 5);
  // Only the important colours are searched.
  img.SetImportantColors(16);
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{70, 60, 50, 0}), 3);  // entry 20 is not searched
  img.SetImportantColors(0);
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{70, 60, 50, 1}), 20);
  // The fourth byte is ignored in distances but counts for the cache.
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{70, 60, 50, 2}), 20);
}

TEST(Palette, ImportantColoursTable) {
  const struct {
    uint32_t bpp, count, expected;
  } cases[] = {{8, 300, 0}, {8, 257, 0}, {8, 256, 256}, {8, 20, 20}, {4, 20, 16}, {4, 5, 5}, {1, 20, 2}, {24, 20, 0}};
  for (const auto& c : cases) {
    PxImage img(1, 1, c.bpp, 0);
    img.SetImportantColors(c.count);
    EXPECT_EQ(img.header.biClrImportant, c.expected) << c.bpp << " " << c.count;
  }
}

TEST(Palette, GreyRampsAndAlpha) {
  const struct {
    uint32_t bpp, step;
  } cases[] = {{1, 255}, {4, 17}, {8, 1}};
  for (const auto& c : cases) {
    PxImage img(1, 1, c.bpp, 0);
    img.MakeGrayPalette();
    for (uint32_t i = 0; i < img.PaletteSize(); ++i) EXPECT_EQ(PaletteRgb(img, int(i)), (i * c.step) * 0x010101u);
    EXPECT_EQ(img.HasGrayPalette(), c.bpp == 8);
    EXPECT_FALSE(img.PaletteHasAlpha());
  }
  PxImage img(1, 1, 8, 0);
  img.StorePaletteQuad(7, 1, 2, 3, 4);
  EXPECT_TRUE(img.PaletteHasAlpha());
  PxImage rgb(1, 1, 24, 0);
  EXPECT_EQ(rgb.PaletteData(), nullptr);
  EXPECT_FALSE(rgb.HasGrayPalette());
}

TEST(Palette, LoadersCapAtThePaletteSize) {
  PxImage img(1, 1, 1, 0);
  const uint8_t r[3] = {1, 2, 3}, g[3] = {4, 5, 6};
  img.LoadPaletteFromArrays(3, r, g, nullptr);  // blue falls back to green
  EXPECT_EQ(PaletteRgb(img, 0), 0x010404u);
  EXPECT_EQ(PaletteRgb(img, 1), 0x020505u);
  const uint8_t triples[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  img.LoadPaletteFromTriples(triples, 3);
  EXPECT_EQ(PaletteRgb(img, 1), 0x060504u);
  RGBQUAD quads[3] = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
  img.LoadPalette(quads, 3);
  EXPECT_EQ(QuadValue(img.PaletteData()[1]), QuadValue(quads[1]));
  // The bytes after the palette (the pixels) are untouched.
  EXPECT_EQ(img.info.pixels[0], 0);
}

TEST(Palette, StandardPalettes) {
  PxImage one(1, 1, 1, 0), four(1, 1, 4, 0), eight(1, 1, 8, 0);
  one.MakeStandardPalette();
  four.MakeStandardPalette();
  eight.MakeStandardPalette();
  EXPECT_EQ(PaletteRgb(one, 0), 0x000000u);
  EXPECT_EQ(PaletteRgb(one, 1), 0xFFFFFFu);
  const uint32_t p4[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(PaletteRgb(four, i), p4[i]) << i;
  // The 8-bit palette: the first eight 4-bit colours, two pale tints,
  // eighteen hue families of 12, twenty greys, ten system colours.
  for (int i = 0; i < 8; ++i) EXPECT_EQ(PaletteRgb(eight, i), p4[i]) << i;
  EXPECT_EQ(PaletteRgb(eight, 8), 0xC0DCC0u);
  EXPECT_EQ(PaletteRgb(eight, 9), 0xA6CAF0u);
  EXPECT_EQ(PaletteRgb(eight, 10), 0xFFF0D4u);
  EXPECT_EQ(PaletteRgb(eight, 40), 0xFE0000u);
  EXPECT_EQ(PaletteRgb(eight, 117), 0x000050u);
  EXPECT_EQ(PaletteRgb(eight, 225), 0x505000u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(PaletteRgb(eight, 226 + i), uint32_t(0xF2 - 0x0C * i) * 0x010101u) << i;
  const uint32_t system[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                               0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(PaletteRgb(eight, 246 + i), system[i]) << i;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(eight.PaletteData()[i].rgbReserved, 0);
  // Each family: six tints toward white, then six shades whose largest
  // component runs 255 (or 254), 220, 185, 150, 115, 80.
  for (int f = 0; f < 18; ++f) {
    const int base = 10 + 12 * f;
    const uint8_t runs[6] = {255, 220, 185, 150, 115, 80};
    for (int k = 0; k < 6; ++k) {
      const RGBQUAD& q = eight.PaletteData()[base + 6 + k];
      uint8_t top = std::max({q.rgbRed, q.rgbGreen, q.rgbBlue});
      if (k == 0) EXPECT_TRUE(top == 255 || top == 254) << f;
      else EXPECT_EQ(top, runs[k]) << f << " " << k;
    }
  }
  PxImage rgb(1, 1, 24, 0);
  rgb.info.lastColorValid = true;
  rgb.MakeStandardPalette();
  EXPECT_FALSE(rgb.info.lastColorValid);
}

TEST(Palette, SwapIndicesSwapsEntriesAndPixels) {
  for (uint32_t bpp : {1u, 4u, 8u}) {
    PxImage img(9, 2, bpp, 0);
    img.StorePaletteEntry(0, 1, 1, 1);
    img.StorePaletteEntry(1, 2, 2, 2);
    img.StorePixelIndex(0, 0, 1);
    img.StorePixelIndex(8, 1, 1);
    img.SwapPaletteIndices(0, 1);
    EXPECT_EQ(PaletteRgb(img, 0), 0x020202u);
    EXPECT_EQ(PaletteRgb(img, 1), 0x010101u);
    EXPECT_EQ(img.PixelIndexAt(0, 0), 0) << bpp;
    EXPECT_EQ(img.PixelIndexAt(1, 0), 1) << bpp;
    EXPECT_EQ(img.PixelIndexAt(8, 1), 0) << bpp;
    // Seen colours do not change.
    EXPECT_EQ(pxtest::Rgb(img, 0, 0), 0x020202u);
    EXPECT_EQ(pxtest::Rgb(img, 1, 0), 0x010101u);
  }
}

TEST(Planes, AlphaAndSelection) {
  PxImage img(3, 2, 24, 0);
  ASSERT_TRUE(img.CreateAlphaPlane());
  for (int i = 0; i < 6; ++i) img.alpha[i] = uint8_t(i);
  ASSERT_TRUE(img.FlipAlphaHorizontal());
  EXPECT_EQ(img.alpha[0], 2);
  EXPECT_EQ(img.alpha[5], 3);
  ASSERT_TRUE(img.FlipAlphaVertical());
  EXPECT_EQ(img.alpha[0], 5);
  EXPECT_EQ(img.alpha[3], 2);

  PxImage grey;
  ASSERT_TRUE(img.AlphaToGrayImage(&grey));
  EXPECT_EQ(grey.Bpp(), 8u);
  EXPECT_TRUE(grey.HasGrayPalette());
  EXPECT_EQ(grey.PixelIndexAt(0, 0), 5);
  PxImage other(3, 2, 24, 0);
  ASSERT_TRUE(other.AlphaFromGrayImage(grey));
  EXPECT_EQ(std::memcmp(other.alpha, img.alpha, 6), 0);
  PxImage wrongSize(2, 2, 24, 0);
  EXPECT_FALSE(wrongSize.AlphaFromGrayImage(grey));
  EXPECT_FALSE(wrongSize.CopyAlphaFrom(img));
  PxImage same(3, 2, 8, 0);
  img.info.alphaMax = 200;
  ASSERT_TRUE(same.CopyAlphaFrom(img));
  EXPECT_EQ(same.info.alphaMax, 200);
  EXPECT_FALSE(same.AlphaToGrayImage(nullptr));
  // A 4-bit grey ramp has no byte per pixel to take over.
  PxImage fourGrey(3, 2, 4, 0);
  for (int i = 0; i < 16; ++i) fourGrey.StorePaletteEntry(uint8_t(i), uint8_t(i), uint8_t(i), uint8_t(i));
  EXPECT_FALSE(other.AlphaFromGrayImage(fourGrey));

  PxImage big(640, 480, 8, 0);
  EXPECT_TRUE(big.DeleteSelection());
  EXPECT_EQ(big.info.selectionLeft, 640);
  EXPECT_EQ(big.info.selectionTop, 0);
  EXPECT_EQ(big.info.selectionRight, 0);
  EXPECT_EQ(big.info.selectionBottom, 480);
  PxImage sel(3, 2, 8, 0);
  sel.selection = static_cast<uint8_t*>(std::calloc(6, 1));
  sel.selection[2] = 1;
  sel.info.selectionRight = 3;
  ASSERT_TRUE(same.CopySelectionFrom(sel));
  EXPECT_EQ(same.selection[2], 1);
  EXPECT_EQ(same.info.selectionRight, 3);
  EXPECT_FALSE(big.CopySelectionFrom(sel));
}

TEST(Paste, TransparencyAndClipping) {
  PxImage source(2, 1, 8, 0);
  source.StorePaletteEntry(0, 255, 0, 0);
  source.StorePaletteEntry(1, 0, 0, 255);
  source.StorePixelIndex(1, 0, 1);  // pixel 0: index 0 (red), pixel 1: blue
  ASSERT_TRUE(source.CreateAlphaPlane());
  source.alpha[1] = 0;

  PxImage target(3, 2, 24, 0);
  source.info.backgroundIndex = -1;  // everything is copied, alpha or not
  target.PasteImage(source, 1, 1);
  EXPECT_EQ(pxtest::Rgb(target, 1, 1), 0xFF0000u);
  EXPECT_EQ(pxtest::Rgb(target, 2, 1), 0x0000FFu);

  PxImage target2(3, 2, 24, 0);
  source.info.backgroundIndex = 0;  // index 0 is skipped
  target2.PasteImage(source, 0, 0);
  EXPECT_EQ(pxtest::Rgb(target2, 0, 0), 0u);
  // Pixel 1 has alpha 0 and is skipped too once transparency is honoured.
  EXPECT_EQ(pxtest::Rgb(target2, 1, 0), 0u);

  // Outside pixels are dropped; palette targets take the nearest colour.
  PxImage palTarget(2, 2, 1, 0);
  palTarget.MakeStandardPalette();
  source.info.backgroundIndex = -1;
  palTarget.PasteImage(source, -1, 1);
  EXPECT_EQ(palTarget.PixelIndexAt(0, 1), 0);
  palTarget.PasteImage(source, 5, 5);
}

}  // namespace
