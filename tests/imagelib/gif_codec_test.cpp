// The GIF reader and writer: frame by frame against Pillow, our files read
// back by Pillow and ImageMagick, and a damaged-file table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "imagelib/PxFile.h"
#include "imagelib/PxImage.h"
#include "imagelib/PxImageGIF.h"
#include "jpeg_test_util.h"

using namespace pwtest;

namespace {

const std::string kBuilder = std::string(PW_TEST_SOURCE_DIR) + "/gif_build.py";

// Pillow's view of every frame, as RGBA, top row first.
std::vector<std::vector<uint8_t>> PillowFrames(const std::filesystem::path& gif, int* width, int* height) {
  std::string out = RunCapture(
      "/usr/bin/python3 -c \"import sys; from PIL import Image\n"
      "im = Image.open(sys.argv[1]); o = sys.stdout.buffer\n"
      "o.write(b'%d %d %d\\n' % (im.size[0], im.size[1], im.n_frames))\n"
      "for i in range(im.n_frames):\n"
      "    im.seek(i); o.write(im.convert('RGBA').tobytes())\" '" + gif.string() + "'");
  int frames = 0;
  std::sscanf(out.c_str(), "%d %d %d", width, height, &frames);
  size_t pos = out.find('\n') + 1;
  const size_t bytes = size_t(*width) * size_t(*height) * 4;
  std::vector<std::vector<uint8_t>> result;
  for (int i = 0; i < frames && pos + bytes <= out.size(); ++i, pos += bytes)
    result.emplace_back(out.begin() + long(pos), out.begin() + long(pos + bytes));
  return result;
}

// Compares our composed frame with Pillow's: transparent where Pillow has
// alpha 0, the same colour everywhere else.
void ExpectSameFrame(const PxImage& ours, const std::vector<uint8_t>& rgba, int width, int height,
                     bool checkTransparency = true) {
  ASSERT_EQ(int(ours.Width()), width);
  ASSERT_EQ(int(ours.Height()), height);
  int mismatches = 0;
  for (int r = 0; r < height && mismatches < 5; ++r) {
    for (int x = 0; x < width && mismatches < 5; ++x) {
      const uint8_t* p = &rgba[(size_t(r) * width + x) * 4];
      const int32_t y = height - 1 - r;
      // A palette screen's transparent index, or a true-colour screen's
      // transparent colour.
      const bool transparent = ours.info.backgroundIndex >= 0 && ours.IsPixelTransparent(x, y);
      if (p[3] == 0) {
        if (checkTransparency && !transparent) {
          ADD_FAILURE() << "pixel (" << x << "," << r << ") should be transparent";
          ++mismatches;
        }
        continue;
      }
      const RGBQUAD c = ours.PixelColorAt(x, y, false);
      if (transparent || c.rgbRed != p[0] || c.rgbGreen != p[1] || c.rgbBlue != p[2]) {
        ADD_FAILURE() << "pixel (" << x << "," << r << "): ours " << int(c.rgbRed) << "," << int(c.rgbGreen)
                      << "," << int(c.rgbBlue) << (transparent ? " transparent" : "") << ", Pillow "
                      << int(p[0]) << "," << int(p[1]) << "," << int(p[2]);
        ++mismatches;
      }
    }
  }
}

bool LoadFrame(const std::filesystem::path& gif, int frame, PxImage& image) {
  image.info.frame = frame;
  return image.LoadFile(Wide(gif), kFormatGif);
}

class GifFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Shell("/usr/bin/python3 " + kBuilder + " '" + dir_.path().string() + "'")); }
  TempDir dir_;
};

TEST_F(GifFiles, FrameByFrameAgainstPillow) {
  for (const char* name : {"disposal2.gif", "disposal2_partial.gif", "disposal3.gif", "transparency.gif",
                           "local_table.gif", "short_first.gif", "short_first_transparent.gif",
                           "bilevel.gif", "sixteen.gif", "interlace_1.gif", "interlace_2.gif",
                           "interlace_3.gif", "interlace_4.gif", "interlace_5.gif", "interlace_8.gif",
                           "interlace_9.gif", "interlace_13.gif", "interlace_40.gif"}) {
    SCOPED_TRACE(name);
    int w = 0, h = 0;
    auto expected = PillowFrames(dir_ / name, &w, &h);
    ASSERT_FALSE(expected.empty());
    for (size_t n = 0; n < expected.size(); ++n) {
      SCOPED_TRACE("frame " + std::to_string(n));
      PxImage image;
      ASSERT_TRUE(LoadFrame(dir_ / name, int(n), image)) << image.LastError();
      EXPECT_EQ(image.info.frameCount, int(expected.size()));
      EXPECT_EQ(image.info.formatId, kFormatGif);
      ExpectSameFrame(image, expected[n], w, h);
    }
  }
}

