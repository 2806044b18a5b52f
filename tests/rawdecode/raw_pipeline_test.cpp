// Zero and dead samples, the dark frame, white balance and scaling, wavelet
// denoising, pre-interpolation and the colour-matrix operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "raw_test_image.h"
#include "rawdecode/raw_pipeline.h"

using namespace rawtest;
namespace fs = std::filesystem;

namespace {

struct TempDir {
  TempDir() {
    char tmpl[] = "/tmp/pw_raw_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

int Ramp(int r, int c, int colour) { return 1000 + 100 * colour + 7 * r + 3 * c; }

// Copies of every pixel, to compare before and after a stage.
std::vector<raw_pixel> Snapshot(raw_decode_context* ctx) {
  return std::vector<raw_pixel>(ctx->pixels.get(), ctx->pixels.get() + ctx->pixel_count);
}

bool SamePixel(const raw_pixel& a, const raw_pixel& b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(RawZeroSamples, FilledFromSameColourNeighbours) {
  auto ctx = MosaicContext(10, 10, Ramp);
  cfa_sample(ctx.get(), 5, 5) = 0;  // colour 2
  cfa_sample(ctx.get(), 1, 6) = 0;  // in the first two rows: stays
  cfa_sample(ctx.get(), 7, 5) = 0;  // a zero neighbour of (5, 5), not counted
  auto before = Snapshot(ctx.get());
  ctx->zero_is_bad = 1;
  fill_zero_samples(ctx.get());
  // (5,5) averages the blue samples at rows 3,5,7 x columns 3,5,7 except
  // itself and (7,5): (sum over the 9 of the ramp - ramp(5,5) - ramp(7,5)) / 7.
  int sum = 0;
  for (int r = 3; r <= 7; r += 2)
    for (int c = 3; c <= 7; c += 2) sum += Ramp(r, c, 2);
  sum -= Ramp(5, 5, 2) + Ramp(7, 5, 2);
  EXPECT_EQ(cfa_sample(ctx.get(), 5, 5), sum / 7);
  EXPECT_EQ(cfa_sample(ctx.get(), 1, 6), 0);
  // (7,5) is filled afterwards, the value just filled at (5,5) counting.
  EXPECT_NE(cfa_sample(ctx.get(), 7, 5), 0);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 10; ++c)
      if (!((r == 5 || r == 7) && c == 5)) {
        EXPECT_TRUE(SamePixel(At(ctx.get(), r, c), before[r * 10 + c]));
      }
}

// Zeros in the first two rows or the first two columns stay; from row 2 and
// column 2 on every zero is filled, however close to the corner.
TEST(RawZeroSamples, FirstTwoRowsAndColumnsAreNeverFilled) {
  struct Case {
    int row, col;
    bool filled;
  } cases[] = {{0, 5, false}, {1, 6, false}, {1, 1, false}, {5, 0, false}, {6, 1, false},
               {2, 2, true},  {2, 7, true},  {7, 2, true},  {9, 9, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << "," << c.col);
    auto ctx = MosaicContext(10, 10, Ramp);
    cfa_sample(ctx.get(), c.row, c.col) = 0;
    fill_zero_samples(ctx.get());
    if (c.filled)
      EXPECT_NEAR(cfa_sample(ctx.get(), c.row, c.col), Ramp(c.row, c.col, cfa_colour_at(ctx.get(), c.row, c.col)), 20);
    else
      EXPECT_EQ(cfa_sample(ctx.get(), c.row, c.col), 0);
  }
}

TEST(RawDeadPixels, ListedPixelsWithinTheShotTimeAreRepaired) {
  TempDir dir;
  WriteFile(dir.path / "list",
            "# column row time\n"
            "3 4 100   # a green pixel\n"
            "5 5 5000\n"        // later than the shot: ignored
            "100 2 0\n"         // outside the image
            "not a line\n"
            "6 6 1000\n");      // red, time equal to the shot: repaired
  auto ctx = MosaicContext(10, 10, Ramp);
  ctx->shot_time = 1000;
  ctx->options.verbose_messages = 1;
  cfa_sample(ctx.get(), 4, 3) = 9999;
  cfa_sample(ctx.get(), 5, 5) = 9999;
  cfa_sample(ctx.get(), 6, 6) = 9999;
  auto before = Snapshot(ctx.get());
  repair_dead_pixels(ctx.get(), (dir.path / "list").c_str());
  // Green at (4,3): its four diagonal greens at radius 1.
  int g = Ramp(3, 2, 1) + Ramp(3, 4, 1) + Ramp(5, 2, 1) + Ramp(5, 4, 1);
  EXPECT_EQ(cfa_sample(ctx.get(), 4, 3), g / 4);
  // Red at (6,6): no red within radius 1, the eight reds at radius 2.
  int red = 0;
  for (int r = 4; r <= 8; r += 2)
    for (int c = 4; c <= 8; c += 2)
      if (r != 6 || c != 6) red += Ramp(r, c, 0);
  EXPECT_EQ(cfa_sample(ctx.get(), 6, 6), red / 8);
  EXPECT_EQ(cfa_sample(ctx.get(), 5, 5), 9999);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 10; ++c)
      if (!(r == 4 && c == 3) && !(r == 6 && c == 6)) {
        EXPECT_TRUE(SamePixel(At(ctx.get(), r, c), before[r * 10 + c])) << r << "," << c;
      }
  EXPECT_EQ(ctx->message_log, "Fixed dead pixels at: 3,4 6,6\n");
}

TEST(RawDeadPixels, ListIsFoundInAFolderAbove) {
  TempDir dir;
  fs::create_directories(dir.path / "a" / "b" / "c");
  WriteFile(dir.path / "a" / ".badpixels", "1 1 0\n");
  auto ctx = MosaicContext(4, 4, Ramp);
  cfa_sample(ctx.get(), 1, 1) = 0;
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir((dir.path / "a" / "b" / "c").c_str()), 0);
  repair_dead_pixels(ctx.get(), nullptr);
  ASSERT_EQ(chdir(old), 0);
  free(old);
  // (1,1) is colour 2; its radius-1 blues do not exist (blues sit on odd
  // rows and columns), so the radius-2 ones count: (1,3), (3,1), (3,3).
  EXPECT_EQ(cfa_sample(ctx.get(), 1, 1), (Ramp(1, 3, 2) + Ramp(3, 1, 2) + Ramp(3, 3, 2)) / 3);
}

TEST(RawDarkFrame, SubtractsExactlyTheFrame) {
  TempDir dir;
  const int h = 3, w = 4;
  std::string pgm = "P5\n# made by hand\n4 3\n65535\n";
  for (int i = 0; i < h * w; ++i) {
    int dark = i == 5 ? 60000 : 10 * i;
    pgm += char(dark >> 8);
    pgm += char(dark & 255);
  }
  WriteFile(dir.path / "dark.pgm", pgm);
  auto ctx = MosaicContext(h, w, Ramp);
  ctx->black_level = 77;
  auto before = Snapshot(ctx.get());
  subtract(ctx.get(), (dir.path / "dark.pgm").c_str());
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      int i = r * w + c, dark = i == 5 ? 60000 : 10 * i;
      int colour = cfa_colour_at(ctx.get(), r, c);
      int was = before[i][colour];
      EXPECT_EQ(At(ctx.get(), r, c)[colour], dark < was ? was - dark : 0);
    }
  EXPECT_EQ(ctx->black_level, 0u);
  EXPECT_TRUE(ctx->message_log.empty());
}

