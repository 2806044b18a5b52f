// Palette pictures in the real window: a red GIF is red on the screen, an
// animated GIF shows its first frame, a paletted GeoTIFF its classes'
// colours, and the readout names index and colour. Floating-point values
// keep their decimals in the readout. Flat 16-bit colours keep their colour.
#include <gdal.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "tests/app/viewer_gui.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

// Moves the pointer over image pixel (column, row from the top).
void Hover(double column, double row) {
  const wxPoint p = ClientOf(column, row);
  Mouse(wxEVT_MOTION, p.x, p.y);
}

void ExpectScreen(const wxImage& shot, double column, double row, int red, int green, int blue) {
  const wxColour c = ScreenColour(shot, ClientOf(column, row));
  EXPECT_EQ(c.Red(), red) << column << "," << row;
  EXPECT_EQ(c.Green(), green) << column << "," << row;
  EXPECT_EQ(c.Blue(), blue) << column << "," << row;
}

TEST(ViewerPalette, GifsAndPalettedGeoTiffsShowTheirColours) {
  const std::string red = g_dir->File("red.gif");
  const std::string frames = g_dir->File("frames.gif");
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 160x90 xc:red '" + red + "'"), 0);
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 160x90 xc:red xc:lime xc:blue -loop 0 '" + frames + "'"), 0);
  const std::string map = g_dir->File("landcover.tif");
  pwtest::WriteRaster(map, 120, 80, 1, GDT_Byte, [](int x, int, int) { return x < 60 ? 1 : 2; });
  pwtest::SetPalette(map, {{0, 0, 0, 255}, {0, 160, 0, 255}, {30, 60, 200, 255}});

  OpenThroughDialog(red);
  ASSERT_TRUE(View()->GetRenderer()->Paletted());
  Hover(80, 45);
  EXPECT_EQ(Pane(1), wxString::FromUTF8("索引=0 R=255 G=0 B=0"));
  wxImage shot = Screenshot("palette_gif");
  ExpectScreen(shot, 80, 45, 255, 0, 0);
#ifdef PW_TEST_ARTIFACTS
  // The viewer with the paletted GIF, for a look by eye.
  std::filesystem::create_directories(PW_TEST_ARTIFACTS);
  const wxRect rect = Frame()->GetScreenRect();
  shot.GetSubImage(rect.Intersect(wxRect(0, 0, shot.GetWidth(), shot.GetHeight())))
      .SaveFile(std::string(PW_TEST_ARTIFACTS) + "/viewer_paletted_gif.png", wxBITMAP_TYPE_PNG);
#endif

  OpenThroughDialog(frames);
  shot = Screenshot("palette_frames");
  ExpectScreen(shot, 20, 20, 255, 0, 0);  // the first frame, not black

  OpenThroughDialog(map);
  shot = Screenshot("palette_geotiff");
  ExpectScreen(shot, 10, 40, 0, 160, 0);
  ExpectScreen(shot, 100, 40, 30, 60, 200);
  Hover(100, 40);
  EXPECT_EQ(Pane(1), wxString::FromUTF8("索引=2 R=30 G=60 B=200"));
}

// ImageMagick writes a solid red TIFF with 16-bit samples: one value per
// band, which must show as red, not black; likewise red beside blue.
TEST(ViewerFlatColours, SolidAndTwoColour16BitTiffsShowTheirColours) {
  const std::string red = g_dir->File("red16.tif");
  const std::string halves = g_dir->File("halves16.tif");
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 160x90 xc:red '" + red + "'"), 0);
  ASSERT_EQ(pwtest::Run("convert-im6.q16 -size 160x90 xc:blue -fill red -draw "
                        "'rectangle 0,0 79,89' -depth 16 '" + halves + "'"),
            0);
  OpenThroughDialog(red);
  ExpectScreen(Screenshot("flat_red16"), 80, 45, 254, 0, 0);
  OpenThroughDialog(halves);
  const wxImage shot = Screenshot("flat_halves16");
  ExpectScreen(shot, 20, 45, 254, 0, 0);
  ExpectScreen(shot, 140, 45, 0, 0, 254);
}

TEST(ViewerReadout, FloatValuesKeepTheirDecimals) {
  const std::string dem = g_dir->File("dem.tif");
  pwtest::WriteRaster(dem, 100, 60, 1, GDT_Float32,
                      [](int x, int t, int) { return -317.28 + x * 0.5 + t; });
  OpenThroughDialog(dem);
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
  Hover(0, 0);
  EXPECT_EQ(Pane(1), "R=-317.28 G=-317.28 B=-317.28");
  Hover(3, 2);
  EXPECT_EQ(Pane(1), "R=-313.78 G=-313.78 B=-313.78");
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
}

}  // namespace
}  // namespace viewergui
