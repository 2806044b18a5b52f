// The 8-bit conversion in the real window: it runs on a thread of its own,
// so the window keeps its timers while the gauge follows the rows; Esc
// cancels it without a trace; a failure inside it is a message, not the
// end of the program; and a paletted raster keeps its colours. Closing
// mid-conversion: convert_close_test.cpp.
//
// The conversion is held at known points through its checkpoint; nothing
// here guesses how long a file takes to convert.
#include <gdal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <wx/timer.h>

#include "app/CommandIds.h"
#include "app/Dialogs.h"
#include "app/MainFrame.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "raster/EightBitConversion.h"
#include "tests/app/conversion_hold.h"
#include "tests/app/ui_ticks.h"
#include "tests/app/viewer_gui.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

using Clock = std::chrono::steady_clock;
using pwtest::Hold;

// Answers the save dialog with `target`.
void AnswerSave(const std::string& target) {
  pw::SetFileDialogHook([target](const pw::FileDialogRequest&) {
    return wxString::FromUTF8(target).ToStdWstring();
  });
}

// Runs the event loop until the document's conversion has ended.
bool WaitConversionEnded() {
  const auto end = Clock::now() + std::chrono::seconds(120);
  while (Doc()->IsConverting() && Clock::now() < end) Pump(10ms);
  return !Doc()->IsConverting();
}

// What a conversion leaves in a folder besides the given files: working
// files of an output, anything else new.
std::vector<std::string> Leftovers(const std::string& folder, const std::vector<std::string>& known) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) found.push_back(name);
  }
  return found;
}

// A 16-bit image of 3000 x 2000 pixels: 12 MB of samples, read in slices
// of about 8 MB, so the conversion stops at two checkpoints at least.
class ConvertFolder {
 public:
  ConvertFolder() {
    input = dir.File("big16.tif");
    pwtest::WriteRaster(input, 3000, 2000, 1, GDT_UInt16,
                        [](int x, int t, int) { return 100 + x * 3 + t * 5; });
  }
  pwtest::ScratchDir dir;
  std::string input;
};

TEST(ViewerConvert, RunsOffTheUiThreadWithTheGaugeFollowing) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  Messages().clear();
  const std::string out = folder.dir.File("big16_8.tif");
  Hold hold(2, [] { Pump(10ms); });
  UiTicks ticks;
  AnswerSave(out);
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  ASSERT_TRUE(Doc()->IsConverting()) << "the command returned with the conversion still going";
  ASSERT_TRUE(hold.WaitHeld());
  // Held after the first slice: the gauge shows part of the work, and the
  // command stays disabled meanwhile.
  const int heldRows = hold.HeldAtRows();
  // The thread's report reaches the gauge through the event queue.
  const auto deadline = Clock::now() + 30s;
  while (Frame()->GetProgressBar()->GetPos() != heldRows && Clock::now() < deadline) Pump(10ms);
  EXPECT_GT(heldRows, 0);
  EXPECT_LT(heldRows, 2000);
  EXPECT_EQ(Frame()->GetProgressBar()->GetRangeMax(), 2000);
  EXPECT_EQ(Frame()->GetProgressBar()->GetPos(), heldRows) << "the gauge follows the rows";
  Frame()->RefreshCommandStates();
  EXPECT_FALSE(Frame()->IsCommandEnabled(pw::cmd::ID_BUTTON_CVT2EIGHT));
  EXPECT_TRUE(Messages().empty());
  hold.Release();
  ASSERT_TRUE(WaitConversionEnded());
  Pump(50ms);
  const auto gap = ticks.LongestGap();
  EXPECT_LE(gap.count(), kLongestUiWait.count()) << "the UI thread's timer waited that long during the conversion";
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], wxString::FromUTF8("任务完成！"));
  EXPECT_EQ(Frame()->GetProgressBar()->GetPos(), 2000) << "the gauge ends full";
  int w = 0, h = 0, type = 0;
  const std::vector<double> got = pwtest::ReadBand(out, 0, &w, &h, &type);
  EXPECT_EQ(w, 3000);
  EXPECT_EQ(h, 2000);
  EXPECT_EQ(type, GDT_Byte);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(*std::max_element(got.begin(), got.end()), 254);
  Frame()->RefreshCommandStates();
  EXPECT_TRUE(Frame()->IsCommandEnabled(pw::cmd::ID_BUTTON_CVT2EIGHT));
}

