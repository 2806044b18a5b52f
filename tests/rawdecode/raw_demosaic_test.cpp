// Demosaicing and the highlight stages against what they must preserve:
// flat fields stay flat, linear ramps are exact for bilinear, measured
// samples are kept.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "raw_test_image.h"
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
