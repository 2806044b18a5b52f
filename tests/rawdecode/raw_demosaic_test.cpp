// Demosaicing and the highlight stages against what they must preserve:
// flat fields stay flat, linear ramps are exact for bilinear, measured
// samples are kept.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "raw_test_image.h"
#include "rawdecode/raw_output.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawtest;

namespace {

using Demosaic = void (*)(raw_decode_context*);
struct Named {
  const char* name;
  Demosaic fn;
  int border;  // rows and columns at each edge the interior check leaves out
};
const Named demosaicers[] = {
    {"bilinear", bilinear_demosaic, 1},
    {"vng", vng_interpolate, 2},
    {"ppg", ppg_demosaic, 3},
    {"ahd", ahd_interpolate, 5},
};

}  // namespace

TEST(RawDemosaic, FlatFieldStaysFlat) {
  const int flat[3] = {1200, 2400, 900};
  for (const Named& d : demosaicers) {
    SCOPED_TRACE(d.name);
    auto ctx = MosaicContext(24, 30, [&](int, int, int c) { return flat[c]; });
    d.fn(ctx.get());
    for (int r = d.border; r < 24 - d.border; ++r)
      for (int c = d.border; c < 30 - d.border; ++c)
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(At(ctx.get(), r, c)[k], flat[k], 1) << r << "," << c << " " << k;
  }
}

TEST(RawDemosaic, MeasuredSamplesAreKept) {
  std::mt19937 gen(9);
  std::vector<int> noise(40 * 36);
  for (int& v : noise) v = int(gen() % 60000);
  for (const Named& d : demosaicers) {
    SCOPED_TRACE(d.name);
    auto ctx = MosaicContext(40, 36, [&](int r, int c, int) { return noise[r * 36 + c]; });
    d.fn(ctx.get());
    for (int r = 0; r < 40; ++r)
      for (int c = 0; c < 36; ++c)
        ASSERT_EQ(At(ctx.get(), r, c)[cfa_colour_at(ctx.get(), r, c)], noise[r * 36 + c]) << r << "," << c;
  }
}

TEST(RawDemosaic, BilinearIsExactOnLinearRamps) {
  auto ramp = [](int r, int c, int k) { return 5000 + 1000 * k + 37 * r + 11 * c; };
  auto ctx = MosaicContext(20, 22, ramp);
  bilinear_demosaic(ctx.get());
  for (int r = 1; r < 19; ++r)
    for (int c = 1; c < 21; ++c)
      for (int k = 0; k < 3; ++k) ASSERT_EQ(At(ctx.get(), r, c)[k], ramp(r, c, k)) << r << "," << c << " " << k;
}

TEST(RawDemosaic, BorderFillAveragesTheNeighbourhood) {
  auto ramp = [](int r, int c, int k) { return 5000 + 1000 * k + 37 * r + 11 * c; };
  auto ctx = MosaicContext(6, 6, ramp);
  fill_border_colours(ctx.get(), 1);
  // Corner (0,0) is red; its green neighbours (0,1) and (1,0), its blue (1,1).
  EXPECT_EQ(At(ctx.get(), 0, 0)[1], (ramp(0, 1, 1) + ramp(1, 0, 1)) / 2);
  EXPECT_EQ(At(ctx.get(), 0, 0)[2], ramp(1, 1, 2));
  EXPECT_EQ(At(ctx.get(), 2, 2)[1], 0);  // inside: untouched
}

TEST(RawDemosaic, FourColourImagesGoToVng) {
  for (Demosaic fn : {ppg_demosaic, ahd_interpolate}) {
    auto ctx = MosaicContext(12, 12, [](int, int, int c) { return 1000 * (c + 1); }, 0xB4B4B4B4, 4);
    ctx->options.verbose_messages = 1;
    fn(ctx.get());
    EXPECT_EQ(ctx->message_log, "Bilinear interpolation...\nVNG interpolation...\n");
    for (int k = 0; k < 4; ++k) EXPECT_EQ(At(ctx.get(), 6, 6)[k], 1000 * (k + 1));
  }
}

TEST(RawDemosaic, PpgAndAhdFollowTheStrongerDirection) {
  // Vertical stripes of green: the horizontal estimate is poor, so green at
  // red and blue positions comes from above and below, exactly.
  auto stripes = [](int, int c, int k) { return k == 1 ? 4000 + 3000 * ((c / 2) & 1) : 3000; };
  for (Demosaic fn : {ppg_demosaic, ahd_interpolate}) {
    auto ctx = MosaicContext(20, 20, stripes);
    fn(ctx.get());
    for (int r = 6; r < 14; ++r)
      for (int c = 6; c < 14; ++c) ASSERT_EQ(At(ctx.get(), r, c)[1], stripes(r, c, 1)) << r << "," << c;
  }
}