TEST(RawDarkFrame, RefusedFilesChangeNothing) {
  TempDir dir;
  struct Case {
    std::string content, message;
  } cases[] = {
      {"P5\n4 3\n65535\n", "has the wrong dimensions!"},  // wrong size below
      {"P5\n3 4 65535\n", "has the wrong dimensions!"},
      {"P5\n4 3 255\n", "has the wrong dimensions!"},
      {"P6\n4 3 65535\n", "is not a valid PGM file!"},
      {"P5\n4x 3 65535\n", "is not a valid PGM file!"},
      {"P5\n4 3", "is not a valid PGM file!"},
      {"P5 99999999999999999999 3 65535\n", "has the wrong dimensions!"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.content);
    WriteFile(dir.path / "dark.pgm", c.content);
    auto ctx = MosaicContext(5, 4, Ramp);  // 4 x 5: every frame above is wrong
    ctx->black_level = 77;
    auto before = Snapshot(ctx.get());
    subtract(ctx.get(), (dir.path / "dark.pgm").c_str());
    EXPECT_EQ(ctx->black_level, 77u);
    EXPECT_NE(ctx->message_log.find((dir.path / "dark.pgm").string() + " " + c.message), std::string::npos)
        << ctx->message_log;
    EXPECT_EQ(memcmp(before.data(), ctx->pixels.get(), before.size() * sizeof(raw_pixel)), 0);
  }
  auto ctx = MosaicContext(2, 2, Ramp);
  subtract(ctx.get(), (dir.path / "missing.pgm").c_str());
  EXPECT_NE(ctx->message_log.find("missing.pgm: No such file or directory"), std::string::npos);
}

