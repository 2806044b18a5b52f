#include <cstring>
#include <functional>

#include "TestSupport.h"
#include "imagelib/PxImage.h"
#include "imagelib/TransformSupport.h"

namespace {

using pxtest::Rgb;

// Source coordinates of destination (x, y), given the source's W and H.
using Mapping = std::function<void(int x, int y, int W, int H, int* sx, int* sy)>;

struct GeometryCase {
  const char* name;
  bool (PxImage::*transform)();
  bool swapsSides;
  Mapping map;
};

const GeometryCase kGeometry[] = {
    {"FlipVertical", &PxImage::FlipVertical, false,
     [](int x, int y, int, int H, int* sx, int* sy) { *sx = x; *sy = H - 1 - y; }},
    {"FlipHorizontal", &PxImage::FlipHorizontal, false,
     [](int x, int y, int W, int, int* sx, int* sy) { *sx = W - 1 - x; *sy = y; }},
    {"TurnLeft", &PxImage::TurnLeft, true,
     [](int x, int y, int, int H, int* sx, int* sy) { *sx = y; *sy = H - 1 - x; }},
    {"TurnRight", &PxImage::TurnRight, true,
     [](int x, int y, int W, int, int* sx, int* sy) { *sx = W - 1 - y; *sy = x; }},
    {"Turn180", &PxImage::Turn180, false,
     [](int x, int y, int W, int H, int* sx, int* sy) { *sx = W - 1 - x; *sy = H - 1 - y; }},
};

// Every geometric transform, every depth, on a picture larger than one 64 x 64
// tile and not square, with an alpha plane moving along.
TEST(Transforms, GeometryInEveryDepth) {
  const int W = 67, H = 70;
  for (const GeometryCase& g : kGeometry) {
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
      SCOPED_TRACE(testing::Message() << g.name << " " << bpp << " bits");
      PxImage src(W, H, bpp, kFormatBmp);
      pxtest::FillPattern(src);
      ASSERT_TRUE(src.CreateAlphaPlane());
      for (int i = 0; i < W * H; ++i) src.alpha[i] = uint8_t(i * 13);
      src.SetHorizontalDpi(300);
      PxImage img(src, true);
      ASSERT_TRUE((img.*g.transform)());
      ASSERT_EQ(int(img.Width()), g.swapsSides ? H : W);
      ASSERT_EQ(int(img.Height()), g.swapsSides ? W : H);
      EXPECT_EQ(img.Bpp(), bpp);
      EXPECT_EQ(img.info.formatId, kFormatBmp);
      EXPECT_EQ(img.info.xDpi, 300);
      EXPECT_EQ(img.header.biXPelsPerMeter, 11811);  // the resolution travels with the picture
      ASSERT_NE(img.alpha, nullptr);
      for (int y = 0; y < int(img.Height()); ++y) {
        for (int x = 0; x < int(img.Width()); ++x) {
          int sx, sy;
          g.map(x, y, W, H, &sx, &sy);
          ASSERT_EQ(Rgb(img, x, y), Rgb(src, sx, sy)) << x << "," << y;
          ASSERT_EQ(img.alpha[y * img.Width() + x], src.alpha[sy * W + sx]) << x << "," << y;
        }
      }
    }
  }
}

TEST(Transforms, QuarterTurnsOfTwoPixels) {
  PxImage img(2, 1, 24, 0);
  img.StorePixelColor(0, 0, RGBQUAD{0, 0, 0xAA, 0});  // A
  img.StorePixelColor(1, 0, RGBQUAD{0, 0, 0xBB, 0});  // B
  PxImage left(img, true), right(img, true);
  ASSERT_TRUE(left.TurnLeft());
  ASSERT_EQ(left.Width(), 1u);
  ASSERT_EQ(left.Height(), 2u);
  EXPECT_EQ(Rgb(left, 0, 0), 0xAA0000u);  // A at the bottom
  EXPECT_EQ(Rgb(left, 0, 1), 0xBB0000u);
  ASSERT_TRUE(right.TurnRight());
  EXPECT_EQ(Rgb(right, 0, 0), 0xBB0000u);  // B at the bottom
  EXPECT_EQ(Rgb(right, 0, 1), 0xAA0000u);
}