TEST(RawMedian, PassesFilterRedAndBlueAgainstGreen) {
  auto ctx = MosaicContext(7, 7, [](int, int, int) { return 0; });
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 7; ++c) At(ctx.get(), r, c) = raw_pixel{{1000, 2000, 3000, 0}};
  At(ctx.get(), 3, 3)[0] = 9000;  // one red outlier
  auto before = std::vector<raw_pixel>(ctx->pixels.get(), ctx->pixels.get() + 49);
  median_filter_passes(ctx.get());  // 0 passes: nothing changes
  EXPECT_EQ(memcmp(before.data(), ctx->pixels.get(), sizeof(raw_pixel) * 49), 0);
  ctx->options.median_pass_count = 1;
  median_filter_passes(ctx.get());
  EXPECT_EQ(At(ctx.get(), 3, 3)[0], 1000);
  EXPECT_EQ(At(ctx.get(), 3, 3)[2], 3000);
  EXPECT_EQ(At(ctx.get(), 3, 3)[1], 2000);
}

TEST(RawHighlights, BlendKeepsUnclippedAndNeutralPixels) {
  auto ctx = MosaicContext(2, 2, [](int, int, int) { return 0; });
  ctx->pre_multipliers[0] = 1;
  ctx->pre_multipliers[1] = 0.5f;  // clip level 32767
  ctx->pre_multipliers[2] = 0.8f;
  At(ctx.get(), 0, 0) = raw_pixel{{30000, 32000, 1000, 0}};  // below the clip
  At(ctx.get(), 0, 1) = raw_pixel{{65535, 65535, 65535, 0}}; // fully clipped, neutral
  At(ctx.get(), 1, 0) = raw_pixel{{60000, 40000, 20000, 0}}; // clipped colour
  blend_clipped_highlights(ctx.get());
  EXPECT_TRUE((At(ctx.get(), 0, 0)[0] == 30000 && At(ctx.get(), 0, 0)[1] == 32000));
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(At(ctx.get(), 0, 1)[k], 65535, 1);
  // The clipped colour keeps its lightness (the sum of the three) and takes
  // the chroma of the clipped copy.
  const raw_pixel& p = At(ctx.get(), 1, 0);
  EXPECT_NEAR(p[0] + p[1] + p[2], 120000, 3);
}

TEST(RawHighlights, RecoveryRebuildsAClippedColourFromItsNeighbours) {
  // Red saturates (twice its hsat of 32000) in the middle 4 x 4 cell while
  // green, the key colour, shows the brightness; the ratio red / green of
  // the surrounding cells (40000 / 30000) spreads into the middle one as
  // (weights 12 x 4/3 + grow 2) / (12 + 2) = 1.2857.
  auto ctx = MosaicContext(12, 12, [](int, int, int) { return 0; });
  ctx->pre_multipliers[0] = 1;
  ctx->pre_multipliers[1] = 2;  // green: the key colour
  ctx->pre_multipliers[2] = 1;
  ctx->options.highlight_mode = 3;
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 12; ++c) {
      bool centre = r >= 4 && r < 8 && c >= 4 && c < 8;
      At(ctx.get(), r, c) = raw_pixel{{uint16_t(centre ? 65000 : 40000), 30000, 1000, 0}};
    }
  recover_highlights(ctx.get());
  // The middle keeps red where green x 1.2857 (38571) is below it; blue
  // never reaches its hsat and stays.
  EXPECT_EQ(At(ctx.get(), 5, 5)[0], 65000);
  EXPECT_EQ(At(ctx.get(), 5, 5)[2], 1000);
  // A centre below its neighbours' ratio is raised to it.
  for (int r = 4; r < 8; ++r)
    for (int c = 4; c < 8; ++c) At(ctx.get(), r, c) = raw_pixel{{64001, 60000, 1000, 0}};
  recover_highlights(ctx.get());
  EXPECT_EQ(At(ctx.get(), 5, 5)[0], 65535);  // 60000 x 1.2857, clipped
  EXPECT_EQ(At(ctx.get(), 1, 1)[0], 40000);
}

