// The window closed, or the program ended by the session, while an 8-bit
// conversion runs: the program ends at once, with its settings saved and
// nothing of the conversion's output left behind, whether the conversion
// sees the cancel or sits inside a call that does not look at it.
#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <tuple>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfApp.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "gui_fixture.h"
#include "tests/app/conversion_hold.h"
#include "tests/raster/fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

// Every name in the folder.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ConvertClose : public GuiTest,
                     public ::testing::WithParamInterface<std::tuple<std::string, bool>> {};

TEST_P(ConvertClose, EndsPromptlyAndLeavesNothing) {
  const std::string how = std::get<0>(GetParam());
  const bool heedsCancel = std::get<1>(GetParam());
  const std::string images = folder + "/images";
  std::filesystem::create_directories(images);
  const std::string input = images + "/big16.tif";
  // 12 MB of 16-bit samples: read in two slices of about 8 MB.
  pwtest::WriteRaster(input, 3000, 2000, 1, GDT_UInt16,
                      [](int x, int t, int) { return 100 + x * 3 + t * 5; });
  int ends = 0;
  CPixelwharfDoc::SetUnfinishedConversionExit([&] { ++ends; });

  wxArrayString args;
  args.push_back(wxString::FromUTF8(input));
  ASSERT_NE(Start(args), nullptr);
  CPixelwharfDoc* doc = PwApp().GetDocument();
  WaitFor([&] { return !doc->GetPath().empty(); });
  ASSERT_FALSE(doc->GetPath().empty()) << "the raster never opened";

  pwtest::Hold hold(2, [] { Pump(2); }, heedsCancel);
  dialogAnswers.push_back(wxString::FromUTF8(images + "/big16_8.tif").ToStdWstring());
  frame->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  ASSERT_TRUE(hold.WaitHeld());
  ASSERT_GT(Names(images).size(), 2u) << "the output is being written";

  const UiThreadClock closing;
  Stop(how);
  EXPECT_LE(closing.Elapsed().count(), pwtest::kLongestUiWait.count()) << "the window took that long to close";
  EXPECT_EQ(ends, heedsCancel ? 0 : 1) << "an unfinished conversion ends the program itself";
  EXPECT_EQ(Names(images), (std::vector<std::string>{"big16.tif", "big16.tif.czb"}));
  EXPECT_NE(IniValue("CAT_INDEX"), -999) << "the settings were saved first";
  EXPECT_TRUE(messages.empty());

  // The thread let go of goes on and removes what it would have written.
  hold.Release();
  ASSERT_TRUE(hold.WaitLeft());
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (Names(images).size() > 2 && Clock::now() < end) Pump(2);
  EXPECT_EQ(Names(images), (std::vector<std::string>{"big16.tif", "big16.tif.czb"}));
  CPixelwharfDoc::SetUnfinishedConversionExit({});
}

INSTANTIATE_TEST_SUITE_P(Ways, ConvertClose,
                         ::testing::Combine(::testing::Values(std::string("close"), std::string("sigterm")),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::get<0>(info.param) +
                                  (std::get<1>(info.param) ? "_Cancellable" : "_Uninterruptible");
                         });

}  // namespace