TEST(Transforms, SelectionAcrossTurns) {
  PxImage img(4, 3, 8, 0);
  img.selection = static_cast<uint8_t*>(std::calloc(12, 1));
  img.selection[1] = 1;  // (1, 0)
  img.info.selectionLeft = 1;
  img.info.selectionRight = 2;
  img.info.selectionBottom = 0;
  img.info.selectionTop = 1;
  PxImage left(img, true);
  ASSERT_TRUE(left.TurnLeft());
  ASSERT_NE(left.selection, nullptr);
  // old (x, y) -> (H - 1 - y, x): (1, 0) -> (2, 1)
  EXPECT_EQ(left.selection[1 * 3 + 2], 1);
  EXPECT_EQ(left.info.selectionLeft, 3 - 1);
  EXPECT_EQ(left.info.selectionRight, 3 - 0);
  EXPECT_EQ(left.info.selectionBottom, 1);
  EXPECT_EQ(left.info.selectionTop, 2);
  PxImage right(img, true);
  ASSERT_TRUE(right.TurnRight());
  // old (x, y) -> (y, W - 1 - x): (1, 0) -> (0, 2)
  EXPECT_EQ(right.selection[2 * 3 + 0], 1);
  EXPECT_EQ(right.info.selectionLeft, 0);
  EXPECT_EQ(right.info.selectionRight, 1);
  EXPECT_EQ(right.info.selectionBottom, 4 - 2);
  EXPECT_EQ(right.info.selectionTop, 4 - 1);
  PxImage half(img, true);
  ASSERT_TRUE(half.Turn180());
  EXPECT_EQ(half.selection, nullptr);
  PxImage flipped(img, true);
  ASSERT_TRUE(flipped.FlipVertical());
  EXPECT_EQ(flipped.selection[1], 1);  // the selection is not mirrored
}

