// The pixel readout of the file's own samples never reads on the UI
// thread: the read is held at a known point while the UI thread's timer
// keeps its pace, and the value shows once the read lets go.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <cstdio>

#include <wx/app.h>

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/PixelwharfView.h"
#include "tests/app/ui_ticks.h"
#include "tests/app/viewer_gui.h"

namespace viewergui {
namespace {

// The motion alone, without the shared helper's wait for the value.
void MoveOnly(wxPoint p) {
  wxMouseEvent e(wxEVT_MOTION);
  e.SetEventObject(View());
  e.SetPosition(p);
  View()->GetEventHandler()->ProcessEvent(e);
}

TEST(ViewerReadout, TheFilesValuesAreReadOffTheUiThreadAndShownWhenTheyArrive) {
  OpenThroughDialog(g_u16);
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
  const wxPoint before = ClientOf(10, 10);
  Mouse(wxEVT_MOTION, before.x, before.y);
  ASSERT_EQ(Pane(1), "R=1230 G=1230 B=1230");
  {
    HookGate gate(pw::ImageRenderer::SampleReadTestHook());
    UiTicks ticks;
    MoveOnly(ClientOf(100, 50));
    ASSERT_TRUE(gate.WaitHeld()) << "the readout asked for the pixel";
    ticks.PumpTicks(5);
    EXPECT_LE(ticks.LongestGap().count(), kLongestUiWait.count()) << "the UI thread waited for the read";
    EXPECT_TRUE(View()->IsReadoutPending());
    EXPECT_EQ(Pane(1), "R=1230 G=1230 B=1230") << "nothing shown before it is read";
    // A later move overtakes the held read: only its value shows.
    MoveOnly(ClientOf(20, 30));
    gate.Release();
    ASSERT_TRUE(WaitFor([] { return !View()->IsReadoutPending(); }, 60s));
    EXPECT_EQ(Pane(0), "X=20.000000 Y=30.000000");
    EXPECT_EQ(Pane(1), "R=1490 G=1490 B=1490");
    Settle();
    gate.Remove();
  }
  // Back on the pixel last read: from the cache, at once.
  MoveOnly(ClientOf(10, 10));
  MoveOnly(ClientOf(20, 30));
  Mouse(wxEVT_MOTION, ClientOf(20, 30).x, ClientOf(20, 30).y);
  EXPECT_EQ(Pane(1), "R=1490 G=1490 B=1490");
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
}

// The readout of g_u16 at image pixel (x, y from the top).
wxString ValueOf(int x, int y) {
  const int v = 1000 + x * 20 + y * 3;
  return wxString::Format("R=%d G=%d B=%d", v, v, v);
}

// The two panes agree: the value shown is the one at the position shown.
::testing::AssertionResult PanesAgree() {
  double x = 0, y = 0;
  if (std::sscanf(Pane(0).utf8_string().c_str(), "X=%lf Y=%lf", &x, &y) != 2)
    return ::testing::AssertionFailure() << "no position: " << Pane(0);
  if (Pane(1) != ValueOf(int(x), int(y)))
    return ::testing::AssertionFailure() << Pane(0) << " shows " << Pane(1) << ", not " << ValueOf(int(x), int(y));
  return ::testing::AssertionSuccess();
}

// Holds the sample reader's first and second reads, each until released.
class TwoReads {
 public:
  explicit TwoReads(std::function<void()>& hook) : hook_(hook) {
    hook_ = [this] {
      std::unique_lock<std::mutex> lock(mutex_);
      const int read = arrived_++;
      cv_.notify_all();
      if (read < 2) cv_.wait_for(lock, std::chrono::seconds(60), [&] { return released_ > read; });
    };
  }
  ~TwoReads() {
    Release(2);
  }
  bool WaitArrived(int reads) {
    return WaitFor([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return arrived_ >= reads;
    }, 60s);
  }
  void Release(int reads) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = std::max(released_, reads);
    }
    cv_.notify_all();
  }
  // Only while no thread can be calling it.
  void Remove() { hook_ = nullptr; }

 private:
  std::function<void()>& hook_;
  std::mutex mutex_;
  std::condition_variable cv_;
  int arrived_ = 0, released_ = 0;
};

// Along a column the value is another pixel's at every row: neither the
// last value read for the column nor an answer overtaken by a later move
// is ever shown under the pointer's new position, not even for a moment.
TEST(ViewerReadout, EveryPositionShowsItsOwnValueAlongAColumn) {
  OpenThroughDialog(g_u16);
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
  Mouse(wxEVT_MOTION, ClientOf(40, 10).x, ClientOf(40, 10).y);
  ASSERT_EQ(Pane(1), ValueOf(40, 10));
  // Down the same column: the value last read there is not this row's.
  MoveOnly(ClientOf(40, 60));
  EXPECT_TRUE(PanesAgree());
  ASSERT_TRUE(WaitFor([] { return !View()->IsReadoutPending(); }, 60s));
  EXPECT_EQ(Pane(0), "X=40.000000 Y=60.000000");
  EXPECT_EQ(Pane(1), ValueOf(40, 60));
  Settle();
  {
    TwoReads reads(pw::ImageRenderer::SampleReadTestHook());
    MoveOnly(ClientOf(40, 90));
    ASSERT_TRUE(reads.WaitArrived(1));
    // Overtaken while it is read: its answer comes, then the later one's.
    MoveOnly(ClientOf(40, 120));
    reads.Release(1);
    // The second read has begun: the first one's answer is on the window's
    // queue. It is delivered while the second is still held.
    ASSERT_TRUE(reads.WaitArrived(2));
    wxTheApp->ProcessPendingEvents();
    EXPECT_TRUE(PanesAgree());
    EXPECT_EQ(Pane(1), ValueOf(40, 60)) << "nothing shown before the last move's value is read";
    reads.Release(2);
    ASSERT_TRUE(WaitFor([] { return !View()->IsReadoutPending(); }, 60s));
    EXPECT_EQ(Pane(0), "X=40.000000 Y=120.000000");
    EXPECT_EQ(Pane(1), ValueOf(40, 120));
    Settle();
    reads.Remove();
  }
  Frame()->DoCommand(pw::cmd::ID_CHECK_REALPIXVALUE);
}

}  // namespace
}  // namespace viewergui
