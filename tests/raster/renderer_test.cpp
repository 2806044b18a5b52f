#include "raster/ImageRenderer.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fixtures.h"
#include "raster/StretchTable.h"

namespace {

using namespace std::chrono_literals;
using pw::ImageRenderer;
using pw::ScreenPoint;
using pwtest::ScratchDir;

// How long a test waits for the renderer's rereads to settle: the rereads
// are of small files and end in milliseconds; the wait only keeps a test
// from hanging, and never judges how long they took.
constexpr auto kRereadPatience = 120s;

// The view window: its client area at (100, 50) on the screen.
class FakeView : public pw::RendererHost {
 public:
  FakeView(int W, int H) : W(W), H(H), dib(size_t(W) * H * 3, 0) {}
  pw::ScreenRect WindowScreenRect() const override { return {100, 50, 100 + W, 50 + H}; }
  void Invalidate() override { ++invalidations; }
  void CaptureMouse() override { captured = true; }
  void ReleaseMouse() override { captured = false; }
  // Screen position of view pixel (px, py), py from the top.
  ScreenPoint At(int px, int py) const { return {100 + px, 50 + py}; }
  // DIB pixel at view (px, py) from the top, as B, G, R.
  const uint8_t* Pixel(int px, int py) const { return &dib[(size_t(H - 1 - py) * W + px) * 3]; }