TEST_F(GifFiles, FrameFieldsDepthsAndComment) {
  PxImage image;
  ASSERT_TRUE(LoadFrame(dir_ / "disposal2.gif", 1, image));
  EXPECT_EQ(image.info.frameDelay, 10u);
  EXPECT_EQ(image.info.disposal, 1);
  EXPECT_EQ(image.Bpp(), 8u);
  ASSERT_TRUE(LoadFrame(dir_ / "bilevel.gif", 0, image));
  EXPECT_EQ(image.Bpp(), 1u);
  ASSERT_TRUE(LoadFrame(dir_ / "sixteen.gif", 0, image));
  EXPECT_EQ(image.Bpp(), 4u);

  // The comment and loop count stay on the format object.
  for (auto [name, loop] : {std::pair<const char*, int>{"local_table.gif", 3}, {"disposal2.gif", 0}}) {
    std::vector<uint8_t> bytes = ReadAll(dir_ / name);
    PxMemFile file(bytes.data(), int32_t(bytes.size()));
    PxImageGIF gif;
    ASSERT_TRUE(gif.Decode(&file));
    EXPECT_EQ(gif.LoopCount(), loop);
  }
  std::vector<uint8_t> bytes = ReadAll(dir_ / "bilevel.gif");
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  PxImageGIF gif;
  ASSERT_TRUE(gif.Decode(&file));  // the empty comment after it did not end the scan
  EXPECT_STREQ(gif.Comment(), "");
}

TEST_F(GifFiles, FrameOutsideTheFileFailsWithTheCount) {
  PxImage image;
  EXPECT_FALSE(LoadFrame(dir_ / "disposal3.gif", 3, image));
  EXPECT_EQ(image.info.frameCount, 3);
  EXPECT_FALSE(LoadFrame(dir_ / "disposal3.gif", -1, image));
}

TEST_F(GifFiles, AllFramesAtOnce) {
  PxImage image;
  image.info.getAllFrames = true;
  ASSERT_TRUE(LoadFrame(dir_ / "transparency.gif", 0, image));
  ASSERT_NE(image.frames, nullptr);
  ASSERT_EQ(image.frameListSize, 3);
  int w = 0, h = 0;
  auto expected = PillowFrames(dir_ / "transparency.gif", &w, &h);
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    ASSERT_NE(image.frames[n], nullptr);
    ExpectSameFrame(*image.frames[n], expected[size_t(n)], w, h);
  }
}

// ImageMagick's view of every frame (-coalesce), as RGBA, top row first.
std::vector<std::vector<uint8_t>> MagickFrames(const std::filesystem::path& gif, int* width, int* height) {
  std::string size = RunCapture("identify-im6.q16 -format '%W %H\\n' '" + gif.string() + "'");
  std::sscanf(size.c_str(), "%d %d", width, height);
  std::vector<uint8_t> out = RunBytes("convert-im6.q16 '" + gif.string() + "' -coalesce -depth 8 rgba:-");
  const size_t bytes = size_t(*width) * size_t(*height) * 4;
  std::vector<std::vector<uint8_t>> result;
  for (size_t pos = 0; bytes > 0 && pos + bytes <= out.size(); pos += bytes)
    result.emplace_back(out.begin() + long(pos), out.begin() + long(pos + bytes));
  return result;
}

// Files without a global colour table whose first frame is smaller than the
// screen are composed in true colour: each frame as the peers show it, with
// transparent pixels left out and every disposal applied. (Pillow fills a
// disposed rectangle with an opaque background colour where ImageMagick and
// the browsers clear it, so the file with disposals is compared with
// ImageMagick; Pillow shows the never-drawn screen of the first, opaque
// file as black, as we do.)
TEST_F(GifFiles, NoGlobalTableComposesOnTrueColour) {
  for (const char* name : {"no_global.gif", "no_global_disposal.gif"}) {
    SCOPED_TRACE(name);
    const bool magick = std::string(name) == "no_global_disposal.gif";
    int w = 0, h = 0;
    auto expected = magick ? MagickFrames(dir_ / name, &w, &h) : PillowFrames(dir_ / name, &w, &h);
    ASSERT_GE(expected.size(), 2u);
    for (size_t n = 0; n < expected.size(); ++n) {
      SCOPED_TRACE("frame " + std::to_string(n));
      PxImage image;
      ASSERT_TRUE(LoadFrame(dir_ / name, int(n), image)) << image.LastError();
      EXPECT_EQ(image.Bpp(), 24u);
      EXPECT_FALSE(image.IsDamaged());
      ExpectSameFrame(image, expected[n], w, h, magick);
    }
    PxImage all;
    all.info.getAllFrames = true;
    ASSERT_TRUE(LoadFrame(dir_ / name, 0, all)) << all.LastError();
    ASSERT_EQ(all.frameListSize, int(expected.size()));
    for (size_t n = 0; n < expected.size(); ++n) {
      ASSERT_NE(all.frames[n], nullptr);
      ExpectSameFrame(*all.frames[n], expected[n], w, h, magick);
    }
  }
}

// Disposal 2 gives back only the frame's rectangle, frame by frame as
// ImageMagick composes it too.
TEST_F(GifFiles, DisposalTwoClearsOnlyTheFramesRectangle) {
  int w = 0, h = 0;
  auto expected = MagickFrames(dir_ / "disposal2_partial.gif", &w, &h);
  ASSERT_EQ(expected.size(), 5u);
  for (size_t n = 0; n < expected.size(); ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    PxImage image;
    ASSERT_TRUE(LoadFrame(dir_ / "disposal2_partial.gif", int(n), image)) << image.LastError();
    ExpectSameFrame(image, expected[n], w, h);
  }
}

