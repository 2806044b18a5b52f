// Opening a large raster: the reading runs off the UI thread, so the window
// keeps its timers and paints, shows how far the reading has come, and the
// opening can be cancelled or the program closed meanwhile.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <wx/timer.h>

#include "app/MainFrame.h"
#include "app/PixelwharfDoc.h"
#include "app/PixelwharfView.h"
#include "app/StatusBar.h"
#include "tests/app/viewer_gui.h"
#include "tests/raster/fixtures.h"

namespace viewergui {
namespace {

using Clock = std::chrono::steady_clock;

// A 20000 x 20000 tiled 16-bit GeoTIFF in $TMPDIR (sparse: no disk, but
// 800 MB of samples to read), removed afterwards.
class LargeRaster {
 public:
  LargeRaster() {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pw-viewer-large-" +
            std::to_string(getpid()) + ".tif";
    ok_ = pwtest::Run("gdal_create -q -of GTiff -ot UInt16 -outsize 20000 20000 "
                      "-co TILED=YES -co SPARSE_OK=TRUE '" + path_ + "'") == 0;
  }
  ~LargeRaster() {
    std::remove(path_.c_str());
    std::remove((path_ + ".czb").c_str());
  }
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool ok_ = false;
};

bool Opening() { return View()->IsOpening(); }

// The longest wait between two of the given moments.
Clock::duration LongestGap(std::vector<Clock::time_point> moments) {
  std::sort(moments.begin(), moments.end());
  Clock::duration longest{};
  for (size_t i = 1; i < moments.size(); ++i) longest = std::max(longest, moments[i] - moments[i - 1]);
  return longest;
}

TEST(ViewerOpen, ALargeOpenLeavesTheUiThreadFree) {
  OpenThroughDialog(g_rgb);
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  std::vector<Clock::time_point> ticks;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ticks.push_back(Clock::now()); });
  int paints = 0;
  std::vector<int> positions;
  auto onPaint = [&](wxPaintEvent& event) {
    ++paints;
    positions.push_back(Frame()->GetProgressBar()->GetPos());
    event.Skip();
  };
  View()->Bind(wxEVT_PAINT, onPaint);
  timer.Start(20);
  const Clock::time_point begin = Clock::now();
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  // Something asks for a repaint all the time, as a window dragged over
  // the viewer would.
  while (Opening() && Clock::now() - begin < std::chrono::seconds(120)) {
    View()->Refresh(false);
    Pump(20ms);
  }
  const Clock::time_point end = Clock::now();
  timer.Stop();
  View()->Unbind(wxEVT_PAINT, onPaint);
  ticks.push_back(begin);
  ticks.push_back(end);

  EXPECT_GE(end - begin, std::chrono::milliseconds(1000))
      << "the file must take a while to read, or this proves nothing";
  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(LongestGap(ticks));
  EXPECT_LE(gap.count(), 250) << "the UI thread's timer waited that long during the open";
  EXPECT_GT(paints, 10) << "the window painted while the file was read";
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_TRUE(std::any_of(positions.begin(), positions.end(), [](int p) { return p > 0 && p < 1000; }))
      << "the gauge showed the reading's progress";

  Settle();
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 20000);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(large.path()).ToStdWstring());
  const pw::StatusProgressBar* bar = Frame()->GetProgressBar();
  EXPECT_EQ(bar->GetRangeMax(), 1000);
  EXPECT_EQ(bar->GetPos(), 1000) << "the gauge ends full";
}

// Esc stops an opening at once; the image shown before stays, quietly.
TEST(ViewerOpen, EscapeCancelsALargeOpen) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  Pump(300ms);
  ASSERT_TRUE(Opening()) << "still reading";
  wxKeyEvent escape(wxEVT_KEY_DOWN);
  escape.m_keyCode = WXK_ESCAPE;
  escape.SetEventObject(View());
  const Clock::time_point pressed = Clock::now();
  View()->GetEventHandler()->ProcessEvent(escape);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
  EXPECT_LT(took.count(), 1000) << "the reading went on after Esc";
  EXPECT_FALSE(Opening());
  Settle();
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 200);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_rgb).ToStdWstring());
  EXPECT_TRUE(Messages().empty());
}

// A second opening while the first still reads takes its place.
TEST(ViewerOpen, ANewOpeningReplacesOneStillReading) {
  OpenThroughDialog(g_rgb);
  Messages().clear();
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(large.path())));
  Pump(200ms);
  ASSERT_TRUE(Opening());
  ASSERT_TRUE(Frame()->OpenDocumentFile(wxString::FromUTF8(g_u16)));
  Settle();
  EXPECT_FALSE(Opening());
  ASSERT_NE(View()->GetRenderer(), nullptr);
  EXPECT_EQ(View()->GetRenderer()->ImageWidth(), 300);
  EXPECT_EQ(Doc()->GetPath(), wxString::FromUTF8(g_u16).ToStdWstring());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Frame()->GetProgressBar()->GetPos(), 1000) << "the gauge ends full";
}

// Started on the large raster, the real program maps its window at once,
// and ends promptly when the session ends it in the middle of the reading.
TEST(ViewerOpen, StartedOnALargeRasterTheWindowMapsAtOnce) {
  LargeRaster large;
  ASSERT_TRUE(large.ok());
  pwtest::ScratchDir home;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("HOME", home.Path().c_str(), 1);
    setenv("PIXELWHARF_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.Path() + "/.config").c_str(), 1);
    execl(PW_PIXELWHARF_EXE, "pixelwharf", large.path().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const Clock::time_point started = Clock::now();
  const std::string search =
      "xdotool search --onlyvisible --pid " + std::to_string(pid) + " >/dev/null 2>&1";
  bool mapped = false;
  while (!mapped && Clock::now() - started < std::chrono::seconds(10)) {
    mapped = std::system(search.c_str()) == 0;
    if (!mapped) std::this_thread::sleep_for(50ms);
  }
  const auto mapTime =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  EXPECT_TRUE(mapped);
  EXPECT_LT(mapTime.count(), 2500) << "the window mapped only after the file was read";
  std::this_thread::sleep_for(300ms);
  kill(pid, SIGTERM);
  const Clock::time_point asked = Clock::now();
  int status = 0;
  bool ended = false;
  while (!ended && Clock::now() - asked < std::chrono::seconds(10)) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(20ms);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  const auto closeTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
  EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(closeTime.count(), 2000) << "closing waited for the reading";
}

}  // namespace
}  // namespace viewergui
