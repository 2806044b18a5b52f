// A region the file will not give while the viewer zooms into it: the
// window keeps the overview's picture there and the status bar says why.
#include <gdal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "tests/app/viewer_gui.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

TEST(ViewerReread, AnUnreadableRegionKeepsTheOverviewAndSaysSo) {
  pwtest::ScratchDir dir;
  const std::string path = dir.File("wide.tif");
  // Wider than the overview's limit, so a close look reads the file.
  pwtest::WriteRaster(path, 12000, 600, 1, GDT_Byte,
                      [](int x, int, int) { return x < 6000 ? 60 : 180; }, "GTiff", {},
                      {"TILED=YES"});
  OpenThroughDialog(path);
  pw::ImageRenderer* r = View()->GetRenderer();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->ImageWidth(), 12000);
  ASSERT_EQ(::truncate(path.c_str(), 600), 0);  // the pixels are gone from under it
  const wxPoint centre = ClientOf(6000, 300);
  for (int i = 0; i < 200 && r->Scale() <= r->OverviewScale(); ++i)
    Mouse(wxEVT_MOUSEWHEEL, centre.x, centre.y, 120);
  ASSERT_GT(r->Scale(), r->OverviewScale());
  Settle();
  EXPECT_EQ(Frame()->GetStatusElement(0)->GetText(),
            wxString::FromUTF8("无法读取这一区域的影像，显示的是概览"));
  const wxImage shot = Screenshot("unreadable_region");
  EXPECT_EQ(ScreenColour(shot, wxPoint(centre.x - 40, centre.y)).Green(), 60)
      << "the overview's picture, not the background";
  EXPECT_EQ(ScreenColour(shot, wxPoint(centre.x + 40, centre.y)).Green(), 180);

  // Back out to where the overview is sharp enough: that re-read reads
  // nothing from the file and succeeds, and the status bar's word goes.
  for (int i = 0; i < 200 && r->Scale() > r->OverviewScale(); ++i)
    Mouse(wxEVT_MOUSEWHEEL, centre.x, centre.y, -120);
  ASSERT_LE(r->Scale(), r->OverviewScale());
  Settle();
  EXPECT_TRUE(r->Ready());
  EXPECT_NE(Frame()->GetStatusElement(0)->GetText(),
            wxString::FromUTF8("无法读取这一区域的影像，显示的是概览"));
}

}  // namespace
}  // namespace viewergui