TEST(Transforms, RaiseBitDepth) {
  PxImage bw(3, 2, 1, 0);
  bw.StorePaletteEntry(0, 0, 0, 0);
  bw.StorePaletteEntry(1, 255, 255, 255);
  bw.StorePixelIndex(1, 1, 1);
  ASSERT_TRUE(bw.RaiseBitDepth(24));
  EXPECT_EQ(bw.Bpp(), 24u);
  EXPECT_EQ(Rgb(bw, 0, 0), 0x000000u);
  EXPECT_EQ(Rgb(bw, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(bw.alpha, nullptr);
  EXPECT_FALSE(bw.RaiseBitDepth(8));
  EXPECT_TRUE(bw.RaiseBitDepth(24));
  EXPECT_FALSE(bw.RaiseBitDepth(16));

  // Every palette depth upward keeps every colour.
  for (auto [from, to] : {std::pair{1u, 4u}, {1u, 8u}, {4u, 8u}, {4u, 24u}, {8u, 24u}}) {
    PxImage src(5, 3, from, 0);
    pxtest::FillPattern(src);
    PxImage img(src, true);
    ASSERT_TRUE(img.RaiseBitDepth(to)) << from << "->" << to;
    EXPECT_EQ(img.Bpp(), to);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(Rgb(img, x, y), Rgb(src, x, y)) << from << "->" << to;
  }
  PxImage eight(1, 1, 8, 0);
  EXPECT_FALSE(eight.RaiseBitDepth(4));

  // A palette with fourth bytes gives an alpha plane.
  PxImage pal(2, 1, 8, 0);
  pal.StorePaletteQuad(1, 10, 20, 30, 128);
  pal.StorePixelIndex(1, 0, 1);
  pal.info.backgroundIndex = 1;
  ASSERT_TRUE(pal.RaiseBitDepth(24));
  ASSERT_NE(pal.alpha, nullptr);
  EXPECT_EQ(pal.alpha[0], 0);
  EXPECT_EQ(pal.alpha[1], 128);
  EXPECT_EQ(QuadValue(pal.info.backgroundColor), QuadValue(RGBQUAD{10, 20, 30, 128}));
}

TEST(Transforms, DecreaseBpp) {
  PxImage img(3, 1, 24, 0);
  img.StorePixelColor(0, 0, RGBQUAD{0, 0, 255, 0});      // pure red
  img.StorePixelColor(1, 0, RGBQUAD{255, 255, 255, 0});  // white
  img.StorePixelColor(2, 0, RGBQUAD{0, 0, 254, 0});
  PxImage eight(img, true);
  ASSERT_TRUE(eight.DecreaseBpp(8, false));
  EXPECT_EQ(eight.Bpp(), 8u);
  EXPECT_EQ(eight.PixelIndexAt(0, 0), 249);
  EXPECT_EQ(eight.PixelIndexAt(1, 0), 255);
  EXPECT_EQ(eight.PixelIndexAt(2, 0), 40);  // FE0000 exactly
  PxImage one(img, true);
  ASSERT_TRUE(one.DecreaseBpp(1, false));
  EXPECT_EQ(one.PixelIndexAt(1, 0), 1);
  PxImage four(img, true);
  ASSERT_TRUE(four.DecreaseBpp(4, true));
  EXPECT_EQ(four.PixelIndexAt(0, 0), 9);
  EXPECT_TRUE(eight.DecreaseBpp(8, false));
  EXPECT_FALSE(eight.DecreaseBpp(24, false));
  EXPECT_STREQ(eight.LastError(), "DecreaseBpp: target BPP greater than source BPP");

  // From a palette picture: 8 bits down to 4 and 1 keep the standard colours.
  PxImage pal(3, 1, 8, 0);
  pal.MakeStandardPalette();
  pal.StorePixelIndex(0, 0, 249);  // FF0000
  pal.StorePixelIndex(1, 0, 255);  // FFFFFF
  pal.StorePixelIndex(2, 0, 0);
  PxImage pal4(pal, true);
  ASSERT_TRUE(pal4.DecreaseBpp(4, false));
  EXPECT_EQ(pal4.PixelIndexAt(0, 0), 9);
  EXPECT_EQ(pal4.PixelIndexAt(1, 0), 15);
  EXPECT_EQ(pal4.PixelIndexAt(2, 0), 0);
  ASSERT_TRUE(pal4.DecreaseBpp(1, true));
  EXPECT_EQ(pal4.PixelIndexAt(1, 0), 1);
  EXPECT_EQ(pal4.PixelIndexAt(2, 0), 0);

  // Error diffusion of a mid grey onto black and white gives a mix of both.
  PxImage grey(16, 16, 24, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) grey.StorePixelColor(x, y, RGBQUAD{128, 128, 128, 0});
  ASSERT_TRUE(grey.DecreaseBpp(1, true));
  int white = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) white += grey.PixelIndexAt(x, y);
  EXPECT_GT(white, 256 / 4);
  EXPECT_LT(white, 3 * 256 / 4);
}

TEST(Transforms, GreyFormulaInEveryDepth) {
  const struct {
    uint8_t r, g, b, grey;
  } colours[] = {{255, 0, 0, 76}, {0, 255, 0, 149}, {0, 0, 255, 29}, {255, 255, 255, 255}, {0, 0, 0, 0}, {10, 200, 90, 130}};
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    PxImage img(6, 2, bpp, 0);
    const int n = bpp == 1 ? 2 : 6;
    for (int i = 0; i < n; ++i) {
      const auto& c = colours[i];
      if (bpp == 24) {
        img.StorePixelColor(i, 1, RGBQUAD{c.b, c.g, c.r, 0});
      } else {
        img.StorePaletteEntry(uint8_t(i), c.r, c.g, c.b);
        img.StorePixelIndex(i, 1, uint8_t(i));
      }
    }
    ASSERT_TRUE(img.ConvertToGray()) << bpp;
    EXPECT_EQ(img.Bpp(), 8u);
    EXPECT_TRUE(img.HasGrayPalette());
    for (int i = 0; i < n; ++i) EXPECT_EQ(img.PixelIndexAt(i, 1), colours[i].grey) << bpp << " colour " << i;
  }
}

