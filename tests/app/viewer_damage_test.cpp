// A damaged raster in the real window: every block the file still gives is
// drawn, the others are hatched, and the window says so, once in a box and
// for as long as the image is shown in the status bar. A file that gives
// nothing at all is a failed open.
#include <gdal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "app/MainFrame.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "tests/app/viewer_gui.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

// A tiled GeoTIFF written the way gdal_translate writes one (directory
// first, then the tiles in order), cut to `keep` of its bytes.
std::string CutTiledRaster(const std::string& name, int size, int bands, double keep) {
  const std::string plain = g_dir->File(name + "_plain.tif");
  const std::string tiled = g_dir->File(name + ".tif");
  pwtest::WriteRaster(plain, size, size, bands, GDT_Byte,
                      [](int, int, int b) { return b == 0 ? 100 : (b == 1 ? 50 : 20); });
  if (pwtest::Run("gdal_translate -q -co TILED=YES '" + plain + "' '" + tiled + "'") != 0) return {};
  if (::truncate(tiled.c_str(), off_t(pwtest::FileSize(tiled) * keep)) != 0) return {};
  return tiled;
}

wxString PaneText() { return Frame()->GetStatusElement(0)->GetText(); }

TEST(ViewerDamage, ReadableBlocksAreDrawnTheRestHatchedAndTheWindowSaysSo) {
  // 2048² in 256² tiles cut at half: the upper tile rows read, the lower
  // ones fail.
  const std::string cut = CutTiledRaster("cut", 2048, 3, 0.5);
  ASSERT_FALSE(cut.empty());
  OpenThroughDialog(g_rgb);
  const wxString statusBefore = PaneText();
  Messages().clear();
  OpenThroughDialog(cut);
  pw::ImageRenderer* r = View()->GetRenderer();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->ImageWidth(), 2048) << "a damaged file still opens";
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(cut).ToStdWstring());
  ASSERT_EQ(Messages().size(), 1u) << "one box for the open";
  EXPECT_TRUE(Messages()[0].StartsWith(wxString::FromUTF8("影像部分损坏："))) << Messages()[0];
  EXPECT_TRUE(Messages()[0].Contains("block")) << "GDAL's reason: " << Messages()[0];
  EXPECT_EQ(PaneText(), wxString::FromUTF8("影像部分损坏：无法读取的部分以斜线标出"));

  const wxImage shot = Screenshot("damaged");
  // A good tile in the bottom row of a strip that holds bad tiles too.
  for (const wxPoint& good : {wxPoint(100, 100), wxPoint(1900, 100), wxPoint(100, 3 * 256 + 100)}) {
    const wxColour c = ScreenColour(shot, ClientOf(good.x, good.y));
    EXPECT_EQ(c.Red(), 100) << good.x << "," << good.y;
    EXPECT_EQ(c.Green(), 50) << good.x << "," << good.y;
    EXPECT_EQ(c.Blue(), 20) << good.x << "," << good.y;
  }
  // The lost tiles: the hatch's colours only, never black as if data.
  int hatched = 0;
  for (int x = 40; x < 2048; x += 97) {
    const wxColour c = ScreenColour(shot, ClientOf(x, 1800));
    const bool magenta = c.Red() == 255 && c.Green() == 0 && c.Blue() == 255;
    const bool dark = c.Red() == 40 && c.Green() == 40 && c.Blue() == 40;
    EXPECT_TRUE(magenta || dark) << x << ": " << c.GetAsString(wxC2S_HTML_SYNTAX);
    hatched += magenta;
  }
  EXPECT_GT(hatched, 0) << "a hatch, not a flat colour";

  // Shown whole, not cut to the width of the pane's own label.
  pw::CRibbonStatusBar* bar = Frame()->GetRibbonStatusBar();
  wxRect field;
  ASSERT_TRUE(bar->GetFieldRect(0, field));
  EXPECT_GE(field.width, bar->GetTextExtent(PaneText()).x + 8) << "bar " << bar->GetClientSize().x;
  // The news is the viewer's: the tools layout shows the pane's own text,
  // and the viewer the news again.
  Frame()->ActivateRibbonCategory(2);
  EXPECT_EQ(PaneText(), statusBefore);
  ASSERT_TRUE(bar->GetFieldRect(0, field));
  EXPECT_LT(field.width, bar->GetTextExtent(wxString::FromUTF8("影像部分损坏：无法读取的部分以斜线标出")).x);
  Frame()->ActivateRibbonCategory(1);
  EXPECT_EQ(PaneText(), wxString::FromUTF8("影像部分损坏：无法读取的部分以斜线标出"));
  Settle();

  // The next image is whole: the pane says what it said before, and no
  // box comes.
  Messages().clear();
  OpenThroughDialog(g_rgb);
  EXPECT_EQ(PaneText(), statusBefore);
  EXPECT_TRUE(Messages().empty());
}

TEST(ViewerDamage, AFileThatGivesNothingIsAFailedOpen) {
  // One tile, cut in the middle of its bytes.
  const std::string cut = CutTiledRaster("nothing", 256, 1, 0.6);
  ASSERT_FALSE(cut.empty());
  OpenThroughDialog(g_rgb);
  Messages().clear();
  OpenThroughDialog(cut);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(Messages()[0].Contains(wxString::FromUTF8("无法打开文档"))) << Messages()[0];
  EXPECT_TRUE(Messages()[0].Contains("block")) << "GDAL's reason: " << Messages()[0];
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200) << "the image shown before stays";
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
}

// A tiled file cut right after its header: not one tile is there, and the
// reason names the first one the file misses (the top-left tile), not
// whichever strip of the opening happened to fail first.
TEST(ViewerDamage, TheReasonNamesTheFirstMissingBlock) {
  const std::string plain = g_dir->File("header_plain.tif"), cut = g_dir->File("header.tif");
  pwtest::WriteRaster(plain, 2048, 2048, 1, GDT_Byte, [](int, int, int) { return 60; });
  ASSERT_EQ(pwtest::Run("gdal_translate -q -co TILED=YES '" + plain + "' '" + cut + "'"), 0);
  GDALDatasetH ds = GDALOpen(cut.c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  const char* first = GDALGetMetadataItem(GDALGetRasterBand(ds, 1), "BLOCK_OFFSET_0_0", "TIFF");
  ASSERT_NE(first, nullptr);
  const off_t header = off_t(std::stoll(first));
  GDALClose(ds);
  ASSERT_EQ(::truncate(cut.c_str(), header), 0);
  OpenThroughDialog(g_rgb);
  Messages().clear();
  OpenThroughDialog(cut);
  ASSERT_EQ(Messages().size(), 1u);
  const std::string told = Messages()[0].utf8_string();
  EXPECT_NE(told.find("无法打开文档"), std::string::npos) << told;
  std::smatch block;
  ASSERT_TRUE(std::regex_search(told, block, std::regex("block (\\d+)|X offset (\\d+), Y offset (\\d+)")))
      << told;
  for (size_t k = 1; k < block.size(); ++k) {
    if (block[k].matched) {
      EXPECT_EQ(block[k].str(), "0") << told;
    }
  }
}

}  // namespace
}  // namespace viewergui