  int W, H;
  std::vector<uint8_t> dib;
  int invalidations = 0;
  bool captured = false;
};

std::unique_ptr<ImageRenderer> Open(FakeView& v, const std::string& path) {
  auto r = std::make_unique<ImageRenderer>(&v, path, v.dib.data(), v.W, v.H);
  r->Render();
  r->ClearReady();
  r->RequestReread();
  return r;
}

TEST(RendererGeometry, FitAndOverviewNumbers) {
  ScratchDir dir;
  const struct {
    int imgW, imgH, W, H;
    double s, offX, offY;
    int ovW, ovH;
    double ovScale;
  } cases[] = {
      {500, 300, 1000, 800, 1.0, 250, 250, 500, 300, 1.0},
      {40000, 20000, 1000, 800, 0.025, 0, 150, 10000, 5000, 0.25},
      {3000, 1000, 600, 400, 0.2, 0, 100, 3000, 1000, 1.0},
      {1000, 4000, 600, 400, 0.1, 250, 0, 1000, 4000, 1.0},
      {12000, 100, 200, 100, 200.0 / 12000, 0, (100 - 100 * 200.0 / 12000) / 2, 10000, 83,
       10000.0 / 12000},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File(std::to_string(c.imgW) + "x" + std::to_string(c.imgH) + ".tif");
    // Sparse tiles: GDAL reads absent blocks as zeros, so even the large
    // case costs no disk.
    ASSERT_EQ(pwtest::Run("gdal_create -q -of GTiff -ot Byte -outsize " + std::to_string(c.imgW) +
                          " " + std::to_string(c.imgH) +
                          " -co TILED=YES -co SPARSE_OK=TRUE '" + path + "'"),
              0);
    FakeView view(c.W, c.H);
    ImageRenderer r(&view, path, view.dib.data(), c.W, c.H);
    ASSERT_TRUE(r.IsOpen());
    EXPECT_NEAR(r.Scale(), c.s, 1e-12) << path;
    EXPECT_NEAR(r.OffX(), c.offX, 1e-9) << path;
    EXPECT_NEAR(r.OffY(), c.offY, 1e-9) << path;
    EXPECT_EQ(r.X(), pw::Nearest(c.offX));
    EXPECT_EQ(r.Y(), pw::Nearest(c.offY));
    EXPECT_EQ(r.DrawnW(), pw::Nearest(c.imgW * c.s));
    EXPECT_EQ(r.DrawnH(), pw::Nearest(c.imgH * c.s));
    EXPECT_EQ(r.OverviewWidth(), c.ovW) << path;
    EXPECT_EQ(r.OverviewHeight(), c.ovH) << path;
    EXPECT_NEAR(r.OverviewScale(), c.ovScale, 1e-12);
  }
}

TEST(RendererZoom, NotchesLimitsAndAnchor) {
  ScratchDir dir;
  const std::string small = dir.File("small.tif"), big = dir.File("big.tif");
  pwtest::WriteRaster(small, 40, 30, 1, GDT_Byte, [](int x, int, int) { return x; });
  ASSERT_EQ(pwtest::Run("gdal_create -q -of GTiff -ot Byte -outsize 2000 2000 -co TILED=YES "
                        "-co SPARSE_OK=TRUE '" + big + "'"), 0);

  FakeView view(100, 100);
  auto r = Open(view, small);
  ASSERT_EQ(r->Scale(), 1.0);
  const ScreenPoint centre = view.At(50, 50);
  // Upwards: one eighth per notch while below 8; the step that passes 8 is
  // taken, the next does nothing but still asks for a re-read and leaves
  // the overview-only mode.
  double want = 1.0;
  for (int notch = 0; notch < 25; ++notch) {
    const bool moves = want < 8;
    r->OnMouseWheel(notch % 2 ? 240 : 120, centre);  // 240 acts as 120
    if (moves) want += want / 8;
    ASSERT_NEAR(r->Scale(), want, 1e-9) << notch;
    EXPECT_EQ(r->OverviewOnly(), moves) << notch;
  }
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  EXPECT_TRUE(r->Ready()) << "the last notch's re-read finished and is current";
  EXPECT_GT(r->Scale(), 8);
  EXPECT_LT(r->Scale(), 9);

  FakeView view2(100, 100);
  auto d = Open(view2, big);
  ASSERT_NEAR(d->Scale(), 0.05, 1e-12);
  want = 0.05;
  for (int notch = 0; notch < 20; ++notch) {
    const bool moves = want > 0.01;
    d->OnMouseWheel(-120, view2.At(10, 10));
    if (moves) want -= want / 8;
    ASSERT_NEAR(d->Scale(), want, 1e-12) << notch;
  }
  EXPECT_LT(d->Scale(), 0.01);
  EXPECT_GT(d->Scale(), 0.0085);

  // The image point under the pointer stays under it.
  FakeView view3(100, 100);
  auto a = Open(view3, small);
  const ScreenPoint p = view3.At(30, 40);
  const double beforeX = (30 - a->OffX()) / a->Scale();
  const double beforeY = ((100 - 40) - a->OffY()) / a->Scale();
  a->OnMouseWheel(120, p);
  EXPECT_NEAR((30 - a->OffX()) / a->Scale(), beforeX, 1e-9);
  EXPECT_NEAR(((100 - 40) - a->OffY()) / a->Scale(), beforeY, 1e-9);
  EXPECT_EQ(a->X(), pw::Nearest(a->OffX()));
  EXPECT_EQ(a->DrawnW(), pw::Nearest(40 * a->Scale()));
  // Outside the window nothing zooms.
  const double s = a->Scale();
  a->OnMouseWheel(120, {0, 0});
  EXPECT_EQ(a->Scale(), s);
  r->Release();
  d->Release();
}

// Grey ramp image: value = (3 x column + 5 x row-from-top) mod 256.
double Ramp(int x, int t, int) { return (3 * x + 5 * t) % 256; }

TEST(RendererFrames, BufferFrameMatchesOverviewFrameAndDragShiftsIt) {
  ScratchDir dir;
  const std::string path = dir.File("ramp.tif");
  pwtest::WriteRaster(path, 60, 40, 1, GDT_Byte, Ramp);
  FakeView view(100, 80);
  auto r = Open(view, path);
  ASSERT_EQ(r->X(), 20);
  ASSERT_EQ(r->Y(), 20);
  const std::vector<uint8_t> overviewFrame = view.dib;
  // The image at 1:1, background around it.
  EXPECT_EQ(view.Pixel(0, 0)[0], pw::kBackground);
  EXPECT_EQ(view.Pixel(20, 20)[2], Ramp(0, 0, 0));
  EXPECT_EQ(view.Pixel(79, 59)[1], Ramp(59, 39, 0));
  EXPECT_EQ(view.Pixel(80, 60)[0], pw::kBackground);

  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  ASSERT_TRUE(r->Ready());
  r->SetOverviewOnly(false);
  r->Render();
  EXPECT_EQ(view.dib, overviewFrame) << "a frame from the display buffer at rest";

  // Drag by (+7, +4) on the screen: the image moves right 7 and down 4.
  r->OnLButtonDown(view.At(50, 50));
  EXPECT_TRUE(view.captured);
  EXPECT_TRUE(r->Dragging());
  r->OnMouseMove(view.At(57, 54));
  EXPECT_EQ(r->X(), 27);
  EXPECT_EQ(r->Y(), 16);
  EXPECT_EQ(view.Pixel(27, 24)[0], Ramp(0, 0, 0));
  r->OnLButtonUp(view.At(57, 54));
  EXPECT_FALSE(view.captured);
  EXPECT_EQ(r->OffX(), 27);
  EXPECT_EQ(r->OffY(), 16);
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  r->Render();
  EXPECT_EQ(view.Pixel(27, 24)[0], Ramp(0, 0, 0));
  EXPECT_EQ(view.Pixel(86, 63)[0], Ramp(59, 39, 0));
  EXPECT_EQ(view.Pixel(26, 24)[0], pw::kBackground);

  // Colour queries: the DIB's own pixels; py = 0 is the DIB's top row.
  std::vector<int64_t> v;
  ASSERT_TRUE(r->GetPixelValues(5, 0, v, false));
  EXPECT_EQ(v, (std::vector<int64_t>{240, 240, 240}));
  view.dib[(size_t(79) * 100 + 5) * 3 + 2] = 17;  // top row, red
  ASSERT_TRUE(r->GetPixelValues(5, 0, v, false));
  EXPECT_EQ(v[0], 17);
  EXPECT_FALSE(r->GetPixelValues(100, 0, v, false));
  EXPECT_FALSE(r->GetPixelValues(0, -1, v, false));
}

TEST(RendererFrames, TwoBandsDrawBlackFromTheOverview) {
  ScratchDir dir;
  const std::string path = dir.File("two.tif");
  pwtest::WriteRaster(path, 20, 10, 2, GDT_Byte, [](int, int, int b) { return b ? 55 : 99; });
  FakeView view(40, 20);
  auto r = Open(view, path);
  EXPECT_EQ(view.Pixel(10, 10)[0], 0);
  EXPECT_EQ(view.Pixel(0, 0)[0], pw::kBackground);
  std::vector<int64_t> v;
  ASSERT_TRUE(r->GetPixelValues(10, 10, v, true));
  EXPECT_EQ(v, (std::vector<int64_t>{99, 99, 99}));
}

TEST(RendererPixels, FileValuesSignedFloorAndBands) {
  ScratchDir dir;
  const std::string i16 = dir.File("i16.tif"), rgb16 = dir.File("rgb16.tif");
  pwtest::WriteRaster(i16, 10, 10, 1, GDT_Int16, [](int x, int t, int) { return x * 100 - t * 1000; });
  pwtest::WriteRaster(rgb16, 10, 10, 4, GDT_UInt16,
                      [](int x, int t, int b) { return 1000 * (b + 1) + x + 10 * t; });
  FakeView view(20, 20);  // image at (5, 5), 1:1
  auto r = Open(view, i16);
  ASSERT_EQ(r->X(), 5);
  std::vector<int64_t> v;
  ASSERT_TRUE(r->GetPixelValues(5 + 3, 5 + 7, v, true));
  EXPECT_EQ(v, (std::vector<int64_t>{300 - 7000, 300 - 7000, 300 - 7000}));
  EXPECT_FALSE(r->GetPixelValues(4, 8, v, true)) << "left of the image";
  EXPECT_FALSE(r->GetPixelValues(8, 15, v, true)) << "below it";
  EXPECT_FALSE(r->GetPixelValues(15, 8, v, true)) << "right of it";

  FakeView view4(20, 20);
  auto q = Open(view4, rgb16);
  ASSERT_TRUE(q->GetPixelValues(5 + 2, 5 + 1, v, true));
  EXPECT_EQ(v, (std::vector<int64_t>{1012, 2012, 3012, 4012}));
  // 16-bit colour goes through the overview's stretch: the brightest sample
  // of each band is near the top of the table, the darkest near the bottom.
  ASSERT_TRUE(q->GetPixelValues(5 + 9, 5 + 9, v, false));
  EXPECT_GE(v[0], 250);
  ASSERT_TRUE(q->GetPixelValues(5, 5, v, false));
  EXPECT_LE(v[0], 3);
}

// A wide image whose overview is coarser than the screen once zoomed in:
// frames then come from file reads, and what is shown must be what the file
// holds at the point the readout names.
TEST(RendererFileRead, ZoomedInFramesShowTheFileAtTheReadoutPoint) {
  ScratchDir dir;
  const std::string path = dir.File("wide.tif");
  auto stripes = [](int x, int t, int) -> double { return ((x / 7) % 2) * 200 + (t / 5) % 3 * 20; };
  pwtest::WriteRaster(path, 12000, 60, 1, GDT_Byte, stripes, "GTiff", {}, {"TILED=YES"});
  FakeView view(200, 100);
  auto r = Open(view, path);
  ASSERT_LT(r->OverviewScale(), 1);
  const ScreenPoint at = view.At(100, 50);
  while (r->Scale() < 2) r->OnMouseWheel(120, at);
  // A drag to let frames come from the display buffer again.
  r->OnLButtonDown(at);
  r->OnMouseMove({at.x + 3, at.y});
  r->OnLButtonUp({at.x + 3, at.y});
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  ASSERT_TRUE(r->Ready());
  r->Render();
  // GDAL samples at pixel centres, the readout at pixel corners: at a
  // stripe's edge the two may name neighbouring pixels, never farther.
  int compared = 0, mismatched = 0;
  for (int py = 1; py < 99; py += 3)
    for (int px = 1; px < 199; px += 3) {
      std::vector<int64_t> file, shown;
      if (!r->GetPixelValues(px, py, file, true)) continue;
      ASSERT_TRUE(r->GetPixelValues(px, py, shown, false));
      ++compared;
      bool near = false;
      for (int e = -1; e <= 1 && !near; ++e)
        for (int d = -1; d <= 1 && !near; ++d)
          near = r->GetPixelValues(px + d, py + e, file, true) && file[0] == shown[0];
      mismatched += !near;
    }
  EXPECT_GT(compared, 500);
  EXPECT_EQ(mismatched, 0) << "of " << compared;
}

TEST(RendererConcurrency, WheelBurstAndEngineSwap) {
  ScratchDir dir;
  const std::string path = dir.File("wide16.tif");
  pwtest::WriteRaster(path, 12000, 50, 3, GDT_UInt16,
                      [](int x, int t, int b) { return 100 + (x * 13 + t * 7 + b) % 4000; },
                      "GTiff", {}, {"TILED=YES"});
  FakeView view(160, 120);
  std::atomic<int> repaints{0};
  for (int round = 0; round < 3; ++round) {
    auto r = Open(view, path);
    r->SetRereadDoneCallback([&] { repaints++; });
    std::vector<int64_t> v;
    for (int i = 0; i < 60; ++i) {
      const ScreenPoint p = view.At(20 + i, 30 + i % 50);
      r->OnMouseWheel(i < 40 ? 120 : -120, p);
      r->GetPixelValues(40 + i, 20, v, true);
      r->GetPixelValues(40 + i, 20, v, false);
      if (i % 10 == 5) {
        r->OnLButtonDown(p);
        r->OnMouseMove({p.x + 5, p.y - 2});
        r->OnLButtonUp({p.x + 5, p.y - 2});
      }
      r->Render();
    }
    if (round == 1) {
      ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
    }
    // Replaced (or destroyed) with re-reads still queued: the worker is
    // stopped and joined first.
  }
  auto last = Open(view, path);
  last->SetRereadDoneCallback([&] { repaints++; });
  ASSERT_TRUE(last->WaitForRereads(kRereadPatience));
  EXPECT_TRUE(last->Ready());
  EXPECT_GE(repaints.load(), 1);
}

TEST(RendererFailure, UnopenableImageDrawsBackground) {
  ScratchDir dir;
  FakeView view(30, 20);
  auto r = Open(view, dir.File("nothing.tif"));
  EXPECT_FALSE(r->IsOpen());
  for (uint8_t b : view.dib) ASSERT_EQ(b, pw::kBackground);
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  std::vector<int64_t> v;
  EXPECT_FALSE(r->GetPixelValues(3, 3, v, true));
  ASSERT_TRUE(r->GetPixelValues(3, 3, v, false));
  EXPECT_EQ(v[0], pw::kBackground);
  r->OnMouseWheel(120, view.At(5, 5));
  r->OnLButtonDown(view.At(5, 5));
  r->OnLButtonUp(view.At(5, 5));
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
}

TEST(ScaleBlit, MissingBuffersAndInvertedRectanglesDoNothing) {
  std::vector<uint8_t> a(4 * 4 * 3, 1), b(4 * 4 * 3, 2);
  EXPECT_EQ(pw::ScaleBlitRgb(nullptr, 4, 4, 0, 0, 4, 4, b.data(), 4, 4, 0, 0, 4, 4), -1);
  EXPECT_EQ(pw::ScaleBlitRgb(a.data(), 4, 4, 0, 0, 4, 4, b.data(), 4, 4, 3, 0, 1, 4), -1);
  EXPECT_EQ(pw::ScaleBlitRgb(a.data(), 4, 4, 3, 0, 1, 4, b.data(), 4, 4, 0, 0, 4, 4), -1);
  for (uint8_t v : b) ASSERT_EQ(v, 2);
  // Doubling 2x2 into 4x4, reaching past the destination: clipped.
  std::vector<uint8_t> src = {10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40};
  EXPECT_EQ(pw::ScaleBlitRgb(src.data(), 2, 2, 0, 0, 2, 2, b.data(), 4, 4, 1, 1, 5, 5), 0);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(b[(1 * 4 + 1) * 3], 10);
  EXPECT_EQ(b[(1 * 4 + 3) * 3], 20);
  EXPECT_EQ(b[(3 * 4 + 3) * 3], 40);
  // Same buffer: the rest becomes background.
  EXPECT_EQ(pw::ScaleBlitRgb(b.data(), 4, 4, 1, 1, 3, 3, b.data(), 4, 4, 0, 0, 1, 1), 0);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[3], pw::kBackground);
}

}  // namespace