// The first conversion of a 16-bit image counts its stretch table before
// any row is written: the window's gauge moves through that pass, inside
// its first third, rather than standing still until the rows come.
TEST(ViewerConvert, TheGaugeMovesThroughTheStretchTablePass) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  Messages().clear();
  ASSERT_FALSE(pwtest::Exists(folder.input + ".czb")) << "the table is stored already";
  // The pass's thread is held at its 2nd and its 8th checkpoint.
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    int arrivals = 0, held = 0, released = 0;
    std::vector<int> rows;
  };
  auto s = std::make_shared<State>();
  pw::SetStretchPassCheckpoint([s](int rows, const std::atomic<bool>*) {
    std::unique_lock<std::mutex> lock(s->mutex);
    const int arrival = ++s->arrivals;
    if (arrival != 2 && arrival != 8) return;
    s->rows.push_back(rows);
    const int hold = ++s->held;
    s->cv.notify_all();
    s->cv.wait_for(lock, std::chrono::seconds(60), [&] { return s->released >= hold; });
  });
  const auto heldAt = [s](int hold) {
    std::lock_guard<std::mutex> lock(s->mutex);
    return s->held >= hold ? s->rows[size_t(hold - 1)] : -1;
  };
  const auto release = [s](int hold) {
    std::lock_guard<std::mutex> lock(s->mutex);
    s->released = hold;
    s->cv.notify_all();
  };
  AnswerSave(folder.dir.File("pass_8.tif"));
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  std::vector<int> gauge;
  for (int hold : {1, 2}) {
    SCOPED_TRACE(hold);
    ASSERT_TRUE(WaitFor([&] { return heldAt(hold) >= 0; }, 60s));
    // The thread's report reaches the gauge through the event queue.
    const int rows = heldAt(hold);
    WaitFor([&] { return Frame()->GetProgressBar()->GetPos() == rows; }, 60s);
    EXPECT_EQ(Frame()->GetProgressBar()->GetRangeMax(), 2000);
    gauge.push_back(Frame()->GetProgressBar()->GetPos());
    EXPECT_EQ(gauge.back(), rows) << "the gauge follows the pass";
    EXPECT_GT(gauge.back(), 0);
    EXPECT_LT(gauge.back(), 2000 / 3) << "the pass takes the first third";
    release(hold);
  }
  EXPECT_LT(gauge[0], gauge[1]) << "the gauge moved on through the pass";
  ASSERT_TRUE(WaitConversionEnded());
  pw::SetStretchPassCheckpoint({});
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], wxString::FromUTF8("任务完成！"));
}

// Esc stops a conversion at once: no message, nothing left in the folder,
// and a file already under the target's name untouched.
TEST(ViewerConvert, EscapeCancelsAndLeavesNothingBehind) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  Messages().clear();
  const std::string out = folder.dir.File("kept.tif");
  pwtest::Put(out, "an earlier file");
  const std::vector<std::string> before = {"big16.tif", "big16.tif.czb", "kept.tif"};
  Hold hold(2, [] { Pump(10ms); });
  AnswerSave(out);
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  ASSERT_TRUE(hold.WaitHeld());
  wxKeyEvent escape(wxEVT_KEY_DOWN);
  escape.m_keyCode = WXK_ESCAPE;
  escape.SetEventObject(View());
  // Time the machine kept this thread from a processor is not Esc's.
  const Clock::time_point pressed = Clock::now();
  const auto queuedBefore = pwtest::RunQueueTime();
  View()->GetEventHandler()->ProcessEvent(escape);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed -
                                                                          (pwtest::RunQueueTime() - queuedBefore));
  EXPECT_LT(took.count(), kLongestUiWait.count()) << "Esc waited for the conversion";
  ASSERT_TRUE(WaitConversionEnded());
  Pump(100ms);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_TRUE(pwtest::Contents(out) == "an earlier file") << "the file under the target's name changed";
  EXPECT_EQ(Leftovers(folder.dir.Path(), before), std::vector<std::string>{});
  EXPECT_EQ(Frame()->GetProgressBar()->GetPos(), 0) << "the gauge is cleared";
  EXPECT_NE(View()->GetRenderer(), nullptr) << "the image stays shown";
}

// The same Esc with the focus on the frame, as after the save dialog.
TEST(ViewerConvert, EscapeWithTheFocusOnTheFrameCancels) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  Messages().clear();
  Hold hold(2, [] { Pump(10ms); });
  AnswerSave(folder.dir.File("out.tif"));
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  ASSERT_TRUE(hold.WaitHeld());
  PressEscapeOnTheFrame();
  ASSERT_TRUE(WaitConversionEnded());
  EXPECT_FALSE(pwtest::Exists(folder.dir.File("out.tif"))) << "the conversion went on";
  EXPECT_TRUE(Messages().empty());
}