// Ties between the two directions. Green is G + k on the red rows and G on
// the blue rows, red and blue flat: at a red or blue position the
// horizontal and vertical green differences are equal (both 0), the
// horizontal estimate is the pixel's own row (G + k on red rows, G on blue
// rows), the vertical one the other rows'. PPG takes the horizontal one,
// AHD (whose homogeneity counts are equal too) the mean of both.
TEST(RawDemosaic, TiesBetweenDirections) {
  const int G = 20000, k = 4000;
  auto zigzag = [&](int r, int, int colour) { return colour == 1 ? G + ((r & 1) ? 0 : k) : colour == 0 ? 9000 : 15000; };
  struct Case {
    const char* name;
    Demosaic fn;
    int on_red_rows, on_blue_rows;  // green found at red and at blue positions
  } cases[] = {{"ppg", ppg_demosaic, G + k, G}, {"ahd", ahd_interpolate, G + k / 2, G + k / 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto ctx = MosaicContext(24, 24, zigzag);
    c.fn(ctx.get());
    for (int r = 6; r < 18; ++r)
      for (int col = 6; col < 18; ++col)
        if (cfa_colour_at(ctx.get(), r, col) != 1) {
          ASSERT_NEAR(At(ctx.get(), r, col)[1], (r & 1) ? c.on_blue_rows : c.on_red_rows, 1) << r << "," << col;
        }
  }
  // PPG's blue at red: blue B + t (r - 10)(c - 11) and flat green give equal
  // diagonal differences on row 10, with estimates B + t and B - t: their
  // mean, B, is taken.
  const int B = 30000, t = 200;
  auto saddle = [&](int r, int c, int colour) { return colour == 2 ? B + t * (r - 10) * (c - 11) : colour == 1 ? G : 9000; };
  auto ctx = MosaicContext(24, 24, saddle);
  ppg_demosaic(ctx.get());
  for (int col = 4; col < 20; col += 2) {
    ASSERT_EQ(cfa_colour_at(ctx.get(), 10, col), 0);
    EXPECT_EQ(At(ctx.get(), 10, col)[2], B) << col;
  }
}

// VNG leaves out the directions that cross an edge: beside a sharp vertical
// edge the green it finds at red and blue positions is its own side's, where
// the bilinear result it starts from averages across the edge; over the
// columns by the edge it strays less than half as far.
TEST(RawDemosaic, VngKeepsASharpEdge) {
  const int left[3] = {3000, 6000, 2000}, right[3] = {30000, 40000, 25000};
  auto edge = [&](int, int c, int colour) { return c < 12 ? left[colour] : right[colour]; };
  long error[2] = {};
  int i = 0;
  for (Demosaic fn : {vng_interpolate, bilinear_demosaic}) {
    auto ctx = MosaicContext(24, 24, edge);
    fn(ctx.get());
    for (int r = 4; r < 20; ++r)
      for (int c = 9; c < 15; ++c) {
        const int* want = c < 12 ? left : right;
        for (int k = 0; k < 3; ++k) error[i] += std::abs(At(ctx.get(), r, c)[k] - want[k]);
        if (fn == vng_interpolate && cfa_colour_at(ctx.get(), r, c) != 1) {
          ASSERT_EQ(At(ctx.get(), r, c)[1], want[1]) << r << "," << c;
        }
      }
    ++i;
  }
  EXPECT_LT(error[0] * 2, error[1]);
}

// Bilinear demosaicing and the colour conversion run in bands of rows on the
// decoder threads: any number of bands gives the one-band picture and
// histogram, band edges included.
TEST(RawDemosaic, RowBandsGiveWhatOneBandGives) {
  std::mt19937 gen(4);
  const int height = 333, width = 37;
  std::vector<int> noise(size_t(height) * width);
  for (int& v : noise) v = int(gen() % 60000);
  auto run = [&](int threads) {
    auto ctx = MosaicContext(height, width, [&](int r, int c, int) { return noise[size_t(r) * width + c]; });
    ctx->options.decode_threads = threads;
    ctx->options.output_space = 1;
    ctx->raw_colour_flag = 0;
    const float m[3][3] = {{1.6f, -0.4f, -0.2f}, {-0.3f, 1.5f, -0.2f}, {0.1f, -0.5f, 1.4f}};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) ctx->rgb_from_camera[i][j] = m[i][j];
    bilinear_demosaic(ctx.get());
    convert_to_rgb(ctx.get());
    return ctx;
  };
  auto one = run(1);
  for (int threads : {2, 5, 8, 0}) {
    SCOPED_TRACE(threads);
    auto many = run(threads);
    EXPECT_EQ(memcmp(&one->pixels[0], &many->pixels[0], sizeof(raw_pixel) * height * width), 0);
    EXPECT_EQ(memcmp(one->output_histogram, many->output_histogram, sizeof one->output_histogram), 0);
  }
  int64_t counted = 0;
  for (int v : one->output_histogram[1]) counted += v;
  EXPECT_EQ(counted, int64_t(height) * width);
}