namespace {

// Samples wider than two bytes have no table: they are shown stretched
// linearly from each band's smallest to its largest value.
TEST(RendererWideSamples, FloatAndInt32AreStretchedLinearly) {
  ScratchDir dir;
  const std::string f32 = dir.File("dem.tif"), i32 = dir.File("i32.tif");
  auto height = [](int x, int t, int) { return -50.0 + x * 2.5 + t * 0.25; };  // -50 .. 200
  pwtest::WriteRaster(f32, 101, 1, 1, GDT_Float32, height);
  pwtest::WriteRaster(i32, 10, 10, 3, GDT_Int32,
                      [](int x, int, int b) { return b == 1 ? 70000 : x * 100000 - 300000; });
  FakeView view(120, 20);  // 1:1, image at (10, 10) in a 120 x 21 view
  auto r = Open(view, f32);
  ASSERT_EQ(r->Scale(), 1.0);
  std::vector<int64_t> shown, file;
  for (int x : {0, 20, 50, 100}) {
    const int px = r->X() + x, py = 20 - r->Y() - 1;
    ASSERT_TRUE(r->GetPixelValues(px, py, shown, false));
    const int want = int((height(x, 0, 0) + 50) * 255.0 / 250 + 0.5);
    EXPECT_NEAR(shown[0], want, 1) << x;
    EXPECT_EQ(shown[1], shown[0]);
    ASSERT_TRUE(r->GetPixelValues(px, py, file, true));
    EXPECT_EQ(file[0], int64_t(height(x, 0, 0))) << "file values truncated toward zero";
  }

  FakeView view3(20, 20);
  auto q = Open(view3, i32);
  ASSERT_TRUE(q->GetPixelValues(q->X() + 9, 10, shown, false));
  EXPECT_EQ(shown[0], 255);
  EXPECT_EQ(shown[1], 128) << "a band of one value is mid grey";
  ASSERT_TRUE(q->GetPixelValues(q->X(), 10, shown, false));
  EXPECT_EQ(shown[0], 0);
  ASSERT_TRUE(q->GetPixelValues(q->X(), 10, file, true));
  EXPECT_EQ(file, (std::vector<int64_t>{-300000, 70000, -300000}));
}

// Overview pixel (j, d) (d from the bottom) as the engine has always
// picked it: 1024-row strips of full resolution from the bottom, each
// scaled onto its own band of overview rows.
std::pair<int, int> OldOverviewSource(int j, int d, int imgW, int imgH, int ovW, double so) {
  const int c = int(j / (double(ovW) / imgW));
  for (int first = 0; first < imgH; first += 1024) {
    const int rows = std::min(1024, imgH - first);
    const int dy0 = pw::Nearest(first * so), dy1 = pw::Nearest((first + rows) * so);
    if (d >= dy0 && d < dy1) return {c, first + int((d - dy0) / (double(dy1 - dy0) / rows))};
  }
  return {-1, -1};
}

// A 16-bit file without overviews is read once: the stretch counted on the
// way and the overview's pixels are what the two passes used to give.
TEST(RendererOverview, OnePassGivesTheStretchAndPixelsOfTwo) {
  ScratchDir dir;
  const std::string path = dir.File("u16.tif");
  const int imgW = 11000, imgH = 1100;  // two strips, the overview reduced
  auto sample = [](int x, int t, int) {
    return double((x * 7 + t * 13) % 4000 + (x % 97 == 0 ? 60000 : 0));
  };
  pwtest::WriteRaster(path, imgW, imgH, 1, GDT_UInt16, sample, "GTiff", {},
                      {"TILED=YES"});
  std::vector<uint8_t> before;
  ASSERT_TRUE(pw::BuildStretchTables(path, pw::kOverviewLimit, before));

  FakeView view(400, 100);
  std::vector<double> told;
  ImageRenderer r(&view, path, view.dib.data(), view.W, view.H,
                  [&](double f) { told.push_back(f); });
  ASSERT_TRUE(r.IsOpen());
  EXPECT_FALSE(r.OverviewFromFileOverviews());
  const int ovW = r.OverviewWidth(), ovH = r.OverviewHeight();
  ASSERT_EQ(ovW, 10000);
  ASSERT_EQ(ovH, 1000);
  int compared = 0;
  for (int d = 0; d < ovH; d += 3) {
    for (int j = 0; j < ovW; j += 7) {
      const auto [c, row] = OldOverviewSource(j, d, imgW, imgH, ovW, r.OverviewScale());
      ASSERT_GE(row, 0);
      const uint8_t want = before[size_t(sample(c, imgH - 1 - row, 0))];
      const uint8_t* got = &r.Overview()[(size_t(d) * ovW + j) * 3];
      ASSERT_EQ(got[0], want) << j << "," << d;
      ASSERT_EQ(got[2], want);
      ++compared;
    }
  }
  EXPECT_GT(compared, 100000);
  ASSERT_FALSE(told.empty());
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_EQ(told.back(), 1.0);

  // Three 16-bit bands: each through its own table, red from band 1.
  const std::string rgb = dir.File("rgb16.tif");
  auto band = [](int x, int t, int b) { return double(100 + b * 1000 + x * (b + 1) + t); };
  pwtest::WriteRaster(rgb, 300, 200, 3, GDT_UInt16, band);
  std::vector<uint8_t> tables;
  ASSERT_TRUE(pw::BuildStretchTables(rgb, pw::kOverviewLimit, tables));
  FakeView small(300, 200);
  ImageRenderer q(&small, rgb, small.dib.data(), small.W, small.H);
  for (int x : {0, 150, 299})
    for (int t : {0, 99, 199}) {
      const uint8_t* got = &q.Overview()[(size_t(199 - t) * 300 + x) * 3];
      for (int b = 0; b < 3; ++b)
        EXPECT_EQ(got[2 - b], tables[size_t(b) * 65536 + size_t(band(x, t, b))]) << x << "," << t;
    }
}

// Overwrites the compressed bytes of block (bx, by) of band 1 with bytes
// no decoder takes, so that reading that block fails and its neighbours
// still read.
void GarbleBlock(const std::string& path, int bx, int by) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  const std::string at = std::to_string(bx) + "_" + std::to_string(by);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  const char* offset = GDALGetMetadataItem(band, ("BLOCK_OFFSET_" + at).c_str(), "TIFF");
  const char* size = GDALGetMetadataItem(band, ("BLOCK_SIZE_" + at).c_str(), "TIFF");
  const long long where = offset ? std::atoll(offset) : 0, bytes = size ? std::atoll(size) : 0;
  GDALClose(ds);
  ASSERT_GT(where, 0) << at;
  ASSERT_GT(bytes, 0) << at;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(where);
  const std::string junk(size_t(bytes), '\xff');
  file.write(junk.data(), std::streamsize(junk.size()));
  ASSERT_TRUE(file.good()) << at;
}