TEST(RawWhiteBalance, GreyCardGivesTheInverseGains) {
  // A grey card seen through channel gains 2, 1, 0.5 over a black of 100.
  const double gain[3] = {2, 1, 0.5};
  auto ctx = MosaicContext(16, 16, [&](int, int, int c) { return int(100 + 1000 * gain[c]); });
  ctx->black_level = 100;
  ctx->white_level = 4000;
  ctx->options.auto_white_balance = 1;
  ctx->options.highlight_mode = 1;  // the largest multiplier becomes 1
  ctx->pre_multipliers[3] = 0;      // three colours: the fourth follows green
  scale_colors(ctx.get());
  EXPECT_NEAR(ctx->pre_multipliers[0], 0.25, 1e-6);
  EXPECT_NEAR(ctx->pre_multipliers[1], 0.5, 1e-6);
  EXPECT_NEAR(ctx->pre_multipliers[2], 1, 1e-6);
  EXPECT_NEAR(ctx->pre_multipliers[3], 0.5, 1e-6);
  // Every colour now reads the same: 500 x 65535 / 3900.
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) EXPECT_NEAR(cfa_sample(ctx.get(), r, c), 500 * 65535 / 3900, 1);
  EXPECT_EQ(ctx->white_level, 3900u);
}

TEST(RawWhiteBalance, HighlightModeZeroSaturatesEveryColour) {
  auto ctx = MosaicContext(8, 8, [](int r, int, int) { return r < 4 ? 3000 : 1500; });
  ctx->white_level = 3000;
  ctx->pre_multipliers[0] = 2;
  ctx->pre_multipliers[1] = 1;
  ctx->pre_multipliers[2] = 4;
  ctx->pre_multipliers[3] = 0;  // becomes the second green's
  scale_colors(ctx.get());
  EXPECT_FLOAT_EQ(ctx->pre_multipliers[1], 1);  // the smallest
  EXPECT_FLOAT_EQ(ctx->pre_multipliers[0], 2);
  EXPECT_FLOAT_EQ(ctx->pre_multipliers[3], 1);
  // The smallest multiplier maps saturation to full scale; the others beyond.
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 8; ++c) EXPECT_GE(cfa_sample(ctx.get(), r, c), 65534) << r << "," << c;  // float rounding
  EXPECT_NEAR(cfa_sample(ctx.get(), 4, 1), 32767, 1);  // green at half saturation
  EXPECT_EQ(cfa_sample(ctx.get(), 5, 1), 65535);       // blue at half saturation x 4
}