// Turning to grey gives a new palette: a colour searched before must be
// searched again, not answered from the cache of the old palette. Pure red
// is nearest to grey 85 on the ramp.
TEST(Transforms, GreyPaletteIsSearchedAfresh) {
  const RGBQUAD red{0, 0, 255, 0};
  struct Case {
    const char* name;
    uint32_t bpp;
    bool raiseFirst;  // the cache was filled while the picture still had a palette
  } cases[] = {{"8 bits in place", 8, false}, {"4 bits", 4, false}, {"raised to 24 bits", 8, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PxImage img(5, 3, c.bpp, 0);
    img.MakeStandardPalette();
    const uint8_t before = img.NearestPaletteIndex(red);
    ASSERT_NE(before, 85);
    if (c.raiseFirst) {
      ASSERT_TRUE(img.RaiseBitDepth(24));
    }
    ASSERT_TRUE(img.ConvertToGray());
    ASSERT_TRUE(img.HasGrayPalette());
    EXPECT_EQ(img.NearestPaletteIndex(red), 85);
  }
}

// A palette that used only its first few entries (a PNG's short palette)
// becomes a full ramp: grey levels are searched among all 256 entries.
TEST(Transforms, GreyRampOfAShortPaletteIsSearchedWhole) {
  PxImage img(4, 2, 8, 0);
  for (uint8_t i = 0; i < 5; ++i) img.StorePaletteEntry(i, uint8_t(60 * i), 0, 0);
  img.SetImportantColors(5);
  for (int32_t x = 0; x < 4; ++x) img.StorePixelIndex(x, 0, uint8_t(x));
  ASSERT_TRUE(img.ConvertToGray());
  EXPECT_EQ(img.header.biClrImportant, 0u);
  EXPECT_EQ(img.NearestPaletteIndex(RGBQUAD{128, 128, 128, 0}), 128);
  EXPECT_EQ(img.PixelIndexAt(3, 0), (180 * 306) >> 10);
}

TEST(Transforms, InvertColors) {
  PxImage ramp(3, 1, 8, 0);
  ramp.MakeGrayPalette();
  ramp.StorePixelIndex(0, 0, 10);
  ASSERT_TRUE(ramp.InvertColors());
  EXPECT_EQ(ramp.PixelIndexAt(0, 0), 245);
  EXPECT_TRUE(ramp.HasGrayPalette());

  PxImage pal(3, 1, 8, 0);
  pal.StorePaletteEntry(0, 10, 20, 30);
  ASSERT_TRUE(pal.InvertColors());
  EXPECT_EQ(pal.PixelIndexAt(0, 0), 0);
  EXPECT_EQ(Rgb(pal, 0, 0), 0xF5EBE1u);

  PxImage rgb(2, 2, 24, 0);
  rgb.StorePixelColor(1, 1, RGBQUAD{1, 2, 3, 0});
  ASSERT_TRUE(rgb.InvertColors());
  EXPECT_EQ(Rgb(rgb, 1, 1), 0xFCFDFEu);
  EXPECT_EQ(Rgb(rgb, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(rgb.info.backgroundColor.rgbBlue, 255);

  // Inside a selection only the selected pixels change.
  PxImage sel(2, 2, 24, 0);
  sel.selection = static_cast<uint8_t*>(std::calloc(4, 1));
  sel.selection[3] = 1;  // (1, 1)
  sel.info.selectionLeft = 0;
  sel.info.selectionRight = 2;
  sel.info.selectionBottom = 0;
  sel.info.selectionTop = 2;
  ASSERT_TRUE(sel.InvertColors());
  EXPECT_EQ(Rgb(sel, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(Rgb(sel, 0, 1), 0u);

  PxImage oneRamp(9, 1, 1, 0);
  oneRamp.StorePaletteEntry(1, 1, 1, 1);  // identity ramp of two entries
  ASSERT_TRUE(oneRamp.InvertColors());
  EXPECT_EQ(oneRamp.PixelIndexAt(8, 0), 1);
}

TEST(Transforms, RescaleModes) {
  PxImage img(4, 4, 24, 0);
  pxtest::FillPattern(img);
  EXPECT_TRUE(img.Rescale(4, 4, 1));
  EXPECT_FALSE(img.Rescale(0, 10, 1));
  // Nearest-pixel halving takes the pixels at even coordinates, in every depth.
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    PxImage src(4, 4, bpp, 0);
    pxtest::FillPattern(src);
    PxImage half(src, true);
    ASSERT_TRUE(half.Rescale(2, 2, 1));
    EXPECT_EQ(half.Bpp(), bpp);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(Rgb(half, x, y), Rgb(src, 2 * x, 2 * y)) << bpp;
  }

  // A flat picture stays flat in every mode and depth, growing or shrinking.
  const uint8_t flatIndex[] = {0, 1, 0, 0, 9, 0, 0, 0, 40};  // by depth: white, red, FE0000
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (int mode : {1, 2, 3}) {
      for (auto [w, h] : {std::pair{7u, 5u}, {2u, 3u}, {9u, 2u}}) {
        PxImage flat(5, 4, bpp, 0);
        if (bpp != 24) {
          flat.MakeStandardPalette();
          for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) flat.StorePixelIndex(x, y, flatIndex[bpp]);
        } else {
          for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) flat.StorePixelColor(x, y, RGBQUAD{30, 60, 90, 0});
        }
        const uint32_t expected = Rgb(flat, 0, 0);
        ASSERT_TRUE(flat.Rescale(w, h, mode));
        ASSERT_EQ(flat.Width(), w);
        EXPECT_EQ(flat.Bpp(), bpp);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            uint32_t c = Rgb(flat, int(x), int(y));
            if (bpp != 24) {
              EXPECT_EQ(c, expected) << bpp << " mode " << mode;
            } else {
              EXPECT_NEAR(double(c >> 16), 90, 1) << mode << " " << w << "x" << h;
            }
          }
      }
    }
  }

  // Area averaging a 4 x 4 picture to 2 x 2 averages each 2 x 2 block exactly.
  PxImage blocks(4, 4, 24, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) blocks.StorePixelColor(x, y, RGBQUAD{uint8_t(x * 40 + y * 8), 0, 0, 0});
  ASSERT_TRUE(blocks.Rescale(2, 2, 3));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      int sum = 0;
      for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) sum += (2 * x + i) * 40 + (2 * y + j) * 8;
      EXPECT_EQ(int(Rgb(blocks, x, y) & 0xFF), sum / 4) << x << "," << y;
    }

  // Alpha follows in nearest mode and through the grey image otherwise.
  for (int mode : {1, 2, 3}) {
    PxImage a(4, 4, 24, 0);
    ASSERT_TRUE(a.CreateAlphaPlane());
    a.selection = static_cast<uint8_t*>(std::calloc(16, 1));
    ASSERT_TRUE(a.Rescale(8, 8, mode));
    ASSERT_NE(a.alpha, nullptr) << mode;
    EXPECT_EQ(a.alpha[63], 255) << mode;
    EXPECT_EQ(a.selection, nullptr);
  }
}