// A 16-bit file whose strip breaks part-way: GDAL tells the progress of
// the strip's first tile row, then its second fails and the strip is read
// again block by block from its start. The opening's gauge still never goes
// back. The file is read by the opening's own thread alone (two of its
// 1024-row strip buffers would pass the 160 MB the strip workers share), so
// its strip is sure to be the one whose progress is told. The opening tells
// its caller at most every 30 ms: each tile row is large and slow to unpack
// (LZMA), so that both the strip's first half and its second read are
// heard on any but a machine several times faster than today's; the check
// itself never depends on the time taken.
TEST(RendererOverview, AStripThatBreaksPartWayKeepsTheGaugeGoingForward) {
  ScratchDir dir;
  const std::string path = dir.File("broken.tif");
  // 161 tiles of 256 columns: an 84 MB strip buffer. One strip of two
  // tile rows, the second with a broken tile.
  const int imgW = 161 * 256, imgH = 512, tileH = 256;
  pwtest::WriteRaster(path, imgW, imgH, 1, GDT_UInt16,
                      [](int x, int t, int) { return double(100 + (x * 7 + t * 13) % 3000); },
                      "GTiff", {},
                      {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=" + std::to_string(tileH),
                       "COMPRESS=LZMA", "LZMA_PRESET=0"});
  ASSERT_NO_FATAL_FAILURE(GarbleBlock(path, 0, 1));

  FakeView view(400, 100);
  // Every fraction the reading reports, not only those the gauge's spacing
  // lets through to the window.
  std::vector<double> told;
  ImageRenderer::OpeningProgressTestHook() = [&](double f) { told.push_back(f); };
  std::unique_ptr<ImageRenderer> r;
  r = std::make_unique<ImageRenderer>(&view, path, view.dib.data(), view.W, view.H, [](double) {});
  ImageRenderer::OpeningProgressTestHook() = {};
  ASSERT_TRUE(r->IsOpen()) << "the other blocks read";
  EXPECT_FALSE(r->OverviewFromFileOverviews());
  EXPECT_TRUE(r->Damaged()) << "the strip broke";
  ASSERT_FALSE(told.empty());
  EXPECT_GT(std::count_if(told.begin(), told.end(), [](double f) { return f > 0 && f < 1; }), 0)
      << "the reading reported nothing part-way";
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_EQ(told.back(), 1.0);
}