TEST(RawWhiteBalance, GreyBoxEdges) {
  auto flat = [](int, int, int c) { return 500 + 100 * c; };
  {  // a box entirely outside the image
    auto ctx = MosaicContext(16, 16, flat);
    ctx->options.auto_white_balance = 1;
    ctx->options.grey_box[0] = 100;
    ctx->options.grey_box[2] = 8;
    ctx->options.highlight_mode = 1;
    ctx->pre_multipliers[0] = 0.5f;
    scale_colors(ctx.get());
    EXPECT_FLOAT_EQ(ctx->pre_multipliers[0], 0.5f);
  }
  {  // one sample above white - 25 discards its block
    auto ctx = MosaicContext(16, 8, [](int r, int, int c) { return r < 8 ? 500 + 100 * c : 1000; });
    ctx->white_level = 4000;
    ctx->options.auto_white_balance = 1;
    ctx->options.highlight_mode = 1;
    cfa_sample(ctx.get(), 3, 3) = 3990;  // blue in the first block
    scale_colors(ctx.get());
    // Only the second block (all 1000) counted: equal multipliers.
    EXPECT_FLOAT_EQ(ctx->pre_multipliers[0], ctx->pre_multipliers[2]);
  }
}

TEST(RawWhiteBalance, CameraPatchAndFallbacks) {
  auto ctx = MosaicContext(8, 8, [](int, int, int) { return 1000; });
  ctx->options.camera_white_balance = 1;
  ctx->options.highlight_mode = 1;
  ctx->cfa_pattern = 0x1B1B1B1B;  // four colours: rows 3 2 / 1 0
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) ctx->white_patch[r][c] = uint16_t(200 + 100 * cfa_fc(ctx.get(), r, c));
  scale_colors(ctx.get());
  EXPECT_NEAR(ctx->pre_multipliers[0] / ctx->pre_multipliers[3], 500.0 / 200.0, 1e-5);
  EXPECT_NEAR(ctx->pre_multipliers[1] / ctx->pre_multipliers[3], 500.0 / 300.0, 1e-5);

  auto fallback = MosaicContext(8, 8, [](int, int, int) { return 1000; });
  fallback->options.camera_white_balance = 1;
  fallback->options.highlight_mode = 1;
  fallback->camera_multipliers[0] = 2;
  fallback->camera_multipliers[1] = 1;
  fallback->camera_multipliers[2] = 1.5f;
  fallback->camera_multipliers[3] = 1;
  scale_colors(fallback.get());  // the patch is black: camera multipliers used
  EXPECT_FLOAT_EQ(fallback->pre_multipliers[0], 1.0f);
  EXPECT_FLOAT_EQ(fallback->pre_multipliers[1], 0.5f);

  auto none = MosaicContext(8, 8, [](int, int, int) { return 1000; });
  none->options.camera_white_balance = 1;
  none->message_name = "PxImageRAW";
  scale_colors(none.get());
  EXPECT_NE(none->message_log.find("PxImageRAW: Cannot use camera p->white balance.\n"), std::string::npos);
}

TEST(RawWhiteBalance, AberrationScalesRedAboutTheCentre) {
  auto ctx = raw_context_create();
  ctx->image_height = ctx->image_width = 16;
  ctx->cfa_pattern = kBayer;
  ctx->colour_count = 3;
  ctx->shrink_factor = 1;
  ctx->white_level = 65535;
  for (float& m : ctx->pre_multipliers) m = 1;
  raw_allocate_pixels(ctx.get(), "test");  // 8 x 8 half-size pixels
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c)
      for (int k = 0; k < 4; ++k) ctx->pixels[r * 8 + c][k] = uint16_t(1000 + 100 * r + 10 * c);
  ctx->options.aberration_scale[0] = 0.5;
  scale_colors(ctx.get());
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      double y = (r - 4) * 0.5 + 4, x = (c - 4) * 0.5 + 4;
      EXPECT_NEAR(ctx->pixels[r * 8 + c][0], 1000 + 100 * y + 10 * x, 1.0) << r << "," << c;
      EXPECT_EQ(ctx->pixels[r * 8 + c][2], 1000 + 100 * r + 10 * c);
    }
}