TEST(Transforms, BicubicKernel) {
  EXPECT_NEAR(CubicBSpline(0.0f), 4.0f / 6.0f, 1e-6);
  EXPECT_NEAR(CubicBSpline(1.0f), 1.0f / 6.0f, 1e-6);
  EXPECT_NEAR(CubicBSpline(-1.0f), 1.0f / 6.0f, 1e-6);
  EXPECT_NEAR(CubicBSpline(2.0f), 0.0f, 1e-6);
  EXPECT_EQ(CubicBSpline(2.5f), 0.0f);
}

TEST(Transforms, EscapeStopsEarlyButStillSucceeds) {
  PxImage img(100, 100, 24, 0);
  pxtest::FillPattern(img);
  img.info.escape = 1;
  ASSERT_TRUE(img.Rescale(50, 50, 1));
  EXPECT_EQ(img.Width(), 50u);
  EXPECT_EQ(Rgb(img, 10, 10), 0u);  // rows never written stay as created
}

TEST(Transforms, WithoutPixelsNothingHappens) {
  PxImage empty;
  EXPECT_FALSE(empty.FlipVertical());
  EXPECT_FALSE(empty.FlipHorizontal());
  EXPECT_FALSE(empty.TurnLeft());
  EXPECT_FALSE(empty.TurnRight());
  EXPECT_FALSE(empty.Turn180());
  EXPECT_FALSE(empty.InvertColors());
  EXPECT_FALSE(empty.ConvertToGray());
  EXPECT_FALSE(empty.DecreaseBpp(8, false));
  EXPECT_FALSE(empty.RaiseBitDepth(24));
  EXPECT_FALSE(empty.Rescale(2, 2, 1));
}