// With overviews stored in the file the overview is read from them (here
// averages of column pairs, values the full image never holds), and the
// stretch is counted over those pixels.
TEST(RendererOverview, StoredOverviewsServeTheOverview) {
  ScratchDir dir;
  const std::string path = dir.File("ovr.tif");
  auto sample = [](int x, int, int) { return double((x % 2 ? 3000 : 1000) + (x / 2) % 500); };
  pwtest::WriteRaster(path, 20000, 100, 1, GDT_UInt16, sample, "GTiff", {}, {"TILED=YES"});
  ASSERT_EQ(pwtest::Run("gdaladdo -q -r average '" + path + "' 2"), 0);

  FakeView view(400, 100);
  ImageRenderer r(&view, path, view.dib.data(), view.W, view.H);
  ASSERT_TRUE(r.IsOpen());
  EXPECT_TRUE(r.OverviewFromFileOverviews());
  ASSERT_EQ(r.OverviewWidth(), 10000);
  ASSERT_EQ(r.OverviewHeight(), 50);
  // The stored overview holds 2000 + k % 500 in column k, each value
  // equally often.
  std::vector<double> counts(65536, 0);
  for (int k = 0; k < 10000; ++k) counts[size_t(2000 + k % 500)] += 50;
  std::vector<uint8_t> table(65536);
  pw::StretchTableFromHistogram(counts.data(), table.data());
  for (int d : {0, 25, 49})
    for (int k : {0, 1, 499, 500, 777, 9999})
      EXPECT_EQ(r.Overview()[(size_t(d) * 10000 + k) * 3], table[size_t(2000 + k % 500)]) << k;

  // A taller one is read in several pieces side by side: every row of the
  // stored overview lands in its place (stored row m = bottom-up row
  // ovH - 1 - m), and the stretch counts every piece.
  const std::string tall = dir.File("tall.tif");
  auto stepped = [&](int x, int t, int) { return sample(x, t, 0) + 5 * (t / 2); };
  pwtest::WriteRaster(tall, 20000, 1000, 1, GDT_UInt16, stepped, "GTiff", {}, {"TILED=YES"});
  ASSERT_EQ(pwtest::Run("gdaladdo -q -r average '" + tall + "' 2"), 0);
  ImageRenderer t(&view, tall, view.dib.data(), view.W, view.H);
  ASSERT_TRUE(t.OverviewFromFileOverviews());
  ASSERT_EQ(t.OverviewHeight(), 500);
  std::vector<double> tallCounts(65536, 0);
  for (int m = 0; m < 500; ++m)
    for (int k = 0; k < 10000; ++k) tallCounts[size_t(2000 + k % 500 + 5 * m)] += 1;
  std::vector<uint8_t> tallTable(65536);
  pw::StretchTableFromHistogram(tallCounts.data(), tallTable.data());
  for (int m = 0; m < 500; m += 7)
    for (int k : {0, 1, 499, 777, 9999})
      ASSERT_EQ(t.Overview()[(size_t(499 - m) * 10000 + k) * 3],
                tallTable[size_t(2000 + k % 500 + 5 * m)])
          << k << "," << m;

  // Overviews too coarse to serve the overview's size are passed over:
  // the picture is the one full-resolution pass gives.
  const std::string coarse = dir.File("coarse.tif");
  pwtest::WriteRaster(coarse, 20000, 100, 1, GDT_UInt16, sample, "GTiff", {}, {"TILED=YES"});
  ASSERT_EQ(pwtest::Run("gdaladdo -q -r average '" + coarse + "' 4"), 0);
  ImageRenderer c(&view, coarse, view.dib.data(), view.W, view.H);
  EXPECT_FALSE(c.OverviewFromFileOverviews());
  std::vector<uint8_t> tables;
  ASSERT_TRUE(pw::BuildStretchTables(coarse, pw::kOverviewLimit, tables));
  for (int k : {0, 1, 2, 3, 5000, 9999})
    EXPECT_EQ(c.Overview()[size_t(k) * 3], tables[size_t(sample(k * 2, 0, 0))]) << k;
}

}  // namespace