// Small frames with their own colour table over a transparent screen: the
// frames' opaque colour has the index the screen keeps transparent, and must
// still show; the screen stays transparent around them.
TEST_F(GifFiles, LocalTableOverTransparentScreenShows) {
  const auto gif = dir_ / "over_clear.gif";
  ASSERT_TRUE(Shell("convert-im6.q16 -size 40x30 xc:none -dispose Background -delay 10 "
                    "\\( -size 10x10 xc:red -repage +5+5 \\) \\( -size 12x8 xc:blue -repage +20+10 \\) "
                    "-loop 0 '" + gif.string() + "'"));
  int w = 0, h = 0;
  auto magick = MagickFrames(gif, &w, &h);
  int pw = 0, ph = 0;
  auto pillow = PillowFrames(gif, &pw, &ph);
  ASSERT_EQ(magick.size(), 3u);
  ASSERT_EQ(pillow.size(), 3u);
  for (size_t n = 0; n < magick.size(); ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    PxImage image;
    ASSERT_TRUE(LoadFrame(gif, int(n), image)) << image.LastError();
    ExpectSameFrame(image, magick[n], w, h);
    // Pillow leaves the red square of frame 1 on frame 2, whose disposal
    // clears it (ImageMagick and the browsers clear it).
    if (n < 2) ExpectSameFrame(image, pillow[n], pw, ph);
  }
}

TEST_F(GifFiles, ImageMagickAndPillowFilesAgree) {
  // Peers' own GIFs: ImageMagick's interlaced output and a Pillow animation.
  auto im = dir_ / "im.gif";
  ASSERT_TRUE(Shell("convert-im6.q16 -size 31x19 plasma:fractal -seed 3 -interlace GIF '" + im.string() + "'"));
  auto pil = dir_ / "pil.gif";
  ASSERT_TRUE(Shell("/usr/bin/python3 -c \"import sys; from PIL import Image\n"
                    "fr = [Image.new('P', (30, 20), i) for i in range(3)]\n"
                    "for i, f in enumerate(fr):\n"
                    "    f.putpalette([v for c in range(256) for v in (c, 255 - c, (c * 5) % 256)])\n"
                    "    f.paste(7 + i, (i * 5, i * 3, i * 5 + 10, i * 3 + 8))\n"
                    "fr[0].save(sys.argv[1], save_all=True, append_images=fr[1:], duration=[50, 60, 70], "
                    "loop=2, disposal=[1, 2, 3], transparency=0, optimize=False)\" '" + pil.string() + "'"));
  for (const auto& file : {im, pil}) {
    SCOPED_TRACE(file.filename().string());
    int w = 0, h = 0;
    auto expected = PillowFrames(file, &w, &h);
    for (size_t n = 0; n < expected.size(); ++n) {
      PxImage image;
      ASSERT_TRUE(LoadFrame(file, int(n), image)) << image.LastError();
      ExpectSameFrame(image, expected[n], w, h);
    }
  }
}

// Animations whose frames bring their own colour tables and leave pixels of
// earlier frames visible: those pixels keep the colours they were drawn in.
TEST_F(GifFiles, LocalTablesKeepEarlierFramesColours) {
  // Pillow's own animations: per-frame adaptive palettes, optimised into
  // partial frames with local tables; the second one with transparency and
  // disposal 1, 3, 1, 2.
  auto pil = dir_ / "pil_optimised.gif";
  auto pilDisposal = dir_ / "pil_optimised_disposal.gif";
  ASSERT_TRUE(Shell("/usr/bin/python3 -c \"import sys; from PIL import Image, ImageDraw\n"
                    "def frames():\n"
                    "    out = []\n"
                    "    for i in range(4):\n"
                    "        im = Image.new('RGB', (40, 30), (10, 120, 200)); d = ImageDraw.Draw(im)\n"
                    "        d.rectangle((2, 2, 12, 10), fill=(250, 200, 0))\n"
                    "        d.rectangle((5 + 6 * i, 12, 14 + 6 * i, 22), fill=(200, 30 + 50 * i, 60))\n"
                    "        d.ellipse((20, 2 + i, 30, 9 + i), fill=(30 * i, 250, 30))\n"
                    "        out.append(im.convert('P', palette=Image.ADAPTIVE, colors=6 + 3 * i))\n"
                    "    return out\n"
                    "f = frames(); f[0].save(sys.argv[1], save_all=True, append_images=f[1:], optimize=True, "
                    "duration=100, loop=0)\n"
                    "f = frames(); f[0].save(sys.argv[2], save_all=True, append_images=f[1:], optimize=True, "
                    "duration=100, loop=0, disposal=[1, 3, 1, 2], transparency=0)\" '" +
                    pil.string() + "' '" + pilDisposal.string() + "'"));
  for (const auto& file : {pil, pilDisposal, dir_ / "local_partial.gif", dir_ / "local_disposal3.gif",
                           dir_ / "local_disposal2.gif"}) {
    SCOPED_TRACE(file.filename().string());
    int w = 0, h = 0;
    auto expected = PillowFrames(file, &w, &h);
    ASSERT_GE(expected.size(), 3u);
    for (size_t n = 0; n < expected.size(); ++n) {
      SCOPED_TRACE("frame " + std::to_string(n));
      PxImage image;
      ASSERT_TRUE(LoadFrame(file, int(n), image)) << image.LastError();
      EXPECT_EQ(image.info.frameCount, int(expected.size()));
      ExpectSameFrame(image, expected[n], w, h);
    }
    PxImage all;
    all.info.getAllFrames = true;
    ASSERT_TRUE(LoadFrame(file, 0, all)) << all.LastError();
    ASSERT_EQ(all.frameListSize, int(expected.size()));
    for (size_t n = 0; n < expected.size(); ++n) {
      SCOPED_TRACE("kept frame " + std::to_string(n));
      ASSERT_NE(all.frames[n], nullptr);
      ExpectSameFrame(*all.frames[n], expected[n], w, h);
    }
  }
}