// A transform that must hand a new picture back to a borrowed image cannot,
// and says so; the owner is left as it was.
TEST(Transforms, BorrowedImageReportsFailure) {
  PxImage owner(3, 2, 24, 0);
  pxtest::FillPattern(owner);
  const uint32_t before = Rgb(owner, 0, 0);
  PxImage borrowed;
  borrowed.BorrowFrom(owner);
  EXPECT_FALSE(borrowed.TurnLeft());
  EXPECT_FALSE(borrowed.Turn180());
  EXPECT_FALSE(borrowed.FlipHorizontal());
  EXPECT_FALSE(borrowed.Rescale(6, 4, 1));
  EXPECT_FALSE(borrowed.ConvertToGray());
  EXPECT_FALSE(borrowed.DecreaseBpp(8, false));
  EXPECT_EQ(owner.Width(), 3u);
  EXPECT_EQ(owner.Bpp(), 24u);
  EXPECT_EQ(Rgb(owner, 0, 0), before);
  // In-place transforms work on the shared pixels.
  EXPECT_TRUE(borrowed.FlipVertical());
  EXPECT_EQ(Rgb(owner, 0, 1), before);
}

}  // namespace

namespace {

// Quarter turns of 1-bit pictures go eight by eight pixels: every size
// around the byte edges must land each pixel where a pixel-wise turn puts
// it, with the rows' padding bits left clear.
TEST(Transforms, BilevelQuarterTurnsMatchPixelByPixel) {
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {7, 13}, {8, 8}, {9, 17}, {33, 5}, {64, 3}, {70, 70}}) {
    for (bool left : {true, false}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (left ? " left" : " right"));
      PxImage img(w, h, 1, kFormatBmp);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          img.StorePixelIndex(int32_t(x), int32_t(y), uint8_t((x * 7 + y * 13 + x * y) % 3 == 0));
      PxImage turned(img);
      ASSERT_TRUE(left ? turned.TurnLeft() : turned.TurnRight());
      ASSERT_EQ(turned.Width(), h);
      ASSERT_EQ(turned.Height(), w);
      for (uint32_t y = 0; y < w; ++y) {
        for (uint32_t x = 0; x < h; ++x) {
          const uint32_t sx = left ? y : w - 1 - y, sy = left ? h - 1 - x : x;
          ASSERT_EQ(turned.PixelIndexAt(int32_t(x), int32_t(y)), img.PixelIndexAt(int32_t(sx), int32_t(sy)))
              << "at " << x << "," << y;
        }
        const uint8_t* row = turned.RowAt(y);
        for (uint32_t bit = h; bit < turned.RowStride() * 8; ++bit)
          ASSERT_EQ((row[bit / 8] >> (7 - bit % 8)) & 1, 0) << "padding bit " << bit << " of row " << y;
      }
    }
  }
}

}  // namespace