TEST(RawWavelet, HatFilterAndFlatFields) {
  std::mt19937 gen(5);
  std::vector<float> in(40), out(40);
  for (float& v : in) v = float(gen() % 1000);
  for (int s : {1, 2, 4, 8, 16}) {
    hat_transform_line(out.data(), in.data(), 1, 40, s);
    for (int i = 0; i < 40; ++i) {
      int a = i - s < 0 ? s - i : i - s;
      int b = i + s >= 40 ? 2 * 40 - 2 - (i + s) : i + s;
      EXPECT_FLOAT_EQ(out[i], 2 * in[i] + in[a] + in[b]) << s << " " << i;
    }
  }
  // A flat field has nothing to remove: it comes back as it was, scaled
  // with the levels to the 16-bit range.
  auto ctx = raw_context_create();
  ctx->image_height = 12;
  ctx->image_width = 10;
  ctx->cfa_pattern = kBayer;
  ctx->colour_count = 3;
  ctx->shrink_factor = 1;
  ctx->white_level = 4095;
  ctx->black_level = 0;
  for (float& m : ctx->pre_multipliers) m = 1;
  raw_allocate_pixels(ctx.get(), "test");
  for (uint64_t i = 0; i < ctx->pixel_count; ++i)
    for (int c = 0; c < 4; ++c) ctx->pixels[i][c] = 1024;
  ctx->options.denoise_threshold = 100;
  wavelet_denoise(ctx.get());
  EXPECT_EQ(ctx->white_level, 4095u << 4);
  for (uint64_t i = 0; i < ctx->pixel_count; ++i)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(ctx->pixels[i][c], 1024 << 4, 2);
}

TEST(RawWavelet, NoiseShrinksAndTheMeanStays) {
  auto ctx = raw_context_create();
  ctx->image_height = ctx->image_width = 64;
  ctx->cfa_pattern = kBayer;
  ctx->colour_count = 3;
  ctx->shrink_factor = 1;
  ctx->white_level = 4095;
  for (float& m : ctx->pre_multipliers) m = 1;
  raw_allocate_pixels(ctx.get(), "test");
  std::mt19937 gen(21);
  auto stats = [&](int c, int shift) {
    double sum = 0, sq = 0;
    for (uint64_t i = 0; i < ctx->pixel_count; ++i) {
      double v = ctx->pixels[i][c] / double(1 << shift);
      sum += v;
      sq += v * v;
    }
    double mean = sum / ctx->pixel_count;
    return std::make_pair(mean, sq / ctx->pixel_count - mean * mean);
  };
  for (uint64_t i = 0; i < ctx->pixel_count; ++i)
    for (int c = 0; c < 4; ++c) ctx->pixels[i][c] = uint16_t(2000 + int(gen() % 401) - 200);
  auto before = stats(0, 0);
  ctx->options.denoise_threshold = 3000;
  wavelet_denoise(ctx.get());
  auto after = stats(0, 4);
  EXPECT_NEAR(after.first, before.first, before.first * 0.01);
  EXPECT_LT(after.second, before.second * 0.5);
}

// The two greens of a Bayer sensor read 1000 and 1400 on a flat field: the
// wavelet pass has no detail to remove, and the green step then moves each
// green to the mean of itself and its four diagonal neighbours of the other
// kind (a move larger than the threshold's): both end at 1200 (x 16).
TEST(RawWavelet, TheTwoGreensAreBroughtTogether) {
  auto ctx = raw_context_create();
  ctx->image_height = 16;
  ctx->image_width = 20;
  ctx->cfa_pattern = 0xB4B4B4B4;  // R G / G2(3) B
  ctx->colour_count = 3;
  ctx->shrink_factor = 1;
  ctx->white_level = 4095;
  for (float& m : ctx->pre_multipliers) m = 1;
  raw_allocate_pixels(ctx.get(), "test");
  for (uint64_t i = 0; i < ctx->pixel_count; ++i) ctx->pixels[i] = {{800, 1000, 600, 1400}};
  ctx->options.denoise_threshold = 8000;
  wavelet_denoise(ctx.get());
  for (int r = 1; r < 15; ++r)
    for (int c = 1; c < 19; ++c)
      if (cfa_colour_at(ctx.get(), r, c) & 1) {
        ASSERT_NEAR(cfa_sample(ctx.get(), r, c), 1200 << 4, 2) << r << "," << c;
      }
  EXPECT_NEAR(cfa_sample(ctx.get(), 2, 2), 800 << 4, 2);  // red stays
}

