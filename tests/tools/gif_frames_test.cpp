// GIF to GIF frame by frame on animations whose frames bring their own
// colour tables: the converted file must show what the source shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../imagelib/jpeg_test_util.h"
#include "tools/PictureOps.h"

using namespace pwtest;

namespace {

// Every frame as ImageMagick composes it, RGBA, top row first.
std::vector<uint8_t> Coalesced(const std::filesystem::path& gif) {
  return RunBytes("convert-im6.q16 '" + gif.string() + "' -coalesce rgba:-");
}

// Pillow's optimised animations over colours the standard palette holds, so
// the conversion's reduction to that palette is exact: per-frame palettes
// in a different order each, partial frames with local tables; the second
// file adds transparency and disposal 1, 3, 1, 2.
TEST(GifFrameConversion, LocalTablesAndTransparencyMatchImageMagick) {
  TempDir dir;
  const auto plain = dir / "plain.gif", clear = dir / "clear.gif";
  ASSERT_TRUE(Shell(
      "/usr/bin/python3 -c \"import sys; from PIL import Image, ImageDraw\n"
      "S = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),\n"
      "     (192, 192, 192), (255, 170, 0), (220, 146, 0), (255, 85, 0), (254, 0, 0), (150, 0, 0),\n"
      "     (255, 142, 142), (115, 37, 0)]\n"
      "def frames():\n"
      "    out = []\n"
      "    for i in range(4):\n"
      "        pal = S[4 * i:] + S[:4 * i]\n"
      "        im = Image.new('P', (40, 30), pal.index(S[7])); im.putpalette([v for c in pal for v in c])\n"
      "        d = ImageDraw.Draw(im)\n"
      "        d.rectangle((2, 2, 12, 10), fill=pal.index(S[8]))\n"
      "        d.rectangle((5 + 6 * i, 12, 14 + 6 * i, 22), fill=pal.index(S[1 + i]))\n"
      "        d.ellipse((20, 2 + i, 30, 9 + i), fill=pal.index(S[6 + i]))\n"
      "        for k in range(i + 1): d.point((30 + k, 25), fill=pal.index(S[10 + k]))\n"
      "        out.append(im)\n"
      "    return out\n"
      "f = frames(); f[0].save(sys.argv[1], save_all=True, append_images=f[1:], optimize=True, duration=50)\n"
      "f = frames(); f[0].save(sys.argv[2], save_all=True, append_images=f[1:], optimize=True, duration=50, "
      "disposal=[1, 3, 1, 2], transparency=0)\" '" + plain.string() + "' '" + clear.string() + "'"));
  for (const auto& source : {plain, clear}) {
    SCOPED_TRACE(source.filename().string());
    const auto target = dir / ("out_" + source.filename().string());
    ASSERT_TRUE(ConvertGifFrames(Wide(source), Wide(target), -1, -1, false, nullptr));
    const std::vector<uint8_t> expected = Coalesced(source), ours = Coalesced(target);
    ASSERT_EQ(expected.size(), size_t{4} * 40 * 30 * 4);
    ASSERT_EQ(ours.size(), expected.size());
    int transparent = 0, mismatches = 0;
    for (size_t i = 0; i < expected.size() && mismatches < 5; i += 4) {
      const bool clearThere = expected[i + 3] == 0;
      transparent += clearThere;
      const bool same = clearThere ? ours[i + 3] == 0
                                   : ours[i + 3] != 0 && std::equal(&ours[i], &ours[i + 3], &expected[i]);
      if (!same) {
        ADD_FAILURE() << "frame " << i / (40 * 30 * 4) << " pixel " << (i / 4) % (40 * 30) << ": ours "
                      << int(ours[i]) << "," << int(ours[i + 1]) << "," << int(ours[i + 2]) << "/"
                      << int(ours[i + 3]) << ", ImageMagick " << int(expected[i]) << "," << int(expected[i + 1])
                      << "," << int(expected[i + 2]) << "/" << int(expected[i + 3]);
        ++mismatches;
      }
    }
    if (source == clear) {
      EXPECT_GT(transparent, 0);
    }
  }
}

// A later frame whose data ends early is a damaged source: told beside the
// original, refused over it. (The first frame reads whole, so only the
// frames after it show the damage.)
TEST(GifFrameConversion, ADamagedLaterFrameIsTold) {
  TempDir dir;
  const auto whole = dir / "whole.gif", cut = dir / "cut.gif";
  ASSERT_TRUE(Shell("convert-im6.q16 -size 64x64 xc:red \\( xc:gray +noise Random \\) xc:blue '" +
                    whole.string() + "'"));
  const uintmax_t size = std::filesystem::file_size(whole);
  ASSERT_GT(size, 4000u);
  // Half the file: inside the noise frame, whose data is most of it.
  std::filesystem::copy_file(whole, cut);
  std::filesystem::resize_file(cut, size / 2);
  bool damaged = true;
  ASSERT_TRUE(ConvertGifFrames(Wide(whole), Wide(dir / "a.gif"), -1, -1, false, nullptr, false, &damaged));
  EXPECT_FALSE(damaged);
  damaged = false;
  ASSERT_TRUE(ConvertGifFrames(Wide(cut), Wide(dir / "b.gif"), -1, -1, false, nullptr, false, &damaged));
  EXPECT_TRUE(damaged);
  EXPECT_FALSE(ConvertGifFrames(Wide(cut), Wide(dir / "c.gif"), -1, -1, false, nullptr, true, &damaged));
  EXPECT_FALSE(std::filesystem::exists(dir / "c.gif"));
}

}  // namespace