namespace {

// An opening asked to stop quits reading at its next strip or block and
// says so; the refit after a size change puts the image back in the middle.
TEST(RendererOpening, CancelStopsTheReadingAndRefitFollowsTheView) {
  ScratchDir dir;
  const std::string path = dir.File("tall.tif");
  ASSERT_EQ(pwtest::Run("gdal_create -q -of GTiff -ot UInt16 -outsize 3000 12000 -co TILED=YES "
                        "-co SPARSE_OK=TRUE '" + path + "'"),
            0);
  FakeView view(200, 100);
  std::atomic<bool> cancel{false};
  std::vector<double> told;
  ImageRenderer r(&view, path, view.dib.data(), view.W, view.H,
                  [&](double f) {
                    told.push_back(f);
                    cancel = true;  // stop at the first report
                  },
                  &cancel);
  EXPECT_TRUE(r.Cancelled());
  ASSERT_FALSE(told.empty());
  EXPECT_LT(told.back(), 0.5) << "the reading went on after the cancel";

  ImageRenderer whole(&view, path, view.dib.data(), view.W, view.H);
  EXPECT_FALSE(whole.Cancelled());
  FakeView wider(400, 300);
  whole.SetViewSize(wider.W, wider.H, wider.dib.data());
  whole.FitToView();
  EXPECT_DOUBLE_EQ(whole.Scale(), 300.0 / 12000);
  EXPECT_DOUBLE_EQ(whole.OffX(), (400 - 3000 * 300.0 / 12000) / 2);
  EXPECT_DOUBLE_EQ(whole.OffY(), 0);
}

}  // namespace

namespace {

// Palette indices are drawn through their colour table, and the readout
// names index and colour; of an animated GIF's frames (one palette band
// each) the first is shown.
TEST(RendererPalette, IndicesDrawnThroughTheColourTable) {
  ScratchDir dir;
  const std::string map = dir.File("landcover.tif");
  // Left half class 1, right half class 2, bottom row class 3.
  pwtest::WriteRaster(map, 40, 30, 1, GDT_Byte,
                      [](int x, int t, int) { return t == 29 ? 3 : (x < 20 ? 1 : 2); });
  pwtest::SetPalette(map, {{0, 0, 0, 255}, {0, 160, 0, 255}, {0, 0, 200, 255}, {9, 9, 9, 255}});
  const std::string gif = dir.File("frames.gif");
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 60x40 xc:red xc:lime xc:blue -loop 0 '" + gif + "'"),
            0);
  // Red on the left, see-through on the right: shown as the background.
  const std::string clear = dir.File("clear.gif");
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 60x40 xc:none -fill red -draw 'rectangle 0,0 29,39' '" +
                        clear + "'"),
            0);

  struct Case {
    std::string path;
    int column, rowFromTop;
    uint8_t red, green, blue;
    std::string text;
  };
  const Case cases[] = {
      {map, 5, 5, 0, 160, 0, "索引=1 R=0 G=160 B=0"},
      {map, 30, 5, 0, 0, 200, "索引=2 R=0 G=0 B=200"},
      {map, 30, 29, 9, 9, 9, "索引=3 R=9 G=9 B=9"},
      {gif, 10, 10, 255, 0, 0, ""},
      {clear, 10, 10, 255, 0, 0, ""},
      {clear, 45, 10, 240, 240, 240, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.column));
    FakeView view(100, 60);
    auto r = Open(view, c.path);
    ASSERT_TRUE(r->IsOpen());
    EXPECT_TRUE(r->Paletted());
    ASSERT_EQ(r->Scale(), 1.0);
    const int px = r->X() + c.column, py = view.H - r->Y() - r->DrawnH() + c.rowFromTop;
    const uint8_t* shown = view.Pixel(px, py);
    EXPECT_EQ(shown[2], c.red);
    EXPECT_EQ(shown[1], c.green);
    EXPECT_EQ(shown[0], c.blue);
    ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
    r->SetOverviewOnly(false);
    r->Render();  // now from the display buffer
    EXPECT_EQ(view.Pixel(px, py)[2], c.red);
    EXPECT_EQ(view.Pixel(px, py)[1], c.green);
    const std::string text = r->ValueText(px, py, false);
    if (!c.text.empty()) {
      EXPECT_EQ(text, c.text);
      EXPECT_EQ(r->ValueText(px, py, true), c.text);
    } else {
      EXPECT_EQ(text.rfind("索引=", 0), 0u) << text;
      const std::string colour = "R=" + std::to_string(c.red) + " G=" + std::to_string(c.green) +
                                 " B=" + std::to_string(c.blue);
      EXPECT_NE(text.find(colour), std::string::npos) << text;
    }
  }
}