TEST(RawPreInterpolate, UnshrinksAndFoldsTheSecondGreen) {
  auto ctx = raw_context_create();
  ctx->image_height = 4;
  ctx->image_width = 6;
  ctx->cfa_pattern = 0xB4B4B4B4;  // R G / G2(3) B
  ctx->colour_count = 3;
  ctx->shrink_factor = 1;
  raw_allocate_pixels(ctx.get(), "test");
  for (int i = 0; i < 6; ++i)
    for (int c = 0; c < 4; ++c) ctx->pixels[i][c] = uint16_t(100 * i + c);
  pre_interpolate(ctx.get());
  EXPECT_EQ(ctx->shrink_factor, 0);
  EXPECT_EQ(ctx->pixel_count, 24u);
  EXPECT_EQ(ctx->buffer_width, 6);
  EXPECT_EQ(ctx->cfa_pattern, 0x94949494u);  // colour 3 became colour 1
  // (1,0) was the second green (colour 3) of half-size pixel 0: now colour 1.
  EXPECT_EQ(At(ctx.get(), 1, 0)[1], 3);
  EXPECT_EQ(At(ctx.get(), 1, 0)[3], 3);
  EXPECT_EQ(At(ctx.get(), 0, 0)[0], 0);
  EXPECT_EQ(At(ctx.get(), 3, 5)[2], 100 * 5 + 2);
  EXPECT_EQ(ctx->mixed_green, 0);

  auto four = raw_context_create();
  four->image_height = four->image_width = 4;
  four->cfa_pattern = 0xB4B4B4B4;
  four->colour_count = 3;
  four->options.four_colour_demosaic = 1;
  raw_allocate_pixels(four.get(), "test");
  pre_interpolate(four.get());
  EXPECT_EQ(four->colour_count, 4);
  EXPECT_EQ(four->mixed_green, 1);
  EXPECT_EQ(four->cfa_pattern, 0xB4B4B4B4u);

  auto half = raw_context_create();
  half->image_height = half->image_width = 5;
  half->cfa_pattern = kBayer;
  half->colour_count = 3;
  half->shrink_factor = 1;
  half->options.half_size_output = 1;
  raw_allocate_pixels(half.get(), "test");
  pre_interpolate(half.get());
  EXPECT_EQ(half->image_height, 3);
  EXPECT_EQ(half->image_width, 3);
  EXPECT_EQ(half->cfa_pattern, 0u);
}

TEST(RawColourMatrix, PseudoInverseTimesInputIsIdentity) {
  std::mt19937 gen(11);
  for (int n : {3, 4}) {
    double in[4][3], out[4][3];
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < 3; ++j) in[i][j] = (i == j ? 1.5 : 0) + double(gen() % 1000) / 1000 - 0.5;
    ASSERT_TRUE(pseudo_inverse(in, out, n));
    // out is n x 3 with outᵀ·in = I.
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double s = 0;
        for (int k = 0; k < n; ++k) s += out[k][i] * in[k][j];
        EXPECT_NEAR(s, i == j ? 1 : 0, 1e-9) << n << " " << i << j;
      }
  }
}

TEST(RawColourMatrix, CameraMatrixFromXyz) {
  // The inverse of the sRGB-to-XYZ matrix makes the camera sRGB itself.
  double xyz_rgb[3][3], cam_xyz[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) xyz_rgb[i][j] = raw_xyz_from_srgb[i][j];
  double inv[3][3];
  ASSERT_TRUE(pseudo_inverse(xyz_rgb, inv, 3));  // inv = (xyz_rgb⁻¹)ᵀ
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) cam_xyz[i][j] = inv[j][i];
  auto ctx = raw_context_create();
  ctx->colour_count = 3;
  ctx->raw_colour_flag = 1;
  ASSERT_TRUE(camera_matrix_from_xyz(ctx.get(), cam_xyz));
  EXPECT_EQ(ctx->raw_colour_flag, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(ctx->pre_multipliers[i], 1, 1e-5);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(ctx->rgb_from_camera[i][j], i == j ? 1 : 0, 1e-5);
  }
}