// The palette screen stays wherever its colours are right: global tables
// only, local tables covering the screen, or a screen cleared by disposal 2.
// Only frames that would show earlier pixels in a foreign table go to 24 bits.
TEST_F(GifFiles, TrueColourOnlyWherePaletteColoursWouldBeWrong) {
  struct Case { const char* name; std::vector<uint32_t> depths; };
  const Case cases[] = {
      {"transparency.gif", {8, 8, 8}},
      {"disposal3.gif", {8, 8, 8}},
      {"local_table.gif", {8, 8}},
      {"local_partial.gif", {8, 24, 24}},
      {"local_disposal3.gif", {8, 24, 24, 24, 24, 4}},
      {"local_disposal2.gif", {8, 8, 24}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t n = 0; n < c.depths.size(); ++n) {
      PxImage image;
      ASSERT_TRUE(LoadFrame(dir_ / c.name, int(n), image)) << image.LastError();
      EXPECT_EQ(image.Bpp(), c.depths[n]) << "frame " << n;
    }
  }
}

// ---- writing

PxImage MakePalettePicture(uint32_t w, uint32_t h, uint32_t bpp, int seed) {
  PxImage image(w, h, bpp, kFormatBmp);
  image.MakeStandardPalette();
  const uint32_t colours = 1u << (bpp > 8 ? 8 : bpp);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      // Long runs and noise, so every coder has something to do.
      uint32_t v = (x / 7 + y / 3 + uint32_t(seed)) % colours;
      if ((x * 13 + y * 7) % 11 == 0) v = (x * y + uint32_t(seed)) % colours;
      image.StorePixelIndex(int32_t(x), int32_t(y), uint8_t(v));
    }
  return image;
}

std::vector<uint8_t> EncodeToBytes(PxImage& image, bool* ok) {
  PxMemFile file;
  file.Open();
  *ok = image.Encode(&file, kFormatGif);
  return std::vector<uint8_t>(file.Buffer(), file.Buffer() + file.DataSize());
}

TEST(GifWriter, EveryCoderAndDepthReadsBackExactly) {
  TempDir dir;
  for (uint32_t bpp : {1u, 4u, 8u}) {
    for (uint32_t coder : {0u, 1u, 2u}) {
      for (auto [w, h] : {std::pair<uint32_t, uint32_t>{1, 1}, {67, 41}, {300, 200}}) {
        SCOPED_TRACE("bpp " + std::to_string(bpp) + " coder " + std::to_string(coder) + " size " +
                     std::to_string(w) + "x" + std::to_string(h));
        PxImage image = MakePalettePicture(w, h, bpp, int(coder + w));
        image.info.codecOptions[2] = coder;
        bool ok = false;
        std::vector<uint8_t> bytes = EncodeToBytes(image, &ok);
        ASSERT_TRUE(ok) << image.LastError();
        const uint8_t flags = bpp == 1 ? 0x80 : bpp == 4 ? 0xE3 : 0xE7;
        EXPECT_EQ(bytes[10], flags);
        auto path = dir / "w.gif";
        WriteAll(path, bytes);
        int pw = 0, ph = 0;
        auto frames = PillowFrames(path, &pw, &ph);
        ASSERT_EQ(frames.size(), 1u);
        ExpectSameFrame(image, frames[0], pw, ph);

        PxImage back;
        ASSERT_TRUE(LoadFrame(path, 0, back));
        EXPECT_EQ(back.Bpp(), bpp);
        EXPECT_EQ(FirstDifference(TopDownRgb(back), TopDownRgb(image)), -1);
      }
    }
  }
}

TEST(GifWriter, TrueColourMosaicIsLossless) {
  TempDir dir;
  PxImage image(40, 33, 24, kFormatBmp);
  for (int32_t y = 0; y < 33; ++y)
    for (int32_t x = 0; x < 40; ++x)
      image.StorePixelColor(x, y, RGBQUAD{uint8_t(x * 6), uint8_t(y * 7), uint8_t((x * y) & 255), 0});
  bool ok = false;
  std::vector<uint8_t> bytes = EncodeToBytes(image, &ok);
  ASSERT_TRUE(ok) << image.LastError();
  EXPECT_EQ(bytes[10], 0x11);  // no global table
  auto path = dir / "mosaic.gif";
  WriteAll(path, bytes);
  // 17 x 15 tiles: 3 columns by 3 rows.
  EXPECT_EQ(RunCapture("identify-im6.q16 -format 'x' '" + path.string() + "'"), "xxxxxxxxx");
  Pnm flat = ParsePnm(RunBytes("convert-im6.q16 '" + path.string() + "' -coalesce -delete 0--2 ppm:-"));
  ASSERT_EQ(flat.width, 40);
  EXPECT_EQ(FirstDifference(flat.data, TopDownRgb(image)), -1);
  PxImage back;
  ASSERT_TRUE(LoadFrame(path, 0, back));
  EXPECT_EQ(back.Bpp(), 24u);
  EXPECT_EQ(FirstDifference(TopDownRgb(back), TopDownRgb(image)), -1);
}