// The file's own values keep their decimals; integers stay integers and
// the displayed colour stays the colour.
TEST(RendererReadout, FileValuesKeepTheirDecimals) {
  ScratchDir dir;
  const struct {
    int type, bands;
    double value;
    std::string text;
  } cases[] = {
      {GDT_Float32, 1, -317.28, "R=-317.28 G=-317.28 B=-317.28"},
      {GDT_Float64, 3, 0.125, "R=0.125 G=1.125 B=2.125"},
      {GDT_Int16, 1, -40, "R=-40 G=-40 B=-40"},
      {GDT_UInt32, 1, 4000000000.0, "R=4000000000 G=4000000000 B=4000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.File("v" + std::to_string(c.type) + ".tif");
    // Every pixel the value, but one corner otherwise so the stretch spans.
    pwtest::WriteRaster(path, 20, 10, c.bands, c.type,
                        [&](int x, int t, int b) { return x == 0 && t == 0 ? 0 : c.value + b; });
    FakeView view(40, 20);
    auto r = Open(view, path);
    ASSERT_TRUE(r->IsOpen());
    const int px = r->X() + 5, py = view.H - r->Y() - r->DrawnH() + 5;
    EXPECT_EQ(r->ValueText(px, py, true), c.text);
    const uint8_t* shown = view.Pixel(px, py);
    EXPECT_EQ(r->ValueText(px, py, false),
              "R=" + std::to_string(shown[2]) + " G=" + std::to_string(shown[1]) + " B=" +
                  std::to_string(shown[0]));
    EXPECT_EQ(r->ValueText(r->X() - 1, py, true), "") << "outside the image";
  }
}

}  // namespace

// Pictures of one or two flat colours written by ImageMagick: a band that
// holds a single value shows that value (a 16-bit one scaled to a byte)
// instead of collapsing to black, in the overview and in the display buffer.
TEST(RendererFlatColours, SolidAndTwoColourPicturesKeepTheirColours) {
  ScratchDir dir;
  const std::string im = "convert-im6.q16 -size 64x48 ";
  const std::string halves = "xc:blue -fill red -draw 'rectangle 0,0 31,47' ";
  struct Case {
    std::string name, command;
    int column;
    uint8_t red, green, blue;
  };
  const Case cases[] = {
      {"red.png", "xc:red", 10, 255, 0, 0},                            // palette
      {"red8.tif", "xc:red -depth 8", 10, 255, 0, 0},                  // 8-bit RGB
      {"red.tif", "xc:red", 10, 254, 0, 0},                            // 16-bit RGB
      {"brown.tif", "xc:'rgb(200,100,50)' -depth 16", 10, 200, 100, 50},
      {"halves.png", halves, 10, 255, 0, 0},
      {"halves.png", halves, 50, 0, 0, 255},
      {"halves8.tif", halves + "-alpha off -depth 8", 50, 0, 0, 255},
      {"halves.tif", halves + "-alpha off -depth 16", 10, 254, 0, 0},
      {"halves.tif", halves + "-alpha off -depth 16", 50, 0, 0, 254},
      {"halvesa.tif", halves + "-depth 16", 50, 0, 0, 254},  // with an alpha band
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " column " + std::to_string(c.column));
    const std::string path = dir.File(c.name);
    if (!pwtest::Exists(path)) {
      ASSERT_EQ(pwtest::Run(im + c.command + " '" + path + "'"), 0);
    }
    FakeView view(100, 60);
    auto r = Open(view, path);
    ASSERT_TRUE(r->IsOpen());
    ASSERT_EQ(r->Scale(), 1.0);
    const int px = r->X() + c.column, py = view.H - r->Y() - r->DrawnH() + 20;
    for (int frame = 0; frame < 2; ++frame) {
      SCOPED_TRACE(frame == 0 ? "overview" : "display buffer");
      if (frame == 1) {
        ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
        r->SetOverviewOnly(false);
        r->Render();
      }
      const uint8_t* shown = view.Pixel(px, py);
      EXPECT_EQ(shown[2], c.red);
      EXPECT_EQ(shown[1], c.green);
      EXPECT_EQ(shown[0], c.blue);
    }
  }
}