// The first conversion of a 16-bit image whose stretch table is not stored
// counts the table first: Esc stops that pass as well, and nothing is left
// behind (no output, no table).
TEST(ViewerConvert, EscapeStopsTheStretchTablePass) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  Messages().clear();
  const std::string table = folder.input + ".czb";
  ASSERT_FALSE(pwtest::Exists(table)) << "the table is stored already";
  const std::string out = folder.dir.File("out.tif");
  Hold hold(1, [] { Pump(10ms); }, true, pwtest::HoldPoint::InStretchPass);
  AnswerSave(out);
  Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
  pw::SetFileDialogHook({});
  ASSERT_TRUE(hold.WaitHeld());
  PressEscapeOnTheFrame();
  ASSERT_TRUE(WaitConversionEnded());
  EXPECT_FALSE(pwtest::Exists(table)) << "the table pass went on after Esc";
  EXPECT_FALSE(pwtest::Exists(out)) << "the conversion went on";
  EXPECT_TRUE(Messages().empty());
}

// A fault thrown inside the conversion's thread is a failed conversion with
// its reason; the window stays, and so does the image.
TEST(ViewerConvert, FaultsInTheThreadAreReportedAndTheWindowStays) {
  ConvertFolder folder;
  OpenThroughDialog(folder.input);
  const struct {
    std::function<void()> fault;
    const char* message;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, "转换失败：内存不足"},
      {[] { throw std::runtime_error("磁盘出错"); }, "转换失败：磁盘出错"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Messages().clear();
    Hold hold(1, [] { Pump(10ms); });
    hold.Throw(c.fault);
    AnswerSave(folder.dir.File("faulty.tif"));
    Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
    pw::SetFileDialogHook({});
    ASSERT_TRUE(WaitConversionEnded());
    Pump(50ms);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], wxString::FromUTF8(c.message));
    EXPECT_FALSE(pwtest::Exists(folder.dir.File("faulty.tif")));
    EXPECT_EQ(Leftovers(folder.dir.Path(), {"big16.tif", "big16.tif.czb"}),
              std::vector<std::string>{});
    ASSERT_NE(Frame(), nullptr);
    EXPECT_TRUE(Frame()->IsShown());
    EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 3000);
  }
}

// A paletted GeoTIFF written by GDAL converts with its colours: red and
// blue classes stay red and blue, not grey indices 0 and 1.
TEST(ViewerConvert, PalettedGeoTiffKeepsItsColours) {
  pwtest::ScratchDir dir;
  const std::string map = dir.File("classes.tif");
  pwtest::WriteRaster(map, 80, 40, 1, GDT_Byte, [](int x, int, int) { return x < 40 ? 0 : 1; });
  pwtest::SetPalette(map, {{255, 0, 0, 255}, {0, 0, 255, 255}});
  OpenThroughDialog(map);
  for (const char* name : {"classes_8.tif", "classes_8.jpg"}) {
    SCOPED_TRACE(name);
    Messages().clear();
    const std::string out = dir.File(name);
    AnswerSave(out);
    Frame()->DoCommand(pw::cmd::ID_BUTTON_CVT2EIGHT);
    pw::SetFileDialogHook({});
    ASSERT_TRUE(WaitConversionEnded());
    Pump(50ms);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], wxString::FromUTF8("任务完成！"));
    // The colours as GDAL reads them: through the colour table, or the
    // three bands.
    const size_t left = 20 * 80 + 10, right = 20 * 80 + 70;
    std::vector<std::vector<double>> colour(3);
    GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    if (GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1))) {
      const std::vector<double> indices = pwtest::ReadBand(out, 0);
      ASSERT_EQ(indices.size(), 80u * 40u);
      for (const double index : indices) {
        const GDALColorEntry* e = GDALGetColorEntry(table, int(index));
        ASSERT_NE(e, nullptr);
        colour[0].push_back(e->c1);
        colour[1].push_back(e->c2);
        colour[2].push_back(e->c3);
      }
    } else {
      ASSERT_EQ(GDALGetRasterCount(ds), 3) << "bare indices";
      for (int b = 0; b < 3; ++b) colour[size_t(b)] = pwtest::ReadBand(out, b);
    }
    GDALClose(ds);
    EXPECT_NEAR(colour[0][left], 255, 8);
    EXPECT_NEAR(colour[2][left], 0, 8);
    EXPECT_NEAR(colour[0][right], 0, 8);
    EXPECT_NEAR(colour[2][right], 255, 8);
  }
}

}  // namespace
}  // namespace viewergui