TEST(GifWriter, AnimationReadBackByImageMagick) {
  TempDir dir;
  std::vector<PxImage> frames;
  for (int i = 0; i < 3; ++i) {
    frames.push_back(MakePalettePicture(50, 30, 8, i * 40));
    frames.back().info.frameDelay = uint32_t(10 * (i + 1));
  }
  frames[1].info.backgroundIndex = 5;
  PxImage* list[3] = {&frames[0], &frames[1], &frames[2]};
  for (int loop : {0, 1, 3}) {
    SCOPED_TRACE(loop);
    PxImageGIF writer;
    writer.SetLoopCount(loop);
    writer.SetComment("made by a test");
    PxMemFile file;
    file.Open();
    ASSERT_TRUE(writer.Encode(&file, list, 3)) << writer.LastError();
    auto path = dir / "anim.gif";
    WriteAll(path, std::vector<uint8_t>(file.Buffer(), file.Buffer() + file.DataSize()));
    EXPECT_EQ(RunCapture("identify-im6.q16 -format '%T,' '" + path.string() + "'"), "10,20,30,");
    std::string info = RunCapture("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                  "im = Image.open(sys.argv[1]); print(im.n_frames, im.info.get('loop'), "
                                  "im.info.get('comment'))\" '" + path.string() + "'");
    const char* expected = loop == 0 ? "3 0 b'made by a test'\n"
                           : loop == 1 ? "3 None b'made by a test'\n"
                                       : "3 2 b'made by a test'\n";
    EXPECT_EQ(info, expected);
    int w = 0, h = 0;
    auto pil = PillowFrames(path, &w, &h);
    ASSERT_EQ(pil.size(), 3u);
    ExpectSameFrame(frames[2], pil[2], w, h);
  }
}

TEST(GifWriter, RefusalsAndWriteErrors) {
  PxImageGIF writer;
  PxImage colour(4, 4, 24, kFormatBmp);
  PxImage palette = MakePalettePicture(4, 4, 8, 0);
  PxImage empty;
  PxMemFile file;
  file.Open();
  struct Case { std::vector<PxImage*> list; const char* error; };
  const Case cases[] = {
      {{}, "multipage GIF, no images!"},
      {{&palette, nullptr}, "Bad image pointer"},
      {{&palette, &empty}, "Empty image"},
      {{&palette, &colour}, "PxImageGIF::Encode cannot create animated GIFs with a true color frame. Use DecreaseBpp before"},
  };
  for (const Case& c : cases) {
    PxImage** list = c.list.empty() ? nullptr : const_cast<PxImage**>(c.list.data());
    EXPECT_FALSE(writer.Encode(&file, list, int32_t(c.list.size())));
    EXPECT_STREQ(writer.LastError(), c.error);
    EXPECT_EQ(file.DataSize(), 0);  // nothing written before every frame passed
  }
  PxImage* one[1] = {&palette};
  EXPECT_FALSE(writer.Encode(nullptr, one, 1));
  EXPECT_STREQ(writer.LastError(), "invalid file pointer");

  PxImage wide(65536, 1, 8, kFormatBmp);
  ASSERT_TRUE(wide.HasPixels());
  EXPECT_FALSE(wide.Encode(&file, kFormatGif));
  EXPECT_STREQ(wide.LastError(), "GIF: width and height must not exceed 65535");

  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  PxIOFile devFull(full);
  PxImage big = MakePalettePicture(400, 300, 8, 1);
  EXPECT_FALSE(big.Encode(&devFull, kFormatGif));
  EXPECT_STREQ(big.LastError(), "Write Error in GIF file");
  std::fclose(full);
}

// ---- damaged files

TEST_F(GifFiles, MalformedFiles) {
  std::vector<uint8_t> anim = ReadAll(dir_ / "transparency.gif");
  std::vector<uint8_t> inter = ReadAll(dir_ / "interlace_13.gif");
  struct Case { const char* name; std::vector<uint8_t> bytes; int ok; };  // ok: 1, 0, or -1 either
  std::vector<Case> cases;
  cases.push_back({"empty", {}, 0});
  cases.push_back({"signature only", {'G', 'I', 'F', '8', '9', 'a'}, 0});
  cases.push_back({"not a GIF", {'G', 'I', 'F', '7', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, 0});
  for (size_t cut : {size_t{13}, size_t{40}, size_t{800}, size_t{1500}, anim.size() - 30}) {
    cases.push_back({"cut short", std::vector<uint8_t>(anim.begin(), anim.begin() + long(std::min(cut, anim.size()))), -1});
  }
  {
    // Frames composed in true colour over a palette screen, cut short.
    std::vector<uint8_t> local = ReadAll(dir_ / "local_disposal3.gif");
    for (size_t cut : {local.size() / 2, local.size() - 20})
      cases.push_back({"local tables cut short", std::vector<uint8_t>(local.begin(), local.begin() + long(cut)), -1});
  }
  {
    std::vector<uint8_t> b = anim;
    for (size_t i = 820; i < 1200 && i < b.size(); i += 3) b[i] ^= 0xA5;
    cases.push_back({"scrambled image data", b, -1});
  }
  {
    std::vector<uint8_t> b = inter;
    size_t at = 13 + 768 + 10;  // the code size byte after the descriptor
    b[at] = 12;
    cases.push_back({"code size 12", b, 1});
    b[at] = 0;
    cases.push_back({"code size 0", b, 1});
  }
  {
    // The interlaced image claims 13 rows but its data holds the pixels of
    // more: rows past the last pass must go nowhere.
    std::vector<uint8_t> b = inter;
    b[13 + 768 + 7] = 4;  // height 4 in the descriptor, same data
    b[8] = 4;             // and on the screen
    cases.push_back({"interlaced data longer than the image", b, 1});
    std::vector<uint8_t> c = ReadAll(dir_ / "sixteen.gif");
    c[13 + 48 + 7] = 2;
    c[8] = 2;
    cases.push_back({"plain data longer than the image", c, 1});
  }
  {
    std::vector<uint8_t> b = anim;
    b[6] = 0; b[7] = 0; b[8] = 0; b[9] = 0;  // screen 0 x 0: the first image gives it
    cases.push_back({"zero screen", b, 1});
    std::vector<uint8_t> c = anim;
    c[6] = 0xFF; c[7] = 0xFF; c[8] = 0xFF; c[9] = 0xFF;
    cases.push_back({"65535 x 65535 screen", c, 0});
  }
  {
    std::vector<uint8_t> b{'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0};
    for (int i = 0; i < 5000; ++i) b.push_back(uint8_t(i * 37 + 1));
    cases.push_back({"junk after the header", b, 0});
  }
  {
    std::vector<uint8_t> b(anim.begin(), anim.begin() + 13 + 768);
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0x4C, 0x01, 0});  // a 0 x 0 image
    b.insert(b.end(), anim.begin() + 13 + 768, anim.end());
    cases.push_back({"zero-size image first", b, 1});
  }
  {
    std::vector<uint8_t> b(anim.begin(), anim.begin() + 13 + 768);
    b.insert(b.end(), {0x21, 0xF9, 0x09});  // graphic control of the wrong size
    b.insert(b.end(), anim.begin() + 13 + 768, anim.end());
    cases.push_back({"broken extension before any image", b, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int frame : {0, 2}) {
      std::vector<uint8_t> bytes = c.bytes;
      PxMemFile file(bytes.empty() ? nullptr : bytes.data(), int32_t(bytes.size()));
      if (bytes.empty()) file.Open();
      PxImage image;
      image.info.frame = frame;
      const bool ok = image.Decode(&file, kFormatGif);
      if (c.ok == 1 && frame == 0) {
        EXPECT_TRUE(ok) << image.LastError();
      }
      if (c.ok == 0) {
        EXPECT_FALSE(ok);
      }
      if (ok) {
        EXPECT_TRUE(image.HasPixels());
        EXPECT_GT(image.Width(), 0u);
        TopDownRgb(image);  // every pixel readable
      }
    }
  }
}

}  // namespace

std::vector<uint32_t> RgbRowFromTop(const PxImage& image, int32_t fromTop) {
  std::vector<uint32_t> row;
  const int32_t y = int32_t(image.Height()) - 1 - fromTop;
  for (int32_t x = 0; x < int32_t(image.Width()); ++x) {
    const RGBQUAD c = image.PixelColorAt(x, y, false);
    row.push_back((uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue);
  }
  return row;
}

// A frame whose data ends before its last row, or holds bad codes, is drawn
// as far as it goes and the read is marked damaged; the rows it never
// reached keep what the screen showed.
TEST_F(GifFiles, DataEndingEarlyIsADamagedRead) {
  std::vector<uint8_t> whole = ReadAll(dir_ / "interlace_40.gif");  // two data sub-blocks
  PxImage full;
  {
    PxMemFile file(whole.data(), int32_t(whole.size()));
    ASSERT_TRUE(full.Decode(&file, kFormatGif));
    EXPECT_FALSE(full.IsDamaged());
  }
  std::vector<uint8_t> cut(whole.begin(), whole.end() - 100);  // the second sub-block cut
  PxMemFile file(cut.data(), int32_t(cut.size()));
  PxImage image;
  ASSERT_TRUE(image.Decode(&file, kFormatGif)) << image.LastError();
  EXPECT_TRUE(image.IsDamaged());
  EXPECT_STREQ(image.LastError(), "GIF: image data ends before the last row");
  EXPECT_EQ(RgbRowFromTop(image, 0), RgbRowFromTop(full, 0));  // the top row arrived whole

  // A first frame covering the screen is decoded as the screen itself; on a
  // screen one column wider it is drawn on a filled screen. Both must show
  // the same: the frame's pixels, and the fill (the last graphic control's
  // transparent index, even with its flag off) where the data never reached.
  std::vector<uint8_t> withControl(cut.begin(), cut.begin() + 13 + 768);
  withControl.insert(withControl.end(), {0x21, 0xF9, 4, 0, 0, 0, 5, 0});
  withControl.insert(withControl.end(), cut.begin() + 13 + 768, cut.end());
  std::vector<uint8_t> transparent = ReadAll(dir_ / "disposal2.gif");  // transparent index 0
  for (const auto* bytes : {&cut, &withControl, &transparent}) {
    std::vector<uint8_t> same = *bytes, wider = *bytes;
    wider[6] = uint8_t(wider[6] + 1);
    PxImage a, b;
    PxMemFile fa(same.data(), int32_t(same.size())), fb(wider.data(), int32_t(wider.size()));
    ASSERT_TRUE(a.Decode(&fa, kFormatGif));
    ASSERT_TRUE(b.Decode(&fb, kFormatGif));
    ASSERT_EQ(a.Width() + 1, b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    EXPECT_EQ(a.Bpp(), b.Bpp());
    EXPECT_EQ(a.info.backgroundIndex, b.info.backgroundIndex);
    EXPECT_EQ(a.IsDamaged(), b.IsDamaged());
    int wrong = 0;
    for (int32_t y = 0; y < int32_t(a.Height()); ++y)
      for (int32_t x = 0; x < int32_t(a.Width()); ++x) wrong += a.PixelIndexAt(x, y) != b.PixelIndexAt(x, y);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(RgbRowFromTop(a, 0).size() + 1, RgbRowFromTop(b, 0).size());
    for (int32_t r : {0, int32_t(a.Height()) - 1}) {
      std::vector<uint32_t> rowB = RgbRowFromTop(b, r);
      rowB.pop_back();
      EXPECT_EQ(RgbRowFromTop(a, r), rowB) << r;
    }
  }
  {
    PxMemFile file2(withControl.data(), int32_t(withControl.size()));
    PxImage filled;
    ASSERT_TRUE(filled.Decode(&file2, kFormatGif));
    EXPECT_EQ(filled.PixelIndexAt(0, 0), 5);  // the bottom row was never reached
  }

  // The next decode by the same image starts undamaged.
  PxMemFile again(whole.data(), int32_t(whole.size()));
  ASSERT_TRUE(image.Decode(&again, kFormatGif));
  EXPECT_FALSE(image.IsDamaged());
}

// ---- work bounded by the file

namespace {

// Pieces of a GIF put together by hand. Every image's data is one pixel of
// index 1 (code size 2: clear, 1, end); larger images end early.
void AppendScreen(std::vector<uint8_t>& b, int width, int height, int globalBits) {
  const uint8_t flags = globalBits >= 0 ? uint8_t(0x80 | globalBits) : 0;
  b.insert(b.end(), {'G', 'I', 'F', '8', '9', 'a', uint8_t(width), uint8_t(width >> 8), uint8_t(height),
                     uint8_t(height >> 8), flags, 0, 0});
  if (globalBits >= 0)
    for (int i = 0; i < (2 << globalBits); ++i) b.insert(b.end(), {uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 29)});
}

void AppendControl(std::vector<uint8_t>& b, int disposal, int transparent) {
  const uint8_t flags = uint8_t(disposal << 2 | (transparent >= 0 ? 1 : 0));
  b.insert(b.end(), {0x21, 0xF9, 4, flags, 10, 0, uint8_t(transparent >= 0 ? transparent : 0), 0});
}

// A local table of four colours, seeded so that each frame's differs.
void AppendImage(std::vector<uint8_t>& b, int left, int top, int width, int height, int localSeed) {
  b.insert(b.end(), {0x2C, uint8_t(left), uint8_t(left >> 8), uint8_t(top), uint8_t(top >> 8), uint8_t(width),
                     uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), uint8_t(localSeed >= 0 ? 0x81 : 0)});
  if (localSeed >= 0)
    for (int i = 0; i < 4; ++i)
      b.insert(b.end(), {uint8_t(localSeed * 3 + i * 50), uint8_t(localSeed * 5 + 1), uint8_t(200 - i * 40)});
  b.insert(b.end(), {2, 2, 0x4C, 0x01, 0});
}

// Many frames of (almost) no data on a large screen, each of which costs
// the composition a whole screen or a whole frame rectangle.
struct CostlyFrames {
  const char* name;
  std::vector<uint8_t> (*build)(int frames);
};

const CostlyFrames kCostlyFrames[] = {
    // Each frame restores the screen before it: a copy of the screen each.
    {"one-pixel frames restoring the previous screen",
     [](int frames) {
       std::vector<uint8_t> b;
       AppendScreen(b, 8192, 4096, 7);
       for (int i = 0; i < frames; ++i) {
         AppendControl(b, 3, -1);
         AppendImage(b, i % 100, i % 50, 1, 1, -1);
       }
       b.push_back(0x3B);
       return b;
     }},
    // Each frame's own colours would recolour the screen: the screen is
    // composed again in true colour for every frame.
    {"one-pixel frames with their own colours",
     [](int frames) {
       std::vector<uint8_t> b;
       AppendScreen(b, 4096, 2048, 1);
       for (int i = 0; i < frames; ++i) AppendImage(b, i % 100, 0, 1, 1, i == 0 ? -1 : i % 40);
       b.push_back(0x3B);
       return b;
     }},
    // No global table: the true-colour screen keeps and gives back what each
    // full-screen frame (one pixel of data) covers.
    {"full-screen frames restoring the true-colour screen",
     [](int frames) {
       std::vector<uint8_t> b;
       AppendScreen(b, 4096, 2048, -1);
       AppendImage(b, 0, 0, 1, 1, 0);
       for (int i = 1; i < frames; ++i) {
         AppendControl(b, 3, -1);
         AppendImage(b, 0, 0, 4096, 2048, i % 40);
       }
       b.push_back(0x3B);
       return b;
     }},
    // Each full-screen frame gives the whole screen back to the background.
    {"full-screen frames cleared by disposal 2",
     [](int frames) {
       std::vector<uint8_t> b;
       AppendScreen(b, 8192, 4096, 7);
       for (int i = 0; i < frames; ++i) {
         AppendControl(b, 2, -1);
         AppendImage(b, 0, 0, 8192, 4096, -1);
       }
       b.push_back(0x3B);
       return b;
     }},
    // A transparent index other than 0 fills each full-screen frame before
    // its data arrives.
    {"full-screen frames filled with their transparent index",
     [](int frames) {
       std::vector<uint8_t> b;
       AppendScreen(b, 8192, 4096, 7);
       for (int i = 0; i < frames; ++i) {
         AppendControl(b, 1, 7);
         AppendImage(b, 0, 0, 8192, 4096, -1);
       }
       b.push_back(0x3B);
       return b;
     }},
};

}  // namespace

// A few kilobytes of such frames would cost the composition hundreds of
// screens (minutes); the read stops after a bounded amount of screen work
// (a small file: four screens at the memory limit) with a clear text, while
// a short run of the same frames reads.
TEST(GifWork, ManyCostlyFramesStopWithinTheBudget) {
  constexpr int kFrames = 200;
  for (const CostlyFrames& c : kCostlyFrames) {
    SCOPED_TRACE(c.name);
    {
      std::vector<uint8_t> bytes = c.build(6);
      PxMemFile file(bytes.data(), int32_t(bytes.size()));
      PxImageGIF gif;
      gif.info.frame = 5;
      EXPECT_TRUE(gif.Decode(&file)) << gif.LastError();
      EXPECT_GT(gif.ScreenWork(), 0.0);
    }
    std::vector<uint8_t> bytes = c.build(kFrames);
    ASSERT_LT(bytes.size(), 16384u);
    for (bool allFrames : {false, true}) {
      SCOPED_TRACE(allFrames ? "every frame" : "the last frame");
      PxMemFile file(bytes.data(), int32_t(bytes.size()));
      PxImageGIF gif;
      gif.info.frame = kFrames - 1;
      gif.info.getAllFrames = allFrames;
      EXPECT_FALSE(gif.Decode(&file));
      EXPECT_LE(gif.ScreenWork(), 4.0 * double(kPxImageMaxBytes));
      if (!allFrames) {  // the list of every frame may be refused first
        EXPECT_STREQ(gif.LastError(), "GIF: the frames cost too much work to compose for the size of the file");
      }
    }
  }
}

// A real animation: 49 small frames in colours of their own over a 300 x 200
// picture, each undone by disposal 3 (so the screen is composed in true
// colour), made by ImageMagick: every frame as ImageMagick and Pillow show
// it.
TEST(GifWork, RealAnimationReadsEveryFrame) {
  TempDir dir;
  const auto gif = dir.path() / "restore.gif";
  std::string command = "convert-im6.q16 -size 300x200 xc:'rgb(20,40,60)' -fill 'rgb(200,180,20)' "
                        "-draw 'rectangle 10,10 120,80' -dispose Previous -delay 4";
  for (int i = 1; i < 50; ++i) {
    command += " \\( -size 12x9 xc:'rgb(" + std::to_string(i * 5) + "," + std::to_string(255 - i * 4) + "," +
               std::to_string(90 + i) + ")' -repage +" + std::to_string(i * 5) + "+" + std::to_string(i * 3) +
               " \\)";
  }
  ASSERT_TRUE(Shell(command + " -loop 0 '" + gif.string() + "'"));
  int pw = 0, ph = 0;
  auto pillow = PillowFrames(gif, &pw, &ph);
  int w = 0, h = 0;
  auto expected = MagickFrames(gif, &w, &h);
  ASSERT_EQ(expected.size(), 50u);
  ASSERT_EQ(pillow.size(), 50u);
  std::vector<uint8_t> bytes = ReadAll(gif);
  for (size_t n = 0; n < expected.size(); ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    PxMemFile file(bytes.data(), int32_t(bytes.size()));
    PxImageGIF image;
    image.info.frame = int32_t(n);
    ASSERT_TRUE(image.Decode(&file)) << image.LastError();
    EXPECT_FALSE(image.IsDamaged());
    if (n > 0) {
      EXPECT_EQ(image.Bpp(), 24u);
    }
    ExpectSameFrame(image, expected[n], w, h);
    ExpectSameFrame(image, pillow[n], pw, ph);
  }
  PxMemFile file(bytes.data(), int32_t(bytes.size()));
  PxImageGIF all;
  all.info.getAllFrames = true;
  ASSERT_TRUE(all.Decode(&file)) << all.LastError();
  ASSERT_EQ(all.frameListSize, 50);
  for (size_t n = 0; n < expected.size(); ++n) {
    ASSERT_NE(all.frames[n], nullptr);
    ExpectSameFrame(*all.frames[n], expected[n], w, h);
  }
}