namespace {

// Zooms in at the view point (px, py) until the engine reads the file
// rather than the overview.
void ZoomPastTheOverview(ImageRenderer& r, const FakeView& view, int px, int py) {
  for (int i = 0; i < 200 && r.Scale() <= r.OverviewScale(); ++i) r.OnMouseWheel(120, view.At(px, py));
  ASSERT_GT(r.Scale(), r.OverviewScale());
  ASSERT_TRUE(r.WaitForRereads(kRereadPatience));
  r.SetOverviewOnly(false);
  r.Render();  // from the display buffer the re-read made
}

// 16-bit palette indices are read whole: index 300 and index 44 (300's low
// byte) each show their own colour, in the overview and at full size read
// from the file, and the readout names the whole index.
TEST(RendererPalette, SixteenBitIndicesKeepTheirOwnColours) {
  ScratchDir dir;
  const std::string map = dir.File("classes16.tif");
  // Wider than the overview's limit, so full size comes from the file.
  pwtest::WriteRaster(map, 12000, 300, 1, GDT_UInt16,
                      [](int x, int, int) { return x < 6000 ? 300 : 44; });
  std::vector<std::vector<int>> entries(301, {0, 0, 0, 255});
  entries[44] = {200, 30, 10, 255};
  entries[300] = {20, 90, 220, 255};
  pwtest::SetPalette(map, entries);

  FakeView view(400, 100);
  auto r = Open(view, map);
  ASSERT_TRUE(r->IsOpen());
  ASSERT_TRUE(r->Paletted());
  ASSERT_LT(r->OverviewScale(), 1.0);
  // Each half's colour at the view point (px, py), by the image column
  // under it.
  auto expectColour = [&](int px, int py, const char* where) {
    const int column = int(std::floor((px - r->X()) / r->Scale()));
    ASSERT_GT(std::abs(column - 6000), 2) << where << ": too near the border to tell";
    const std::vector<int>& e = entries[column < 6000 ? 300 : 44];
    const uint8_t* shown = view.Pixel(px, py);
    EXPECT_EQ(shown[2], e[0]) << where << " column " << column;
    EXPECT_EQ(shown[1], e[1]) << where << " column " << column;
    EXPECT_EQ(shown[0], e[2]) << where << " column " << column;
  };
  const int py = view.H - r->Y() - r->DrawnH() / 2;
  expectColour(100, py, "overview");
  expectColour(300, py, "overview");

  ZoomPastTheOverview(*r, view, 200, py);
  expectColour(150, 50, "full size");
  expectColour(250, 50, "full size");
  const int column = int(std::floor((150 - r->X()) / r->Scale()));
  EXPECT_EQ(r->ValueText(150, 50, true), "索引=300 R=20 G=90 B=220") << column;
}

// A re-read whose file read fails keeps the overview's picture of the
// region instead of turning it into background, and says so; a later
// read that succeeds clears that.
TEST(RendererReread, UnreadableRegionKeepsTheOverview) {
  ScratchDir dir;
  const std::string path = dir.File("wide.tif");
  pwtest::WriteRaster(path, 12000, 300, 1, GDT_Byte,
                      [](int x, int, int) { return x < 6000 ? 60 : 180; }, "GTiff", {},
                      {"TILED=YES"});
  FakeView view(400, 100);
  auto r = Open(view, path);
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  EXPECT_FALSE(r->RegionUnreadable());
  // The file loses its pixels under the open engine.
  ASSERT_EQ(::truncate(path.c_str(), 600), 0);
  ZoomPastTheOverview(*r, view, 200, view.H - r->Y() - r->DrawnH() / 2);
  EXPECT_TRUE(r->RegionUnreadable());
  EXPECT_EQ(view.Pixel(150, 50)[1], 60) << "the overview's picture, not the background";
  EXPECT_EQ(view.Pixel(250, 50)[1], 180);
  // Back out to where the overview serves: nothing is unread any more.
  for (int i = 0; i < 200 && r->Scale() > r->OverviewScale(); ++i) r->OnMouseWheel(-120, view.At(200, 50));
  ASSERT_TRUE(r->WaitForRereads(kRereadPatience));
  EXPECT_FALSE(r->RegionUnreadable());
}

// The range pass of wide samples: the same estimate GDAL's approximate pass
// makes (nodata left out), read under the opening's progress and cancel
// checks, so that a cancel stops it at its next block.
TEST(RendererOpening, TheRangePassOfWideSamplesIsEstimatedAsGdalDoesAndStops) {
  ScratchDir dir;
  const std::string path = dir.File("float.tif");
  // 60 strips of 10 rows: every 7th strip is looked at.
  pwtest::WriteRaster(path, 500, 600, 1, GDT_Float32,
                      [](int x, int t, int) { return x == 3 && t == 3 ? -9999.0 : x * 0.5 - t * 0.25; },
                      "GTiff", {}, {"BLOCKYSIZE=10"});
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
  ASSERT_NE(ds, nullptr);
  GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
  GDALClose(ds);

  ds = GDALOpen(path.c_str(), GA_ReadOnly);
  double gdal[2] = {0, 0};
  ASSERT_EQ(GDALComputeRasterMinMax(GDALGetRasterBand(ds, 1), TRUE, gdal), CE_None);
  GDALClose(ds);
  pw::RasterFile file;
  const bool noStretch = false;
  ASSERT_TRUE(file.Open(path, noStretch));
  std::vector<double> told;
  const pw::ReadProgress progress = [&](double f) {
    told.push_back(f);
    return true;
  };
  double low = 0, high = 0;
  ASSERT_TRUE(file.ComputeMinMax(0, low, high, nullptr, &progress));
  EXPECT_EQ(low, gdal[0]);
  EXPECT_EQ(high, gdal[1]);
  EXPECT_GT(low, -9999.0) << "nodata is not a sample";
  ASSERT_FALSE(told.empty());
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_DOUBLE_EQ(told.back(), 1.0);

  // Stopped by its progress, or by the cancel flag, at the first block.
  int calls = 0;
  const pw::ReadProgress stop = [&](double) { return ++calls < 1; };
  EXPECT_FALSE(file.ComputeMinMax(0, low, high, nullptr, &stop));
  EXPECT_EQ(calls, 1);
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(file.ComputeMinMax(0, low, high, &cancel, &progress));

  // An opening cancelled during the range pass stops there: its first
  // report comes from that pass, and no overview is read.
  FakeView view(200, 100);
  std::atomic<bool> cancelOpen{false};
  std::vector<double> openTold;
  ImageRenderer r(&view, path, view.dib.data(), view.W, view.H,
                  [&](double f) {
                    openTold.push_back(f);
                    cancelOpen = true;
                  },
                  &cancelOpen);
  EXPECT_TRUE(r.Cancelled());
  ASSERT_EQ(openTold.size(), 1u);
  EXPECT_LE(openTold[0], 0.1) << "the range pass takes the first part of the gauge";
  EXPECT_TRUE(r.Overview().empty());
}

}  // namespace
